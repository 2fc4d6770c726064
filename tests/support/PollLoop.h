// SPDX-License-Identifier: MIT
#pragma once

#include "player/Player.h"
#include "player/PlayerLoop.h"

#include <algorithm>
#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <vector>

#include <poll.h>

namespace zelvor::test {

/**
 * A small event loop on poll(2) for the player tests and benchmarks: the descriptors and timers
 * of the backends, run until a condition holds. It also records the longest time the loop was
 * held by one callback.
 */
class PollLoop : public PlayerLoop
{
public:
    using Clock = std::chrono::steady_clock;

    Id watch(int fd, bool read, bool write, std::function<void()> ready) override
    {
        const Id id = m_next++;
        m_watches[id] = {fd, read, write,
                         std::make_shared<std::function<void()>>(std::move(ready))};
        return id;
    }
    void rewatch(Id id, bool read, bool write) override
    {
        if (const auto found = m_watches.find(id); found != m_watches.end()) {
            found->second.read = read;
            found->second.write = write;
        }
    }
    void unwatch(Id id) override { m_watches.erase(id); }
    Id after(std::chrono::milliseconds delay, std::function<void()> callback) override
    {
        const Id id = m_next++;
        m_timers[id] = {Clock::now() + delay,
                        std::make_shared<std::function<void()>>(std::move(callback))};
        return id;
    }
    void cancel(Id id) override { m_timers.erase(id); }

    /** Runs the loop until the condition holds or the limit passed; true when it holds. */
    bool runUntil(const std::function<bool()>& condition,
                  std::chrono::milliseconds limit = std::chrono::seconds(20))
    {
        const auto deadline = Clock::now() + limit;
        while (!condition()) {
            if (Clock::now() >= deadline)
                return false;
            runOnce(deadline);
        }
        return true;
    }

    /** Runs one operation to its answer; Failed when none came within the limit. */
    PlayerAnswer answer(const std::function<void(PlayerDone)>& start,
                        std::chrono::milliseconds limit = std::chrono::seconds(20))
    {
        std::optional<PlayerAnswer> got;
        start([&got](PlayerAnswer given) { got = std::move(given); });
        runUntil([&got] { return got.has_value(); }, limit);
        return got.value_or(PlayerAnswer::of(Outcome::Failed));
    }

    /** How many descriptors are watched. */
    std::size_t watched() const { return m_watches.size(); }
    /** The longest one callback held the loop. */
    Clock::duration longest{};

private:
    struct Watch
    {
        int fd = -1;
        bool read = false;
        bool write = false;
        std::shared_ptr<std::function<void()>> ready;
    };
    struct Timer
    {
        Clock::time_point at;
        std::shared_ptr<std::function<void()>> callback;
    };

    void timed(const std::function<void()>& call)
    {
        const auto start = Clock::now();
        call();
        longest = std::max(longest, Clock::now() - start);
    }

    void runOnce(Clock::time_point deadline)
    {
        auto wake = deadline;
        for (const auto& [id, timer] : m_timers)
            wake = std::min(wake, timer.at);
        std::vector<pollfd> fds;
        std::vector<Id> ids;
        for (const auto& [id, watch] : m_watches) {
            if (!watch.read && !watch.write)
                continue;
            const short events =
                static_cast<short>((watch.read ? POLLIN : 0) | (watch.write ? POLLOUT : 0));
            fds.push_back({watch.fd, events, 0});
            ids.push_back(id);
        }
        const auto wait = std::chrono::ceil<std::chrono::milliseconds>(wake - Clock::now());
        ::poll(fds.data(), fds.size(), static_cast<int>(std::max<long long>(wait.count(), 0)));
        for (std::size_t i = 0; i < fds.size(); ++i) {
            if (fds[i].revents == 0)
                continue;
            const auto found = m_watches.find(ids[i]);
            if (found == m_watches.end())
                continue;
            const auto ready = found->second.ready;
            timed(*ready);
        }
        const auto now = Clock::now();
        std::vector<Id> due;
        for (const auto& [id, timer] : m_timers)
            if (timer.at <= now)
                due.push_back(id);
        for (const Id id : due) {
            const auto found = m_timers.find(id);
            if (found == m_timers.end())
                continue;
            const auto callback = found->second.callback;
            m_timers.erase(found);
            timed(*callback);
        }
    }

    Id m_next = 1;
    std::map<Id, Watch> m_watches;
    std::map<Id, Timer> m_timers;
};

} // namespace zelvor::test
