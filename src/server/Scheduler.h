// SPDX-License-Identifier: MIT
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>

namespace zelvor {

/** One-shot timers on the program's event loop. */
class Scheduler
{
public:
    using TimerId = std::uint64_t;

    virtual ~Scheduler() = default;
    /** Runs the callback once after the delay unless cancelled first. Ids are never 0. */
    virtual TimerId after(std::chrono::milliseconds delay, std::function<void()> callback) = 0;
    /** Cancels a timer that has not run yet; unknown ids and 0 are ignored. */
    virtual void cancel(TimerId id) = 0;
    /** The time until the timer runs; nothing when it ran, was cancelled or is unknown. */
    virtual std::optional<std::chrono::milliseconds> remaining(TimerId id) const = 0;
};

} // namespace zelvor
