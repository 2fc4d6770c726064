// SPDX-License-Identifier: MIT
#pragma once

#include "server/win32/MessageWindow.h"
#include "server/Scheduler.h"

#include <map>

namespace zelvor {

/** One-shot timers on the thread's message loop: SetTimer, WM_TIMER. */
class Win32Scheduler : public Scheduler
{
public:
    Win32Scheduler();

    TimerId after(std::chrono::milliseconds delay, std::function<void()> callback) override;
    void cancel(TimerId id) override;
    std::optional<std::chrono::milliseconds> remaining(TimerId id) const override;

private:
    struct Timer
    {
        std::chrono::steady_clock::time_point due;
        std::function<void()> callback;
    };

    LRESULT onMessage(UINT message, WPARAM wParam, LPARAM lParam);

    TimerId m_next = 1;
    std::map<TimerId, Timer> m_timers;
    MessageWindow m_window;
};

} // namespace zelvor
