// SPDX-License-Identifier: MIT
#pragma once

#include "player/PlayerRules.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

struct sd_bus;
struct sd_bus_message;

namespace zelvor {

// Reading MPRIS replies with sd-bus. Players differ in the details (integer widths, 's' or 'o'
// for a track id, a string or an array of artists), so each reader takes what it can and
// skips the rest; false only when the message itself cannot be read.

/** The Player interface's properties and the current track's metadata. */
struct PlayerProperties
{
    std::string playbackStatus;
    std::optional<std::string> loopStatus;
    std::optional<bool> shuffle;
    std::optional<double> volume;
    std::int64_t positionUs = 0;
    bool canSeek = false;
    std::string trackId;
    std::string title;
    std::string artist;
    std::string url;
    std::int64_t lengthUs = 0;
};

/** The root interface's properties that Zelvor uses. */
struct RootProperties
{
    bool canQuit = false;
    bool hasTrackList = false;
};

/** True when a call that failed with this error name (nullptr: none, a local failure) failed
 * because the player is not there (any more) or did not answer; else the player refused. */
bool playerGone(const char* errorName);

/** A string or object path array (as, ao) at the reader's place; nothing when it cannot be
 * read. */
std::optional<std::vector<std::string>> readStrings(sd_bus_message* m);
/** A Metadata dictionary (a{sv}) at the reader's place: the fields of a track. */
bool readMetadata(sd_bus_message* m, PlayerProperties& into);
/** The answer of GetAll on the Player interface. */
bool readPlayerProperties(sd_bus_message* m, PlayerProperties& into);
/** The answer of GetAll on the root interface. */
bool readRootProperties(sd_bus_message* m, RootProperties& into);

/**
 * The call that hands host files to the player as its rule says (see PlayerRule): OpenUri with
 * the first file's file:// address or its plain path, which plays it at once; or Audacious's
 * own AddList with the addresses of them all, appended to its playlist. The files are sound
 * files or playlists, in the order given. Null when the call could not be built.
 */
sd_bus_message* newHandoverCall(sd_bus* bus, const std::string& busName, FileHandover how,
                                const std::vector<std::string>& hostPaths);

} // namespace zelvor
