// SPDX-License-Identifier: MIT
#include "settings/ServerSettings.h"

#ifdef _WIN32
#include <shlobj.h>
#include <windows.h>
#endif

namespace zelvor {

#ifdef _WIN32

namespace {

// Nothing when the text has a character the ANSI code page cannot hold.
std::string inAnsiCodePage(const std::wstring& text)
{
    const int size = static_cast<int>(text.size());
    BOOL lossy = FALSE;
    const int length = WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, text.data(), size, nullptr,
                                           0, nullptr, &lossy);
    if (length <= 0 || lossy)
        return {};
    std::string bytes(static_cast<std::size_t>(length), '\0');
    WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, text.data(), size, bytes.data(), length,
                        nullptr, nullptr);
    return bytes;
}

} // namespace

std::string knownMusicFolder()
{
    PWSTR path = nullptr;
    std::wstring folder;
    // The folder as Windows names it, whether or not it exists yet.
    if (SHGetKnownFolderPath(FOLDERID_Music, KF_FLAG_DONT_VERIFY, nullptr, &path) == S_OK)
        folder = path;
    CoTaskMemFree(path);
    if (folder.empty())
        return {};
    if (auto text = inAnsiCodePage(folder); !text.empty())
        return text;
    // Every name below the server root travels in the ANSI code page; a user name beyond it
    // (Cyrillic on a Western system) still has a short name that fits.
    const DWORD length = GetShortPathNameW(folder.c_str(), nullptr, 0);
    if (length == 0)
        return {};
    std::wstring shortName(length, L'\0');
    shortName.resize(GetShortPathNameW(folder.c_str(), shortName.data(), length));
    return inAnsiCodePage(shortName);
}

#endif

ServerSettings defaultSettings(const std::string& settingsFolder, const std::string& musicFolder)
{
    ServerSettings settings;
#ifdef _WIN32
    settings.ServerRoot = musicFolder.empty() ? "C:\\My Documents\\My Music" : musicFolder;
    settings.WinampLocation = "C:\\Program Files\\Winamp\\winamp.exe";
    settings.LogFile = settingsFolder + "\\zelvor.log";
#else
    settings.ServerRoot = musicFolder;
    settings.WinampLocation = "mpd";
    settings.LogFile = settingsFolder + "/zelvor.log";
#endif
    return settings;
}

} // namespace zelvor
