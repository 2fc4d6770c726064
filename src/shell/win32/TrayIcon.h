// SPDX-License-Identifier: MIT
#pragma once

#include <windows.h>

namespace zelvor {

/**
 * The settings window's icon in the notification area, with the tip "Zelvor". Mouse activity
 * on it arrives at the window as kCallbackMessage; Explorer's restart (TaskbarCreated) is
 * answered by adding the icon again while it is meant to be shown.
 */
class TrayIcon
{
public:
    static constexpr UINT kCallbackMessage = WM_APP + 10;

    TrayIcon(HWND window, HICON icon);
    ~TrayIcon();
    TrayIcon(const TrayIcon&) = delete;
    TrayIcon& operator=(const TrayIcon&) = delete;

    /** Adds the icon; false when there is no notification area to take it. */
    bool AddTrayIcon();
    void RemoveTrayIcon();
    bool shown() const { return m_shown; }
    /** True for the message Explorer broadcasts when it starts again. */
    bool isTaskbarCreated(UINT message) const { return message == m_taskbarCreated; }

private:
    NOTIFYICONDATAW m_data{};
    UINT m_taskbarCreated = 0;
    bool m_shown = false;
};

} // namespace zelvor
