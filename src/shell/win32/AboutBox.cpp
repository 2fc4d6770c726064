// SPDX-License-Identifier: MIT
#include "shell/win32/AboutBox.h"

#include "shell/SettingsLayout.h"
#include "shell/win32/Win32Ui.h"

#include <string>

namespace zelvor {
namespace {

HWND g_box = nullptr;
HICON g_icon = nullptr;
HFONT g_font = nullptr;
HFONT g_titleFont = nullptr;
int g_dpi = 96;

int px(int twips)
{
    return layout::twipsToPixels(twips, g_dpi);
}

void drawText(HDC dc, HFONT font, std::string_view text, layout::Twips at, UINT format)
{
    SelectObject(dc, font);
    RECT place{px(at.left), px(at.top), px(at.left + at.width), px(at.top + at.height)};
    DrawTextA(dc, text.data(), static_cast<int>(text.size()), &place, format | DT_NOPREFIX);
}

void paint(HWND window)
{
    PAINTSTRUCT paint{};
    HDC dc = BeginPaint(window, &paint);
    RECT client{};
    GetClientRect(window, &client);
    FillRect(dc, &client, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
    // The four lines along the edges.
    FrameRect(dc, &client, static_cast<HBRUSH>(GetStockObject(GRAY_BRUSH)));
    DrawIconEx(dc, px(180), px(180), g_icon, px(720), px(720), 0, nullptr, DI_NORMAL);
    SetBkMode(dc, TRANSPARENT);
    drawText(dc, g_titleFont, layout::kAboutTitle, layout::kAboutTitlePlace, DT_CENTER);
    drawText(dc, g_font, layout::aboutVersionLine(), layout::kAboutVersionPlace, DT_CENTER);
    drawText(dc, g_font, layout::kAboutNotice, layout::kAboutNoticePlace, DT_WORDBREAK);
    EndPaint(window, &paint);
}

LRESULT CALLBACK procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_PAINT:
        paint(window);
        return 0;
    case WM_LBUTTONUP:
    case WM_RBUTTONUP:
    case WM_KEYDOWN:
    case WM_SYSKEYDOWN:
        DestroyWindow(window);
        return 0;
    case WM_DESTROY:
        g_box = nullptr;
        DeleteObject(g_font);
        DeleteObject(g_titleFont);
        g_font = g_titleFont = nullptr;
        return 0;
    default:
        return DefWindowProcW(window, message, wParam, lParam);
    }
}

} // namespace

void AboutBox::show(HICON icon, int dpi)
{
    if (g_box) {
        SetForegroundWindow(g_box);
        return;
    }
    win32::registerWindowClass(kClassName, &procedure, nullptr);
    g_icon = icon;
    g_dpi = dpi;
    g_font = win32::dialogFont(dpi);
    g_titleFont = win32::dialogFont(dpi, 10, FW_BOLD);
    // No title, no buttons, fixed size, centred on the screen, without owner.
    const DWORD style = WS_POPUP | WS_DLGFRAME;
    RECT frame{0, 0, px(layout::kAboutWidth), px(layout::kAboutHeight)};
    AdjustWindowRectEx(&frame, style, FALSE, 0);
    const int width = frame.right - frame.left;
    const int height = frame.bottom - frame.top;
    g_box = CreateWindowExW(0, kClassName, L"", style, (GetSystemMetrics(SM_CXSCREEN) - width) / 2,
                            (GetSystemMetrics(SM_CYSCREEN) - height) / 2, width, height, nullptr,
                            nullptr, GetModuleHandleW(nullptr), nullptr);
    ShowWindow(g_box, SW_SHOW);
    SetForegroundWindow(g_box);
}

void AboutBox::close()
{
    if (g_box)
        DestroyWindow(g_box);
}

} // namespace zelvor
