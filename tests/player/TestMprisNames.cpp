// SPDX-License-Identifier: MIT
#include "player/mpris/MprisNames.h"
#include "player/PlayerRules.h"
#include "player/PlayerSelector.h"
#include "player/PlayerText.h"

#include <gtest/gtest.h>

namespace zelvor {
namespace {

using Backend = PlayerChoice::Backend;

TEST(ChoosePlayer, LocationPicksTheBackendAndThePlayer)
{
    struct Row
    {
        const char* location;
        PlayerChoice expected;
    };
    const Row rows[] = {
        {"mpd", {}},
        {"", {}},
        {"/usr/bin/mpd --no-daemon /x/mpd.conf", {}},
        {"\"/opt/my tools/mpd\" x", {}},
        {"mpris", {Backend::Mpris, "", ""}},
        {" mpris ", {Backend::Mpris, "", ""}},
        {"mpris:Lollypop", {Backend::Mpris, "Lollypop", ""}},
        {"vlc", {Backend::Mpris, "vlc", "vlc"}},
        {"/usr/bin/rhythmbox", {Backend::Mpris, "rhythmbox", "/usr/bin/rhythmbox"}},
        {"mpv --idle --no-video", {Backend::Mpris, "mpv", "mpv --idle --no-video"}},
        {"mpdx", {Backend::Mpris, "mpdx", "mpdx"}},
    };
    for (const auto& row : rows)
        EXPECT_EQ(choosePlayer(row.location), row.expected) << row.location;
}

TEST(ChoosePlayer, TheProgramTheStartWouldRunNamesThePlayer)
{
    struct Row
    {
        const char* location;
        PlayerChoice expected;
    };
    // Blanks in a folder name: the start tries "/opt/my", then "/opt/my player/mpd", ...
    const auto startable = [](const std::string& program) {
        return program == "/opt/my player/mpd" || program == "/opt/my player/cvlc" ||
               program == "cvlc";
    };
    const Row rows[] = {
        {"/opt/my player/mpd one two", {}},
        {"/opt/my player/cvlc --control dbus",
         {Backend::Mpris, "vlc", "/opt/my player/cvlc --control dbus"}},
        {"cvlc -I dummy", {Backend::Mpris, "vlc", "cvlc -I dummy"}},
        {"/usr/bin/qvlc", {Backend::Mpris, "vlc", "/usr/bin/qvlc"}},
        {"mopidy --config /x/mopidy.conf", {}},
        {"/usr/bin/cmus", {Backend::Mpris, "cmus", "/usr/bin/cmus"}},
        // Nothing startable: the first reading, as before the start fails.
        {"/opt/no such/vlc", {Backend::Mpris, "no", "/opt/no such/vlc"}},
    };
    for (const auto& row : rows)
        EXPECT_EQ(choosePlayer(row.location, startable), row.expected) << row.location;
}

TEST(PlayerRules, BusNameAndFileHandoverByProgramOrBusName)
{
    EXPECT_EQ(ruleForProgram("cvlc").busName, "vlc");
    EXPECT_EQ(ruleForProgram("rhythmbox").busName, "rhythmbox");
    EXPECT_EQ(ruleForProgram("rhythmbox").files, FileHandover::Uri);
    EXPECT_TRUE(ruleForProgram("mopidy").speaksMpd());
    EXPECT_FALSE(ruleForProgram("mpv").speaksMpd());
    EXPECT_EQ(ruleForBusName("vlc.instance4021").busName, "vlc");
    EXPECT_EQ(ruleForBusName("cmus").files, FileHandover::PlainPath);
    EXPECT_FALSE(ruleForBusName("cmus").takesFolders);
    EXPECT_FALSE(ruleForBusName("cmus").seekedTellsNewPosition);
    EXPECT_TRUE(ruleForBusName("audacious").seekedTellsNewPosition);
    EXPECT_TRUE(ruleForBusName("vlc").takesFolders);
    EXPECT_EQ(ruleForBusName("Audacious").files, FileHandover::AudaciousInterface);
    EXPECT_EQ(ruleForBusName("mpd").files, FileHandover::Uri);
    EXPECT_FALSE(ruleForBusName("mpd").speaksMpd());
}

TEST(MprisNameMatches, NameOrInstanceRegardlessOfCase)
{
    EXPECT_TRUE(mprisNameMatches("org.mpris.MediaPlayer2.vlc", "vlc"));
    EXPECT_TRUE(mprisNameMatches("org.mpris.MediaPlayer2.Lollypop", "lollypop"));
    EXPECT_TRUE(mprisNameMatches("org.mpris.MediaPlayer2.chromium.instance4021", "Chromium"));
    EXPECT_TRUE(mprisNameMatches("org.mpris.MediaPlayer2.mpv", ""));
    EXPECT_FALSE(mprisNameMatches("org.mpris.MediaPlayer2.vlcx", "vlc"));
    EXPECT_FALSE(mprisNameMatches("org.mpris.MediaPlayer2.vl", "vlc"));
    EXPECT_FALSE(mprisNameMatches("org.freedesktop.DBus", ""));
    EXPECT_FALSE(mprisNameMatches("org.mpris.MediaPlayer2.", ""));
}

TEST(PickPlayer, PlayingBeforePausedBeforeNameOrder)
{
    EXPECT_EQ(pickPlayer({}), std::nullopt);
    EXPECT_EQ(pickPlayer({{"b", "Stopped"}, {"a", "Stopped"}}), "a");
    EXPECT_EQ(pickPlayer({{"a", "Stopped"}, {"c", "Paused"}, {"b", "Paused"}}), "b");
    EXPECT_EQ(pickPlayer({{"a", "Paused"}, {"z", "Playing"}, {"b", ""}}), "z");
}

TEST(TrackListShown, APublishedListUnlessEmptyWhileATrackPlays)
{
    EXPECT_TRUE(trackListShown(true, 3, true));
    EXPECT_TRUE(trackListShown(true, 0, false));
    EXPECT_FALSE(trackListShown(true, 0, true));
    EXPECT_FALSE(trackListShown(false, 0, false));
}

TEST(FileUri, PercentEncodesAllButUnreservedBytes)
{
    EXPECT_EQ(fileUri("/m/Café del Mar/01 #1 100%.mp3"),
              "file:///m/Caf%C3%A9%20del%20Mar/01%20%231%20100%25.mp3");
    EXPECT_EQ(fileUri("/a-b_c.~d/e?f"), "file:///a-b_c.~d/e%3Ff");
}

TEST(PercentDecoded, TurnsEscapesBackAndLeavesStrayPercentSigns)
{
    EXPECT_EQ(percentDecoded("file:///m/Caf%C3%A9%20del%20Mar/a%2fb.ogg"),
              "file:///m/Café del Mar/a/b.ogg");
    EXPECT_EQ(percentDecoded("100% %4 %zz %"), "100% %4 %zz %");
    EXPECT_EQ(percentDecoded(fileUri("/a b/ü#?.mp3")), "file:///a b/ü#?.mp3");
}

TEST(FileKinds, PlaylistsAndSoundFilesBySuffix)
{
    for (const char* name : {"mix.m3u", "a/MIX.M3U8", "x.pls", "x.xspf", "disc.cue"})
        EXPECT_TRUE(isPlaylistFile(name)) << name;
    for (const char* name : {"m3u", "a.m3u/b", "song.mp3", "mix.m3u.txt"})
        EXPECT_FALSE(isPlaylistFile(name)) << name;
    for (const char* name : {"a.mp3", "B.FLAC", "c.ogg", "d.opus", "e.wav"})
        EXPECT_TRUE(isSoundFile(name)) << name;
    for (const char* name : {"cover.jpg", "mix.m3u", "notes", ".ogg/readme"})
        EXPECT_FALSE(isSoundFile(name)) << name;
}

// Records which backend each operation reached.
class Recorder : public Player
{
public:
    explicit Recorder(std::string name, std::vector<std::string>& log) : m_name(name), m_log(log) {}
    void play(PlayerDone done) override { note("play", done); }
    void stop(PlayerDone done) override { note("stop", done); }
    void pause(PlayerDone done) override { note("pause", done); }
    void next(PlayerDone done) override { note("next", done); }
    void previous(PlayerDone done) override { note("previous", done); }
    void stepVolume(int, PlayerDone done) override { note("volume step", done); }
    void toggleShuffle(PlayerDone done) override { note("shuffle", done); }
    void toggleRepeat(PlayerDone done) override { note("repeat", done); }
    void clear(PlayerDone done) override { note("clear", done); }
    void add(const std::string&, PlayerDone done) override { note("add", done); }
    void open(const std::string&, PlayerDone done) override { note("open", done); }
    void close(PlayerDone done) override { note("close", done); }
    void status(PlayerDone done) override { note("status", done); }
    void queue(std::uint32_t, std::uint32_t, PlayerDone done) override { note("queue", done); }
    void jumpTo(std::uint32_t, PlayerDone done) override { note("jump", done); }
    void setVolume(int, PlayerDone done) override { note("volume", done); }
    void seekTo(std::uint32_t, PlayerDone done) override { note("seek", done); }
    void stopForSleep(PlayerDone done) override { note("sleep", done); }
    void beginCommandLine() override { m_log.push_back(m_name + " begin"); }
    void endCommandLine() override { m_log.push_back(m_name + " end"); }

private:
    void note(const char* what, const PlayerDone& done)
    {
        m_log.push_back(m_name + " " + what);
        done(PlayerAnswer::of(Outcome::Done));
    }
    std::string m_name;
    std::vector<std::string>& m_log;
};

TEST(PlayerSelector, EachLineGoesToTheBackendItsLocationChose)
{
    std::vector<std::string> log;
    Recorder mpd("mpd", log);
    Recorder mpris("mpris", log);
    std::string location = "mpd";
    PlayerSelector selector(mpd, mpris, [&location] { return location; });
    int answers = 0;
    const auto counted = [&answers](const PlayerAnswer&) { ++answers; };

    selector.beginCommandLine();
    location = "vlc"; // a change in the middle of a line waits for the next one
    selector.play(counted);
    selector.endCommandLine();
    selector.status(counted);
    selector.stopForSleep(counted);
    location = "/usr/sbin/mpd";
    selector.add("x.wav", counted);
    EXPECT_EQ(log, (std::vector<std::string>{"mpd begin", "mpd play", "mpd end", "mpris status",
                                             "mpris sleep", "mpd add"}));
    EXPECT_EQ(answers, 4);
}

} // namespace
} // namespace zelvor
