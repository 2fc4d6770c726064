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

    void play(PlayerDone done) override;
    void stop(PlayerDone done) override;
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
    void status(PlayerDone done) override;
    void queue(std::uint32_t first, std::uint32_t count, PlayerDone done) override;
    void jumpTo(std::uint32_t position, PlayerDone done) override;
    void setVolume(int percent, PlayerDone done) override;
    void seekTo(std::uint32_t milliseconds, PlayerDone done) override;
    void seekBy(std::int64_t offset, std::uint32_t to, PlayerDone done) override;
    void stopForSleep(PlayerDone done) override;
    void beginCommandLine() override;
    void endCommandLine() override;
    /** The changes of the backend chosen at the moment of the call. */
    std::unique_ptr<PlayerWatch> watchChanges(std::function<void()> changed) override;

private:
    Player& chosen();

    Player& m_mpd;
    Player& m_mpris;
    std::function<std::string()> m_location;
    ProgramFinder m_startable;
    Player* m_line = nullptr;
};

} // namespace zelvor
