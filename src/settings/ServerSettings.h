// SPDX-License-Identifier: MIT
#pragma once

#include <cstddef>
#include <string>

namespace zelvor {

/** How much activity reaches the log file; the status line shows every word regardless. */
enum class LogLevel
{
    Off = 0,
    ConnectionsOnly = 1,
    AllActivity = 2,
};

/**
 * The eight live settings, and two that only the settings file and the command line set. One
 * instance is shared by the whole program; readers take a field at the moment they need it and
 * never keep a copy.
 */
struct ServerSettings
{
    std::string Port = "23";
    std::string ServerRoot;
    std::string WinampLocation;
    zelvor::LogLevel LogLevel = zelvor::LogLevel::Off;
    bool LoginRequired = true;
    std::string LogFile;
    std::string UserName = "user";
    std::string Password;
    /** The local address to listen on; empty: every interface. */
    std::string ListenAddress;
    /** Offer character mode (WILL ECHO, WILL SUPPRESS-GO-AHEAD) to each client on accepting. */
    bool Negotiate = true;

    friend bool operator==(const ServerSettings&, const ServerSettings&) = default;
};

/**
 * The most bytes of one line a client types (command, user name or password); the rest of a
 * longer line is dropped, so a longer user name or password could never be typed.
 */
inline constexpr std::size_t kMaxLineLength = 1024;

/**
 * The settings of a first start. settingsFolder is where zelvor.ini and the default log live
 * (the program's folder on Windows); musicFolder is the user's music folder, the default root
 * (on Windows "C:\My Documents\My Music" when it is empty).
 */
ServerSettings defaultSettings(const std::string& settingsFolder, const std::string& musicFolder);

#ifdef _WIN32
/**
 * The user's Music folder (the known folder FOLDERID_Music) in the ANSI code page, by its
 * short name when the long one does not fit the code page; empty when Windows names none.
 */
std::string knownMusicFolder();
#endif

} // namespace zelvor
