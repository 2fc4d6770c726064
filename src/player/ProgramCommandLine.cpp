// SPDX-License-Identifier: MIT
#include "player/ProgramCommandLine.h"

#include <cstddef>

namespace zelvor {

namespace {

bool isBlank(char c)
{
    return c == ' ' || c == '\t';
}

std::string_view skipBlanks(std::string_view text)
{
    std::size_t start = 0;
    while (start < text.size() && isBlank(text[start]))
        ++start;
    return text.substr(start);
}

// Appends a run of backslashes and what follows it; returns the index after what it consumed.
std::size_t takeBackslashes(std::string_view text, std::size_t i, std::string& word, bool& inQuotes)
{
    std::size_t count = 0;
    while (i + count < text.size() && text[i + count] == '\\')
        ++count;
    const std::size_t next = i + count;
    if (next >= text.size() || text[next] != '"') {
        word.append(count, '\\');
        return next;
    }
    word.append(count / 2, '\\');
    if (count % 2 == 1) {
        word.push_back('"');
        return next + 1;
    }
    inQuotes = !inQuotes;
    return next + 1;
}

} // namespace

std::vector<ProgramCandidate> programCandidates(std::string_view commandLine)
{
    const std::string_view line = skipBlanks(commandLine);
    if (line.empty())
        return {};
    if (line.front() == '"') {
        const std::size_t close = line.find('"', 1);
        if (close == std::string_view::npos)
            return {{std::string(line.substr(1)), {}}};
        if (close == 1)
            return {};
        return {{std::string(line.substr(1, close - 1)), std::string(line.substr(close + 1))}};
    }
    std::string_view trimmed = line;
    while (isBlank(trimmed.back()))
        trimmed.remove_suffix(1);
    std::vector<ProgramCandidate> candidates;
    for (std::size_t i = 1; i < trimmed.size(); ++i) {
        // A run of blanks is one separator: only its first blank ends a prefix.
        if (isBlank(trimmed[i]) && !isBlank(trimmed[i - 1]))
            candidates.push_back(
                {std::string(trimmed.substr(0, i)), std::string(trimmed.substr(i + 1))});
    }
    candidates.push_back({std::string(trimmed), {}});
    return candidates;
}

std::vector<std::string> splitArguments(std::string_view text)
{
    std::vector<std::string> words;
    std::string word;
    bool inWord = false;
    bool inQuotes = false;
    std::size_t i = 0;
    while (i < text.size()) {
        const char c = text[i];
        if (isBlank(c) && !inQuotes) {
            if (inWord)
                words.push_back(std::move(word));
            word.clear();
            inWord = false;
            ++i;
            continue;
        }
        inWord = true;
        if (c == '\\') {
            i = takeBackslashes(text, i, word, inQuotes);
        } else if (c == '"' && inQuotes && i + 1 < text.size() && text[i + 1] == '"') {
            word.push_back('"');
            i += 2;
        } else if (c == '"') {
            inQuotes = !inQuotes;
            ++i;
        } else {
            word.push_back(c);
            ++i;
        }
    }
    if (inWord)
        words.push_back(std::move(word));
    return words;
}

} // namespace zelvor
