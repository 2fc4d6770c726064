// SPDX-License-Identifier: MIT
#include "app/CommandLineOptions.h"
#include "app/LocalReplies.h"
#include "server/TelnetSession.h"
#include "settings/ServerSettings.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

namespace zelvor {
namespace {

using Action = CommandLineOptions::Action;

struct Row
{
    const char* name;
    std::vector<std::string> arguments;
    Action action;
    std::string error = {};
};

TEST(CommandLineOptions, EveryFormAndEveryFault)
{
    const test::TempDir folder;
    folder.write("file.txt");
    folder.mkdir("music");
    const std::string music = (folder.path() / "music").string();
    const Row rows[] = {
        {"nothing", {}, Action::Run},
        {"help", {"--help"}, Action::Help},
        {"short help", {"-h"}, Action::Help},
        {"version", {"--version"}, Action::Version},
        {"help wins over version", {"--version", "--help"}, Action::Help},
        {"all four",
         {"--port", "2323", "--root", "music", "--player=mpd x", "--config-dir=c"},
         Action::Run},
        {"unknown",
         {"--portt", "1"},
         Action::Fail,
         "zelvor: unknown option \"--portt\" (see zelvor --help)"},
        {"a plain word",
         {"music"},
         Action::Fail,
         "zelvor: unknown option \"music\" (see zelvor --help)"},
        {"value missing",
         {"--root"},
         Action::Fail,
         "zelvor: --root needs a value (see zelvor --help)"},
        {"value empty",
         {"--player="},
         Action::Fail,
         "zelvor: --player needs a value (see zelvor --help)"},
        {"port zero",
         {"--port", "0"},
         Action::Fail,
         "zelvor: --port wants a number from 1 to 65535, not \"0\" (see zelvor --help)"},
        {"port too big",
         {"--port=65536"},
         Action::Fail,
         "zelvor: --port wants a number from 1 to 65535, not \"65536\" (see zelvor --help)"},
        {"port with sign",
         {"--port", "+23"},
         Action::Fail,
         "zelvor: --port wants a number from 1 to 65535, not \"+23\" (see zelvor --help)"},
        {"root missing",
         {"--root", "nowhere"},
         Action::Fail,
         "zelvor: --root: no folder \"nowhere\" (see zelvor --help)"},
        {"root a file",
         {"--root", "file.txt"},
         Action::Fail,
         "zelvor: --root: no folder \"file.txt\" (see zelvor --help)"},
        {"config dir a file",
         {"--config-dir", "file.txt"},
         Action::Fail,
         "zelvor: --config-dir: \"file.txt\" is not a folder (see zelvor --help)"},
        {"listen and no negotiation", {"--listen", "[::1]", "--no-negotiate"}, Action::Run},
        {"listen at a host name",
         {"--listen=localhost"},
         Action::Fail,
         "zelvor: --listen wants an IPv4 or IPv6 address, not \"localhost\" (see zelvor --help)"},
        {"listen at a bad address",
         {"--listen", "10.0.0.256"},
         Action::Fail,
         "zelvor: --listen wants an IPv4 or IPv6 address, not \"10.0.0.256\" (see zelvor "
         "--help)"},
        {"no-negotiate takes no value",
         {"--no-negotiate=yes"},
         Action::Fail,
         "zelvor: unknown option \"--no-negotiate=yes\" (see zelvor --help)"},
        {"fault after help",
         {"--help", "--bad"},
         Action::Fail,
         "zelvor: unknown option \"--bad\" (see zelvor --help)"},
    };
    for (const auto& row : rows) {
        const auto options = parseCommandLine(row.arguments, folder.path());
        EXPECT_EQ(options.action, row.action) << row.name;
        EXPECT_EQ(options.error, row.error) << row.name;
    }

    const auto options = parseCommandLine(rows[5].arguments, folder.path());
    EXPECT_EQ(options.port, "2323");
    EXPECT_EQ(options.serverRoot, music);
    EXPECT_EQ(options.player, "mpd x");
    EXPECT_EQ(options.configDir, (folder.path() / "c").string());
    EXPECT_FALSE(options.noNegotiate);

    ServerSettings settings;
    settings.ListenAddress = "10.0.0.1";
    applyCommandLine(parseCommandLine({"--no-negotiate", "--listen", "[::1]"}, folder.path()),
                     settings);
    EXPECT_EQ(settings.ListenAddress, "::1");
    EXPECT_FALSE(settings.Negotiate);
    settings.ListenAddress = "10.0.0.1";
    settings.Negotiate = true;
    applyCommandLine(parseCommandLine({}, folder.path()), settings);
    EXPECT_EQ(settings.ListenAddress, "10.0.0.1");
    EXPECT_TRUE(settings.Negotiate);
}

TEST(CommandLineOptions, GivenSettingsReplaceTheLoadedOnesAndOthersStay)
{
    const test::TempDir folder;
    folder.mkdir("music");
    ServerSettings settings;
    settings.Port = "23";
    settings.ServerRoot = "/old";
    settings.WinampLocation = "mpd";
    settings.UserName = "bob";
    applyCommandLine(
        parseCommandLine({"--port", "02323", "--root", folder.str() + "/music/"}, "/elsewhere"),
        settings);
    EXPECT_EQ(settings.Port, "2323");
    EXPECT_EQ(settings.ServerRoot, folder.str() + "/music");
    EXPECT_EQ(settings.WinampLocation, "mpd");
    EXPECT_EQ(settings.UserName, "bob");
}

TEST(CommandLineOptions, HelpAndPortHint)
{
    const std::string usage = usageText();
    for (const char* text :
         {"--port N", "--root DIR", "--player CMD", "--config-dir DIR", "--listen ADDRESS",
          "--no-negotiate", "SIGTERM, SIGINT", "SIGHUP", "MPD_HOST, MPD_PORT", "XDG_CONFIG_HOME",
          "QT_QPA_PLATFORM", "-c LINE", "--attach", "zelvor.sock", "XDG_RUNTIME_DIR",
          "SSH_ORIGINAL_COMMAND", "3 when no Zelvor answers"})
        EXPECT_NE(usage.find(text), std::string::npos) << text;

    EXPECT_EQ(listenHint("cannot listen: port 23 not permitted: denied", "/usr/bin/zelvor"),
              "zelvor: ports below 1024 need root: run Zelvor as root, or allow it with \"sudo "
              "setcap cap_net_bind_service=+ep /usr/bin/zelvor\", or choose another port: zelvor "
              "--port 2323");
    EXPECT_EQ(listenHint("cannot listen: port 23 in use: busy", "/usr/bin/zelvor"), "");
}

// The client of the local socket: its lines are taken as they are, in order.
TEST(CommandLineOptions, CommandLinesAndAttach)
{
    const test::TempDir folder;
    struct ClientRow
    {
        const char* name;
        std::vector<std::string> arguments;
        Action action;
        std::vector<std::string> commands;
        std::string error = {};
    };
    const ClientRow rows[] = {
        {"one line", {"-c", "np"}, Action::Command, {"np"}},
        {"lines in order, as they are",
         {"-c", "cd Rock", "--config-dir", "c", "-c", "--port=1", "-c", ""},
         Action::Command,
         {"cd Rock", "--port=1", ""}},
        {"attach", {"--attach", "--config-dir=c"}, Action::Attach, {}},
        {"help still wins", {"-c", "np", "--help"}, Action::Help, {"np"}},
        {"no line",
         {"-c"},
         Action::Fail,
         {},
         "zelvor: -c needs a command line (see zelvor --help)"},
        {"a line break",
         {"-c", "play\nstop"},
         Action::Fail,
         {},
         "zelvor: -c takes one line; give each line its own -c (see zelvor --help)"},
        {"both",
         {"--attach", "-c", "np"},
         Action::Fail,
         {},
         "zelvor: -c and --attach exclude each other (see zelvor --help)"},
    };
    for (const auto& row : rows) {
        const auto options = parseCommandLine(row.arguments, folder.path());
        EXPECT_EQ(options.action, row.action) << row.name;
        EXPECT_EQ(options.error, row.error) << row.name;
        if (row.action != Action::Fail) {
            EXPECT_EQ(options.commands, row.commands) << row.name;
        }
    }
}

TEST(LocalSocket, PathAndPrintedReplies)
{
    EXPECT_EQ(localSocketPath(false, "/run/user/1000", "/home/me/.config/zelvor"),
              "/run/user/1000/zelvor.sock");
    EXPECT_EQ(localSocketPath(false, "", "/home/me/.config/zelvor"),
              "/home/me/.config/zelvor/zelvor.sock");
    EXPECT_EQ(localSocketPath(false, nullptr, "/s"), "/s/zelvor.sock");
    EXPECT_EQ(localSocketPath(true, "/run/user/1000", "/my/dir"), "/my/dir/zelvor.sock");

    struct ReplyRow
    {
        const char* name;
        std::string received, line, printed;
        bool failed;
    };
    const std::string cut(kMaxLineLength, 'x');
    const ReplyRow rows[] = {
        {"a reply of two lines", "status\r\nA\r\nB\r\nZelvor>", "status", "A\nB\n", false},
        {"an empty reply", "cd\r\nZelvor>", "cd", "", false},
        {"an empty line of the reply stays", "ls\r\n/m/\r\n\r\nx\r\nZelvor>", "ls", "/m/\n\nx\n",
         false},
        {"the failure line", "play\r\nCommand Failed - Winamp may not be running\r\nZelvor>",
         "play", "Command Failed - Winamp may not be running\n", true},
        {"the failure line after other lines",
         "load\r\nLoading 2 files\r\nCommand Failed - Winamp may not be running\r\nZelvor>", "load",
         "Loading 2 files\nCommand Failed - Winamp may not be running\n", true},
        {"an unknown verb", "PLAY\r\nI don't know how to PLAY\r\nZelvor>", "PLAY",
         "I don't know how to PLAY\n", true},
        {"a name that only looks like it", "find I\r\n/I don't know how to x.mp3\r\nZelvor>",
         "find I", "/I don't know how to x.mp3\n", false},
        {"exit: no prompt", "exit", "exit", "", false},
        {"a line cut at the limit", cut + "\r\nI don't know how to " + cut + "\r\nZelvor>",
         cut + "yyy", "I don't know how to " + cut + "\n", true},
    };
    for (const auto& row : rows) {
        const PrintedReply reply = printedReply(row.received, row.line);
        EXPECT_EQ(reply.text, row.printed) << row.name;
        EXPECT_EQ(reply.failed, row.failed) << row.name;
    }
}

} // namespace
} // namespace zelvor
