// SPDX-License-Identifier: MIT
#include "player/mpris/MprisNames.h"

#include "AsciiCase.h"
#include "player/PlayerRules.h"
#include "player/PlayerText.h"
#include "player/ProgramCommandLine.h"

#include <algorithm>
#include <array>

namespace zelvor {

namespace {

std::string_view trimmed(std::string_view text)
{
    const auto first = text.find_first_not_of(" \t");
    if (first == std::string_view::npos)
        return {};
    return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

std::string_view baseName(std::string_view path)
{
    const auto slash = path.find_last_of('/');
    return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

int statusRank(std::string_view status)
{
    if (status == "Playing")
        return 0;
    return status == "Paused" ? 1 : 2;
}

} // namespace

PlayerChoice choosePlayer(std::string_view location, const ProgramFinder& startable)
{
    const auto line = trimmed(location);
    constexpr std::string_view kNamed = "mpris:";
    if (line == "mpris")
        return {PlayerChoice::Backend::Mpris, {}, {}};
    if (line.substr(0, kNamed.size()) == kNamed)
        return {PlayerChoice::Backend::Mpris, std::string(trimmed(line.substr(kNamed.size()))), {}};
    const auto candidates = programCandidates(line);
    if (candidates.empty())
        return {};
    // A location with blanks may be a program with blanks in its path: the first that can be
    // started is it. One without needs no search.
    auto started = candidates.begin();
    if (startable && candidates.size() > 1)
        started = std::find_if(candidates.begin(), candidates.end(),
                               [&startable](const auto& c) { return startable(c.program); });
    if (started == candidates.end())
        started = candidates.begin();
    const auto rule = ruleForProgram(baseName(started->program));
    if (rule.speaksMpd())
        return {};
    return {PlayerChoice::Backend::Mpris, std::string(rule.busName), std::string(line)};
}

bool mprisNameMatches(std::string_view busName, std::string_view name)
{
    if (busName.substr(0, kMprisPrefix.size()) != kMprisPrefix)
        return false;
    const auto own = busName.substr(kMprisPrefix.size());
    if (name.empty())
        return !own.empty();
    return asciiEqualIgnoringCase(own.substr(0, name.size()), name) &&
           (own.size() == name.size() || own[name.size()] == '.');
}

std::optional<std::string> pickPlayer(std::vector<BusPlayer> players)
{
    if (players.empty())
        return std::nullopt;
    std::sort(players.begin(), players.end(), [](const BusPlayer& a, const BusPlayer& b) {
        const int rankA = statusRank(a.playbackStatus);
        const int rankB = statusRank(b.playbackStatus);
        return rankA != rankB ? rankA < rankB : a.busName < b.busName;
    });
    return players.front().busName;
}

bool trackListShown(bool tracksAnswered, std::size_t trackCount, bool currentTrack)
{
    return tracksAnswered && (trackCount > 0 || !currentTrack);
}

std::string fileUri(std::string_view hostPath)
{
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string uri = "file://";
    for (const char c : hostPath) {
        const auto byte = static_cast<unsigned char>(c);
        const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                           (c >= '0' && c <= '9') || c == '-' || c == '.' || c == '_' || c == '~' ||
                           c == '/';
        if (plain) {
            uri += c;
        } else {
            uri += '%';
            uri += kHex[byte >> 4];
            uri += kHex[byte & 0x0f];
        }
    }
    return uri;
}

std::string percentDecoded(std::string_view text)
{
    const auto hex = [](char c) {
        if (c >= '0' && c <= '9')
            return c - '0';
        if (c >= 'a' && c <= 'f')
            return c - 'a' + 10;
        return c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1;
    };
    std::string plain;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 2 < text.size() && hex(text[i + 1]) >= 0 &&
            hex(text[i + 2]) >= 0) {
            plain += static_cast<char>(hex(text[i + 1]) * 16 + hex(text[i + 2]));
            i += 2;
        } else {
            plain += text[i];
        }
    }
    return plain;
}

bool isPlaylistFile(std::string_view path)
{
    static constexpr std::array<std::string_view, 5> kPlaylists = {"m3u", "m3u8", "pls", "xspf",
                                                                   "cue"};
    return std::find(kPlaylists.begin(), kPlaylists.end(), fileSuffix(path)) != kPlaylists.end();
}

} // namespace zelvor
