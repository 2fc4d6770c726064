// SPDX-License-Identifier: MIT
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace zelvor {

/** Which backend a player location chooses, and on MPRIS which player. */
struct PlayerChoice
{
    enum class Backend
    {
        Mpd,
        Mpris,
    };
    Backend backend = Backend::Mpd;
    /** The player's MPRIS name (see mprisNameMatches); empty means whichever player is there. */
    std::string name;
    /** The command line that "open" starts when the player is not on the bus; empty: none. */
    std::string program;

    bool operator==(const PlayerChoice&) const = default;
};

/**
 * Reads the player location: "mpd", empty or a program named mpd chooses MPD; "mpris" any MPRIS
 * player; "mpris:NAME" the player of that name; any other command line the MPRIS player named
 * after the program's base name, started from that line by "open".
 */
PlayerChoice choosePlayer(std::string_view location);

/** The prefix of every MPRIS player's bus name. */
inline constexpr std::string_view kMprisPrefix = "org.mpris.MediaPlayer2.";

/**
 * True when the bus name is the MPRIS player of that name: "org.mpris.MediaPlayer2.NAME" or
 * "org.mpris.MediaPlayer2.NAME.anything" (an instance), letter case aside. An empty name
 * matches every MPRIS player.
 */
bool mprisNameMatches(std::string_view busName, std::string_view name);

/** An MPRIS player on the bus and its PlaybackStatus ("Playing", "Paused", "Stopped"). */
struct BusPlayer
{
    std::string busName;
    std::string playbackStatus;
};

/** The one to drive: the first playing, else the first paused, else the first in name order. */
std::optional<std::string> pickPlayer(std::vector<BusPlayer> players);

/** A host path as a file:// URI: every byte but unreserved ones and '/' percent-encoded. */
std::string fileUri(std::string_view hostPath);

/** Text with its %XX escapes turned back into bytes; a stray '%' stays as it is. */
std::string percentDecoded(std::string_view text);

/** A playlist file (.m3u, .m3u8, .pls, .xspf, .cue), by its suffix in any letter case. */
bool isPlaylistFile(std::string_view path);

} // namespace zelvor
