// SPDX-License-Identifier: MIT
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace zelvor {

/** Above this much unsent data the socket stops reading from the client... */
inline constexpr std::int64_t kSendBacklogHigh = 4 * 1024 * 1024;
/** ...and reads again once it is below this. */
inline constexpr std::int64_t kSendBacklogLow = 1024 * 1024;
/** A client that takes nothing for this long is disconnected. */
inline constexpr std::chrono::seconds kSendStallLimit{60};

/** A connection the socket holds, as the socket names it; never 0. */
using ConnectionId = std::uint64_t;

/**
 * The connections a listener accepted, as the door that admits clients uses them. The
 * event-loop adapter implements it and reports each connection's notifications to its
 * ConnectionEvents: a connection request, data that arrived on a connection, a connection's end.
 */
class Connections
{
public:
    virtual ~Connections() = default;
    /** Takes the connection whose request was just reported; 0 when it went away. */
    virtual ConnectionId accept() = 0;
    /**
     * Reports, now, the end of every held connection whose close or reset is already waiting to
     * be read: what it sent before it went is handed over first, as at any end.
     */
    virtual void reportEndedConnections() = 0;
    virtual void send(ConnectionId connection, std::string_view bytes) = 0;
    /**
     * Closes a connection after what was sent to it has gone out as far as it goes without
     * waiting. It raises no end notification; unknown ids are ignored.
     */
    virtual void close(ConnectionId connection) = 0;
    /** The remote end's address in dotted form; empty for an unknown connection. */
    virtual std::string remoteHostIP(ConnectionId connection) const = 0;
    /** True while more is waiting to be sent to the client than it should have to hold. */
    virtual bool congested(ConnectionId) const { return false; }
    /**
     * Hands the connection's input in again: after the server took none of it (a reply it
     * waits for), the socket reads no more from that connection until this is called.
     */
    virtual void resumeInput(ConnectionId) {}
};

/** The TCP listener, open while clients are connected, and the connections it accepted. */
class Winsock : public Connections
{
public:
    enum class ListenResult
    {
        Listening,
        AddressInUse,
        NotPermitted,
        Failed,
    };

    using Connections::close;
    /**
     * Listens on address, a numeric IPv4 or IPv6 address without brackets; empty: on all local
     * addresses, IPv4 and IPv6. A listener already open on that port and address is kept as it
     * is; one on another is closed first. Connections are not touched.
     */
    virtual ListenResult listen(std::uint16_t port, const std::string& address) = 0;
    /** Closes the listener; connections are not touched. */
    virtual void stopListening() = 0;
    /** Closes the listener and every connection, without a word to the clients: shutdown. */
    virtual void close() = 0;
    /** The system's words for the last failure, for the error output. */
    virtual std::string lastError() const = 0;
};

/** What a listener's adapter reports to the door that admits its clients. */
class ConnectionEvents
{
public:
    virtual ~ConnectionEvents() = default;
    /** A client asks to connect: the door accepts it (Connections::accept) or leaves it. */
    virtual void Winsock1_ConnectionRequest() = 0;
    /**
     * Everything that arrived on a connection, as one chunk. Returns how many bytes were used;
     * the socket keeps the rest and hands it in again once the client has read enough of what
     * was sent to it.
     */
    virtual std::size_t Winsock1_DataArrival(ConnectionId connection, std::string_view chunk) = 0;
    /** The connection ended (or must end: it stalled or failed): close it. */
    virtual void Winsock1_Close(ConnectionId connection) = 0;
    /** True while the client waits for a late reply: its input is not taken meanwhile. */
    virtual bool waitsForReply(ConnectionId connection) const = 0;
};

} // namespace zelvor
