// SPDX-License-Identifier: MIT
#pragma once

#include "commands/CommandSession.h"
#include "settings/ServerSettings.h"

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
    /** WILL, WONT, DO or DONT while its option byte is still to come. */
    std::uint8_t telnetVerb = 0;

    /** The client has sent a telnet command: it speaks the protocol, so 0xFF goes out doubled. */
    bool clientNegotiates = false;
    /** The server offered its options on accepting: a refused echo then stops the echo. */
    bool offeredOnAccept = false;
    /** Where the server stands on echoing and on suppressing go-ahead (TelnetOption). */
    std::uint8_t echoOption = 0;
    std::uint8_t suppressGoAheadOption = 0;

    // A line that grew past kMaxLineLength lost bytes: such a user name or password never
    // matches.
    bool userOverflowed = false;
    bool passOverflowed = false;
};

/** The server's side of an option it is willing to enable (ECHO, SUPPRESS-GO-AHEAD). */
enum TelnetOption : std::uint8_t
{
    kOptionOff = 0,
    /** The server has offered it and waits for the client's answer. */
    kOptionOffered,
    kOptionOn,
};

} // namespace zelvor
