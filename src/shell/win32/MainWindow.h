// SPDX-License-Identifier: MIT
#pragma once

#include <windows.h>

#include <functional>
#include <string>

namespace zelvor {

/** What the Windows settings window asks of the rest of the program. */
struct WindowHooks
{
    /** "&Restart": ends any client session and listens again. */
    std::function<void()> restart;
    /** The orderly shutdown: save the settings, close the socket. Runs at most once. */
    std::function<void()> unload;
};

/**
 * The Windows main window `frm_server`, titled "Tollomere". Closing it, "&Shutdown" and the end
 * of the Windows session all run the same orderly unload; the program ends when it is gone.
 */
class MainWindow
{
public:
    static constexpr const wchar_t* kClassName = L"ZelvorSettingsWindow";

    explicit MainWindow(WindowHooks hooks);
    ~MainWindow();
    MainWindow(const MainWindow&) = delete;
    MainWindow& operator=(const MainWindow&) = delete;

    HWND handle() const { return m_window; }
    /** Shows a status word (or a note) in the status label. */
    void setStatus(const std::string& text);
    /** Shows the window in the minimized state, as the program starts. */
    void start();
    /** Runs the message loop until the window is gone; returns the exit code. */
    int run();

private:
    static LRESULT CALLBACK procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT onMessage(UINT message, WPARAM wParam, LPARAM lParam);
    void unload();

    WindowHooks m_hooks;
    HWND m_window = nullptr;
    HWND m_status = nullptr;
};

} // namespace zelvor
