// SPDX-License-Identifier: MIT
#include "player/mpd/MpdMapping.h"

#include <algorithm>

namespace zelvor {

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

bool isSendableUri(std::string_view uri)
{
    return !uri.empty() &&
           uri.find_first_of(std::string_view("\r\n\0", 3)) == std::string_view::npos;
}

} // namespace zelvor
