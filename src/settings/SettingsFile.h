// SPDX-License-Identifier: MIT
#pragma once

#include <string>

namespace zelvor {

struct ServerSettings;

/** The settings file in folder: folder followed by "/zelvor.ini" ("\zelvor.ini" on Windows). */
std::string settingsFilePath(const std::string& folder);

/**
 * Fills settings from the settings file when FileExists reports it; returns whether a file was
 * read. Meant for a record holding the defaults: a key that is missing, or a two-state key
 * ("LogLevel1", "LogLevel2", "Login") whose text is neither true nor false, leaves its field
 * as it was. A file that cannot be read leaves every field and sets error when given.
 * Never writes anything.
 */
bool loadSettings(const std::string& iniPath, ServerSettings& settings,
                  std::string* error = nullptr);

/**
 * Writes the nine keys of section "Zelvor" into the settings file in one atomic replacement,
 * keeping everything else the file holds, and creates its folder (mode 0700) when missing.
 * On failure returns false, leaves any old file untouched and sets error when given.
 */
bool saveSettings(const std::string& iniPath, const ServerSettings& settings,
                  std::string* error = nullptr);

} // namespace zelvor
