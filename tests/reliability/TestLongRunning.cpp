// SPDX-License-Identifier: MIT
// The minute-long limits and the sleep timer against the real program and the real clock. They
// take a few minutes, so they carry the label "long" and only `make test-long` runs them (the same
// limits and the timer are tested with a steered clock in tests/server and tests/player).
#include "Surroundings.h"
#include "TcpClient.h"
#include "ZelvorProcess.h"
#include "support/MpdFixture.h"

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
        // From an address of its own: the time-out refuses that address for a while.
        ASSERT_TRUE(test::connectAndGreet(squatter, ini.port, "User:", 10s, "127.0.0.2"));
        squatter.send("bo");
        std::string rest;
        EXPECT_TRUE(squatter.waitForClose(&rest, 90s));
        EXPECT_EQ(rest, "boLogin timed out.\r\n");
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

TEST(LongRunning, SleepTimerStopsPlaybackAMinuteLaterAfterTheClientLeft)
{
    test::MpdFixture mpd;
    ASSERT_TRUE(mpd.start()) << mpd.error();
    // Repeat keeps the short songs playing for as long as the timer runs.
    ASSERT_NE(mpd.command("repeat 1").find("OK"), std::string::npos);
    ZelvorProcess zelvor;
    zelvor.setEnv("MPD_HOST", mpd.host());
    zelvor.setEnv("MPD_PORT", std::to_string(mpd.port()));
    IniText ini;
    ini.serverRoot = mpd.musicDir().string();
    ini.logLevel = 2;
    ASSERT_TRUE(startWith(zelvor, ini));
    const auto started = std::chrono::steady_clock::now();
    {
        TcpClient owner;
        ASSERT_TRUE(test::connectAndLogIn(owner, ini.port));
        owner.send("load album\rplay\rsleep 1\r");
        EXPECT_NE(test::readPrompts(owner, 3).find("Sleep timer: 1 min left"), std::string::npos);
    }
    ASSERT_TRUE(test::MpdFixture::waitFor([&] { return mpd.status()["state"] == "play"; }));
    // Still playing well into the minute, with nobody connected...
    std::this_thread::sleep_until(started + 45s);
    EXPECT_EQ(mpd.status()["state"], "play");
    // ...and stopped once it is over, with the status word said (the verb said it first).
    EXPECT_TRUE(test::waitForOutputCount(zelvor, " sleep\n", 2, 40s));
    EXPECT_TRUE(test::MpdFixture::waitFor([&] { return mpd.status()["state"] == "stop"; }));
    EXPECT_GE(std::chrono::steady_clock::now() - started, 59s);
}

} // namespace
} // namespace zelvor
