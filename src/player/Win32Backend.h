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
    /** Starts the command line with CreateProcessA, inheriting no handle; -1 when it fails. */
    std::int32_t LaunchWinamp(const std::string& path) override;

    void beginCommandLine() override;
    void endCommandLine() override;

    static constexpr unsigned kTimeoutMs = 2000;

private:
    template <typename Send> std::int32_t sendToPlayer(Send&& send);

    bool m_inLine = false;
    bool m_lineFailed = false;
};

} // namespace zelvor
