// SPDX-License-Identifier: MIT
// "open" of the MPD that Zelvor configures itself, on a music root of 10,000 files: the time
// until load and play work, with a fresh database and with the database of an earlier open.
#include "player/mpd/MpdBackend.h"
#include "support/MpdFixture.h"
#include "support/TempDir.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>

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
    MpdBackend player(setup);
    if (player.WinampQuery(0, zelvor::kQueryPlayState) != -1) {
        std::printf("an MPD answers at MPD's default place; nothing measured\n");
        return 0;
    }
    std::int32_t opened = -1;
    const double cold = millis([&] { opened = player.LaunchWinamp("mpd"); });
    std::int32_t loaded = -1;
    const double load =
        millis([&] { loaded = player.WinampPlayFile((root / "artist7").string()); });
    const bool playing = player.WinampCommand(zelvor::kCmdPlay) == 0 &&
                         player.WinampQuery(0, zelvor::kQueryPlayState) == 1;
    player.WinampCommand(zelvor::kCmdClose);
    const pid_t first = static_cast<pid_t>(
        std::atoi(zelvor::test::readFile(setup.settingsFolder / "mpd.pid").c_str()));
    MpdFixture::waitFor([first] { return MpdFixture::processGone(first); });
    const double warm = millis([&] { player.LaunchWinamp("mpd"); });
    player.WinampCommand(zelvor::kCmdClose);
    const pid_t second = static_cast<pid_t>(
        std::atoi(zelvor::test::readFile(setup.settingsFolder / "mpd.pid").c_str()));
    if (!MpdFixture::waitFor([second] { return MpdFixture::processGone(second); }))
        ::kill(second, SIGKILL);

    std::printf("%-52s %10s %10s\n", "own MPD, root of 10,000 files", "ms", "limit ms");
    std::printf(
        "%-52s %10.0f %10lld\n", "open with a fresh database, until scanned", cold,
        static_cast<long long>(std::chrono::milliseconds(zelvor::ManagedMpd::kScanLimit).count()));
    std::printf("%-52s %10.0f\n", "open with the database of an earlier open", warm);
    std::printf("%-52s %10.1f\n", "load of a folder of 100 files right after open", load);
    std::printf("open %s, load %s, play %s\n", opened == 0 ? "ok" : "FAILED",
                loaded == 0 ? "ok" : "FAILED", playing ? "ok" : "FAILED");
    return opened == 0 && loaded == 0 && playing ? 0 : 1;
}
