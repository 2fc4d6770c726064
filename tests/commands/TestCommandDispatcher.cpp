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
    EXPECT_EQ(f.player.calls, (Calls{"begin", "play", "end"}));
    EXPECT_TRUE(f.connection.sends.empty());
    EXPECT_EQ(f.host.activity, Calls{"play"});
    EXPECT_EQ(f.session.CommandLine, "play");
}

TEST(PlayerCommands, EachVerbRunsItsOperationBracketedAndFailsWithoutPlayer)
{
    const struct
    {
        std::string verb;
        std::string operation;
        std::string notOffered;
    } rows[] = {{"ff", "next", "Command"},          {"rw", "previous", "Command"},
                {"play", "play", "Command"},        {"stop", "stop", "Command"},
                {"pause", "pause", "Command"},      {"shuffle", "shuffle", "Shuffle"},
                {"repeat", "repeat", "Repeat"},     {"close", "close", "Close"},
                {"volup", "volume up 1", "Volume"}, {"voldn", "volume down 1", "Volume"},
                {"next", "next", "Command"},        {"prev", "previous", "Command"}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.verb);
        CommandFixture f;
        EXPECT_EQ(f.run(row.verb), PromptSelector::Command);
        EXPECT_EQ(f.player.calls, (Calls{"begin", row.operation, "end"}));
        EXPECT_TRUE(f.connection.sends.empty());

        f.player.commandOutcome = Outcome::NotOffered;
        EXPECT_EQ(f.run(row.verb), PromptSelector::Command);
        EXPECT_EQ(f.connection.sends, Sends{"\r\n" + row.notOffered + " not available"});

        for (const auto failed : {Outcome::Failed, Outcome::NoPlayer}) {
            f.player.commandOutcome = failed;
            EXPECT_EQ(f.run(row.verb), PromptSelector::PlayerMissing);
            EXPECT_EQ(f.connection.sends, Sends{kFailure});
        }
        f.player.running = false;
        EXPECT_EQ(f.run(row.verb), PromptSelector::PlayerMissing);
        EXPECT_EQ(f.connection.sends, Sends{kFailure});
    }
}

// An answer that comes later ends the line then: the late reply goes out with its prompt
// selector, then the player's line ends; nothing is sent at once.
TEST(PlayerCommands, AnswersThatComeLaterEndTheLineThroughTheLateReply)
{
    const struct
    {
        std::string line;
        bool missing;
        std::string reply;
        PromptSelector selector;
    } rows[] = {
        {"play", false, "", PromptSelector::Command},
        {"play", true, kFailure, PromptSelector::PlayerMissing},
        {"np", false, "\r\nNothing queued", PromptSelector::Command},
        {"np", true, kFailure, PromptSelector::PlayerMissing},
        {"status", true,
         "\r\n**Winamp Current Status**\r\nWinamp is not running\r\n*************************",
         PromptSelector::Command},
        {"volup 2", false, "", PromptSelector::Command},
        {"volup 2", true, kFailure, PromptSelector::PlayerMissing},
        {"vol +5", false, "\r\nVolume not available", PromptSelector::Command},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.line);
        CommandFixture f;
        f.player.holding = true;
        f.player.running = !row.missing;
        EXPECT_EQ(f.run(row.line), PromptSelector::Pending);
        EXPECT_TRUE(f.connection.sends.empty());
        EXPECT_EQ(f.player.count("end"), 0u);
        // Each answer given may ask the next step; the line ends with the last.
        for (int round = 0; round < 4 && !f.player.held.empty(); ++round) {
            EXPECT_TRUE(f.host.lateReplies.empty());
            f.player.release();
        }
        EXPECT_EQ(f.player.calls.back(), "end");
        EXPECT_EQ(f.player.count("end"), 1u);
        ASSERT_EQ(f.host.lateReplies.size(), 1u);
        EXPECT_EQ(f.host.lateReplies[0].first, row.reply);
        EXPECT_EQ(f.host.lateReplies[0].second, row.selector);
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

TEST(PlayerCommands, ClearIgnoresTheAnswerEvenWithoutPlayerButNamesWhatIsNotOffered)
{
    CommandFixture f;
    for (bool running : {true, false}) {
        f.player.running = running;
        EXPECT_EQ(f.run("clear"), PromptSelector::Command);
        EXPECT_EQ(f.player.calls, (Calls{"begin", "clear", "end"}));
        EXPECT_TRUE(f.connection.sends.empty());
    }
    f.player.running = true;
    f.player.commandOutcome = Outcome::NotOffered;
    EXPECT_EQ(f.run("clear"), PromptSelector::Command);
    EXPECT_EQ(f.connection.sends, Sends{"\r\nClear not available"});
}

TEST(PlayerCommands, OpenLaunchesTheConfiguredPlayerAndReportsOnlyMinusOne)
{
    CommandFixture f;
    f.settings.WinampLocation = "/usr/bin/mpd --no-daemon";
    EXPECT_EQ(f.run("open"), PromptSelector::Command);
    EXPECT_EQ(f.player.calls, (Calls{"begin", "open /usr/bin/mpd --no-daemon", "end"}));
    EXPECT_TRUE(f.connection.sends.empty());
    EXPECT_EQ(f.host.activity, Calls{"open"});

    // The reason goes to the status line, not to the client.
    f.player.openOutcome = Outcome::Failed;
    f.player.openFailure = "cannot start /usr/bin/mpd: No such file or directory";
    EXPECT_EQ(f.run("open"), PromptSelector::PlayerMissing);
    EXPECT_EQ(f.connection.sends, Sends{kFailure});
    EXPECT_EQ(f.host.activity, (Calls{"open", f.player.openFailure}));
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
        EXPECT_EQ(f.player.calls,
                  (Calls{"begin", "volume up " + std::to_string(row.steps), "end"}));
        EXPECT_TRUE(f.connection.sends.empty());
    }
}

TEST(VolumeSteps, VolumeDownGoesDown)
{
    CommandFixture f;
    f.run("voldn 5");
    EXPECT_EQ(f.playerWork(), Calls{"volume down 6"});
}

TEST(VolumeSteps, WithoutPlayerTheFailureIsReportedOnce)
{
    CommandFixture f;
    f.player.running = false;
    EXPECT_EQ(f.run("volup 3"), PromptSelector::PlayerMissing);
    EXPECT_EQ(f.playerWork(), Calls{"volume up 4"});
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
