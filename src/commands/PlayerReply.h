// SPDX-License-Identifier: MIT
#pragma once

#include "commands/CommandDispatcher.h"
#include "commands/CommandSession.h"
#include "player/Player.h"

#include <functional>
#include <string>
#include <string_view>

namespace zelvor {

/** How a command line that used the player ends: its reply (CR LF first, may be empty) and the
 * prompt selector. */
struct LineEnd
{
    std::string reply;
    PromptSelector selector = PromptSelector::Command;
};

/** Ends a command line; called once, at once or later from the event loop. */
using LineDone = std::function<void(LineEnd)>;

inline constexpr std::string_view kFailureLine = "\r\nCommand Failed - Winamp may not be running";

/** The failure line of a command that found no player. */
LineEnd playerMissing();
/** A reply after which the command prompt follows. */
LineEnd replied(std::string reply);

/** What a player's answer is named by in its "not available" line. */
enum class Feature
{
    Command,
    Shuffle,
    Repeat,
    Volume,
    Clear,
    Close,
};

/** A plain player command's end: nothing when done, "<Feature> not available" when not
 * offered, the failure line otherwise. */
LineEnd endOf(const PlayerAnswer& answer, Feature feature = Feature::Command);

/**
 * Runs the player work of a command line inside the player's command line
 * (Player::beginCommandLine), which the work ends through the function it is given; that end
 * also ends the player's command line (Player::endCommandLine). Ended before
 * work returns, the reply is sent at once and its selector returned; else the reply is put off
 * (CommandHost::deferReply) and Pending returned, and the late end sends it, then ends the
 * player's line. The work must not
 * keep the context: only the player and the host outlive the line's call.
 */
PromptSelector replyWhenDone(CommandContext& context, const std::function<void(LineDone)>& work);

} // namespace zelvor
