// SPDX-License-Identifier: MIT
#include "server/qt/QtScheduler.h"

#include <QTimer>

#include <algorithm>

namespace zelvor {

Scheduler::TimerId QtScheduler::after(std::chrono::milliseconds delay,
                                      std::function<void()> callback)
{
    const TimerId id = m_next++;
    auto* timer = new QTimer(this);
    timer->setSingleShot(true);
    // A coarse timer may run 5% early or late: a minute and a half on a 30-minute sleep timer.
    timer->setTimerType(Qt::PreciseTimer);
    connect(timer, &QTimer::timeout, this, [this, id, callback = std::move(callback)] {
        cancel(id);
        callback();
    });
    m_timers.emplace(id, timer);
    timer->start(delay);
    return id;
}

void QtScheduler::cancel(TimerId id)
{
    const auto it = m_timers.find(id);
    if (it == m_timers.end())
        return;
    it->second->stop();
    it->second->deleteLater();
    m_timers.erase(it);
}

std::optional<std::chrono::milliseconds> QtScheduler::remaining(TimerId id) const
{
    const auto it = m_timers.find(id);
    if (it == m_timers.end())
        return std::nullopt;
    return std::max(it->second->remainingTimeAsDuration(), std::chrono::milliseconds{0});
}

} // namespace zelvor
