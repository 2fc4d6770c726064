// SPDX-License-Identifier: MIT
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace zelvor {

/** One way to read a player command line: the program, and the text of its arguments. */
struct ProgramCandidate
{
    std::string program;
    std::string arguments;

    bool operator==(const ProgramCandidate&) const = default;
};

/**
 * The readings of a command line in the order Windows tries them: a quoted first word is the
 * only candidate; an unquoted line with blanks gives one candidate per prefix that ends before a
 * blank, shortest first, and the whole line last. The first candidate whose program names an
 * executable file is the one to start. Empty when the line holds no program at all.
 */
std::vector<ProgramCandidate> programCandidates(std::string_view commandLine);

/**
 * Splits argument text as the Windows C runtime does: blanks and tabs separate words, double
 * quotes group, 2n backslashes before a quote give n and the quote groups, 2n+1 give n and a
 * literal quote, "" inside quotes gives a literal quote, other backslashes stay as they are.
 */
std::vector<std::string> splitArguments(std::string_view text);

} // namespace zelvor
