// SPDX-License-Identifier: MIT
#pragma once

#include <string_view>

namespace zelvor {

/** How "load" hands a file to a player. */
enum class FileHandover
{
    /** A file:// address (AddTrack or OpenUri). */
    Uri,
    /** The plain host path in OpenUri: the player reads no file:// addresses. */
    PlainPath,
    /** Through Audacious's own bus interface (org.atheme.audacious): it has no OpenUri. */
    AudaciousInterface,
};

/** What Zelvor knows about one player program beyond what its bus interface says. */
struct PlayerRule
{
    /** The program's base name, as the player location starts it. */
    std::string_view program;
    /** The name it takes on the bus after "org.mpris.MediaPlayer2."; empty for an MPD-protocol
     * server, which is reached as MPD. */
    std::string_view busName;
    FileHandover files = FileHandover::Uri;
    /** False when the player takes single files only: a folder handed over adds nothing. */
    bool takesFolders = true;
    /** False when the player's Seeked signal carries the position from before the seek. */
    bool seekedTellsNewPosition = true;

    bool speaksMpd() const { return busName.empty(); }
};

/**
 * The rule of a program by its base name. A program without a rule of its own is an MPRIS
 * player named after the program that takes file:// addresses.
 */
PlayerRule ruleForProgram(std::string_view program);

/** The rule of the MPRIS player with this name (instance suffix and letter case aside). */
PlayerRule ruleForBusName(std::string_view name);

} // namespace zelvor
