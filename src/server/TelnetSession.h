// SPDX-License-Identifier: MIT
#pragma once

#include "commands/CommandSession.h"

#include <cstddef>
#include <cstdint>
#include <string>

namespace zelvor {

/** The stage of the one client connection; SendPrompt prompts by it (Closed: no prompt). */
enum class SessionStage : std::int16_t
{
    Command = 0,
    User = 1,
    Pass = 2,
    Closed = 3,
};

/** The state of the one client connection; reset by every opening of the listener. */
struct TelnetSession : CommandState
{
    SessionStage Stage = SessionStage::User;
    std::string UserBuffer;
    std::string PassBuffer;

    // Input decoding carried from one chunk to the next.
    bool afterCarriageReturn = false;
    std::uint8_t telnetState = 0;
};

/** The most bytes one of the three input buffers holds; the rest of that line is dropped. */
inline constexpr std::size_t kMaxLineLength = 1024;

} // namespace zelvor
