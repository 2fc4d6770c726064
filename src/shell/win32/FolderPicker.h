// SPDX-License-Identifier: MIT
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace zelvor {

/**
 * The folder picker `frm_findfile`: a drive list, the current folder's ancestors and
 * subfolders, "&OK" and "&Cancel". Created on first use and then only hidden, so it opens
 * again where the user left it. Response() is the chosen folder, or "-1" after Cancel or
 * closing it through its frame.
 */
class FolderPicker
{
public:
    static constexpr const wchar_t* kClassName = L"ZelvorFolderPicker";

    FolderPicker(HWND owner, int dpi);
    ~FolderPicker();
    FolderPicker(const FolderPicker&) = delete;
    FolderPicker& operator=(const FolderPicker&) = delete;

    /** Shows the picker modally, owned by the settings window; returns once it is hidden. */
    void showModal();
    const std::string& Response() const { return m_response; }
    HWND handle() const { return m_window; }

private:
    static LRESULT CALLBACK procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT onMessage(UINT message, WPARAM wParam, LPARAM lParam);
    HWND addControl(const char* windowClass, const char* text, DWORD style, int id, int left,
                    int top, int width, int height);
    void fillDrives();
    /** Makes the folder current and lists its ancestors and subfolders. */
    void openFolder(const std::string& folder);
    void finish(const std::string& response);

    HWND m_owner;
    int m_dpi;
    HWND m_window = nullptr;
    HWND m_drives = nullptr;
    HWND m_folders = nullptr;
    HFONT m_font = nullptr;
    HFONT m_bold = nullptr;
    std::string m_current;
    std::vector<std::string> m_entries;
    std::string m_response;
    bool m_open = false;
};

} // namespace zelvor
