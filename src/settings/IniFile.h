// SPDX-License-Identifier: MIT
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// mod_inifile: the INI format of zelvor.ini, as text and read from a plain file. Section and key
// names match without regard to ASCII letter case; blanks around names and values are ignored on
// reading; every line is written with CR LF.
namespace zelvor {

/** Longest value a setting keeps when it is read; longer values are cut. */
inline constexpr std::size_t kIniReadLimit = 254;

/** Larger files are no settings files: they are neither read nor rewritten. */
inline constexpr std::uintmax_t kIniFileSizeLimit = 1024 * 1024;

/**
 * True when path names an existing ordinary file that is not hidden (on Linux: its name does
 * not start with "."). Folders, devices, missing paths and every error give false. The path is
 * taken literally: "*" and "?" are not wildcards.
 */
bool FileExists(const std::string& path);

/** The trimmed value of the first key of that name in a section of that name, if any. */
std::optional<std::string_view> findIniValue(std::string_view text, std::string_view section,
                                             std::string_view key);

/**
 * Sets key to value in INI text: an existing key is replaced in place, a new key goes after the
 * last line of its section, a missing section is added at the end. All other lines are kept in
 * their order; every line of the result ends with CR LF. Returns false and leaves text alone
 * when a name or the value cannot be stored (line breaks in names, a line feed in the value, "="
 * in the key, "]" in the section).
 */
bool setIniValue(std::string& text, std::string_view section, std::string_view key,
                 std::string_view value);

enum class IniFileState
{
    Read,
    Missing,
    Unreadable,
};

/**
 * Reads a whole INI file into text. Unreadable covers folders, devices, files above
 * kIniFileSizeLimit and read errors; error then says why. Missing leaves text empty.
 */
IniFileState readIniFile(const std::string& path, std::string& text, std::string* error = nullptr);

} // namespace zelvor
