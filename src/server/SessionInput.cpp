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
constexpr unsigned char kDont = 254;

enum TelnetState : std::uint8_t
{
    kData = 0,
    kAfterIac,
    kOptionByte,
    kSubnegotiation,
    kSubnegotiationIac,
};

} // namespace

std::size_t decodeKeystrokes(std::string_view chunk, TelnetSession& session, KeystrokeSink& sink)
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
                runStart = runEnd = i;
                runEnd = i + 1;
                continue;
            }
            session.telnetState = byte == kSb                        ? kSubnegotiation
                                  : (byte >= kWill && byte <= kDont) ? kOptionByte
                                                                     : kData;
            runStart = runEnd = i + 1;
            continue;
        case kOptionByte:
            session.telnetState = kData;
            runStart = runEnd = i + 1;
            continue;
        case kSubnegotiation:
            if (byte == kIac)
                session.telnetState = kSubnegotiationIac;
            runStart = runEnd = i + 1;
            continue;
        case kSubnegotiationIac:
            session.telnetState = byte == kSe ? kData : kSubnegotiation;
            runStart = runEnd = i + 1;
            continue;
        default:
            break;
        }

        if (byte == kIac) {
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
