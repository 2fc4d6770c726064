// SPDX-License-Identifier: MIT
#pragma once

#include "server/Winsock.h"

#include <cstdint>
#include <string>
#include <string_view>

namespace zelvor {

/** What InputFlow needs from the socket adapter for its connection. */
class FlowSocket
{
public:
    virtual ~FlowSocket() = default;
    /** False once the handler has closed the connection. */
    virtual bool stillOpen() const = 0;
    /** Sends what the handler wrote, as far as the system takes it now. */
    virtual void flushReplies() = 0;
    /** How many bytes are waiting to be sent. */
    virtual std::int64_t backlog() const = 0;
};

/**
 * The input side of one connection, the same on every platform: what was received and the
 * server has not taken yet, and whether reading is held back because the client does not take
 * its replies. The adapter reads, sends and runs the stall timer; this decides when.
 */
class InputFlow
{
public:
    enum class Next
    {
        /** Keep reading as before. */
        Read,
        /** Reading stopped, or the client is slow but still taking replies: (re)start the stall
         * timer (kSendStallLimit). */
        Stall,
        /** Reading starts again: stop the stall timer, read what waits and deliver it. */
        Resume,
        /** The connection was closed while its input was handed over. */
        Gone,
    };

    explicit InputFlow(ConnectionId id) : m_id(id) {}

    void append(std::string_view bytes) { m_input.append(bytes); }
    /** False while the client's replies back up, or while the server waits to answer it. */
    bool reading() const { return m_reading && !m_held; }
    /** The server answers again: reading may start afresh. */
    void release() { m_held = false; }
    /** Hands what waits to the server for as long as the client keeps up with its replies;
     * Read, Stall or Gone. */
    Next deliver(ConnectionEvents& server, FlowSocket& socket);
    /** Some of the replies went out; Read, Stall or Resume. */
    Next sent(std::int64_t backlog);

private:
    ConnectionId m_id;
    std::string m_input;
    bool m_reading = true;
    /** The server took nothing because its reply is pending; unread input stays with the
     * system, and TCP holds the client back meanwhile. */
    bool m_held = false;
};

/** True when more waits to be sent than a client should have to hold. */
inline bool overBacklog(std::int64_t backlog)
{
    return backlog > kSendBacklogHigh;
}

} // namespace zelvor
