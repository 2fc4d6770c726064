// SPDX-License-Identifier: MIT
#include "ModalWatcher.h"
#include "WindowFixture.h"

#include "shell/NumericKeyFilter.h"

#include <QApplication>
#include <QClipboard>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>

namespace zelvor {
namespace {

using test::ModalWatcher;

TEST(NumericKeyFilter, FollowsItsTable)
{
    const NumericKeySwitches port{true, false, false, false};
    const NumericKeySwitches all{true, true, true, true};
    struct Row
    {
        char16_t key;
        KeyVerdict inPort;
        KeyVerdict withAll;
    };
    const Row rows[] = {
        {u'0', KeyVerdict::Pass, KeyVerdict::Pass},
        {u'9', KeyVerdict::Pass, KeyVerdict::Pass},
        {8, KeyVerdict::Pass, KeyVerdict::Pass},
        {13, KeyVerdict::Drop, KeyVerdict::Pass},
        {u'.', KeyVerdict::Drop, KeyVerdict::Pass},
        {u')', KeyVerdict::Drop, KeyVerdict::Pass},
        {u'*', KeyVerdict::Drop, KeyVerdict::Pass},
        {u'-', KeyVerdict::Drop, KeyVerdict::Pass},
        {u'a', KeyVerdict::Refuse, KeyVerdict::Refuse},
        {u' ', KeyVerdict::Refuse, KeyVerdict::Refuse},
        {u'+', KeyVerdict::Refuse, KeyVerdict::Refuse},
        {1, KeyVerdict::Refuse, KeyVerdict::Refuse},
        {27, KeyVerdict::Refuse, KeyVerdict::Refuse},
        {0x661, KeyVerdict::Refuse, KeyVerdict::Refuse},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(classifyNumericKey(row.key, port), row.inPort) << int(row.key);
        EXPECT_EQ(classifyNumericKey(row.key, all), row.withAll) << int(row.key);
    }
}

class PortField : public test::WindowFixture
{
protected:
    void SetUp() override
    {
        WindowFixture::SetUp();
        port = child<QLineEdit>("Txt_Port");
        port->setText(QStringLiteral("80"));
    }

    QLineEdit* port = nullptr;
};

TEST_F(PortField, DigitsAndBackspaceGoInAndWarnButDeleteDoesNot)
{
    ModalWatcher watcher;
    QTest::keyClick(port, Qt::Key_Home);
    QTest::keyClick(port, Qt::Key_Delete); // types no character: neither filter nor warning
    EXPECT_EQ(settings.Port, "0");
    EXPECT_FALSE(warningShown());
    port->clear();
    QTest::keyClicks(port, "80");
    EXPECT_EQ(settings.Port, "80");
    QTest::keyClick(port, Qt::Key_Backspace);
    EXPECT_EQ(port->text(), "8");
    EXPECT_TRUE(warningShown());
    EXPECT_TRUE(watcher.seen().empty());
}

TEST_F(PortField, LettersSpaceAndChordsAreRefusedWithTheMessage)
{
    ModalWatcher watcher;
    QTest::keyClick(port, Qt::Key_A);
    EXPECT_TRUE(warningShown());
    QTest::keyClick(port, Qt::Key_Space);
    QTest::keyClick(port, Qt::Key_V, Qt::ControlModifier);
    EXPECT_EQ(port->text(), "80");
    ASSERT_EQ(watcher.seen().size(), 3u);
    const auto& box = watcher.seen().front();
    EXPECT_EQ(box.className, "QMessageBox");
    EXPECT_EQ(box.text, "Please enter in only a number");
    EXPECT_EQ(box.title, "Invalid Entry");
    EXPECT_EQ(box.icon, QMessageBox::Information);
    EXPECT_EQ(box.buttonCount, 1);
    EXPECT_EQ(watcher.leftOpen(), 0);
}

TEST_F(PortField, MinusFullStopEnterAndBracketsVanishSilentlyButWarn)
{
    ModalWatcher watcher;
    for (const Qt::Key key :
         {Qt::Key_Minus, Qt::Key_Period, Qt::Key_Return, Qt::Key_ParenRight, Qt::Key_Asterisk})
        QTest::keyClick(port, key);
    EXPECT_EQ(port->text(), "80");
    EXPECT_TRUE(watcher.seen().empty());
    EXPECT_TRUE(warningShown());
}

class RestartWarning : public test::WindowFixture
{};

TEST_F(RestartWarning, HiddenAfterLoadingThoughLoadingChangedEveryControl)
{
    ServerSettings stored;
    stored.Port = "2323";
    stored.ServerRoot = "/srv/music";
    stored.LogLevel = LogLevel::AllActivity;
    stored.LoginRequired = false;
    stored.LogFile = "/var/log/zelvor.log";
    SettingsWindow fresh(stored);
    fresh.loadControls();
    fresh.show();
    EXPECT_FALSE(fresh.findChild<QLabel*>("lbl_restartwarning")->isVisible());
    EXPECT_EQ(fresh.findChild<QLineEdit*>("Txt_Port")->text(), "2323");
    EXPECT_TRUE(fresh.findChild<QRadioButton*>("Opt_Logging(2)")->isChecked());
    EXPECT_TRUE(fresh.findChild<QRadioButton*>("Opt_Login(0)")->isChecked());
}

TEST_F(RestartWarning, EachListedEditShowsItAndRestartHidesItFirst)
{
    const std::vector<std::function<void()>> edits{
        [&] { QTest::keyClicks(child<QLineEdit>("Txt_Serverroot"), "/m"); },
        [&] { QTest::keyClicks(child<QLineEdit>("Txt_Winamp_Location"), "mpd"); },
        [&] { QTest::keyClicks(child<QLineEdit>("Txt_Logfile"), "z.log"); },
        [&] { clickOption("Opt_Logging(1)"); },
        [&] { clickOption("Opt_Login(0)"); },
    };
    int restarts = 0;
    window.setRestartHook([&] { restarts += warningShown() ? 100 : 1; });
    for (std::size_t i = 0; i < edits.size(); ++i) {
        edits[i]();
        EXPECT_TRUE(warningShown()) << "edit " << i;
        click("Cmd_Start");
        EXPECT_FALSE(warningShown()) << "edit " << i;
    }
    EXPECT_EQ(restarts, 5);
}

TEST_F(RestartWarning, UserNameAndPasswordNeverShowIt)
{
    QTest::keyClicks(child<QLineEdit>("Txt_Uname"), "alice");
    QTest::keyClicks(child<QLineEdit>("Txt_Passwd"), "s3cret");
    EXPECT_FALSE(warningShown());
    EXPECT_EQ(settings.UserName, "useralice");
    EXPECT_EQ(settings.Password, "s3cret");
    EXPECT_EQ(child<QLineEdit>("Txt_Passwd")->displayText(), "******");
}

class LiveRecord : public test::WindowFixture
{};

TEST_F(LiveRecord, OptionsAndPathsReachTheRecordAtOnce)
{
    clickOption("Opt_Logging(2)");
    EXPECT_EQ(settings.LogLevel, LogLevel::AllActivity);
    clickOption("Opt_Logging(0)");
    EXPECT_EQ(settings.LogLevel, LogLevel::Off);
    clickOption("Opt_Login(0)");
    EXPECT_FALSE(settings.LoginRequired);
    child<QLineEdit>("Txt_Serverroot")->insert(QString::fromUtf8("/Musik/Bj\u00f6rk"));
    EXPECT_EQ(settings.ServerRoot, "/Musik/Bj\xc3\xb6rk");
}

// A path copied from a terminal often ends with a line break; a settings value is one line, so
// typed or pasted line breaks never reach a field or the record.
TEST_F(LiveRecord, PastedLineBreaksAreDroppedInEveryTextField)
{
    const struct
    {
        const char* field;
        const char* pasted;
        const char* kept;
        std::string ServerSettings::*value;
    } rows[] = {
        {"Txt_Port", "2323\n", "2323", &ServerSettings::Port},
        {"Txt_Serverroot", "/home/me/Music\r\n", "/home/me/Music", &ServerSettings::ServerRoot},
        {"Txt_Winamp_Location", "mpd\n/etc/mpd.conf\n", "mpd/etc/mpd.conf",
         &ServerSettings::WinampLocation},
        {"Txt_Logfile", "\r/tmp/zelvor.log\r", "/tmp/zelvor.log", &ServerSettings::LogFile},
        {"Txt_Uname", "bob\n", "bob", &ServerSettings::UserName},
        {"Txt_Passwd", "se\r\ncret\n", "secret", &ServerSettings::Password},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.field);
        auto* field = child<QLineEdit>(row.field);
        field->clear();
        QApplication::clipboard()->setText(QString::fromLatin1(row.pasted));
        field->setFocus();
        field->paste();
        EXPECT_EQ(field->text(), QString::fromLatin1(row.kept));
        EXPECT_EQ(settings.*(row.value), row.kept);
        // Typed text goes the same way, and the cursor stays where the typing left it.
        field->insert(QStringLiteral("x\ny"));
        EXPECT_EQ(field->text(), QString::fromLatin1(row.kept) + QStringLiteral("xy"));
        EXPECT_EQ(field->cursorPosition(), field->text().size());
    }
}

TEST(SettingsLoading, LeavesTheRecordByteForByte)
{
    ServerSettings stored;
    stored.ServerRoot = "/music/\xe9t\xe9"; // not UTF-8: written under another code page
    stored.LogFile = "/log\rfile";          // a stray CR read from zelvor.ini
    SettingsWindow window(stored);
    window.loadControls();
    EXPECT_EQ(stored.ServerRoot, "/music/\xe9t\xe9");
    EXPECT_EQ(stored.LogFile, "/log\rfile");
}

TEST(CredentialFields, TakeAtMostALineOfBytesYetLoadALongerStoredValueWhole)
{
    // A client's line holds 1024 bytes; a longer user name or password could never be typed.
    const QString full(1024, QLatin1Char('a'));
    const QString umlauts(512, QChar(0xf6)); // 1024 bytes in UTF-8
    struct Row
    {
        const char* what;
        QString before;
        QString inserted;
        std::size_t bytesAfter;
    };
    const Row rows[] = {
        {"up to the limit", QString(), full, 1024},
        {"one byte past it, typed", full, QStringLiteral("b"), 1024},
        {"a paste past it", QStringLiteral("ab"), full, 2},
        {"two-byte characters up to the limit", QString(), umlauts, 1024},
        {"one two-byte character past it", umlauts, QString(QChar(0xf6)), 1024},
    };
    for (const char* name : {"Txt_Uname", "Txt_Passwd"}) {
        for (const Row& row : rows) {
            ServerSettings record;
            SettingsWindow window(record);
            window.loadControls();
            auto* field = window.findChild<QLineEdit*>(QString::fromLatin1(name));
            ASSERT_NE(field, nullptr);
            field->clear();
            field->insert(row.before);
            field->insert(row.inserted);
            const std::string& value =
                std::string(name) == "Txt_Uname" ? record.UserName : record.Password;
            EXPECT_EQ(value.size(), row.bytesAfter) << name << ": " << row.what;
        }
    }

    ServerSettings stored;
    stored.UserName = std::string(1500, 'u');
    stored.Password = std::string(2000, 'p');
    SettingsWindow window(stored);
    window.loadControls();
    EXPECT_EQ(stored.UserName, std::string(1500, 'u'));
    EXPECT_EQ(stored.Password, std::string(2000, 'p'));
}

class Layout : public test::WindowFixture
{};

TEST_F(Layout, ControlsSitWhereTheirTwipsPutThem)
{
    EXPECT_EQ(window.windowTitle(), "Tollomere");
    EXPECT_EQ(window.size(), QSize(454, 282));
    EXPECT_EQ(window.minimumSize(), window.maximumSize());
    EXPECT_TRUE(window.windowFlags() & Qt::WindowMinimizeButtonHint);
    EXPECT_FALSE(window.windowFlags() & Qt::WindowMaximizeButtonHint);
    EXPECT_EQ(child("Txt_Port")->geometry(), QRect(80, 24, 41, 21));
    EXPECT_EQ(child("Txt_Port")->parentWidget()->geometry(), QRect(8, 8, 333, 141));
    EXPECT_EQ(child("lbl_restartwarning")->geometry(), QRect(4, 116, 241, 17));
    EXPECT_EQ(child("cmd_About")->geometry(), QRect(360, 120, 81, 25));
    EXPECT_EQ(child("Opt_Logging(2)")->geometry(), QRect(16, 64, 145, 25));
    EXPECT_EQ(child("frm_users")->geometry(), QRect(256, 156, 189, 121));
    EXPECT_EQ(child("Txt_Passwd")->geometry(), QRect(64, 92, 97, 21));
    EXPECT_EQ(child<QLabel>("lbl_restartwarning")->palette().color(QPalette::WindowText),
              QColor(192, 0, 0));
}

TEST_F(Layout, NoCaptionRunsUnderItsFieldOrPastItsButton)
{
    for (const QLabel* label : window.findChildren<QLabel*>()) {
        if (!label->buddy())
            continue;
        EXPECT_LT(label->fontMetrics().horizontalAdvance(label->text().remove('&')),
                  label->buddy()->x() - label->x())
            << label->objectName().toStdString();
    }
    for (const QPushButton* button : window.findChildren<QPushButton*>()) {
        EXPECT_LT(button->fontMetrics().horizontalAdvance(button->text().remove('&')),
                  button->width())
            << button->objectName().toStdString();
    }
}

TEST_F(Layout, TabWalksTheControlsInOrderEnteringEachOptionGroupAtItsChoice)
{
    window.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    clickOption("Opt_Logging(1)");
    ModalWatcher watcher; // Tab is no typed character for the port field's filter
    auto walk = [](QWidget* from, int steps, Qt::Key key) {
        from->setFocus();
        QStringList walked{QApplication::focusWidget()->objectName()};
        for (int i = 0; i < steps; ++i) {
            QTest::keyClick(QApplication::focusWidget(), key);
            walked << QApplication::focusWidget()->objectName();
        }
        return walked;
    };
    EXPECT_EQ(walk(child("Cmd_Start"), 13, Qt::Key_Tab),
              (QStringList{"Cmd_Start", "Txt_Port", "Txt_Serverroot", "Cmd_svrroot_browse",
                           "Txt_Winamp_Location", "Cmd_WinampLoc_Browse", "Opt_Logging(1)",
                           "Txt_Logfile", "Cmd_Log_Browse", "Opt_Login(1)", "Txt_Uname",
                           "Txt_Passwd", "cmd_About", "Cmd_Start"}));
    EXPECT_EQ(walk(child("Txt_Uname"), 2, Qt::Key_Backtab),
              (QStringList{"Txt_Uname", "Opt_Login(1)", "Cmd_Log_Browse"}));
    EXPECT_TRUE(watcher.seen().empty());
}

} // namespace
} // namespace zelvor
