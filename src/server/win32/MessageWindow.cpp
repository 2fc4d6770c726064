// SPDX-License-Identifier: MIT
#include "server/win32/MessageWindow.h"

namespace zelvor {
namespace {

constexpr const wchar_t* kClassName = L"ZelvorMessageWindow";

void registerClassOnce()
{
    static const bool registered = [] {
        WNDCLASSEXW windowClass = {};
        windowClass.cbSize = sizeof windowClass;
        windowClass.lpfnWndProc = DefWindowProcW;
        windowClass.hInstance = GetModuleHandleW(nullptr);
        windowClass.lpszClassName = kClassName;
        return RegisterClassExW(&windowClass) != 0;
    }();
    (void)registered;
}

} // namespace

MessageWindow::MessageWindow(Handler handler) : m_handler(std::move(handler))
{
    registerClassOnce();
    m_window = CreateWindowExW(0, kClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                               GetModuleHandleW(nullptr), nullptr);
    SetWindowLongPtrW(m_window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    SetWindowLongPtrW(m_window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&procedure));
}

MessageWindow::~MessageWindow()
{
    if (m_window) {
        SetWindowLongPtrW(m_window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(DefWindowProcW));
        DestroyWindow(m_window);
    }
}

LRESULT CALLBACK MessageWindow::procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    auto* self = reinterpret_cast<MessageWindow*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    if (self && self->m_handler)
        return self->m_handler(message, wParam, lParam);
    return DefWindowProcW(window, message, wParam, lParam);
}

} // namespace zelvor
