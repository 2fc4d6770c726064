// SPDX-License-Identifier: MIT
#include "commands/PlayerVerbs.h"

#include "commands/CommandFakes.h"

#include <gtest/gtest.h>

namespace zelvor::test {
namespace {

using namespace std::chrono_literals;

const std::string kFailure = "\r\nCommand Failed - Winamp may not be running";

PlayerStatus playing(std::uint32_t position, std::uint32_t length)
{
    PlayerStatus status;
    status.state = PlayState::Playing;
    status.queueLength = length;
    status.position = position;
    status.title = "Song " + std::to_string(position + 1);
    status.elapsedMs = 62'500;
    status.totalMs = 225'000;
    status.volume = 40;
    return status;
}

TEST(PlayerVerbs, NowPlayingLine)
{
    PlayerStatus paused = playing(1, 5);
    paused.state = PlayState::Paused;
    PlayerStatus unknownLength = playing(0, 1);
    unknownLength.totalMs.reset();
    unknownLength.elapsedMs = 3'723'000;
    PlayerStatus stopped = playing(0, 7);
    stopped.state = PlayState::Stopped;
    stopped.position.reset();
    PlayerStatus control = playing(0, 1);
    control.title = "bad\x1b[2J\r\ntitle";
    PlayerStatus nameless = playing(0, 0);
    nameless.title.clear();
    nameless.queueKnown = false;
    const struct
    {
        PlayerStatus status;
        std::string line;
    } rows[] = {
        {playing(1, 5), "Playing: 2/5 Song 2 (1:02/3:45)"},
        {paused, "Paused: 2/5 Song 2 (1:02/3:45)"},
        {unknownLength, "Playing: 1/1 Song 1 (1:02:03)"},
        {stopped, "Stopped: 7 queued"},
        {PlayerStatus{}, "Nothing queued"},
        {control, "Playing: 1/1 bad?[2J??title (1:02/3:45)"},
        {nameless, "Playing: (1:02/3:45)"},
    };
    for (const auto& row : rows)
        EXPECT_EQ(nowPlayingLine(row.status), row.line);
    EXPECT_EQ(formatPlayTime(0), "0:00");
    EXPECT_EQ(formatPlayTime(3'599'999), "59:59");
    EXPECT_EQ(formatPlayTime(36'000'000), "10:00:00");
}

TEST(PlayerVerbs, ArgumentParsers)
{
    EXPECT_EQ(parseEntryNumber(" 12 "), 12U);
    for (const auto* bad : {"", "0", "-1", "+1", "1.5", "x", "99999999999"})
        EXPECT_FALSE(parseEntryNumber(bad)) << bad;

    const struct
    {
        std::string text;
        int direction;
        std::uint64_t ms;
    } seeks[] = {{"30", 0, 30'000},
                 {"+30", 1, 30'000},
                 {"-1:05", -1, 65'000},
                 {"1:00:01", 0, 3'601'000},
                 {"0:00", 0, 0}};
    for (const auto& row : seeks) {
        const auto target = parseSeekTarget(row.text);
        ASSERT_TRUE(target) << row.text;
        EXPECT_EQ(target->direction, row.direction) << row.text;
        EXPECT_EQ(target->milliseconds, row.ms) << row.text;
    }
    for (const auto* bad : {"", "+", "1:5", "1:60", "1:00:00:00", "1.5", "a", "+-3", "1:"})
        EXPECT_FALSE(parseSeekTarget(bad)) << bad;

    EXPECT_EQ(parseVolumeChange("37")->value, 37);
    EXPECT_EQ(parseVolumeChange("-500")->value, -100);
    EXPECT_TRUE(parseVolumeChange("+5")->relative);
    for (const auto* bad : {"", "101", "5%", "+", "x", "1 2"})
        EXPECT_FALSE(parseVolumeChange(bad)) << bad;
}

TEST(PlayerVerbs, RepliesAndPlayerWork)
{
    const struct
    {
        std::string line;
        std::string reply;
        Calls work;
    } rows[] = {
        {"np", "\r\nPlaying: 8/30 Song 8 (1:02/3:45)", {"status"}},
        {"queue", "", {"status", "queue 2 20"}},
        {"queue 25", "", {"queue 24 20"}},
        {"queue 31", "\r\nNo entry 31 (30 queued)", {"queue 30 20"}},
        {"queue x", "\r\nNo entry x (30 queued)", {"status"}},
        {"goto 3", "\r\nPlaying: 3/30 Song 8 (0:00/3:45)", {"jump 2"}},
        {"goto 0", "\r\nNo entry 0 (30 queued)", {"status"}},
        {"goto 31", "\r\nNo entry 31 (30 queued)", {"jump 30"}},
        {"goto", "\r\nusage: goto <number>", {}},
        {"vol", "\r\nVolume: 40%", {"status"}},
        {"vol 73", "\r\nVolume: 73%", {"volume 73"}},
        {"vol +70", "\r\nVolume: 100%", {"status", "volume 100"}},
        {"vol -50", "\r\nVolume: 0%", {"status", "volume 0"}},
        {"vol 101", "\r\nusage: vol [0-100|+n|-n]", {}},
        {"seek 1:00", "\r\nPlaying: 8/30 Song 8 (1:00/3:45)", {"status", "seek 60000"}},
        {"seek -2:00", "\r\nPlaying: 8/30 Song 8 (0:00/3:45)", {"status", "seek 0"}},
        {"seek +9:00", "\r\nPlaying: 8/30 Song 8 (3:44/3:45)", {"status", "seek 224000"}},
        {"seek 1:7", "\r\nusage: seek [+|-]<seconds or m:ss>", {}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.line);
        CommandFixture f;
        f.player.now = playing(7, 30);
        EXPECT_EQ(f.run(row.line), PromptSelector::Command);
        EXPECT_EQ(f.playerWork(), row.work);
        ASSERT_EQ(f.connection.sends.size(), 1U);
        if (!row.reply.empty()) {
            EXPECT_EQ(f.connection.sends[0], row.reply);
        }
    }
}

TEST(PlayerVerbs, QueuePagesAreNumberedToTheQueuesWidthAndMarkTheCurrentEntry)
{
    CommandFixture f;
    f.player.now = playing(7, 130);
    f.run("queue");
    std::string expected;
    for (int n = 3; n <= 22; ++n) {
        const std::string number = std::to_string(n);
        expected += std::string("\r\n") + (n == 8 ? ">" : " ") +
                    std::string(3 - number.size(), ' ') + number + " Song " + number;
    }
    expected += "\r\n(3-22 of 130)";
    EXPECT_EQ(f.connection.sends, Sends{expected});

    f.run("queue 129");
    EXPECT_EQ(f.connection.sends, Sends{"\r\n 129 Song 129\r\n 130 Song 130\r\n(129-130 of 130)"});

    f.player.now = PlayerStatus{};
    for (const auto* line : {"queue", "queue 1", "np"}) {
        f.run(line);
        EXPECT_EQ(f.connection.sends, Sends{"\r\nNothing queued"}) << line;
    }
}

TEST(PlayerVerbs, NoPlayerGivesTheFailureLineNoVolumeOrNothingPlayingTheirOwn)
{
    CommandFixture f;
    f.player.running = false;
    for (const auto* line : {"np", "queue", "goto 1", "vol", "vol 5", "seek 10"}) {
        EXPECT_EQ(f.run(line), PromptSelector::PlayerMissing) << line;
        EXPECT_EQ(f.connection.sends, Sends{kFailure}) << line;
    }
    f.player.running = true;
    f.player.now = playing(0, 3);
    f.player.now.volume.reset();
    for (const auto* line : {"vol", "vol 50", "vol +5"}) {
        f.run(line);
        EXPECT_EQ(f.connection.sends, Sends{"\r\nVolume not available"}) << line;
    }
    f.player.now.state = PlayState::Stopped;
    f.run("seek 10");
    EXPECT_EQ(f.connection.sends, Sends{"\r\nNothing playing"});
    EXPECT_EQ(f.playerWork(), Calls{"status"});
}

TEST(PlayerVerbs, SleepTimerIsTheHostsAndNeedsNoPlayer)
{
    CommandFixture f;
    f.player.running = false;
    const struct
    {
        std::string line, reply;
    } rows[] = {
        {"sleep", "\r\nSleep timer: off"},
        {"sleep 30", "\r\nSleep timer: 30 min left"},
        {"sleep", "\r\nSleep timer: 30 min left"},
        {"sleep 0", "\r\nusage: sleep [minutes|off]"},
        {"sleep 721", "\r\nusage: sleep [minutes|off]"},
        {"sleep soon", "\r\nusage: sleep [minutes|off]"},
        {"sleep 720", "\r\nSleep timer: 720 min left"},
        {"sleep off", "\r\nSleep timer: off"},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(f.run(row.line), PromptSelector::Command) << row.line;
        EXPECT_EQ(f.connection.sends, Sends{row.reply}) << row.line;
        EXPECT_EQ(f.host.activity, Calls{"sleep"});
        EXPECT_TRUE(f.player.calls.empty()) << row.line;
    }
    // Minutes left are rounded up.
    f.host.sleepLeft = 61s;
    f.run("sleep");
    EXPECT_EQ(f.connection.sends, Sends{"\r\nSleep timer: 2 min left"});
}

} // namespace
} // namespace zelvor::test
