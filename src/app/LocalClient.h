// SPDX-License-Identifier: MIT
#pragma once

#include <string>
#include <vector>

namespace zelvor {

/** The exit statuses of the local socket's client. */
enum ClientStatus : int
{
    kClientDone = 0,
    kClientLineFailed = 1,
    kClientNotRunning = 3,
};

/**
 * zelvor -c: runs each line on the local socket at socketPath, in order, and prints each reply
 * on standard output as printedReply gives it. Stops after a line that ended the session.
 */
int runCommandLines(const std::string& socketPath, const std::vector<std::string>& lines);

/**
 * zelvor --attach: with a terminal on standard input, relays the session both ways in raw mode
 * until the server closes it or the input ends, and restores the terminal on every way out;
 * without one, runs one command line per input line as runCommandLines does.
 */
int attachSession(const std::string& socketPath);

} // namespace zelvor
