// SPDX-License-Identifier: MIT
#include "shell/win32/TrayIcon.h"

#include <shellapi.h>

namespace zelvor {

TrayIcon::TrayIcon(HWND window, HICON icon)
    : m_taskbarCreated(RegisterWindowMessageW(L"TaskbarCreated"))
{
    m_data.cbSize = sizeof m_data;
    m_data.hWnd = window;
    m_data.uID = 1;
    m_data.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
    m_data.uCallbackMessage = kCallbackMessage;
    m_data.hIcon = icon;
    lstrcpynW(m_data.szTip, L"Zelvor", sizeof m_data.szTip / sizeof m_data.szTip[0]);
}

TrayIcon::~TrayIcon()
{
    RemoveTrayIcon();
}

bool TrayIcon::AddTrayIcon()
{
    // After Explorer restarted the old icon is gone: adding it again is what brings it back.
    m_shown = Shell_NotifyIconW(NIM_ADD, &m_data) != FALSE;
    return m_shown;
}

void TrayIcon::RemoveTrayIcon()
{
    if (m_shown)
        Shell_NotifyIconW(NIM_DELETE, &m_data);
    m_shown = false;
}

} // namespace zelvor
