// SPDX-License-Identifier: MIT
#include "ModalWatcher.h"
#include "WindowFixture.h"

#include "shell/DialogFilter.h"
#include "support/TempDir.h"

#include <QComboBox>
#include <QFileDialog>
#include <QFileSystemModel>
#include <QLineEdit>
#include <QPushButton>

namespace zelvor {
namespace {

using test::ModalWatcher;

TEST(DialogFilter, SplitsNamesAndPatterns)
{
    const auto entries =
        parseDialogFilter("Text Files (*.txt, *.log)|*.txt;*.log|All Files (*.*)|*.*|");
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[0].Name, "Text Files (*.txt, *.log)");
    EXPECT_EQ(entries[0].Patterns, (std::vector<std::string>{"*.txt", "*.log"}));
    EXPECT_EQ(entries[1].Name, "All Files (*.*)");
    EXPECT_EQ(entries[1].Patterns, (std::vector<std::string>{"*"}));
}

TEST(DialogFilter, ToleratesMissingTrailingBarAndEmptyPatterns)
{
    const auto entries = parseDialogFilter("Winamp (winamp.exe)|winamp.exe|Nothing||Odd");
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].Patterns, (std::vector<std::string>{"winamp.exe"}));
    EXPECT_TRUE(parseDialogFilter("").empty());
}

QStringList shownFilters(QFileDialog* dialog)
{
    auto* types = dialog->findChild<QComboBox*>(QStringLiteral("fileTypeCombo"));
    QStringList shown;
    for (int i = 0; types && i < types->count(); ++i)
        shown << types->itemText(i);
    return shown;
}

// What the player and log dialogs looked like, and the answer given.
struct DialogAnswer
{
    QString pick;           // empty: Cancel
    QStringList startFiles; // recorded
    QString startName;      // recorded: the file name box
    QStringList filters;    // recorded
};

ModalWatcher::Answer answerWith(DialogAnswer& answer)
{
    return [&answer](QWidget* modal) {
        auto* dialog = qobject_cast<QFileDialog*>(modal);
        ASSERT_NE(dialog, nullptr);
        EXPECT_EQ(dialog->objectName(), "Cdl_Server");
        EXPECT_TRUE(dialog->testOption(QFileDialog::DontUseNativeDialog));
        answer.startFiles = dialog->selectedFiles();
        if (auto* name = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit")))
            answer.startName = name->text();
        answer.filters = shownFilters(dialog);
        if (answer.pick.isEmpty()) {
            dialog->reject();
            return;
        }
        dialog->selectFile(answer.pick);
        static_cast<QDialog*>(dialog)->accept(); // QFileDialog hides its override
    };
}

class BrowseFile : public test::WindowFixture
{
protected:
    void SetUp() override
    {
        WindowFixture::SetUp();
        player = child<QLineEdit>("Txt_Winamp_Location");
        log = child<QLineEdit>("Txt_Logfile");
        player->setText(QStringLiteral("/old/mpd"));
        log->setText(QStringLiteral("/old/zelvor.log"));
        QTest::mouseClick(child<QPushButton>("Cmd_Start"), Qt::LeftButton);
    }

    DialogAnswer browse(const char* button, const QString& pick = {})
    {
        DialogAnswer answer{pick, {}, {}, {}};
        ModalWatcher watcher(answerWith(answer));
        QTest::mouseClick(child<QPushButton>(button), Qt::LeftButton);
        EXPECT_EQ(watcher.seen().size(), 1u);
        EXPECT_EQ(watcher.leftOpen(), 0);
        return answer;
    }

    test::TempDir temp;
    QLineEdit* player = nullptr;
    QLineEdit* log = nullptr;
};

TEST_F(BrowseFile, CancelLeavesTheField)
{
    browse("Cmd_WinampLoc_Browse");
    browse("Cmd_Log_Browse");
    EXPECT_EQ(player->text(), "/old/mpd");
    EXPECT_EQ(log->text(), "/old/zelvor.log");
    EXPECT_FALSE(warningShown());
}

TEST_F(BrowseFile, ChosenFileGoesIntoTheFieldWithItsFullPath)
{
    const QString mpd = QString::fromStdString(temp.write("bin/mpd").string());
    browse("Cmd_WinampLoc_Browse", mpd);
    EXPECT_EQ(player->text(), mpd);
    EXPECT_EQ(settings.WinampLocation, mpd.toStdString());
    EXPECT_TRUE(warningShown());
}

TEST_F(BrowseFile, NewLogFileNameIsTaken)
{
    const QString fresh = QString::fromStdString((temp.path() / "new.log").string());
    browse("Cmd_Log_Browse", fresh);
    EXPECT_EQ(log->text(), fresh);
    EXPECT_EQ(settings.LogFile, fresh.toStdString());
}

TEST_F(BrowseFile, PlayerDialogStartsWithTheNameLeftByTheLogDialog)
{
    const QString chosen = QString::fromStdString(temp.write("logs/zelvor.log").string());
    EXPECT_EQ(browse("Cmd_Log_Browse", chosen).startName, "");
    const auto reopened = browse("Cmd_WinampLoc_Browse");
    EXPECT_EQ(reopened.startFiles, QStringList{chosen});
    EXPECT_EQ(reopened.startName, "zelvor.log");
    EXPECT_EQ(browse("Cmd_Log_Browse").startName, "");
}

TEST_F(BrowseFile, CancelledLogDialogStillClearsTheSharedName)
{
    const QString mpd = QString::fromStdString(temp.write("mpd").string());
    browse("Cmd_WinampLoc_Browse", mpd);
    EXPECT_EQ(browse("Cmd_WinampLoc_Browse").startFiles, QStringList{mpd});
    browse("Cmd_Log_Browse");
    EXPECT_EQ(browse("Cmd_WinampLoc_Browse").startName, "");
}

TEST_F(BrowseFile, FiltersShowTheirOwnNames)
{
    EXPECT_EQ(browse("Cmd_WinampLoc_Browse").filters,
              (QStringList{"Winamp (winamp.exe)", "All Files (*.*)"}));
    EXPECT_EQ(browse("Cmd_Log_Browse").filters,
              (QStringList{"Text Files (*.txt, *.log)", "All Files (*.*)"}));
}

TEST_F(BrowseFile, AllFilesListsNamesWithoutADot)
{
    const QString mpd = QString::fromStdString(temp.write("player/mpd").string());
    const QString notes = QString::fromStdString(temp.write("player/notes.txt").string());
    browse("Cmd_WinampLoc_Browse", notes);

    bool listed = false;
    ModalWatcher watcher([&](QWidget* modal) {
        auto* dialog = qobject_cast<QFileDialog*>(modal);
        ASSERT_NE(dialog, nullptr);
        dialog->selectNameFilter(dialog->nameFilters().constLast());
        auto* model = dialog->findChild<QFileSystemModel*>();
        ASSERT_NE(model, nullptr);
        listed = QTest::qWaitFor([&] {
            const QModelIndex index = model->index(mpd);
            return index.isValid() && (model->flags(index) & Qt::ItemIsEnabled);
        });
        dialog->reject();
    });
    QTest::mouseClick(child<QPushButton>("Cmd_WinampLoc_Browse"), Qt::LeftButton);
    EXPECT_TRUE(listed);
}

} // namespace
} // namespace zelvor
