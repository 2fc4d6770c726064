// SPDX-License-Identifier: MIT
// "np follow" against a real MPD that another MPD client changes: the session server, the MPD
// backend on its kept connection and a poll(2) loop; the gathering time runs on a manual clock.
#include "player/mpd/MpdBackend.h"

#include "commands/MusicFolders.h"
#include "server/ActivityLog.h"
#include "server/FakeSocket.h"
#include "server/NowPlayingFollow.h"
#include "server/TelnetServer.h"
#include "settings/ServerSettings.h"
#include "support/MpdFixture.h"
#include "support/PollLoop.h"

#include <gtest/gtest.h>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>

namespace zelvor {
namespace {

using namespace std::chrono_literals;
using test::MpdFixture;

const std::string kFailure = "\r\nCommand Failed - Winamp may not be running";

class MpdFollow : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(mpd.start()) << mpd.error();
        ASSERT_TRUE(mpd.addRealLengthSongs()) << mpd.error();
        mpd.useSocket();
        settings.Port = "2323";
        settings.LoginRequired = false;
        settings.ServerRoot = mpd.musicDir().string();
        server = std::make_unique<TelnetServer>(settings, socket, log, player, folders, scheduler);
        socket.server = server.get();
        socket.pump = [this](const std::function<bool()>& condition) { loop.runUntil(condition); };
        server->Server_Load();
        socket.connect();
        socket.takeReceived();
    }
    void TearDown() override { server.reset(); }

    /** Types "np follow" and returns what came back for it. */
    std::string follow()
    {
        const std::string echo = "np follow";
        server->Winsock1_DataArrival(socket.current, echo + "\r");
        loop.runUntil([&] { return socket.received().size() > echo.size(); }, 10s);
        return socket.takeReceived();
    }
    /** The next line the client is sent, once it came (empty when none came in ten seconds). */
    std::string pushed()
    {
        loop.runUntil([this] { return !socket.writes().empty(); }, 10s);
        return socket.writes().empty() ? std::string() : socket.takeReceived();
    }
    /** Another client's line to MPD, on a connection of its own. */
    void elsewhere(const std::string& line) { ASSERT_NE(mpd.command(line), "") << line; }

    MpdFixture mpd;
    ServerSettings settings;
    test::FakeSocket socket;
    ActivityLog log{settings, [] { return std::string("2026-12-07 10:11:12"); }};
    test::PollLoop loop;
    MpdBackend player{loop};
    HostFolders folders;
    test::ManualScheduler scheduler;
    std::unique_ptr<TelnetServer> server;
};

// Each change from elsewhere is one line, in order; a change of what the line does not show
// (repeat) sends none, nor does the time running on between them.
TEST_F(MpdFollow, ChangesFromAnotherClientArriveOneLineEachInOrder)
{
    elsewhere("add \"long\"");
    EXPECT_EQ(follow(), "np follow\r\nStopped: 2 queued");
    struct Row
    {
        const char* line;
        const char* shows;
    };
    const Row rows[] = {
        {"play", "\r\nPlaying: 1/2 one.wav (0:0"},
        {"next", "\r\nPlaying: 2/2 two.wav (0:0"},
        {"pause 1", "\r\nPaused: 2/2 two.wav (0:0"},
        {"seekcur 40", "\r\nPaused: 2/2 two.wav (0:40/1:10)"},
        {"add \"long/one.wav\"", "\r\nPaused: 2/3 two.wav (0:40/1:10)"},
        {"repeat 1", nullptr},
        {"pause 0", "\r\nPlaying: 2/3 two.wav (0:4"},
        {"stop", "\r\nStopped: 2/3 two.wav (0:00/1:10)"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.line);
        // Past the gathering time of the line before.
        scheduler.advance(NowPlayingFollow::kGathering);
        elsewhere(row.line);
        if (row.shows == nullptr)
            continue;
        const std::string line = pushed();
        EXPECT_EQ(line.rfind(row.shows, 0), 0U) << line;
    }
    EXPECT_TRUE(server->follows(socket.current));
    // Any key ends it and is dropped: the next line is a command line of its own.
    server->Winsock1_DataArrival(socket.current, "x");
    EXPECT_EQ(socket.takeReceived(), "\r\nZelvor>");
    elsewhere("play");
    EXPECT_EQ(socket.run("np").rfind("\r\nPlaying: 2/3 two.wav (0:0", 0), 0U);
}

// Three commands in one write from another client: the first line at once, and the last one
// shows the state after all of them.
TEST_F(MpdFollow, ABurstOfChangesEndsOnItsLastState)
{
    elsewhere("add \"long\"");
    elsewhere("play");
    EXPECT_EQ(follow().rfind("np follow\r\nPlaying: 1/2 one.wav", 0), 0U);
    scheduler.advance(NowPlayingFollow::kGathering);

    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, mpd.socketPath().c_str(), sizeof address.sun_path - 1);
    ASSERT_EQ(::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    const std::string burst = "next\nseekcur 30\npause 1\n";
    ASSERT_EQ(::send(fd, burst.data(), burst.size(), 0), static_cast<ssize_t>(burst.size()));

    const std::string last = "\r\nPaused: 2/2 two.wav (0:30/1:10)";
    std::vector<std::string> lines{pushed()};
    if (lines.back() != last) {
        scheduler.advance(NowPlayingFollow::kGathering);
        lines.push_back(pushed());
    }
    ::close(fd);
    EXPECT_EQ(lines.back(), last);
    EXPECT_LE(lines.size(), 2U);
}

// MPD ends: the failure line once; once it is back, its line, and the follow goes on.
TEST_F(MpdFollow, AnMpdThatGoesAwayIsToldOnceAndFollowedAgain)
{
    elsewhere("add \"long\"");
    EXPECT_EQ(follow(), "np follow\r\nStopped: 2 queued");
    mpd.stop();
    EXPECT_EQ(pushed(), kFailure);
    scheduler.advance(NowPlayingFollow::kPollInterval);
    ASSERT_TRUE(mpd.start()) << mpd.error();
    std::string line;
    for (int second = 0; second < 20 && line.empty(); ++second) {
        scheduler.advance(NowPlayingFollow::kPollInterval);
        loop.runUntil([this] { return !socket.writes().empty(); }, 1s);
        line = socket.takeReceived();
    }
    EXPECT_NE(line, "");
    EXPECT_EQ(line.find(kFailure), std::string::npos) << line;
    scheduler.advance(NowPlayingFollow::kGathering);
    elsewhere("add \"long/one.wav\"");
    EXPECT_NE(pushed().find(" queued"), std::string::npos);
}

} // namespace
} // namespace zelvor
