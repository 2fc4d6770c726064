// SPDX-License-Identifier: MIT
#include "server/TelnetServer.h"

#include "server/ActivityLog.h"
#include "server/Winsock.h"
#include "settings/ListenAddress.h"
#include "settings/ServerSettings.h"

#include <utility>

namespace zelvor {

TelnetServer::TelnetServer(ServerSettings& settings, Winsock& socket, ActivityLog& log,
                           Player& player, MusicFolders& folders, Scheduler& scheduler)
    : ClientDoor({settings, socket, log, player, folders, scheduler, m_services}), m_socket(socket),
      m_services(player, scheduler, [this](std::string_view word) { LogActivity(word); })
{}

TelnetServer::~TelnetServer() = default;

bool TelnetServer::follows(ConnectionId connection) const
{
    const ClientSession* client = m_clients.find(connection);
    return client && client->follows();
}

void TelnetServer::Server_Load()
{
    const std::string portText = m_parts.settings.Port;
    const std::uint16_t port = parsePort(portText);
    const auto address = listenAddress(m_parts.settings.ListenAddress);
    std::string failure;
    if (port == 0) {
        m_socket.stopListening();
        failure = "port " + portText + " invalid";
    } else if (!address) {
        m_socket.stopListening();
        failure = "address " + m_parts.settings.ListenAddress + " invalid";
    } else {
        switch (m_socket.listen(port, *address)) {
        case Winsock::ListenResult::Listening:
            break;
        case Winsock::ListenResult::AddressInUse:
            failure = "port " + portText + " in use";
            break;
        case Winsock::ListenResult::NotPermitted:
            failure = "port " + portText + " not permitted";
            break;
        case Winsock::ListenResult::Failed:
            failure = "port " + portText + " failed";
            break;
        }
    }
    m_listening = failure.empty();

    m_fresh = TelnetSession{};
    m_fresh.Stage = m_parts.settings.LoginRequired ? SessionStage::User : SessionStage::Command;

    if (!failure.empty()) {
        // The listener stays closed until the next Restart; the status line says why.
        if (onError)
            onError("cannot listen: " + failure +
                    (port && address ? ": " + m_socket.lastError() : ""));
        m_parts.log.LogActivity(failure, m_lastAddress);
        return;
    }
    m_parts.log.LogActivity("started", m_lastAddress);
}

void TelnetServer::Winsock1_ConnectionRequest()
{
    const ConnectionId connection = acceptConnection();
    if (connection == 0)
        return;
    const std::string address = m_socket.remoteHostIP(connection);
    const bool loginRequired = m_fresh.Stage != SessionStage::Command;
    if (m_penalties.refuses(address) || (!loginRequired && m_session)) {
        refuse(connection);
        return;
    }
    if (loginRequired) {
        std::size_t waiting = 0;
        ClientSession* sameAddress = nullptr;
        for (const auto& client : m_clients.all()) {
            if (client.get() == m_session)
                continue;
            ++waiting;
            if (client->address() == address)
                sameAddress = client.get();
        }
        if (sameAddress) {
            // A phone that lost its network and came back: the new connection is the one
            // that counts.
            drop(*sameAddress);
        } else if (waiting >= kMaxWaitingClients) {
            refuse(connection);
            return;
        }
    }
    ClientSession& client = admit(connection, address, m_fresh);
    if (client.session().Stage == SessionStage::Command)
        m_session = &client;
    client.greet(m_parts.settings.Negotiate);
}

void TelnetServer::Winsock1_Close()
{
    if (m_session)
        drop(*m_session);
}

void TelnetServer::drop(ClientSession& client)
{
    const bool wasSession = m_session == &client;
    if (!close(client))
        return;
    // The session's end, or the last client's, opens the listener afresh, as at start.
    if (wasSession || (m_session == nullptr && m_clients.all().empty()))
        Server_Load();
}

bool TelnetServer::close(ClientSession& client)
{
    const std::string address = client.address();
    if (m_session == &client)
        m_session = nullptr;
    if (!m_clients.close(client))
        return false;
    m_lastAddress = address;
    return true;
}

void TelnetServer::Cmd_Start_Click()
{
    m_clients.clearClosed();
    if (m_clients.all().empty())
        m_parts.log.LogActivity("disconnecting", m_lastAddress);
    while (!m_clients.all().empty())
        close(*m_clients.all().front());
    Server_Load();
}

const TelnetSession& TelnetServer::session() const
{
    if (m_session)
        return m_session->session();
    if (!m_clients.all().empty())
        return m_clients.all().back()->session();
    return m_fresh;
}

void TelnetServer::LogActivity(std::string_view word)
{
    m_parts.log.LogActivity(word, m_session ? std::string_view(m_session->address()) : "");
}

void TelnetServer::loggedIn(ClientSession& client)
{
    m_penalties.forgive(client.address());
    if (ClientSession* previous = std::exchange(m_session, &client)) {
        // The owner logging in from elsewhere (or again, after a dropped connection) is never
        // locked out by the session they left behind.
        previous->send("Logged in from " + client.address() + ".\r\n");
        drop(*previous);
    }
    const auto& all = m_clients.all();
    for (std::size_t i = all.size(); i-- > 0;) {
        ClientSession& other = *all[i];
        if (&other == &client)
            continue;
        other.send(kBusyLine);
        drop(other);
    }
    client.enterCommandStage();
}

void TelnetServer::loginFailed(ClientSession& client)
{
    const std::chrono::seconds penalty = m_penalties.punish(client.address());
    client.log("penalty " + std::to_string(penalty.count()) + " s");
}

} // namespace zelvor
