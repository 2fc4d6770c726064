// SPDX-License-Identifier: MIT
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace zelvor {

enum class PlayState
{
    Stopped,
    Playing,
    Paused,
    /** The player answered with a state Zelvor has no word for. */
    Unknown,
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
    /** Shuffle and repeat, on or off; nothing when the player does not offer them. */
    std::optional<bool> shuffle;
    std::optional<bool> repeat;
    /** The player's version as one number (see encodeVersion). */
    std::int32_t version = 0;
};

/** One entry of the queue: its 0-based position and its display title. */
struct QueueEntry
{
    std::uint32_t position = 0;
    std::string title;

    bool operator==(const QueueEntry&) const = default;
};

/** How a player operation ended. */
enum class Outcome
{
    /** Carried out (a player's own refusal of a detail, such as a volume without a mixer,
     * still counts as done: the status tells what came of it). */
    Done,
    /** No player was found, it stopped answering in time, or it went away. */
    NoPlayer,
    /** The player is there but lacks what was asked (no shuffle, no track list to edit, ...);
     * nothing changed. */
    NotOffered,
    /** The player is there and refused, or the player could not be started. */
    Failed,
};

/** The one answer of every player operation. */
struct PlayerAnswer
{
    Outcome outcome = Outcome::Done;
    /** Why it failed, as one status line, where the backend can tell ("cannot start ..."). */
    std::string reason;
    /** The status, for the operations that answer with one (see Player). */
    std::optional<PlayerStatus> status;
    /** The entries of a queue page. */
    std::vector<QueueEntry> entries;

    bool done() const { return outcome == Outcome::Done; }

    static PlayerAnswer of(Outcome outcome) { return {outcome, {}, {}, {}}; }
    static PlayerAnswer with(PlayerStatus status)
    {
        return {Outcome::Done, {}, std::move(status), {}};
    }
};

/**
 * Called once with the answer of an operation: later from the program's event loop, or before
 * the operation returns when nothing had to wait.
 */
using PlayerDone = std::function<void(PlayerAnswer)>;

/** Held by whoever follows a player's changes: destroying it ends the following. */
class PlayerWatch
{
public:
    virtual ~PlayerWatch() = default;
};

/**
 * The player operations, in Zelvor's words. Each answers through its callback exactly once.
 * The operations marked "status" answer Done with the status after them; the others answer
 * without a status unless noted.
 */
class Player
{
public:
    virtual ~Player() = default;

    virtual void play(PlayerDone done) = 0;
    virtual void stop(PlayerDone done) = 0;
    /** Playing pauses, paused plays on; a stopped player stays stopped. */
    virtual void pause(PlayerDone done) = 0;
    virtual void next(PlayerDone done) = 0;
    virtual void previous(PlayerDone done) = 0;
    /** Moves the volume by steps of one percent, up (steps > 0) or down (steps < 0): volup n is
     * n + 1 steps. A player that moves one step at a time stops at the first step not done. */
    virtual void stepVolume(int steps, PlayerDone done) = 0;
    virtual void toggleShuffle(PlayerDone done) = 0;
    virtual void toggleRepeat(PlayerDone done) = 0;
    /** Empties the queue. */
    virtual void clear(PlayerDone done) = 0;
    /** Appends a file, a playlist file, or every sound file below a folder (host path). */
    virtual void add(const std::string& hostPath, PlayerDone done) = 0;
    /** Starts the player at the player location; Failed with the reason when it cannot. */
    virtual void open(const std::string& location, PlayerDone done) = 0;
    /** Ends the player. */
    virtual void close(PlayerDone done) = 0;

    /** Status: the play state, the queue, the current entry with its times, the volume,
     * shuffle, repeat and the version. */
    virtual void status(PlayerDone done) = 0;
    /**
     * Status, and up to count entries from the 0-based position first (fewer at the queue's
     * end, none past it) at the same moment.
     */
    virtual void queue(std::uint32_t first, std::uint32_t count, PlayerDone done) = 0;
    // An entry past the queue's end is not played; a volume the player cannot take leaves it
    // as it was.
    /** Status after playing the entry at the 0-based position. */
    virtual void jumpTo(std::uint32_t position, PlayerDone done) = 0;
    /** Status after setting the volume in percent (0 to 100). */
    virtual void setVolume(int percent, PlayerDone done) = 0;
    /** Status after moving within the current entry to the time from its start; Failed when
     * the player refuses the move. */
    virtual void seekTo(std::uint32_t milliseconds, PlayerDone done) = 0;
    /**
     * Status after moving by the offset from where the player is, as the player counts it; to
     * is where that lands by the status the caller read. By default a seekTo(to); a player
     * with a move of its own (MPRIS's Seek) takes the offset, which its position, read a moment
     * too soon, cannot spoil.
     */
    virtual void seekBy(std::int64_t offset, std::uint32_t to, PlayerDone done)
    {
        static_cast<void>(offset);
        seekTo(to, std::move(done));
    }

    /** Ends playback when the sleep timer runs out; a stop unless the backend knows better. */
    virtual void stopForSleep(PlayerDone done) { stop(std::move(done)); }

    /**
     * Brackets the player work of one client command line: begin before its first operation,
     * end once its last has answered. A backend may use them to hold one connection between.
     */
    virtual void beginCommandLine() {}
    virtual void endCommandLine() {}

    /**
     * Calls changed from the event loop each time what the status shows may have changed other
     * than by time running on (the play state, the current entry, the queue, a seek), and when
     * the player went away or came back; duplicates included, for as long as the returned
     * watch lives. Nothing: the player cannot tell, and the follower reads the status itself.
     */
    virtual std::unique_ptr<PlayerWatch> watchChanges(std::function<void()> changed)
    {
        (void)changed;
        return nullptr;
    }
};

} // namespace zelvor
