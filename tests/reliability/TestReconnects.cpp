// SPDX-License-Identifier: MIT
// The real program's one listener: clients that reconnect the moment their last connection
// closed are all greeted at once.
#include "Surroundings.h"
#include "TcpClient.h"
#include "ZelvorProcess.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

namespace zelvor {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using test::TcpClient;

const std::string kPrompt = "\r\nZelvor>";

double milliseconds(Clock::duration duration)
{
    return std::chrono::duration<double, std::milli>(duration).count();
}

TEST(Reconnects, TenThousandCyclesAreEachGreetedAtTheFirstTry)
{
    test::ZelvorProcess zelvor;
    test::IniText ini;
    ini.login = false;
    ini.port = test::freePort();
    zelvor.writeIni(ini.text());
    zelvor.start();
    ASSERT_TRUE(zelvor.waitListening());
    const std::string greeting = "\xff\xfb\x01\xff\xfb\x03Zelvor v.1.0\r\n";
    std::vector<std::string> failures;
    const auto started = Clock::now();
    constexpr int kCycles = 10000;
    for (int cycle = 0; cycle < kCycles && failures.size() < 10; ++cycle) {
        TcpClient client;
        if (!client.connect("127.0.0.1", ini.port)) {
            failures.push_back("cycle " + std::to_string(cycle) + ": refused");
            continue;
        }
        const std::string got = client.readUntil(kPrompt);
        if (got.rfind(greeting, 0) != 0 || got.size() < kPrompt.size() ||
            got.compare(got.size() - kPrompt.size(), kPrompt.size(), kPrompt) != 0) {
            failures.push_back("cycle " + std::to_string(cycle) + ": received " + got);
            continue;
        }
        // Every other time the client closes first, as a telnet window does; otherwise the
        // server closes after exit. Either way the next connect follows at once.
        if (cycle % 2 == 0) {
            client.send("exit\r\n");
            if (!client.waitForClose())
                failures.push_back("cycle " + std::to_string(cycle) + ": exit left it open");
        } else {
            client.close();
        }
    }
    const auto elapsed = Clock::now() - started;
    EXPECT_EQ(failures, std::vector<std::string>{});
    std::printf("%d connect, greet, close cycles: %.0f ms, %.3f ms per cycle\n", kCycles,
                milliseconds(elapsed), milliseconds(elapsed) / kCycles);
}

} // namespace
} // namespace zelvor
