// SPDX-License-Identifier: MIT
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace zelvor {

/** How the host writes paths: "/" on Linux, drive letters and "\" on Windows. */
enum class PathStyle
{
    Posix,
    Windows,
};

#ifdef _WIN32
inline constexpr PathStyle kHostPathStyle = PathStyle::Windows;
#else
inline constexpr PathStyle kHostPathStyle = PathStyle::Posix;
#endif

/** The longest name of one folder or file that is looked up on the disk. */
inline constexpr std::size_t kMaxNameLength = 255;

/** A client's path text resolved below the server root: no ".", ".." or empty names left. */
struct MusicPath
{
    /** The server root in host form ("/srv/music", "C:\Music"). */
    std::string root;
    /** The folder and file names below the root, letters as the client typed them. */
    std::vector<std::string> names;
    /** The text ended in a separator ("Rock\"). */
    bool trailingSeparator = false;

    bool operator==(const MusicPath&) const = default;
};

/**
 * Resolves a path text that begins with the server root as typed: "\" and "/" both separate,
 * repeated separators count once, "." and ".." are resolved on the text alone. Returns nothing
 * when the result is not the root or below it, when the root is empty, or when a name below the
 * root cannot name a file (control bytes, longer than kMaxNameLength).
 */
std::optional<MusicPath> resolveMusicPath(std::string_view root, std::string_view text,
                                          PathStyle style = kHostPathStyle);

/** The host path of a resolved path: the root and the names joined by the host separator. */
std::string hostPathText(const MusicPath& path, PathStyle style = kHostPathStyle);

/** A path text as the client is shown it: on Linux every "\" is written as "/". */
std::string displayPath(std::string_view text, PathStyle style = kHostPathStyle);

/** False for names that no file can have: empty, too long, or holding control bytes. */
bool isUsableName(std::string_view name);

/** Names that listings leave out (dot names on Linux). */
bool isHiddenName(std::string_view name, PathStyle style = kHostPathStyle);

// Letter case is ignored for every letter that caseLetters knows (Unicode on Linux for UTF-8
// names, the file system's table on Windows); a name that is not valid text there is compared
// by its bytes, ASCII letters ignoring case.

/** Matches "*" and "?" (one letter) without regard to case; "*.*" matches every name. */
bool matchesWildcard(std::string_view pattern, std::string_view name);

/** Equal without regard to letter case. */
bool equalsIgnoringCase(std::string_view a, std::string_view b);

/** The name holds the text somewhere, without regard to letter case. */
bool containsIgnoringCase(std::string_view name, std::string_view text);

/** Name order without regard to case; names that differ only in case go by their bytes. */
bool nameLess(std::string_view a, std::string_view b);

} // namespace zelvor
