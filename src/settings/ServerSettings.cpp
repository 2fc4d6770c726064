// SPDX-License-Identifier: MIT
#include "settings/ServerSettings.h"

namespace zelvor {

ServerSettings defaultSettings(const std::string& settingsFolder, const std::string& musicFolder)
{
    ServerSettings settings;
#ifdef _WIN32
    (void)musicFolder;
    settings.ServerRoot = "C:\\My Documents\\My Music";
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
