// SPDX-License-Identifier: MIT
#include "player/mpd/ManagedMpdConfig.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

namespace zelvor {
namespace {

namespace fs = std::filesystem;

TEST(ManagedMpdConfig, MusicRootFilesInTheSettingsFolderAndOnlyALocalSocket)
{
    const ManagedMpdFiles files("/home/me/.config/zelvor");
    EXPECT_EQ(managedMpdConfig(files, "/home/me/My \"Music\" \\ here", AudioOutput::None),
              "# Written by Zelvor at every \"open\"; changes made here are lost.\n"
              "# An MPD configuration of your own (~/.config/mpd/mpd.conf) is used instead.\n"
              "music_directory \"/home/me/My \\\"Music\\\" \\\\ here\"\n"
              "db_file \"/home/me/.config/zelvor/mpd.db\"\n"
              "state_file \"/home/me/.config/zelvor/mpd.state\"\n"
              "sticker_file \"/home/me/.config/zelvor/mpd.sticker\"\n"
              "log_file \"/home/me/.config/zelvor/mpd.log\"\n"
              "pid_file \"/home/me/.config/zelvor/mpd.pid\"\n"
              "bind_to_address \"/home/me/.config/zelvor/mpd.socket\"\n"
              "auto_update \"yes\"\n"
              "zeroconf_enabled \"no\"\n"
              "audio_output {\n"
              "    type \"null\"\n"
              "    name \"no audio output\"\n"
              "    mixer_type \"software\"\n"
              "}\n");
    const auto pulse = managedMpdConfig(files, "/m", AudioOutput::PulseAudio);
    ASSERT_TRUE(pulse);
    EXPECT_NE(pulse->find("audio_output {\n    type \"pulse\"\n    name \"PulseAudio\"\n}\n"),
              std::string::npos);
    EXPECT_EQ(audioOutputStatus(AudioOutput::None), "no audio output");
    EXPECT_EQ(audioOutputStatus(AudioOutput::Alsa), "");
}

TEST(ManagedMpdConfig, NoConfigurationThatMpdWouldMisread)
{
    const ManagedMpdFiles files("/home/me/.config/zelvor");
    EXPECT_FALSE(managedMpdConfig(files, "/music\nport \"6600\"", AudioOutput::None));
    EXPECT_FALSE(managedMpdConfig(files, "/music\t", AudioOutput::None));
    // The socket path must fit a local socket address (107 bytes).
    const std::string longest = "/" + std::string(95, 'x');
    EXPECT_TRUE(managedMpdConfig(ManagedMpdFiles(longest), "/m", AudioOutput::None));
    EXPECT_FALSE(managedMpdConfig(ManagedMpdFiles(longest + "x"), "/m", AudioOutput::None));
}

TEST(ManagedMpdConfig, AudioOutputByWhatTheSessionOffers)
{
    struct Row
    {
        const char* name;
        std::vector<std::string> files;
        bool pulseServer;
        AudioOutput expected;
    };
    const Row rows[] = {
        {"nothing", {}, false, AudioOutput::None},
        {"capture device only", {"snd/pcmC0D0c", "snd/controlC0"}, false, AudioOutput::None},
        {"playback device", {"snd/pcmC0D0c", "snd/pcmC0D0p"}, false, AudioOutput::Alsa},
        {"PulseAudio socket", {"run/pulse/native", "snd/pcmC0D0p"}, false, AudioOutput::PulseAudio},
        {"PULSE_SERVER", {}, true, AudioOutput::PulseAudio},
        {"PipeWire beside its PulseAudio socket",
         {"run/pipewire-0", "run/pulse/native"},
         false,
         AudioOutput::PipeWire},
    };
    for (const auto& row : rows) {
        const test::TempDir folder;
        folder.mkdir("run");
        for (const auto& file : row.files)
            folder.write(file);
        const AudioSurroundings surroundings{folder.path() / "run", row.pulseServer,
                                             folder.path() / "snd"};
        EXPECT_EQ(chooseAudioOutput(surroundings), row.expected) << row.name;
    }
    EXPECT_EQ(chooseAudioOutput({"", false, "/nonexistent"}), AudioOutput::None);
}

TEST(ManagedMpdConfig, OnlyTheBareDefaultWithoutAConfigurationOfTheUsers)
{
    struct Row
    {
        const char* name;
        const char* location;
        const char* userConfig;
        bool expected;
    };
    const Row rows[] = {
        {"bare default", "mpd", nullptr, true},
        {"with arguments", "mpd /etc/mpd.conf", nullptr, false},
        {"full path", "/usr/bin/mpd", nullptr, false},
        {"other player", "vlc", nullptr, false},
        {"XDG configuration", "mpd", "config/mpd/mpd.conf", false},
        {"~/.mpdconf", "mpd", "home/.mpdconf", false},
        {"~/.mpd/mpd.conf", "mpd", "home/.mpd/mpd.conf", false},
        {"unrelated file", "mpd", "home/.mpd/other", true},
    };
    for (const auto& row : rows) {
        const test::TempDir folder;
        if (row.userConfig)
            folder.write(row.userConfig, "music_directory \"/m\"\n");
        EXPECT_EQ(wantsManagedMpd(row.location, folder.path() / "config", folder.path() / "home"),
                  row.expected)
            << row.name;
    }
}

} // namespace
} // namespace zelvor
