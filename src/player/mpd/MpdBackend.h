// SPDX-License-Identifier: MIT
#pragma once

#include "player/ChangeWatchers.h"
#include "player/mpd/ManagedMpd.h"
#include "player/mpd/MpdChannel.h"
#include "player/Player.h"
#include "player/PlayerLoop.h"

#include <chrono>
#include <memory>
#include <optional>

#include <sys/types.h>

namespace zelvor {

/**
 * The player operations carried out on MPD, found where libmpdclient looks for it (MPD_HOST and
 * MPD_PORT, else its default socket or localhost:6600). While MPD_HOST is not set, the local
 * socket of the MPD that Zelvor runs itself (see ManagedMpd) is tried first.
 *
 * One connection is kept for the program's life (see MpdChannel): between command lines it
 * waits in MPD's idle, and one that broke is opened again by the next operation, so an MPD
 * started or restarted in between is found at the next line. Every operation answers from the
 * event loop, each MPD answer waiting at most two seconds; MPD not reached, or a connection that
 * broke or timed out, answers NoPlayer. An error reply from a running MPD (for example a volume
 * change without a mixer) still counts as done.
 */
class MpdBackend : public Player
{
public:
    MpdBackend(PlayerLoop& loop, ManagedMpdSetup managed = {});
    ~MpdBackend() override;
    MpdBackend(const MpdBackend&) = delete;
    MpdBackend& operator=(const MpdBackend&) = delete;

    void play(PlayerDone done) override;
    void stop(PlayerDone done) override;
    void pause(PlayerDone done) override;
    void next(PlayerDone done) override;
    void previous(PlayerDone done) override;
    /** One percent up or down ("volume"). */
    void stepVolume(int steps, PlayerDone done) override;
    /** "random" swapped. */
    void toggleShuffle(PlayerDone done) override;
    void toggleRepeat(PlayerDone done) override;
    void clear(PlayerDone done) override;
    /** Appends the file, or every sound file below the folder in name order (see
     * MpdQueueLoader); Failed with MPD's first refusal when it took none of it. */
    void add(const std::string& hostPath, PlayerDone done) override;
    /** Starts Zelvor's own MPD where that is the one to start, waited for on the event loop
     * (see ManagedMpd::openThen), else the program detached (see launchProgram), unless the
     * one started before still runs. */
    void open(const std::string& location, PlayerDone done) override;
    /** "kill", or SIGTERM to an MPD on the local socket that does not know it; Failed with the
     * reason of a server that refuses it. */
    void close(PlayerDone done) override;

    /** "status" and "currentsong" in one command list; the version is the protocol's. */
    void status(PlayerDone done) override;
    /** "status" and "playlistinfo" of the range in one command list. */
    void queue(std::uint32_t first, std::uint32_t count, PlayerDone done) override;
    /** "play POS", "status" and "currentsong" in one command list; where the entry is not
     * playing yet, MPD's player events are waited for (see settleOnEntry). */
    void jumpTo(std::uint32_t position, PlayerDone done) override;
    /** "setvol" and the status in one command list; MPD without a mixer refuses it. */
    void setVolume(int percent, PlayerDone done) override;
    /**
     * "seekcur" and the status in one command list: playing or paused, the song stays in that
     * state and MPD's outputs stay open. Failed when MPD refuses the seek (stopped, or a song
     * it cannot seek in), which leaves everything as it was.
     */
    void seekTo(std::uint32_t milliseconds, PlayerDone done) override;

    /** A line holds the connection out of idle until it ends. */
    void beginCommandLine() override;
    void endCommandLine() override;

    /** From the kept connection's idle ("player" and "playlist"), and its end. */
    std::unique_ptr<PlayerWatch> watchChanges(std::function<void()> changed) override;

    /** The kept connection, for those who look at it (tests, benchmarks). */
    const MpdChannel& channel() const { return m_channel; }

    /** How long goto waits for MPD's event that the entry asked for plays. */
    static constexpr std::chrono::milliseconds kSettleLimit{300};

private:
    void simple(MpdCommand command, PlayerDone& done);
    template <typename Change> void afterStatus(Change change, PlayerDone& done);
    void statusAfter(std::vector<MpdCommand> commands, PlayerDone& done, bool refusedFails = false);
    using StatusRead = std::function<void(PlayerAnswer, const std::vector<MpdPair>& status)>;
    /** Asks "status" and "currentsong" on their own; then gets NoPlayer when MPD is not reached,
     * Failed when it refused, else the status and MPD's own status pairs. */
    void readStatus(StatusRead then);
    void settleOnEntry(std::uint32_t position, std::chrono::steady_clock::time_point by,
                       PlayerDone done);
    void answerEntry(std::uint32_t position, const std::vector<MpdPair>& status,
                     const PlayerDone& done);
    PlayerStatus statusFrom(const std::vector<MpdPair>& status,
                            const std::vector<MpdPair>& song) const;

    PlayerLoop& m_loop;
    ManagedMpd m_managed;
    MpdChannel m_channel;
    /** The program the last "open" started other than Zelvor's own MPD (Mopidy, say). */
    pid_t m_started = -1;
    /** The loop's timers check it, so one that runs after this object is gone does nothing. */
    std::shared_ptr<bool> m_alive = std::make_shared<bool>(true);
    ChangeWatchers m_watchers;
};

} // namespace zelvor
