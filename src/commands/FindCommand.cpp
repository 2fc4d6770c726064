// SPDX-License-Identifier: MIT
#include "commands/FindCommand.h"

#include "commands/MusicFolders.h"
#include "commands/PathMapping.h"
#include "settings/ServerSettings.h"

#include <algorithm>

namespace zelvor {

namespace {

std::string_view firstName(std::string_view path, std::size_t& at)
{
    const auto end = std::min(path.find('\\', at), path.size());
    const auto name = path.substr(at, end - at);
    at = end + 1;
    return name;
}

} // namespace

bool findMatches(std::string_view pattern, std::string_view name)
{
    if (pattern.find_first_of("*?") != std::string_view::npos)
        return matchesWildcard(pattern, name);
    return containsIgnoringCase(name, pattern);
}

bool pathLess(std::string_view a, std::string_view b)
{
    std::size_t atA = 0;
    std::size_t atB = 0;
    while (atA < a.size() && atB < b.size()) {
        const auto nameA = firstName(a, atA);
        const auto nameB = firstName(b, atB);
        if (nameA != nameB)
            return nameLess(nameA, nameB);
    }
    return atA >= a.size() && atB < b.size();
}

std::string findReply(CommandContext& context, std::string_view argument,
                      std::chrono::steady_clock::time_point deadline)
{
    const auto pattern = nameOf(argument);
    if (pattern.empty())
        return "\r\nusage: find <name or pattern>";
    const std::string& root = context.settings.ServerRoot;
    const auto folder = resolveMusicPath(root, root + context.session.CurrentDir);
    SearchResult found;
    if (folder) {
        found = context.folders.search(
            *folder, [pattern](std::string_view name) { return findMatches(pattern, name); },
            deadline);
    }
    auto& matches = found.matches;
    const auto shown = std::min(matches.size(), kMostFindLines);
    std::partial_sort(matches.begin(), matches.begin() + static_cast<std::ptrdiff_t>(shown),
                      matches.end(),
                      [](const std::string& a, const std::string& b) { return pathLess(a, b); });
    std::string reply;
    for (std::size_t i = 0; i < shown; ++i)
        reply += "\r\n" + matches[i];
    if (matches.size() > shown)
        reply += "\r\n... " + std::to_string(matches.size() - shown) + " more";
    if (matches.empty())
        reply += "\r\nNothing found";
    if (found.stopped)
        reply += "\r\n(search stopped after 2 s)";
    return reply;
}

void findFiles(CommandContext& context, std::string_view argument)
{
    context.connection.send(
        findReply(context, argument, std::chrono::steady_clock::now() + kFindBudget));
}

} // namespace zelvor
