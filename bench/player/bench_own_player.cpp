// SPDX-License-Identifier: MIT
// "open" of the MPD that Zelvor configures itself, on a music root of 10,000 files: the longest
// stall of the event loop during a first open, next to the stall of an open that waits in place,
// and the time until load and play work, with a fresh database and with that of an earlier open.
#include "player/mpd/MpdBackend.h"
#include "support/MpdFixture.h"
#include "support/PollLoop.h"
#include "support/TempDir.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include <signal.h>

namespace {

using zelvor::MpdBackend;
using zelvor::test::MpdFixture;
using Clock = std::chrono::steady_clock;

constexpr int kArtists = 100;
constexpr int kTracks = 100;

double millis(const std::function<void()>& work)
{
    const auto start = Clock::now();
    work();
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

pid_t pidOf(const zelvor::ManagedMpdSetup& setup)
{
    return static_cast<pid_t>(
        std::atoi(zelvor::test::readFile(setup.settingsFolder / "mpd.pid").c_str()));
}

void closeAndWait(zelvor::test::PollLoop& loop, MpdBackend& player,
                  const zelvor::ManagedMpdSetup& setup)
{
    const pid_t mpd = pidOf(setup);
    loop.answer([&player](zelvor::PlayerDone done) { player.close(done); });
    if (!MpdFixture::waitFor([mpd] { return MpdFixture::processGone(mpd); }))
        ::kill(mpd, SIGKILL);
}

} // namespace

int main()
{
    const zelvor::test::TempDir home;
    const auto root = home.path() / "Music";
    for (int artist = 0; artist < kArtists; ++artist)
        for (int track = 0; track < kTracks; ++track)
            zelvor::test::writeWav(root / ("artist" + std::to_string(artist)) /
                                       ("track" + std::to_string(track) + ".wav"),
                                   100);
    for (const char* name : {"MPD_HOST", "MPD_PORT", "PULSE_SERVER"})
        ::unsetenv(name);
    ::setenv("HOME", home.str().c_str(), 1);
    ::setenv("XDG_CONFIG_HOME", (home.path() / "config").c_str(), 1);
    ::setenv("XDG_RUNTIME_DIR", home.str().c_str(), 1);

    zelvor::ManagedMpdSetup setup;
    setup.settingsFolder = home.path() / "config" / "zelvor";
    setup.musicRoot = [&root] { return root.string(); };
    zelvor::test::PollLoop loop;
    setup.after = [&loop](std::chrono::milliseconds delay, std::function<void()> callback) {
        loop.after(delay, std::move(callback));
    };
    MpdBackend player(loop, setup);
    // What the backend answers, for the operations that answer before they return.
    const auto answerOf = [&loop](const std::function<void(zelvor::PlayerDone)>& start) {
        return loop.answer(start, std::chrono::seconds(60));
    };
    const auto state = [&] {
        const auto answer = answerOf([&](zelvor::PlayerDone done) { player.status(done); });
        return answer.status ? std::optional(answer.status->state) : std::nullopt;
    };
    if (state()) {
        std::printf("an MPD answers at MPD's default place; nothing measured\n");
        return 0;
    }
    std::int32_t opened = -1;
    bool answered = false;
    double longestMs = 0;
    const double cold = millis([&] {
        longestMs = millis([&] {
            player.open("mpd", [&](const zelvor::PlayerAnswer& answer) {
                opened = answer.done() ? 0 : -1;
                answered = true;
            });
        });
        loop.longest = {};
        loop.runUntil([&] { return answered; }, std::chrono::seconds(60));
        longestMs =
            std::max(longestMs, std::chrono::duration<double, std::milli>(loop.longest).count());
    });
    std::int32_t loaded = -1;
    const double load = millis([&] {
        loaded = answerOf([&](zelvor::PlayerDone done) {
                     player.add((root / "artist7").string(), done);
                 }).done()
                     ? 0
                     : -1;
    });
    const bool playing = answerOf([&](zelvor::PlayerDone done) { player.play(done); }).done() &&
                         state() == zelvor::PlayState::Playing;
    closeAndWait(loop, player, setup);

    // The same first open through a backend given no timers of the program's: it uses its own
    // loop's, as the program did before it gave its own.
    std::filesystem::remove(setup.settingsFolder / "mpd.db");
    zelvor::ManagedMpdSetup waitingSetup = setup;
    waitingSetup.after = nullptr;
    MpdBackend waiting(loop, waitingSetup);
    const auto openInPlace = [&] {
        answerOf([&](zelvor::PlayerDone done) { waiting.open("mpd", done); });
    };
    const double inPlace = millis(openInPlace);
    closeAndWait(loop, player, setup);
    const double warm = millis(openInPlace);

    // An open while that MPD is stopped by a signal: it is looked at from the timers until the
    // start limit, each look a short connect.
    const pid_t stopped = pidOf(setup);
    ::kill(stopped, SIGSTOP);
    bool gaveUp = false;
    loop.longest = {};
    double stoppedMs = millis(
        [&] { waiting.open("mpd", [&gaveUp](const zelvor::PlayerAnswer&) { gaveUp = true; }); });
    loop.runUntil([&gaveUp] { return gaveUp; }, std::chrono::seconds(60));
    stoppedMs =
        std::max(stoppedMs, std::chrono::duration<double, std::milli>(loop.longest).count());
    ::kill(stopped, SIGCONT);
    closeAndWait(loop, player, setup);

    std::printf("%-52s %10s %10s\n", "own MPD, root of 10,000 files", "ms", "limit ms");
    std::printf("%-52s %10.1f %10d\n", "longest event-loop stall during a first open", longestMs,
                50);
    std::printf("%-52s %10.0f\n", "  the same open on the backend's own timers", inPlace);
    std::printf("%-52s %10.1f %10d\n", "longest event-loop stall, open of a stopped own MPD",
                stoppedMs, 50);
    std::printf(
        "%-52s %10.0f %10lld\n", "open with a fresh database, until scanned", cold,
        static_cast<long long>(std::chrono::milliseconds(zelvor::ManagedMpd::kScanLimit).count()));
    std::printf("%-52s %10.0f\n", "open with the database of an earlier open", warm);
    std::printf("%-52s %10.1f\n", "load of a folder of 100 files right after open", load);
    std::printf("open %s, load %s, play %s\n", opened == 0 ? "ok" : "FAILED",
                loaded == 0 ? "ok" : "FAILED", playing ? "ok" : "FAILED");
    return opened == 0 && loaded == 0 && playing ? 0 : 1;
}
