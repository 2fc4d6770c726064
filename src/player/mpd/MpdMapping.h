// SPDX-License-Identifier: MIT
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace zelvor {

/**
 * The player's version as one integer: major * 10000 + minor * 100 + patch, with minor and patch
 * capped at 99, so MPD protocol version 0.23.5 answers 2305 and 0.23.12 would answer 2312.
 */
std::int32_t encodeMpdVersion(unsigned major, unsigned minor, unsigned patch);

/**
 * The MPD URI of a host path below a music folder ("" for the folder itself), or nothing when
 * the path does not lie below it. Both paths must be absolute; the test is lexical.
 */
std::optional<std::string> uriBelow(const std::filesystem::path& musicDir,
                                    const std::filesystem::path& path);

/** One guess at MPD's music folder: a folder above (or equal to) a path, and the path's URI. */
struct MusicRootGuess
{
    std::filesystem::path root;
    std::string uri;
};

/** Every folder from the file-system root down to the path itself, longest URI first. */
std::vector<MusicRootGuess> musicRootGuesses(const std::filesystem::path& path);

/** Name order of slash-separated paths: folder by folder, each name compared byte by byte. */
bool nameOrderLess(std::string_view left, std::string_view right);

/** True when the text can travel as one protocol argument (no line break, no zero byte). */
bool isSendableUri(std::string_view uri);

/** True when the file name ends in "." and one of the suffixes, compared without case. */
bool hasAudioSuffix(std::string_view name, const std::set<std::string>& lowerCaseSuffixes);

/**
 * The title an entry is shown with: "Artist - Title" when both tags are there, the title alone
 * when only it is, else the file's name without its folders. Missing tags are null or empty.
 */
std::string displayTitle(const char* artist, const char* title, std::string_view uri);

} // namespace zelvor
