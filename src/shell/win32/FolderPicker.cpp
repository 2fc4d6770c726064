// SPDX-License-Identifier: MIT
#include "shell/win32/FolderPicker.h"

#include "shell/SettingsLayout.h"
#include "shell/win32/Win32Ui.h"

#include <algorithm>

namespace zelvor {
namespace {

enum ControlId
{
    kDrives = 101,
    kFolders = 102,
};

/** "C:\" for a path on drive C; empty for a path without a drive. */
std::string driveOf(const std::string& path)
{
    return path.size() >= 2 && path[1] == ':' ? path.substr(0, 2) + "\\" : std::string();
}

std::vector<std::string> subfolders(const std::string& folder)
{
    std::vector<std::string> names;
    std::string pattern = folder;
    if (pattern.back() != '\\')
        pattern += '\\';
    WIN32_FIND_DATAA found{};
    HANDLE search = FindFirstFileA((pattern + "*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return names;
    do {
        const std::string name = found.cFileName;
        if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && name != "." && name != "..")
            names.push_back(name);
    } while (FindNextFileA(search, &found));
    FindClose(search);
    std::sort(names.begin(), names.end(), [](const std::string& a, const std::string& b) {
        return lstrcmpiA(a.c_str(), b.c_str()) < 0;
    });
    return names;
}

} // namespace

FolderPicker::FolderPicker(HWND owner, int dpi) : m_owner(owner), m_dpi(dpi)
{
    win32::registerWindowClass(kClassName, &procedure, reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1));
    m_font = win32::dialogFont(dpi);
    m_bold = win32::dialogFont(dpi, 8, FW_BOLD);
    const DWORD style = WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME;
    RECT frame{0, 0, layout::twipsToPixels(layout::kPickerWidth, dpi),
               layout::twipsToPixels(layout::kPickerHeight, dpi)};
    AdjustWindowRectEx(&frame, style, FALSE, WS_EX_DLGMODALFRAME);
    CreateWindowExW(WS_EX_DLGMODALFRAME, kClassName, L"", style, CW_USEDEFAULT, CW_USEDEFAULT,
                    frame.right - frame.left, frame.bottom - frame.top, owner, nullptr,
                    GetModuleHandleW(nullptr), this);
    SetWindowTextA(m_window, std::string(layout::kPickerTitle).c_str());
    HWND title = addControl("STATIC", "Select Folder", SS_LEFT, 0, 240, 120, 4455, 375);
    SendMessageW(title, WM_SETFONT, reinterpret_cast<WPARAM>(m_bold), FALSE);
    // The drop-down list's height includes its open list.
    m_drives = addControl("COMBOBOX", "", CBS_DROPDOWNLIST | WS_VSCROLL | WS_TABSTOP, kDrives, 120,
                          480, 2175, 3000);
    m_folders = addControl("LISTBOX", "", LBS_NOTIFY | WS_VSCROLL | WS_BORDER | WS_TABSTOP,
                           kFolders, 120, 960, 2175, 2565);
    addControl("BUTTON", "&OK", BS_DEFPUSHBUTTON | WS_TABSTOP, IDOK, 2460, 2700, 1215, 375);
    addControl("BUTTON", "&Cancel", BS_PUSHBUTTON | WS_TABSTOP, IDCANCEL, 2460, 3180, 1215, 375);
    fillDrives();
    char current[MAX_PATH] = {};
    GetCurrentDirectoryA(sizeof current, current);
    openFolder(current);
}

FolderPicker::~FolderPicker()
{
    if (m_window)
        DestroyWindow(m_window);
    DeleteObject(m_font);
    DeleteObject(m_bold);
}

HWND FolderPicker::addControl(const char* windowClass, const char* text, DWORD style, int id,
                              int left, int top, int width, int height)
{
    const auto px = [this](int twips) { return layout::twipsToPixels(twips, m_dpi); };
    HWND control = CreateWindowExA(0, windowClass, text, WS_CHILD | WS_VISIBLE | style, px(left),
                                   px(top), px(width), px(height), m_window,
                                   reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)),
                                   GetModuleHandleW(nullptr), nullptr);
    SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(m_font), FALSE);
    return control;
}

void FolderPicker::fillDrives()
{
    char drives[512] = {};
    const DWORD length = GetLogicalDriveStringsA(sizeof drives, drives);
    for (const char* drive = drives; drive < drives + length && *drive;
         drive += lstrlenA(drive) + 1)
        SendMessageA(m_drives, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(drive));
}

void FolderPicker::openFolder(const std::string& folder)
{
    m_current = folder;
    const std::string drive = driveOf(folder);
    const LRESULT driveIndex = SendMessageA(m_drives, CB_FINDSTRINGEXACT, static_cast<WPARAM>(-1),
                                            reinterpret_cast<LPARAM>(drive.c_str()));
    SendMessageW(m_drives, CB_SETCURSEL, static_cast<WPARAM>(driveIndex), 0);

    // The ancestors from the drive root down to the folder, then its subfolders, indented.
    m_entries.clear();
    SendMessageW(m_folders, LB_RESETCONTENT, 0, 0);
    std::string path = drive;
    std::string indent;
    const auto add = [this](const std::string& text, const std::string& full) {
        SendMessageA(m_folders, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text.c_str()));
        m_entries.push_back(full);
    };
    add(drive.empty() ? folder : drive, drive.empty() ? folder : drive);
    std::size_t start = drive.size();
    while (start < folder.size()) {
        const std::size_t end = std::min(folder.find('\\', start), folder.size());
        const std::string name = folder.substr(start, end - start);
        if (!name.empty()) {
            path += (path.empty() || path.back() == '\\' ? "" : "\\") + name;
            indent += "  ";
            add(indent + name, path);
        }
        start = end + 1;
    }
    SendMessageW(m_folders, LB_SETCURSEL, m_entries.size() - 1, 0);
    indent += "  ";
    for (const std::string& name : subfolders(folder))
        add(indent + name, (folder.back() == '\\' ? folder : folder + "\\") + name);
}

void FolderPicker::showModal()
{
    RECT owner{};
    RECT own{};
    GetWindowRect(m_owner, &owner);
    GetWindowRect(m_window, &own);
    const int width = own.right - own.left;
    const int height = own.bottom - own.top;
    SetWindowPos(m_window, nullptr, (owner.left + owner.right - width) / 2,
                 (owner.top + owner.bottom - height) / 2, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
    EnableWindow(GetDlgItem(m_window, IDOK), TRUE);
    EnableWindow(m_owner, FALSE);
    ShowWindow(m_window, SW_SHOW);
    SetFocus(m_drives);
    m_open = true;
    MSG message;
    while (m_open && GetMessageW(&message, nullptr, 0, 0) > 0) {
        if (IsDialogMessageW(m_window, &message))
            continue;
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    if (m_open)
        PostQuitMessage(static_cast<int>(message.wParam));
    EnableWindow(m_owner, TRUE);
    SetActiveWindow(m_owner);
}

void FolderPicker::finish(const std::string& response)
{
    m_response = response;
    m_open = false;
    ShowWindow(m_window, SW_HIDE);
}

LRESULT CALLBACK FolderPicker::procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    auto* self = win32::ownerOf<FolderPicker>(window, message, lParam);
    if (self && message == WM_NCCREATE)
        self->m_window = window;
    return self ? self->onMessage(message, wParam, lParam)
                : DefWindowProcW(window, message, wParam, lParam);
}

LRESULT FolderPicker::onMessage(UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_COMMAND:
        switch (LOWORD(wParam)) {
        case IDOK:
            finish(m_current);
            return 0;
        case IDCANCEL:
            finish(std::string(layout::kPickerCancelled));
            return 0;
        case kDrives:
            if (HIWORD(wParam) == CBN_SELCHANGE) {
                char drive[MAX_PATH] = {};
                const LRESULT chosen = SendMessageW(m_drives, CB_GETCURSEL, 0, 0);
                if (chosen != CB_ERR && SendMessageA(m_drives, CB_GETLBTEXTLEN,
                                                     static_cast<WPARAM>(chosen), 0) < MAX_PATH) {
                    SendMessageA(m_drives, CB_GETLBTEXT, static_cast<WPARAM>(chosen),
                                 reinterpret_cast<LPARAM>(drive));
                    openFolder(drive);
                }
            }
            return 0;
        case kFolders:
            if (HIWORD(wParam) == LBN_DBLCLK) {
                const auto chosen =
                    static_cast<std::size_t>(SendMessageW(m_folders, LB_GETCURSEL, 0, 0));
                if (chosen < m_entries.size())
                    openFolder(std::string(m_entries[chosen]));
            }
            return 0;
        default:
            return 0;
        }
    case WM_CLOSE:
        // Closing through the frame is a Cancel.
        finish(std::string(layout::kPickerCancelled));
        return 0;
    default:
        return DefWindowProcW(m_window, message, wParam, lParam);
    }
}

} // namespace zelvor
