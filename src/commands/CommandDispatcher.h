// SPDX-License-Identifier: MIT
#pragma once

#include "commands/CommandSession.h"

#include <cstdint>
#include <string_view>

namespace zelvor {

/** What ProcessCommand asks the session to prompt with next. */
enum class PromptSelector : std::int16_t
{
    /** A player command found no player; the failure line has been sent. */
    PlayerMissing = -1,
    /** The command prompt follows. */
    Command = 0,
    /** "exit" has closed the connection: no prompt. */
    Closed = 3,
    /** The reply and the prompt come later, through CommandHost::deferReply. */
    Pending = 4,
    /** "np follow": no prompt; the session pushes np lines until the next keystroke. */
    Following = 5,
};

/**
 * Carries out the line in session.CommandLine (which it overwrites with the verb); writes the
 * reply (CR LF first) and returns the prompt selector.
 */
PromptSelector ProcessCommand(CommandContext& context);

/** The reply to a verb that is not a command, which the verb follows. */
inline constexpr std::string_view kUnknownVerb = "\r\nI don't know how to ";

} // namespace zelvor
