// SPDX-License-Identifier: MIT
#include "ModalWatcher.h"
#include "WindowFixture.h"

#include "shell/qt/FolderPicker.h"
#include "support/TempDir.h"

#include <QComboBox>
#include <QDir>
#include <QLineEdit>
#include <QPushButton>
#include <QStorageInfo>
#include <QTreeWidget>

namespace zelvor {
namespace {

QTreeWidget* folders(FolderPicker& picker)
{
    return picker.findChild<QTreeWidget*>(QStringLiteral("dir_main"));
}

void clickFolder(FolderPicker& picker, const QString& name, bool twice)
{
    const auto items = folders(picker)->findItems(name, Qt::MatchExactly | Qt::MatchRecursive);
    ASSERT_EQ(items.size(), 1) << name.toStdString();
    const QPoint centre = folders(picker)->visualItemRect(items[0]).center();
    QTest::mouseClick(folders(picker)->viewport(), Qt::LeftButton, {}, centre);
    if (twice)
        QTest::mouseDClick(folders(picker)->viewport(), Qt::LeftButton, {}, centre);
}

void press(FolderPicker& picker, const char* button)
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
        click("Cmd_Start");
    }

    void TearDown() override { QDir::setCurrent(previous); }

    /** Clicks the server root's Browse and works the picker while it is open. */
    void browse(const std::function<void(FolderPicker&)>& steps)
    {
        test::ModalWatcher watcher([&](QWidget* modal) {
            auto* picker = qobject_cast<FolderPicker*>(modal);
            ASSERT_NE(picker, nullptr);
            steps(*picker);
        });
        click("Cmd_svrroot_browse");
        EXPECT_EQ(watcher.seen().size(), 1u);
        EXPECT_EQ(watcher.leftOpen(), 0);
    }

    test::TempDir temp;
    QString previous;
    QString start;
    QLineEdit* root = nullptr;
};

TEST_F(BrowseFolder, CancelKeepsTheRootAndOkWithoutOpeningGivesTheStartingFolder)
{
    EXPECT_EQ(window.folderPicker(), nullptr) << "created on first use";
    browse([&](FolderPicker& picker) {
        EXPECT_EQ(picker.windowTitle(), "Paint File Location");
        EXPECT_EQ(picker.size(), QSize(248, 242));
        EXPECT_EQ(picker.parentWidget(), &window);
        press(picker, "cmd_Cancel");
    });
    EXPECT_EQ(root->text(), "/keep");
    EXPECT_FALSE(warningShown());

    browse([](FolderPicker& picker) { press(picker, "cmd_OK"); });
    EXPECT_EQ(root->text(), QDir::toNativeSeparators(start));
    EXPECT_EQ(settings.ServerRoot, start.toStdString());
    EXPECT_TRUE(warningShown());
}

TEST_F(BrowseFolder, ListsAncestorsAndVisibleSubfolders)
{
    browse([&](FolderPicker& picker) {
        QStringList shown;
        for (QTreeWidgetItemIterator it(folders(picker)); *it; ++it) {
            if (!folders(picker)->visualItemRect(*it).isEmpty())
                shown << (*it)->text(0);
        }
        QStringList expected{QDir::toNativeSeparators(QDir::rootPath())};
        expected << start.split('/', Qt::SkipEmptyParts) << "Music"
                 << "Podcasts";
        EXPECT_EQ(shown, expected);
        press(picker, "cmd_Cancel");
    });
}

TEST_F(BrowseFolder, OpenedFolderIsTakenAndTheNextBrowseStartsThere)
{
    browse([](FolderPicker& picker) {
        clickFolder(picker, "Music", true);
        clickFolder(picker, "Jazz", true);
        press(picker, "cmd_OK");
    });
    EXPECT_EQ(root->text(), start + "/Music/Jazz");
    FolderPicker* first = window.folderPicker();
    browse([&](FolderPicker& picker) {
        EXPECT_EQ(&picker, first);
        EXPECT_EQ(folders(picker)->currentItem()->text(0), "Jazz");
        press(picker, "cmd_Cancel");
    });
}

TEST_F(BrowseFolder, SingleClickOnlyHighlights)
{
    browse([](FolderPicker& picker) {
        clickFolder(picker, "Podcasts", false);
        press(picker, "cmd_OK");
    });
    EXPECT_EQ(root->text(), start);
}

TEST_F(BrowseFolder, DriveRootKeepsItsSeparator)
{
    browse([&](FolderPicker& picker) {
        auto* drives = picker.findChild<QComboBox*>("drv_main");
        EXPECT_EQ(drives->currentData().toString(), QStorageInfo(start).rootPath());
        EXPECT_GE(drives->findData(QStorageInfo(QDir::homePath()).rootPath()), 0);
        emit drives->activated(drives->findData(QDir::rootPath()));
        press(picker, "cmd_OK");
    });
    EXPECT_EQ(root->text(), QDir::toNativeSeparators(QDir::rootPath()));
}

TEST_F(BrowseFolder, ClosingThePickerCountsAsCancelNotAsTheLastAnswer)
{
    browse([](FolderPicker& picker) { press(picker, "cmd_OK"); });
    root->setText(QStringLiteral("/typed"));
    browse([](FolderPicker& picker) { picker.close(); });
    EXPECT_EQ(root->text(), "/typed");
    EXPECT_EQ(window.folderPicker()->Response(), "-1");
}

} // namespace
} // namespace zelvor
