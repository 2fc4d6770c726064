// SPDX-License-Identifier: MIT
#pragma once

#include "player/mpd/ManagedMpd.h"
#include "player/Player.h"

#include <chrono>
#include <functional>
#include <optional>

#include <sys/types.h>

struct mpd_connection;

namespace zelvor {

/**
 * The player operations carried out on MPD, found where libmpdclient looks for it (MPD_HOST and
 * MPD_PORT, else its default socket or localhost:6600). While MPD_HOST is not set, the local
 * socket of the MPD that Zelvor runs itself (see ManagedMpd) is tried first.
 *
 * One connection serves one command line: it is opened by the line's first operation and closed
 * by endCommandLine(); an operation outside a line opens and closes its own. Connecting and every
 * reply wait at most two seconds; MPD not reached, or a connection that broke or timed out,
 * answers NoPlayer. An error reply from a running MPD (for example a volume change without a
 * mixer) still counts as done.
 */
class MpdBackend : public Player
{
public:
    explicit MpdBackend(ManagedMpdSetup managed = {}) : m_managed(std::move(managed)) {}
    ~MpdBackend() override;
    MpdBackend(const MpdBackend&) = delete;
    MpdBackend& operator=(const MpdBackend&) = delete;

    void play(PlayerDone done) override;
    void stop(PlayerDone done) override;
    void pause(PlayerDone done) override;
    void next(PlayerDone done) override;
    void previous(PlayerDone done) override;
    /** One percent up or down. */
    void stepVolume(int direction, PlayerDone done) override;
    /** "random" swapped. */
    void toggleShuffle(PlayerDone done) override;
    void toggleRepeat(PlayerDone done) override;
    void clear(PlayerDone done) override;
    /** Appends the file, or every sound file below the folder in name order (see
     * MpdQueueLoader). */
    void add(const std::string& hostPath, PlayerDone done) override;
    /** Starts Zelvor's own MPD where that is the one to start, waited for on the event loop
     * (see ManagedMpd::openThen), else the program detached (see launchProgram). */
    void open(const std::string& location, PlayerDone done) override;
    /** "kill", or SIGTERM to an MPD on the local socket that does not know it. */
    void close(PlayerDone done) override;

    /** "status" and "currentsong" in one command list; the version is the protocol's. */
    void status(PlayerDone done) override;
    /** "status" and "playlistinfo" of the range in one command list. */
    void queue(std::uint32_t first, std::uint32_t count, PlayerDone done) override;
    /** "play POS", "status" and "currentsong" in one command list. */
    void jumpTo(std::uint32_t position, PlayerDone done) override;
    /** "setvol" and the status in one command list; MPD without a mixer refuses it. */
    void setVolume(int percent, PlayerDone done) override;
    /**
     * "seekcur" and the status in one command list: playing or paused, the song stays in that
     * state and MPD's outputs stay open. Failed when MPD refuses the seek (stopped, or a song
     * it cannot seek in), which leaves everything as it was.
     */
    void seekTo(std::uint32_t milliseconds, PlayerDone done) override;

    void beginCommandLine() override;
    void endCommandLine() override;

    static constexpr unsigned kTimeoutMs = 2000;
    /** How long a change waits for MPD's event that it took effect. */
    static constexpr std::chrono::milliseconds kSettleLimit{300};

private:
    template <typename Work> void operate(Work&& work, PlayerDone& done);
    template <typename Run> void simple(Run&& run, PlayerDone& done);
    template <typename Send>
    void statusAfter(Send&& send, PlayerDone& done, bool refusedFails = false);
    void settleOnEntry(std::uint32_t position, PlayerStatus& now);
    bool awaitPlayerEvent(std::chrono::milliseconds limit);
    std::optional<PlayerStatus> currentStatus();
    std::optional<PlayerStatus> receiveStatus();
    void receiveEntries(std::vector<QueueEntry>& entries, std::uint32_t count);
    mpd_connection* connection();
    bool usable();
    void disconnect();

    ManagedMpd m_managed;
    /** The program the last "open" started other than Zelvor's own MPD (Mopidy, say). */
    pid_t m_started = -1;
    mpd_connection* m_connection = nullptr;
    bool m_inLine = false;
};

} // namespace zelvor
