// SPDX-License-Identifier: MIT
#include "TcpClient.h"
#include "ZelvorProcess.h"
#include "settings/PasswordScrambling.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <csignal>
#include <functional>
#include <regex>
#include <thread>

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
    EXPECT_EQ(client.readUntil("User:").substr(0, 14), "Zelvor v.1.0\r\n");
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

TEST(Program, DesktopModeServesAndSavesOnSignal)
{
    const std::uint16_t port = test::freePort();
    ZelvorProcess zelvor;
    zelvor.setEnv("QT_QPA_PLATFORM", "offscreen");
    zelvor.writeIni(iniWith(port, "Login=True\r\n"));
    zelvor.start();
    TcpClient client;
    ASSERT_TRUE(eventually([&] { return client.connect("127.0.0.1", port); }));
    EXPECT_EQ(client.readUntil("Zelvor>").substr(0, 14), "Zelvor v.1.0\r\n");
    client.close();
    zelvor.signal(SIGTERM);
    EXPECT_EQ(zelvor.wait(), 0);
    EXPECT_NE(test::readFile(zelvor.iniFile()).find("Login=True\r\n"), std::string::npos);
    // The desktop has its status line; nothing is printed per word.
    EXPECT_EQ(zelvor.errorOutput().find(" connecting\n"), std::string::npos);
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

} // namespace
} // namespace zelvor
