// SPDX-License-Identifier: MIT
#pragma once

// Small pieces every window of the Windows shell needs.

#include <windows.h>

namespace zelvor::win32 {

/** Registers a window class of this program; later calls for the same name do nothing. */
inline void registerWindowClass(const wchar_t* name, WNDPROC procedure, HBRUSH background,
                                HICON icon = nullptr)
{
    WNDCLASSEXW windowClass = {};
    windowClass.cbSize = sizeof windowClass;
    windowClass.lpfnWndProc = procedure;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.hIcon = icon;
    windowClass.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
    windowClass.hbrBackground = background;
    windowClass.lpszClassName = name;
    RegisterClassExW(&windowClass);
}

/** The dialog font at the given size in points, for the monitor's dots per inch. */
inline HFONT dialogFont(int dpi, int points = 8, int weight = FW_NORMAL)
{
    return CreateFontW(-MulDiv(points, dpi, 72), 0, 0, 0, weight, FALSE, FALSE, FALSE,
                       DEFAULT_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                       DEFAULT_PITCH, L"MS Shell Dlg 2");
}

/**
 * The object behind a window whose creation parameter is that object: stored at
 * WM_NCCREATE, read back for every later message.
 */
template <typename Owner> Owner* ownerOf(HWND window, UINT message, LPARAM lParam)
{
    if (message == WM_NCCREATE) {
        auto* created =
            static_cast<Owner*>(reinterpret_cast<const CREATESTRUCTW*>(lParam)->lpCreateParams);
        SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(created));
    }
    return reinterpret_cast<Owner*>(GetWindowLongPtrW(window, GWLP_USERDATA));
}

} // namespace zelvor::win32
