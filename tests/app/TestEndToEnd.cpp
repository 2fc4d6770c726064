// SPDX-License-Identifier: MIT
// The real program against a real MPD, driven by a telnet-style client over loopback.
#include "TcpClient.h"
#include "ZelvorProcess.h"
#include "support/MpdFixture.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>

namespace zelvor {
namespace {

using test::MpdFixture;
using test::TcpClient;
using test::ZelvorProcess;

/** The program, started headless on a free port, and a client at its command prompt. */
class Session : public ::testing::Test
{
protected:
    void startAndConnect()
    {
        zelvor.start();
        ASSERT_TRUE(zelvor.waitListening());
        ASSERT_TRUE(client.connect("127.0.0.1", port));
        ASSERT_NE(client.readUntil("Zelvor>").find("Zelvor>"), std::string::npos);
    }
    void TearDown() override
    {
        client.close();
        if (zelvor.pid() > 0) {
            zelvor.signal(SIGTERM);
            EXPECT_EQ(zelvor.wait(), 0);
        }
    }

    /** Types a command line and returns the reply between the echo and the next prompt. */
    std::string run(const std::string& line)
    {
        client.type(line + "\r");
        const std::string received = client.readUntil("\r\nZelvor>");
        if (received.size() < line.size() + 9)
            return "(no prompt) " + received;
        return received.substr(line.size(), received.size() - line.size() - 9);
    }

    std::uint16_t port = test::freePort();
    ZelvorProcess zelvor;
    TcpClient client;
};

class EndToEnd : public Session
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(mpd.start()) << mpd.error();
        zelvor.writeIni("[Zelvor]\r\nPort=" + std::to_string(port) +
                        "\r\nServer Root=" + mpd.musicDir().string() +
                        "\r\nWinamp Location=" + mpd.commandLine() + "\r\nLogin=True\r\n");
        zelvor.setEnv("MPD_HOST", mpd.host());
        zelvor.setEnv("MPD_PORT", std::to_string(mpd.port()));
        startAndConnect();
    }
    std::string field(const std::string& name) { return mpd.status()[name]; }

    MpdFixture mpd;
};

TEST_F(EndToEnd, BrowseLoadPlayAndReadTheStatus)
{
    EXPECT_EQ(run("cd ALBUM"), "");
    EXPECT_EQ(run("pwd"), "\r\n\\ALBUM\\");
    EXPECT_EQ(run("ls *.wav"), "\r\n" + mpd.musicDir().string() +
                                   "/ALBUM/*.wav\r\n01 first.wav\r\n02 second.wav\r\n10 tenth.wav");
    EXPECT_EQ(run("cd .."), "");
    EXPECT_EQ(run("load album"), "");
    EXPECT_EQ(mpd.queue(), (std::vector<std::string>{"album/01 first.wav", "album/02 second.wav",
                                                     "album/10 tenth.wav", "album/disc2/a.wav"}));

    EXPECT_EQ(run("play"), "");
    EXPECT_EQ(field("state"), "play");
    EXPECT_NE(run("status").find("\r\nWinamp is Playing\r\n"), std::string::npos);
    EXPECT_EQ(run("ff"), "");
    EXPECT_EQ(field("song"), "1");
    EXPECT_EQ(run("rw"), "");
    EXPECT_EQ(field("song"), "0");
    EXPECT_EQ(run("pause"), "");
    EXPECT_EQ(field("state"), "pause");
    EXPECT_NE(run("status").find("\r\nWinamp is Paused\r\n"), std::string::npos);

    EXPECT_EQ(run("shuffle"), "");
    EXPECT_EQ(run("repeat"), "");
    const std::string status = run("status");
    EXPECT_NE(status.find("\r\nShuffle is On\r\nRepeat is:On\r\n"), std::string::npos) << status;
    EXPECT_EQ(field("random"), "1");
    EXPECT_EQ(field("repeat"), "1");

    EXPECT_EQ(run("voldn 19"), "");
    const int before = std::stoi(field("volume"));
    EXPECT_EQ(run("volup 5"), "");
    EXPECT_EQ(std::stoi(field("volume")), before + 6);

    EXPECT_EQ(run("stop"), "");
    EXPECT_EQ(field("state"), "stop");
    EXPECT_EQ(run("clear"), "");
    EXPECT_TRUE(mpd.queue().empty());
}

TEST_F(EndToEnd, CloseEndsThePlayerAndOpenBringsItBack)
{
    const pid_t player = mpd.pid();
    EXPECT_EQ(run("close"), "");
    ASSERT_TRUE(MpdFixture::waitFor([&] { return MpdFixture::processGone(player); }));
    EXPECT_EQ(run("play"), "\r\nCommand Failed - Winamp may not be running");
    EXPECT_EQ(
        run("status"),
        "\r\n**Winamp Current Status**\r\nWinamp is not running\r\n*************************");
    EXPECT_EQ(run("clear"), "");

    EXPECT_EQ(run("open"), "");
    ASSERT_TRUE(MpdFixture::waitFor([&] { return mpd.answering(); }));
    const std::string status = run("status");
    EXPECT_NE(status.find("\r\nWinamp Version:"), std::string::npos) << status;
    EXPECT_NE(status.find("\r\nWinamp is Stopped\r\n"), std::string::npos) << status;
}

// What a listener does in an evening: load a folder, look at the queue, jump, seek, set the
// volume, find a song elsewhere and queue it, set the sleep timer.
TEST_F(EndToEnd, QueueVerbsOverTheWire)
{
    EXPECT_EQ(run("load album"), "");
    EXPECT_EQ(run("queue"), "\r\n 1 01 first.wav\r\n 2 02 second.wav\r\n 3 10 tenth.wav"
                            "\r\n 4 a.wav\r\n(1-4 of 4)");
    EXPECT_EQ(run("goto 3").rfind("\r\nPlaying: 3/4 10 tenth.wav (0:0", 0), 0U);
    EXPECT_EQ(run("np").rfind("\r\nPlaying: 3/4 10 tenth.wav (0:0", 0), 0U);
    EXPECT_EQ(run("vol 40"), "\r\nVolume: 40%");
    EXPECT_EQ(field("volume"), "40");
    EXPECT_EQ(run("find b.wav"), "\r\nother\\b.wav");
    EXPECT_EQ(run("load other\\b.wav"), "");
    EXPECT_EQ(mpd.queue().back(), "other/b.wav");
    EXPECT_EQ(run("sleep 1"), "\r\nSleep timer: 1 min left");
    ASSERT_TRUE(mpd.addRealLengthSongs()) << mpd.error();
    EXPECT_EQ(run("clear"), "");
    EXPECT_EQ(run("load long"), "");
    EXPECT_EQ(run("goto 1").rfind("\r\nPlaying: 1/2 one.wav (0:0", 0), 0U);
    EXPECT_EQ(run("seek +10").rfind("\r\nPlaying: 1/2 one.wav (0:1", 0), 0U);
    EXPECT_EQ(run("help"), "\r\nZelvor: The Tollomere"
                           "\r\nZelvor provides remote functionality to Winamp through a telnet "
                           "interface."
                           "\r\nZelvor understands the following commands. Type 'help <command>' "
                           "to learn more."
                           "\r\nopen, close, play, stop, pause, ff, rw, volup, voldn, shuffle, "
                           "repeat, clear,"
                           "\r\nload, status, ls, pwd, cd, exit"
                           "\r\nAlso: np, queue, goto, vol, seek, find, sleep, next, prev");
}

TEST_F(EndToEnd, ClientCannotLeaveTheMusicFolder)
{
    EXPECT_EQ(run("cd ..\\.."), "");
    EXPECT_EQ(run("pwd"), "\r\n\\");
    EXPECT_EQ(run("ls ..\\*"), "\r\n" + mpd.musicDir().string() + "/../*");
    EXPECT_EQ(run("load ../mpd.conf"), "");
    EXPECT_TRUE(mpd.queue().empty());
}

/**
 * A user with no MPD configuration and no MPD running: "open" starts an MPD that Zelvor
 * configures in its settings folder, on a music root given on the command line.
 */
class OwnPlayer : public Session
{
protected:
    void SetUp() override
    {
        test::writeWav(root / "album" / "02 second.wav", 20000);
        test::writeWav(root / "album" / "01 first.wav", 20000);
        test::writeWav(root / "top.wav", 20000);
        music.mkdir("run");
        zelvor.writeIni("[Zelvor]\r\nLogin=True\r\n");
        for (const char* name : {"MPD_HOST", "MPD_PORT", "PULSE_SERVER"})
            zelvor.unsetEnv(name);
        zelvor.setEnv("XDG_RUNTIME_DIR", (music.path() / "run").string());
        zelvor.setArgs({"--port", std::to_string(port), "--root", root.string()});
        startAndConnect();
    }
    void TearDown() override
    {
        Session::TearDown();
        // Whatever the test left running goes with it.
        if (const pid_t mpd = mpdPid(); mpd > 0 && !MpdFixture::processGone(mpd)) {
            ::kill(mpd, SIGTERM);
            MpdFixture::waitFor([mpd] { return MpdFixture::processGone(mpd); });
        }
    }

    pid_t mpdPid() const
    {
        return static_cast<pid_t>(
            std::atoi(test::readFile(zelvor.settingsFolder() / "mpd.pid").c_str()));
    }

    test::TempDir music;
    // MPD reads a quote in its configuration only when it is written right.
    const std::filesystem::path root = music.path() / "My \"Music\"";
};

TEST_F(OwnPlayer, OpenLoadPlayAndCloseWithoutAnyMpdConfiguration)
{
    if (run("play") != "\r\nCommand Failed - Winamp may not be running")
        GTEST_SKIP() << "an MPD of this machine answers at MPD's default place";
    // The reply to "open" comes once MPD has scanned; a line typed meanwhile waits its turn.
    client.type("open\rpwd\r");
    EXPECT_EQ(client.readUntil("Zelvor>pwd\r\n\\\r\nZelvor>"),
              "open\r\nZelvor>pwd\r\n\\\r\nZelvor>");
    // No sound device and no sound server here: MPD plays into nothing, and says so.
    EXPECT_TRUE(zelvor.waitForOutput(" no audio output\n"));
    ASSERT_TRUE(MpdFixture::waitFor([this] { return mpdPid() > 0; }));
    const pid_t mpd = mpdPid();
    const std::string config = test::readFile(zelvor.settingsFolder() / "mpd.conf");
    EXPECT_NE(config.find("music_directory \"" + music.str() + "/My \\\"Music\\\"\"\n"),
              std::string::npos)
        << config;
    EXPECT_NE(
        config.find("bind_to_address \"" + zelvor.settingsFolder().string() + "/mpd.socket\"\n"),
        std::string::npos)
        << config;
    EXPECT_EQ(config.find("port"), std::string::npos) << config;

    EXPECT_EQ(run("open"), "");
    EXPECT_EQ(mpdPid(), mpd) << "a second open started another MPD";

    EXPECT_EQ(run("load album"), "");
    EXPECT_EQ(run("play"), "");
    const std::string status = run("status");
    EXPECT_NE(status.find("\r\nWinamp is Playing\r\n"), std::string::npos) << status;
    EXPECT_EQ(run("ff"), "");
    EXPECT_NE(run("status").find("\r\nWinamp is Playing\r\n"), std::string::npos);

    EXPECT_EQ(run("close"), "");
    EXPECT_TRUE(MpdFixture::waitFor([mpd] { return MpdFixture::processGone(mpd); }));
    EXPECT_EQ(run("play"), "\r\nCommand Failed - Winamp may not be running");

    // The command line's settings are saved at shutdown like the settings window's.
    client.close();
    zelvor.signal(SIGTERM);
    EXPECT_EQ(zelvor.wait(), 0);
    const std::string ini = test::readFile(zelvor.iniFile());
    EXPECT_NE(ini.find("\r\nPort=" + std::to_string(port) + "\r\nServer Root=" + root.string() +
                       "\r\nWinamp Location=mpd\r\n"),
              std::string::npos)
        << ini;
}

TEST_F(OwnPlayer, AConfigurationOfTheUsersWins)
{
    MpdFixture users;
    ASSERT_TRUE(users.start()) << users.error();
    users.stop();
    std::filesystem::remove(users.folder() / "mpd.pid");
    std::filesystem::copy_file(users.configPath(), zelvor.home().path() / ".mpdconf");

    // "open" starts the program as it is, and MPD takes the user's configuration.
    EXPECT_EQ(run("open"), "");
    EXPECT_TRUE(MpdFixture::waitFor([&] { return users.answering(); }));
    EXPECT_FALSE(std::filesystem::exists(zelvor.settingsFolder() / "mpd.conf"));
    // MPD writes its pid file after it has begun to answer.
    pid_t started = 0;
    MpdFixture::waitFor([&] {
        started = static_cast<pid_t>(std::atoi(test::readFile(users.folder() / "mpd.pid").c_str()));
        return started > 0;
    });
    EXPECT_GT(started, 0);
    if (started > 0) {
        ::kill(started, SIGTERM);
        EXPECT_TRUE(MpdFixture::waitFor([started] { return MpdFixture::processGone(started); }));
    }
}

} // namespace
} // namespace zelvor
