// SPDX-License-Identifier: MIT
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace zelvor {

struct KeystrokeState;

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
    /** Telnet option negotiation to send back to the client, as it is to go on the wire. */
    virtual void onNegotiation(std::string_view reply) = 0;
};

/**
 * Splits a chunk into text runs, Backspace and Enter. CR ends a line, and a LF or NUL right
 * after it is dropped, also when it comes in the next chunk; a lone LF ends a line too. BS and
 * DEL erase. Telnet command sequences (IAC ...) and subnegotiations (IAC SB ... IAC SE) are
 * consumed, also when split across chunks; IAC IAC is one data byte 255 (for a client that speaks
 * no telnet, every byte 255 is data). The decoder state lives in the session. Returns how many
 * bytes were taken: all of them, or those up to an Enter after which the sink said stop.
 *
 * Unless it offered its options on accepting (offerOptions), the server starts no negotiation,
 * but it answers one: DO ECHO and DO SUPPRESS-GO-AHEAD are granted, every other option the
 * client offers or asks for is refused, and acknowledgements get no answer. After the client's
 * first telnet command the server offers WILL ECHO and WILL SUPPRESS-GO-AHEAD once each, unless
 * they are already agreed or were offered on accepting, which puts a telnet client in
 * character mode without local echo.
 */
std::size_t decodeKeystrokes(std::string_view chunk, KeystrokeState& session, KeystrokeSink& sink);

/** IAC WILL ECHO IAC WILL SUPPRESS-GO-AHEAD: the offer that goes in front of the greeting. */
inline constexpr std::string_view kOptionOffer = "\xff\xfb\x01\xff\xfb\x03";

/** Marks ECHO and SUPPRESS-GO-AHEAD as offered and returns kOptionOffer to send. */
std::string_view offerOptions(KeystrokeState& session);

/**
 * Whether typed text is echoed: always, except after the client refused the echo that was
 * offered on accepting (IAC DONT ECHO), until it asks for it again.
 */
bool serverEchoes(const KeystrokeState& session);

/** Bytes as they go to the client: every 0xFF doubled once the client speaks telnet. */
std::string_view forClient(std::string_view bytes, const KeystrokeState& session,
                           std::string& storage);

} // namespace zelvor
