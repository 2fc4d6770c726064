// SPDX-License-Identifier: MIT
// A hostile address that keeps failing its logins cannot keep the owner out.
#include "Surroundings.h"
#include "TcpClient.h"
#include "ZelvorProcess.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

namespace zelvor {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using test::TcpClient;

const std::string kBusy = "Zelvor is busy: one client at a time.\r\n";

double milliseconds(Clock::duration duration)
{
    return std::chrono::duration<double, std::milli>(duration).count();
}

/** What the hostile address does in one round. */
void hostileRound(int round, std::uint16_t port, std::atomic<bool>& stop, int& busyLines)
{
    TcpClient client;
    if (!client.connect("127.0.0.1", port, "127.0.0.2"))
        return;
    const std::string greeting = client.readUntil("User:", 5s);
    if (greeting.rfind(kBusy, 0) == 0) {
        ++busyLines;
        return;
    }
    switch (round % 3) {
    case 0: // wrong passwords, as fast as the server takes them
        for (int i = 0; i < 5 && !stop; ++i) {
            client.send("bob\r\nguess" + std::to_string(i) + "\r\n");
            if (client.readUntil("User:", 5s).empty())
                break;
        }
        break;
    case 1: // silent until the server gives up or the test ends
        for (int i = 0; i < 700 && !stop && !client.waitForClose(nullptr, 100ms); ++i) {
        }
        break;
    default: // a half-typed line, then silence for a while
        client.send("bo");
        for (int i = 0; i < 50 && !stop && !client.waitForClose(nullptr, 100ms); ++i) {
        }
        break;
    }
}

TEST(HostileAddress, OwnerLogsInEveryTenSecondsWhileAnotherAddressAttacksForThreeMinutes)
{
    test::ZelvorProcess zelvor;
    test::IniText ini;
    ini.logLevel = 1;
    test::TempDir logDir;
    ini.logFile = (logDir.path() / "zelvor.log").string();
    ini.port = test::freePort();
    zelvor.writeIni(ini.text());
    zelvor.start();
    ASSERT_TRUE(zelvor.waitListening());

    std::atomic<bool> stop{false};
    int busyLines = 0;
    int rounds = 0;
    std::thread hostile([&] {
        for (; !stop; ++rounds) {
            hostileRound(rounds, ini.port, stop, busyLines);
            std::this_thread::sleep_for(5ms);
        }
    });

    std::vector<double> loginTimes;
    std::vector<std::string> failures;
    const auto end = Clock::now() + 180s;
    while (Clock::now() < end) {
        const auto visit = Clock::now();
        TcpClient owner;
        if (!owner.connect("127.0.0.1", ini.port)) {
            failures.push_back("refused");
        } else if (!test::logIn(owner)) {
            failures.push_back("no login");
        } else {
            loginTimes.push_back(milliseconds(Clock::now() - visit));
            owner.send("exit\r\n");
            owner.waitForClose();
        }
        std::this_thread::sleep_until(visit + 10s);
    }
    stop = true;
    hostile.join();

    EXPECT_EQ(failures, std::vector<std::string>{});
    ASSERT_FALSE(loginTimes.empty());
    std::sort(loginTimes.begin(), loginTimes.end());
    const std::string log = test::readFile(ini.logFile);
    std::size_t penalties = 0;
    for (auto at = log.find("\t127.0.0.2\tpenalty "); at != std::string::npos;
         at = log.find("\t127.0.0.2\tpenalty ", at + 1))
        ++penalties;
    EXPECT_GT(penalties, 0u);
    EXPECT_EQ(log.find("guess"), std::string::npos);
    std::printf("owner logins: %zu, p50 %.1f ms, max %.1f ms; hostile rounds %d, busy lines %d, "
                "penalties logged %zu\n",
                loginTimes.size(), loginTimes[loginTimes.size() / 2], loginTimes.back(), rounds,
                busyLines, penalties);
}

} // namespace
} // namespace zelvor
