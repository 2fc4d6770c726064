// SPDX-License-Identifier: MIT
#pragma once

// Winsock 2 has to come before windows.h, which would bring in the old Winsock.
#include <winsock2.h>
#include <windows.h>

#include <functional>

namespace zelvor {

/**
 * A hidden message-only window whose messages go to one handler: the Windows adapters receive
 * their socket notifications and timers through it, on the thread that created it.
 */
class MessageWindow
{
public:
    using Handler = std::function<LRESULT(UINT message, WPARAM wParam, LPARAM lParam)>;

    explicit MessageWindow(Handler handler);
    ~MessageWindow();
    MessageWindow(const MessageWindow&) = delete;
    MessageWindow& operator=(const MessageWindow&) = delete;

    HWND handle() const { return m_window; }

private:
    static LRESULT CALLBACK procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

    Handler m_handler;
    HWND m_window = nullptr;
};

} // namespace zelvor
