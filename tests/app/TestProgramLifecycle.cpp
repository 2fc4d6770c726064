// SPDX-License-Identifier: MIT
// The start and shutdown steps both programs share, on a real settings folder.
#include "app/ProgramLifecycle.h"

#include "commands/MusicFolders.h"
#include "server/ActivityLog.h"
#include "server/FakeSocket.h"
#include "server/TelnetServer.h"
#include "settings/PasswordScrambling.h"
#include "settings/ServerSettings.h"
#include "settings/SettingsFile.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

namespace zelvor {
namespace {

namespace fs = std::filesystem;

/** One program's objects around a ProgramLifecycle, with everything it reports kept. */
struct Program
{
    explicit Program(const test::TempDir& dir)
        : folder((dir.path() / "config" / "zelvor").string()),
          settings(defaultSettings(folder, dir.str()))
    {
        log.onStatus = [this](const std::string& word) { words.push_back(word); };
    }

    std::string folder;
    ServerSettings settings;
    test::FakeSocket socket;
    ActivityLog log{settings, [] { return std::string("07.12.2026 10:11:12"); }};
    test::AbsentPlayer player;
    HostFolders folders;
    test::ManualScheduler scheduler;
    TelnetServer server{settings, socket, log, player, folders, scheduler};
    std::vector<std::string> printed;
    std::vector<std::string> shown;
    std::vector<std::string> words;
    ProgramLifecycle lifecycle{{folder,
                                [this](const std::string& line) { printed.push_back(line); },
                                [this](const std::string& word) { shown.push_back(word); }},
                               settings,
                               server,
                               socket};
};

// Anyone who reaches the port gets in without a password: said once, before "started", also
// in a log of connections only.
TEST(ProgramLifecycle, AnOpenDoorIsSaidOnceBeforeStarted)
{
    struct Row
    {
        std::string lines;
        bool open;
    };
    const Row rows[] = {
        {"", true},
        {"Login=True", true},
        {"Login=True\r\nPassword=" + EncryptPassword("pw"), true},
        {"Password=" + EncryptPassword("pw"), false},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.lines);
        test::TempDir dir;
        Program program(dir);
        dir.write("config/zelvor/zelvor.ini",
                  "[Zelvor]\r\nLogLevel1=True\r\n" + std::string(row.lines) + "\r\n");
        program.lifecycle.start();
        program.server.Cmd_Start_Click();
        const std::vector<std::string> started{"started", "disconnecting", "started"};
        std::vector<std::string> expected = started;
        if (row.open)
            expected.insert(expected.begin(), kOpenToAnyone);
        EXPECT_EQ(program.words, expected);
        const std::string log = test::readFile(program.settings.LogFile);
        EXPECT_EQ(log.find("open to anyone") != std::string::npos, row.open) << log;
        EXPECT_TRUE(program.printed.empty());
    }
}

TEST(ProgramLifecycle, StartMakesTheFolderWarnsAndPutsTheCommandLineOverTheFile)
{
    test::TempDir dir;
    Program program(dir);
    const fs::path half = dir.write("config/zelvor/zelvor.ini.new-4711", "Port=1");
    dir.write("config/zelvor/zelvor.ini",
              "[Zelvor]\r\nPort=2424\r\nPassword=" +
                  EncryptPassword(std::string(kMaxLineLength + 1, 'p')) + "\r\n");
    CommandLineOptions options;
    options.port = "2525";
    options.listenAddress = "127.0.0.1";
    program.lifecycle.start(options);
    EXPECT_FALSE(fs::exists(half));
    EXPECT_EQ(program.socket.listens, std::vector<std::uint16_t>{2525});
    EXPECT_EQ(program.socket.addresses, std::vector<std::string>{"127.0.0.1"});
    ASSERT_EQ(program.printed.size(), 1u);
    EXPECT_NE(program.printed[0].find("the password in " + program.lifecycle.settingsFile() +
                                      " is longer than 1024 bytes"),
              std::string::npos)
        << program.printed[0];

    // A first run: the folder is made, so the default log works before the first save.
    test::TempDir fresh;
    Program first(fresh);
    first.settings.LogLevel = LogLevel::ConnectionsOnly;
    first.lifecycle.start();
    EXPECT_TRUE(fs::is_directory(first.folder));
    EXPECT_NE(test::readFile(first.settings.LogFile).find("started"), std::string::npos);
}

TEST(ProgramLifecycle, ShutdownNamesAValueItCouldNotSaveAndRunsOnce)
{
    test::TempDir dir;
    Program program(dir);
    dir.write("config/zelvor/zelvor.ini", "[Zelvor]\r\nServer Root=/old/music\r\n");
    program.lifecycle.start();
    program.settings.ServerRoot = "/new\nmusic";
    program.settings.Port = "2323";
    EXPECT_TRUE(program.lifecycle.shutdown());
    EXPECT_FALSE(program.socket.listening);
    const std::string ini = test::readFile(program.lifecycle.settingsFile());
    EXPECT_NE(ini.find("Server Root=/old/music\r\n"), std::string::npos) << ini;
    EXPECT_NE(ini.find("Port=2323\r\n"), std::string::npos) << ini;
    EXPECT_EQ(program.shown, std::vector<std::string>{"Server Root not saved"});
    ASSERT_EQ(program.printed.size(), 1u);
    EXPECT_EQ(program.printed[0].find("zelvor: \"Server Root\" not saved"), 0u);

    program.settings.Port = "2424";
    EXPECT_FALSE(program.lifecycle.shutdown());
    EXPECT_EQ(test::readFile(program.lifecycle.settingsFile()), ini);
}

} // namespace
} // namespace zelvor
