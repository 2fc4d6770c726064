// SPDX-License-Identifier: MIT
// The command interpreter end to end on the window-message backend: real folders on the Z:
// drive, a real player window, and the bytes that reach both.
#include "commands/CommandDispatcher.h"

#include "commands/MusicFolders.h"
#include "player/win32/Win32Backend.h"
#include "commands/CommandSession.h"
#include "settings/ServerSettings.h"
#include "windows/StandIn.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>

#include <string>
#include <vector>

namespace zelvor {
namespace {

using test::hexBytes;
using test::logLines;
using test::ScratchFolder;
using test::StandIn;
using Lines = std::vector<std::string>;

class RecordingConnection : public Connection
{
public:
    std::vector<std::string> sends;
    void send(std::string_view bytes) override { sends.emplace_back(bytes); }
};

class QuietHost : public CommandHost
{
public:
    std::vector<std::string> problems;
    void LogActivity(std::string_view) override {}
    void LogProblem(std::string_view word) override { problems.emplace_back(word); }
    void Winsock1_Close() override {}
    std::optional<std::chrono::milliseconds> sleepTimeLeft() const override { return sleepLeft; }
    void startSleepTimer(std::chrono::minutes duration) override { sleepLeft = duration; }
    void cancelSleepTimer() override { sleepLeft.reset(); }
    LateReply deferReply() override
    {
        return [](std::string_view, PromptSelector) {};
    }
    std::optional<std::chrono::milliseconds> sleepLeft;
};

class WindowsCommandsTest : public testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(test::stopAllStandIns()) << "a player window was left";
        m_scratch.write("Music\\Rock\\Live\\concert one.mp3");
        m_scratch.write("Music\\Rock\\song.mp3");
        m_scratch.mkdir("Music\\Jazz Standards");
        // Next to the root, and its name begins with the root's name.
        m_scratch.write("Musical\\secret.mp3");
        m_settings.ServerRoot = root();
    }
    void TearDown() override { test::stopAllStandIns(); }

    std::string root() const { return m_scratch / "Music"; }

    /** Carries out one line; the sends of earlier lines are forgotten. */
    PromptSelector run(const std::string& line)
    {
        m_connection.sends.clear();
        m_session.CommandLine = line;
        CommandContext context{m_session, m_settings, m_connection, m_player, m_folders, m_host};
        return ProcessCommand(context);
    }

    std::string pwd()
    {
        run("pwd");
        return m_connection.sends.empty() ? std::string() : m_connection.sends.front();
    }

    std::string copyData(const std::string& path) const
    {
        return "copydata 100 " + std::to_string(path.size() + 1) + " " + hexBytes(path + '\0');
    }

    ScratchFolder m_scratch;
    std::string m_log = m_scratch / "player.log";
    CommandState m_session;
    ServerSettings m_settings;
    RecordingConnection m_connection;
    Win32Backend m_player;
    HostFolders m_folders;
    QuietHost m_host;
};

TEST_F(WindowsCommandsTest, StatusReportsThePlayersAnswersOrItsAbsence)
{
    EXPECT_EQ(run("status"), PromptSelector::Command);
    EXPECT_EQ(m_connection.sends, Lines{"\r\n**Winamp Current Status**"
                                        "\r\nWinamp is not running"
                                        "\r\n*************************"});

    StandIn player(m_log, {"--version", "0x5091", "--state", "1", "--shuffle", "1"});
    ASSERT_TRUE(player.ready());
    EXPECT_EQ(run("status"), PromptSelector::Command);
    EXPECT_EQ(m_connection.sends, Lines{"\r\n**Winamp Current Status**"
                                        "\r\nWinamp Version:20625"
                                        "\r\nWinamp is Playing"
                                        "\r\nShuffle is On"
                                        "\r\nRepeat is:Off"
                                        "\r\n*************************"});
    // The report's four answers come first; the rest of the status follows them.
    const auto log = logLines(m_log);
    ASSERT_GE(log.size(), 4u);
    EXPECT_EQ(Lines(log.begin(), log.begin() + 4),
              (Lines{"user 0 0", "user 0 104", "user 0 250", "user 0 251"}));
}

// A player that hangs costs the line one timeout: the rest of the line is not sent.
TEST_F(WindowsCommandsTest, HungPlayerGivesTheFailureLineAndTheRestOfTheLineIsNotSent)
{
    StandIn player(m_log, {"--hang", "40058"});
    ASSERT_TRUE(player.ready());
    EXPECT_EQ(run("volup 2"), PromptSelector::PlayerMissing);
    EXPECT_EQ(m_connection.sends, Lines{"\r\nCommand Failed - Winamp may not be running"});
    EXPECT_EQ(logLines(m_log), Lines{"command 40058 0"});
}

TEST_F(WindowsCommandsTest, PlayerCommandsReachTheWindowAndAMissingPlayerIsReported)
{
    {
        StandIn player(m_log);
        ASSERT_TRUE(player.ready());
        EXPECT_EQ(run("volup 3"), PromptSelector::Command);
        EXPECT_EQ(run("voldn"), PromptSelector::Command);
        EXPECT_EQ(run("play"), PromptSelector::Command);
        EXPECT_EQ(run("clear"), PromptSelector::Command);
        EXPECT_TRUE(m_connection.sends.empty());
        EXPECT_EQ(run("close"), PromptSelector::Command);
        ASSERT_TRUE(player.waitForExit());
    }
    EXPECT_EQ(logLines(m_log),
              (Lines{"command 40058 0", "command 40058 0", "command 40058 0", "command 40058 0",
                     "command 40059 0", "command 40045 0", "user 0 101", "command 40001 0"}));

    EXPECT_EQ(run("play"), PromptSelector::PlayerMissing);
    EXPECT_EQ(m_connection.sends, Lines{"\r\nCommand Failed - Winamp may not be running"});
}

TEST_F(WindowsCommandsTest, QueueVerbsReadTheQueueAndTitlesFromThePlayer)
{
    const std::string longTitle(1500, 'x');
    StandIn player(m_log,
                   {"--queue", "Alpha - One|Beta - Two|" + longTitle, "--position", "1", "--state",
                    "1", "--volume", "94", "--elapsed", "62000", "--length", "225"});
    ASSERT_TRUE(player.ready());
    const struct
    {
        std::string line;
        std::string reply;
    } rows[] = {
        {"np", "\r\nPlaying: 2/3 Beta - Two (1:02/3:45)"},
        {"queue", "\r\n 1 Alpha - One\r\n>2 Beta - Two\r\n 3 " + longTitle.substr(0, 1024) +
                      "\r\n(1-3 of 3)"},
        {"queue 4", "\r\nNo entry 4 (3 queued)"},
        {"vol", "\r\nVolume: 37%"},
        {"vol 40", "\r\nVolume: 40%"},
        {"vol -100", "\r\nVolume: 0%"},
        {"goto 1", "\r\nPlaying: 1/3 Alpha - One (0:00/3:45)"},
        {"seek +30", "\r\nPlaying: 1/3 Alpha - One (0:30/3:45)"},
        {"seek 9:00", "\r\nPlaying: 1/3 Alpha - One (3:44/3:45)"},
        {"pause", ""},
        {"seek 0", "\r\nPaused: 1/3 Alpha - One (0:00/3:45)"},
        {"stop", ""},
        {"seek 5", "\r\nNothing playing"},
        {"np", "\r\nStopped: 1/3 Alpha - One (0:00/3:45)"},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(run(row.line), PromptSelector::Command) << row.line;
        EXPECT_EQ(m_connection.sends, row.reply.empty() ? Lines{} : Lines{row.reply}) << row.line;
    }
    // The volume goes to the player on its 0..255 scale; goto sets the entry, then plays.
    const auto log = logLines(m_log);
    for (const auto* message : {"user 102 122", "user 0 122", "user 0 121", "user 30000 106"})
        EXPECT_NE(std::find(log.begin(), log.end(), message), log.end()) << message;
}

TEST_F(WindowsCommandsTest, EmptyQueueAndMissingPlayer)
{
    for (const auto* line : {"np", "queue", "goto 1", "vol", "seek 1"}) {
        EXPECT_EQ(run(line), PromptSelector::PlayerMissing) << line;
        EXPECT_EQ(m_connection.sends, Lines{"\r\nCommand Failed - Winamp may not be running"});
    }
    StandIn player(m_log, {"--queue", ""});
    ASSERT_TRUE(player.ready());
    run("np");
    EXPECT_EQ(m_connection.sends, Lines{"\r\nNothing queued"});
    run("goto 1");
    EXPECT_EQ(m_connection.sends, Lines{"\r\nNo entry 1 (0 queued)"});
    run("find song");
    EXPECT_EQ(m_connection.sends, Lines{"\r\nRock\\song.mp3"});
}

TEST_F(WindowsCommandsTest, LoadHandsThePlayerPathsComposedWithBackslashes)
{
    StandIn player(m_log);
    ASSERT_TRUE(player.ready());
    run("cd Rock");
    run("load song.mp3");
    run("load Live");
    run("load");
    run("cd Live");
    run("load concert one.mp3");
    EXPECT_EQ(
        logLines(m_log),
        (Lines{copyData(root() + "\\Rock\\song.mp3"), copyData(root() + "\\Rock\\Live"),
               copyData(root() + "\\Rock"), copyData(root() + "\\Rock\\Live\\concert one.mp3")}));
}

TEST_F(WindowsCommandsTest, LsListsTheFolderOnTheDrive)
{
    run("ls");
    EXPECT_EQ(m_connection.sends,
              (Lines{"\r\n" + root() + "\\", "\r\nJazz Standards", "\r\nRock"}));
    run("ls Rock\\*.mp3");
    EXPECT_EQ(m_connection.sends, (Lines{"\r\n" + root() + "\\Rock\\*.mp3", "\r\nsong.mp3"}));
}

TEST_F(WindowsCommandsTest, CdStaysBelowTheRootComparedWithoutRegardToCase)
{
    m_settings.ServerRoot = m_scratch / "MUSIC";
    for (const auto* outside :
         {"cd ..\\Musical", "cd ..", "cd ..\\..", "cd Rock\\..\\..\\Musical", "cd \\..\\Musical"}) {
        SCOPED_TRACE(outside);
        run(outside);
        EXPECT_EQ(pwd(), "\r\n\\");
    }

    StandIn player(m_log);
    ASSERT_TRUE(player.ready());
    run("cd ..\\music\\rock");
    EXPECT_NE(pwd(), "\r\n\\");
    run("load song.mp3");
    EXPECT_EQ(logLines(m_log), Lines{copyData(m_scratch / "MUSIC\\rock\\song.mp3")});
}

TEST_F(WindowsCommandsTest, EightBitNamesReachThePlayerByteForByte)
{
    m_scratch.write("Music\\\xc0 la carte\\Caf\xe9 cr\xe8me.mp3");
    StandIn player(m_log);
    ASSERT_TRUE(player.ready());
    run("cd \xc0 la carte");
    run("load Caf\xe9 cr\xe8me.mp3");
    EXPECT_EQ(logLines(m_log), Lines{copyData(root() + "\\\xc0 la carte\\Caf\xe9 cr\xe8me.mp3")});
}

/** The text in the ANSI code page, as a client on this machine types it. */
std::string ansi(std::wstring_view text)
{
    const int size = static_cast<int>(text.size());
    const int length =
        WideCharToMultiByte(CP_ACP, 0, text.data(), size, nullptr, 0, nullptr, nullptr);
    std::string bytes(static_cast<std::size_t>(length), '\0');
    BOOL lossy = FALSE;
    WideCharToMultiByte(CP_ACP, 0, text.data(), size, bytes.data(), length, nullptr, &lossy);
    return lossy ? std::string() : bytes;
}

// Letter case as the file system sees it, beyond ASCII: the names are made through the wide
// API, the client types them in the ANSI code page.
TEST_F(WindowsCommandsTest, NamesBeyondAsciiAreFoundWithoutRegardToCase)
{
    const std::wstring folder = L"Bj\u00f6rk";
    const std::wstring song = L"J\u00f3ga.mp3";
    const auto disk = std::filesystem::path(root()) / folder;
    std::filesystem::create_directories(disk);
    std::ofstream(disk / song).put('x');
    const auto typedFolder = ansi(L"BJ\u00d6RK");
    const auto typedSong = ansi(L"J\u00d3GA.MP3");
    if (typedFolder.empty() || typedSong.empty())
        GTEST_SKIP() << "the ANSI code page has no \u00d6 or \u00d3";
    const auto diskFolder = ansi(folder);
    const auto diskSong = ansi(song);

    run("cd " + typedFolder);
    EXPECT_EQ(pwd(), "\r\n\\" + typedFolder + "\\");
    run("ls " + ansi(L"J\u00d3*"));
    EXPECT_EQ(m_connection.sends,
              (Lines{"\r\n" + root() + "\\" + typedFolder + "\\" + ansi(L"J\u00d3*"),
                     "\r\n" + diskSong}));
    run("cd \\");
    run("find " + ansi(L"\u00d3GA"));
    EXPECT_EQ(m_connection.sends, Lines{"\r\n" + diskFolder + "\\" + diskSong});
    StandIn player(m_log);
    ASSERT_TRUE(player.ready());
    // The file system finds the names as typed, so the player gets them as typed.
    run("load " + typedFolder + "\\" + typedSong);
    EXPECT_EQ(logLines(m_log), Lines{copyData(root() + "\\" + typedFolder + "\\" + typedSong)});
}

TEST_F(WindowsCommandsTest, FailedOpenTellsTheClientAsBeforeAndTheStatusWhy)
{
    m_settings.WinampLocation = m_scratch / "Program Files\\Winamp\\winamp.exe";
    EXPECT_EQ(run("open"), PromptSelector::PlayerMissing);
    EXPECT_EQ(m_connection.sends, Lines{"\r\nCommand Failed - Winamp may not be running"});
    ASSERT_EQ(m_host.problems.size(), 1u);
    EXPECT_EQ(m_host.problems.front(), m_player.launchFailure());
    EXPECT_FALSE(m_host.problems.front().empty());
    EXPECT_EQ(m_host.problems.front().find("cannot start " + m_settings.WinampLocation + ": "), 0u);
}

// Entries the system marks hidden or system (desktop.ini, Folder.jpg) are neither listed nor
// loaded; a hidden folder named outright still shows and loads what it holds.
TEST_F(WindowsCommandsTest, HiddenAndSystemEntriesAreNeitherListedNorLoaded)
{
    const struct
    {
        std::string path;
        DWORD mark;
    } marked[] = {
        {m_scratch.write("Music\\desktop.ini"), FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM},
        {m_scratch.write("Music\\Folder.jpg"), FILE_ATTRIBUTE_HIDDEN},
        {m_scratch.write("Music\\thumbs.mp3"), FILE_ATTRIBUTE_SYSTEM},
        {m_scratch.mkdir("Music\\Hidden Album"), FILE_ATTRIBUTE_HIDDEN},
    };
    m_scratch.write("Music\\Hidden Album\\track.mp3");
    for (const auto& entry : marked) {
        const DWORD before = GetFileAttributesA(entry.path.c_str());
        if (!SetFileAttributesA(entry.path.c_str(), before | entry.mark) ||
            (GetFileAttributesA(entry.path.c_str()) & entry.mark) != entry.mark)
            GTEST_SKIP() << "this file system keeps no hidden or system marks: " << entry.path;
    }

    run("ls");
    EXPECT_EQ(m_connection.sends,
              (Lines{"\r\n" + root() + "\\", "\r\nJazz Standards", "\r\nRock"}));
    run("ls *.*");
    EXPECT_EQ(m_connection.sends,
              (Lines{"\r\n" + root() + "\\*.*", "\r\nJazz Standards", "\r\nRock"}));
    run("ls Hidden Album\\");
    EXPECT_EQ(m_connection.sends, (Lines{"\r\n" + root() + "\\Hidden Album\\", "\r\ntrack.mp3"}));

    StandIn player(m_log);
    ASSERT_TRUE(player.ready());
    for (const char* line :
         {"load desktop.ini", "load FOLDER.JPG", "load thumbs.mp3", "load Hidden Album"})
        run(line);
    run("load Hidden Album\\track.mp3");
    EXPECT_EQ(logLines(m_log), Lines{copyData(root() + "\\Hidden Album\\track.mp3")});
}

// Disabled while it fails: on Windows libstdc++ turns the names that HostFolders lists into
// UTF-8 ("Caf\xc3\xa9.mp3"), while the client and the rest of the system use the ANSI code page.
TEST_F(WindowsCommandsTest, EightBitNamesAreListedInTheAnsiCodePage)
{
    m_scratch.write("Music\\Caf\xe9.mp3");
    run("ls *.mp3");
    EXPECT_EQ(m_connection.sends, (Lines{"\r\n" + root() + "\\*.mp3", "\r\nCaf\xe9.mp3"}));
}

} // namespace
} // namespace zelvor
