// SPDX-License-Identifier: MIT
#pragma once

#include "player/Player.h"

namespace zelvor {

/**
 * The player operations carried out on the player's window messages. The window of class
 * "Winamp v1.x" is looked up at every call. Each message waits at most two seconds for a
 * player that is not hung; a player that hangs or does not answer in time answers -1, and so
 * does every further message of the same command line at once.
 */
class Win32Backend : public Player
{
public:
    std::int32_t WinampCommand(std::int32_t id) override;
    std::int32_t WinampQuery(std::int32_t data, std::int16_t id) override;
    std::int32_t WinampPlayFile(const std::string& path) override;
    /**
     * Starts the program at the path (quotes around it are dropped) with CreateProcessA, given
     * as the program's name so that no other file is tried, inheriting no handle; -1 when it
     * fails.
     */
    std::int32_t LaunchWinamp(const std::string& path) override;
    /** "cannot start <path>: <the system's message>" after a failed start. */
    std::string launchFailure() const override;

    /** Queries 104, 124, 125, 105 (data 0 and 1), 122 (data -666) and 212 of the current entry. */
    std::optional<PlayerStatus> status() override;
    /** The status, then query 212 for each entry; titles are read from the player's memory. */
    std::optional<QueuePage> queue(std::uint32_t first, std::uint32_t count) override;
    /** Query 121 with the entry, then the play command; then the status. */
    std::optional<PlayerStatus> jumpTo(std::uint32_t position) override;
    /** Query 122 with the volume scaled to 0..255; then the status. */
    std::optional<PlayerStatus> setVolume(int percent) override;
    /** Query 106 with the time; then the status. */
    std::optional<PlayerStatus> seekTo(std::uint32_t milliseconds) override;

    void beginCommandLine() override;
    void endCommandLine() override;

    static constexpr unsigned kTimeoutMs = 2000;

private:
    template <typename Send> std::int32_t sendToPlayer(Send&& send);
    template <typename Work> bool withPlayer(Work&& work);
    template <typename Change> std::optional<PlayerStatus> statusAfter(Change&& change);

    bool m_inLine = false;
    bool m_lineFailed = false;
    std::string m_launchFailure;
};

} // namespace zelvor
