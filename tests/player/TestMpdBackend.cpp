// SPDX-License-Identifier: MIT
#include "player/mpd/MpdBackend.h"

#include "player/PlayerText.h"
#include "support/MpdFixture.h"
#include "support/PlayerCalls.h"
#include "support/PollLoop.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <fstream>

#include <signal.h>

namespace zelvor {
namespace {

namespace fs = std::filesystem;
using test::MpdFixture;
using Uris = std::vector<std::string>;

class MpdPlayer : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(mpd.start()) << mpd.error();
        mpd.useSocket();
    }

    std::string field(const std::string& name) const { return mpd.status()[name]; }

    void queueAlbum() const
    {
        for (const char* song : {"album/01 first.wav", "album/02 second.wav", "album/10 tenth.wav"})
            ASSERT_NE(mpd.command("add \"" + std::string(song) + "\""), "");
    }

    std::string music(const std::string& relative) const
    {
        return (mpd.musicDir() / relative).string();
    }

    MpdFixture mpd;
    test::PollLoop loop;
    MpdBackend player{loop};
    test::PlayerCalls::Wait wait()
    {
        return [this](const std::function<bool()>& answered) { return loop.runUntil(answered); };
    }
    test::PlayerCalls calls{player, wait()};
};

// Every operation answers once and only from the loop, with MPD there and with MPD gone: no
// answer arrives inside the call, so a caller never sees its own callback run under it.
TEST_F(MpdPlayer, EveryOperationAnswersOnceAndOnlyFromTheLoop)
{
    queueAlbum();
    const std::string album = music("album");
    const std::pair<const char*, std::function<void(PlayerDone)>> operations[] = {
        {"play", [&](PlayerDone d) { player.play(d); }},
        {"pause", [&](PlayerDone d) { player.pause(d); }},
        {"next", [&](PlayerDone d) { player.next(d); }},
        {"previous", [&](PlayerDone d) { player.previous(d); }},
        {"volume step", [&](PlayerDone d) { player.stepVolume(-1, d); }},
        {"shuffle", [&](PlayerDone d) { player.toggleShuffle(d); }},
        {"repeat", [&](PlayerDone d) { player.toggleRepeat(d); }},
        {"status", [&](PlayerDone d) { player.status(d); }},
        {"queue", [&](PlayerDone d) { player.queue(1, 2, d); }},
        {"jump", [&](PlayerDone d) { player.jumpTo(1, d); }},
        {"volume", [&](PlayerDone d) { player.setVolume(30, d); }},
        {"seek", [&](PlayerDone d) { player.seekTo(0, d); }},
        {"add", [&](PlayerDone d) { player.add(album, d); }},
        {"stop", [&](PlayerDone d) { player.stop(d); }},
        {"sleep", [&](PlayerDone d) { player.stopForSleep(d); }},
        {"clear", [&](PlayerDone d) { player.clear(d); }},
    };
    for (const bool running : {true, false}) {
        if (!running)
            mpd.stop();
        for (const auto& [name, start] : operations) {
            SCOPED_TRACE(std::string(name) + (running ? "" : " without MPD"));
            int answers = 0;
            Outcome outcome = Outcome::Failed;
            start([&](const PlayerAnswer& answer) {
                ++answers;
                outcome = answer.outcome;
            });
            EXPECT_EQ(answers, 0);
            EXPECT_TRUE(loop.runUntil([&] { return answers > 0; }));
            EXPECT_EQ(outcome, running ? Outcome::Done : Outcome::NoPlayer);
        }
        // A last answer shows that none of the earlier ones came twice.
        EXPECT_TRUE(calls.state().has_value() == running);
    }
}

TEST_F(MpdPlayer, TransportCommandsChangeMpdsPlayState)
{
    queueAlbum();
    EXPECT_EQ(calls.play(), Outcome::Done);
    EXPECT_EQ(field("state"), "play");
    EXPECT_EQ(field("song"), "0");
    EXPECT_EQ(calls.next(), Outcome::Done);
    EXPECT_EQ(field("song"), "1");
    EXPECT_EQ(calls.previous(), Outcome::Done);
    EXPECT_EQ(field("song"), "0");
    EXPECT_EQ(calls.pause(), Outcome::Done);
    EXPECT_EQ(field("state"), "pause");
    EXPECT_EQ(calls.pause(), Outcome::Done);
    EXPECT_EQ(field("state"), "play");
    EXPECT_EQ(calls.stop(), Outcome::Done);
    EXPECT_EQ(field("state"), "stop");
}

TEST_F(MpdPlayer, PauseWhileStoppedStaysStopped)
{
    queueAlbum();
    EXPECT_EQ(calls.pause(), Outcome::Done);
    EXPECT_EQ(field("state"), "stop");
}

TEST_F(MpdPlayer, ShuffleAndRepeatToggle)
{
    EXPECT_EQ(calls.toggleShuffle(), Outcome::Done);
    EXPECT_EQ(field("random"), "1");
    EXPECT_EQ(field("repeat"), "0");
    EXPECT_EQ(calls.toggleRepeat(), Outcome::Done);
    EXPECT_EQ(field("repeat"), "1");
    EXPECT_EQ(calls.toggleShuffle(), Outcome::Done);
    EXPECT_EQ(calls.toggleRepeat(), Outcome::Done);
    EXPECT_EQ(field("random"), "0");
    EXPECT_EQ(field("repeat"), "0");
}

TEST_F(MpdPlayer, VolumeStepsByOnePercentAndManyAtOnceStopAtTheEnds)
{
    mpd.command("setvol 50");
    EXPECT_EQ(calls.stepVolume(+1), Outcome::Done);
    EXPECT_EQ(field("volume"), "51");
    EXPECT_EQ(calls.stepVolume(-1), Outcome::Done);
    EXPECT_EQ(calls.stepVolume(-1), Outcome::Done);
    EXPECT_EQ(field("volume"), "49");
    EXPECT_EQ(calls.stepVolume(+10), Outcome::Done);
    EXPECT_EQ(field("volume"), "59");
    // volup 255 and voldn 255, more than MPD moves in one command.
    EXPECT_EQ(calls.stepVolume(+256), Outcome::Done);
    EXPECT_EQ(field("volume"), "100");
    EXPECT_EQ(calls.stepVolume(-256), Outcome::Done);
    EXPECT_EQ(field("volume"), "0");
}

TEST_F(MpdPlayer, ManyStepsInOneLineAllAnswerAndStopAtTheLimit)
{
    mpd.command("setvol 10");
    player.beginCommandLine();
    int failures = 0;
    for (int step = 0; step < 256; ++step)
        failures += calls.stepVolume(+1) != Outcome::Done;
    player.endCommandLine();
    EXPECT_EQ(failures, 0);
    EXPECT_EQ(field("volume"), "100");
}

TEST_F(MpdPlayer, StatusAnswersMpdsState)
{
    unsigned major = 0, minor = 0, patch = 0;
    ASSERT_EQ(std::sscanf(mpd.protocolVersion().c_str(), "%u.%u.%u", &major, &minor, &patch), 3);
    EXPECT_EQ(calls.status()->version, encodeVersion(major, minor, patch));

    queueAlbum();
    EXPECT_EQ(calls.state(), PlayState::Stopped);
    mpd.command("play");
    EXPECT_EQ(calls.state(), PlayState::Playing);
    mpd.command("pause 1");
    EXPECT_EQ(calls.state(), PlayState::Paused);

    EXPECT_EQ(calls.status()->shuffle, false);
    EXPECT_EQ(calls.status()->repeat, false);
    mpd.command("random 1");
    mpd.command("repeat 1");
    EXPECT_EQ(calls.status()->shuffle, true);
    EXPECT_EQ(calls.status()->repeat, true);
}

TEST_F(MpdPlayer, StatusInTheSameLineSeesTheLinesOwnCommands)
{
    queueAlbum();
    player.beginCommandLine();
    EXPECT_EQ(calls.state(), PlayState::Stopped);
    EXPECT_EQ(calls.play(), Outcome::Done);
    EXPECT_EQ(calls.state(), PlayState::Playing);
    EXPECT_EQ(calls.toggleRepeat(), Outcome::Done);
    EXPECT_EQ(calls.status()->repeat, true);
    player.endCommandLine();
}

TEST_F(MpdPlayer, ClearEmptiesTheQueue)
{
    queueAlbum();
    EXPECT_EQ(calls.clear(), Outcome::Done);
    EXPECT_EQ(field("playlistlength"), "0");
}

TEST_F(MpdPlayer, PlayFileAppendsOneFileWithoutStartingPlayback)
{
    mpd.command("add top.wav");
    EXPECT_EQ(calls.add(music("album/02 second.wav")), Outcome::Done);
    EXPECT_EQ(mpd.queue(), (Uris{"top.wav", "album/02 second.wav"}));
    EXPECT_EQ(field("state"), "stop");
}

TEST_F(MpdPlayer, PlayFileOfAFolderAppendsItsAudioFilesInNameOrder)
{
    EXPECT_EQ(calls.add(music("album")), Outcome::Done);
    EXPECT_EQ(mpd.queue(), (Uris{"album/01 first.wav", "album/02 second.wav", "album/10 tenth.wav",
                                 "album/disc2/a.wav"}));
    EXPECT_EQ(field("state"), "stop");
}

TEST_F(MpdPlayer, PlayFileOfAFolderWhereMpdsOrderIsNotNameOrder)
{
    // MPD itself lists a folder's songs before its subfolders: zz.wav before aa/x.wav.
    test::writeWav(mpd.musicDir() / "mixed" / "zz.wav", 100);
    test::writeWav(mpd.musicDir() / "mixed" / "aa" / "x.wav", 100);
    ASSERT_TRUE(mpd.update()) << mpd.error();
    EXPECT_EQ(calls.add(music("mixed")), Outcome::Done);
    EXPECT_EQ(mpd.queue(), (Uris{"mixed/aa/x.wav", "mixed/zz.wav"}));
}

TEST_F(MpdPlayer, PlayFileOfTheMusicFolderOverTcpFindsItByItsListing)
{
    mpd.useTcp();
    EXPECT_EQ(calls.add(music("other/b.wav")), Outcome::Done);
    EXPECT_EQ(calls.add(mpd.musicDir().string()), Outcome::Done);
    EXPECT_EQ(mpd.queue(),
              (Uris{"other/b.wav", "album/01 first.wav", "album/02 second.wav",
                    "album/10 tenth.wav", "album/disc2/a.wav", "other/b.wav", "top.wav"}));
}

TEST_F(MpdPlayer, PlayFileOutsideTheMusicFolderGoesByLocalFileUri)
{
    const fs::path outside = mpd.folder() / "outside";
    fs::create_directories(outside / "sub");
    fs::copy_file(mpd.musicDir() / "top.wav", outside / "sub" / "z.wav");
    fs::copy_file(mpd.musicDir() / "top.wav", outside / "y.WAV");
    std::ofstream(outside / "notes.txt") << "text\n";

    EXPECT_EQ(calls.add(outside.string()), Outcome::Done);
    EXPECT_EQ(mpd.queue(),
              (Uris{(outside / "sub" / "z.wav").string(), (outside / "y.WAV").string()}));

    // MPD takes local files only from clients on its local socket; its refusal is the answer.
    mpd.command("clear");
    mpd.useTcp();
    MpdBackend overTcp(loop);
    EXPECT_EQ(test::PlayerCalls(overTcp, wait()).add(outside.string()), Outcome::Failed);
    EXPECT_EQ(mpd.queue(), Uris{});
}

// A playlist file appends its entries, found relative to the playlist's folder, whatever their
// names; entries MPD cannot find are skipped and the others still come.
TEST_F(MpdPlayer, PlaylistFilesAppendTheirEntries)
{
    test::writeWav(mpd.musicDir() / "Björk" / "Jóga.wav", 100);
    test::writeWav(mpd.musicDir() / "Café del Mar" / "01 Ibiza.wav", 100);
    ASSERT_TRUE(mpd.update()) << mpd.error();
    std::ofstream(mpd.musicDir() / "mix.m3u")
        << "#EXTM3U\nBjörk/Jóga.wav\nCafé del Mar/01 Ibiza.wav\nalbum/10 tenth.wav\n";
    std::ofstream(mpd.musicDir() / "album" / "gaps.m3u")
        << "01 first.wav\nnot here.wav\n../gone/x.flac\n02 second.wav\n";
    mpd.command("add top.wav");

    EXPECT_EQ(calls.add(music("mix.m3u")), Outcome::Done);
    EXPECT_EQ(mpd.queue(), (Uris{"top.wav", "Björk/Jóga.wav", "Café del Mar/01 Ibiza.wav",
                                 "album/10 tenth.wav"}));
    mpd.command("clear");
    EXPECT_EQ(calls.add(music("album/gaps.m3u")), Outcome::Done);
    EXPECT_EQ(mpd.queue(), (Uris{"album/01 first.wav", "album/02 second.wav"}));
    EXPECT_EQ(field("state"), "stop");
}

// Music written after MPD's last scan: the load has MPD look at that path first.
TEST_F(MpdPlayer, MusicMpdDoesNotKnowYetIsLookedAtAndLoaded)
{
    test::writeWav(mpd.musicDir() / "new" / "b.wav", 100);
    test::writeWav(mpd.musicDir() / "new" / "a.wav", 100);
    test::writeWav(mpd.musicDir() / "single.wav", 100);
    EXPECT_EQ(calls.add(music("new")), Outcome::Done);
    EXPECT_EQ(calls.add(music("single.wav")), Outcome::Done);
    EXPECT_EQ(mpd.queue(), (Uris{"new/a.wav", "new/b.wav", "single.wav"}));
}

TEST_F(MpdPlayer, PlayFileOfAPathMpdCannotUseAddsNothing)
{
    EXPECT_EQ(calls.add(music("no such file.wav")), Outcome::Done);
    // MPD refuses what it cannot read as a song or a playlist.
    EXPECT_EQ(calls.add(music("album/cover.txt")), Outcome::Failed);
    EXPECT_EQ(calls.add(""), Outcome::Done);
    EXPECT_EQ(mpd.queue(), Uris{});
}

// MPD refuses a seek when nothing plays: the answer is nothing, and MPD is left as it was.
TEST_F(MpdPlayer, SeekMpdRefusesAnswersNothingAndChangesNothing)
{
    queueAlbum();
    const auto before = mpd.status();
    EXPECT_EQ(calls.seekTo(5000), std::nullopt);
    EXPECT_EQ(mpd.status(), before);
}

TEST_F(MpdPlayer, WithoutMpdEveryOperationAnswersNoPlayer)
{
    mpd.stop();
    EXPECT_EQ(calls.play(), Outcome::NoPlayer);
    EXPECT_EQ(calls.stepVolume(+1), Outcome::NoPlayer);
    EXPECT_EQ(calls.pause(), Outcome::NoPlayer);
    EXPECT_EQ(calls.state(), std::nullopt);
    EXPECT_EQ(calls.clear(), Outcome::NoPlayer);
    EXPECT_EQ(calls.add(music("top.wav")), Outcome::NoPlayer);
    EXPECT_EQ(calls.queue(0, 20).outcome, Outcome::NoPlayer);
    EXPECT_EQ(calls.close(), Outcome::NoPlayer);
    mpd.useTcp();
    EXPECT_EQ(calls.toggleShuffle(), Outcome::NoPlayer);
    EXPECT_EQ(calls.seekTo(1000), std::nullopt);
}

TEST_F(MpdPlayer, MpdRestartedBetweenTwoLinesIsFound)
{
    EXPECT_EQ(calls.state(), PlayState::Stopped);
    ::kill(mpd.pid(), SIGKILL);
    mpd.stop();
    EXPECT_EQ(calls.state(), std::nullopt);
    ASSERT_TRUE(mpd.start()) << mpd.error();
    mpd.command("add top.wav");
    mpd.command("play");
    EXPECT_EQ(calls.state(), PlayState::Playing);
}

TEST_F(MpdPlayer, ConnectionLostInsideALineIsOpenedAgainForTheNextLine)
{
    player.beginCommandLine();
    EXPECT_EQ(calls.state(), PlayState::Stopped);
    ::kill(mpd.pid(), SIGKILL);
    mpd.stop();
    EXPECT_EQ(calls.stepVolume(+1), Outcome::NoPlayer);
    player.endCommandLine();
    ASSERT_TRUE(mpd.start()) << mpd.error();
    player.beginCommandLine();
    EXPECT_EQ(calls.state(), PlayState::Stopped);
    player.endCommandLine();
}

// goto waits for the player's change this way where the server starts the entry late.
TEST_F(MpdPlayer, IdleOnTheKeptConnectionHearsAChangeOrEndsWhenWoken)
{
    queueAlbum();
    MpdChannel channel(loop, [] { return std::optional<std::string>(); });
    channel.hold(true);
    const auto answer = [this, &channel](const std::function<void(MpdChannel::Done)>& ask) {
        std::optional<MpdReply> got;
        ask([&got](MpdReply reply) { got = std::move(reply); });
        EXPECT_TRUE(loop.runUntil([&got] { return got.has_value(); }));
        return got.value_or(MpdReply{});
    };
    EXPECT_TRUE(answer([&](MpdChannel::Done d) { channel.send({{"ping"}}, d); }).reached);

    std::optional<MpdReply> heard;
    channel.idle("player", [&heard](MpdReply reply) { heard = std::move(reply); });
    mpd.command("play 1");
    ASSERT_TRUE(loop.runUntil([&heard] { return heard.has_value(); }));
    EXPECT_TRUE(heard->reached);
    EXPECT_EQ(valueOf(heard->pairs, "changed"), "player");

    // "play" may tell "player" more than once; an idle on a subsystem nothing here changes ends
    // only when woken.
    const auto woken = answer([&](MpdChannel::Done d) {
        channel.idle("stored_playlist", d);
        channel.wake();
    });
    EXPECT_TRUE(woken.reached);
    EXPECT_EQ(valueOf(woken.pairs, "changed"), std::nullopt);
    // The connection serves the next command as before.
    const auto status = answer([&](MpdChannel::Done d) { channel.send({{"status"}}, d); });
    EXPECT_EQ(valueOf(status.pairs, "song"), "1");
}

TEST_F(MpdPlayer, CloseEndsTheDaemon)
{
    EXPECT_EQ(calls.close(), Outcome::Done);
    const pid_t daemon = mpd.pid();
    EXPECT_TRUE(MpdFixture::waitFor([daemon] { return MpdFixture::processGone(daemon); }));
    EXPECT_EQ(calls.state(), std::nullopt);
}

TEST_F(MpdPlayer, HungMpdAnswersNoPlayer)
{
    ::kill(mpd.pid(), SIGSTOP);
    const auto start = std::chrono::steady_clock::now();
    player.beginCommandLine();
    EXPECT_EQ(calls.state(), std::nullopt);
    player.endCommandLine();
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
    ::kill(mpd.pid(), SIGCONT);
    EXPECT_EQ(calls.state(), PlayState::Stopped);
}

TEST_F(MpdPlayer, LaunchStartsAPlayerTheNextQueryFinds)
{
    mpd.stop();
    ASSERT_EQ(calls.state(), std::nullopt);
    EXPECT_EQ(calls.open(mpd.commandLine()).outcome, Outcome::Done);
    EXPECT_TRUE(MpdFixture::waitFor([this] { return calls.state() == PlayState::Stopped; }));
    EXPECT_EQ(calls.close(), Outcome::Done);
    mpd.stopLaunched();
}

TEST_F(MpdPlayer, LaunchOfAMissingProgramFails)
{
    EXPECT_EQ(calls.open("/nonexistent/zelvor-player --play").outcome, Outcome::Failed);
    EXPECT_EQ(calls.open(music("top.wav")).outcome, Outcome::Failed);
    EXPECT_EQ(calls.open("").outcome, Outcome::Failed);
}

} // namespace
} // namespace zelvor
