// SPDX-License-Identifier: MIT
#include "server/qt/QtPlayerLoop.h"

#include <QSocketNotifier>

namespace zelvor {

PlayerLoop::Id QtPlayerLoop::watch(int fd, bool read, bool write, std::function<void()> ready)
{
    const Id id = m_next++;
    Watch& watch = m_watches[id];
    watch.ready = std::make_shared<std::function<void()>>(std::move(ready));
    const auto notifier = [this, fd, &watch](QSocketNotifier::Type type) {
        auto made = std::make_unique<QSocketNotifier>(fd, type);
        // The callback is kept alive by the call itself: it may unwatch, and so destroy
        // the notifier that called it.
        std::weak_ptr<std::function<void()>> call = watch.ready;
        QObject::connect(made.get(), &QSocketNotifier::activated, this, [call] {
            if (const auto alive = call.lock())
                (*alive)();
        });
        return made;
    };
    watch.read = notifier(QSocketNotifier::Read);
    watch.write = notifier(QSocketNotifier::Write);
    watch.read->setEnabled(read);
    watch.write->setEnabled(write);
    return id;
}

void QtPlayerLoop::rewatch(Id id, bool read, bool write)
{
    const auto found = m_watches.find(id);
    if (found == m_watches.end())
        return;
    found->second.read->setEnabled(read);
    found->second.write->setEnabled(write);
}

void QtPlayerLoop::unwatch(Id id)
{
    const auto found = m_watches.find(id);
    if (found == m_watches.end())
        return;
    // A notifier that is still delivering its signal is deleted once the loop is back.
    found->second.read->setEnabled(false);
    found->second.write->setEnabled(false);
    found->second.read.release()->deleteLater();
    found->second.write.release()->deleteLater();
    m_watches.erase(found);
}

PlayerLoop::Id QtPlayerLoop::after(std::chrono::milliseconds delay, std::function<void()> callback)
{
    return m_timers.after(delay, std::move(callback));
}

void QtPlayerLoop::cancel(Id id)
{
    m_timers.cancel(id);
}

} // namespace zelvor
