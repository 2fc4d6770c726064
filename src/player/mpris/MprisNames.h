// SPDX-License-Identifier: MIT
#pragma once

#include <cstddef>
#include <functional>
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

/** True when the program (a reading of the location, see programCandidates) could be started. */
using ProgramFinder = std::function<bool(const std::string& program)>;

/**
 * Reads the player location: "mpd", empty or a program that speaks MPD's protocol (mpd, mopidy)
 * chooses MPD; "mpris" any MPRIS player; "mpris:NAME" the player of that name; any other command
 * line the MPRIS player of the program (see ruleForProgram), started from that line by "open".
 * The program is the first reading of the line that startable accepts, as the start tries them;
 * without startable, or when it accepts none, the first reading.
 */
PlayerChoice choosePlayer(std::string_view location, const ProgramFinder& startable = {});

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

/**
 * Whether the track list a player published is the queue to show. Some players publish Tracks
 * while HasTrackList says false (VLC), so what counts is whether Tracks answered; an empty list
 * next to a current track in Metadata means the player keeps its queue off the bus (Strawberry).
 */
bool trackListShown(bool tracksAnswered, std::size_t trackCount, bool currentTrack);

/** A host path as a file:// URI: every byte but unreserved ones and '/' percent-encoded. */
std::string fileUri(std::string_view hostPath);

/** Text with its %XX escapes turned back into bytes; a stray '%' stays as it is. */
std::string percentDecoded(std::string_view text);

/** A playlist file (.m3u, .m3u8, .pls, .xspf, .cue), by its suffix in any letter case. */
bool isPlaylistFile(std::string_view path);

} // namespace zelvor
