// SPDX-License-Identifier: MIT
// Faults injected around the real program: clients that vanish mid-reply, an MPD that dies or
// freezes mid-command, log and settings folders that disappear, turn read-only or run full, and
// kills during shutdown. After each the server must listen again and have lost nothing.
#include "settings/PasswordScrambling.h"
#include "support/MpdFixture.h"
#include "support/TempDir.h"

#include "Surroundings.h"
#include "TcpClient.h"
#include "ZelvorProcess.h"

#include <gtest/gtest.h>

#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/stat.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <random>
#include <thread>

namespace zelvor {
namespace {

using namespace std::chrono_literals;
using test::IniText;
using test::TcpClient;
using test::ZelvorProcess;
using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;

const std::string kPrompt = "\r\nZelvor>";
const std::string kFailure = "\r\nCommand Failed - Winamp may not be running";

/** Starts the program with these settings; false when it does not listen. */
bool startWith(ZelvorProcess& zelvor, IniText& ini)
{
    if (ini.port == 0)
        ini.port = test::freePort();
    zelvor.writeIni(ini.text());
    zelvor.start();
    return zelvor.waitListening();
}

/** Sends one command line and returns what came back up to and including the prompt. */
std::string command(TcpClient& client, const std::string& line)
{
    client.send(line + "\r\n");
    return test::readPrompts(client, 1);
}

TEST(FaultInjection, ClientResetDuringALongListingLeavesNothingBroken)
{
    test::TempDir music;
    std::vector<std::string> names;
    for (int i = 0; i < 6000; ++i) {
        char name[96];
        std::snprintf(name, sizeof name, "track-%05d-with-a-long-name-to-make-a-big-listing.mp3",
                      i);
        names.push_back(name);
        music.write(name);
    }
    std::string listing = "ls\r\n" + music.str() + "/";
    for (const auto& name : names)
        listing += "\r\n" + name;
    listing += kPrompt;

    ZelvorProcess zelvor;
    IniText ini;
    ini.serverRoot = music.str();
    ASSERT_TRUE(startWith(zelvor, ini));
    for (std::size_t readFirst : {0u, 4096u, 65536u}) {
        SCOPED_TRACE(readFirst);
        TcpClient client;
        ASSERT_TRUE(test::connectAndLogIn(client, ini.port));
        // A small receive window keeps most of the reply on the server's side.
        const int window = 8192;
        ::setsockopt(client.fd(), SOL_SOCKET, SO_RCVBUF, &window, sizeof window);
        client.send("ls\r\n");
        std::size_t read = 0;
        char buffer[1024];
        while (read < readFirst) {
            const auto n = ::recv(client.fd(), buffer, sizeof buffer, 0);
            ASSERT_GT(n, 0);
            read += static_cast<std::size_t>(n);
        }
        int waiting = 0;
        ::ioctl(client.fd(), FIONREAD, &waiting);
        EXPECT_LT(read + static_cast<std::size_t>(waiting) + 4096, listing.size());
        client.reset();
    }
    // Listening again, and the next client gets the whole listing.
    TcpClient client;
    ASSERT_TRUE(test::connectAndLogIn(client, ini.port));
    client.send("ls\r\n");
    const std::string reply = test::readPrompts(client, 1);
    EXPECT_EQ(reply.size(), listing.size());
    EXPECT_TRUE(reply == listing);
    EXPECT_EQ(test::outputCount(zelvor, " disconnecting\n"), 3u);
}

class MpdFaults : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(mpd.start()) << mpd.error();
        zelvor.setEnv("MPD_HOST", mpd.host());
        zelvor.setEnv("MPD_PORT", std::to_string(mpd.port()));
        ini.serverRoot = mpd.musicDir().string();
        ASSERT_TRUE(startWith(zelvor, ini));
        ASSERT_TRUE(test::connectAndLogIn(client, ini.port));
    }

    /** MPD again on the same port, found by the next command without any restart of ours. */
    void restartMpd()
    {
        mpd.stop();
        const unsigned port = mpd.port();
        ASSERT_TRUE(mpd.start()) << mpd.error();
        ASSERT_EQ(mpd.port(), port) << "MPD came back on another port";
    }

    /** The session goes on, and a client after this one is served too. */
    void expectServerIntact()
    {
        EXPECT_EQ(command(client, "volup 5"), "volup 5" + kPrompt);
        client.send("exit\r\n");
        EXPECT_TRUE(client.waitForClose());
        TcpClient next;
        EXPECT_TRUE(test::connectAndLogIn(next, ini.port));
    }

    test::MpdFixture mpd;
    ZelvorProcess zelvor;
    IniText ini;
    TcpClient client;
};

TEST_F(MpdFaults, KilledDuringVolumeStepsGivesAnAnswerAndTheNextMpdIsFound)
{
    mpd.command("setvol 0");
    const auto begin = Clock::now();
    EXPECT_EQ(command(client, "volup 255"), "volup 255" + kPrompt);
    const auto undisturbed = Clock::now() - begin;
    EXPECT_EQ(mpd.status()["volume"], "100");

    // Frozen first, so that the kill certainly falls inside the line: the server waits on MPD.
    ::kill(mpd.pid(), SIGSTOP);
    client.send("volup 255\r\n");
    ASSERT_TRUE(test::waitForOutputCount(zelvor, " volup\n", 2));
    ::kill(mpd.pid(), SIGKILL);
    EXPECT_EQ(test::readPrompts(client, 1), "volup 255" + kFailure + kPrompt);

    // Killed at random moments of a running line: whatever MPD had done, the line ends with its
    // answer and the prompt.
    std::mt19937 random(20240607);
    std::uniform_int_distribution<long> moment(
        0, std::chrono::duration_cast<std::chrono::microseconds>(undisturbed).count());
    for (std::size_t round = 0; round < 4; ++round) {
        SCOPED_TRACE(round);
        restartMpd();
        mpd.command("setvol 0");
        client.send("volup 255\r\n");
        ASSERT_TRUE(test::waitForOutputCount(zelvor, " volup\n", 3 + round));
        std::this_thread::sleep_for(std::chrono::microseconds(moment(random)));
        ::kill(mpd.pid(), SIGKILL);
        const std::string reply = test::readPrompts(client, 1);
        EXPECT_TRUE(reply == "volup 255" + kPrompt || reply == "volup 255" + kFailure + kPrompt)
            << reply;
    }
    restartMpd();
    mpd.command("setvol 50");
    expectServerIntact();
    EXPECT_EQ(mpd.status()["volume"], "56");
}

TEST_F(MpdFaults, FrozenDuringStatusAnswersWithinTheTimeoutAndWorksWhenItThaws)
{
    ::kill(mpd.pid(), SIGSTOP);
    EXPECT_EQ(command(client, "status"), "status\r\n**Winamp Current Status**"
                                         "\r\nWinamp is not running"
                                         "\r\n*************************" +
                                             kPrompt);
    ::kill(mpd.pid(), SIGCONT);
    const std::string report = command(client, "status");
    EXPECT_NE(report.find("\r\nWinamp Version:"), std::string::npos) << report;
    EXPECT_NE(report.find("\r\nWinamp is Stopped"), std::string::npos) << report;
    mpd.command("setvol 50");
    expectServerIntact();
    EXPECT_EQ(mpd.status()["volume"], "56");
}

// A frozen MPD holds only the lines that wait for it: meanwhile a second client is greeted (it
// could take the session over by logging in) and a signal ends the program, both before the
// first client's three lines (each waiting for MPD's two seconds) are answered.
TEST_F(MpdFaults, FrozenMpdHoldsOnlyTheLinesThatWaitForIt)
{
    ::kill(mpd.pid(), SIGSTOP);
    client.send("status\r\nstatus\r\nstatus\r\n");
    ASSERT_TRUE(test::waitForOutputCount(zelvor, " status\n", 1));
    TcpClient second;
    EXPECT_TRUE(test::connectAndGreet(second, ini.port)) << test::lastGreetingFailure();
    zelvor.signal(SIGTERM);
    EXPECT_EQ(zelvor.wait(), 0);
    std::string answered;
    EXPECT_TRUE(client.waitForClose(&answered));
    std::size_t reports = 0;
    for (auto at = answered.find("**Winamp Current Status**"); at != std::string::npos;
         at = answered.find("**Winamp Current Status**", at + 1))
        ++reports;
    EXPECT_LT(reports, 3u) << answered;
    ::kill(mpd.pid(), SIGCONT);
}

// The log file's folder fails in some way while entries are written, and is mended again.
class LogFaults : public ::testing::Test
{
protected:
    void SetUp() override
    {
        fs::create_directories(folder);
        ini.logLevel = 2;
        ini.logFile = logFile.string();
        ini.login = false;
    }

    void startAndConnect()
    {
        ASSERT_TRUE(startWith(zelvor, ini));
        ASSERT_TRUE(test::connectAndGreet(client, ini.port, kPrompt));
    }

    /** Each command must be answered whatever happens to the log. */
    void commands(int count)
    {
        for (int i = 0; i < count; ++i)
            ASSERT_EQ(command(client, "pwd"), "pwd\r\n\\" + kPrompt);
    }

    /**
     * The words of the log once it ends with these. The status word reaches stderr, and the
     * prompt the client, just before the entry is written, so the test waits for the entry.
     */
    std::vector<std::string> wordsEndingWith(const std::vector<std::string>& last,
                                             bool* whole) const
    {
        const auto deadline = Clock::now() + 10s;
        for (;;) {
            auto all = test::logWords(test::readFile(logFile), whole);
            if (Clock::now() > deadline ||
                (all.size() >= last.size() &&
                 std::equal(last.begin(), last.end(),
                            all.end() - static_cast<std::ptrdiff_t>(last.size()))))
                return all;
            std::this_thread::sleep_for(1ms);
        }
    }

    /** The client leaves, the next one is served, and the log shows both. */
    void expectServerIntact()
    {
        client.send("exit\r\n");
        EXPECT_TRUE(client.waitForClose());
        TcpClient next;
        ASSERT_TRUE(test::connectAndGreet(next, ini.port, kPrompt));
        next.close();
        const std::vector<std::string> expected = {"exit",      "disconnecting", "started",
                                                   "connected", "connecting",    "disconnecting",
                                                   "started"};
        bool whole = false;
        const auto all = wordsEndingWith(expected, &whole);
        EXPECT_TRUE(whole) << test::readFile(logFile);
        const std::vector<std::string> tail(all.end() - std::min<std::size_t>(all.size(), 7),
                                            all.end());
        EXPECT_EQ(tail, expected);
    }

    test::TempDir temp;
    fs::path folder = temp.path() / "logs";
    fs::path logFile = folder / "zelvor.log";
    ZelvorProcess zelvor;
    IniText ini;
    TcpClient client;
};

TEST_F(LogFaults, FolderRemovedWhileRunningIsWarnedOnceAndTheLogResumesWhenItIsBack)
{
    startAndConnect();
    commands(2);
    fs::remove_all(folder);
    commands(5);
    EXPECT_EQ(test::outputCount(zelvor, "cannot write the log file"), 1u) << zelvor.errorOutput();
    fs::create_directories(folder);
    commands(1);
    bool whole = false;
    EXPECT_EQ(wordsEndingWith({"pwd", "connected"}, &whole),
              (std::vector<std::string>{"pwd", "connected"}));
    EXPECT_TRUE(whole);
    expectServerIntact();
}

TEST_F(LogFaults, ReadOnlyFolderLosesOnlyTheEntriesOfThatTime)
{
    std::unique_ptr<test::SmallDisk> disk;
    if (test::runningAsRoot()) {
        // Root writes through file permissions: a read-only mount stops it.
        disk = std::make_unique<test::SmallDisk>(folder, 1 << 20);
        if (!disk->mounted())
            GTEST_SKIP() << "cannot mount a tmpfs: " << disk->error();
    }
    startAndConnect();
    commands(2);
    const std::string before = test::readFile(logFile);
    if (disk) {
        ASSERT_TRUE(disk->setReadOnly(true));
    } else {
        // An existing file could still be appended to, so the entries go to a new one.
        fs::remove(logFile);
        fs::permissions(folder, fs::perms::owner_read | fs::perms::owner_exec);
    }
    commands(5);
    EXPECT_EQ(test::outputCount(zelvor, "cannot write the log file"), 1u) << zelvor.errorOutput();
    if (disk)
        ASSERT_TRUE(disk->setReadOnly(false));
    else
        fs::permissions(folder, fs::perms::owner_all);
    commands(1);
    const std::string after = test::readFile(logFile);
    if (disk) {
        EXPECT_EQ(after.substr(0, before.size()), before);
    }
    bool whole = false;
    const auto all = wordsEndingWith({"pwd", "connected"}, &whole);
    EXPECT_TRUE(whole) << after;
    ASSERT_GE(all.size(), 2u);
    EXPECT_EQ(all.back(), "connected");
    EXPECT_EQ(all[all.size() - 2], "pwd");
    // On the disk: "open to anyone" (the login is off), "started", "connected", "connecting",
    // two commands, then after the fault one command.
    EXPECT_EQ(all.size(), disk ? 10u : 2u);
    expectServerIntact();
}

TEST_F(LogFaults, FullDiskLeavesOnlyWholeEntries)
{
    if (!test::runningAsRoot())
        GTEST_SKIP() << "mounting a small disk needs root";
    test::SmallDisk disk(folder, 64 * 1024);
    if (!disk.mounted())
        GTEST_SKIP() << "cannot mount a tmpfs: " << disk.error();
    startAndConnect();
    commands(2);
    ASSERT_TRUE(disk.fill());
    // The log's last page still takes a few entries; the one that does not fit must not stay
    // behind as a piece of a line.
    commands(60);
    EXPECT_EQ(test::outputCount(zelvor, "cannot write the log file"), 1u) << zelvor.errorOutput();
    disk.makeRoom();
    commands(1);
    bool whole = false;
    const auto all = wordsEndingWith({"pwd", "connected"}, &whole);
    EXPECT_TRUE(whole) << test::readFile(logFile);
    ASSERT_GE(all.size(), 2u);
    EXPECT_EQ(all[all.size() - 2], "pwd");
    expectServerIntact();
}

// The settings file must survive a shutdown that cannot write it, byte for byte.
class SettingsFaults : public ::testing::Test
{
protected:
    SettingsFaults()
    {
        ini.port = test::freePort();
        // Line feeds only: a save, which writes CR LF, would show.
        old = "[Zelvor]\nPort=" + std::to_string(ini.port) +
              "\nLogLevel2=True\nServer Logfile=" + (log.path() / "zelvor.log").string() +
              "\nUser=bob\nPassword=" + EncryptPassword("pw") + "\n";
    }

    void shutDownAndExpectOldFile()
    {
        zelvor.start();
        ASSERT_TRUE(zelvor.waitListening());
        zelvor.signal(SIGTERM);
        EXPECT_EQ(zelvor.wait(), 0);
        EXPECT_EQ(test::readFile(zelvor.iniFile()), old);
        EXPECT_NE(zelvor.errorOutput().find("cannot save the settings"), std::string::npos)
            << zelvor.errorOutput();
        for (const auto& entry : fs::directory_iterator(zelvor.settingsFolder()))
            EXPECT_TRUE(entry.path().filename() == "zelvor.ini" ||
                        entry.path().filename() == "filler")
                << entry.path();
    }

    test::TempDir log;
    IniText ini;
    std::string old;
    ZelvorProcess zelvor;
};

TEST_F(SettingsFaults, ReadOnlyFolderKeepsTheOldFileAndSaysSo)
{
    std::unique_ptr<test::SmallDisk> disk;
    if (test::runningAsRoot()) {
        disk = std::make_unique<test::SmallDisk>(zelvor.settingsFolder(), 1 << 20);
        if (!disk->mounted())
            GTEST_SKIP() << "cannot mount a tmpfs: " << disk->error();
    }
    zelvor.writeIni(old);
    if (disk)
        ASSERT_TRUE(disk->setReadOnly(true));
    else
        fs::permissions(zelvor.settingsFolder(), fs::perms::owner_read | fs::perms::owner_exec);
    shutDownAndExpectOldFile();
    if (!disk)
        fs::permissions(zelvor.settingsFolder(), fs::perms::owner_all);
}

TEST_F(SettingsFaults, FullDiskKeepsTheOldFileAndSaysSo)
{
    if (!test::runningAsRoot())
        GTEST_SKIP() << "mounting a small disk needs root";
    test::SmallDisk disk(zelvor.settingsFolder(), 64 * 1024);
    if (!disk.mounted())
        GTEST_SKIP() << "cannot mount a tmpfs: " << disk.error();
    zelvor.writeIni(old);
    ASSERT_TRUE(disk.fill());
    shutDownAndExpectOldFile();
}

TEST(ShutdownKill, KillAtAnyMomentOfAShutdownLeavesTheOldOrTheNewSettings)
{
    const std::uint16_t port = test::freePort();
    // All nine keys, so that a save changes nothing but the line ends.
    const std::string old = "[Zelvor]\nPort=" + std::to_string(port) +
                            "\nServer Root=/srv/music\nWinamp Location=mpd\nLogLevel1=False\n"
                            "LogLevel2=False\nLogin=True\nServer Logfile=\nUser=bob\nPassword=" +
                            EncryptPassword("pw") + "\n";
    // One orderly run gives the new file and how long a shutdown takes.
    std::string written;
    Clock::duration shutdown{};
    {
        ZelvorProcess zelvor;
        zelvor.writeIni(old);
        zelvor.start();
        ASSERT_TRUE(zelvor.waitListening());
        const auto begin = Clock::now();
        zelvor.signal(SIGTERM);
        ASSERT_EQ(zelvor.wait(), 0);
        shutdown = Clock::now() - begin;
        written = test::readFile(zelvor.iniFile());
        std::string crlf;
        for (const char c : old)
            crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
        ASSERT_EQ(written, crlf);
    }
    std::mt19937 random(7);
    const auto longest = std::chrono::duration_cast<std::chrono::microseconds>(shutdown).count();
    std::uniform_int_distribution<long> moment(0, longest + longest / 2);
    int oldKept = 0;
    int newWritten = 0;
    int leftovers = 0;
    for (int round = 0; round < 50; ++round) {
        SCOPED_TRACE(round);
        ZelvorProcess zelvor;
        zelvor.writeIni(old);
        zelvor.start();
        ASSERT_TRUE(zelvor.waitListening());
        zelvor.signal(SIGTERM);
        std::this_thread::sleep_for(std::chrono::microseconds(moment(random)));
        zelvor.signal(SIGKILL);
        zelvor.wait();
        const std::string now = test::readFile(zelvor.iniFile());
        EXPECT_TRUE(now == old || now == written) << now;
        for (const auto& entry : fs::directory_iterator(zelvor.settingsFolder()))
            leftovers += entry.path().filename() != "zelvor.ini";
        oldKept += now == old;
        newWritten += now == written;
    }
    ::testing::Test::RecordProperty("old_kept", oldKept);
    ::testing::Test::RecordProperty("new_written", newWritten);
    ::testing::Test::RecordProperty("temporary_files_left", leftovers);
    std::printf("50 kills during shutdown: %d left the old file, %d the new one, %d temporary "
                "files left behind\n",
                oldKept, newWritten, leftovers);
}

} // namespace
} // namespace zelvor
