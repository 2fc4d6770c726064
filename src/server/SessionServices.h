// SPDX-License-Identifier: MIT
#pragma once

#include "server/Scheduler.h"

#include <chrono>
#include <functional>
#include <optional>
#include <string_view>

namespace zelvor {

class Player;

/**
 * What the commands of every client share, whichever door it came in by: the sleep timer. It
 * belongs to the program, not a connection: neither a hang-up nor Restart ends it.
 */
class SessionServices
{
public:
    /** report shows a status word and logs it (the "sleep" when the timer runs out). */
    SessionServices(Player& player, Scheduler& scheduler,
                    std::function<void(std::string_view)> report);
    ~SessionServices();
    SessionServices(const SessionServices&) = delete;
    SessionServices& operator=(const SessionServices&) = delete;

    std::optional<std::chrono::milliseconds> sleepTimeLeft() const;
    /** When it runs out, playback stops (the "stop" command) and the status word is "sleep". */
    void startSleepTimer(std::chrono::minutes duration);
    void cancelSleepTimer();

private:
    Player& m_player;
    Scheduler& m_scheduler;
    std::function<void(std::string_view)> m_report;
    Scheduler::TimerId m_sleepTimer = 0;
};

} // namespace zelvor
