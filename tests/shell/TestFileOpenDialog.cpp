// SPDX-License-Identifier: MIT
#include "ModalWatcher.h"
#include "WindowFixture.h"

#include "shell/DialogFilter.h"
#include "support/TempDir.h"

#include <QComboBox>
#include <QFileDialog>
#include <QFileSystemModel>
#include <QLineEdit>

namespace zelvor {
namespace {

using test::ModalWatcher;

TEST(DialogFilter, SplitsNamesAndPatternsAndWidensStarDotStar)
{
    const auto entries = parseDialogFilter("Text (*.txt, *.log)|*.txt;*.log|All (*.*)|*.*|Odd|");
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[0].Name, "Text (*.txt, *.log)");
    EXPECT_EQ(entries[0].Patterns, (std::vector<std::string>{"*.txt", "*.log"}));
    EXPECT_EQ(entries[1].Patterns, (std::vector<std::string>{"*"}));
}

/** How a file dialog opened, and the file to choose in it (none: Cancel). */
struct Seen
{
    QString startName;
    QStringList startFiles;
    QStringList filters;
};

class BrowseFile : public test::WindowFixture
{
protected:
    void SetUp() override
    {
        WindowFixture::SetUp();
        child<QLineEdit>("Txt_Winamp_Location")->setText(QStringLiteral("/old/mpd"));
        click("Cmd_Start");
    }

    Seen browse(const char* button, const QString& pick = {})
    {
        Seen seen;
        ModalWatcher watcher([&](QWidget* modal) {
            auto* dialog = qobject_cast<QFileDialog*>(modal);
            ASSERT_NE(dialog, nullptr);
            EXPECT_EQ(dialog->objectName(), "Cdl_Server");
            seen.startName = dialog->findChild<QLineEdit*>("fileNameEdit")->text();
            seen.startFiles = dialog->selectedFiles();
            auto* types = dialog->findChild<QComboBox*>("fileTypeCombo");
            for (int i = 0; i < types->count(); ++i)
                seen.filters << types->itemText(i);
            if (pick.isEmpty())
                return dialog->reject();
            dialog->selectFile(pick);
            static_cast<QDialog*>(dialog)->accept(); // QFileDialog hides its override
        });
        click(button);
        EXPECT_EQ(watcher.seen().size(), 1u);
        EXPECT_EQ(watcher.leftOpen(), 0);
        return seen;
    }

    QString file(const std::string& relative) const
    {
        return QString::fromStdString(temp.write(relative).string());
    }

    test::TempDir temp;
};

TEST_F(BrowseFile, CancelLeavesTheFieldAndChoosingFillsItWithTheFullPath)
{
    const Seen seen = browse("Cmd_WinampLoc_Browse");
    EXPECT_EQ(seen.filters, (QStringList{"Winamp (winamp.exe)", "All Files (*.*)"}));
    EXPECT_EQ(child<QLineEdit>("Txt_Winamp_Location")->text(), "/old/mpd");
    EXPECT_FALSE(warningShown());

    const QString mpd = file("bin/mpd");
    browse("Cmd_WinampLoc_Browse", mpd);
    EXPECT_EQ(settings.WinampLocation, mpd.toStdString());
    EXPECT_TRUE(warningShown());
}

TEST_F(BrowseFile, LogDialogTakesANewFileName)
{
    const QString fresh = QString::fromStdString((temp.path() / "new.log").string());
    EXPECT_EQ(browse("Cmd_Log_Browse", fresh).filters,
              (QStringList{"Text Files (*.txt, *.log)", "All Files (*.*)"}));
    EXPECT_EQ(settings.LogFile, fresh.toStdString());
}

TEST_F(BrowseFile, PlayerDialogStartsWithTheNameLeftWhileTheLogDialogStartsEmpty)
{
    const QString log = file("logs/zelvor.log");
    EXPECT_EQ(browse("Cmd_Log_Browse", log).startName, "");
    const Seen player = browse("Cmd_WinampLoc_Browse");
    EXPECT_EQ(player.startFiles, QStringList{log});
    EXPECT_EQ(player.startName, "zelvor.log");

    browse("Cmd_WinampLoc_Browse", file("mpd"));
    EXPECT_EQ(browse("Cmd_Log_Browse").startName, "");
    EXPECT_EQ(browse("Cmd_WinampLoc_Browse").startName, "") << "a cancelled log dialog cleared it";
}

TEST_F(BrowseFile, AllFilesListsNamesWithoutADot)
{
    const QString mpd = file("player/mpd");
    browse("Cmd_WinampLoc_Browse", file("player/notes.txt"));
    bool listed = false;
    ModalWatcher watcher([&](QWidget* modal) {
        auto* dialog = qobject_cast<QFileDialog*>(modal);
        dialog->selectNameFilter(dialog->nameFilters().constLast());
        auto* model = dialog->findChild<QFileSystemModel*>();
        listed = QTest::qWaitFor([&] {
            const QModelIndex index = model->index(mpd);
            return index.isValid() && (model->flags(index) & Qt::ItemIsEnabled);
        });
        dialog->reject();
    });
    click("Cmd_WinampLoc_Browse");
    EXPECT_TRUE(listed);
}

} // namespace
} // namespace zelvor
