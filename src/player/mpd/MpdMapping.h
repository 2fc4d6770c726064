// SPDX-License-Identifier: MIT
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace zelvor {

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

/** True when the text can travel as one protocol argument (no line break, no zero byte). */
bool isSendableUri(std::string_view uri);

} // namespace zelvor
