// SPDX-License-Identifier: MIT
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace zelvor {

/** Where the MPD that Zelvor configures itself plays its sound. */
enum class AudioOutput
{
    PipeWire,
    PulseAudio,
    Alsa,
    None,
};

/** What the user's session offers for sound. */
struct AudioSurroundings
{
    /** $XDG_RUNTIME_DIR; empty when it is not set. */
    std::filesystem::path runtimeDir;
    /** PULSE_SERVER is set. */
    bool pulseServerSet = false;
    /** The folder of the sound devices, /dev/snd. */
    std::filesystem::path soundDevices = "/dev/snd";
};

/**
 * PipeWire when its socket is in the runtime folder, else PulseAudio when its socket is there or
 * PULSE_SERVER names one, else ALSA when there is a playback device, else none.
 */
AudioOutput chooseAudioOutput(const AudioSurroundings& surroundings);

/** The status word for an MPD that plays into nothing ("no audio output"); "" otherwise. */
std::string_view audioOutputStatus(AudioOutput output);

/** The files of the MPD that Zelvor runs itself, all in Zelvor's settings folder. */
struct ManagedMpdFiles
{
    explicit ManagedMpdFiles(const std::filesystem::path& settingsFolder);

    std::filesystem::path config;
    std::filesystem::path database;
    std::filesystem::path state;
    std::filesystem::path sticker;
    std::filesystem::path log;
    std::filesystem::path pid;
    std::filesystem::path socket;
};

/**
 * True when "open" runs an MPD configured by Zelvor: the player location is the bare "mpd" and
 * the user has no MPD configuration of their own ($XDG_CONFIG_HOME/mpd/mpd.conf, ~/.mpdconf,
 * ~/.mpd/mpd.conf). configHome is $XDG_CONFIG_HOME, or ~/.config when that is not set.
 */
bool wantsManagedMpd(std::string_view playerLocation, const std::filesystem::path& configHome,
                     const std::filesystem::path& home);

/**
 * The configuration of that MPD: the music root as its music directory, its files in the
 * settings folder, a local socket as its only listener, and the audio output. Nothing when a
 * path cannot be written into MPD's configuration (a line break or a control character) or the
 * socket path is longer than a local socket address can hold.
 */
std::optional<std::string> managedMpdConfig(const ManagedMpdFiles& files,
                                            const std::filesystem::path& musicRoot,
                                            AudioOutput output);

} // namespace zelvor
