// SPDX-License-Identifier: MIT
#include "commands/StatusReport.h"

#include "commands/CommandFakes.h"

#include <gtest/gtest.h>

namespace zelvor::test {
namespace {

TEST(StatusReport, RunningPlayerGetsTheSixLineReport)
{
    CommandFixture f;
    f.player.now.version = 291;
    f.player.now.state = PlayState::Unknown;
    f.player.now.shuffle = true;
    f.player.now.repeat = false;
    EXPECT_EQ(f.run("status"), PromptSelector::Command);
    EXPECT_EQ(f.connection.sends, Sends{"\r\n**Winamp Current Status**"
                                        "\r\nWinamp Version:291"
                                        "\r\nWinamp is Unknown"
                                        "\r\nShuffle is On"
                                        "\r\nRepeat is:Off"
                                        "\r\n*************************"});
    EXPECT_EQ(f.player.calls, (Calls{"begin", "status", "end"}));
}

TEST(StatusReport, PlayStateWordsAndVersionZero)
{
    const struct
    {
        PlayState state;
        std::string word;
    } rows[] = {{PlayState::Stopped, "Stopped"},
                {PlayState::Playing, "Playing"},
                {PlayState::Paused, "Paused"},
                {PlayState::Unknown, "Unknown"}};
    for (const auto& row : rows) {
        CommandFixture f;
        f.player.now.state = row.state;
        f.player.now.shuffle = false;
        f.player.now.repeat = true;
        f.run("status");
        EXPECT_EQ(f.connection.sends, Sends{"\r\n**Winamp Current Status**\r\nWinamp Version:0"
                                            "\r\nWinamp is " +
                                            row.word +
                                            "\r\nShuffle is Off\r\nRepeat is:On"
                                            "\r\n*************************"});
    }
}

TEST(StatusReport, WithoutPlayerTheReportSaysSo)
{
    CommandFixture f;
    f.player.running = false;
    EXPECT_EQ(f.run("status"), PromptSelector::Command);
    EXPECT_EQ(f.connection.sends, Sends{"\r\n**Winamp Current Status**\r\nWinamp is not running"
                                        "\r\n*************************"});
    EXPECT_EQ(f.playerWork(), Calls{"status"});
}

TEST(StatusReport, SettingsThePlayerDoesNotOfferAreNamedSo)
{
    CommandFixture f;
    f.player.now.version = 20200;
    f.player.now.state = PlayState::Playing;
    f.run("status");
    EXPECT_EQ(f.connection.sends, Sends{"\r\n**Winamp Current Status**\r\nWinamp Version:20200"
                                        "\r\nWinamp is Playing\r\nShuffle is not available"
                                        "\r\nRepeat is:not available"
                                        "\r\n*************************"});
}

} // namespace
} // namespace zelvor::test
