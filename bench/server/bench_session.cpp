// SPDX-License-Identifier: MIT
// Session server figures against the real program: start-up, keystroke echo next to a bare
// echo server, replies, connection cycles, memory and idle CPU.
#include "TcpClient.h"
#include "ProcessFigures.h"
#include "ZelvorProcess.h"
#include "settings/PasswordScrambling.h"

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <thread>
#include <vector>

using namespace std::chrono;
using zelvor::bench::cpuTicks;
using zelvor::bench::fmt;
using zelvor::bench::Percentiles;
using zelvor::bench::percentiles;
using zelvor::bench::statusKiB;
using zelvor::test::TcpClient;
using zelvor::test::ZelvorProcess;

namespace {

double micros(steady_clock::duration d)
{
    return duration<double, std::micro>(d).count();
}

/** A bare echo server on a thread: the floor for the keystroke round trip. */
class EchoServer
{
public:
    EchoServer()
    {
        m_listen = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(m_listen, reinterpret_cast<sockaddr*>(&address), sizeof address);
        ::listen(m_listen, 1);
        socklen_t length = sizeof address;
        ::getsockname(m_listen, reinterpret_cast<sockaddr*>(&address), &length);
        m_port = ntohs(address.sin_port);
        m_thread = std::thread([this] {
            const int fd = ::accept(m_listen, nullptr, nullptr);
            const int one = 1;
            ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
            char buffer[4096];
            for (;;) {
                const auto n = ::recv(fd, buffer, sizeof buffer, 0);
                if (n <= 0)
                    break;
                ::send(fd, buffer, static_cast<std::size_t>(n), MSG_NOSIGNAL);
            }
            ::close(fd);
        });
    }
    ~EchoServer()
    {
        m_thread.join();
        ::close(m_listen);
    }
    std::uint16_t port() const { return m_port; }

private:
    int m_listen = -1;
    std::uint16_t m_port = 0;
    std::thread m_thread;
};

Percentiles keystrokeRoundTrip(TcpClient& client, int keys)
{
    std::vector<double> samples;
    samples.reserve(static_cast<std::size_t>(keys));
    for (int i = 0; i < keys; ++i) {
        const std::string key(1, static_cast<char>('a' + i % 26));
        const auto start = steady_clock::now();
        client.send(key);
        client.readUntil(key);
        samples.push_back(micros(steady_clock::now() - start));
        // Keep the server's line short: erase what was typed now and then.
        if (i % 500 == 499) {
            client.send(std::string(500, '\b'));
            client.readUntil(std::string("\b \b"));
            client.readFor(milliseconds(20));
        }
    }
    return percentiles(samples);
}

void row(const char* name, const std::string& value, const char* target)
{
    std::printf("| %-46s | %-24s | %-22s |\n", name, value.c_str(), target);
}

} // namespace

int main()
{
    std::signal(SIGPIPE, SIG_IGN);
    const std::uint16_t port = zelvor::test::freePort();
    ZelvorProcess zelvor;
    zelvor.writeIni("[Zelvor]\r\nPort=" + std::to_string(port) +
                    "\r\nLogin=True\r\nServer Root=" + zelvor.home().str() + "\r\n");
    const auto started = steady_clock::now();
    zelvor.start();
    if (!zelvor.waitListening()) {
        std::fprintf(stderr, "zelvor did not start\n");
        return 1;
    }
    const double startMs = duration<double, std::milli>(steady_clock::now() - started).count();
    std::this_thread::sleep_for(milliseconds(300));
    const long idleRss = statusKiB(zelvor.pid(), "VmRSS");
    const long idleAnon = statusKiB(zelvor.pid(), "Anonymous", "smaps_rollup");
    const long idleTicks0 = cpuTicks(zelvor.pid());
    std::this_thread::sleep_for(seconds(2));
    const long idleTicks = cpuTicks(zelvor.pid()) - idleTicks0;

    std::printf("| %-46s | %-24s | %-22s |\n", "measure", "result", "target");
    std::printf("|%s|%s|%s|\n", std::string(48, '-').c_str(), std::string(26, '-').c_str(),
                std::string(24, '-').c_str());
    row("start to listening (headless, incl. exec)", fmt("%.1f ms", startMs), "< 50 ms");
    row("idle RSS (headless)", fmt("%.1f MiB", idleRss / 1024.0), "< 20 MiB");
    row("private anonymous memory (headless)", fmt("%.1f MiB", idleAnon / 1024.0), "< 4 MiB");
    row("CPU while idle, 2 s", fmt("%.0f ticks", static_cast<double>(idleTicks)), "0");

    constexpr int kKeys = 10000;
    Percentiles floor{};
    {
        EchoServer echo;
        TcpClient client;
        client.connect("127.0.0.1", echo.port());
        floor = keystrokeRoundTrip(client, kKeys);
    }
    TcpClient client;
    client.connect("127.0.0.1", port);
    client.readUntil("Zelvor>");
    const Percentiles echo = keystrokeRoundTrip(client, kKeys);
    client.send("\b");
    client.readFor(milliseconds(50));
    row("keystroke echo p50 / p99 (10,000 keys)", fmt("%.0f / %.0f us", echo.p50, echo.p99), "");
    row("bare echo server p50 / p99 (floor)", fmt("%.0f / %.0f us", floor.p50, floor.p99), "");
    row("echo p99 / floor p99", fmt("%.2fx", echo.p99 / floor.p99), "<= 1.5x");

    // Clear the line the keystrokes left behind, then time replies.
    client.send("\r");
    client.readUntil("Zelvor>");
    for (const char* command : {"help", "pwd", "nonsense"}) {
        std::vector<double> samples;
        for (int i = 0; i < 2000; ++i) {
            client.send(command);
            client.readUntil(command);
            const auto start = steady_clock::now();
            client.send("\r");
            client.readUntil("\r\nZelvor>");
            samples.push_back(micros(steady_clock::now() - start));
        }
        const Percentiles reply = percentiles(samples);
        row((std::string("'") + command + "' Enter to prompt p50 / p99").c_str(),
            fmt("%.0f / %.0f us", reply.p50, reply.p99), "p99 < 2 ms");
    }
    const long silentTicks0 = cpuTicks(zelvor.pid());
    std::this_thread::sleep_for(seconds(2));
    row("CPU with a silent client, 2 s",
        fmt("%.0f ticks", static_cast<double>(cpuTicks(zelvor.pid()) - silentTicks0)), "0");
    client.send("exit\r");
    client.waitForClose();

    // Connection cycles: connect, whole greeting, exit, closed; the listener stays open.
    const long rssBefore = statusKiB(zelvor.pid(), "VmRSS");
    constexpr int kCycles = 10000;
    int refused = 0;
    const auto cyclesStart = steady_clock::now();
    for (int i = 0; i < kCycles; ++i) {
        TcpClient cycle;
        while (!cycle.connect("127.0.0.1", port))
            ++refused;
        cycle.readUntil("Zelvor>");
        cycle.send("exit\r");
        cycle.waitForClose();
    }
    const double cycleSeconds = duration<double>(steady_clock::now() - cyclesStart).count();
    std::this_thread::sleep_for(milliseconds(200));
    const long rssAfter = statusKiB(zelvor.pid(), "VmRSS");
    row("connection cycles per second (10,000)", fmt("%.0f /s", kCycles / cycleSeconds),
        ">= 2,000 /s");
    row("refused connects (the listener stays open)", fmt("%.0f", refused), "0");
    row("RSS growth over 10,000 cycles", fmt("%.0f KiB", static_cast<double>(rssAfter - rssBefore)),
        "<= 1024 KiB");

    zelvor.signal(SIGTERM);
    return zelvor.wait() == 0 ? 0 : 1;
}
