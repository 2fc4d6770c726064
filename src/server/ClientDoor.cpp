// SPDX-License-Identifier: MIT
#include "server/ClientDoor.h"

#include <memory>
#include <utility>

namespace zelvor {

ClientDoor::ClientDoor(const SessionParts& parts) : m_parts(parts) {}

ClientDoor::~ClientDoor() = default;

std::size_t ClientDoor::Winsock1_DataArrival(ConnectionId connection, std::string_view chunk)
{
    m_clients.clearClosed();
    ClientSession* client = m_clients.find(connection);
    return client ? client->arrive(chunk) : chunk.size();
}

void ClientDoor::Winsock1_Close(ConnectionId connection)
{
    m_clients.clearClosed();
    if (ClientSession* client = m_clients.find(connection))
        drop(*client);
}

bool ClientDoor::waitsForReply(ConnectionId connection) const
{
    const ClientSession* client = m_clients.find(connection);
    return client && client->waitsForReply();
}

ConnectionId ClientDoor::acceptConnection()
{
    m_clients.clearClosed();
    // A client that has just gone must not stand in the way of the one connecting now: someone
    // who closed the telnet window and connects again at once, a script's next client.
    m_parts.socket.reportEndedConnections();
    return m_parts.socket.accept();
}

void ClientDoor::refuse(ConnectionId connection)
{
    // The line goes out alone, and the clients being served never notice.
    m_parts.socket.send(connection, kBusyLine);
    m_parts.socket.close(connection);
}

ClientSession& ClientDoor::admit(ConnectionId connection, std::string address,
                                 const TelnetSession& fresh)
{
    Admission& door = *this;
    return m_clients.add(
        std::make_unique<ClientSession>(m_parts, door, connection, std::move(address), fresh));
}

} // namespace zelvor
