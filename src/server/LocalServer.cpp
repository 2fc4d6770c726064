// SPDX-License-Identifier: MIT
#include "server/LocalServer.h"

#include <string>

namespace zelvor {

LocalServer::LocalServer(ServerSettings& settings, Connections& socket, ActivityLog& log,
                         Player& player, MusicFolders& folders, Scheduler& scheduler,
                         SessionServices& services)
    : ClientDoor({settings, socket, log, player, folders, scheduler, services})
{}

LocalServer::~LocalServer() = default;

void LocalServer::Winsock1_ConnectionRequest()
{
    const ConnectionId connection = acceptConnection();
    if (connection == 0)
        return;
    if (m_clients.all().size() >= kMaxLocalClients) {
        refuse(connection);
        return;
    }
    TelnetSession fresh;
    fresh.Stage = SessionStage::Command;
    fresh.telnet = false;
    admit(connection, std::string(kLocalAddress), fresh).greet(/*offerOptions=*/false);
}

void LocalServer::drop(ClientSession& client)
{
    m_clients.close(client);
}

} // namespace zelvor
