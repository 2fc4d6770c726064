// SPDX-License-Identifier: MIT
#pragma once

#include "server/MessageWindow.h"
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

private:
    LRESULT onMessage(UINT message, WPARAM wParam, LPARAM lParam);

    TimerId m_next = 1;
    std::map<TimerId, std::function<void()>> m_callbacks;
    MessageWindow m_window;
};

} // namespace zelvor
