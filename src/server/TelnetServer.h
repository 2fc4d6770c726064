// SPDX-License-Identifier: MIT
#pragma once

#include "server/ClientDoor.h"
#include "server/ClientSession.h"
#include "server/LoginPenalties.h"
#include "server/SessionServices.h"
#include "server/TelnetSession.h"
#include "server/Winsock.h"

#include <chrono>
#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace zelvor {

class ActivityLog;
class MusicFolders;
class Player;
class Scheduler;
struct ServerSettings;

/**
 * The telnet door: the listener's life cycle and who of its clients gets the session (the
 * clients at the login prompt, take-over by login, the busy line, the login penalties). Each
 * client's input, login and prompts are its ClientSession's; the sleep timer is the services',
 * which every door's clients share.
 *
 * One client at a time has the session. With login on, up to kMaxWaitingClients more, at most
 * one per address, may sit at the login prompt; the first of them to log in takes the session
 * over. Everyone else is sent kBusyLine and closed.
 */
class TelnetServer final : public ClientDoor
{
public:
    TelnetServer(ServerSettings& settings, Winsock& socket, ActivityLog& log, Player& player,
                 MusicFolders& folders, Scheduler& scheduler);
    ~TelnetServer() override;

    /** Listens with the current port (the open listener is kept when the port is the same) and
     * takes the current login option for the clients to come. */
    void Server_Load();
    /** A client asks to connect: accept it, then greet it or tell it the server is busy. */
    void Winsock1_ConnectionRequest() override;
    using ClientDoor::Winsock1_Close;
    /** Ends the session's connection and listens again. */
    void Winsock1_Close();
    /** The Restart button: closes every client and listens again with the current settings. */
    void Cmd_Start_Click();
    /** True while the client follows np lines until its next keystroke. */
    bool follows(ConnectionId connection) const;

    /** Shows the word and logs it with the session's address. */
    void LogActivity(std::string_view word);

    std::optional<std::chrono::milliseconds> sleepTimeLeft() const
    {
        return m_services.sleepTimeLeft();
    }
    /** What the commands of every door's clients share. */
    SessionServices& services() { return m_services; }

    /** The session's state; without one, the newest waiting client's; without any client, the
     * state the next one starts with. */
    const TelnetSession& session() const;
    bool listening() const { return m_listening; }
    const LoginPenalties& penalties() const { return m_penalties; }

    /** Called with a line for the error output (listener failures). */
    std::function<void(const std::string&)> onError;

private:
    void loggedIn(ClientSession& client) override;
    void loginFailed(ClientSession& client) override;
    /** Closes one client without a word to it; the session's end also resets the listener. */
    void drop(ClientSession& client) override;
    bool close(ClientSession& client);

    Winsock& m_socket;
    SessionServices m_services;
    LoginPenalties m_penalties{m_parts.scheduler};
    ClientSession* m_session = nullptr;
    /** What the next client starts with: the login option of the last listen. */
    TelnetSession m_fresh;
    /** The address of the client that left last: the listen after it is logged with it. */
    std::string m_lastAddress;
    bool m_listening = false;
};

/** How many clients may sit at the login prompt at once, besides the session. */
inline constexpr std::size_t kMaxWaitingClients = 4;

} // namespace zelvor
