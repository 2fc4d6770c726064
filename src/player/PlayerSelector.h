// SPDX-License-Identifier: MIT
#pragma once

#include "player/mpris/MprisNames.h"
#include "player/Player.h"

#include <functional>
#include <string>

namespace zelvor {

/**
 * The player operations handed to the backend that the player location chooses (see
 * choosePlayer): MPD or MPRIS. The choice is made afresh for each command line, so a location
 * changed in the settings takes effect with the next line; an operation outside a line chooses
 * for itself.
 */
class PlayerSelector : public Player
{
public:
    /** startable tells which reading of the location the start would run (see choosePlayer). */
    PlayerSelector(Player& mpd, Player& mpris, std::function<std::string()> location,
                   ProgramFinder startable = {})
        : m_mpd(mpd), m_mpris(mpris), m_location(std::move(location)),
          m_startable(std::move(startable))
    {}

    std::int32_t WinampCommand(std::int32_t id) override;
    std::int32_t WinampQuery(std::int32_t data, std::int16_t id) override;
    std::int32_t WinampPlayFile(const std::string& path) override;
    std::int32_t LaunchWinamp(const std::string& path) override;
    void launchWinampThen(const std::string& path, std::function<void(std::int32_t)> done) override;
    std::string launchFailure() const override;
    std::optional<PlayerStatus> status() override;
    std::optional<QueuePage> queue(std::uint32_t first, std::uint32_t count) override;
    std::optional<PlayerStatus> jumpTo(std::uint32_t position) override;
    std::optional<PlayerStatus> setVolume(int percent) override;
    std::optional<PlayerStatus> seekTo(std::uint32_t milliseconds) override;
    std::int32_t stopForSleep() override;
    void beginCommandLine() override;
    void endCommandLine() override;

private:
    Player& chosen();

    Player& m_mpd;
    Player& m_mpris;
    std::function<std::string()> m_location;
    ProgramFinder m_startable;
    Player* m_line = nullptr;
    /** The backend the last start went to: it knows why that start failed. */
    Player* m_launched = nullptr;
};

} // namespace zelvor
