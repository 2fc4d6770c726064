// SPDX-License-Identifier: MIT
#pragma once

#include <cstddef>
#include <string_view>

namespace zelvor {

struct TelnetSession;

/** Receives the keystrokes that one arriving chunk holds, in order. */
class KeystrokeSink
{
public:
    virtual ~KeystrokeSink() = default;
    /** A run of ordinary bytes that arrived together. */
    virtual void onText(std::string_view run) = 0;
    virtual void onBackspace() = 0;
    /** Returns false to stop decoding after this Enter (the connection ended, or must wait). */
    virtual bool onEnter() = 0;
};

/**
 * Splits a chunk into text runs, Backspace and Enter. CR ends a line, and a LF or NUL right
 * after it is dropped, also when it comes in the next chunk; a lone LF ends a line too. BS and
 * DEL erase. Telnet command sequences (IAC ...) are consumed, also when split across chunks;
 * IAC IAC is one data byte 255. The decoder state lives in the session. Returns how many bytes
 * were taken: all of them, or those up to an Enter after which the sink said stop.
 */
std::size_t decodeKeystrokes(std::string_view chunk, TelnetSession& session, KeystrokeSink& sink);

} // namespace zelvor
