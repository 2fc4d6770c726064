// SPDX-License-Identifier: MIT
#include "ModalWatcher.h"
#include "WindowFixture.h"

#include "shell/FolderPicker.h"
#include "support/TempDir.h"

#include <QComboBox>
#include <QDir>
#include <QLineEdit>
#include <QPushButton>
#include <QStorageInfo>
#include <QTreeWidget>

namespace zelvor {
namespace {

using test::ModalWatcher;

QTreeWidgetItem* folderItem(FolderPicker& picker, const QString& name)
{
    auto* tree = picker.findChild<QTreeWidget*>(QStringLiteral("dir_main"));
    const auto items = tree->findItems(name, Qt::MatchExactly | Qt::MatchRecursive);
    EXPECT_EQ(items.size(), 1) << name.toStdString();
    return items.value(0);
}

QPoint itemCentre(FolderPicker& picker, QTreeWidgetItem* item)
{
    return picker.findChild<QTreeWidget*>(QStringLiteral("dir_main"))
        ->visualItemRect(item)
        .center();
}

void openFolder(FolderPicker& picker, const QString& name)
{
    auto* item = folderItem(picker, name);
    ASSERT_NE(item, nullptr);
    auto* viewport = picker.findChild<QTreeWidget*>(QStringLiteral("dir_main"))->viewport();
    const QPoint centre = itemCentre(picker, item);
    QTest::mouseClick(viewport, Qt::LeftButton, {}, centre);
    QTest::mouseDClick(viewport, Qt::LeftButton, {}, centre);
}

void click(FolderPicker& picker, const char* button)
{
    QTest::mouseClick(picker.findChild<QPushButton*>(QString::fromLatin1(button)), Qt::LeftButton);
}

class BrowseFolder : public test::WindowFixture
{
protected:
    void SetUp() override
    {
        temp.mkdir("Music/Jazz");
        temp.mkdir("Podcasts");
        temp.mkdir(".cache");
        previous = QDir::currentPath();
        ASSERT_TRUE(QDir::setCurrent(QString::fromStdString(temp.str())));
        start = QDir::currentPath();
        WindowFixture::SetUp();
        root = child<QLineEdit>("Txt_Serverroot");
        root->setText(QStringLiteral("/keep"));
        QTest::mouseClick(child<QPushButton>("Cmd_Start"), Qt::LeftButton);
    }

    void TearDown() override { QDir::setCurrent(previous); }

    /** Clicks the server root's Browse and lets `steps` work the picker while it is open. */
    void browse(const std::function<void(FolderPicker&)>& steps)
    {
        ModalWatcher watcher([&](QWidget* modal) {
            auto* picker = qobject_cast<FolderPicker*>(modal);
            ASSERT_NE(picker, nullptr);
            steps(*picker);
        });
        QTest::mouseClick(child<QPushButton>("Cmd_svrroot_browse"), Qt::LeftButton);
        EXPECT_EQ(watcher.seen().size(), 1u);
        EXPECT_EQ(watcher.leftOpen(), 0);
    }

    test::TempDir temp;
    QString previous;
    QString start;
    QLineEdit* root = nullptr;
};

TEST_F(BrowseFolder, CancelKeepsTheServerRoot)
{
    EXPECT_EQ(window.folderPicker(), nullptr) << "the picker is created on first use";
    browse([](FolderPicker& picker) { click(picker, "cmd_Cancel"); });
    EXPECT_EQ(root->text(), "/keep");
    EXPECT_EQ(window.folderPicker()->Response(), "-1");
    EXPECT_FALSE(warningShown());
}

TEST_F(BrowseFolder, OkWithoutOpeningGivesTheStartingFolder)
{
    browse([](FolderPicker& picker) { click(picker, "cmd_OK"); });
    EXPECT_EQ(root->text(), QDir::toNativeSeparators(start));
    EXPECT_EQ(settings.ServerRoot, start.toStdString());
    EXPECT_TRUE(warningShown());
}

TEST_F(BrowseFolder, OpenedFolderIsTakenWithoutTrailingSeparator)
{
    browse([](FolderPicker& picker) {
        openFolder(picker, "Music");
        openFolder(picker, "Jazz");
        click(picker, "cmd_OK");
    });
    EXPECT_EQ(root->text(), start + "/Music/Jazz");
}

TEST_F(BrowseFolder, DriveRootKeepsItsSeparator)
{
    browse([](FolderPicker& picker) {
        openFolder(picker, QDir::toNativeSeparators(QDir::rootPath()));
        click(picker, "cmd_OK");
    });
    EXPECT_EQ(root->text(), QDir::toNativeSeparators(QDir::rootPath()));
}

TEST_F(BrowseFolder, SingleClickOnlyHighlights)
{
    browse([](FolderPicker& picker) {
        auto* item = folderItem(picker, "Podcasts");
        auto* viewport = picker.findChild<QTreeWidget*>("dir_main")->viewport();
        QTest::mouseClick(viewport, Qt::LeftButton, {}, itemCentre(picker, item));
        EXPECT_TRUE(item->isSelected());
        click(picker, "cmd_OK");
    });
    EXPECT_EQ(root->text(), start);
}

TEST_F(BrowseFolder, SecondBrowseReopensWhereTheFirstLeft)
{
    browse([](FolderPicker& picker) {
        openFolder(picker, "Music");
        click(picker, "cmd_OK");
    });
    FolderPicker* first = window.folderPicker();
    EXPECT_FALSE(first->isVisible());
    browse([&](FolderPicker& picker) {
        EXPECT_EQ(&picker, first);
        EXPECT_EQ(picker.currentPath(), start + "/Music");
        auto* tree = picker.findChild<QTreeWidget*>("dir_main");
        EXPECT_EQ(tree->currentItem()->text(0), "Music");
        click(picker, "cmd_Cancel");
    });
    EXPECT_EQ(root->text(), start + "/Music");
}

TEST_F(BrowseFolder, ClosingTheWindowCountsAsCancelNotAsTheLastAnswer)
{
    browse([](FolderPicker& picker) { click(picker, "cmd_OK"); });
    root->setText(QStringLiteral("/typed"));
    browse([](FolderPicker& picker) { picker.close(); });
    EXPECT_EQ(root->text(), "/typed");
    EXPECT_EQ(window.folderPicker()->Response(), "-1");
}

TEST_F(BrowseFolder, ListsAncestorsAndVisibleSubfolders)
{
    browse([&](FolderPicker& picker) {
        auto* tree = picker.findChild<QTreeWidget*>("dir_main");
        QStringList shown;
        for (QTreeWidgetItemIterator it(tree); *it; ++it) {
            if (!tree->visualItemRect(*it).isEmpty())
                shown << (*it)->text(0);
        }
        QStringList expected{QDir::toNativeSeparators(QDir::rootPath())};
        expected << start.split('/', Qt::SkipEmptyParts) << "Music"
                 << "Podcasts";
        EXPECT_EQ(shown, expected);
        click(picker, "cmd_Cancel");
    });
}

TEST_F(BrowseFolder, DriveListMovesTheFolderListToThatDrive)
{
    browse([&](FolderPicker& picker) {
        auto* drives = picker.findChild<QComboBox*>("drv_main");
        EXPECT_EQ(drives->currentData().toString(), QStorageInfo(start).rootPath());
        const int rootDrive = drives->findData(QDir::rootPath());
        ASSERT_GE(rootDrive, 0);
        EXPECT_GE(drives->findData(QStorageInfo(QDir::homePath()).rootPath()), 0);
        emit drives->activated(rootDrive);
        EXPECT_EQ(picker.currentPath(), QDir::rootPath());
        click(picker, "cmd_OK");
    });
    EXPECT_EQ(root->text(), QDir::toNativeSeparators(QDir::rootPath()));
}

TEST_F(BrowseFolder, IsAModalFixedDialogOwnedByTheWindow)
{
    browse([&](FolderPicker& picker) {
        EXPECT_EQ(picker.windowTitle(), "Paint File Location");
        EXPECT_EQ(picker.size(), QSize(248, 242));
        EXPECT_EQ(picker.minimumSize(), picker.maximumSize());
        EXPECT_EQ(picker.parentWidget(), &window);
        EXPECT_TRUE(picker.findChild<QPushButton*>("cmd_OK")->isEnabled());
        click(picker, "cmd_Cancel");
    });
}

} // namespace
} // namespace zelvor
