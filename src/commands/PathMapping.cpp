// SPDX-License-Identifier: MIT
#include "commands/PathMapping.h"

#include "commands/LetterCase.h"

#include <algorithm>
#include <array>

namespace zelvor {

namespace {

bool isSeparator(char c)
{
    return c == '\\' || c == '/';
}

char hostSeparator(PathStyle style)
{
    return style == PathStyle::Windows ? '\\' : '/';
}

bool isAsciiLetter(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

// A table rather than a test per byte: sorting a large folder compares names a million times.
constexpr auto kUpperCase = [] {
    std::array<unsigned char, 256> table{};
    for (std::size_t byte = 0; byte < table.size(); ++byte)
        table[byte] =
            static_cast<unsigned char>(byte >= 'a' && byte <= 'z' ? byte - 'a' + 'A' : byte);
    return table;
}();

unsigned char upperCase(char c)
{
    return kUpperCase[static_cast<unsigned char>(c)];
}

bool sameAsciiLetter(char a, char b)
{
    return upperCase(a) == upperCase(b);
}

bool isAscii(std::string_view text)
{
    return std::all_of(text.begin(), text.end(),
                       [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

// "*" and "?" over letters: bytes for ASCII and for names that are not valid text, the
// letters of caseLetters otherwise, so that "?" stands for one letter however it is encoded.
// Greedy match that backtracks only to the last "*": linear in practice, never exponential.
template <typename Text, typename Same> bool matchLetters(Text pattern, Text name, Same same)
{
    std::size_t p = 0;
    std::size_t n = 0;
    std::size_t starAt = Text::npos;
    std::size_t starName = 0;
    while (n < name.size()) {
        if (p < pattern.size() && pattern[p] == '*') {
            starAt = p++;
            starName = n;
        } else if (p < pattern.size() && (pattern[p] == '?' || same(pattern[p], name[n]))) {
            ++p;
            ++n;
        } else if (starAt != Text::npos) {
            p = starAt + 1;
            n = ++starName;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == '*')
        ++p;
    return p == pattern.size();
}

template <typename Text, typename Same> bool containsLetters(Text name, Text text, Same same)
{
    return std::search(name.begin(), name.end(), text.begin(), text.end(), same) != name.end();
}

// Runs the test on the letters of caseLetters when both texts have them and are not plain
// ASCII, otherwise on the bytes with ASCII letters folded.
template <typename Test> bool onLetters(std::string_view a, std::string_view b, Test test)
{
    if (!isAscii(a) || !isAscii(b)) {
        const auto lettersA = caseLetters(a);
        const auto lettersB = caseLetters(b);
        if (lettersA && lettersB)
            return test(std::u32string_view(*lettersA), std::u32string_view(*lettersB), sameLetter);
    }
    return test(a, b, sameAsciiLetter);
}

/** A path text taken apart: its anchor ("/", "C:\", "\\" or nothing) and its names. */
struct SplitPath
{
    std::string prefix;
    std::vector<std::string> names;
    bool trailingSeparator = false;
};

std::string takePrefix(std::string_view& text, PathStyle style)
{
    if (style == PathStyle::Windows) {
        if (text.size() >= 2 && isAsciiLetter(text[0]) && text[1] == ':') {
            std::string drive(text.substr(0, 2));
            text.remove_prefix(2);
            return !text.empty() && isSeparator(text[0]) ? drive + '\\' : drive;
        }
        if (text.size() >= 2 && isSeparator(text[0]) && isSeparator(text[1]))
            return "\\\\";
    }
    if (!text.empty() && isSeparator(text[0]))
        return std::string(1, hostSeparator(style));
    return {};
}

// Windows drops trailing dots and blanks from names, so "..." or ". ." could stand for a
// parent folder there; such names are refused rather than guessed at.
bool isDotAlias(std::string_view name)
{
    return name.find_first_not_of(". ") == std::string_view::npos;
}

std::optional<SplitPath> splitPath(std::string_view text, PathStyle style)
{
    SplitPath split;
    split.trailingSeparator = !text.empty() && isSeparator(text.back());
    split.prefix = takePrefix(text, style);
    const bool anchored = !split.prefix.empty() && isSeparator(split.prefix.back());
    std::size_t start = 0;
    while (start <= text.size()) {
        auto end = std::find_if(text.begin() + static_cast<std::ptrdiff_t>(start), text.end(),
                                isSeparator) -
                   text.begin();
        const auto name = text.substr(start, static_cast<std::size_t>(end) - start);
        start = static_cast<std::size_t>(end) + 1;
        if (name.empty() || name == ".")
            continue;
        if (name == "..") {
            // Above an anchored path's top there is nothing: "/.." is "/".
            if (!split.names.empty() && split.names.back() != "..")
                split.names.pop_back();
            else if (!anchored)
                split.names.emplace_back(name);
            continue;
        }
        if (style == PathStyle::Windows && isDotAlias(name))
            return std::nullopt;
        split.names.emplace_back(name);
    }
    return split;
}

bool sameName(std::string_view a, std::string_view b, PathStyle style)
{
    return style == PathStyle::Windows ? equalsIgnoringCase(a, b) : a == b;
}

void appendName(std::string& path, std::string_view name, PathStyle style)
{
    const bool driveOnly = style == PathStyle::Windows && path.size() == 2 && path[1] == ':';
    if (!path.empty() && !isSeparator(path.back()) && !driveOnly)
        path += hostSeparator(style);
    path += name;
}

} // namespace

std::optional<MusicPath> resolveMusicPath(std::string_view root, std::string_view text,
                                          PathStyle style)
{
    if (root.empty())
        return std::nullopt;
    const auto base = splitPath(root, style);
    const auto full = splitPath(text, style);
    if (!base || !full || !sameName(base->prefix, full->prefix, style) ||
        full->names.size() < base->names.size())
        return std::nullopt;
    for (std::size_t i = 0; i < base->names.size(); ++i) {
        if (!sameName(base->names[i], full->names[i], style))
            return std::nullopt;
    }
    MusicPath path;
    path.root = base->prefix;
    for (const auto& name : base->names)
        appendName(path.root, name, style);
    if (path.root.empty())
        path.root.assign(1, '.');
    path.names.assign(full->names.begin() + static_cast<std::ptrdiff_t>(base->names.size()),
                      full->names.end());
    // A ".." left below the root means the text climbed out of a root made of ".." names.
    for (const auto& name : path.names) {
        if (name == ".." || !isUsableName(name))
            return std::nullopt;
    }
    path.trailingSeparator = full->trailingSeparator;
    return path;
}

std::string hostPathText(const MusicPath& path, PathStyle style)
{
    std::string text = path.root;
    for (const auto& name : path.names)
        appendName(text, name, style);
    if (path.trailingSeparator && !text.empty() && !isSeparator(text.back()))
        text += hostSeparator(style);
    return text;
}

std::string displayPath(std::string_view text, PathStyle style)
{
    std::string shown(text);
    if (style == PathStyle::Posix)
        std::replace(shown.begin(), shown.end(), '\\', '/');
    return shown;
}

bool isUsableName(std::string_view name)
{
    if (name.empty() || name.size() > kMaxNameLength)
        return false;
    return std::none_of(name.begin(), name.end(), [](char c) {
        const auto byte = static_cast<unsigned char>(c);
        return byte < 0x20 || byte == 0x7f;
    });
}

bool isHiddenName(std::string_view name, PathStyle style)
{
    // On Windows hidden and system are marks on the entry, not part of its name.
    return style == PathStyle::Posix && !name.empty() && name.front() == '.';
}

bool matchesWildcard(std::string_view pattern, std::string_view name)
{
    if (pattern == "*.*")
        return true;
    return onLetters(pattern, name,
                     [](auto p, auto n, auto same) { return matchLetters(p, n, same); });
}

bool equalsIgnoringCase(std::string_view a, std::string_view b)
{
    if (a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), sameAsciiLetter))
        return true;
    if (isAscii(a) && isAscii(b))
        return false;
    const auto lettersA = caseLetters(a);
    const auto lettersB = caseLetters(b);
    return lettersA && lettersB && sameLetters(*lettersA, *lettersB);
}

bool containsIgnoringCase(std::string_view name, std::string_view text)
{
    return onLetters(name, text,
                     [](auto n, auto t, auto same) { return containsLetters(n, t, same); });
}

bool nameLess(std::string_view a, std::string_view b)
{
    // Compared in upper case as NTFS does, so "_x" sorts after the letters as on Windows.
    const auto common = std::min(a.size(), b.size());
    for (std::size_t i = 0; i < common; ++i) {
        const auto x = upperCase(a[i]);
        const auto y = upperCase(b[i]);
        if (x != y)
            return x < y;
    }
    if (a.size() != b.size())
        return a.size() < b.size();
    return a < b;
}

} // namespace zelvor
