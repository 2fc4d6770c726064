// SPDX-License-Identifier: MIT
#include "player/mpris/MprisMessages.h"

#include "player/mpris/MprisNames.h"

#include <systemd/sd-bus.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string_view>

namespace zelvor {

namespace {

// Variant readers: players disagree on integer widths and on 's' or 'o' for track ids.
bool readString(sd_bus_message* m, const char* contents, std::string& out)
{
    const char* text = nullptr;
    if (std::strcmp(contents, "s") != 0 && std::strcmp(contents, "o") != 0)
        return sd_bus_message_skip(m, "v") >= 0;
    if (sd_bus_message_read(m, "v", contents, &text) < 0)
        return false;
    out = text;
    return true;
}

bool readInteger(sd_bus_message* m, const char* contents, std::int64_t& out)
{
    const char type = contents[0] != '\0' && contents[1] == '\0' ? contents[0] : '\0';
    union {
        std::int64_t x;
        std::uint64_t t;
        std::int32_t i;
        std::uint32_t u;
        double d;
    } value{};
    if (std::strchr("xtiud", type) == nullptr || type == '\0')
        return sd_bus_message_skip(m, "v") >= 0;
    if (sd_bus_message_read(m, "v", contents, &value) < 0)
        return false;
    switch (type) {
    case 'x':
        out = value.x;
        break;
    case 't':
        out = static_cast<std::int64_t>(std::min<std::uint64_t>(value.t, INT64_MAX));
        break;
    case 'i':
        out = value.i;
        break;
    case 'u':
        out = value.u;
        break;
    default:
        out = std::isfinite(value.d) ? static_cast<std::int64_t>(value.d) : 0;
    }
    return true;
}

template <typename T> bool readTrivial(sd_bus_message* m, const char* contents, char type, T& out)
{
    if (contents[0] != type || contents[1] != '\0')
        return sd_bus_message_skip(m, "v") >= 0;
    const char signature[2] = {type, '\0'};
    return sd_bus_message_read(m, "v", signature, &out) >= 0;
}

bool readFirstArtist(sd_bus_message* m, const char* contents, std::string& out)
{
    if (std::strcmp(contents, "s") == 0)
        return readString(m, contents, out);
    if (std::strcmp(contents, "as") != 0)
        return sd_bus_message_skip(m, "v") >= 0;
    if (sd_bus_message_enter_container(m, 'v', "as") < 0)
        return false;
    const auto artists = readStrings(m);
    if (!artists)
        return false;
    if (!artists->empty())
        out = artists->front();
    return sd_bus_message_exit_container(m) >= 0;
}

// Walks an a{sv} dictionary, handing each key to read() with the reader placed at its variant;
// read() must consume the variant.
template <typename Read> bool readDictionary(sd_bus_message* m, Read&& read)
{
    if (sd_bus_message_enter_container(m, 'a', "{sv}") < 0)
        return false;
    int entered = 0;
    while ((entered = sd_bus_message_enter_container(m, 'e', "sv")) > 0) {
        const char* key = nullptr;
        char type = 0;
        const char* contents = nullptr;
        if (sd_bus_message_read(m, "s", &key) < 0 ||
            sd_bus_message_peek_type(m, &type, &contents) < 0 || contents == nullptr ||
            !read(std::string_view(key), contents) || sd_bus_message_exit_container(m) < 0)
            return false;
    }
    return entered == 0 && sd_bus_message_exit_container(m) >= 0;
}

} // namespace

// A reply with one of these errors means the player is not there (any more) or hangs; any
// other error is the player's own refusal.
std::optional<std::vector<std::string>> readStrings(sd_bus_message* m)
{
    char** strings = nullptr;
    if (sd_bus_message_read_strv(m, &strings) < 0)
        return std::nullopt;
    std::vector<std::string> read;
    for (char** one = strings; one != nullptr && *one != nullptr; ++one) {
        read.emplace_back(*one);
        std::free(*one);
    }
    std::free(strings);
    return read;
}

bool playerGone(const char* errorName)
{
    if (errorName == nullptr)
        return true;
    for (const char* name :
         {SD_BUS_ERROR_NO_REPLY, SD_BUS_ERROR_TIMEOUT, SD_BUS_ERROR_SERVICE_UNKNOWN,
          SD_BUS_ERROR_NAME_HAS_NO_OWNER, SD_BUS_ERROR_DISCONNECTED, SD_BUS_ERROR_NO_SERVER})
        if (std::strcmp(errorName, name) == 0)
            return true;
    return false;
}

bool readMetadata(sd_bus_message* m, PlayerProperties& into)
{
    return readDictionary(m, [m, &into](std::string_view key, const char* contents) {
        if (key == "mpris:trackid")
            return readString(m, contents, into.trackId);
        if (key == "xesam:title")
            return readString(m, contents, into.title);
        if (key == "xesam:url")
            return readString(m, contents, into.url);
        if (key == "xesam:artist")
            return readFirstArtist(m, contents, into.artist);
        if (key == "mpris:length")
            return readInteger(m, contents, into.lengthUs);
        return sd_bus_message_skip(m, "v") >= 0;
    });
}

bool readPlayerProperties(sd_bus_message* m, PlayerProperties& into)
{
    return readDictionary(m, [m, &into](std::string_view key, const char* contents) {
        if (key == "PlaybackStatus")
            return readString(m, contents, into.playbackStatus);
        if (key == "LoopStatus")
            return readString(m, contents, into.loopStatus.emplace());
        if (key == "Shuffle") {
            int on = 0;
            const bool read = readTrivial(m, contents, 'b', on);
            if (std::strcmp(contents, "b") == 0)
                into.shuffle = on != 0;
            return read;
        }
        if (key == "Volume") {
            double volume = 0;
            const bool read = readTrivial(m, contents, 'd', volume);
            if (std::strcmp(contents, "d") == 0 && std::isfinite(volume))
                into.volume = volume;
            return read;
        }
        if (key == "Position")
            return readInteger(m, contents, into.positionUs);
        if (key == "CanSeek") {
            int can = 0;
            const bool read = readTrivial(m, contents, 'b', can);
            into.canSeek = can != 0;
            return read;
        }
        if (key == "Metadata" && std::strcmp(contents, "a{sv}") == 0)
            return sd_bus_message_enter_container(m, 'v', contents) >= 0 && readMetadata(m, into) &&
                   sd_bus_message_exit_container(m) >= 0;
        return sd_bus_message_skip(m, "v") >= 0;
    });
}

bool readRootProperties(sd_bus_message* m, RootProperties& into)
{
    return readDictionary(m, [m, &into](std::string_view key, const char* contents) {
        int on = 0;
        if (key != "HasTrackList" && key != "CanQuit")
            return sd_bus_message_skip(m, "v") >= 0;
        const bool read = readTrivial(m, contents, 'b', on);
        (key == "CanQuit" ? into.canQuit : into.hasTrackList) = on != 0;
        return read;
    });
}

sd_bus_message* newHandoverCall(sd_bus* bus, const std::string& busName, FileHandover how,
                                const std::vector<std::string>& hostPaths)
{
    sd_bus_message* request = nullptr;
    bool built = false;
    if (hostPaths.empty())
        return nullptr;
    if (how == FileHandover::AudaciousInterface) {
        built = sd_bus_message_new_method_call(bus, &request, "org.atheme.audacious",
                                               "/org/atheme/audacious", "org.atheme.audacious",
                                               "AddList") >= 0 &&
                sd_bus_message_open_container(request, 'a', "s") >= 0;
        for (const auto& path : hostPaths)
            built = built && sd_bus_message_append(request, "s", fileUri(path).c_str()) >= 0;
        built = built && sd_bus_message_close_container(request) >= 0;
    } else {
        const auto text =
            how == FileHandover::PlainPath ? hostPaths.front() : fileUri(hostPaths.front());
        built = sd_bus_message_new_method_call(bus, &request, busName.c_str(),
                                               "/org/mpris/MediaPlayer2",
                                               "org.mpris.MediaPlayer2.Player", "OpenUri") >= 0 &&
                sd_bus_message_append(request, "s", text.c_str()) >= 0;
    }
    if (!built)
        request = sd_bus_message_unref(request);
    return request;
}

} // namespace zelvor
