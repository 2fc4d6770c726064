// SPDX-License-Identifier: MIT
#pragma once

#include "player/Player.h"
#include "player/win32/WinampMessages.h"

#include <optional>
#include <string>

namespace zelvor {

/**
 * The player operations carried out on the player's window messages. The window of class
 * "Winamp v1.x" is looked up at every call. Each message waits at most two seconds for a
 * player that is not hung; an operation ends at its first message that the player did not
 * answer in time, and answers NoPlayer. Every operation answers before it returns.
 */
class Win32Backend : public Player
{
public:
    // The backend's own calls, one window message each: -1 when no window is found or it did
    // not answer in time, else the window's answer, passed through unchanged.
    /** Sends a player command (WM_COMMAND id). */
    std::int32_t WinampCommand(std::int32_t id);
    /** Sends a player query (WM_USER with wParam data, lParam id). */
    std::int32_t WinampQuery(std::int32_t data, std::int16_t id);
    /** Hands the player a file or folder (host path) to add to its playlist (WM_COPYDATA). */
    std::int32_t WinampPlayFile(const std::string& path);
    /**
     * Starts the program at the path (quotes around it are dropped) with CreateProcessA, given
     * as the program's name so that no other file is tried, inheriting no handle; -1 when it
     * fails.
     */
    std::int32_t LaunchWinamp(const std::string& path);
    /** "cannot start <path>: <the system's message>" after a failed start. */
    std::string launchFailure() const;

    void play(PlayerDone done) override;
    void stop(PlayerDone done) override;
    /** The player's own pause command, which toggles. */
    void pause(PlayerDone done) override;
    void next(PlayerDone done) override;
    void previous(PlayerDone done) override;
    void stepVolume(int steps, PlayerDone done) override;
    void toggleShuffle(PlayerDone done) override;
    void toggleRepeat(PlayerDone done) override;
    void clear(PlayerDone done) override;
    void add(const std::string& hostPath, PlayerDone done) override;
    void open(const std::string& location, PlayerDone done) override;
    void close(PlayerDone done) override;

    /** Queries 0, 104, 250, 251, 124, 125, 105 (data 0 and 1), 122 (data -666) and 212 of the
     * current entry. */
    void status(PlayerDone done) override;
    /** The status, then query 212 for each entry; titles are read from the player's memory. */
    void queue(std::uint32_t first, std::uint32_t count, PlayerDone done) override;
    /** Query 121 with the entry, then the play command; then the status. */
    void jumpTo(std::uint32_t position, PlayerDone done) override;
    /** Query 122 with the volume scaled to 0..255; then the status. */
    void setVolume(int percent, PlayerDone done) override;
    /** Query 106 with the time; then the status. */
    void seekTo(std::uint32_t milliseconds, PlayerDone done) override;

    static constexpr unsigned kTimeoutMs = 2000;

private:
    template <typename Change> void statusAfter(Change&& change, PlayerDone& done);

    std::string m_launchFailure;
};

} // namespace zelvor
