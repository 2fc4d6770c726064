// SPDX-License-Identifier: MIT
#pragma once

#include "server/ClientDoor.h"
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
class LocalServer final : public ClientDoor
{
public:
    LocalServer(ServerSettings& settings, Connections& socket, ActivityLog& log, Player& player,
                MusicFolders& folders, Scheduler& scheduler, SessionServices& services);
    ~LocalServer() override;

    void Winsock1_ConnectionRequest() override;

private:
    void loggedIn(ClientSession&) override {}
    void loginFailed(ClientSession&) override {}
    void drop(ClientSession& client) override;
};

/** How many local clients are served at once. */
inline constexpr std::size_t kMaxLocalClients = 8;
/** The address the log and the status words give a local client. */
inline constexpr std::string_view kLocalAddress = "local";

} // namespace zelvor
