// SPDX-License-Identifier: MIT
#pragma once

#include "server/Scheduler.h"

#include <QObject>

#include <map>

class QTimer;

namespace zelvor {

/** One-shot timers on Qt's event loop. */
class QtScheduler : public QObject, public Scheduler
{
    Q_OBJECT
public:
    explicit QtScheduler(QObject* parent = nullptr) : QObject(parent) {}

    TimerId after(std::chrono::milliseconds delay, std::function<void()> callback) override;
    void cancel(TimerId id) override;
    std::optional<std::chrono::milliseconds> remaining(TimerId id) const override;

private:
    TimerId m_next = 1;
    std::map<TimerId, QTimer*> m_timers;
};

} // namespace zelvor
