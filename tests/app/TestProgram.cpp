// SPDX-License-Identifier: MIT
#include "TcpClient.h"
#include "ZelvorProcess.h"
#include "settings/PasswordScrambling.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <regex>
#include <vector>

#include <spawn.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;
#include <thread>

#include <unistd.h>

namespace zelvor {
namespace {

using test::TcpClient;
using test::ZelvorProcess;

/** Polls the condition for up to ten seconds. */
bool eventually(const std::function<bool()>& condition)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (std::chrono::steady_clock::now() < deadline) {
        if (condition())
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return false;
}

std::string iniWith(std::uint16_t port, const std::string& extra = {})
{
    return "[Zelvor]\r\nPort=" + std::to_string(port) +
           "\r\nUser=bob\r\nPassword=" + EncryptPassword("pw") + "\r\n" + extra;
}

TEST(Program, FirstStartWritesTheDefaultSettingsOnlyAtShutdown)
{
    ZelvorProcess zelvor;
    zelvor.start();
    ASSERT_TRUE(zelvor.waitForOutput("\n")) << "no status word printed";
    EXPECT_FALSE(std::filesystem::exists(zelvor.iniFile()));
    zelvor.signal(SIGTERM);
    EXPECT_EQ(zelvor.wait(), 0);
    const std::string musicFolder = (zelvor.home().path() / "Music").string();
    const std::string logFile = (zelvor.settingsFolder() / "zelvor.log").string();
    EXPECT_EQ(test::readFile(zelvor.iniFile()),
              "[Zelvor]\r\nPort=23\r\nServer Root=" + musicFolder +
                  "\r\nWinamp Location=mpd\r\nLogLevel1=False\r\nLogLevel2=False\r\n"
                  "Login=False\r\nServer Logfile=" +
                  logFile + "\r\nUser=user\r\nPassword=00\r\n");
    EXPECT_EQ(std::filesystem::status(zelvor.iniFile()).permissions() & std::filesystem::perms::all,
              std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
}

TEST(Program, SavedSettingsComeBackAndAClientLogsIn)
{
    const std::uint16_t port = test::freePort();
    ZelvorProcess zelvor;
    zelvor.writeIni(iniWith(port, "; kept as it is\r\nLogLevel2=true\r\n[Other]\r\nx=1\r\n"));
    zelvor.start();
    ASSERT_TRUE(zelvor.waitListening());

    TcpClient client;
    ASSERT_TRUE(client.connect("127.0.0.1", port));
    EXPECT_EQ(client.readUntil("User:").substr(0, 20), "\xff\xfb\x01\xff\xfb\x03Zelvor v.1.0\r\n");
    client.type("bob\r\n");
    client.readUntil("Pass:");
    client.type("pw\r\n");
    ASSERT_EQ(client.readUntil("Zelvor>"), "\r\nZelvor>");
    client.type("hello\r\n");
    EXPECT_EQ(client.readUntil("Zelvor>"), "hello\r\nI don't know how to hello\r\nZelvor>");
    client.type("exit\r\n");
    EXPECT_TRUE(client.waitForClose());

    zelvor.signal(SIGINT);
    EXPECT_EQ(zelvor.wait(), 0);
    const std::string ini = test::readFile(zelvor.iniFile());
    EXPECT_NE(ini.find("Port=" + std::to_string(port) + "\r\n"), std::string::npos) << ini;
    EXPECT_NE(ini.find("User=bob\r\n"), std::string::npos);
    EXPECT_NE(ini.find("Password=" + EncryptPassword("pw") + "\r\n"), std::string::npos);
    EXPECT_NE(ini.find("; kept as it is\r\n"), std::string::npos);
    EXPECT_NE(ini.find("LogLevel2=True\r\n"), std::string::npos);
    EXPECT_NE(ini.find("[Other]\r\nx=1\r\n"), std::string::npos);

    // All activity went to the default log file, the password never.
    const std::string log = test::readFile(zelvor.settingsFolder() / "zelvor.log");
    EXPECT_NE(log.find("\t127.0.0.1\thello\"\r\n"), std::string::npos) << log;
    EXPECT_NE(log.find("\t127.0.0.1\texit\"\r\n"), std::string::npos) << log;
    EXPECT_EQ(log.find("pw"), std::string::npos);
    EXPECT_EQ(zelvor.errorOutput().find("pw"), std::string::npos);
}

TEST(Program, PasswordLongerThanALineLoadsUnchangedWithOneWarningAndNobodyLogsIn)
{
    const std::uint16_t port = test::freePort();
    const std::string longPassword(1500, 'k');
    const std::string ini = "[Zelvor]\r\nPort=" + std::to_string(port) +
                            "\r\nUser=bob\r\nPassword=" + EncryptPassword(longPassword) + "\r\n";
    ZelvorProcess zelvor;
    zelvor.writeIni(ini);
    zelvor.start();
    ASSERT_TRUE(zelvor.waitListening());

    // Typed whole, the password overflows the line and fails.
    TcpClient client;
    ASSERT_TRUE(client.connect("127.0.0.1", port));
    client.readUntil("User:");
    client.send("bob\r\n");
    client.readUntil("Pass:");
    client.send(longPassword + "\r\n");
    EXPECT_EQ(client.readUntil("User:"), "\r\nUser:");
    client.close();

    zelvor.signal(SIGTERM);
    EXPECT_EQ(zelvor.wait(), 0);
    // The stored password is kept as it is, and the program said once why nobody gets in.
    EXPECT_NE(test::readFile(zelvor.iniFile())
                  .find("\r\nPassword=" + EncryptPassword(longPassword) + "\r\n"),
              std::string::npos);
    const std::string output = zelvor.errorOutput();
    const auto warning = output.find("nobody can log in");
    EXPECT_NE(warning, std::string::npos) << output;
    EXPECT_EQ(output.find("nobody can log in", warning + 1), std::string::npos) << output;
    EXPECT_EQ(output.find(longPassword.substr(0, 20)), std::string::npos);
}

TEST(Program, HeadlessPrintsEveryStatusWordWithDateAndTime)
{
    const std::uint16_t port = test::freePort();
    ZelvorProcess zelvor;
    zelvor.writeIni(iniWith(port, "Login=True\r\n"));
    zelvor.start();
    ASSERT_TRUE(zelvor.waitListening());
    {
        TcpClient client;
        ASSERT_TRUE(client.connect("127.0.0.1", port));
        client.readUntil("Zelvor>");
        client.type("x\x01y\r\n");
        client.readUntil("Zelvor>");
    }
    ASSERT_TRUE(zelvor.waitForOutput(" disconnecting\n"));
    zelvor.signal(SIGTERM);
    EXPECT_EQ(zelvor.wait(), 0);
    const std::string output = zelvor.errorOutput();
    for (const char* word : {"started", "connected", "connecting", "x\\?y", "disconnecting"}) {
        const std::regex line(std::string("(^|\n)[^\n]*[0-9][^\n]* [0-9]+:[0-9]+:[0-9]+[^\n]* ") +
                              word + "\n");
        EXPECT_TRUE(std::regex_search(output, line)) << word << " in\n" << output;
    }
    // The login is off: said once, before the door opens.
    const auto open = output.find(" open to anyone\n");
    EXPECT_LT(open, output.find(" started\n")) << output;
    EXPECT_EQ(output.find(" open to anyone\n", open + 1), std::string::npos) << output;
}

// The address from zelvor.ini or the command line is the only one that answers; the option
// offer goes out or not by Negotiate and --no-negotiate.
TEST(Program, ListenAddressAndNegotiationFromFileAndCommandLine)
{
    struct Row
    {
        const char* what;
        std::string iniLines;
        std::vector<std::string> args;
        const char* served;
        const char* refused;
        bool offer;
    };
    const std::vector<Row> rows = {
        {"defaults", "", {}, "127.0.0.2", nullptr, true},
        {"file",
         "Listen Address=127.0.0.2\r\nNegotiate=False\r\n",
         {},
         "127.0.0.2",
         "127.0.0.1",
         false},
        {"command line over file",
         "Listen Address=127.0.0.2\r\n",
         {"--listen", "127.0.0.1", "--no-negotiate"},
         "127.0.0.1",
         "127.0.0.2",
         false},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        const std::uint16_t port = test::freePort();
        ZelvorProcess zelvor;
        zelvor.writeIni(iniWith(port, row.iniLines));
        zelvor.setArgs(row.args);
        zelvor.start();
        ASSERT_TRUE(zelvor.waitListening());
        if (row.refused) {
            TcpClient stranger;
            EXPECT_FALSE(stranger.connect(row.refused, port));
        }
        TcpClient client;
        ASSERT_TRUE(client.connect(row.served, port));
        EXPECT_EQ(client.readUntil("User:").substr(0, row.offer ? 20 : 14),
                  std::string(row.offer ? "\xff\xfb\x01\xff\xfb\x03" : "") + "Zelvor v.1.0\r\n");
        client.close();
        zelvor.signal(SIGTERM);
        EXPECT_EQ(zelvor.wait(), 0);
        // The command line's choice was for this run only.
        const std::string ini = test::readFile(zelvor.iniFile());
        EXPECT_NE(ini.find(row.iniLines), std::string::npos) << ini;
        EXPECT_EQ(ini.find("127.0.0.1"), std::string::npos) << ini;
    }
}

/** Two programs set to one port: the first listens, the second finds the port in use. */
class BusyPort : public ::testing::Test
{
protected:
    void SetUp() override
    {
        first.writeIni(iniWith(port));
        first.start();
        ASSERT_TRUE(first.waitListening());
        second.writeIni(iniWith(port));
        second.start();
        ASSERT_TRUE(second.waitForOutput("port " + std::to_string(port) + " in use\n"));
    }

    const std::uint16_t port = test::freePort();
    ZelvorProcess first;
    ZelvorProcess second;
};

TEST_F(BusyPort, KeepsTheProgramRunning)
{
    second.signal(SIGTERM);
    EXPECT_EQ(second.wait(), 0);
    first.signal(SIGTERM);
    EXPECT_EQ(first.wait(), 0);
}

TEST_F(BusyPort, HangUpSignalReopensAListenerThatFailed)
{
    first.signal(SIGTERM);
    EXPECT_EQ(first.wait(), 0);
    second.signal(SIGHUP);
    ASSERT_TRUE(second.waitListening());
    TcpClient client;
    EXPECT_TRUE(client.connect("127.0.0.1", port));
    EXPECT_NE(client.readUntil("User:").find("User:"), std::string::npos);
    client.close();
    second.signal(SIGTERM);
    EXPECT_EQ(second.wait(), 0);
}

TEST(Program, UnreadableSettingsFileGivesDefaults)
{
    ZelvorProcess zelvor;
    std::filesystem::create_directories(zelvor.iniFile());
    zelvor.start();
    ASSERT_TRUE(zelvor.waitForOutput("\n"));
    zelvor.signal(SIGTERM);
    EXPECT_EQ(zelvor.wait(), 0);
}

/**
 * Starts the program with login off, lets a client in, and ends it with SIGTERM; the program
 * must have run as a desktop, which has its status line and prints nothing per word.
 */
void expectDesktopServesAndSaves(ZelvorProcess& zelvor)
{
    const std::uint16_t port = test::freePort();
    zelvor.writeIni(iniWith(port, "Login=True\r\n"));
    zelvor.start();
    TcpClient client;
    ASSERT_TRUE(eventually([&] { return client.connect("127.0.0.1", port); }));
    EXPECT_EQ(client.readUntil("Zelvor>").substr(0, 20),
              "\xff\xfb\x01\xff\xfb\x03Zelvor v.1.0\r\n");
    client.close();
    zelvor.signal(SIGTERM);
    EXPECT_EQ(zelvor.wait(), 0);
    EXPECT_NE(test::readFile(zelvor.iniFile()).find("Login=True\r\n"), std::string::npos);
    EXPECT_EQ(zelvor.errorOutput().find(" connecting\n"), std::string::npos)
        << zelvor.errorOutput();
}

TEST(Program, DesktopModeServesAndSavesOnSignal)
{
    ZelvorProcess zelvor;
    zelvor.setEnv("QT_QPA_PLATFORM", "offscreen");
    expectDesktopServesAndSaves(zelvor);
}

// The folder is there from the start, so the default log works in the first run; what a save
// killed half way left there is removed, nothing else.
TEST(Program, StartCreatesThePrivateSettingsFolderAndClearsHalfWrittenSaves)
{
    namespace fs = std::filesystem;
    ZelvorProcess fresh;
    fresh.start();
    ASSERT_TRUE(fresh.waitForOutput("\n"));
    EXPECT_TRUE(fs::is_directory(fresh.settingsFolder()));
    EXPECT_EQ(fs::status(fresh.settingsFolder()).permissions() & fs::perms::all,
              fs::perms::owner_all);
    EXPECT_FALSE(fs::exists(fresh.iniFile()));
    fresh.signal(SIGTERM);
    EXPECT_EQ(fresh.wait(), 0);

    const std::uint16_t port = test::freePort();
    ZelvorProcess zelvor;
    zelvor.writeIni(iniWith(port));
    for (const char* name : {"zelvor.ini.new-q1W2e3", "zelvor.ini.new-Zz9", "zelvor.log"})
        zelvor.home().write(std::string("config/zelvor/") + name, "half");
    zelvor.start();
    ASSERT_TRUE(zelvor.waitListening());
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(zelvor.settingsFolder()))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    // Without XDG_RUNTIME_DIR the local socket is there too, until the shutdown.
    EXPECT_EQ(names, (std::vector<std::string>{"zelvor.ini", "zelvor.log", "zelvor.sock"}));
    zelvor.signal(SIGTERM);
    EXPECT_EQ(zelvor.wait(), 0);
    EXPECT_FALSE(fs::exists(zelvor.settingsFolder() / "zelvor.sock"));
}

// Log entries and status lines keep their layout in locales whose time form has the zone in
// brackets, after a separator or in front.
TEST(Program, LogTimesKeepTheirLayoutInEveryLocale)
{
    for (const char* locale :
         {"es_ES.UTF-8", "ca_ES.UTF-8", "fa_IR.UTF-8", "sq_AL.UTF-8", "be_BY.UTF-8", "zh_TW.UTF-8",
          "my_MM.UTF-8", "de_DE.UTF-8", "ja_JP.UTF-8", "en_US.UTF-8"}) {
        SCOPED_TRACE(locale);
        ZelvorProcess zelvor;
        zelvor.setEnv("LC_ALL", locale);
        zelvor.writeIni(iniWith(test::freePort(), "LogLevel1=True\r\n"));
        zelvor.start();
        ASSERT_TRUE(zelvor.waitListening());
        zelvor.signal(SIGTERM);
        ASSERT_EQ(zelvor.wait(), 0);
        const std::string log = test::readFile(zelvor.settingsFolder() / "zelvor.log");
        const std::string output = zelvor.errorOutput();
        std::smatch entry;
        ASSERT_TRUE(std::regex_match(log, entry, std::regex("\"([^\t\"]+)\t\tstarted\"\r\n")))
            << log;
        std::smatch line;
        ASSERT_TRUE(std::regex_search(output, line, std::regex("(^|\n)([^\n]+) started\n")))
            << output;
        for (const std::string& stamp : {entry[1].str(), line[2].str()}) {
            EXPECT_EQ(stamp.find("()"), std::string::npos) << stamp;
            EXPECT_EQ(stamp.find("[]"), std::string::npos) << stamp;
            EXPECT_EQ(std::string(",;([ ").find(stamp.back()), std::string::npos) << stamp;
            EXPECT_NE(stamp.find(' '), std::string::npos) << stamp;
        }
    }
}

/** Whether something accepts a connection on the Unix socket at path. */
bool socketAccepts(const std::string& path)
{
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    const bool accepted =
        ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
    ::close(fd);
    return accepted;
}

// A Wayland session without XWayland: the program runs as a desktop client of the compositor
// (Debian's weston on its headless back end), and headless when WAYLAND_DISPLAY leads nowhere.
TEST(Program, WaylandSessionWithoutAnXDisplayGetsTheDesktop)
{
    const std::string weston = "/usr/bin/weston";
    if (!std::filesystem::exists(weston))
        GTEST_SKIP() << "weston is not installed";
    test::TempDir runtime;
    std::filesystem::permissions(runtime.path(), std::filesystem::perms::owner_all);
    std::vector<std::string> args{weston, "--backend=headless-backend.so", "--socket=zelvor-wl",
                                  "--idle-time=0", "--log=" + runtime.str() + "/weston.log"};
    std::vector<char*> argv;
    for (auto& arg : args)
        argv.push_back(arg.data());
    argv.push_back(nullptr);
    std::vector<std::string> env{"XDG_RUNTIME_DIR=" + runtime.str()};
    for (char** entry = environ; *entry; ++entry) {
        if (std::strncmp(*entry, "XDG_RUNTIME_DIR=", 16) != 0)
            env.emplace_back(*entry);
    }
    std::vector<char*> envp;
    for (auto& entry : env)
        envp.push_back(entry.data());
    envp.push_back(nullptr);
    pid_t compositor = -1;
    ASSERT_EQ(
        ::posix_spawn(&compositor, weston.c_str(), nullptr, nullptr, argv.data(), envp.data()), 0);
    const auto stopCompositor = [compositor] {
        ::kill(compositor, SIGTERM);
        ::waitpid(compositor, nullptr, 0);
    };
    if (!eventually([&] { return socketAccepts(runtime.str() + "/zelvor-wl"); })) {
        stopCompositor();
        FAIL() << "weston did not start:\n" << test::readFile(runtime.path() / "weston.log");
    }

    ZelvorProcess zelvor;
    zelvor.setEnv("XDG_RUNTIME_DIR", runtime.str());
    zelvor.setEnv("WAYLAND_DISPLAY", "zelvor-wl");
    // Qt's Wayland client keeps its globals to the end, partly in a plugin already unloaded by
    // then, which leaves no name to suppress them by; the offscreen desktop test checks leaks.
    if (const char* sanitizer = std::getenv("ASAN_OPTIONS"))
        zelvor.setEnv("ASAN_OPTIONS", std::string(sanitizer) + ":detect_leaks=0");
    expectDesktopServesAndSaves(zelvor);

    ZelvorProcess nowhere;
    nowhere.setEnv("XDG_RUNTIME_DIR", runtime.str());
    nowhere.setEnv("WAYLAND_DISPLAY", "no-compositor");
    nowhere.start();
    EXPECT_TRUE(nowhere.waitListening()) << nowhere.errorOutput();
    nowhere.signal(SIGTERM);
    EXPECT_EQ(nowhere.wait(), 0);
    stopCompositor();
}

TEST(Program, VersionAndHelp)
{
    const std::string command = std::string(ZELVOR_BINARY) + " --version";
    FILE* pipe = ::popen(command.c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    char buffer[64] = {};
    const std::size_t n = std::fread(buffer, 1, sizeof buffer - 1, pipe);
    EXPECT_EQ(::pclose(pipe), 0);
    EXPECT_EQ(std::string(buffer, n), "Zelvor 1.0.0.7\n");
}

TEST(Program, BadOptionsEndWithStatusTwoBeforeAnythingIsWritten)
{
    for (const std::vector<std::string>& args : {std::vector<std::string>{"--port", "x"},
                                                 {"--root"},
                                                 {"--verbose"},
                                                 {"--listen", "localhost"}}) {
        ZelvorProcess zelvor;
        zelvor.setArgs(args);
        zelvor.start();
        EXPECT_EQ(zelvor.wait(), 2) << args[0];
        const std::string output = zelvor.errorOutput();
        EXPECT_EQ(output.find('\n'), output.size() - 1) << output;
        EXPECT_EQ(output.rfind("zelvor: ", 0), 0u) << output;
        EXPECT_FALSE(std::filesystem::exists(zelvor.settingsFolder())) << args[0];
    }
}

TEST(Program, ConfigDirHoldsTheSettingsAndThePortOptionIsSaved)
{
    const std::uint16_t port = test::freePort();
    ZelvorProcess zelvor;
    const auto folder = zelvor.home().path() / "elsewhere";
    zelvor.setArgs({"--config-dir", folder.string(), "--port=" + std::to_string(port)});
    zelvor.start();
    ASSERT_TRUE(zelvor.waitListening());
    TcpClient client;
    EXPECT_TRUE(client.connect("127.0.0.1", port));
    client.close();
    zelvor.signal(SIGTERM);
    EXPECT_EQ(zelvor.wait(), 0);
    EXPECT_FALSE(std::filesystem::exists(zelvor.iniFile()));
    const std::string ini = test::readFile(folder / "zelvor.ini");
    EXPECT_NE(ini.find("Port=" + std::to_string(port) + "\r\n"), std::string::npos) << ini;
    EXPECT_NE(ini.find("Server Logfile=" + (folder / "zelvor.log").string() + "\r\n"),
              std::string::npos)
        << ini;
}

TEST(Program, APortThatIsNotPermittedGetsAHint)
{
    if (std::stoi(test::readFile("/proc/sys/net/ipv4/ip_unprivileged_port_start")) < 2)
        GTEST_SKIP() << "every port is permitted here";
    ZelvorProcess zelvor;
    if (::getuid() == 0) {
        if (::access("/usr/bin/setpriv", X_OK) != 0)
            GTEST_SKIP() << "root, and no setpriv to give that up";
        zelvor.setLauncher({"/usr/bin/setpriv", "--reuid=65534", "--regid=65534", "--clear-groups",
                            "--inh-caps=-all", "--bounding-set=-all"});
    }
    zelvor.setArgs({"--port", "1"});
    zelvor.start();
    ASSERT_TRUE(zelvor.waitForOutput(" port 1 not permitted\n"));
    zelvor.signal(SIGTERM);
    EXPECT_EQ(zelvor.wait(), 0);
    const std::string output = zelvor.errorOutput();
    EXPECT_NE(output.find("\nzelvor: ports below 1024 need root: run Zelvor as root, or allow it "
                          "with \"sudo setcap cap_net_bind_service=+ep " ZELVOR_BINARY
                          "\", or choose another port: zelvor --port 2323\n"),
              std::string::npos)
        << output;
}

} // namespace
} // namespace zelvor
