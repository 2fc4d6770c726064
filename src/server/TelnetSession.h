// SPDX-License-Identifier: MIT
#pragma once

#include "commands/CommandSession.h"
#include "settings/ServerSettings.h"

#include <cstddef>
#include <cstdint>
#include <string>

namespace zelvor {

/** The stage of one client's session; ClientSession::sendPrompt prompts by it (Closed: none). */
enum class SessionStage : std::int16_t
{
    Command = 0,
    User = 1,
    Pass = 2,
    Closed = 3,
};

/** What the keystroke decoder carries from one chunk to the next, telnet options included. */
struct KeystrokeState
{
    /** False for a client that speaks no telnet (the local door): 0xFF is then a plain byte. */
    bool telnet = true;
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
};

/** The user name and password typed so far. */
struct LoginBuffers
{
    std::string UserBuffer;
    std::string PassBuffer;
    // A line that grew past kMaxLineLength lost bytes: such a user name or password never
    // matches.
    bool userOverflowed = false;
    bool passOverflowed = false;
};

/**
 * The state of one client's session: its input decoding, its login and what its commands work
 * on. Each client starts with the one the last opening of the listener set up.
 */
struct TelnetSession : CommandState, LoginBuffers, KeystrokeState
{
    SessionStage Stage = SessionStage::User;
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
