// SPDX-License-Identifier: MIT
// One logged-in client sends a long run of commands to the real program with a real MPD, each as
// soon as the previous reply has come: commands per second, latency from the Enter to the end of
// the prompt, and the program's memory over the run.
//   bench_soak [commands]   (default 100000)
#include "support/MpdFixture.h"

#include "Surroundings.h"
#include "TcpClient.h"
#include "ZelvorProcess.h"

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

using namespace std::chrono;
using zelvor::test::TcpClient;
using zelvor::test::ZelvorProcess;

namespace {

// The mix: reading commands, folder moves, and volume steps that go to MPD.
const std::vector<std::string> kMix = {
    "help", "status", "pwd", "cd album", "ls", "help ls", "volup", "cd ..", "ls *.wav", "voldn",
};

double percentile(std::vector<double> samples, double q)
{
    std::sort(samples.begin(), samples.end());
    return samples[static_cast<std::size_t>(q * static_cast<double>(samples.size() - 1))];
}

} // namespace

int main(int argc, char** argv)
{
    const std::size_t total = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 100000;
    std::signal(SIGPIPE, SIG_IGN);

    zelvor::test::MpdFixture mpd;
    if (!mpd.start()) {
        std::fprintf(stderr, "bench_soak: %s\n", mpd.error().c_str());
        return 1;
    }
    mpd.command("setvol 50");
    ZelvorProcess zelvor;
    zelvor.setEnv("MPD_HOST", mpd.host());
    zelvor.setEnv("MPD_PORT", std::to_string(mpd.port()));
    zelvor::test::IniText ini;
    ini.port = zelvor::test::freePort();
    ini.serverRoot = mpd.musicDir().string();
    zelvor.writeIni(ini.text());
    zelvor.start();
    TcpClient client;
    if (!zelvor.waitListening() || !zelvor::test::connectAndLogIn(client, ini.port)) {
        std::fprintf(stderr, "bench_soak: the program did not come up\n%s",
                     zelvor.errorOutput().c_str());
        return 1;
    }

    const long rssStart = zelvor::test::statusKiB(zelvor.pid(), "VmRSS");
    long rssWarm = 0;
    long rssMiddle = 0;
    std::vector<double> latencies;
    latencies.reserve(total);
    std::size_t failed = 0;
    const auto begin = steady_clock::now();
    for (std::size_t i = 0; i < total; ++i) {
        const std::string& line = kMix[i % kMix.size()];
        const auto sent = steady_clock::now();
        client.send(line + "\r\n");
        const std::string reply = client.readUntil("\r\nZelvor>");
        latencies.push_back(duration<double, std::micro>(steady_clock::now() - sent).count());
        if (reply.size() < 9 || reply.compare(reply.size() - 9, 9, "\r\nZelvor>") != 0 ||
            reply.find("Command Failed") != std::string::npos)
            ++failed;
        if (i + 1 == 1000)
            rssWarm = zelvor::test::statusKiB(zelvor.pid(), "VmRSS");
        if (i + 1 == total / 2)
            rssMiddle = zelvor::test::statusKiB(zelvor.pid(), "VmRSS");
    }
    const double seconds = duration<double>(steady_clock::now() - begin).count();
    const long rssEnd = zelvor::test::statusKiB(zelvor.pid(), "VmRSS");
    const long rssBase = rssWarm > 0 ? rssWarm : rssStart;

    std::printf("Soak: one logged-in client, %zu commands (help, status, pwd, cd, ls, volup, "
                "voldn) against MPD %s\n",
                total, mpd.protocolVersion().c_str());
    std::printf("  %-34s %12.0f\n", "commands per second", static_cast<double>(total) / seconds);
    std::printf("  %-34s %12.1f\n", "latency p50 (us)", percentile(latencies, 0.50));
    std::printf("  %-34s %12.1f\n", "latency p99 (us)", percentile(latencies, 0.99));
    std::printf("  %-34s %12.1f\n", "latency max (us)", percentile(latencies, 1.0));
    std::printf("  %-34s %12zu\n", "replies failed or missing", failed);
    std::printf("  %-34s %12ld\n", "RSS at start (KiB)", rssStart);
    std::printf("  %-34s %12ld\n", "RSS after 1,000 commands (KiB)", rssWarm);
    std::printf("  %-34s %12ld\n", "RSS at the middle (KiB)", rssMiddle);
    std::printf("  %-34s %12ld\n", "RSS at the end (KiB)", rssEnd);
    std::printf("  %-34s %12ld   (target: within 1024)\n", "RSS drift after warm-up (KiB)",
                rssEnd - rssBase);

    client.send("exit\r\n");
    client.waitForClose();
    zelvor.signal(SIGTERM);
    zelvor.wait();
    return failed == 0 ? 0 : 1;
}
