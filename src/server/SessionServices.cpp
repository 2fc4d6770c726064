// SPDX-License-Identifier: MIT
#include "server/SessionServices.h"

#include "player/Player.h"

#include <utility>

namespace zelvor {

SessionServices::SessionServices(Player& player, Scheduler& scheduler,
                                 std::function<void(std::string_view)> report)
    : m_player(player), m_scheduler(scheduler), m_report(std::move(report))
{}

SessionServices::~SessionServices()
{
    cancelSleepTimer();
}

std::optional<std::chrono::milliseconds> SessionServices::sleepTimeLeft() const
{
    if (m_sleepTimer == 0)
        return std::nullopt;
    return m_scheduler.remaining(m_sleepTimer);
}

void SessionServices::startSleepTimer(std::chrono::minutes duration)
{
    cancelSleepTimer();
    m_sleepTimer = m_scheduler.after(duration, [this] {
        m_sleepTimer = 0;
        m_player.stopForSleep([](const PlayerAnswer&) {});
        m_report("sleep");
    });
}

void SessionServices::cancelSleepTimer()
{
    m_scheduler.cancel(m_sleepTimer);
    m_sleepTimer = 0;
}

} // namespace zelvor
