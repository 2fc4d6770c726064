// SPDX-License-Identifier: MIT
#pragma once

#include "server/ClientSession.h"
#include "server/Winsock.h"

#include <cstddef>
#include <string_view>

namespace zelvor {

class ActivityLog;
class MusicFolders;
class Player;
class Scheduler;
class SessionServices;
struct ServerSettings;

/**
 * The owner's own door, the local socket: its clients are the owner at the machine (the socket
 * adapter lets in no other user). Each is served beside the telnet session with its own current
 * folder, from the command prompt on: no login, no telnet. None of them ever takes the session,
 * and up to kMaxLocalClients are served at once; one more gets the busy line.
 */
class LocalServer final : public ConnectionEvents, private Admission
{
public:
    LocalServer(ServerSettings& settings, Connections& socket, ActivityLog& log, Player& player,
                MusicFolders& folders, Scheduler& scheduler, SessionServices& services);
    ~LocalServer() override;
    LocalServer(const LocalServer&) = delete;
    LocalServer& operator=(const LocalServer&) = delete;

    void Winsock1_ConnectionRequest() override;
    std::size_t Winsock1_DataArrival(ConnectionId connection, std::string_view chunk) override;
    void Winsock1_Close(ConnectionId connection) override;
    bool waitsForReply(ConnectionId connection) const override;

    std::size_t clients() const { return m_clients.all().size(); }

private:
    void loggedIn(ClientSession&) override {}
    void loginFailed(ClientSession&) override {}
    void drop(ClientSession& client) override;

    Connections& m_socket;
    SessionParts m_parts;
    ClientList m_clients;
};

/** How many local clients are served at once. */
inline constexpr std::size_t kMaxLocalClients = 8;
/** The address the log and the status words give a local client. */
inline constexpr std::string_view kLocalAddress = "local";

} // namespace zelvor
