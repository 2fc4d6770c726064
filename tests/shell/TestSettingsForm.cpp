// SPDX-License-Identifier: MIT
#include "shell/SettingsForm.h"

#include "shell/SettingsLayout.h"
#include "shell/TrayStateMachine.h"

#include <gtest/gtest.h>

#include <limits>
#include <string>
#include <vector>

namespace zelvor::test {
namespace {

using Calls = std::vector<std::string>;

/**
 * A window that writes down what the form asks of it. Like both real windows it reports a
 * field's new text back as a change, and its dialogs give the answers set beforehand.
 */
class RecordingView : public SettingsView
{
public:
    void setFieldText(std::string_view field, const std::string& text) override
    {
        calls.push_back(std::string(field) + "=" + text);
        if (form)
            form->Change(field, text);
    }
    void checkOption(std::string_view option) override { calls.emplace_back(option); }
    void showRestartWarning(bool shown) override { warning = shown; }
    void refuseKey() override { calls.emplace_back("refused"); }
    std::optional<std::string> pickFolder() override
    {
        calls.emplace_back("pickFolder");
        return answer;
    }
    std::optional<std::string> pickFile(std::string_view filter,
                                        const std::string& startName) override
    {
        calls.push_back("pickFile " + std::string(filter.substr(0, filter.find('|'))) + " at \"" +
                        startName + "\"");
        return answer;
    }
    void showAbout() override { calls.emplace_back("about"); }

    SettingsForm* form = nullptr;
    Calls calls;
    bool warning = false;
    std::optional<std::string> answer;
};

class Form : public ::testing::Test
{
protected:
    void SetUp() override { view.form = &form; }

    ServerSettings settings;
    RecordingView view;
    SettingsForm form{settings, view};
};

TEST_F(Form, EachFieldEditsItsSettingAndOnlyThoseReadAtListeningWarn)
{
    struct Row
    {
        const char* field;
        std::string ServerSettings::*setting;
        bool warns;
    };
    const Row rows[] = {
        {"Txt_Port", &ServerSettings::Port, false},
        {"Txt_Serverroot", &ServerSettings::ServerRoot, true},
        {"Txt_Winamp_Location", &ServerSettings::WinampLocation, true},
        {"Txt_Logfile", &ServerSettings::LogFile, true},
        {"Txt_Uname", &ServerSettings::UserName, false},
        {"Txt_Passwd", &ServerSettings::Password, false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.field);
        form.Click("Cmd_Start");
        ASSERT_FALSE(view.warning);
        const ServerSettings before = settings;
        // Bytes of the system's code page go in as they are.
        const std::string text = std::string("caf\xe9 ") + row.field;
        EXPECT_TRUE(form.Change(row.field, text));
        EXPECT_EQ(settings.*row.setting, text);
        ServerSettings others = settings;
        others.*row.setting = before.*row.setting;
        EXPECT_EQ(others, before) << "no other setting moved";
        EXPECT_EQ(view.warning, row.warns);
        EXPECT_EQ(form.restartWarningShown(), row.warns);
    }
    const ServerSettings before = settings;
    for (const char* other : {"Lbl_Status", "lbl_restartwarning", "Cmd_Start", "Txt_Unknown"})
        EXPECT_FALSE(form.Change(other, "x")) << other;
    EXPECT_EQ(settings, before);
}

TEST_F(Form, OptionsSetLevelAndLoginAndWarnButButtonsAndStrangersDoNot)
{
    struct Row
    {
        const char* control;
        bool handled;
        LogLevel level;
        bool loginRequired;
        bool warns;
    };
    // Each row starts from the record the rows before it left.
    const Row rows[] = {
        {"Opt_Logging(2)", true, LogLevel::AllActivity, true, true},
        {"Opt_Logging(1)", true, LogLevel::ConnectionsOnly, true, true},
        {"Opt_Login(0)", true, LogLevel::ConnectionsOnly, false, true},
        {"Opt_Logging(0)", true, LogLevel::Off, false, true},
        {"Opt_Login(1)", true, LogLevel::Off, true, true},
        {"Opt_Logging(3)", false, LogLevel::Off, true, false},
        {"Opt_Login(2)", false, LogLevel::Off, true, false},
        {"Opt_Logging(x)", false, LogLevel::Off, true, false},
        {"Opt_Logging", false, LogLevel::Off, true, false},
        {"Opt_Login(1", false, LogLevel::Off, true, false},
        {"Lbl_Status", false, LogLevel::Off, true, false},
        {"cmd_About", true, LogLevel::Off, true, false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.control);
        form.Click("Cmd_Start");
        EXPECT_EQ(form.Click(row.control), row.handled);
        EXPECT_EQ(settings.LogLevel, row.level);
        EXPECT_EQ(settings.LoginRequired, row.loginRequired);
        EXPECT_EQ(view.warning, row.warns);
    }
    EXPECT_EQ(view.calls, Calls{"about"});
}

TEST_F(Form, LoadingFillsEveryControlInFileOrderKeepsTheRecordAndHidesTheWarning)
{
    settings.Port = "2323";
    settings.ServerRoot = "/music";
    settings.WinampLocation = "mpd";
    settings.LogLevel = LogLevel::ConnectionsOnly;
    settings.LoginRequired = false;
    settings.LogFile = "/tmp/z.log";
    settings.UserName = "ann";
    // A stored value longer than a field takes is loaded whole.
    settings.Password = std::string(kMaxLineLength + 5, 'p');
    form.Change("Txt_Logfile", settings.LogFile);
    ASSERT_TRUE(view.warning);
    const ServerSettings before = settings;

    form.load();
    EXPECT_EQ(view.calls,
              (Calls{"Txt_Port=2323", "Txt_Serverroot=/music", "Txt_Winamp_Location=mpd",
                     "Opt_Logging(1)", "Opt_Login(0)", "Txt_Logfile=/tmp/z.log", "Txt_Uname=ann",
                     "Txt_Passwd=" + settings.Password}));
    EXPECT_EQ(settings, before);
    EXPECT_FALSE(view.warning);

    // A window that reports its own loading as edits and clicks changes nothing either.
    class EchoingView : public RecordingView
    {
    public:
        void setFieldText(std::string_view field, const std::string&) override
        {
            form->Change(field, "echo");
        }
        void checkOption(std::string_view) override { form->Click("Opt_Logging(2)"); }
    } echoing;
    SettingsForm echoed(settings, echoing);
    echoing.form = &echoed;
    echoed.load();
    EXPECT_EQ(settings, before);
    EXPECT_FALSE(echoing.warning);
    echoed.Change("Txt_Uname", "bob");
    EXPECT_EQ(settings.UserName, "bob") << "edits count once loading is over";
}

TEST_F(Form, PortKeysPassOnlyDigitsAndBackspaceRefuseTheRestAndAllWarn)
{
    struct Row
    {
        char16_t key;
        bool goesIn;
        bool refused;
    };
    const Row rows[] = {
        {u'0', true, false},   {u'9', true, false},      {u'\b', true, false},
        {u'\r', false, false}, {u'.', false, false},     {u'-', false, false},
        {u')', false, false},  {u'*', false, false},     {u'a', false, true},
        {u' ', false, true},   {u'+', false, true},      {u'\x1b', false, true},
        {0, false, true},      {u'\u0663', false, true},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(static_cast<int>(row.key));
        form.Click("Cmd_Start");
        view.calls.clear();
        EXPECT_EQ(form.Txt_Port_KeyPress(row.key), row.goesIn);
        EXPECT_EQ(view.calls, row.refused ? Calls{"refused"} : Calls{});
        EXPECT_TRUE(view.warning);
    }
    EXPECT_EQ(settings.Port, "23") << "the field's change sets the port, not the key";
}

TEST_F(Form, RestartHidesTheWarningBeforeTheServerListensAgain)
{
    int restarts = 0;
    form.restart = [&] { restarts += view.warning ? 100 : 1; };
    form.Change("Txt_Serverroot", "/music");
    ASSERT_TRUE(view.warning);
    EXPECT_TRUE(form.Click("Cmd_Start"));
    EXPECT_EQ(restarts, 1);
    EXPECT_FALSE(view.warning);
    SettingsForm withoutHook(settings, view);
    EXPECT_TRUE(withoutHook.Click("Cmd_Start"));
}

TEST_F(Form, BrowseButtonsFillTheirFieldAndShareOneFileName)
{
    struct Row
    {
        const char* button;
        std::optional<std::string> answer;
        Calls calls;
    };
    // In order: the player dialog starts at the name either dialog chose last, the log dialog
    // always starts empty; a cancel leaves the field and the name as they were.
    const Row rows[] = {
        {"Cmd_svrroot_browse", std::nullopt, {"pickFolder"}},
        {"Cmd_svrroot_browse", "/srv/music", {"pickFolder", "Txt_Serverroot=/srv/music"}},
        {"Cmd_WinampLoc_Browse", std::nullopt, {"pickFile Winamp (winamp.exe) at \"\""}},
        {"Cmd_Log_Browse",
         "/var/z.log",
         {"pickFile Text Files (*.txt, *.log) at \"\"", "Txt_Logfile=/var/z.log"}},
        {"Cmd_WinampLoc_Browse",
         "/usr/bin/mpd",
         {"pickFile Winamp (winamp.exe) at \"/var/z.log\"", "Txt_Winamp_Location=/usr/bin/mpd"}},
        {"Cmd_WinampLoc_Browse",
         std::nullopt,
         {"pickFile Winamp (winamp.exe) at \"/usr/bin/mpd\""}},
        {"Cmd_Log_Browse", std::nullopt, {"pickFile Text Files (*.txt, *.log) at \"\""}},
        {"Cmd_WinampLoc_Browse", std::nullopt, {"pickFile Winamp (winamp.exe) at \"\""}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.button);
        view.calls.clear();
        view.answer = row.answer;
        EXPECT_TRUE(form.Click(row.button));
        EXPECT_EQ(view.calls, row.calls);
    }
    EXPECT_EQ(settings.ServerRoot, "/srv/music");
    EXPECT_EQ(settings.LogFile, "/var/z.log");
    EXPECT_EQ(settings.WinampLocation, "/usr/bin/mpd");
    EXPECT_TRUE(view.warning);
}

TEST(FormFields, OnlyTheCredentialsHaveAByteLimitOfOneTypedLine)
{
    constexpr auto none = std::numeric_limits<std::size_t>::max();
    const std::pair<const char*, std::size_t> rows[] = {
        {"Txt_Port", none},           {"Txt_Serverroot", none}, {"Txt_Winamp_Location", none},
        {"Txt_Logfile", none},        {"Txt_Uname", 1024},      {"Txt_Passwd", 1024},
        {"lbl_restartwarning", none},
    };
    for (const auto& [field, limit] : rows)
        EXPECT_EQ(SettingsForm::byteLimit(field), limit) << field;
    EXPECT_EQ(static_cast<std::size_t>(layout::kCredentialLimit), kMaxLineLength);
}

TEST(FormFont, CaptionsFitUnlessALabelReachesItsFieldOrAButtonItsEdges)
{
    // At 15 twips a pixel: "Port:" has 32 pixels before its field, "Browse" 45 in its button.
    const auto pixels = [](int twips) { return twips / 15; };
    struct Row
    {
        int port;
        int browse;
        int others;
        bool fits;
    };
    const Row rows[] = {
        {31, 39, 1, true}, {32, 39, 1, false}, {31, 40, 1, false},
        {1, 1, 1, true},   {1, 1, 200, false},
    };
    for (const Row& row : rows) {
        const auto width = [&](std::string_view text) {
            return text == "Port:" ? row.port : text == "Browse" ? row.browse : row.others;
        };
        EXPECT_EQ(captionsFit(width, pixels), row.fits)
            << row.port << " " << row.browse << " " << row.others;
    }
}

// A desktop may report one minimize twice (wine's X11 driver does): the second report finds the
// window in the tray and must not add the icon again, so that "&Restore" still removes it.
TEST(TrayJourney, RepeatedReportsChangeNothingAndOnlyARightPressOpensTheMenu)
{
    struct Recorder : TrayActions
    {
        void hideWindow() override { calls.emplace_back("hide"); }
        void showWindowNormal() override { calls.emplace_back("show"); }
        void showWindowMinimized() override { calls.emplace_back("minimized"); }
        void AddTrayIcon() override { calls.emplace_back("add"); }
        void RemoveTrayIcon() override { calls.emplace_back("remove"); }
        void reportNoTray() override { calls.emplace_back("no tray"); }
        void unloadWindow() override { calls.emplace_back("unload"); }
        Calls calls;
    } actions;
    TrayStateMachine machine(actions);
    machine.minimized(true);
    machine.minimized(true);
    machine.unminimized();
    machine.restore();
    machine.restore();
    machine.shutdown();
    machine.restore();
    machine.minimized(true);
    EXPECT_EQ(actions.calls, (Calls{"add", "hide", "show", "remove", "unload", "remove"}));
    EXPECT_EQ(machine.place(), WindowPlace::Ended);

    const std::pair<TrayMouse, bool> rows[] = {
        {TrayMouse::Move, false},
        {TrayMouse::LeftDown, false},
        {TrayMouse::LeftUp, false},
        {TrayMouse::LeftDoubleClick, false},
        {TrayMouse::RightDown, true},
        {TrayMouse::RightUp, false},
        {TrayMouse::RightDoubleClick, false},
    };
    for (const auto& [event, opens] : rows)
        EXPECT_EQ(opensTrayMenu(event), opens) << static_cast<int>(event);
}

} // namespace
} // namespace zelvor::test
