// SPDX-License-Identifier: MIT
#include "player/mpd/ManagedMpdConfig.h"

#include <array>

namespace zelvor {
namespace {

namespace fs = std::filesystem;

// A local socket address holds 108 bytes with its closing zero.
constexpr std::size_t kLongestSocketPath = 107;

bool present(const fs::path& path)
{
    std::error_code error;
    return !path.empty() && fs::exists(path, error);
}

bool hasPlaybackDevice(const fs::path& soundDevices)
{
    std::error_code error;
    for (fs::directory_iterator it(soundDevices, error), end; !error && it != end;
         it.increment(error)) {
        const std::string name = it->path().filename().string();
        if (name.rfind("pcm", 0) == 0 && name.back() == 'p')
            return true;
    }
    return false;
}

/** The text in MPD's quotes, or nothing when it cannot be written there. */
std::optional<std::string> quoted(const std::string& text)
{
    std::string out = "\"";
    for (const char c : text) {
        if (static_cast<unsigned char>(c) < 32 || c == 127)
            return std::nullopt;
        if (c == '"' || c == '\\')
            out += '\\';
        out += c;
    }
    return out + "\"";
}

std::string outputBlock(AudioOutput output)
{
    switch (output) {
    case AudioOutput::PipeWire:
        return "    type \"pipewire\"\n    name \"PipeWire\"\n";
    case AudioOutput::PulseAudio:
        return "    type \"pulse\"\n    name \"PulseAudio\"\n";
    case AudioOutput::Alsa:
        return "    type \"alsa\"\n    name \"ALSA\"\n";
    case AudioOutput::None:
        break;
    }
    // A software mixer keeps volup and voldn working.
    return "    type \"null\"\n    name \"no audio output\"\n    mixer_type \"software\"\n";
}

} // namespace

AudioOutput chooseAudioOutput(const AudioSurroundings& surroundings)
{
    const fs::path& runtime = surroundings.runtimeDir;
    if (!runtime.empty() && present(runtime / "pipewire-0"))
        return AudioOutput::PipeWire;
    if (surroundings.pulseServerSet || (!runtime.empty() && present(runtime / "pulse" / "native")))
        return AudioOutput::PulseAudio;
    if (hasPlaybackDevice(surroundings.soundDevices))
        return AudioOutput::Alsa;
    return AudioOutput::None;
}

std::string_view audioOutputStatus(AudioOutput output)
{
    return output == AudioOutput::None ? "no audio output" : "";
}

ManagedMpdFiles::ManagedMpdFiles(const fs::path& settingsFolder)
    : config(settingsFolder / "mpd.conf"), database(settingsFolder / "mpd.db"),
      state(settingsFolder / "mpd.state"), sticker(settingsFolder / "mpd.sticker"),
      log(settingsFolder / "mpd.log"), pid(settingsFolder / "mpd.pid"),
      socket(settingsFolder / "mpd.socket")
{}

bool wantsManagedMpd(std::string_view playerLocation, const fs::path& configHome,
                     const fs::path& home)
{
    if (playerLocation != "mpd")
        return false;
    const std::array ownConfigs = {configHome / "mpd" / "mpd.conf", home / ".mpdconf",
                                   home / ".mpd" / "mpd.conf"};
    for (const auto& config : ownConfigs)
        if (present(config))
            return false;
    return true;
}

std::optional<std::string> managedMpdConfig(const ManagedMpdFiles& files, const fs::path& musicRoot,
                                            AudioOutput output)
{
    if (files.socket.string().size() > kLongestSocketPath)
        return std::nullopt;
    const std::pair<const char*, const fs::path*> settings[] = {
        {"music_directory", &musicRoot},    {"db_file", &files.database},
        {"state_file", &files.state},       {"sticker_file", &files.sticker},
        {"log_file", &files.log},           {"pid_file", &files.pid},
        {"bind_to_address", &files.socket},
    };
    std::string text = "# Written by Zelvor at every \"open\"; changes made here are lost.\n"
                       "# An MPD configuration of your own (~/.config/mpd/mpd.conf) is used "
                       "instead.\n";
    for (const auto& [name, path] : settings) {
        const auto value = quoted(path->string());
        if (!value)
            return std::nullopt;
        text += std::string(name) + " " + *value + "\n";
    }
    return text + "auto_update \"yes\"\nzeroconf_enabled \"no\"\naudio_output {\n" +
           outputBlock(output) + "}\n";
}

} // namespace zelvor
