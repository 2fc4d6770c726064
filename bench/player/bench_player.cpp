// SPDX-License-Identifier: MIT
// Player round trips against a real MPD: the backend's work for one command line next to the
// bare protocol's connect, command and close, measured in the same run.
#include "player/mpd/MpdBackend.h"
#include "player/mpd/MpdChannel.h"
#include "support/MpdFixture.h"
#include "support/PollLoop.h"

#include <mpd/client.h>

#include <algorithm>
#include <csignal>
#include <utility>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

namespace {

using zelvor::MpdBackend;
using zelvor::MpdChannel;
using zelvor::test::MpdFixture;
using Clock = std::chrono::steady_clock;

constexpr int kCalls = 2000;
constexpr int kLongLines = 200;
constexpr int kFolderFiles = 10000;

struct Figures
{
    double p50 = 0;
    double p99 = 0;
};

// Sample i gets i, so that volume steps can go up and down in turn and never saturate.
Figures measure(int calls, const std::function<void(int)>& work)
{
    std::vector<double> micros;
    micros.reserve(static_cast<std::size_t>(calls));
    for (int i = 0; i < calls; ++i) {
        const auto start = Clock::now();
        work(i);
        micros.push_back(std::chrono::duration<double, std::micro>(Clock::now() - start).count());
    }
    std::sort(micros.begin(), micros.end());
    return {micros[micros.size() / 2], micros[micros.size() * 99 / 100]};
}

void row(const char* name, const Figures& figures, const Figures* floor = nullptr)
{
    std::printf("%-44s %10.1f %10.1f", name, figures.p50, figures.p99);
    if (floor != nullptr)
        std::printf(" %8.2fx", figures.p50 / floor->p50);
    std::printf("\n");
}

int step(int i)
{
    return i % 2 == 0 ? 1 : -1;
}

// The floor: what any client pays for the same work on a fresh connection.
void rawLine(const std::function<void(mpd_connection*)>& work)
{
    mpd_connection* connection =
        mpd_connection_new(nullptr, 0, static_cast<unsigned>(MpdChannel::kTimeout.count()));
    if (mpd_connection_get_error(connection) == MPD_ERROR_SUCCESS)
        work(connection);
    mpd_connection_free(connection);
}

void measureLines(zelvor::test::PollLoop& loop, const char* transport)
{
    MpdBackend player(loop);
    std::printf("\n%s\n%-44s %10s %10s %9s\n", transport, "work (one command line)", "p50 us",
                "p99 us", "ratio");
    const Figures rawVolume = measure(kCalls, [](int i) {
        rawLine([i](mpd_connection* c) { mpd_run_change_volume(c, i % 2 == 0 ? 1 : -1); });
    });
    const Figures volume = measure(kCalls, [&](int i) {
        player.beginCommandLine();
        loop.answer([&](zelvor::PlayerDone done) { player.stepVolume(step(i), done); });
        player.endCommandLine();
    });
    const Figures rawStatus = measure(kCalls, [](int) {
        rawLine([](mpd_connection* c) { mpd_status_free(mpd_run_status(c)); });
    });
    const Figures status = measure(kCalls, [&](int) {
        player.beginCommandLine();
        loop.answer([&](zelvor::PlayerDone done) { player.status(done); });
        player.endCommandLine();
    });
    const Figures longLine = measure(kLongLines, [&](int i) {
        player.beginCommandLine();
        loop.answer([&](zelvor::PlayerDone done) { player.stepVolume(256 * step(i), done); });
        player.endCommandLine();
    });
    row("floor: connect + volume +1/-1 + close", rawVolume);
    row("stepVolume(+1/-1)", volume, &rawVolume);
    row("floor: connect + status + close", rawStatus);
    row("status (status + currentsong)", status, &rawStatus);
    row("volup 255: stepVolume(+-256)", longLine);
}

// The median of a few loads; the queue is emptied after each.
double secondsOf(MpdFixture& mpd, std::size_t& queued, const std::function<void()>& work)
{
    std::vector<double> seconds;
    for (int run = 0; run < 5; ++run) {
        const auto start = Clock::now();
        work();
        seconds.push_back(std::chrono::duration<double>(Clock::now() - start).count());
        queued = mpd.queue().size();
        mpd.command("clear");
    }
    std::sort(seconds.begin(), seconds.end());
    return seconds[seconds.size() / 2];
}

void measureFolderLoad(MpdFixture& mpd, zelvor::test::PollLoop& loop)
{
    for (int i = 0; i < kFolderFiles; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "big/%02d/%05d.wav", i % 50, i);
        zelvor::test::writeWav(mpd.musicDir() / name, 10);
    }
    if (!mpd.update(std::chrono::seconds(300))) {
        std::printf("database update failed: %s\n", mpd.error().c_str());
        return;
    }
    const std::string folder = (mpd.musicDir() / "big").string();
    std::printf("\n%-44s %10s %10s\n", "loading a folder of 10,000 files (median of 5)", "seconds",
                "queued");
    std::size_t queued = 0;
    const auto report = [&](const char* name, const std::function<void()>& work) {
        const double seconds = secondsOf(mpd, queued, work);
        std::printf("%-44s %10.3f %10zu\n", name, seconds, queued);
    };
    mpd.useSocket();
    report("mpc add big (local socket)", [] {
        if (std::system("mpc -q add big") != 0)
            std::printf("mpc failed\n");
    });
    MpdBackend local(loop);
    report("add (local socket)",
           [&] { loop.answer([&](zelvor::PlayerDone done) { local.add(folder, done); }); });
    mpd.useTcp();
    MpdBackend tcp(loop);
    report("add (TCP)",
           [&] { loop.answer([&](zelvor::PlayerDone done) { tcp.add(folder, done); }); });
}

// Each operation against an MPD stopped by SIGSTOP: the answer comes after the two-second
// timeout, and no callback of the loop holds it meanwhile (the timer probe: the longest one).
void measureFrozen(MpdFixture& mpd, zelvor::test::PollLoop& loop)
{
    MpdBackend player(loop);
    loop.answer([&](zelvor::PlayerDone done) { player.status(done); });
    ::kill(mpd.pid(), SIGSTOP);
    std::printf("\n%-44s %10s %10s %9s\n", "against a frozen MPD", "stall ms", "answer ms",
                "limit ms");
    const std::string folder = (mpd.musicDir() / "album").string();
    const std::pair<const char*, std::function<void(zelvor::PlayerDone)>> operations[] = {
        {"status (status, np)", [&](zelvor::PlayerDone d) { player.status(d); }},
        {"queue", [&](zelvor::PlayerDone d) { player.queue(0, 20, d); }},
        {"jumpTo (goto)", [&](zelvor::PlayerDone d) { player.jumpTo(0, d); }},
        {"setVolume (vol 40)", [&](zelvor::PlayerDone d) { player.setVolume(40, d); }},
        {"seekTo (seek)", [&](zelvor::PlayerDone d) { player.seekTo(5000, d); }},
        {"stepVolume (volup)", [&](zelvor::PlayerDone d) { player.stepVolume(1, d); }},
        {"pause", [&](zelvor::PlayerDone d) { player.pause(d); }},
        {"add (load)", [&](zelvor::PlayerDone d) { player.add(folder, d); }},
    };
    for (const auto& [name, start] : operations) {
        loop.longest = {};
        const auto begin = Clock::now();
        loop.answer(start);
        const double answer =
            std::chrono::duration<double, std::milli>(Clock::now() - begin).count();
        std::printf("%-44s %10.2f %10.0f %9d\n", name,
                    std::chrono::duration<double, std::milli>(loop.longest).count(), answer, 50);
    }
    ::kill(mpd.pid(), SIGCONT);
}

} // namespace

int main()
{
    MpdFixture mpd;
    if (!mpd.start()) {
        std::fprintf(stderr, "bench_player: %s\n", mpd.error().c_str());
        return 1;
    }
    mpd.command("setvol 50");
    zelvor::test::PollLoop loop;
    std::printf("MPD %s, %d calls per row (volup 255: %d lines)\n", mpd.protocolVersion().c_str(),
                kCalls, kLongLines);
    mpd.useSocket();
    measureLines(loop, "unix socket");
    mpd.useTcp();
    measureLines(loop, "TCP 127.0.0.1");
    measureFrozen(mpd, loop);
    measureFolderLoad(mpd, loop);
    return 0;
}
