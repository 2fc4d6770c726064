// SPDX-License-Identifier: MIT
#include "shell/win32/MainWindow.h"

namespace zelvor {
namespace {

void registerClassOnce(WNDPROC procedure)
{
    static const bool registered = [procedure] {
        WNDCLASSEXW windowClass = {};
        windowClass.cbSize = sizeof windowClass;
        windowClass.lpfnWndProc = procedure;
        windowClass.hInstance = GetModuleHandleW(nullptr);
        windowClass.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
        windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
        windowClass.lpszClassName = MainWindow::kClassName;
        return RegisterClassExW(&windowClass) != 0;
    }();
    (void)registered;
}

} // namespace

MainWindow::MainWindow(WindowHooks hooks) : m_hooks(std::move(hooks))
{
    registerClassOnce(&procedure);
    const DWORD style = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;
    m_window = CreateWindowExW(0, kClassName, L"Tollomere", style, CW_USEDEFAULT, CW_USEDEFAULT,
                               460, 320, nullptr, nullptr, GetModuleHandleW(nullptr), this);
    m_status = CreateWindowExW(0, L"STATIC", L"running", WS_CHILD | WS_VISIBLE | SS_CENTER, 10, 10,
                               100, 20, m_window, nullptr, GetModuleHandleW(nullptr), nullptr);
    SetWindowTextW(m_status, L"running");
}

MainWindow::~MainWindow()
{
    if (m_window) {
        SetWindowLongPtrW(m_window, GWLP_USERDATA, 0);
        DestroyWindow(m_window);
    }
}

void MainWindow::setStatus(const std::string& text)
{
    SetWindowTextA(m_status, text.c_str());
}

void MainWindow::start()
{
    ShowWindow(m_window, SW_SHOWMINNOACTIVE);
}

int MainWindow::run()
{
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        if (m_window && IsDialogMessageW(m_window, &message))
            continue;
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    return static_cast<int>(message.wParam);
}

void MainWindow::unload()
{
    if (m_hooks.unload)
        m_hooks.unload();
}

LRESULT CALLBACK MainWindow::procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_NCCREATE) {
        const auto* create = reinterpret_cast<const CREATESTRUCTW*>(lParam);
        SetWindowLongPtrW(window, GWLP_USERDATA,
                          reinterpret_cast<LONG_PTR>(create->lpCreateParams));
    }
    auto* self = reinterpret_cast<MainWindow*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    if (!self)
        return DefWindowProcW(window, message, wParam, lParam);
    if (!self->m_window)
        self->m_window = window;
    return self->onMessage(message, wParam, lParam);
}

LRESULT MainWindow::onMessage(UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_CLOSE:
        unload();
        DestroyWindow(m_window);
        return 0;
    case WM_DESTROY:
        m_window = nullptr;
        PostQuitMessage(0);
        return 0;
    case WM_QUERYENDSESSION:
        return TRUE;
    case WM_ENDSESSION:
        // Windows may end the process as soon as this returns: save now.
        if (wParam)
            unload();
        return 0;
    default:
        return DefWindowProcW(m_window, message, wParam, lParam);
    }
}

} // namespace zelvor
