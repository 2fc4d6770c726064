// SPDX-License-Identifier: MIT
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>

namespace zelvor {

/**
 * What a player backend needs from the program's one event loop: to hear when a descriptor can
 * be read or written, and timers. Every callback runs from the loop, never from inside the call
 * that set it up. Ids are never 0; removing one that is gone does nothing, also from within
 * its own callback.
 */
class PlayerLoop
{
public:
    using Id = std::uint64_t;

    virtual ~PlayerLoop() = default;

    /** Calls ready whenever the descriptor can be read (when read is set) or written (when
     * write is set), until unwatched. */
    virtual Id watch(int fd, bool read, bool write, std::function<void()> ready) = 0;
    /** Changes what a watch waits for. */
    virtual void rewatch(Id id, bool read, bool write) = 0;
    virtual void unwatch(Id id) = 0;

    /** Runs the callback once after the delay unless cancelled first. */
    virtual Id after(std::chrono::milliseconds delay, std::function<void()> callback) = 0;
    virtual void cancel(Id id) = 0;
};

} // namespace zelvor
