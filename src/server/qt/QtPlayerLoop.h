// SPDX-License-Identifier: MIT
#pragma once

#include "player/PlayerLoop.h"
#include "server/qt/QtScheduler.h"

#include <QObject>
#include <QSocketNotifier>

#include <map>
#include <memory>

namespace zelvor {

/** The player backends' descriptors and timers on Qt's event loop (QSocketNotifier, QTimer). */
class QtPlayerLoop : public QObject, public PlayerLoop
{
    Q_OBJECT
public:
    explicit QtPlayerLoop(QObject* parent = nullptr) : QObject(parent) {}

    Id watch(int fd, bool read, bool write, std::function<void()> ready) override;
    void rewatch(Id id, bool read, bool write) override;
    void unwatch(Id id) override;
    Id after(std::chrono::milliseconds delay, std::function<void()> callback) override;
    void cancel(Id id) override;

private:
    struct Watch
    {
        std::unique_ptr<QSocketNotifier> read;
        std::unique_ptr<QSocketNotifier> write;
        std::shared_ptr<std::function<void()>> ready;
    };

    Id m_next = 1;
    std::map<Id, Watch> m_watches;
    QtScheduler m_timers;
};

} // namespace zelvor
