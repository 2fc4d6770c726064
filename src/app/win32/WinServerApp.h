// SPDX-License-Identifier: MIT
#pragma once

#include "app/ProgramParts.h"
#include "player/win32/Win32Backend.h"
#include "server/win32/Win32Scheduler.h"
#include "server/win32/WinsockListener.h"

#include <functional>
#include <string>

namespace zelvor {

/** Where zelvor.ini and the default log live, and whether that is the fallback folder. */
struct SettingsFolder
{
    std::string path;
    /** True when the program's folder could not be written and %APPDATA%\Zelvor is used. */
    bool fallback = false;
};

/**
 * The program's folder when a file can be created there; otherwise %APPDATA%\Zelvor (a
 * zelvor.exe under Program Files), created when missing.
 */
SettingsFolder chooseSettingsFolder(const std::string& programFolder);

/** The folder of the running program, without a closing "\". */
std::string programFolder();

/** The local date and time in the user's short date and time formats. */
std::string localDateTime();

/**
 * Everything the Windows program owns for its whole run: the settings, the Winsock adapter,
 * the session server, the log, the window-message player and the music folders, with the start
 * and shutdown steps.
 */
class WinServerApp
{
public:
    explicit WinServerApp(SettingsFolder folder);

    /** Start: the shared steps of ProgramLifecycle::start. */
    void Form_Load();
    /** Shutdown: the shared steps of ProgramLifecycle::shutdown; runs once. */
    void Form_Unload();

    ServerSettings& settings() { return m_parts.settings; }
    TelnetServer& server() { return m_parts.server; }
    WinsockListener& listener() { return m_listener; }
    const SettingsFolder& folder() const { return m_folder; }
    const std::string& settingsFile() const { return m_parts.lifecycle.settingsFile(); }

    /** Called with every status word. */
    std::function<void(const std::string&)> onStatus;

private:
    SettingsFolder m_folder;
    WinsockListener m_listener;
    Win32Backend m_player;
    Win32Scheduler m_scheduler;
    ProgramParts m_parts;
};

} // namespace zelvor
