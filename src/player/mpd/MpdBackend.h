// SPDX-License-Identifier: MIT
#pragma once

#include "player/mpd/ManagedMpd.h"
#include "player/Player.h"

#include <optional>

struct mpd_connection;

namespace zelvor {

/**
 * The player operations carried out on MPD, found where libmpdclient looks for it (MPD_HOST and
 * MPD_PORT, else its default socket or localhost:6600). While MPD_HOST is not set, the local
 * socket of the MPD that Zelvor runs itself (see ManagedMpd) is tried first.
 *
 * One connection serves one command line: it is opened by the line's first operation and closed
 * by endCommandLine(); an operation outside a line opens and closes its own. Connecting and every
 * reply wait at most two seconds. Once MPD could not be reached, broke the connection or did not
 * answer in time, every further operation of the line answers -1 at once. An error reply from a
 * running MPD (for example a volume change without a mixer) answers 0.
 */
class MpdBackend : public Player
{
public:
    explicit MpdBackend(ManagedMpdSetup managed = {}) : m_managed(std::move(managed)) {}
    ~MpdBackend() override;
    MpdBackend(const MpdBackend&) = delete;
    MpdBackend& operator=(const MpdBackend&) = delete;

    /** 40045 play, 40046 pause or resume, 40047 stop, 40048 next, 40044 previous, 40023 random,
     * 40022 repeat, 40058/40059 volume +1/-1, 40001 ends MPD; any other id does nothing. */
    std::int32_t WinampCommand(std::int32_t id) override;
    /** 0 version (see encodeMpdVersion), 104 play state (1 play, 3 pause, 0 stop), 250 random,
     * 251 repeat, 101 clears the queue and answers 0; any other id answers 0. */
    std::int32_t WinampQuery(std::int32_t data, std::int16_t id) override;
    /** Appends the file, or every audio file below the folder in name order, to the queue. */
    std::int32_t WinampPlayFile(const std::string& path) override;
    /** Starts Zelvor's own MPD where that is the one to start (see ManagedMpd::open), else the
     * program detached (see launchProgram); -1 when it cannot be started. */
    std::int32_t LaunchWinamp(const std::string& path) override;
    /** The same, with Zelvor's own MPD waited for on the event loop (see ManagedMpd::openThen). */
    void launchWinampThen(const std::string& path, std::function<void(std::int32_t)> done) override;

    /** "status" and "currentsong" in one command list. */
    std::optional<PlayerStatus> status() override;
    /** "status" and "playlistinfo" of the range in one command list. */
    std::optional<QueuePage> queue(std::uint32_t first, std::uint32_t count) override;
    /** "play POS", "status" and "currentsong" in one command list. */
    std::optional<PlayerStatus> jumpTo(std::uint32_t position) override;
    /** "setvol" and the status in one command list; MPD without a mixer refuses it. */
    std::optional<PlayerStatus> setVolume(int percent) override;
    /**
     * "seekcur" and the status in one command list: playing or paused, the song stays in that
     * state and MPD's outputs stay open. Nothing when MPD refuses the seek (stopped, or a song
     * it cannot seek in), which leaves everything as it was.
     */
    std::optional<PlayerStatus> seekTo(std::uint32_t milliseconds) override;

    void beginCommandLine() override;
    void endCommandLine() override;

    static constexpr unsigned kTimeoutMs = 2000;

private:
    struct Snapshot
    {
        int state = 0;
        bool random = false;
        bool repeat = false;
    };

    template <typename Work> std::int32_t operate(Work&& work);
    template <typename Work> bool answered(Work&& work);
    template <typename Send>
    std::optional<PlayerStatus> statusAfter(Send&& send, bool* refused = nullptr);
    std::optional<PlayerStatus> receiveStatus();
    void receiveEntries(std::vector<QueueEntry>& entries, std::uint32_t count);
    mpd_connection* connection();
    bool usable();
    std::optional<Snapshot> snapshot();
    bool runCommand(std::int32_t id);
    bool pauseOrResume();
    bool toggle(bool random);
    bool closePlayer();
    std::int32_t query(std::int16_t id);
    void disconnect();

    ManagedMpd m_managed;
    mpd_connection* m_connection = nullptr;
    std::optional<Snapshot> m_snapshot;
    bool m_inLine = false;
    bool m_lineFailed = false;
};

} // namespace zelvor
