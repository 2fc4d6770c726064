// SPDX-License-Identifier: MIT
#pragma once

#include <string>
#include <vector>

#include <sys/types.h>

namespace zelvor {

/**
 * Starts a player command line as a detached process and returns its process id, or -1 when no
 * reading of the line names a program that could be started.
 *
 * The line is read the way Windows reads a command line (see programCandidates); a program
 * without a slash is searched in PATH. The process runs in a session of its own with the
 * server's environment and current folder, stdin, stdout and stderr on /dev/null and no other
 * descriptor. It is not a child of the server, so nothing waits for it and no zombie is left.
 */
pid_t launchProgram(const std::string& commandLine);

/** Starts the program the same way, with these arguments as they are. */
pid_t launchProgram(const std::string& program, const std::vector<std::string>& arguments);

/** True when launchProgram would find the program (a reading of a line, see ProgramFinder). */
bool canStartProgram(const std::string& program);

/** True while the process of this id (one that launchProgram started) has not ended. */
bool programAlive(pid_t process);

} // namespace zelvor
