// SPDX-License-Identifier: MIT
// "np follow" on the window-message player, which tells nothing: it is read once a second,
// against a real player window changed by another window-message client.
#include "server/NowPlayingFollow.h"

#include "commands/CommandSession.h"
#include "player/win32/Win32Backend.h"
#include "server/FakeSocket.h"
#include "windows/StandIn.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

namespace zelvor {
namespace {

using namespace std::chrono_literals;
using Lines = std::vector<std::string>;

class Sent : public Connection
{
public:
    void send(std::string_view bytes) override { lines.emplace_back(bytes); }
    Lines take() { return std::exchange(lines, {}); }
    Lines lines;
};

TEST(WindowsFollow, ThePlayerIsReadOnceASecondAndEachChangeIsOneLine)
{
    ASSERT_TRUE(test::stopAllStandIns()) << "a player window was left";
    test::ScratchFolder scratch;
    const std::string log = scratch / "player.log";
    auto window = std::make_unique<test::StandIn>(
        log, std::vector<std::string>{"--queue", "Alpha - One|Beta - Two", "--position", "0",
                                      "--state", "1", "--elapsed", "5000", "--length", "225"});
    ASSERT_TRUE(window->ready());

    Win32Backend player;
    Win32Backend elsewhere;
    test::ManualScheduler scheduler;
    Sent client;
    NowPlayingFollow follow(player, scheduler, client);
    player.status([&](const PlayerAnswer& first) {
        ASSERT_TRUE(first.status);
        follow.start(*first.status);
    });
    const auto ignored = [](const PlayerAnswer&) {};
    const struct
    {
        const char* name;
        std::function<void()> change;
        Lines lines;
    } rows[] = {
        {"nothing changes", [] {}, {}},
        {"another entry",
         [&] { elsewhere.jumpTo(1, ignored); },
         {"\r\nPlaying: 2/2 Beta - Two (0:00/3:45)"}},
        {"a seek",
         [&] { elsewhere.seekTo(60000, ignored); },
         {"\r\nPlaying: 2/2 Beta - Two (1:00/3:45)"}},
        {"paused", [&] { elsewhere.pause(ignored); }, {"\r\nPaused: 2/2 Beta - Two (1:00/3:45)"}},
        {"still paused", [] {}, {}},
        {"stopped", [&] { elsewhere.stop(ignored); }, {"\r\nStopped: 2/2 Beta - Two (0:00/3:45)"}},
        {"the player gone",
         [&] { window.reset(); },
         {"\r\nCommand Failed - Winamp may not be running"}},
        {"told once", [] {}, {}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        row.change();
        scheduler.advance(NowPlayingFollow::kPollInterval);
        EXPECT_EQ(client.take(), row.lines);
    }
}

} // namespace
} // namespace zelvor
