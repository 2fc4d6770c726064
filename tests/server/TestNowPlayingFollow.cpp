// SPDX-License-Identifier: MIT
#include "server/NowPlayingFollow.h"

#include "commands/MusicFolders.h"
#include "player/ChangeWatchers.h"
#include "server/ActivityLog.h"
#include "server/FakeSocket.h"
#include "settings/ServerSettings.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <optional>
#include <vector>

namespace zelvor {
namespace {

using namespace std::chrono_literals;

/** A player whose status the test sets, that answers at once and tells of changes when the
 * test says so (or, with tells off, never). */
class ScriptedPlayer : public test::AbsentPlayer
{
public:
    void status(PlayerDone done) override
    {
        ++reads;
        if (now)
            done(PlayerAnswer::with(*now));
        else
            done(PlayerAnswer::of(Outcome::NoPlayer));
    }
    std::unique_ptr<PlayerWatch> watchChanges(std::function<void()> changed) override
    {
        return tells ? m_watchers.add(std::move(changed)) : nullptr;
    }
    void stopForSleep(PlayerDone done) override
    {
        PlayerStatus stopped = now.value_or(PlayerStatus{});
        stopped.state = PlayState::Stopped;
        stopped.elapsedMs = 0;
        done(PlayerAnswer::of(Outcome::Done));
        change(stopped);
    }
    void change(std::optional<PlayerStatus> status)
    {
        now = std::move(status);
        m_watchers.notify();
    }

    std::optional<PlayerStatus> now;
    bool tells = true;
    int reads = 0;

private:
    ChangeWatchers m_watchers;
};

PlayerStatus playing(std::uint32_t position, std::uint32_t elapsedMs,
                     PlayState state = PlayState::Playing, std::uint32_t length = 3)
{
    PlayerStatus status;
    status.state = state;
    status.queueLength = length;
    status.position = position;
    status.title = "Song " + std::to_string(position + 1);
    status.elapsedMs = elapsedMs;
    status.totalMs = 200000;
    return status;
}

class Sent : public Connection
{
public:
    void send(std::string_view bytes) override { lines.emplace_back(bytes); }
    std::vector<std::string> take() { return std::exchange(lines, {}); }
    std::vector<std::string> lines;
};

using Lines = std::vector<std::string>;

class FollowTest : public ::testing::Test
{
protected:
    void start(const PlayerStatus& shown)
    {
        player.now = shown;
        follow.start(shown);
    }
    test::ManualScheduler scheduler;
    ScriptedPlayer player;
    Sent client;
    NowPlayingFollow follow{player, scheduler, client, [this] { return scheduler.now; }};
};

// One run of changes told by the player, each row: the clock moves on, the player tells of its
// new state, and the lines the client gets at once.
TEST_F(FollowTest, ChangesAreSentTimeRunningOnIsNotAndBurstsAreGathered)
{
    start(playing(0, 10000));
    struct Row
    {
        const char* name;
        std::chrono::milliseconds later;
        /** Nothing: the player tells nothing, the clock only moves on. */
        std::optional<PlayerStatus> state;
        Lines lines;
    };
    const Row rows[] = {
        {"time running on", 5000ms, playing(0, 15000), {}},
        {"next entry, at once", 1000ms, playing(1, 0), {"\r\nPlaying: 2/3 Song 2 (0:00/3:20)"}},
        {"a change within the gathering waits", 50ms, playing(1, 50, PlayState::Paused), {}},
        {"and another", 50ms, playing(2, 0, PlayState::Paused), {}},
        {"their line comes at the end, with the last state",
         100ms,
         std::nullopt,
         {"\r\nPaused: 3/3 Song 3 (0:00/3:20)"}},
        {"a duplicate after the gathering", 1000ms, playing(2, 0, PlayState::Paused), {}},
        {"paused time does not run", 5000ms, playing(2, 0, PlayState::Paused), {}},
        {"a seek while paused",
         1000ms,
         playing(2, 60000, PlayState::Paused),
         {"\r\nPaused: 3/3 Song 3 (1:00/3:20)"}},
        {"a queue that grew",
         1000ms,
         playing(2, 60000, PlayState::Paused, 4),
         {"\r\nPaused: 3/4 Song 3 (1:00/3:20)"}},
        {"playing on",
         1000ms,
         playing(2, 60000, PlayState::Playing, 4),
         {"\r\nPlaying: 3/4 Song 3 (1:00/3:20)"}},
        {"half a second off is no seek", 3000ms, playing(2, 63500, PlayState::Playing, 4), {}},
        {"a seek back",
         1000ms,
         playing(2, 4000, PlayState::Playing, 4),
         {"\r\nPlaying: 3/4 Song 3 (0:04/3:20)"}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        scheduler.advance(row.later);
        if (row.state)
            player.change(row.state);
        EXPECT_EQ(client.take(), row.lines);
    }
}

TEST_F(FollowTest, APlayerThatStopsAnsweringIsToldOnceAndFollowedAgainWhenItAnswers)
{
    start(playing(0, 0));
    player.change(std::nullopt);
    EXPECT_EQ(client.take(), Lines{"\r\nCommand Failed - Winamp may not be running"});
    // Read once a second meanwhile, also without being told.
    const int before = player.reads;
    scheduler.advance(3000ms);
    EXPECT_EQ(player.reads, before + 3);
    EXPECT_EQ(client.take(), Lines{});
    // Back as it was: its line all the same.
    player.now = playing(0, 3000);
    scheduler.advance(1000ms);
    EXPECT_EQ(client.take(), Lines{"\r\nPlaying: 1/3 Song 1 (0:03/3:20)"});
    // And followed as before, without reads of its own.
    const int after = player.reads;
    scheduler.advance(5000ms);
    EXPECT_EQ(player.reads, after);
    player.change(playing(1, 0));
    EXPECT_EQ(client.take(), Lines{"\r\nPlaying: 2/3 Song 2 (0:00/3:20)"});
}

TEST_F(FollowTest, APlayerThatCannotTellIsReadOnceASecondAndEndingStopsTheReads)
{
    player.tells = false;
    auto ended = std::make_unique<NowPlayingFollow>(player, scheduler, client,
                                                    [this] { return scheduler.now; });
    player.now = playing(0, 0);
    ended->start(*player.now);
    scheduler.advance(2000ms);
    EXPECT_EQ(player.reads, 2);
    EXPECT_EQ(client.take(), Lines{});
    player.now = playing(0, 0, PlayState::Stopped);
    scheduler.advance(1000ms);
    EXPECT_EQ(client.take(), Lines{"\r\nStopped: 1/3 Song 1 (0:00/3:20)"});
    ended.reset();
    EXPECT_EQ(scheduler.pending(), 0U);
}

// The session: the first line without a prompt, a keystroke that ends the follow and is
// dropped, telnet negotiation that does not, and a take-over that ends it.
class FollowSession : public ::testing::Test
{
protected:
    FollowSession()
    {
        settings.Port = "2323";
        settings.LoginRequired = false;
        settings.LogFile = (dir.path() / "zelvor.log").string();
        socket.server = &server;
        server.Server_Load();
        client = socket.connect();
        socket.takeReceived();
    }
    test::TempDir dir;
    ServerSettings settings;
    test::FakeSocket socket;
    ActivityLog log{settings, [] { return std::string("2026-12-07 10:11:12"); }};
    ScriptedPlayer player;
    HostFolders folders;
    test::ManualScheduler scheduler;
    TelnetServer server{settings, socket, log, player, folders, scheduler};
    ConnectionId client = 0;
};

TEST_F(FollowSession, AKeystrokeEndsTheFollowAndIsDropped)
{
    player.now = playing(0, 0);
    server.Winsock1_DataArrival(client, "np follow\r\n");
    EXPECT_EQ(socket.takeReceived(), "np follow\r\nPlaying: 1/3 Song 1 (0:00/3:20)");
    EXPECT_TRUE(server.follows(client));
    player.change(playing(1, 0));
    EXPECT_EQ(socket.takeReceived(), "\r\nPlaying: 2/3 Song 2 (0:00/3:20)");
    // A window size from the client's telnet is no keystroke.
    server.Winsock1_DataArrival(client,
                                std::string_view("\xff\xfa\x1f\x00\x50\x00\x18\xff\xf0", 9));
    EXPECT_TRUE(server.follows(client));
    EXPECT_EQ(server.Winsock1_DataArrival(client, "q"), 1U);
    EXPECT_FALSE(server.follows(client));
    EXPECT_EQ(socket.takeReceived(), "\r\nZelvor>");
    player.change(playing(2, 0));
    EXPECT_EQ(socket.takeReceived(), "");
    EXPECT_EQ(socket.run("np"), "\r\nPlaying: 3/3 Song 3 (0:00/3:20)");
}

TEST_F(FollowSession, TheSleepTimerRunsOutWhileFollowingAndItsStopIsPushed)
{
    player.now = playing(0, 0);
    EXPECT_EQ(socket.run("sleep 1"), "\r\nSleep timer: 1 min left");
    server.Winsock1_DataArrival(client, "np follow\r");
    socket.takeReceived();
    scheduler.advance(std::chrono::minutes(1));
    EXPECT_EQ(socket.takeReceived(), "\r\nStopped: 1/3 Song 1 (0:00/3:20)");
    EXPECT_TRUE(server.follows(client));
}

TEST_F(FollowSession, WithoutAPlayerItIsTheFailureLineAndThePromptAsForNp)
{
    server.Winsock1_DataArrival(client, "np follow\r");
    EXPECT_EQ(socket.takeReceived(),
              "np follow\r\nCommand Failed - Winamp may not be running\r\nZelvor>");
    EXPECT_FALSE(server.follows(client));
}

TEST_F(FollowSession, KeysTypedAfterTheLineInTheSameChunkEndTheFollowAndALoginTakesItOver)
{
    player.now = playing(0, 0);
    server.Winsock1_DataArrival(client, "np follow\rplay\r");
    EXPECT_EQ(socket.takeReceived(), "np follow\r\nPlaying: 1/3 Song 1 (0:00/3:20)\r\nZelvor>");
    EXPECT_FALSE(server.follows(client));

    settings.LoginRequired = true;
    settings.UserName = settings.Password = "";
    server.Cmd_Start_Click();
    const ConnectionId first = socket.connect("192.0.2.7");
    for (const char* keys : {"\r", "\r", "np follow\r"})
        server.Winsock1_DataArrival(first, keys);
    EXPECT_TRUE(server.follows(first));
    // Someone else at the door meanwhile, and the owner logging in from elsewhere.
    const ConnectionId second = socket.connect("192.0.2.8");
    EXPECT_TRUE(socket.isOpen(second));
    for (const char* keys : {"\r", "\r"})
        server.Winsock1_DataArrival(second, keys);
    EXPECT_FALSE(socket.isOpen(first));
    EXPECT_FALSE(server.follows(first));
    socket.takeReceived(first);
    player.change(playing(1, 0));
    EXPECT_EQ(socket.takeReceived(first), "");
}

} // namespace
} // namespace zelvor
