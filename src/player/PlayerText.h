// SPDX-License-Identifier: MIT
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace zelvor {

/**
 * A version as one integer: major * 10000 + minor * 100 + patch, with minor and patch capped
 * at 99, so version 0.23.5 answers 2305 and 0.23.12 answers 2312.
 */
std::int32_t encodeVersion(unsigned major, unsigned minor, unsigned patch);

/**
 * The title an entry is shown with: "Artist - Title" when both tags are there, the title alone
 * when only it is, else the file's name without its folders. Missing tags are null or empty.
 */
std::string displayTitle(const char* artist, const char* title, std::string_view uri);

/** Name order of slash-separated paths: folder by folder, each name compared byte by byte. */
bool nameOrderLess(std::string_view left, std::string_view right);

/** What follows the last dot of the file's name (after its last '/' or '\\'), in lower case;
 * empty without a dot. */
std::string fileSuffix(std::string_view path);

/** A sound file a player reads, by its suffix in any letter case. */
bool isSoundFile(std::string_view path);

/**
 * The sound files below a folder at any depth, as paths relative to it with "/" between names,
 * in name order. Folders that cannot be read are left out.
 */
std::vector<std::string> soundFilesBelow(const std::filesystem::path& folder);

} // namespace zelvor
