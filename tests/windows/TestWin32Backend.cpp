// SPDX-License-Identifier: MIT
#include "player/win32/Win32Backend.h"

#include "windows/StandIn.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace zelvor {
namespace {

using namespace std::string_literals;
using test::hexBytes;
using test::logLines;
using test::ScratchFolder;
using test::StandIn;
using Lines = std::vector<std::string>;

class Win32BackendTest : public testing::Test
{
protected:
    void SetUp() override { ASSERT_TRUE(test::stopAllStandIns()) << "a player window was left"; }
    void TearDown() override { test::stopAllStandIns(); }

    ScratchFolder m_scratch;
    std::string m_log = m_scratch / "player.log";
    Win32Backend m_player;
};

TEST_F(Win32BackendTest, WithoutPlayerEveryMessageAnswersMinusOneAndNothingArrives)
{
    EXPECT_EQ(m_player.WinampCommand(kCmdPlay), -1);
    EXPECT_EQ(m_player.WinampQuery(0, kQueryPlayState), -1);
    EXPECT_EQ(m_player.WinampPlayFile("Z:\\Music\\ab.mp3"), -1);

    StandIn player(m_log);
    ASSERT_TRUE(player.ready());
    EXPECT_EQ(m_player.WinampQuery(0, kQueryVersion), 0x5091);
    EXPECT_EQ(logLines(m_log), Lines{"user 0 0"});
}

TEST_F(Win32BackendTest, CommandsArriveWithTheirIdentifierAndAnswerPassesThrough)
{
    StandIn player(m_log, {"--answer", "77"});
    ASSERT_TRUE(player.ready());
    const std::int32_t ids[] = {kCmdToggleRepeat, kCmdToggleShuffle, kCmdPrevious,
                                kCmdPlay,         kCmdPause,         kCmdStop,
                                kCmdNext,         kCmdVolumeUp,      kCmdVolumeDown};
    Lines expected;
    for (const auto id : ids) {
        EXPECT_EQ(m_player.WinampCommand(id), 77) << id;
        expected.push_back("command " + std::to_string(id) + " 0");
    }
    EXPECT_EQ(logLines(m_log), expected);
}

TEST_F(Win32BackendTest, CloseCommandEndsThePlayerAndLaterMessagesFindNone)
{
    StandIn player(m_log);
    ASSERT_TRUE(player.ready());
    EXPECT_EQ(m_player.WinampCommand(kCmdClose), 0);
    ASSERT_TRUE(player.waitForExit());
    EXPECT_EQ(m_player.WinampCommand(kCmdPlay), -1);
    EXPECT_EQ(logLines(m_log), Lines{"command 40001 0"});
}

TEST_F(Win32BackendTest, QueriesArriveWithDataAndIdAndAnswersPassUnchanged)
{
    StandIn player(
        m_log, {"--version", "0x5091", "--state", "3", "--shuffle", "1", "--repeat", "0x7fffffff"});
    ASSERT_TRUE(player.ready());
    EXPECT_EQ(m_player.WinampQuery(0, kQueryVersion), 20625);
    EXPECT_EQ(m_player.WinampQuery(0, kQueryPlayState), 3);
    EXPECT_EQ(m_player.WinampQuery(0, kQueryShuffle), 1);
    EXPECT_EQ(m_player.WinampQuery(0, kQueryRepeat), 0x7fffffff);
    EXPECT_EQ(m_player.WinampQuery(0, kQueryClearPlaylist), 0);
    // Negative values reach the window widened with their sign, as the Windows headers do.
    EXPECT_EQ(m_player.WinampQuery(-2, -1), 0);
    EXPECT_EQ(logLines(m_log), (Lines{"user 0 0", "user 0 104", "user 0 250", "user 0 251",
                                      "user 0 101", "user 18446744073709551614 -1"}));
}

TEST_F(Win32BackendTest, PlayFileBlockCarriesThePathBytesAndAZeroByte)
{
    StandIn player(m_log);
    ASSERT_TRUE(player.ready());
    const std::string fifteen = "Z:\\Music\\ab.mp3";
    ASSERT_EQ(fifteen.size(), 15u);
    const std::string eightBit = "Z:\\My Music\\Caf\xe9 \xc0 la \xff.mp3";

    EXPECT_EQ(m_player.WinampPlayFile(fifteen), 1);
    EXPECT_EQ(m_player.WinampPlayFile(""), 1);
    EXPECT_EQ(m_player.WinampPlayFile(eightBit), 1);
    EXPECT_EQ(logLines(m_log),
              (Lines{"copydata 100 16 " + hexBytes(fifteen + '\0'), "copydata 100 1 00",
                     "copydata 100 " + std::to_string(eightBit.size() + 1) + " " +
                         hexBytes(eightBit + '\0')}));
}

TEST_F(Win32BackendTest, PlayerClosedAndStartedAgainIsFoundByTheNextCall)
{
    const std::string secondLog = m_scratch / "second.log";
    {
        StandIn first(m_log, {"--version", "1"});
        ASSERT_TRUE(first.ready());
        EXPECT_EQ(m_player.WinampQuery(0, kQueryVersion), 1);
        EXPECT_EQ(m_player.WinampCommand(kCmdClose), 0);
        ASSERT_TRUE(first.waitForExit());
    }
    StandIn second(secondLog, {"--version", "2"});
    ASSERT_TRUE(second.ready());
    EXPECT_EQ(m_player.WinampQuery(0, kQueryVersion), 2);
    EXPECT_EQ(logLines(m_log), (Lines{"user 0 0", "command 40001 0"}));
    EXPECT_EQ(logLines(secondLog), Lines{"user 0 0"});
}

} // namespace
} // namespace zelvor
