// SPDX-License-Identifier: MIT
// The minute-long limits against the real program and the real clock. They take a few minutes,
// so they carry the label "long" and only `make test-long` runs them (the same limits are tested
// with a steered clock in tests/server).
#include "Surroundings.h"
#include "TcpClient.h"
#include "ZelvorProcess.h"

#include <gtest/gtest.h>

#include <thread>

namespace zelvor {
namespace {

using namespace std::chrono_literals;
using test::IniText;
using test::TcpClient;
using test::ZelvorProcess;

const std::string kPrompt = "\r\nZelvor>";

bool startWith(ZelvorProcess& zelvor, IniText& ini)
{
    ini.port = test::freePort();
    zelvor.writeIni(ini.text());
    zelvor.start();
    return zelvor.waitListening();
}

TEST(LongRunning, ClientThatNeverLogsInIsClosedAndALoggedInOneIsNot)
{
    ZelvorProcess zelvor;
    IniText ini;
    ASSERT_TRUE(startWith(zelvor, ini));
    {
        TcpClient squatter;
        ASSERT_TRUE(test::connectAndGreet(squatter, ini.port));
        squatter.send("bo");
        std::string rest;
        EXPECT_TRUE(squatter.waitForClose(&rest, 90s));
        EXPECT_EQ(rest, "bo");
    }
    TcpClient owner;
    ASSERT_TRUE(test::connectAndLogIn(owner, ini.port));
    // Well past the limit, the owner still has the connection.
    std::this_thread::sleep_for(70s);
    owner.send("pwd\r\n");
    EXPECT_EQ(owner.readUntil(kPrompt), "pwd\r\n\\" + kPrompt);
}

TEST(LongRunning, ClientThatTakesNoRepliesForAMinuteIsClosed)
{
    ZelvorProcess zelvor;
    IniText ini;
    ASSERT_TRUE(startWith(zelvor, ini));
    TcpClient flooder;
    ASSERT_TRUE(test::connectAndLogIn(flooder, ini.port));
    std::string paste;
    for (int i = 0; i < 60000; ++i)
        paste += "help\r";
    test::sendWithoutWaiting(flooder, paste);
    // The client never reads: the backlog cannot drain, and after a minute the server gives up.
    EXPECT_TRUE(test::waitForOutputCount(zelvor, " disconnecting\n", 1, 90s));
    TcpClient next;
    EXPECT_TRUE(test::connectAndLogIn(next, ini.port));
}

} // namespace
} // namespace zelvor
