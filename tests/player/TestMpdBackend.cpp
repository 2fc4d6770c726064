// SPDX-License-Identifier: MIT
#include "player/mpd/MpdBackend.h"

#include "player/mpd/MpdMapping.h"
#include "support/MpdFixture.h"

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
    MpdBackend player;
};

TEST_F(MpdPlayer, TransportCommandsChangeMpdsPlayState)
{
    queueAlbum();
    EXPECT_EQ(player.WinampCommand(kCmdPlay), 0);
    EXPECT_EQ(field("state"), "play");
    EXPECT_EQ(field("song"), "0");
    EXPECT_EQ(player.WinampCommand(kCmdNext), 0);
    EXPECT_EQ(field("song"), "1");
    EXPECT_EQ(player.WinampCommand(kCmdPrevious), 0);
    EXPECT_EQ(field("song"), "0");
    EXPECT_EQ(player.WinampCommand(kCmdPause), 0);
    EXPECT_EQ(field("state"), "pause");
    EXPECT_EQ(player.WinampCommand(kCmdPause), 0);
    EXPECT_EQ(field("state"), "play");
    EXPECT_EQ(player.WinampCommand(kCmdStop), 0);
    EXPECT_EQ(field("state"), "stop");
}

TEST_F(MpdPlayer, PauseWhileStoppedStaysStopped)
{
    queueAlbum();
    EXPECT_EQ(player.WinampCommand(kCmdPause), 0);
    EXPECT_EQ(field("state"), "stop");
}

TEST_F(MpdPlayer, ShuffleAndRepeatToggle)
{
    EXPECT_EQ(player.WinampCommand(kCmdToggleShuffle), 0);
    EXPECT_EQ(field("random"), "1");
    EXPECT_EQ(field("repeat"), "0");
    EXPECT_EQ(player.WinampCommand(kCmdToggleRepeat), 0);
    EXPECT_EQ(field("repeat"), "1");
    EXPECT_EQ(player.WinampCommand(kCmdToggleShuffle), 0);
    EXPECT_EQ(player.WinampCommand(kCmdToggleRepeat), 0);
    EXPECT_EQ(field("random"), "0");
    EXPECT_EQ(field("repeat"), "0");
}

TEST_F(MpdPlayer, VolumeStepsByOnePercent)
{
    mpd.command("setvol 50");
    EXPECT_EQ(player.WinampCommand(kCmdVolumeUp), 0);
    EXPECT_EQ(field("volume"), "51");
    EXPECT_EQ(player.WinampCommand(kCmdVolumeDown), 0);
    EXPECT_EQ(player.WinampCommand(kCmdVolumeDown), 0);
    EXPECT_EQ(field("volume"), "49");
}

TEST_F(MpdPlayer, ManyStepsInOneLineAllAnswerAndStopAtTheLimit)
{
    mpd.command("setvol 10");
    player.beginCommandLine();
    int failures = 0;
    for (int step = 0; step < 256; ++step)
        failures += player.WinampCommand(kCmdVolumeUp) != 0;
    player.endCommandLine();
    EXPECT_EQ(failures, 0);
    EXPECT_EQ(field("volume"), "100");
}

TEST_F(MpdPlayer, UnknownCommandDoesNothingAndAnswersZero)
{
    queueAlbum();
    const auto before = mpd.status();
    EXPECT_EQ(player.WinampCommand(40999), 0);
    EXPECT_EQ(player.WinampQuery(0, 7), 0);
    EXPECT_EQ(mpd.status(), before);
}

TEST_F(MpdPlayer, QueriesAnswerMpdsState)
{
    unsigned major = 0, minor = 0, patch = 0;
    ASSERT_EQ(std::sscanf(mpd.protocolVersion().c_str(), "%u.%u.%u", &major, &minor, &patch), 3);
    EXPECT_EQ(player.WinampQuery(0, kQueryVersion), encodeMpdVersion(major, minor, patch));

    queueAlbum();
    EXPECT_EQ(player.WinampQuery(0, kQueryPlayState), 0);
    mpd.command("play");
    EXPECT_EQ(player.WinampQuery(0, kQueryPlayState), 1);
    mpd.command("pause 1");
    EXPECT_EQ(player.WinampQuery(0, kQueryPlayState), 3);

    EXPECT_EQ(player.WinampQuery(0, kQueryShuffle), 0);
    EXPECT_EQ(player.WinampQuery(0, kQueryRepeat), 0);
    mpd.command("random 1");
    mpd.command("repeat 1");
    EXPECT_EQ(player.WinampQuery(0, kQueryShuffle), 1);
    EXPECT_EQ(player.WinampQuery(0, kQueryRepeat), 1);
}

TEST_F(MpdPlayer, QueryInTheSameLineSeesTheLinesOwnCommands)
{
    queueAlbum();
    player.beginCommandLine();
    EXPECT_EQ(player.WinampQuery(0, kQueryPlayState), 0);
    EXPECT_EQ(player.WinampCommand(kCmdPlay), 0);
    EXPECT_EQ(player.WinampQuery(0, kQueryPlayState), 1);
    EXPECT_EQ(player.WinampCommand(kCmdToggleRepeat), 0);
    EXPECT_EQ(player.WinampQuery(0, kQueryRepeat), 1);
    player.endCommandLine();
}

TEST_F(MpdPlayer, ClearQueryEmptiesTheQueue)
{
    queueAlbum();
    EXPECT_EQ(player.WinampQuery(0, kQueryClearPlaylist), 0);
    EXPECT_EQ(field("playlistlength"), "0");
}

TEST_F(MpdPlayer, PlayFileAppendsOneFileWithoutStartingPlayback)
{
    mpd.command("add top.wav");
    EXPECT_EQ(player.WinampPlayFile(music("album/02 second.wav")), 0);
    EXPECT_EQ(mpd.queue(), (Uris{"top.wav", "album/02 second.wav"}));
    EXPECT_EQ(field("state"), "stop");
}

TEST_F(MpdPlayer, PlayFileOfAFolderAppendsItsAudioFilesInNameOrder)
{
    EXPECT_EQ(player.WinampPlayFile(music("album")), 0);
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
    EXPECT_EQ(player.WinampPlayFile(music("mixed")), 0);
    EXPECT_EQ(mpd.queue(), (Uris{"mixed/aa/x.wav", "mixed/zz.wav"}));
}

TEST_F(MpdPlayer, PlayFileOfTheMusicFolderOverTcpFindsItByItsListing)
{
    mpd.useTcp();
    EXPECT_EQ(player.WinampPlayFile(music("other/b.wav")), 0);
    EXPECT_EQ(player.WinampPlayFile(mpd.musicDir().string()), 0);
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

    EXPECT_EQ(player.WinampPlayFile(outside.string()), 0);
    EXPECT_EQ(mpd.queue(),
              (Uris{(outside / "sub" / "z.wav").string(), (outside / "y.WAV").string()}));

    // MPD takes local files only from clients on its local socket.
    mpd.command("clear");
    mpd.useTcp();
    EXPECT_EQ(player.WinampPlayFile(outside.string()), 0);
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

    EXPECT_EQ(player.WinampPlayFile(music("mix.m3u")), 0);
    EXPECT_EQ(mpd.queue(), (Uris{"top.wav", "Björk/Jóga.wav", "Café del Mar/01 Ibiza.wav",
                                 "album/10 tenth.wav"}));
    mpd.command("clear");
    EXPECT_EQ(player.WinampPlayFile(music("album/gaps.m3u")), 0);
    EXPECT_EQ(mpd.queue(), (Uris{"album/01 first.wav", "album/02 second.wav"}));
    EXPECT_EQ(field("state"), "stop");
}

// Music written after MPD's last scan: the load has MPD look at that path first.
TEST_F(MpdPlayer, MusicMpdDoesNotKnowYetIsLookedAtAndLoaded)
{
    test::writeWav(mpd.musicDir() / "new" / "b.wav", 100);
    test::writeWav(mpd.musicDir() / "new" / "a.wav", 100);
    test::writeWav(mpd.musicDir() / "single.wav", 100);
    EXPECT_EQ(player.WinampPlayFile(music("new")), 0);
    EXPECT_EQ(player.WinampPlayFile(music("single.wav")), 0);
    EXPECT_EQ(mpd.queue(), (Uris{"new/a.wav", "new/b.wav", "single.wav"}));
}

TEST_F(MpdPlayer, PlayFileOfAPathMpdCannotUseAddsNothing)
{
    EXPECT_EQ(player.WinampPlayFile(music("no such file.wav")), 0);
    EXPECT_EQ(player.WinampPlayFile(music("album/cover.txt")), 0);
    EXPECT_EQ(player.WinampPlayFile(""), 0);
    EXPECT_EQ(mpd.queue(), Uris{});
}

// MPD refuses a seek when nothing plays: the answer is nothing, and MPD is left as it was.
TEST_F(MpdPlayer, SeekMpdRefusesAnswersNothingAndChangesNothing)
{
    queueAlbum();
    const auto before = mpd.status();
    EXPECT_EQ(player.seekTo(5000), std::nullopt);
    EXPECT_EQ(mpd.status(), before);
}

TEST_F(MpdPlayer, WithoutMpdEveryMessageAnswersMinusOne)
{
    mpd.stop();
    EXPECT_EQ(player.WinampCommand(kCmdPlay), -1);
    EXPECT_EQ(player.WinampCommand(kCmdVolumeUp), -1);
    EXPECT_EQ(player.WinampCommand(40999), -1);
    EXPECT_EQ(player.WinampQuery(0, kQueryVersion), -1);
    EXPECT_EQ(player.WinampQuery(0, kQueryPlayState), -1);
    EXPECT_EQ(player.WinampQuery(0, kQueryClearPlaylist), -1);
    EXPECT_EQ(player.WinampPlayFile(music("top.wav")), -1);
    mpd.useTcp();
    EXPECT_EQ(player.WinampQuery(0, kQueryShuffle), -1);
}

TEST_F(MpdPlayer, MpdRestartedBetweenTwoLinesIsFound)
{
    EXPECT_EQ(player.WinampQuery(0, kQueryPlayState), 0);
    ::kill(mpd.pid(), SIGKILL);
    mpd.stop();
    EXPECT_EQ(player.WinampQuery(0, kQueryPlayState), -1);
    ASSERT_TRUE(mpd.start()) << mpd.error();
    mpd.command("add top.wav");
    mpd.command("play");
    EXPECT_EQ(player.WinampQuery(0, kQueryPlayState), 1);
}

TEST_F(MpdPlayer, ConnectionLostInsideALineFailsTheRestOfThatLine)
{
    player.beginCommandLine();
    EXPECT_EQ(player.WinampQuery(0, kQueryPlayState), 0);
    ::kill(mpd.pid(), SIGKILL);
    mpd.stop();
    EXPECT_EQ(player.WinampCommand(kCmdVolumeUp), -1);
    ASSERT_TRUE(mpd.start()) << mpd.error();
    EXPECT_EQ(player.WinampCommand(kCmdVolumeUp), -1);
    player.endCommandLine();
    EXPECT_EQ(player.WinampQuery(0, kQueryPlayState), 0);
}

TEST_F(MpdPlayer, CloseEndsTheDaemon)
{
    EXPECT_EQ(player.WinampCommand(kCmdClose), 0);
    const pid_t daemon = mpd.pid();
    EXPECT_TRUE(MpdFixture::waitFor([daemon] { return MpdFixture::processGone(daemon); }));
    EXPECT_EQ(player.WinampQuery(0, kQueryPlayState), -1);
}

TEST_F(MpdPlayer, HungMpdAnswersMinusOneAndTheLineGivesUp)
{
    ::kill(mpd.pid(), SIGSTOP);
    const auto start = std::chrono::steady_clock::now();
    player.beginCommandLine();
    EXPECT_EQ(player.WinampQuery(0, kQueryPlayState), -1);
    EXPECT_EQ(player.WinampCommand(kCmdVolumeUp), -1);
    EXPECT_EQ(player.WinampCommand(kCmdVolumeUp), -1);
    player.endCommandLine();
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
    ::kill(mpd.pid(), SIGCONT);
    EXPECT_EQ(player.WinampQuery(0, kQueryPlayState), 0);
}

TEST_F(MpdPlayer, LaunchStartsAPlayerTheNextQueryFinds)
{
    mpd.stop();
    ASSERT_EQ(player.WinampQuery(0, kQueryPlayState), -1);
    EXPECT_EQ(player.LaunchWinamp(mpd.commandLine()), 0);
    EXPECT_TRUE(
        MpdFixture::waitFor([this] { return player.WinampQuery(0, kQueryPlayState) == 0; }));
    EXPECT_EQ(player.WinampCommand(kCmdClose), 0);
    mpd.stopLaunched();
}

TEST_F(MpdPlayer, LaunchOfAMissingProgramAnswersMinusOne)
{
    EXPECT_EQ(player.LaunchWinamp("/nonexistent/zelvor-player --play"), -1);
    EXPECT_EQ(player.LaunchWinamp(music("top.wav")), -1);
    EXPECT_EQ(player.LaunchWinamp(""), -1);
}

} // namespace
} // namespace zelvor
