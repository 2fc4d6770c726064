// SPDX-License-Identifier: MIT
#include "shell/win32/MainWindow.h"

#include "settings/ServerSettings.h"
#include "shell/NumericKeyFilter.h"
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

/**
 * The largest dialog font, from 8 points down to 6, in which every label's caption ends before
 * the field it names: the controls have fixed places, so the text has to fit them.
 */
HFONT fittingFont(int dpi)
{
    HDC dc = GetDC(nullptr);
    HFONT font = nullptr;
    for (int points = 8; points >= 6; --points) {
        if (font)
            DeleteObject(font);
        font = win32::dialogFont(dpi, points);
        HGDIOBJ previous = SelectObject(dc, font);
        bool fits = true;
        for (const layout::Control& label : layout::kControls) {
            if (label.kind != layout::Kind::Label || label.buddy.empty())
                continue;
            std::string caption(label.caption);
            std::erase(caption, '&');
            SIZE extent{};
            GetTextExtentPoint32A(dc, caption.c_str(), static_cast<int>(caption.size()), &extent);
            const int room = layout::control(label.buddy).place.left - label.place.left;
            fits = fits && extent.cx < layout::twipsToPixels(room, dpi);
        }
        SelectObject(dc, previous);
        if (fits)
            break;
    }
    ReleaseDC(nullptr, dc);
    return font;
}

bool isOption(std::string_view name, std::string_view group)
{
    return name.substr(0, group.size()) == group && name.size() == group.size() + 3;
}

int optionIndex(std::string_view name)
{
    return name[name.size() - 2] - '0';
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
    : m_settings(settings), m_hooks(std::move(hooks)), m_dpi(screenDpi())
{
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
        if (optionIndex(control.name) == 0)
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
        if (control.name == "Txt_Uname" || control.name == "Txt_Passwd")
            SendMessageW(handle, EM_LIMITTEXT, layout::kCredentialLimit, 0);
    }
}

void MainWindow::loadControls()
{
    m_loading = true;
    setText("Txt_Port", m_settings.Port);
    setText("Txt_Serverroot", m_settings.ServerRoot);
    setText("Txt_Winamp_Location", m_settings.WinampLocation);
    const int level = static_cast<int>(m_settings.LogLevel);
    for (int i = 0; i < 3; ++i) {
        SendMessageW(item("Opt_Logging(" + std::to_string(i) + ")"), BM_SETCHECK,
                     i == level ? BST_CHECKED : BST_UNCHECKED, 0);
    }
    SendMessageW(item("Opt_Login(0)"), BM_SETCHECK,
                 m_settings.LoginRequired ? BST_UNCHECKED : BST_CHECKED, 0);
    SendMessageW(item("Opt_Login(1)"), BM_SETCHECK,
                 m_settings.LoginRequired ? BST_CHECKED : BST_UNCHECKED, 0);
    setText("Txt_Logfile", m_settings.LogFile);
    setText("Txt_Uname", m_settings.UserName);
    setText("Txt_Passwd", m_settings.Password);
    m_loading = false;
    // Loading is no change of the user's.
    showRestartWarning(false);
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

void MainWindow::setText(std::string_view name, const std::string& text)
{
    SetWindowTextA(item(name), text.c_str());
}

void MainWindow::showRestartWarning(bool shown)
{
    ShowWindow(item("lbl_restartwarning"), shown ? SW_SHOW : SW_HIDE);
}

void MainWindow::unload()
{
    if (m_unloaded)
        return;
    m_unloaded = true;
    if (m_hooks.unload)
        m_hooks.unload();
    AboutBox::close();
    m_tray->RemoveTrayIcon();
}

void MainWindow::MinimizeToTray()
{
    // Without a notification area the window stays reachable, minimized on the taskbar.
    if (m_tray->AddTrayIcon())
        ShowWindow(m_window, SW_HIDE);
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

void MainWindow::mnu_Popup_Restore_Click()
{
    ShowWindow(m_window, SW_RESTORE);
    SetForegroundWindow(m_window);
    m_tray->RemoveTrayIcon();
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
            mnu_Popup_Restore_Click();
            return 0;
        }
        if (lParam == 0 && LOWORD(wParam) == kMenuShutdown) {
            SendMessageW(m_window, WM_CLOSE, 0, 0);
            return 0;
        }
        const std::size_t index = static_cast<std::size_t>(LOWORD(wParam)) - 1000;
        if (lParam != 0 && index < layout::kControls.size())
            onCommand(layout::kControls[index].name, HIWORD(wParam));
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
        if (wParam == SIZE_MINIMIZED)
            MinimizeToTray();
        return 0;
    case TrayIcon::kCallbackMessage:
        if (lParam == WM_RBUTTONDOWN)
            SysTrayMouseEventHandler();
        return 0;
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
        // Explorer started again: the icon comes back while the window is in the tray.
        if (m_tray && m_tray->isTaskbarCreated(message) && m_tray->shown())
            m_tray->AddTrayIcon();
        return DefWindowProcW(m_window, message, wParam, lParam);
    }
}

void MainWindow::onCommand(std::string_view name, int code)
{
    if (code == EN_CHANGE) {
        onEdited(name);
        return;
    }
    if (code != BN_CLICKED)
        return;
    if (isOption(name, "Opt_Logging")) {
        m_settings.LogLevel = static_cast<LogLevel>(optionIndex(name));
        showRestartWarning(true);
    } else if (isOption(name, "Opt_Login")) {
        m_settings.LoginRequired = optionIndex(name) == 1;
        showRestartWarning(true);
    } else if (name == "Cmd_Start") {
        Cmd_Start_Click();
    } else if (name == "Cmd_svrroot_browse") {
        Cmd_svrroot_browse_Click();
    } else if (name == "Cmd_WinampLoc_Browse") {
        Cmd_WinampLoc_Browse_Click();
    } else if (name == "Cmd_Log_Browse") {
        Cmd_Log_Browse_Click();
    } else if (name == "cmd_About") {
        AboutBox::show(m_icon, m_dpi);
    }
}

void MainWindow::onEdited(std::string_view name)
{
    // While loading, the record already holds the value, byte for byte.
    if (m_loading)
        return;
    std::string* field = nullptr;
    bool needsRestart = true;
    if (name == "Txt_Port") {
        // Only typed characters show the warning (the key filter).
        field = &m_settings.Port;
        needsRestart = false;
    } else if (name == "Txt_Serverroot") {
        field = &m_settings.ServerRoot;
    } else if (name == "Txt_Winamp_Location") {
        field = &m_settings.WinampLocation;
    } else if (name == "Txt_Logfile") {
        field = &m_settings.LogFile;
    } else if (name == "Txt_Uname" || name == "Txt_Passwd") {
        // Read at every login: editing them needs no restart.
        field = name == "Txt_Uname" ? &m_settings.UserName : &m_settings.Password;
        needsRestart = false;
    }
    if (!field)
        return;
    *field = text(name);
    if (needsRestart)
        showRestartWarning(true);
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
    NumericKeySwitches switches;
    switches.Backspace = true;
    switch (classifyNumericKey(static_cast<char16_t>(key), switches)) {
    case KeyVerdict::Pass:
        DefSubclassProc(field, WM_CHAR, key, 0);
        break;
    case KeyVerdict::Drop:
        break;
    case KeyVerdict::Refuse:
        MessageBoxA(m_window, str(layout::kInvalidKeyText).c_str(),
                    str(layout::kInvalidKeyTitle).c_str(), MB_OK | MB_ICONINFORMATION);
        break;
    }
    showRestartWarning(true);
}

void MainWindow::Cmd_Start_Click()
{
    showRestartWarning(false);
    if (m_hooks.restart)
        m_hooks.restart();
}

void MainWindow::Cmd_svrroot_browse_Click()
{
    if (!m_picker)
        m_picker = std::make_unique<FolderPicker>(m_window, m_dpi);
    m_picker->showModal();
    if (m_picker->Response() != layout::kPickerCancelled)
        setText("Txt_Serverroot", m_picker->Response());
}

bool MainWindow::showOpen(std::string_view filter)
{
    // The filter's "|" separators become the NULs the dialog wants, ending in two.
    std::string filters(filter);
    std::replace(filters.begin(), filters.end(), '|', '\0');
    filters.push_back('\0');
    std::string name = m_fileName;
    name.resize(std::max<std::size_t>(name.size() + 1, 32 * 1024), '\0');
    OPENFILENAMEA dialog = {};
    dialog.lStructSize = sizeof dialog;
    dialog.hwndOwner = m_window;
    dialog.lpstrFilter = filters.c_str();
    dialog.lpstrFile = name.data();
    dialog.nMaxFile = static_cast<DWORD>(name.size());
    dialog.Flags = OFN_EXPLORER;
    if (!GetOpenFileNameA(&dialog))
        return false;
    m_fileName = name.c_str();
    return true;
}

void MainWindow::Cmd_WinampLoc_Browse_Click()
{
    // The file name is kept: the dialog starts at whatever either button chose last.
    if (showOpen(layout::kPlayerFilter))
        setText("Txt_Winamp_Location", m_fileName);
}

void MainWindow::Cmd_Log_Browse_Click()
{
    m_fileName.clear();
    if (showOpen(layout::kLogFilter))
        setText("Txt_Logfile", m_fileName);
}

} // namespace zelvor
