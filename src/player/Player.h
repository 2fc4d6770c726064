// SPDX-License-Identifier: MIT
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace zelvor {

enum class PlayState
{
    Stopped,
    Playing,
    Paused,
};

/** What the player is doing, as one answer. */
struct PlayerStatus
{
    PlayState state = PlayState::Stopped;
    /** How many entries the queue holds. */
    std::uint32_t queueLength = 0;
    /** The current entry, 0-based; nothing when there is none. */
    std::optional<std::uint32_t> position;
    /** The current entry's display title. */
    std::string title;
    std::uint32_t elapsedMs = 0;
    /** The current entry's length; nothing when the player does not know it. */
    std::optional<std::uint32_t> totalMs;
    /** The volume in percent, 0 to 100; nothing when the player has no volume control. */
    std::optional<int> volume;
    /** False when the player shows no queue: queueLength means nothing, and position is 0
     * while there is a current entry. */
    bool queueKnown = true;
    /** False when the player cannot move within an entry. */
    bool canSeek = true;
};

/** One entry of the queue: its 0-based position and its display title. */
struct QueueEntry
{
    std::uint32_t position = 0;
    std::string title;

    bool operator==(const QueueEntry&) const = default;
};

/** A page of the queue and the player's status at the same moment. */
struct QueuePage
{
    PlayerStatus status;
    std::vector<QueueEntry> entries;
};

/**
 * The four player operations. The three message operations answer -1 when no player is found
 * (nothing was sent), kNotOffered when the player lacks what was asked; any other value is the
 * player's answer, passed through unchanged.
 */
class Player
{
public:
    virtual ~Player() = default;

    /** Sends a player command (WM_COMMAND id). */
    virtual std::int32_t WinampCommand(std::int32_t id) = 0;
    /** Sends a player query (WM_USER with wParam data, lParam id). */
    virtual std::int32_t WinampQuery(std::int32_t data, std::int16_t id) = 0;
    /** Hands the player a file or folder (host path) to add to its playlist. */
    virtual std::int32_t WinampPlayFile(const std::string& path) = 0;
    /** Starts the player program; -1 when it could not be started at all, else 0. */
    virtual std::int32_t LaunchWinamp(const std::string& path) = 0;
    /**
     * Why the last LaunchWinamp answered -1, as one status line ("cannot start <path>: <the
     * system's reason>"). Empty when it started, or when the backend cannot tell.
     */
    virtual std::string launchFailure() const { return {}; }

    /**
     * LaunchWinamp for a caller that must not wait: done gets the same answer once it is
     * decided, from the program's event loop, or before this returns when nothing needs waiting
     * for.
     */
    virtual void launchWinampThen(const std::string& path, std::function<void(std::int32_t)> done)
    {
        done(LaunchWinamp(path));
    }

    // Typed operations; each answers nothing or false when no player is found.

    /** The play state, the queue's length, the current entry with its times, and the volume. */
    virtual std::optional<PlayerStatus> status() = 0;
    /**
     * Up to count entries from the 0-based position first (fewer at the queue's end, none past
     * it), with the status at the same moment.
     */
    virtual std::optional<QueuePage> queue(std::uint32_t first, std::uint32_t count) = 0;
    // The changes answer with the status after them. An entry past the queue's end is not
    // played; a volume the player cannot take leaves it as it was.
    /** Plays the entry at the 0-based position. */
    virtual std::optional<PlayerStatus> jumpTo(std::uint32_t position) = 0;
    /** Sets the volume in percent (0 to 100). */
    virtual std::optional<PlayerStatus> setVolume(int percent) = 0;
    /** Moves within the current entry to the time from its start. */
    virtual std::optional<PlayerStatus> seekTo(std::uint32_t milliseconds) = 0;

    /** Ends playback when the sleep timer runs out; a stop unless the backend knows better. */
    virtual std::int32_t stopForSleep();

    /**
     * Brackets the player work of one client command line. A backend may keep one connection
     * open in between, and gives up on the rest of the line once the player stopped answering.
     */
    virtual void beginCommandLine() {}
    virtual void endCommandLine() {}
};

/** The answer of a player that was found but does not offer what was asked (for example a
 * player without shuffle); nothing changed. */
inline constexpr std::int32_t kNotOffered = -2;

// Player command identifiers (WM_COMMAND).
inline constexpr std::int32_t kCmdClose = 40001;
inline constexpr std::int32_t kCmdToggleRepeat = 40022;
inline constexpr std::int32_t kCmdToggleShuffle = 40023;
inline constexpr std::int32_t kCmdPrevious = 40044;
inline constexpr std::int32_t kCmdPlay = 40045;
inline constexpr std::int32_t kCmdPause = 40046;
inline constexpr std::int32_t kCmdStop = 40047;
inline constexpr std::int32_t kCmdNext = 40048;
inline constexpr std::int32_t kCmdVolumeUp = 40058;
inline constexpr std::int32_t kCmdVolumeDown = 40059;

// Player query identifiers (WM_USER lParam), all sent with data 0.
inline constexpr std::int16_t kQueryVersion = 0;
inline constexpr std::int16_t kQueryClearPlaylist = 101;
inline constexpr std::int16_t kQueryPlayState = 104;
inline constexpr std::int16_t kQueryShuffle = 250;
inline constexpr std::int16_t kQueryRepeat = 251;

/** Data kind of the play-file block (WM_COPYDATA dwData). */
inline constexpr std::uint32_t kCopyDataPlayFile = 100;

inline std::int32_t Player::stopForSleep()
{
    return WinampCommand(kCmdStop);
}

} // namespace zelvor
