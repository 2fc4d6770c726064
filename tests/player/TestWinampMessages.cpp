// SPDX-License-Identifier: MIT
#include "player/win32/WinampMessages.h"

#include "player/Player.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>

namespace zelvor {
namespace {

using namespace std::string_literals;

TEST(PlayFileBlock, FifteenBytePathGivesSixteenBytesEndingInZero)
{
    const std::string path = "C:\\Music\\ab.mp3";
    ASSERT_EQ(path.size(), 15u);
    const auto block = playFileBlock(path);
    EXPECT_EQ(block.dwData, 100u);
    EXPECT_EQ(block.cbData, 16u);
    EXPECT_EQ(block.bytes, "C:\\Music\\ab.mp3\0"s);
}

TEST(PlayFileBlock, EmptyPathGivesOneZeroByte)
{
    const auto block = playFileBlock("");
    EXPECT_EQ(block.dwData, kCopyDataPlayFile);
    EXPECT_EQ(block.cbData, 1u);
    EXPECT_EQ(block.bytes, "\0"s);
}

TEST(PlayFileBlock, EightBitBytesPassUnchanged)
{
    const auto block = playFileBlock("D:\\M\xfcsik\\\xe9t\xe9.mp3");
    EXPECT_EQ(block.bytes, "D:\\M\xfcsik\\\xe9t\xe9.mp3\0"s);
    EXPECT_EQ(block.cbData, block.bytes.size());
}

TEST(WinampMessages, CommandIsWmCommandWithIdInWParam)
{
    EXPECT_EQ(commandMessage(kCmdPlay), (WindowMessage{0x0111, 40045, 0}));
    EXPECT_EQ(commandMessage(kCmdClose), (WindowMessage{0x0111, 40001, 0}));
}

TEST(WinampMessages, QueryIsWmUserWithDataInWParamAndIdInLParam)
{
    EXPECT_EQ(queryMessage(0, kQueryPlayState), (WindowMessage{0x0400, 0, 104}));
    EXPECT_EQ(queryMessage(0, kQueryVersion), (WindowMessage{0x0400, 0, 0}));
    EXPECT_EQ(queryMessage(7, kQueryRepeat), (WindowMessage{0x0400, 7, 251}));
}

TEST(WinampMessages, NegativeValuesAreWidenedWithTheirSign)
{
    const auto message = queryMessage(-1, std::int16_t{-2});
    EXPECT_EQ(message.wParam, std::numeric_limits<std::uintptr_t>::max());
    EXPECT_EQ(message.lParam, -2);
    EXPECT_EQ(commandMessage(-1).wParam, std::numeric_limits<std::uintptr_t>::max());
}

TEST(WinampMessages, PlayFileIsWmCopyDataWithoutSenderWindow)
{
    EXPECT_EQ(playFileMessage(), (WindowMessage{0x004A, 0, 0}));
    EXPECT_STREQ(kWinampWindowClass, "Winamp v1.x");
}

TEST(WinampMessages, VolumePercentSurvivesThePlayersScale)
{
    for (int percent = 0; percent <= 100; ++percent)
        EXPECT_EQ(fromPlayerVolume(toPlayerVolume(percent)), percent);
    EXPECT_EQ(toPlayerVolume(37), 94);
    EXPECT_EQ(toPlayerVolume(-5), 0);
    EXPECT_EQ(toPlayerVolume(500), 255);
    EXPECT_EQ(fromPlayerVolume(255), 100);
    EXPECT_EQ(fromPlayerVolume(-666), 0);
    EXPECT_EQ(fromPlayerVolume(1000), 100);
}

} // namespace
} // namespace zelvor
