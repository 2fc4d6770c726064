// SPDX-License-Identifier: MIT
#include "ModalWatcher.h"
#include "WindowFixture.h"

#include "shell/NumericKeyFilter.h"

#include <QApplication>
#include <QButtonGroup>
#include <QGroupBox>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QRadioButton>

namespace zelvor {
namespace {

using test::ModalWatcher;

struct KeyRow
{
    const char* name;
    char16_t key;
    KeyVerdict portField;
};

void PrintTo(const KeyRow& row, std::ostream* out)
{
    *out << row.name;
}

class NumericKeyTable : public ::testing::TestWithParam<KeyRow>
{};

TEST_P(NumericKeyTable, PortFieldSwitches)
{
    const NumericKeySwitches port{true, false, false, false};
    EXPECT_EQ(classifyNumericKey(GetParam().key, port), GetParam().portField);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, NumericKeyTable,
    ::testing::Values(
        KeyRow{"Zero", u'0', KeyVerdict::Pass}, KeyRow{"Nine", u'9', KeyVerdict::Pass},
        KeyRow{"Backspace", 8, KeyVerdict::Pass}, KeyRow{"Enter", 13, KeyVerdict::Drop},
        KeyRow{"FullStop", u'.', KeyVerdict::Drop}, KeyRow{"Bracket", u')', KeyVerdict::Drop},
        KeyRow{"Star", u'*', KeyVerdict::Drop}, KeyRow{"Minus", u'-', KeyVerdict::Drop},
        KeyRow{"Letter", u'a', KeyVerdict::Refuse}, KeyRow{"Space", u' ', KeyVerdict::Refuse},
        KeyRow{"Plus", u'+', KeyVerdict::Refuse}, KeyRow{"Slash", u'/', KeyVerdict::Refuse},
        KeyRow{"Colon", u':', KeyVerdict::Refuse}, KeyRow{"ControlA", 1, KeyVerdict::Refuse},
        KeyRow{"Escape", 27, KeyVerdict::Refuse},
        KeyRow{"NonLatin", u'\u0661', KeyVerdict::Refuse}),
    [](const ::testing::TestParamInfo<KeyRow>& row) { return std::string(row.param.name); });

TEST(NumericKeyFilter, EverySwitchLetsItsCharactersThrough)
{
    const NumericKeySwitches all{true, true, true, true};
    for (const char16_t key : {char16_t{8}, char16_t{13}, u'.', u')', u'*', u'-'})
        EXPECT_EQ(classifyNumericKey(key, all), KeyVerdict::Pass) << int(key);
    EXPECT_EQ(classifyNumericKey(u'x', all), KeyVerdict::Refuse);
    EXPECT_EQ(classifyNumericKey(8, NumericKeySwitches{}), KeyVerdict::Drop);
}

class PortField : public test::WindowFixture
{
protected:
    void SetUp() override
    {
        WindowFixture::SetUp();
        port = child<QLineEdit>("Txt_Port");
        port->setText(QStringLiteral("80"));
        ASSERT_FALSE(warningShown());
    }

    QLineEdit* port = nullptr;
};

TEST_F(PortField, DigitsGoInAndReachTheRecord)
{
    port->clear();
    ModalWatcher watcher;
    QTest::keyClick(port, Qt::Key_8);
    QTest::keyClick(port, Qt::Key_0);
    EXPECT_EQ(port->text(), "80");
    EXPECT_EQ(settings.Port, "80");
    EXPECT_TRUE(warningShown());
    EXPECT_TRUE(watcher.seen().empty());
}

TEST_F(PortField, BackspaceRemovesTheLastDigit)
{
    QTest::keyClick(port, Qt::Key_End);
    EXPECT_FALSE(warningShown());
    QTest::keyClick(port, Qt::Key_Backspace);
    EXPECT_EQ(port->text(), "8");
    EXPECT_TRUE(warningShown());
}

TEST_F(PortField, LetterIsRefusedWithTheMessage)
{
    ModalWatcher watcher;
    QTest::keyClick(port, Qt::Key_A);
    EXPECT_EQ(port->text(), "80");
    EXPECT_EQ(settings.Port, "80");
    ASSERT_EQ(watcher.seen().size(), 1u);
    const auto& box = watcher.seen().front();
    EXPECT_EQ(box.className, "QMessageBox");
    EXPECT_EQ(box.text, "Please enter in only a number");
    EXPECT_EQ(box.title, "Invalid Entry");
    EXPECT_EQ(box.icon, QMessageBox::Information);
    EXPECT_EQ(box.buttonCount, 1);
    EXPECT_EQ(watcher.leftOpen(), 0);
    EXPECT_TRUE(warningShown());
}

TEST_F(PortField, SpaceAndControlChordsAreRefusedToo)
{
    ModalWatcher watcher;
    QTest::keyClick(port, Qt::Key_Space);
    QTest::keyClick(port, Qt::Key_V, Qt::ControlModifier);
    EXPECT_EQ(port->text(), "80");
    EXPECT_EQ(watcher.seen().size(), 2u);
}

TEST_F(PortField, MinusFullStopAndEnterVanishSilently)
{
    ModalWatcher watcher;
    QTest::keyClick(port, Qt::Key_Minus);
    QTest::keyClick(port, Qt::Key_Period);
    QTest::keyClick(port, Qt::Key_Return);
    QTest::keyClick(port, Qt::Key_ParenRight);
    QTest::keyClick(port, Qt::Key_Asterisk);
    EXPECT_EQ(port->text(), "80");
    EXPECT_TRUE(watcher.seen().empty());
    EXPECT_TRUE(warningShown());
}

TEST_F(PortField, DeleteAndArrowsEditWithoutFilterOrWarning)
{
    ModalWatcher watcher;
    QTest::keyClick(port, Qt::Key_Home);
    QTest::keyClick(port, Qt::Key_Delete);
    QTest::keyClick(port, Qt::Key_Right);
    EXPECT_EQ(port->text(), "0");
    EXPECT_EQ(settings.Port, "0");
    EXPECT_TRUE(watcher.seen().empty());
    EXPECT_FALSE(warningShown());
}

class RestartWarning : public test::WindowFixture
{};

TEST_F(RestartWarning, HiddenAfterLoadingAlthoughLoadingChangedEveryControl)
{
    ServerSettings stored;
    stored.Port = "2323";
    stored.ServerRoot = "/srv/music";
    stored.WinampLocation = "/usr/bin/mpd";
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
    EXPECT_EQ(fresh.findChild<QLineEdit*>("Txt_Logfile")->text(), "/var/log/zelvor.log");
}

TEST_F(RestartWarning, EachListedEditShowsItAndRestartHidesIt)
{
    const std::vector<std::function<void()>> edits{
        [&] { QTest::keyClicks(child<QLineEdit>("Txt_Serverroot"), "/m"); },
        [&] { QTest::keyClicks(child<QLineEdit>("Txt_Winamp_Location"), "mpd"); },
        [&] { QTest::keyClicks(child<QLineEdit>("Txt_Logfile"), "z.log"); },
        [&] { clickOption("Opt_Logging(1)"); },
        [&] { clickOption("Opt_Login(0)"); },
    };
    int restarts = 0;
    bool hiddenAtRestart = false;
    window.setRestartHook([&] {
        ++restarts;
        hiddenAtRestart = !warningShown();
    });
    for (std::size_t i = 0; i < edits.size(); ++i) {
        edits[i]();
        EXPECT_TRUE(warningShown()) << "edit " << i;
        QTest::mouseClick(child<QPushButton>("Cmd_Start"), Qt::LeftButton);
        EXPECT_FALSE(warningShown()) << "edit " << i;
    }
    EXPECT_EQ(restarts, 5);
    EXPECT_TRUE(hiddenAtRestart);
}

TEST_F(RestartWarning, UserNameAndPasswordNeverShowIt)
{
    QTest::keyClicks(child<QLineEdit>("Txt_Uname"), "alice");
    QTest::keyClicks(child<QLineEdit>("Txt_Passwd"), "s3cret");
    QTest::keyClick(child<QLineEdit>("Txt_Passwd"), Qt::Key_Backspace);
    EXPECT_FALSE(warningShown());
    EXPECT_EQ(settings.UserName, "useralice");
    EXPECT_EQ(settings.Password, "s3cre");
}

TEST_F(RestartWarning, IsDarkRedAndCentred)
{
    auto* warning = child<QLabel>("lbl_restartwarning");
    EXPECT_EQ(warning->text(), "Restart Server For Changes to Take Effect");
    EXPECT_EQ(warning->palette().color(QPalette::WindowText), QColor(192, 0, 0));
    EXPECT_EQ(warning->alignment(), Qt::AlignCenter);
}

class LiveRecord : public test::WindowFixture
{};

TEST_F(LiveRecord, OptionsSetLevelAndLoginAtOnce)
{
    clickOption("Opt_Logging(2)");
    EXPECT_EQ(settings.LogLevel, LogLevel::AllActivity);
    clickOption("Opt_Logging(1)");
    EXPECT_EQ(settings.LogLevel, LogLevel::ConnectionsOnly);
    clickOption("Opt_Logging(0)");
    EXPECT_EQ(settings.LogLevel, LogLevel::Off);
    clickOption("Opt_Login(0)");
    EXPECT_FALSE(settings.LoginRequired);
    clickOption("Opt_Login(1)");
    EXPECT_TRUE(settings.LoginRequired);
}

TEST_F(LiveRecord, TextFieldsWriteUtf8Paths)
{
    child<QLineEdit>("Txt_Serverroot")->insert(QString::fromUtf8("/Musik/Bj\u00f6rk"));
    EXPECT_EQ(settings.ServerRoot, "/Musik/Bj\xc3\xb6rk");
}

TEST(SettingsLoading, LeavesTheRecordByteForByte)
{
    ServerSettings stored;
    stored.ServerRoot = "/music/\xe9t\xe9"; // not UTF-8: a field written by another code page
    stored.Password = "p\xff";
    const ServerSettings before = stored;
    SettingsWindow window(stored);
    window.loadControls();
    EXPECT_EQ(stored.ServerRoot, before.ServerRoot);
    EXPECT_EQ(stored.Password, before.Password);
}

class Layout : public test::WindowFixture
{};

TEST_F(Layout, ControlsSitWhereTheTwipsPutThem)
{
    EXPECT_EQ(window.size(), QSize(454, 282));
    EXPECT_EQ(window.minimumSize(), window.maximumSize());
    EXPECT_EQ(child<QGroupBox>("frm_serverinfo")->geometry(), QRect(8, 8, 333, 141));
    EXPECT_EQ(child("Txt_Port")->geometry(), QRect(80, 24, 41, 21));
    EXPECT_EQ(child("Txt_Port")->parentWidget()->objectName(), "frm_serverinfo");
    EXPECT_EQ(child("lbl_restartwarning")->geometry(), QRect(4, 116, 241, 17));
    EXPECT_EQ(child("Cmd_Start")->geometry(), QRect(252, 112, 73, 25));
    EXPECT_EQ(child("Lbl_Status")->geometry(), QRect(8, 24, 81, 21));
    EXPECT_EQ(child("cmd_About")->geometry(), QRect(360, 120, 81, 25));
    EXPECT_EQ(child("Opt_Logging(2)")->geometry(), QRect(16, 64, 145, 25));
    EXPECT_EQ(child("Cmd_Log_Browse")->geometry(), QRect(180, 92, 45, 21));
    EXPECT_EQ(child("frm_users")->geometry(), QRect(256, 156, 189, 121));
    EXPECT_EQ(child("Txt_Passwd")->geometry(), QRect(64, 92, 97, 21));
}

TEST_F(Layout, TitleCaptionsAndWindowButtons)
{
    EXPECT_EQ(window.windowTitle(), "Tollomere");
    EXPECT_EQ(window.objectName(), "frm_server");
    EXPECT_TRUE(window.windowFlags() & Qt::WindowMinimizeButtonHint);
    EXPECT_FALSE(window.windowFlags() & Qt::WindowMaximizeButtonHint);
    EXPECT_FALSE(window.windowIcon().isNull());
    EXPECT_EQ(child<QLabel>("lbl_server_port")->text(), "&Port:");
    EXPECT_EQ(child<QLabel>("lbl_server_port")->buddy(), child("Txt_Port"));
    EXPECT_EQ(child<QPushButton>("Cmd_Start")->text(), "&Restart");
    EXPECT_EQ(child<QPushButton>("cmd_About")->text(), "A&bout");
    EXPECT_EQ(child<QRadioButton>("Opt_Logging(1)")->text(), "&Connections Only");
    EXPECT_EQ(child<QRadioButton>("Opt_Login(0)")->text(), "O&ff");
    EXPECT_EQ(child<QLabel>("Lbl_Status")->text(), "running");
    EXPECT_EQ(child<QLabel>("Label1")->alignment() & Qt::AlignHorizontal_Mask, Qt::AlignRight);
}

TEST_F(Layout, NoCaptionRunsUnderItsFieldOrPastItsButton)
{
    for (const QLabel* label : window.findChildren<QLabel*>()) {
        if (!label->buddy())
            continue;
        const int room = label->buddy()->x() - label->x();
        const int width = label->fontMetrics().horizontalAdvance(label->text().remove('&'));
        EXPECT_LT(width, room) << label->objectName().toStdString();
    }
    for (const QPushButton* button : window.findChildren<QPushButton*>()) {
        const int width = button->fontMetrics().horizontalAdvance(button->text().remove('&'));
        EXPECT_LT(width, button->width()) << button->objectName().toStdString();
    }
}

TEST_F(Layout, PasswordShowsStars)
{
    auto* password = child<QLineEdit>("Txt_Passwd");
    password->setText(QStringLiteral("abc"));
    EXPECT_EQ(password->displayText(), "***");
}

QStringList tabWalk(QWidget* from, int steps, Qt::Key key = Qt::Key_Tab)
{
    from->setFocus();
    QStringList walked{QApplication::focusWidget()->objectName()};
    for (int i = 0; i < steps; ++i) {
        QTest::keyClick(QApplication::focusWidget(), key);
        walked << QApplication::focusWidget()->objectName();
    }
    return walked;
}

TEST_F(Layout, TabWalksTheControlsInOrderEnteringEachOptionGroupAtItsChoice)
{
    window.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    clickOption("Opt_Logging(1)");
    EXPECT_EQ(tabWalk(child("Cmd_Start"), 13),
              (QStringList{"Cmd_Start", "Txt_Port", "Txt_Serverroot", "Cmd_svrroot_browse",
                           "Txt_Winamp_Location", "Cmd_WinampLoc_Browse", "Opt_Logging(1)",
                           "Txt_Logfile", "Cmd_Log_Browse", "Opt_Login(1)", "Txt_Uname",
                           "Txt_Passwd", "cmd_About", "Cmd_Start"}));
    EXPECT_EQ(tabWalk(child("Txt_Uname"), 2, Qt::Key_Backtab),
              (QStringList{"Txt_Uname", "Opt_Login(1)", "Cmd_Log_Browse"}));
}

TEST_F(Layout, FocusChainHoldsEveryOptionInItsPlace)
{
    QStringList chain;
    QWidget* widget = child("Cmd_Start");
    for (int i = 0; i < 16; ++i, widget = widget->nextInFocusChain()) {
        while (!(widget->focusPolicy() & Qt::TabFocus))
            widget = widget->nextInFocusChain();
        chain << widget->objectName();
    }
    EXPECT_EQ(chain, (QStringList{"Cmd_Start", "Txt_Port", "Txt_Serverroot", "Cmd_svrroot_browse",
                                  "Txt_Winamp_Location", "Cmd_WinampLoc_Browse", "Opt_Logging(0)",
                                  "Opt_Logging(1)", "Opt_Logging(2)", "Txt_Logfile",
                                  "Cmd_Log_Browse", "Opt_Login(0)", "Opt_Login(1)", "Txt_Uname",
                                  "Txt_Passwd", "cmd_About"}));
}

TEST_F(Layout, TrayMenuIsNeverAMenuBar)
{
    EXPECT_FALSE(window.popupMenu()->isVisible());
    EXPECT_EQ(window.restoreAction()->objectName(), "mnu_Popup_Restore");
    EXPECT_EQ(window.shutdownAction()->objectName(), "mnu_Popup_Exit");
}

TEST_F(Layout, UnloadRunsOnceOnClose)
{
    int unloads = 0;
    window.setUnloadHook([&] { ++unloads; });
    window.close();
    window.close();
    EXPECT_EQ(unloads, 1);
}

} // namespace
} // namespace zelvor
