// SPDX-License-Identifier: MIT
// Every verb from the typed line to an MPRIS player: the session server with its command
// interpreter and the MPRIS backend, against stand-in players on a private session bus. The
// socket and the clock are the tests' own.
#include "player/mpris/MprisBackend.h"

#include "commands/MusicFolders.h"
#include "server/ActivityLog.h"
#include "server/FakeSocket.h"
#include "server/NowPlayingFollow.h"
#include "server/TelnetServer.h"
#include "settings/ServerSettings.h"
#include "support/MprisStandIn.h"
#include "support/PollLoop.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <fstream>

#include <chrono>

namespace zelvor {
namespace {

using namespace std::chrono_literals;
using test::MprisStandIn;
using test::StandInOptions;
using Calls = std::vector<std::string>;

const std::string kFailure = "\r\nCommand Failed - Winamp may not be running";

test::StandInTrack track(int n, const std::string& title, const std::string& artist = "")
{
    return {"/t/" + std::to_string(n), "file:///m/" + title + ".ogg", title, artist, 225'000'000};
}

class MprisVerbs : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_FALSE(bus.address().empty()) << "dbus-daemon did not start";
        settings.LoginRequired = false;
        settings.ServerRoot = music.path().string();
        settings.WinampLocation = "mpris";
        log.onStatus = [this](const std::string& word) { words.push_back(word); };
        server = std::make_unique<TelnetServer>(settings, socket, log, player, folders, scheduler);
        socket.server = server.get();
        socket.pump = [this](const std::function<bool()>& condition) { loop.runUntil(condition); };
        server->Server_Load();
        socket.connect();
        socket.takeReceived();
    }
    void TearDown() override { server.reset(); }

    MprisStandIn& start(StandInOptions options = {})
    {
        players.push_back(std::make_unique<MprisStandIn>(std::move(options)));
        EXPECT_TRUE(players.back()->ready());
        return *players.back();
    }

    /** A stand-in with three tracks, the second one playing at 1:02. */
    MprisStandIn& startPlaying(StandInOptions options = {})
    {
        auto& standIn = start(std::move(options));
        MprisStandIn::State state;
        state.tracks = {track(1, "Intro"), track(2, "Joga", "Björk"), track(3, "Outro")};
        state.current = 1;
        state.playbackStatus = "Playing";
        state.positionUs = 62'000'000;
        standIn.setState(state);
        return standIn;
    }

    std::string run(const std::string& line) { return socket.run(line); }

    test::PrivateSessionBus bus;
    test::TempDir music;
    ServerSettings settings;
    test::FakeSocket socket;
    ActivityLog log{settings, [] { return std::string("2026-12-07 10:11:12"); }};
    std::vector<std::string> words;
    test::PollLoop loop;
    MprisBackend player{loop,
                        {[this] { return settings.WinampLocation; },
                         [this](const std::string& word) { words.push_back(word); }}};
    HostFolders folders;
    test::ManualScheduler scheduler;
    std::unique_ptr<TelnetServer> server;
    std::vector<std::unique_ptr<MprisStandIn>> players;
};

TEST_F(MprisVerbs, PlayerVerbsReachThePlayerAndStatusReadsIt)
{
    auto& standIn = startPlaying();
    for (const char* line : {"play", "stop", "ff", "rw", "pause", "volup", "voldn 2"})
        EXPECT_EQ(run(line), "") << line;
    // Pause while stopped goes out only with a current track (mpv started idle reports Stopped
    // while it plays); a player that really is stopped stays so. The three steps of voldn 2
    // are one write.
    EXPECT_EQ(standIn.takeCalls(), (Calls{"Play", "Stop", "Next", "Previous", "Pause",
                                          "Set Volume 0.51", "Set Volume 0.48"}));
    auto state = standIn.state();
    EXPECT_EQ(state.playbackStatus, "Stopped");
    state.current = -1;
    standIn.setState(state);
    EXPECT_EQ(run("pause"), "");
    EXPECT_EQ(standIn.takeCalls(), Calls{});
    state.current = 1;
    state.playbackStatus = "Playing";
    standIn.setState(state);
    EXPECT_EQ(run("pause"), "");
    EXPECT_EQ(run("pause"), "");
    EXPECT_EQ(run("shuffle"), "");
    EXPECT_EQ(run("repeat"), "");
    EXPECT_EQ(standIn.takeCalls(),
              (Calls{"Pause", "Play", "Set Shuffle true", "Set LoopStatus Playlist"}));
    EXPECT_EQ(run("status"), "\r\n**Winamp Current Status**\r\nWinamp Version:20200"
                             "\r\nWinamp is Playing\r\nShuffle is On\r\nRepeat is:On"
                             "\r\n*************************");
    EXPECT_EQ(run("repeat"), "");
    EXPECT_EQ(standIn.takeCalls(), Calls{"Set LoopStatus None"});
}

TEST_F(MprisVerbs, SeekShowsWhereThePlayerWasSentBeforeItHasMoved)
{
    StandInOptions lagging;
    lagging.seeksLater = true;
    auto& standIn = startPlaying(lagging);
    // The player still says 1:02 when the reply is made.
    EXPECT_EQ(run("seek 1:30"), "\r\nPlaying: 2/3 Björk - Joga (1:30/3:45)");
    EXPECT_EQ(standIn.takeCalls(), Calls{"SetPosition /t/2 90000000"});
    EXPECT_EQ(standIn.state().positionUs, 90'000'000);
    EXPECT_EQ(run("np"), "\r\nPlaying: 2/3 Björk - Joga (1:30/3:45)");
}

// As Audacious: Position lags behind the seeks, Seek counts from where the player really is,
// and Seeked tells where it went.
TEST_F(MprisVerbs, RelativeSeekGoesAsSeekAndShowsWhereSeekedSaysItWent)
{
    StandInOptions lagging;
    lagging.seeksLater = true;
    lagging.tellsSeeked = true;
    auto& standIn = startPlaying(lagging);
    EXPECT_EQ(run("seek 2:00"), "\r\nPlaying: 2/3 Björk - Joga (2:00/3:45)");
    // Position still says 1:02, so the time asked for is 1:12; the player went to 2:10.
    EXPECT_EQ(run("seek +10"), "\r\nPlaying: 2/3 Björk - Joga (2:10/3:45)");
    EXPECT_EQ(standIn.takeCalls(), (Calls{"SetPosition /t/2 120000000", "Seek 10000000"}));
    EXPECT_EQ(standIn.state().positionUs, 130'000'000);
}

// As VLC: the volume is applied a moment after the call was answered, and told then. This
// one takes only twentieths.
TEST_F(MprisVerbs, VolumeShowsWhatThePlayerToldOnceItAppliedIt)
{
    StandInOptions late;
    late.volumeLater = true;
    auto& standIn = startPlaying(late);
    EXPECT_EQ(run("vol 40"), "\r\nVolume: 40%");
    EXPECT_EQ(run("vol 42"), "\r\nVolume: 40%");
    EXPECT_EQ(run("vol +10"), "\r\nVolume: 50%");
    // Already there: nothing to wait for.
    EXPECT_EQ(run("vol 50"), "\r\nVolume: 50%");
    // The steps are done once the player told them, so the next line reads them.
    EXPECT_EQ(run("volup 9"), "");
    EXPECT_EQ(run("vol"), "\r\nVolume: 60%");
    EXPECT_EQ(standIn.takeCalls(), (Calls{"Set Volume 0.4", "Set Volume 0.42", "Set Volume 0.5",
                                          "Set Volume 0.5", "Set Volume 0.6"}));
    EXPECT_EQ(standIn.state().volume, 0.6);
}

// This player tells no Seeked, so the seek waits up to 300 ms; the backend that made it goes
// away meanwhile, and nothing of it runs later.
TEST_F(MprisVerbs, ABackendGoneWhileASeekWaitsLeavesNothingToRunLater)
{
    auto& standIn = startPlaying();
    bool answered = false;
    {
        MprisBackend gone(loop, {[] { return std::string("mpris"); }, [](const std::string&) {}});
        gone.seekTo(30'000, [&answered](PlayerAnswer) { answered = true; });
        ASSERT_TRUE(loop.runUntil([&] { return standIn.state().positionUs == 30'000'000; }));
        // The player's answer to SetPosition comes in; the wait for Seeked begins.
        loop.runUntil([] { return false; }, 50ms);
    }
    loop.runUntil([] { return false; }, 400ms);
    EXPECT_FALSE(answered);
}

TEST_F(MprisVerbs, TrackListVerbsNowPlayingSeekAndVolume)
{
    auto& standIn = startPlaying();
    EXPECT_EQ(run("np"), "\r\nPlaying: 2/3 Björk - Joga (1:02/3:45)");
    EXPECT_EQ(run("queue"), "\r\n 1 Intro\r\n>2 Björk - Joga\r\n 3 Outro\r\n(1-3 of 3)");
    EXPECT_EQ(run("queue 3"), "\r\n 3 Outro\r\n(3-3 of 3)");
    EXPECT_EQ(run("goto 3"), "\r\nPlaying: 3/3 Outro (0:00/3:45)");
    EXPECT_EQ(run("goto 4"), "\r\nNo entry 4 (3 queued)");
    EXPECT_EQ(standIn.takeCalls(), Calls{"GoTo /t/3"});

    EXPECT_EQ(run("seek 1:00"), "\r\nPlaying: 3/3 Outro (1:00/3:45)");
    EXPECT_EQ(run("seek +15"), "\r\nPlaying: 3/3 Outro (1:15/3:45)");
    EXPECT_EQ(run("seek -2:00"), "\r\nPlaying: 3/3 Outro (0:00/3:45)");
    EXPECT_EQ(standIn.takeCalls(), (Calls{"SetPosition /t/3 60000000", "SetPosition /t/3 75000000",
                                          "SetPosition /t/3 0"}));
    EXPECT_EQ(run("vol 40"), "\r\nVolume: 40%");
    EXPECT_EQ(run("vol +5"), "\r\nVolume: 45%");
    EXPECT_EQ(run("vol"), "\r\nVolume: 45%");
    EXPECT_EQ(standIn.takeCalls(), (Calls{"Set Volume 0.4", "Set Volume 0.45"}));

    EXPECT_EQ(run("clear"), "");
    EXPECT_EQ(standIn.takeCalls(),
              (Calls{"RemoveTrack /t/1", "RemoveTrack /t/2", "RemoveTrack /t/3"}));
    EXPECT_EQ(run("np"), "\r\nNothing queued");
}

TEST_F(MprisVerbs, LoadAppendsFilesAndHandsPlaylistsOver)
{
    auto& standIn = start();
    for (const char* name :
         {"Café/02 b.ogg", "Café/01 a.flac", "Café/cover.jpg", "mix.m3u", "one song.mp3"})
        music.write(name, "x");
    const std::string root = "file://" + music.path().string();
    EXPECT_EQ(run("load one song.mp3"), "");
    EXPECT_EQ(run("load Café"), "");
    EXPECT_EQ(run("load mix.m3u"), "");
    EXPECT_EQ(standIn.takeCalls(),
              (Calls{"AddTrack " + root +
                         "/one%20song.mp3 /org/mpris/MediaPlayer2/TrackList/NoTrack"
                         " false",
                     "AddTrack " + root + "/Caf%C3%A9/01%20a.flac /t/1 false",
                     "AddTrack " + root + "/Caf%C3%A9/02%20b.ogg /t/2 false",
                     "OpenUri " + root + "/mix.m3u"}));
    // The stand-in names a track after its URL's last part, as it is.
    EXPECT_EQ(run("queue"), "\r\n 1 one%20song.mp3\r\n 2 01%20a.flac\r\n 3 02%20b.ogg"
                            "\r\n(1-3 of 3)");
    EXPECT_EQ(standIn.state().playbackStatus, "Stopped");
}

// A folder's load is one AddTrack per file, each after the track added before it, with the
// track list read once; a player that does not name the added track has it read after each.
// Clear reads it once and removes each track.
TEST_F(MprisVerbs, FolderLoadAndClearGrowWithTheFiles)
{
    for (int i = 0; i < 40; ++i)
        music.write("many/" + std::string(i < 10 ? "0" : "") + std::to_string(i) + ".ogg", "x");
    const struct
    {
        bool tellsAdded;
        int readsForLoad;
    } rows[] = {{true, 1}, {false, 41}};
    for (const auto& row : rows) {
        StandInOptions options;
        options.tellsAdded = row.tellsAdded;
        auto& standIn = start(options);
        EXPECT_EQ(run("load many"), "");
        const auto calls = standIn.takeCalls();
        EXPECT_EQ(calls.size(), 40u);
        EXPECT_EQ(calls.front(),
                  "AddTrack file://" + music.path().string() +
                      "/many/00.ogg /org/mpris/MediaPlayer2/TrackList/NoTrack false");
        EXPECT_EQ(standIn.trackListReads(), row.readsForLoad) << row.tellsAdded;
        const auto tracks = standIn.state().tracks;
        ASSERT_EQ(tracks.size(), 40u);
        for (std::size_t i = 0; i < 40; ++i)
            EXPECT_EQ(tracks[i].title, (i < 10 ? "0" : "") + std::to_string(i) + ".ogg");
        EXPECT_EQ(run("clear"), "");
        EXPECT_EQ(standIn.takeCalls().size(), 40u);
        EXPECT_EQ(standIn.trackListReads(), 1);
        EXPECT_TRUE(standIn.state().tracks.empty());
        players.clear();
    }
}

// A player that never answers holds nothing but its own line: the loop goes on serving its
// timers, and the line ends with the player missing once the call's time limit passed.
TEST_F(MprisVerbs, HungPlayerLeavesTheLoopFreeUntilItsLineFails)
{
    StandInOptions hung;
    hung.hangs = true;
    start(hung);
    server->Winsock1_DataArrival(socket.current, "status\r");
    EXPECT_EQ(socket.takeReceived(), "status");
    bool ticked = false;
    loop.after(20ms, [&ticked] { ticked = true; });
    std::string got;
    ASSERT_TRUE(loop.runUntil([&] {
        got += socket.takeReceived();
        return ticked || !got.empty();
    }));
    EXPECT_TRUE(ticked);
    EXPECT_EQ(got, "");
    ASSERT_TRUE(loop.runUntil([&] {
        got += socket.takeReceived();
        return got.find("Zelvor>") != std::string::npos;
    }));
    EXPECT_EQ(got, "\r\n**Winamp Current Status**\r\nWinamp is not running"
                   "\r\n*************************\r\nZelvor>");
}

TEST_F(MprisVerbs, WhatThePlayerLacksAnswersOneLine)
{
    StandInOptions bare;
    bare.shuffle = bare.loopStatus = bare.volume = bare.trackList = bare.canSeek = false;
    bare.canQuit = false;
    auto& standIn = startPlaying(bare);
    EXPECT_EQ(run("shuffle"), "\r\nShuffle not available");
    EXPECT_EQ(run("repeat"), "\r\nRepeat not available");
    EXPECT_EQ(run("volup"), "\r\nVolume not available");
    EXPECT_EQ(run("voldn"), "\r\nVolume not available");
    EXPECT_EQ(run("vol 40"), "\r\nVolume not available");
    EXPECT_EQ(run("clear"), "\r\nClear not available");
    EXPECT_EQ(run("queue"), "\r\nQueue not available: the player shows none");
    EXPECT_EQ(run("goto 2"), "\r\nQueue not available: the player shows none");
    EXPECT_EQ(run("seek 10"), "\r\nSeek not available");
    EXPECT_EQ(run("np"), "\r\nPlaying: Björk - Joga (1:02/3:45)");
    EXPECT_EQ(run("status"), "\r\n**Winamp Current Status**\r\nWinamp Version:20200"
                             "\r\nWinamp is Playing\r\nShuffle is not available"
                             "\r\nRepeat is:not available\r\n*************************");
    std::ofstream(music.path() / "x.ogg").put('x');
    EXPECT_EQ(run("load x.ogg"), "");
    EXPECT_EQ(standIn.takeCalls(), Calls{"OpenUri file://" + music.path().string() + "/x.ogg"});
    // No Quit and no program of Zelvor's: close says so and leaves the player alone.
    EXPECT_EQ(run("close"), "\r\nClose not available");
    EXPECT_EQ(run("np"), "\r\nPlaying: Björk - Joga (1:02/3:45)");
}

// cmus takes plain paths and single files; Audacious takes files only through an interface of
// its own, which a player of that name without it lacks.
TEST_F(MprisVerbs, LoadHandsFilesAsThePlayersRuleSaysAndSaysWhyItAddedNothing)
{
    std::ofstream(music.path() / "x.ogg").put('x');
    for (const char* name : {"cmus", "audacious"}) {
        SCOPED_TRACE(name);
        StandInOptions options;
        options.name = name;
        options.trackList = false;
        auto& standIn = startPlaying(options);
        settings.WinampLocation = std::string("mpris:") + name;
        const bool cmus = std::string(name) == "cmus";
        EXPECT_EQ(run("load x.ogg"),
                  cmus ? "" : "\r\nLoad not available: audacious takes no files over the bus");
        EXPECT_EQ(run("load"),
                  cmus ? "\r\nLoad not available: cmus takes no folders over the bus"
                       : "\r\nLoad not available: audacious takes no files over the bus");
        // A name not found stays silent and hands nothing over.
        EXPECT_EQ(run("load missing.ogg"), "");
        EXPECT_EQ(standIn.takeCalls(),
                  cmus ? Calls{"OpenUri " + (music.path() / "x.ogg").string()} : Calls{});
    }
}

TEST_F(MprisVerbs, SleepPausesAndClosePlayerQuits)
{
    auto& standIn = startPlaying();
    EXPECT_EQ(run("sleep 1"), "\r\nSleep timer: 1 min left");
    scheduler.advance(60s);
    EXPECT_TRUE(loop.runUntil([&] { return standIn.state().playbackStatus == "Paused"; }));
    EXPECT_EQ(standIn.takeCalls(), Calls{"Pause"});
    EXPECT_EQ(standIn.state().playbackStatus, "Paused");
    EXPECT_EQ(run("close"), "");
    EXPECT_EQ(standIn.takeCalls(), Calls{"Quit"});
    EXPECT_EQ(run("play"), kFailure);
    EXPECT_EQ(run("open"), kFailure);
}

// open starts the location's program and answers once its player took its name on the bus;
// close ends it through Quit, or with SIGTERM when the player offers no Quit. A program whose
// player never comes fails open once the start limit passed.
TEST_F(MprisVerbs, OpenStartsTheProgramAndAnswersWhenItsPlayerCame)
{
    for (const char* arguments : {"", " --no-quit"}) {
        settings.WinampLocation = std::string(ZELVOR_STANDIN_PLAYER) + arguments;
        EXPECT_EQ(run("play"), kFailure) << arguments;
        EXPECT_EQ(run("open"), "") << arguments;
        EXPECT_EQ(run("np"), "\r\nNothing queued") << arguments;
        EXPECT_EQ(run("open"), "") << arguments;
        EXPECT_EQ(run("close"), "") << arguments;
        EXPECT_TRUE(loop.runUntil([&] { return run("play") == kFailure; })) << arguments;
    }
    settings.WinampLocation = "/bin/true";
    EXPECT_EQ(run("open"), kFailure);
}

TEST_F(MprisVerbs, LocationChoosesAmongTwoPlayers)
{
    StandInOptions vlc;
    vlc.name = "vlc.instance77";
    auto& first = start(vlc);
    StandInOptions lolly;
    lolly.name = "Lollypop";
    auto& second = startPlaying(lolly);
    EXPECT_EQ(run("play"), "");
    EXPECT_EQ(second.takeCalls(), Calls{"Play"});
    settings.WinampLocation = "mpris:VLC";
    EXPECT_EQ(run("play"), "");
    settings.WinampLocation = "/usr/bin/vlc --one";
    EXPECT_EQ(run("stop"), "");
    EXPECT_EQ(first.takeCalls(), (Calls{"Play", "Stop"}));
    settings.WinampLocation = "mpris:lollypop";
    EXPECT_EQ(run("ff"), "");
    EXPECT_EQ(second.takeCalls(), Calls{"Next"});
    settings.WinampLocation = "mpris:audacious";
    EXPECT_EQ(run("play"), kFailure);
    EXPECT_EQ(run("open"), kFailure);
}

TEST_F(MprisVerbs, PlayerThatLeavesOrHangsGivesTheFailureLine)
{
    StandInOptions leaving;
    leaving.leavesOn = "Pause";
    startPlaying(leaving);
    EXPECT_EQ(run("pause"), kFailure);
    EXPECT_EQ(run("np"), kFailure);

    StandInOptions hung;
    hung.hangs = true;
    start(hung);
    EXPECT_EQ(run("np"), kFailure);
    EXPECT_EQ(run("status"), "\r\n**Winamp Current Status**\r\nWinamp is not running"
                             "\r\n*************************");
    EXPECT_EQ(run("help").substr(0, 2), "\r\n");
}

// The one bus connection is kept from line to line; when its bus goes away the line in
// progress fails, the dead connection is no longer watched, and the next line opens a new one.
TEST_F(MprisVerbs, BusThatWentAwayIsOpenedAgainAtTheNextLine)
{
    auto other = std::make_unique<test::PrivateSessionBus>();
    ASSERT_FALSE(other->address().empty());
    auto& first = startPlaying();
    EXPECT_EQ(run("play"), "");
    EXPECT_EQ(run("stop"), "");
    EXPECT_EQ(first.takeCalls(), (Calls{"Play", "Stop"}));
    EXPECT_EQ(loop.watched(), 1u);
    players.clear();
    other.reset();
    EXPECT_EQ(run("play"), kFailure);
    EXPECT_EQ(loop.watched(), 0u);
    auto& second = startPlaying();
    EXPECT_EQ(run("play"), "");
    EXPECT_EQ(second.takeCalls(), Calls{"Play"});
    EXPECT_EQ(loop.watched(), 1u);
}

TEST_F(MprisVerbs, WithoutSessionBusTheFailureLineAndOneStatusWord)
{
    ::setenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/bus", 1);
    words.clear();
    EXPECT_EQ(run("play"), kFailure);
    EXPECT_EQ(run("np"), kFailure);
    EXPECT_EQ(
        std::count(words.begin(), words.end(), "No session bus: MPRIS players cannot be reached"),
        1);
}

} // namespace
} // namespace zelvor

namespace zelvor {
namespace {

// The stand-in sends no signals: it is read once a second while followed. It leaves the bus and
// comes back under the same name: the failure line once, then its line, and the follow goes on.
TEST_F(MprisVerbs, NpFollowReadsASilentPlayerAndFollowsItBackOntoTheBus)
{
    auto& standIn = startPlaying();
    // The next line, and the end of the gathering time after it (on the manual clock).
    const auto next = [this] {
        loop.runUntil([this] { return !socket.writes().empty(); });
        scheduler.advance(NowPlayingFollow::kGathering);
        return socket.takeReceived();
    };
    server->Winsock1_DataArrival(socket.current, "np follow\r");
    EXPECT_EQ(next(), "np follow");
    EXPECT_EQ(next(), "\r\nPlaying: 2/3 Björk - Joga (1:02/3:45)");
    auto state = standIn.state();
    state.current = 2;
    state.positionUs = 0;
    standIn.setState(state);
    EXPECT_EQ(next(), "\r\nPlaying: 3/3 Outro (0:00/3:45)");

    players.clear();
    EXPECT_EQ(next(), "\r\nCommand Failed - Winamp may not be running");
    auto& back = start();
    state.playbackStatus = "Paused";
    back.setState(state);
    EXPECT_EQ(next(), "\r\nPaused: 3/3 Outro (0:00/3:45)");
    state.current = 0;
    back.setState(state);
    EXPECT_EQ(next(), "\r\nPaused: 1/3 Intro (0:00/3:45)");
    EXPECT_TRUE(server->follows(socket.current));
}

} // namespace
} // namespace zelvor
