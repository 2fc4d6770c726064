// SPDX-License-Identifier: MIT
#pragma once

#include "server/ClientSession.h"
#include "server/TelnetSession.h"
#include "server/Winsock.h"

#include <cstddef>
#include <string>
#include <string_view>

namespace zelvor {

/**
 * What every door does alike: it keeps its clients, hands each connection's data and end to
 * the client it is for, and sends the busy line to a connection it does not serve. Who gets in
 * is the door's own (Winsock1_ConnectionRequest, Admission).
 */
class ClientDoor : public ConnectionEvents, private Admission
{
public:
    ~ClientDoor() override;
    ClientDoor(const ClientDoor&) = delete;
    ClientDoor& operator=(const ClientDoor&) = delete;

    std::size_t Winsock1_DataArrival(ConnectionId connection, std::string_view chunk) override;
    void Winsock1_Close(ConnectionId connection) override;
    bool waitsForReply(ConnectionId connection) const override;

    /** How many clients are connected. */
    std::size_t clients() const { return m_clients.all().size(); }

protected:
    explicit ClientDoor(const SessionParts& parts);

    /** Accepts the connection that asks, once the clients that have gone are forgotten; 0 when
     * none is there. */
    ConnectionId acceptConnection();
    /** Sends the connection kBusyLine and closes it. */
    void refuse(ConnectionId connection);
    /** Serves the connection as a client that starts with fresh. */
    ClientSession& admit(ConnectionId connection, std::string address, const TelnetSession& fresh);

    SessionParts m_parts;
    ClientList m_clients;
};

/** The one line a client gets when it cannot be served; then it is closed. */
inline constexpr std::string_view kBusyLine = "Zelvor is busy: one client at a time.\r\n";

} // namespace zelvor
