// SPDX-License-Identifier: MIT
#include "server/SessionInput.h"

#include "server/TelnetSession.h"

#include <cstdint>

namespace zelvor {
namespace {

constexpr unsigned char kIac = 255;
constexpr unsigned char kSb = 250;
constexpr unsigned char kSe = 240;
constexpr unsigned char kWill = 251;
constexpr unsigned char kWont = 252;
constexpr unsigned char kDo = 253;
constexpr unsigned char kDont = 254;
constexpr unsigned char kEcho = 1;
constexpr unsigned char kSuppressGoAhead = 3;

enum TelnetState : std::uint8_t
{
    kData = 0,
    kAfterIac,
    kOptionByte,
    kSubnegotiation,
    kSubnegotiationIac,
};

void reply(KeystrokeSink& sink, unsigned char verb, unsigned char option)
{
    const char bytes[] = {static_cast<char>(kIac), static_cast<char>(verb),
                          static_cast<char>(option)};
    sink.onNegotiation(std::string_view(bytes, sizeof bytes));
}

std::uint8_t* serverOption(KeystrokeState& session, unsigned char option)
{
    if (option == kEcho)
        return &session.echoOption;
    if (option == kSuppressGoAhead)
        return &session.suppressGoAheadOption;
    return nullptr;
}

/**
 * One option request from the client, answered by the rules of RFC 1143: a request that would
 * change nothing, or that acknowledges the server's own offer, gets no answer, so the two
 * sides can never fall into a loop.
 */
void answerOption(KeystrokeState& session, unsigned char verb, unsigned char option,
                  KeystrokeSink& sink)
{
    std::uint8_t* state = serverOption(session, option);
    switch (verb) {
    case kDo:
        if (!state)
            reply(sink, kWont, option);
        else if (*state == kOptionOff)
            reply(sink, kWill, option);
        if (state)
            *state = kOptionOn;
        break;
    case kDont:
        if (state && *state == kOptionOn)
            reply(sink, kWont, option);
        if (state)
            *state = kOptionOff;
        break;
    case kWill:
        // Nothing the client could do for us is wanted; its own echo least of all.
        reply(sink, kDont, option);
        break;
    default:
        // WONT: the client's side of every option stays off anyway.
        break;
    }
}

/**
 * The client has sent a telnet command; unless the server offered its options on accepting,
 * the first one makes it offer them now.
 */
void clientSpeaksTelnet(KeystrokeState& session, KeystrokeSink& sink)
{
    if (session.clientNegotiates)
        return;
    session.clientNegotiates = true;
    // An option the client has refused since is not offered again.
    if (session.offeredOnAccept)
        return;
    for (const unsigned char option : {kEcho, kSuppressGoAhead}) {
        std::uint8_t* state = serverOption(session, option);
        if (*state == kOptionOff) {
            *state = kOptionOffered;
            reply(sink, kWill, option);
        }
    }
}

} // namespace

std::string_view offerOptions(KeystrokeState& session)
{
    session.offeredOnAccept = true;
    session.echoOption = kOptionOffered;
    session.suppressGoAheadOption = kOptionOffered;
    return kOptionOffer;
}

bool serverEchoes(const KeystrokeState& session)
{
    return !session.offeredOnAccept || session.echoOption != kOptionOff;
}

std::string_view forClient(std::string_view bytes, const KeystrokeState& session,
                           std::string& storage)
{
    if (!session.clientNegotiates || bytes.find(static_cast<char>(kIac)) == std::string_view::npos)
        return bytes;
    storage.clear();
    storage.reserve(bytes.size() + 16);
    for (const char c : bytes) {
        storage += c;
        if (static_cast<unsigned char>(c) == kIac)
            storage += c;
    }
    return storage;
}

std::size_t decodeKeystrokes(std::string_view chunk, KeystrokeState& session, KeystrokeSink& sink)
{
    std::size_t runStart = 0;
    std::size_t runEnd = 0;
    auto flushRun = [&] {
        if (runEnd > runStart)
            sink.onText(chunk.substr(runStart, runEnd - runStart));
    };
    // A run is a stretch of consecutive data bytes; anything else ends it.
    auto breakRun = [&](std::size_t next) {
        flushRun();
        runStart = runEnd = next;
    };

    for (std::size_t i = 0; i < chunk.size(); ++i) {
        const auto byte = static_cast<unsigned char>(chunk[i]);
        switch (session.telnetState) {
        case kAfterIac:
            if (byte == kIac) {
                // IAC IAC stands for the data byte 255; it is the second IAC that we keep.
                session.telnetState = kData;
                session.afterCarriageReturn = false;
                clientSpeaksTelnet(session, sink);
                runStart = i;
                runEnd = i + 1;
                continue;
            }
            session.telnetState = byte == kSb                        ? kSubnegotiation
                                  : (byte >= kWill && byte <= kDont) ? kOptionByte
                                                                     : kData;
            session.telnetVerb = byte;
            if (session.telnetState == kData)
                clientSpeaksTelnet(session, sink);
            runStart = runEnd = i + 1;
            continue;
        case kOptionByte:
            session.telnetState = kData;
            answerOption(session, session.telnetVerb, byte, sink);
            clientSpeaksTelnet(session, sink);
            runStart = runEnd = i + 1;
            continue;
        case kSubnegotiation:
            if (byte == kIac)
                session.telnetState = kSubnegotiationIac;
            runStart = runEnd = i + 1;
            continue;
        case kSubnegotiationIac:
            session.telnetState = byte == kSe ? kData : kSubnegotiation;
            if (session.telnetState == kData)
                clientSpeaksTelnet(session, sink);
            runStart = runEnd = i + 1;
            continue;
        default:
            break;
        }

        if (byte == kIac && session.telnet) {
            breakRun(i + 1);
            session.telnetState = kAfterIac;
            continue;
        }
        const bool afterCr = session.afterCarriageReturn;
        session.afterCarriageReturn = false;
        if (byte == '\r' || (byte == '\n' && !afterCr)) {
            breakRun(i + 1);
            session.afterCarriageReturn = byte == '\r';
            if (!sink.onEnter())
                return i + 1;
        } else if ((byte == '\n' || byte == '\0') && afterCr) {
            // The second half of the client's Enter key (CR LF or CR NUL).
            breakRun(i + 1);
        } else if (byte == '\b' || byte == 0x7f) {
            breakRun(i + 1);
            sink.onBackspace();
        } else {
            if (runEnd != i)
                runStart = i;
            runEnd = i + 1;
        }
    }
    flushRun();
    return chunk.size();
}

} // namespace zelvor
