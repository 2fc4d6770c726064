// SPDX-License-Identifier: MIT
#pragma once

#include "commands/PlayerReply.h"

#include <cstddef>
#include <string_view>

namespace zelvor {

struct CommandContext;

// The directory commands. The argument is the text from the first blank of the line on, blank
// included; the name is the argument without that blank. CurrentDir stays in the client's form
// ("\" for the root, "\Rock\Live\" below it). A path that resolves outside the server root is
// treated as not there at all.

/**
 * The longest CurrentDir: a cd that would make it longer is treated like a missing folder, so a
 * client repeating "cd ." cannot grow it without bound.
 */
inline constexpr std::size_t kMaxCurrentDirLength = 4096;

/** "pwd": sends CR LF and CurrentDir. */
void printWorkingDirectory(CommandContext& context);

/** "cd": changes CurrentDir to an existing folder, "\" or ".."; sends nothing. */
void changeDirectory(CommandContext& context, std::string_view argument);

/** "ls": sends CR LF and the pattern shown as a host path, then CR LF and each name, one send each.
 */
void listDirectory(CommandContext& context, std::string_view argument);

/** "load": hands the player the host path of a file or folder, and ends the line without a
 * reply once the player has taken it. */
void loadPath(CommandContext& context, std::string_view argument, LineDone done);

} // namespace zelvor
