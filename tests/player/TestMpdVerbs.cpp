// SPDX-License-Identifier: MIT
// The verbs beyond the status report, from the typed line to a real MPD: the session server with
// its command interpreter, the MPD backend and the real music folder; the socket and the clock
// are the tests' own, so the sleep timer runs on a manual clock.
#include "player/mpd/MpdBackend.h"

#include "commands/MusicFolders.h"
#include "server/ActivityLog.h"
#include "server/FakeSocket.h"
#include "server/TelnetServer.h"
#include "settings/ServerSettings.h"
#include "support/MpdFixture.h"
#include "support/PollLoop.h"

#include <gtest/gtest.h>

#include <set>
#include <sstream>
#include <tuple>

namespace zelvor {
namespace {

using namespace std::chrono_literals;
using test::MpdFixture;
using Uris = std::vector<std::string>;

const std::string kFailure = "\r\nCommand Failed - Winamp may not be running";

class MpdVerbs : public ::testing::Test
{
protected:
    void SetUp() override { startWith("software"); }
    void TearDown() override { server.reset(); }

    void startWith(const std::string& mixer)
    {
        mpd.mixerType = mixer;
        ASSERT_TRUE(mpd.start()) << mpd.error();
        mpd.useSocket();
        settings.Port = "2323";
        settings.LoginRequired = false;
        settings.ServerRoot = mpd.musicDir().string();
        log.onStatus = [this](const std::string& word) { words.push_back(word); };
        server = std::make_unique<TelnetServer>(settings, socket, log, player, folders, scheduler);
        socket.server = server.get();
        socket.pump = [this](const std::function<bool()>& condition) { loop.runUntil(condition); };
        server->Server_Load();
        socket.connect();
        socket.takeReceived();
    }

    std::string run(const std::string& line) { return socket.run(line); }
    std::string field(const std::string& name) const { return mpd.status()[name]; }
    bool add(const std::string& uri) const { return mpd.command("add \"" + uri + "\"") != ""; }

    MpdFixture mpd;
    ServerSettings settings;
    test::FakeSocket socket;
    ActivityLog log{settings, [] { return std::string("2026-12-07 10:11:12"); }};
    test::PollLoop loop;
    MpdBackend player{loop};
    HostFolders folders;
    test::ManualScheduler scheduler;
    std::unique_ptr<TelnetServer> server;
    std::vector<std::string> words;
};

TEST_F(MpdVerbs, QueueGotoNowPlayingSeekAndVolume)
{
    EXPECT_EQ(run("load album"), "");
    EXPECT_EQ(run("queue"), "\r\n 1 01 first.wav\r\n 2 02 second.wav\r\n 3 10 tenth.wav"
                            "\r\n 4 a.wav\r\n(1-4 of 4)");
    EXPECT_EQ(run("np"), "\r\nStopped: 4 queued");
    EXPECT_EQ(run("goto 3").rfind("\r\nPlaying: 3/4 10 tenth.wav (0:0", 0), 0U);
    EXPECT_EQ(field("song"), "2");
    EXPECT_NE(run("queue").find("\r\n>3 10 tenth.wav\r\n"), std::string::npos);
    EXPECT_EQ(run("goto 5"), "\r\nNo entry 5 (4 queued)");
    EXPECT_EQ(run("queue 0"), "\r\nNo entry 0 (4 queued)");

    // Seeks are tried on songs like real ones, below: these short ones are decoded whole at
    // once, so every seek in them has MPD start the song's decoder afresh.
    EXPECT_EQ(run("pause"), "");
    EXPECT_EQ(field("state"), "pause");

    EXPECT_EQ(run("vol 40"), "\r\nVolume: 40%");
    EXPECT_EQ(field("volume"), "40");
    EXPECT_EQ(run("vol +5"), "\r\nVolume: 45%");
    EXPECT_EQ(run("vol -90"), "\r\nVolume: 0%");
    EXPECT_EQ(run("vol"), "\r\nVolume: 0%");
    EXPECT_EQ(run("vol loud"), "\r\nusage: vol [0-100|+n|-n]");
    EXPECT_EQ(run("stop"), "");
    EXPECT_EQ(run("seek 3"), "\r\nNothing playing");
}

/** The lines of MPD's log where an output was opened or closed. */
std::vector<std::string> outputOpenedOrClosed(const std::string& log)
{
    std::vector<std::string> lines;
    std::istringstream in(log);
    for (std::string line; std::getline(in, line);)
        if (line.find("output: opened") != std::string::npos ||
            line.find("output: closed") != std::string::npos)
            lines.push_back(line);
    return lines;
}

// The clients of MPD's verbose log that sent the command, by their number: "client: [7] process
// command "status"".
std::set<std::string> clientsSending(const std::string& log, const std::string& command)
{
    std::set<std::string> clients;
    std::istringstream in(log);
    const std::string marker = "] process command \"" + command;
    for (std::string line; std::getline(in, line);) {
        const auto at = line.find(marker);
        const auto open = line.rfind('[', at);
        if (at != std::string::npos && open != std::string::npos)
            clients.insert(line.substr(open + 1, at - open - 1));
    }
    return clients;
}

// Thirty lines of a session go over one connection to MPD, which waits in idle between them;
// MPD's own log names the client of every command.
TEST_F(MpdVerbs, ThirtyLinesShareOneConnectionThatWaitsInIdleBetween)
{
    mpd.stop();
    mpd.verboseLog = true;
    ASSERT_TRUE(mpd.start()) << mpd.error();
    for (int line = 0; line < 10; ++line) {
        EXPECT_EQ(run("volup"), "");
        EXPECT_EQ(run("np"), "\r\nNothing queued");
        EXPECT_EQ(run("vol 40"), "\r\nVolume: 40%");
    }
    EXPECT_EQ(player.channel().connections(), 1u);
    const std::string mpdLog = mpd.logText();
    const auto clients = clientsSending(mpdLog, "");
    EXPECT_EQ(clientsSending(mpdLog, "volume"), clients) << mpdLog;
    EXPECT_EQ(clientsSending(mpdLog, "idle"), clients);
    EXPECT_EQ(clients.size(), 1u);
}

// Songs like real ones, longer than MPD's buffer, with the next one queued: every seek lands in
// the song, in the state it was in, and MPD's output stays open throughout, so there is no gap.
TEST_F(MpdVerbs, SeeksStayInTheSongAndKeepTheOutputOpen)
{
    mpd.stop();
    mpd.verboseLog = true;
    ASSERT_TRUE(mpd.start()) << mpd.error();
    ASSERT_TRUE(mpd.addRealLengthSongs()) << mpd.error();
    EXPECT_EQ(run("load long"), "");
    EXPECT_EQ(run("goto 1").rfind("\r\nPlaying: 1/2 one.wav (0:0", 0), 0U);
    ASSERT_TRUE(
        MpdFixture::waitFor([this] { return !outputOpenedOrClosed(mpd.logText()).empty(); }));
    const auto outputsBefore = outputOpenedOrClosed(mpd.logText());

    // The reply is read a moment after the seek: a second may have passed meanwhile.
    for (const auto& [line, first, next] :
         {std::tuple{"seek 0:40", "(0:40/1:10)", "(0:41/1:10)"},
          std::tuple{"seek 0:05", "(0:05/1:10)", "(0:06/1:10)"},
          std::tuple{"seek +30", "(0:35/1:10)", "(0:36/1:10)"},
          std::tuple{"seek -0:20", "(0:15/1:10)", "(0:16/1:10)"},
          std::tuple{"seek 1:06", "(1:06/1:10)", "(1:07/1:10)"}}) {
        const std::string answer = run(line);
        const std::string expected = "\r\nPlaying: 1/2 one.wav ";
        EXPECT_TRUE(answer == expected + first || answer == expected + next) << line << answer;
        EXPECT_EQ(field("song"), "0") << line;
    }
    EXPECT_EQ(outputOpenedOrClosed(mpd.logText()), outputsBefore);

    // A paused song stays paused. (The null output closes on pause: it has no pause of its own.)
    EXPECT_EQ(run("pause"), "");
    EXPECT_EQ(run("seek 0:30"), "\r\nPaused: 1/2 one.wav (0:30/1:10)");
    EXPECT_EQ(field("state"), "pause");
    EXPECT_EQ(run("seek -10"), "\r\nPaused: 1/2 one.wav (0:20/1:10)");
    EXPECT_EQ(field("elapsed"), "20.000");
    EXPECT_EQ(run("seek -5:00"), "\r\nPaused: 1/2 one.wav (0:00/1:10)");
    EXPECT_EQ(run("pause"), "");
    EXPECT_EQ(field("state"), "play");
    EXPECT_EQ(field("song"), "0");
}

TEST_F(MpdVerbs, EmptyAndLongQueues)
{
    for (const char* line : {"np", "queue", "queue 3"})
        EXPECT_EQ(run(line), "\r\nNothing queued") << line;
    EXPECT_EQ(run("goto 1"), "\r\nNo entry 1 (0 queued)");
    EXPECT_EQ(run("seek 10"), "\r\nNothing playing");

    for (int i = 0; i < 45; ++i)
        ASSERT_TRUE(add("top.wav"));
    EXPECT_EQ(run("goto 30").rfind("\r\nPlaying: 30/45 top.wav", 0), 0U);
    // Five before the current entry, twenty in all; numbers as wide as the queue's length.
    const std::string page = run("queue");
    EXPECT_EQ(page.rfind("\r\n 25 top.wav\r\n", 0), 0U) << page;
    EXPECT_NE(page.find("\r\n>30 top.wav\r\n"), std::string::npos) << page;
    EXPECT_EQ(page.substr(page.size() - 28), "\r\n 44 top.wav\r\n(25-44 of 45)");
    EXPECT_EQ(run("queue 41"), "\r\n 41 top.wav\r\n 42 top.wav\r\n 43 top.wav\r\n 44 top.wav"
                               "\r\n 45 top.wav\r\n(41-45 of 45)");
    EXPECT_EQ(run("queue 46"), "\r\nNo entry 46 (45 queued)");
}

TEST_F(MpdVerbs, FindResultsLoadAsTheyStand)
{
    EXPECT_EQ(run("cd album"), "");
    EXPECT_EQ(run("find B.WAV"), "\r\nNothing found");
    EXPECT_EQ(run("cd \\"), "");
    EXPECT_EQ(run("find B.WAV"), "\r\nother\\b.wav");
    EXPECT_EQ(run("find *disc?"), "\r\nalbum\\disc2\\");
    EXPECT_EQ(run("find ?.wav"), "\r\nalbum\\disc2\\a.wav\r\nother\\b.wav");
    EXPECT_EQ(run("load other\\b.wav"), "");
    EXPECT_EQ(run("load album\\disc2\\"), "");
    EXPECT_EQ(mpd.queue(), (Uris{"other/b.wav", "album/disc2/a.wav"}));
    EXPECT_EQ(run("cd album\\disc2\\"), "");
    EXPECT_EQ(run("pwd"), "\r\n\\album\\disc2\\");
    EXPECT_EQ(run("cd .."), "");
    EXPECT_EQ(run("pwd"), "\r\n\\album\\");
}

TEST_F(MpdVerbs, SleepTimerStopsPlaybackAndOutlivesTheClient)
{
    EXPECT_EQ(run("load album"), "");
    EXPECT_EQ(run("play"), "");
    EXPECT_EQ(run("sleep 1"), "\r\nSleep timer: 1 min left");
    scheduler.advance(30s);
    EXPECT_EQ(run("sleep"), "\r\nSleep timer: 1 min left");
    EXPECT_EQ(run("sleep 2"), "\r\nSleep timer: 2 min left");
    EXPECT_EQ(run("sleep off"), "\r\nSleep timer: off");
    EXPECT_EQ(run("sleep 1"), "\r\nSleep timer: 1 min left");

    // The client leaves and Restart reopens the listener: the timer keeps running.
    run("exit");
    EXPECT_FALSE(socket.isOpen(socket.current));
    EXPECT_TRUE(socket.listening);
    server->Cmd_Start_Click();
    scheduler.advance(59s);
    EXPECT_EQ(field("state"), "play");
    words.clear();
    scheduler.advance(1s);
    EXPECT_EQ(field("state"), "stop");
    EXPECT_EQ(words, std::vector<std::string>{"sleep"});

    socket.connect();
    socket.takeReceived();
    EXPECT_EQ(run("sleep"), "\r\nSleep timer: off");
    EXPECT_EQ(scheduler.pending(), 0U);
}

TEST_F(MpdVerbs, WithoutPlayerTheFailureLineButFindAndSleepWork)
{
    mpd.stop();
    for (const char* line : {"np", "queue", "goto 1", "vol", "vol 10", "seek 5"})
        EXPECT_EQ(run(line), kFailure) << line;
    EXPECT_EQ(run("find top"), "\r\ntop.wav");
    EXPECT_EQ(run("sleep 5"), "\r\nSleep timer: 5 min left");
}

class MpdWithoutMixer : public MpdVerbs
{
protected:
    void SetUp() override { startWith("none"); }
};

TEST_F(MpdWithoutMixer, VolumeIsNotAvailable)
{
    EXPECT_EQ(run("load top.wav"), "");
    EXPECT_EQ(run("play"), "");
    for (const char* line : {"vol", "vol 40", "vol +5"})
        EXPECT_EQ(run(line), "\r\nVolume not available") << line;
    EXPECT_EQ(run("np").rfind("\r\nPlaying: 1/1 top.wav (0:0", 0), 0U);
}

} // namespace
} // namespace zelvor
