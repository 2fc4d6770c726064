// SPDX-License-Identifier: MIT
#pragma once

#include "commands/CommandSession.h"

#include <chrono>
#include <cstdint>
#include <string>

namespace zelvor {

/** Above this much unsent data the socket stops reading from the client... */
inline constexpr std::int64_t kSendBacklogHigh = 4 * 1024 * 1024;
/** ...and reads again once it is below this. */
inline constexpr std::int64_t kSendBacklogLow = 1024 * 1024;
/** A client that takes nothing for this long is disconnected. */
inline constexpr std::chrono::seconds kSendStallLimit{60};

/**
 * The one socket: it either listens on the port or carries the single client connection.
 * The event-loop adapter implements it and reports the socket's notifications to TelnetServer.
 */
class Winsock : public Connection
{
public:
    enum class ListenResult
    {
        Listening,
        AddressInUse,
        NotPermitted,
        Failed,
    };

    /** Listens on all local addresses, IPv4 and IPv6. */
    virtual ListenResult listen(std::uint16_t port) = 0;
    /** Closes whatever is open, without raising the remote-close notification. */
    virtual void close() = 0;
    virtual bool isClosed() const = 0;
    /** Takes the connection whose request was just reported; false when it went away. */
    virtual bool accept() = 0;
    /** The remote end's address in dotted form; empty when nothing is connected. */
    virtual std::string remoteHostIP() const = 0;
    /** The system's words for the last failure, for the error output. */
    virtual std::string lastError() const = 0;
    /** True while more is waiting to be sent to the client than it should have to hold. */
    virtual bool congested() const { return false; }
    /**
     * Hands the client's input in again: after the server took none of it (a reply it waits
     * for), the socket reads no more until this is called.
     */
    virtual void resumeInput() {}
};

} // namespace zelvor
