// SPDX-License-Identifier: MIT
#include "shell/win32/MainWindow.h"

#include "shell/win32/AboutBox.h"
#include "shell/win32/FolderPicker.h"
#include "shell/win32/TrayIcon.h"
#include "shell/win32/Win32Ui.h"

#include <commctrl.h>
#include <commdlg.h>

#include <algorithm>

namespace zelvor {
namespace {

constexpr DWORD kWindowStyle = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;

std::string str(std::string_view text)
{
    return std::string(text);
}

int screenDpi()
{
    HDC screen = GetDC(nullptr);
    const int dpi = GetDeviceCaps(screen, LOGPIXELSY);
    ReleaseDC(nullptr, screen);
    return dpi > 0 ? dpi : 96;
}

/** The largest dialog font, from 8 points down to 6, in which the captions fit the controls. */
HFONT fittingFont(int dpi)
{
    HDC dc = GetDC(nullptr);
    HFONT font = nullptr;
    for (int points = 8; points >= 6; --points) {
        if (font)
            DeleteObject(font);
        font = win32::dialogFont(dpi, points);
        HGDIOBJ previous = SelectObject(dc, font);
        const auto width = [dc](std::string_view text) {
            SIZE extent{};
            GetTextExtentPoint32A(dc, text.data(), static_cast<int>(text.size()), &extent);
            return static_cast<int>(extent.cx);
        };
        const bool fits =
            captionsFit(width, [dpi](int twips) { return layout::twipsToPixels(twips, dpi); });
        SelectObject(dc, previous);
        if (fits)
            break;
    }
    ReleaseDC(nullptr, dc);
    return font;
}

/** The tray icon's callback message as a mouse event. */
TrayMouse trayMouse(UINT message)
{
    switch (message) {
    case WM_LBUTTONDOWN:
        return TrayMouse::LeftDown;
    case WM_LBUTTONUP:
        return TrayMouse::LeftUp;
    case WM_LBUTTONDBLCLK:
        return TrayMouse::LeftDoubleClick;
    case WM_RBUTTONDOWN:
        return TrayMouse::RightDown;
    case WM_RBUTTONUP:
        return TrayMouse::RightUp;
    case WM_RBUTTONDBLCLK:
        return TrayMouse::RightDoubleClick;
    default:
        return TrayMouse::Move;
    }
}

/** The clipboard's text in the system's code page; empty when it holds none. */
std::string clipboardText(HWND owner)
{
    std::string text;
    if (!OpenClipboard(owner))
        return text;
    if (HANDLE data = GetClipboardData(CF_TEXT)) {
        if (const auto* bytes = static_cast<const char*>(GlobalLock(data))) {
            text = bytes;
            GlobalUnlock(data);
        }
    }
    CloseClipboard();
    return text;
}

} // namespace

MainWindow::MainWindow(ServerSettings& settings, WindowHooks hooks)
    : m_form(settings, *this), m_hooks(std::move(hooks)), m_dpi(screenDpi())
{
    m_form.restart = m_hooks.restart;
    win32::registerWindowClass(kClassName, &procedure, reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1),
                               LoadIconW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(1)));
    RECT frame{0, 0, layout::twipsToPixels(layout::kClientWidth, m_dpi),
               layout::twipsToPixels(layout::kClientHeight, m_dpi)};
    AdjustWindowRectEx(&frame, kWindowStyle, FALSE, 0);
    CreateWindowExW(0, kClassName, L"", kWindowStyle, CW_USEDEFAULT, CW_USEDEFAULT,
                    frame.right - frame.left, frame.bottom - frame.top, nullptr, nullptr,
                    GetModuleHandleW(nullptr), this);
    SetWindowTextA(m_window, str(layout::kTitle).c_str());
    m_font = fittingFont(m_dpi);
    createControls();

    const auto icon = [](int size) {
        return static_cast<HICON>(LoadImageW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(1),
                                             IMAGE_ICON, size, size, LR_DEFAULTCOLOR));
    };
    m_icon = icon(layout::twipsToPixels(720, m_dpi));
    m_smallIcon = icon(GetSystemMetrics(SM_CXSMICON));
    SendMessageW(m_window, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon(32)));
    SendMessageW(m_window, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(m_smallIcon));
    m_tray = std::make_unique<TrayIcon>(m_window, m_smallIcon);
    m_popup = CreatePopupMenu();
    AppendMenuA(m_popup, MF_STRING, kMenuRestore, str(layout::kRestoreCaption).c_str());
    AppendMenuA(m_popup, MF_STRING, kMenuShutdown, str(layout::kShutdownCaption).c_str());
}

MainWindow::~MainWindow()
{
    m_picker.reset();
    m_tray.reset();
    if (m_window) {
        SetWindowLongPtrW(m_window, GWLP_USERDATA, 0);
        DestroyWindow(m_window);
    }
    DestroyMenu(m_popup);
    DeleteObject(m_font);
}

void MainWindow::createControls()
{
    // Creation order is the focus order, each named field right after its label, so that the
    // label's access key moves to it; the groups go last, below the controls they frame.
    std::array<bool, layout::kControls.size()> made{};
    const auto make = [&](std::size_t index) {
        if (index < made.size() && !made[index]) {
            made[index] = true;
            createControl(index);
        }
    };
    for (const std::string_view name : layout::kFocusOrder) {
        for (std::size_t i = 0; i < layout::kControls.size(); ++i) {
            if (layout::kControls[i].buddy == name)
                make(i);
        }
        make(layout::indexOf(name));
    }
    for (const bool groups : {false, true}) {
        for (std::size_t i = 0; i < layout::kControls.size(); ++i) {
            if ((layout::kControls[i].kind == layout::Kind::Group) == groups)
                make(i);
        }
    }
}

void MainWindow::createControl(std::size_t index)
{
    const layout::Control& control = layout::kControls[index];
    const char* windowClass = "STATIC";
    DWORD style = WS_CHILD | WS_VISIBLE;
    DWORD extended = 0;
    switch (control.kind) {
    case layout::Kind::Group:
        windowClass = "BUTTON";
        style |= BS_GROUPBOX | WS_CLIPSIBLINGS;
        break;
    case layout::Kind::Label:
        style |= SS_LEFT;
        break;
    case layout::Kind::CentredLabel:
        style |= SS_CENTER | SS_NOPREFIX;
        break;
    case layout::Kind::RightLabel:
        style |= SS_RIGHT;
        break;
    case layout::Kind::Field:
        windowClass = "EDIT";
        style |= WS_TABSTOP | WS_GROUP | ES_AUTOHSCROLL;
        extended = WS_EX_CLIENTEDGE;
        if (control.name == "Txt_Passwd")
            style |= ES_PASSWORD;
        break;
    case layout::Kind::Button:
        windowClass = "BUTTON";
        style |= WS_TABSTOP | WS_GROUP | BS_PUSHBUTTON;
        break;
    case layout::Kind::Option:
        windowClass = "BUTTON";
        style |= BS_AUTORADIOBUTTON;
        // An option group is one tab stop; its first option starts it.
        if (layout::optionIndex(control.name) == 0)
            style |= WS_TABSTOP | WS_GROUP;
        break;
    }
    if (control.name == "lbl_restartwarning")
        style &= ~WS_VISIBLE;
    const layout::Twips at = layout::placeInWindow(control);
    const auto px = [this](int twips) { return layout::twipsToPixels(twips, m_dpi); };
    HWND handle =
        CreateWindowExA(extended, windowClass, str(control.caption).c_str(), style, px(at.left),
                        px(at.top), px(at.width), px(at.height), m_window,
                        reinterpret_cast<HMENU>(static_cast<INT_PTR>(controlId(control.name))),
                        GetModuleHandleW(nullptr), nullptr);
    SendMessageW(handle, WM_SETFONT, reinterpret_cast<WPARAM>(m_font), FALSE);
    m_controls[index] = handle;
    if (control.kind == layout::Kind::Field) {
        SetWindowSubclass(handle, &fieldProcedure, index, reinterpret_cast<DWORD_PTR>(this));
        if (control.name == "Txt_Passwd")
            SendMessageW(handle, EM_SETPASSWORDCHAR, '*', 0);
        if (const std::size_t limit = SettingsForm::byteLimit(control.name); limit <= 0x7ffffffe)
            SendMessageW(handle, EM_LIMITTEXT, limit, 0);
    }
}

void MainWindow::loadControls()
{
    m_form.load();
}

void MainWindow::setFieldText(std::string_view field, const std::string& text)
{
    SetWindowTextA(item(field), text.c_str());
}

void MainWindow::checkOption(std::string_view option)
{
    const std::string_view group = layout::optionGroup(option);
    for (const layout::Control& control : layout::kControls) {
        if (control.kind == layout::Kind::Option && control.name.starts_with(group))
            SendMessageW(item(control.name), BM_SETCHECK,
                         control.name == option ? BST_CHECKED : BST_UNCHECKED, 0);
    }
}

void MainWindow::setStatus(const std::string& text)
{
    SetWindowTextA(item("Lbl_Status"), text.c_str());
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

std::string MainWindow::text(std::string_view name) const
{
    HWND field = item(name);
    std::string value(static_cast<std::size_t>(GetWindowTextLengthA(field)) + 1, '\0');
    value.resize(static_cast<std::size_t>(
        GetWindowTextA(field, value.data(), static_cast<int>(value.size()))));
    return value;
}

void MainWindow::showRestartWarning(bool shown)
{
    ShowWindow(item("lbl_restartwarning"), shown ? SW_SHOW : SW_HIDE);
}

void MainWindow::unloadWindow()
{
    if (m_hooks.unload)
        m_hooks.unload();
    AboutBox::close();
}

void MainWindow::hideWindow()
{
    ShowWindow(m_window, SW_HIDE);
}

void MainWindow::showWindowNormal()
{
    ShowWindow(m_window, SW_RESTORE);
    SetForegroundWindow(m_window);
}

void MainWindow::showWindowMinimized()
{
    // Reached from the minimize itself: the window already is on the taskbar.
    if (!IsIconic(m_window))
        ShowWindow(m_window, SW_SHOWMINNOACTIVE);
}

void MainWindow::AddTrayIcon()
{
    // Adding the icon is how a notification area is found, at the minimize: nothing is left to
    // do, and without one the icon comes only with the next minimize.
}

void MainWindow::RemoveTrayIcon()
{
    m_tray->RemoveTrayIcon();
}

void MainWindow::SysTrayMouseEventHandler()
{
    // The window comes to the foreground (staying hidden), so that the menu closes when the
    // user clicks elsewhere; the posted message lets the menu close properly afterwards.
    SetForegroundWindow(m_window);
    POINT at{};
    GetCursorPos(&at);
    TrackPopupMenu(m_popup, TPM_RIGHTBUTTON, at.x, at.y, 0, m_window, nullptr);
    PostMessageW(m_window, WM_NULL, 0, 0);
}

LRESULT CALLBACK MainWindow::procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    auto* self = win32::ownerOf<MainWindow>(window, message, lParam);
    if (self && message == WM_NCCREATE)
        self->m_window = window;
    if (!self)
        return DefWindowProcW(window, message, wParam, lParam);
    return self->onMessage(message, wParam, lParam);
}

LRESULT MainWindow::onMessage(UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_COMMAND: {
        if (lParam == 0 && LOWORD(wParam) == kMenuRestore) {
            m_machine.restore();
            return 0;
        }
        if (lParam == 0 && LOWORD(wParam) == kMenuShutdown) {
            SendMessageW(m_window, WM_CLOSE, 0, 0);
            return 0;
        }
        const std::size_t index = static_cast<std::size_t>(LOWORD(wParam)) - 1000;
        if (lParam == 0 || index >= layout::kControls.size())
            return 0;
        const std::string_view name = layout::kControls[index].name;
        if (HIWORD(wParam) == EN_CHANGE)
            m_form.Change(name, text(name));
        else if (HIWORD(wParam) == BN_CLICKED)
            m_form.Click(name);
        return 0;
    }
    case WM_CTLCOLORSTATIC:
        if (reinterpret_cast<HWND>(lParam) == item("lbl_restartwarning")) {
            HDC dc = reinterpret_cast<HDC>(wParam);
            SetTextColor(dc, RGB(layout::kWarningRed, 0, 0));
            SetBkColor(dc, GetSysColor(COLOR_BTNFACE));
            return reinterpret_cast<LRESULT>(GetSysColorBrush(COLOR_BTNFACE));
        }
        return DefWindowProcW(m_window, message, wParam, lParam);
    case WM_SIZE:
        // Without a notification area the window stays reachable, minimized on the taskbar.
        if (wParam == SIZE_MINIMIZED)
            m_machine.minimized(m_tray->shown() || m_tray->AddTrayIcon());
        else if (wParam == SIZE_RESTORED)
            m_machine.unminimized();
        return 0;
    case TrayIcon::kCallbackMessage:
        if (opensTrayMenu(trayMouse(static_cast<UINT>(lParam))))
            SysTrayMouseEventHandler();
        return 0;
    case WM_CLOSE:
        m_machine.shutdown();
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
            m_machine.shutdown();
        return 0;
    default:
        // Explorer started again: the icon comes back while the window is in the tray.
        if (m_tray && m_tray->isTaskbarCreated(message) && m_tray->shown())
            m_tray->AddTrayIcon();
        return DefWindowProcW(m_window, message, wParam, lParam);
    }
}

LRESULT CALLBACK MainWindow::fieldProcedure(HWND field, UINT message, WPARAM wParam, LPARAM lParam,
                                            UINT_PTR index, DWORD_PTR self)
{
    return reinterpret_cast<MainWindow*>(self)->onField(field, layout::kControls[index].name,
                                                        message, wParam, lParam);
}

LRESULT MainWindow::onField(HWND field, std::string_view name, UINT message, WPARAM wParam,
                            LPARAM lParam)
{
    const bool port = name == "Txt_Port";
    switch (message) {
    case WM_GETDLGCODE:
        // Enter and Escape in the port field are typed keys for its filter, not the dialog's.
        if (port && lParam) {
            const auto* key = reinterpret_cast<const MSG*>(lParam);
            if (key->message == WM_KEYDOWN &&
                (key->wParam == VK_RETURN || key->wParam == VK_ESCAPE))
                return DLGC_WANTMESSAGE;
        }
        break;
    case WM_CHAR:
        if (port) {
            Txt_Port_KeyPress(field, wParam);
            return 0;
        }
        // The settings are single lines: a line break typed with a chord goes nowhere.
        if (wParam == '\r' || wParam == '\n')
            return 0;
        break;
    case WM_PASTE:
        pasteInto(field, name);
        return 0;
    default:
        break;
    }
    return DefSubclassProc(field, message, wParam, lParam);
}

void MainWindow::pasteInto(HWND field, std::string_view name)
{
    // Pasted line breaks are dropped, and the port field takes only the digits.
    std::string pasted = clipboardText(m_window);
    const bool port = name == "Txt_Port";
    std::erase_if(pasted, [port](char c) {
        return c == '\r' || c == '\n' || (port && (c < '0' || c > '9'));
    });
    SendMessageA(field, EM_REPLACESEL, TRUE, reinterpret_cast<LPARAM>(pasted.c_str()));
}

void MainWindow::Txt_Port_KeyPress(HWND field, WPARAM key)
{
    if (m_form.Txt_Port_KeyPress(static_cast<char16_t>(key)))
        DefSubclassProc(field, WM_CHAR, key, 0);
}

void MainWindow::refuseKey()
{
    MessageBoxA(m_window, str(layout::kInvalidKeyText).c_str(),
                str(layout::kInvalidKeyTitle).c_str(), MB_OK | MB_ICONINFORMATION);
}

std::optional<std::string> MainWindow::pickFolder()
{
    if (!m_picker)
        m_picker = std::make_unique<FolderPicker>(m_window, m_dpi);
    m_picker->showModal();
    if (m_picker->Response() == layout::kPickerCancelled)
        return std::nullopt;
    return m_picker->Response();
}

std::optional<std::string> MainWindow::pickFile(std::string_view filter,
                                                const std::string& startName)
{
    // The filter's "|" separators become the NULs the dialog wants, ending in two.
    std::string filters(filter);
    std::replace(filters.begin(), filters.end(), '|', '\0');
    filters.push_back('\0');
    std::string name = startName;
    name.resize(std::max<std::size_t>(name.size() + 1, 32 * 1024), '\0');
    OPENFILENAMEA dialog = {};
    dialog.lStructSize = sizeof dialog;
    dialog.hwndOwner = m_window;
    dialog.lpstrFilter = filters.c_str();
    dialog.lpstrFile = name.data();
    dialog.nMaxFile = static_cast<DWORD>(name.size());
    dialog.Flags = OFN_EXPLORER;
    if (!GetOpenFileNameA(&dialog))
        return std::nullopt;
    return std::string(name.c_str());
}

void MainWindow::showAbout()
{
    AboutBox::show(m_icon, m_dpi);
}

} // namespace zelvor
