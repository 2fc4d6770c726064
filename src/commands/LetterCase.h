// SPDX-License-Identifier: MIT
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace zelvor {

/**
 * A name's letters, ready to be compared without regard to letter case. On Linux they are the
 * code points of a UTF-8 name in Unicode's simple case folding (ICU), so "BJÖRK" gives the same
 * letters as "björk". On Windows they are the UTF-16 units of a name in the ANSI code page, and
 * sameLetter compares them as the file system compares names. Nothing when the name is not
 * valid text there (Linux: not UTF-8); such a name is compared by its bytes.
 */
std::optional<std::u32string> caseLetters(std::string_view name);

/** True when two letters of caseLetters differ at most in letter case. */
bool sameLetter(char32_t a, char32_t b);

/** True when two results of caseLetters differ at most in letter case. */
bool sameLetters(std::u32string_view a, std::u32string_view b);

} // namespace zelvor
