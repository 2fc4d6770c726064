// SPDX-License-Identifier: MIT
#pragma once

#include <string>
#include <vector>

namespace zelvor {

struct ServerSettings;

/** The settings file in folder: folder followed by "/zelvor.ini" ("\zelvor.ini" on Windows). */
std::string settingsFilePath(const std::string& folder);

/**
 * Fills settings from the settings file when FileExists reports it; returns whether a file was
 * read. Meant for a record holding the defaults: a key that is missing, or a two-state key
 * ("LogLevel1", "LogLevel2", "Login", "Negotiate") whose text is neither true nor false, leaves
 * its field as it was. Besides the nine keys it reads "Listen Address" and "Negotiate". A file
 * that cannot be read leaves every field and sets error when given. Never writes anything.
 */
bool loadSettings(const std::string& iniPath, ServerSettings& settings,
                  std::string* error = nullptr);

/**
 * Writes the nine keys of section "Zelvor" into the settings file in one atomic replacement,
 * keeping everything else the file holds ("Listen Address" and "Negotiate", which only the
 * file sets, included), and creates its folder (mode 0700) when missing.
 * A value the file cannot hold (one with a line feed) costs only its own key: that key keeps
 * what the file held before, or stays absent, and its name goes into keptKeys when given.
 * On failure returns false, leaves any old file untouched and sets error when given.
 */
bool saveSettings(const std::string& iniPath, const ServerSettings& settings,
                  std::string* error = nullptr, std::vector<std::string>* keptKeys = nullptr);

/**
 * The start's care of the settings folder: creates it (mode 0700) when missing, so the default
 * log can be written before the first save, and removes the temporary "zelvor.ini.new-*" files
 * of a save that was killed half way. Returns false and sets error when the folder cannot be
 * created.
 */
bool prepareSettingsFolder(const std::string& folder, std::string* error = nullptr);

} // namespace zelvor
