// SPDX-License-Identifier: MIT
#include "player/mpd/MpdMapping.h"

#include "AsciiCase.h"

#include <algorithm>

namespace zelvor {

std::int32_t encodeMpdVersion(unsigned major, unsigned minor, unsigned patch)
{
    const unsigned cappedMajor = std::min(major, 200000U);
    return static_cast<std::int32_t>(cappedMajor * 10000U + std::min(minor, 99U) * 100U +
                                     std::min(patch, 99U));
}

std::optional<std::string> uriBelow(const std::filesystem::path& musicDir,
                                    const std::filesystem::path& path)
{
    const auto base = musicDir.lexically_normal();
    const auto target = path.lexically_normal();
    auto baseIt = base.begin();
    auto targetIt = target.begin();
    for (; baseIt != base.end(); ++baseIt) {
        // A trailing separator leaves an empty last element; it matches anything.
        if (baseIt->empty())
            continue;
        if (targetIt == target.end() || *targetIt != *baseIt)
            return std::nullopt;
        ++targetIt;
    }
    std::string uri;
    for (; targetIt != target.end(); ++targetIt) {
        if (targetIt->empty())
            continue;
        if (!uri.empty())
            uri.push_back('/');
        uri += targetIt->string();
    }
    return uri;
}

std::vector<MusicRootGuess> musicRootGuesses(const std::filesystem::path& path)
{
    const auto target = path.lexically_normal();
    std::vector<std::filesystem::path> names;
    for (const auto& part : target.relative_path())
        if (!part.empty())
            names.push_back(part);
    std::vector<MusicRootGuess> guesses;
    std::filesystem::path root = target.root_path();
    for (std::size_t first = 0; first <= names.size(); ++first) {
        std::string uri;
        for (std::size_t i = first; i < names.size(); ++i)
            uri += (uri.empty() ? "" : "/") + names[i].string();
        guesses.push_back({root, uri});
        if (first < names.size())
            root /= names[first];
    }
    return guesses;
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

bool isSendableUri(std::string_view uri)
{
    return !uri.empty() &&
           uri.find_first_of(std::string_view("\r\n\0", 3)) == std::string_view::npos;
}

bool hasAudioSuffix(std::string_view name, const std::set<std::string>& lowerCaseSuffixes)
{
    const auto dot = name.rfind('.');
    if (dot == std::string_view::npos || dot + 1 == name.size())
        return false;
    return lowerCaseSuffixes.count(asciiLowerCopy(name.substr(dot + 1))) > 0;
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

} // namespace zelvor
