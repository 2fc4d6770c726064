// SPDX-License-Identifier: MIT
#include "shell/DialogFilter.h"

namespace zelvor {

namespace {

std::vector<std::string_view> split(std::string_view text, char separator)
{
    std::vector<std::string_view> parts;
    while (true) {
        const auto end = text.find(separator);
        parts.push_back(text.substr(0, end));
        if (end == std::string_view::npos)
            return parts;
        text.remove_prefix(end + 1);
    }
}

std::vector<std::string> patternsOf(std::string_view list)
{
    std::vector<std::string> patterns;
    for (auto pattern : split(list, ';')) {
        while (!pattern.empty() && pattern.front() == ' ')
            pattern.remove_prefix(1);
        while (!pattern.empty() && pattern.back() == ' ')
            pattern.remove_suffix(1);
        if (pattern.empty())
            continue;
        // Windows matches "*.*" against names without a dot too; a glob would not.
        patterns.emplace_back(pattern == "*.*" ? "*" : pattern);
    }
    return patterns;
}

} // namespace

std::vector<DialogFilterEntry> parseDialogFilter(std::string_view filter)
{
    const auto parts = split(filter, '|');
    std::vector<DialogFilterEntry> entries;
    for (std::size_t i = 0; i + 1 < parts.size(); i += 2) {
        auto patterns = patternsOf(parts[i + 1]);
        if (!patterns.empty())
            entries.push_back({std::string(parts[i]), std::move(patterns)});
    }
    return entries;
}

} // namespace zelvor
