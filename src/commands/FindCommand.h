// SPDX-License-Identifier: MIT
#pragma once

#include "commands/CommandSession.h"

#include <chrono>
#include <cstddef>
#include <string>
#include <string_view>

namespace zelvor {

/** How long one "find" may search before it stops and says so. */
inline constexpr std::chrono::seconds kFindBudget{2};
/** The most matches one "find" shows. */
inline constexpr std::size_t kMostFindLines = 100;

/**
 * True when the name matches the pattern without regard to case: a pattern with "*" or "?" is
 * a wildcard over the whole name, any other pattern a part of the name.
 */
bool findMatches(std::string_view pattern, std::string_view name);

/** Case-insensitive path order, name by name ("a\b" before "a b"). */
bool pathLess(std::string_view a, std::string_view b);

/**
 * The reply of "find" with the argument as the dispatcher splits it: the matches below the
 * current folder in path order (at most kMostFindLines, then "... n more"), "Nothing found",
 * or the usage line; "(search stopped after 2 s)" last when the deadline passed.
 */
std::string findReply(CommandContext& context, std::string_view argument,
                      std::chrono::steady_clock::time_point deadline);

/** "find": findReply with the budget from now, in one send. */
void findFiles(CommandContext& context, std::string_view argument);

} // namespace zelvor
