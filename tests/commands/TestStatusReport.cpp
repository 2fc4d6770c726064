// SPDX-License-Identifier: MIT
#include "commands/StatusReport.h"

#include "commands/CommandFakes.h"

#include <gtest/gtest.h>

namespace zelvor::test {
namespace {

TEST(StatusReport, RunningPlayerGetsTheSixLineReport)
{
    CommandFixture f;
    f.player.queryAnswers = {{0, 291}, {104, 2}, {250, 5}, {251, 0}};
    EXPECT_EQ(f.run("status"), PromptSelector::Command);
    EXPECT_EQ(f.connection.sends, Sends{"\r\n**Winamp Current Status**"
                                        "\r\nWinamp Version:291"
                                        "\r\nWinamp is Unknown"
                                        "\r\nShuffle is On"
                                        "\r\nRepeat is:Off"
                                        "\r\n*************************"});
    EXPECT_EQ(f.player.calls,
              (Calls{"begin", "query 0 0", "query 0 104", "query 0 250", "query 0 251", "end"}));
}

TEST(StatusReport, PlayStateWordsAndVersionZero)
{
    const struct
    {
        int answer;
        std::string word;
    } rows[] = {{0, "Stopped"}, {1, "Playing"}, {3, "Paused"}, {4, "Unknown"}};
    for (const auto& row : rows) {
        CommandFixture f;
        f.player.queryAnswers = {{0, 0}, {104, row.answer}, {250, 0}, {251, 1}};
        f.run("status");
        EXPECT_EQ(f.connection.sends, Sends{"\r\n**Winamp Current Status**\r\nWinamp Version:0"
                                            "\r\nWinamp is " +
                                            row.word +
                                            "\r\nShuffle is Off\r\nRepeat is:On"
                                            "\r\n*************************"});
    }
}

TEST(StatusReport, WithoutPlayerOnlyTheVersionIsAsked)
{
    CommandFixture f;
    f.player.running = false;
    EXPECT_EQ(f.run("status"), PromptSelector::Command);
    EXPECT_EQ(f.connection.sends, Sends{"\r\n**Winamp Current Status**\r\nWinamp is not running"
                                        "\r\n*************************"});
    EXPECT_EQ(f.playerWork(), Calls{"query 0 0"});
}

TEST(StatusReport, PlayerGoneAfterTheVersionShowsItsMinusOnes)
{
    CommandFixture f;
    f.player.queryAnswers = {{0, -2}, {104, -1}, {250, -1}, {251, -1}};
    f.run("status");
    EXPECT_EQ(f.connection.sends, Sends{"\r\n**Winamp Current Status**\r\nWinamp Version:-2"
                                        "\r\nWinamp is Unknown\r\nShuffle is On\r\nRepeat is:On"
                                        "\r\n*************************"});
}

} // namespace
} // namespace zelvor::test
