// SPDX-License-Identifier: MIT
#include "commands/PathMapping.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace zelvor::test {
namespace {

using Names = std::vector<std::string>;

MusicPath below(std::string root, Names names, bool trailing = false)
{
    return MusicPath{std::move(root), std::move(names), trailing};
}

TEST(PathMapping, SeparatorsDotsAndDoublesResolveOnTheText)
{
    const struct
    {
        std::string root, text;
        MusicPath expected;
    } rows[] = {
        {"/srv/music", "/srv/music\\Rock\\Live", below("/srv/music", {"Rock", "Live"})},
        {"/srv/music", "/srv/music\\\\Rock//Live\\", below("/srv/music", {"Rock", "Live"}, true)},
        {"/srv/music/", "/srv/music/\\Rock\\", below("/srv/music", {"Rock"}, true)},
        {"/srv/music", "/srv/music\\Rock\\..\\Jazz\\.\\x", below("/srv/music", {"Jazz", "x"})},
        {"/srv/music", "/srv/music\\..\\music\\Rock", below("/srv/music", {"Rock"})},
        {"/srv/music", "/srv/music", below("/srv/music", {})},
        {"/srv/music", "/srv/music\\/", below("/srv/music", {}, true)},
        {"/", "/\\etc", below("/", {"etc"})},
        {"/", "/\\..\\etc", below("/", {"etc"})},
        {"music", "music\\Rock", below("music", {"Rock"})},
        {"C:\\Music", "C:\\Music\\\\Rock", below("C:/Music", {"Rock"})},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.text);
        EXPECT_EQ(resolveMusicPath(row.root, row.text, PathStyle::Posix), row.expected);
    }
}

TEST(PathMapping, PathsOutsideTheRootAreRefused)
{
    const struct
    {
        std::string root, text;
    } rows[] = {
        {"/srv/music", "/srv/music\\.."},
        {"/srv/music", "/srv/music\\..\\.."},
        {"/srv/music", "/srv/music\\..\\musicx"},
        {"/srv/music", "/srv/music\\Rock\\..\\..\\etc\\passwd"},
        {"/srv/music", "/srv/music/..\\../etc"},
        {"/srv/music", "/srv/music\\\\..\\\\..\\\\etc"},
        {"/srv/music", "/srv/music\\..\\MUSIC\\Rock"}, // letter case counts on Linux
        {"/srv/music", "/etc/passwd"},
        {"/srv/music", "srv/music\\x"},
        {"..", "..\\..\\x"},
        {"../music", "../music\\..\\..\\x"},
        {"", "\\etc"},
        {"", ""},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.root + " | " + row.text);
        EXPECT_EQ(resolveMusicPath(row.root, row.text, PathStyle::Posix), std::nullopt);
    }
}

TEST(PathMapping, NamesNoFileCanHaveAreRefused)
{
    const std::string root = "/srv/music";
    for (const std::string& name :
         {std::string("Rock\0..", 7),
          std::string("Ro\x01"
                      "ck"),
          std::string("Rock\r"), std::string("a\x7f"), std::string(256, 'a')}) {
        EXPECT_EQ(resolveMusicPath(root, root + "\\" + name, PathStyle::Posix), std::nullopt);
    }
    EXPECT_TRUE(resolveMusicPath(root, root + "\\" + std::string(255, 'a'), PathStyle::Posix));
}

TEST(PathMapping, WindowsRootsCompareWithoutCaseAndRefuseDotAliases)
{
    const auto windows = [](std::string_view root, std::string_view text) {
        return resolveMusicPath(root, text, PathStyle::Windows);
    };
    EXPECT_EQ(windows("C:\\Music", "C:\\Music\\\\Rock\\"), below("C:\\Music", {"Rock"}, true));
    EXPECT_EQ(windows("C:\\Music", "c:\\MUSIC\\Rock"), below("C:\\Music", {"Rock"}));
    EXPECT_EQ(windows("C:\\Music\\", "C:\\Music\\"), below("C:\\Music", {}, true));
    EXPECT_EQ(windows("C:\\Music", "C:\\Music\\..\\Windows"), std::nullopt);
    EXPECT_EQ(windows("C:\\Music", "D:\\Music\\Rock"), std::nullopt);
    EXPECT_EQ(windows("C:\\Music", "C:\\Music\\...\\x"), std::nullopt);
    EXPECT_EQ(windows("C:\\Music", "C:\\Music\\. .\\x"), std::nullopt);
    EXPECT_EQ(windows("\\\\srv\\share", "\\\\srv\\share\\..\\other"), std::nullopt);
    EXPECT_EQ(windows("\\\\srv\\share", "\\\\srv\\share\\a"), below("\\\\srv\\share", {"a"}));
}

TEST(PathMapping, HostAndDisplayTexts)
{
    EXPECT_EQ(hostPathText(below("/srv/music", {"Rock", "a.mp3"}), PathStyle::Posix),
              "/srv/music/Rock/a.mp3");
    EXPECT_EQ(hostPathText(below("/srv/music", {"Rock"}, true), PathStyle::Posix),
              "/srv/music/Rock/");
    EXPECT_EQ(hostPathText(below("/", {"etc"}), PathStyle::Posix), "/etc");
    EXPECT_EQ(hostPathText(below("C:\\Music", {"Rock"}, true), PathStyle::Windows),
              "C:\\Music\\Rock\\");
    EXPECT_EQ(displayPath("/srv/music\\Rock\\*.mp3", PathStyle::Posix), "/srv/music/Rock/*.mp3");
    EXPECT_EQ(displayPath("C:\\Music\\\\Rock\\", PathStyle::Windows), "C:\\Music\\\\Rock\\");
}

TEST(PathMapping, WildcardsIgnoreCase)
{
    EXPECT_TRUE(matchesWildcard("*.mp3", "Song.MP3"));
    EXPECT_TRUE(matchesWildcard("*.*", "README"));
    EXPECT_TRUE(matchesWildcard("?ock", "Rock"));
    EXPECT_TRUE(matchesWildcard("*a*b", "xaxab"));
    EXPECT_TRUE(matchesWildcard("rock", "ROCK"));
    EXPECT_FALSE(matchesWildcard("?ock", "ock"));
    EXPECT_FALSE(matchesWildcard("a*", "ba"));
    EXPECT_FALSE(matchesWildcard("*.mp3", "song.mp3.txt"));
    // Many stars against a long near miss must not take exponential time.
    EXPECT_FALSE(matchesWildcard("*a*a*a*a*a*a*a*a*a*a*a*a*b", std::string(250, 'a')));
}

// Windows compares names in the ANSI code page as the file system does: tests/windows.
#ifndef _WIN32
struct CaseRow
{
    const char* a;
    const char* b;
    bool same;
};

TEST(PathMapping, LetterCaseOfUtf8NamesIsUnicodeAndOfOtherBytesAscii)
{
    const CaseRow rows[] = {
        {"björk", "BJÖRK", true},
        {"Café del Mar", "CAFÉ DEL MAR", true},
        {"ΩΜΈΓΑ", "ωμέγα", true},
        {"ЗЕМФИРА", "земфира", true},
        {"ς", "Σ", true},             // final sigma folds like sigma
        {"ǅ", "ǆ", true},             // title case
        {"straße", "STRASSE", false}, // one letter stays one letter, as in file names
        {"Björk", "Bjork", false},
        {"é", "e\xcc\x81", false},       // composed and decomposed are different names on the disk
        {"bj\xf6rk", "BJ\xf6RK", true},  // Latin-1: the ASCII letters fold ...
        {"bj\xf6rk", "BJ\xd6RK", false}, // ... and the other bytes stay as they are
        {"\xc3", "\xc3", true},
        {"\xc3\xa9", "\xc3\x89\xff", false},
        {"\xed\xa0\x80", "\xed\xa0\x80", true}, // a surrogate is not UTF-8, still itself
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(std::string(row.a) + " / " + row.b);
        EXPECT_EQ(equalsIgnoringCase(row.a, row.b), row.same);
        EXPECT_EQ(equalsIgnoringCase(row.b, row.a), row.same);
        EXPECT_EQ(matchesWildcard(row.a, row.b), row.same);
        EXPECT_EQ(containsIgnoringCase(std::string("<") + row.b + ">", row.a), row.same);
    }
    // "?" is one letter however many bytes it takes.
    EXPECT_TRUE(matchesWildcard("BJ?RK", "björk"));
    EXPECT_TRUE(matchesWildcard("*ÉE*", "Caféen"));
    EXPECT_FALSE(matchesWildcard("BJ??RK", "björk"));
    EXPECT_TRUE(matchesWildcard("BJ??RK", "bj\xf6\xf6rk"));
}
#endif

TEST(PathMapping, NameOrderIgnoresCaseLikeWindows)
{
    Names names{"b", "A", "_x", "a", "B10", "b2"};
    std::sort(names.begin(), names.end(),
              [](const std::string& x, const std::string& y) { return nameLess(x, y); });
    EXPECT_EQ(names, (Names{"A", "a", "b", "B10", "b2", "_x"}));
}

} // namespace
} // namespace zelvor::test
