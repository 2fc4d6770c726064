// SPDX-License-Identifier: MIT
#include "player/PlayerText.h"

#include "AsciiCase.h"

#include <algorithm>
#include <array>

namespace zelvor {

std::int32_t encodeVersion(unsigned major, unsigned minor, unsigned patch)
{
    const unsigned cappedMajor = std::min(major, 200000U);
    return static_cast<std::int32_t>(cappedMajor * 10000U + std::min(minor, 99U) * 100U +
                                     std::min(patch, 99U));
}

std::string displayTitle(const char* artist, const char* title, std::string_view uri)
{
    const bool hasArtist = artist != nullptr && *artist != '\0';
    const bool hasTitle = title != nullptr && *title != '\0';
    if (hasArtist && hasTitle)
        return std::string(artist) + " - " + title;
    if (hasTitle)
        return title;
    const auto slash = uri.find_last_of('/');
    return std::string(slash == std::string_view::npos ? uri : uri.substr(slash + 1));
}

bool nameOrderLess(std::string_view left, std::string_view right)
{
    while (true) {
        const auto leftEnd = left.find('/');
        const auto rightEnd = right.find('/');
        const auto leftName = left.substr(0, leftEnd);
        const auto rightName = right.substr(0, rightEnd);
        if (leftName != rightName)
            return leftName < rightName;
        if (leftEnd == std::string_view::npos || rightEnd == std::string_view::npos)
            return leftEnd == std::string_view::npos && rightEnd != std::string_view::npos;
        left.remove_prefix(leftEnd + 1);
        right.remove_prefix(rightEnd + 1);
    }
}

std::string fileSuffix(std::string_view path)
{
    const auto name = path.substr(path.find_last_of("/\\") + 1);
    const auto dot = name.find_last_of('.');
    return dot == std::string_view::npos ? std::string() : asciiLowerCopy(name.substr(dot + 1));
}

bool isSoundFile(std::string_view path)
{
    static constexpr std::array<std::string_view, 16> kSound = {
        "mp3", "ogg", "oga", "opus", "flac", "wav",  "m4a", "aac",
        "wma", "ape", "wv",  "mpc",  "aif",  "aiff", "mka", "alac"};
    return std::find(kSound.begin(), kSound.end(), fileSuffix(path)) != kSound.end();
}

std::vector<std::string> soundFilesBelow(const std::filesystem::path& folder)
{
    namespace fs = std::filesystem;
    std::vector<std::string> names;
    std::error_code error;
    fs::recursive_directory_iterator it(folder, fs::directory_options::skip_permission_denied,
                                        error);
    for (; !error && it != fs::recursive_directory_iterator(); it.increment(error)) {
        std::error_code kindError;
        const auto relative = it->path().lexically_relative(folder).generic_string();
        if (it->is_regular_file(kindError) && isSoundFile(relative))
            names.push_back(relative);
    }
    std::sort(names.begin(), names.end(), nameOrderLess);
    return names;
}

} // namespace zelvor
