// SPDX-License-Identifier: MIT
#include "server/QtScheduler.h"

#include <QTimer>

namespace zelvor {

Scheduler::TimerId QtScheduler::after(std::chrono::milliseconds delay,
                                      std::function<void()> callback)
{
    const TimerId id = m_next++;
    auto* timer = new QTimer(this);
    timer->setSingleShot(true);
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

} // namespace zelvor
