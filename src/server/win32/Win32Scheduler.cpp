// SPDX-License-Identifier: MIT
#include "server/win32/Win32Scheduler.h"

#include <algorithm>

namespace zelvor {

Win32Scheduler::Win32Scheduler()
    : m_window([this](UINT message, WPARAM wParam, LPARAM lParam) {
          return onMessage(message, wParam, lParam);
      })
{}

Scheduler::TimerId Win32Scheduler::after(std::chrono::milliseconds delay,
                                         std::function<void()> callback)
{
    const TimerId id = m_next++;
    const auto ms = static_cast<UINT>(
        std::clamp<std::int64_t>(delay.count(), USER_TIMER_MINIMUM, USER_TIMER_MAXIMUM));
    if (SetTimer(m_window.handle(), static_cast<UINT_PTR>(id), ms, nullptr) != 0)
        m_timers.emplace(id, Timer{std::chrono::steady_clock::now() + std::chrono::milliseconds(ms),
                                   std::move(callback)});
    return id;
}

void Win32Scheduler::cancel(TimerId id)
{
    if (m_timers.erase(id) != 0)
        KillTimer(m_window.handle(), static_cast<UINT_PTR>(id));
}

std::optional<std::chrono::milliseconds> Win32Scheduler::remaining(TimerId id) const
{
    const auto it = m_timers.find(id);
    if (it == m_timers.end())
        return std::nullopt;
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        it->second.due - std::chrono::steady_clock::now());
    return std::max(left, std::chrono::milliseconds{0});
}

LRESULT Win32Scheduler::onMessage(UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message != WM_TIMER)
        return DefWindowProcW(m_window.handle(), message, wParam, lParam);
    const auto it = m_timers.find(static_cast<TimerId>(wParam));
    KillTimer(m_window.handle(), wParam);
    if (it != m_timers.end()) {
        std::function<void()> callback = std::move(it->second.callback);
        m_timers.erase(it);
        callback();
    }
    return 0;
}

} // namespace zelvor
