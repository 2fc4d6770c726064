// SPDX-License-Identifier: MIT
#include "server/LocalServer.h"

#include "server/TelnetServer.h"

namespace zelvor {

LocalServer::LocalServer(ServerSettings& settings, Connections& socket, ActivityLog& log,
                         Player& player, MusicFolders& folders, Scheduler& scheduler,
                         SessionServices& services)
    : m_socket(socket), m_parts{settings, socket, log, player, folders, scheduler, services}
{}

LocalServer::~LocalServer() = default;

void LocalServer::Winsock1_ConnectionRequest()
{
    m_clients.clearClosed();
    // A script's client that has just gone must not take a place from the next one.
    m_socket.reportEndedConnections();
    const ConnectionId connection = m_socket.accept();
    if (connection == 0)
        return;
    if (m_clients.all().size() >= kMaxLocalClients) {
        m_socket.send(connection, kBusyLine);
        m_socket.close(connection);
        return;
    }
    TelnetSession fresh;
    fresh.Stage = SessionStage::Command;
    fresh.telnet = false;
    Admission& door = *this;
    m_clients
        .add(std::make_unique<ClientSession>(m_parts, door, connection, std::string(kLocalAddress),
                                             fresh))
        .greet(/*offerOptions=*/false);
}

std::size_t LocalServer::Winsock1_DataArrival(ConnectionId connection, std::string_view chunk)
{
    m_clients.clearClosed();
    ClientSession* client = m_clients.find(connection);
    return client ? client->arrive(chunk) : chunk.size();
}

void LocalServer::Winsock1_Close(ConnectionId connection)
{
    m_clients.clearClosed();
    if (ClientSession* client = m_clients.find(connection))
        drop(*client);
}

bool LocalServer::waitsForReply(ConnectionId connection) const
{
    const ClientSession* client = m_clients.find(connection);
    return client && client->waitsForReply();
}

void LocalServer::drop(ClientSession& client)
{
    m_clients.close(client);
}

} // namespace zelvor
