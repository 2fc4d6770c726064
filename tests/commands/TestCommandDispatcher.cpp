// SPDX-License-Identifier: MIT
#include "commands/CommandDispatcher.h"

#include "commands/CommandFakes.h"

#include <gtest/gtest.h>

namespace zelvor::test {
namespace {

const std::string kFailure = "\r\nCommand Failed - Winamp may not be running";

TEST(CommandSplitting, EmptyLineIsAnUnknownEmptyVerb)
{
    CommandFixture f;
    EXPECT_EQ(f.run(""), PromptSelector::Command);
    EXPECT_EQ(f.connection.sends, Sends{"\r\nI don't know how to "});
    EXPECT_EQ(f.host.activity, Calls{""});
    EXPECT_TRUE(f.player.calls.empty());
}

TEST(CommandSplitting, UnknownVerbsAreNamedWithoutTheirArgument)
{
    const struct
    {
        std::string line, verb;
    } rows[] = {
        {"PLAY", "PLAY"}, // verbs are case-sensitive
        {" play", ""},    // a leading blank leaves an empty verb
        {"dance all night", "dance"},
        {"play\tloud", "play\tloud"}, // only the blank separates
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.line);
        CommandFixture f;
        EXPECT_EQ(f.run(row.line), PromptSelector::Command);
        EXPECT_EQ(f.connection.sends, Sends{"\r\nI don't know how to " + row.verb});
        EXPECT_EQ(f.host.activity, Calls{row.verb});
        EXPECT_EQ(f.session.CommandLine, row.verb);
        EXPECT_TRUE(f.player.calls.empty());
    }
}

TEST(CommandSplitting, ArgumentIsIgnoredAndNeverLogged)
{
    CommandFixture f;
    EXPECT_EQ(f.run("play  something loud "), PromptSelector::Command);
    EXPECT_EQ(f.player.calls, (Calls{"begin", "command 40045", "end"}));
    EXPECT_TRUE(f.connection.sends.empty());
    EXPECT_EQ(f.host.activity, Calls{"play"});
    EXPECT_EQ(f.session.CommandLine, "play");
}

TEST(PlayerCommands, EachVerbSendsItsIdBracketedAndFailsWithoutPlayer)
{
    const struct
    {
        std::string verb;
        int id;
    } rows[] = {{"ff", 40048},    {"rw", 40044},      {"play", 40045},   {"stop", 40047},
                {"pause", 40046}, {"shuffle", 40023}, {"repeat", 40022}, {"close", 40001},
                {"next", 40048},  {"prev", 40044}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.verb);
        CommandFixture f;
        f.player.commandAnswer = 0; // any answer but -1 is success
        EXPECT_EQ(f.run(row.verb), PromptSelector::Command);
        EXPECT_EQ(f.player.calls, (Calls{"begin", "command " + std::to_string(row.id), "end"}));
        EXPECT_TRUE(f.connection.sends.empty());

        f.player.running = false;
        EXPECT_EQ(f.run(row.verb), PromptSelector::PlayerMissing);
        EXPECT_EQ(f.connection.sends, Sends{kFailure});
    }
}

TEST(PlayerCommands, ExitClosesTheConnectionWithoutAWord)
{
    CommandFixture f;
    EXPECT_EQ(f.run("exit now"), PromptSelector::Closed);
    EXPECT_EQ(f.host.closes, 1);
    EXPECT_EQ(f.host.activity, Calls{"exit"});
    EXPECT_TRUE(f.connection.sends.empty());
    EXPECT_TRUE(f.player.calls.empty());
}

TEST(PlayerCommands, ClearIgnoresTheAnswerEvenWithoutPlayer)
{
    CommandFixture f;
    for (bool running : {true, false}) {
        f.player.running = running;
        EXPECT_EQ(f.run("clear"), PromptSelector::Command);
        EXPECT_EQ(f.player.calls, (Calls{"begin", "query 0 101", "end"}));
        EXPECT_TRUE(f.connection.sends.empty());
    }
}

TEST(PlayerCommands, OpenLaunchesTheConfiguredPlayerAndReportsOnlyMinusOne)
{
    CommandFixture f;
    f.settings.WinampLocation = "/usr/bin/mpd --no-daemon";
    EXPECT_EQ(f.run("open"), PromptSelector::Command);
    EXPECT_EQ(f.player.calls, (Calls{"begin", "launch /usr/bin/mpd --no-daemon", "end"}));
    EXPECT_TRUE(f.connection.sends.empty());

    f.player.launchAnswer = -1;
    EXPECT_EQ(f.run("open"), PromptSelector::PlayerMissing);
    EXPECT_EQ(f.connection.sends, Sends{kFailure});
}

TEST(VolumeSteps, CountIsRoundedHalfToEvenCappedAndOneMore)
{
    const struct
    {
        std::string line;
        std::size_t steps;
    } rows[] = {
        {"volup", 1},
        {"volup ", 1},
        {"volup 0", 1},
        {"volup -4", 1},
        {"volup abc", 1},
        {"volup 1", 2},
        {"volup 2.5", 3},
        {"volup 3.5", 5},
        {"volup 0.5", 1},
        {"volup 2.5000001", 4},
        {"volup 300", 256},
        {"volup 255", 256},
        {"volup 254.5", 255},
        {"volup 1e9", 256},
        {"volup -1e9", 1},
        {"volup 1e99999999999", 256},
        {"volup 1e-99999999999", 1},
        {"volup inf", 1},
        {"volup nan", 1},
        {"volup 0x10", 1},
        {"volup   +2  ", 3},
        {"volup 25e-1", 3},
        {"volup .5e1", 6},
        {"volup 5.", 6},
        {"volup 1e2", 101},
        {"volup 2 3", 1},
        {"volup - 5", 1},
        {"volup 1e", 1},
        {"volup 1,5", 1},
        {"volup .", 1},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.line);
        CommandFixture f;
        EXPECT_EQ(f.run(row.line), PromptSelector::Command);
        EXPECT_EQ(f.player.count("command 40058"), row.steps);
        EXPECT_EQ(f.player.calls.size(), row.steps + 2); // begin, steps, end
        EXPECT_TRUE(f.connection.sends.empty());
    }
}

TEST(VolumeSteps, VolumeDownUsesItsOwnId)
{
    CommandFixture f;
    f.run("voldn 5");
    EXPECT_EQ(f.player.count("command 40059"), 6u);
    EXPECT_EQ(f.playerWork().size(), 6u);
}

TEST(VolumeSteps, WithoutPlayerTheFailureIsReportedOnce)
{
    CommandFixture f;
    f.player.running = false;
    EXPECT_EQ(f.run("volup 3"), PromptSelector::PlayerMissing);
    EXPECT_EQ(f.player.count("command 40058"), 4u);
    EXPECT_EQ(f.connection.sends, Sends{kFailure});
}

TEST(PlayerCommands, LinesWithoutPlayerWorkLeaveThePlayerAlone)
{
    CommandFixture f;
    for (const char* line : {"help", "pwd", "cd Rock", "ls", "exit", "nothing"}) {
        f.run(line);
        EXPECT_TRUE(f.player.calls.empty()) << line;
    }
}

} // namespace
} // namespace zelvor::test
