// SPDX-License-Identifier: MIT
#pragma once

#include "Version.h"
#include "commands/CommandDispatcher.h"
#include "server/LoginPenalties.h"
#include "server/TelnetSession.h"
#include "server/Winsock.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace zelvor {

class ActivityLog;
class MusicFolders;
class Player;
class Scheduler;
struct ServerSettings;

/**
 * The telnet session server: the listener's life cycle, the clients at the login prompt, the
 * one session with its input and prompts. It reaches the socket, the log, the player and the
 * music folders through the references it is given.
 *
 * One client at a time has the session. With login on, up to kMaxWaitingClients more, at most
 * one per address, may sit at the login prompt; the first of them to log in takes the session
 * over. Everyone else is sent kBusyLine and closed.
 */
class TelnetServer : public CommandHost
{
public:
    TelnetServer(ServerSettings& settings, Winsock& socket, ActivityLog& log, Player& player,
                 MusicFolders& folders, Scheduler& scheduler);
    ~TelnetServer() override;
    TelnetServer(const TelnetServer&) = delete;
    TelnetServer& operator=(const TelnetServer&) = delete;

    /** Listens with the current port (the open listener is kept when the port is the same) and
     * takes the current login option for the clients to come. */
    void Server_Load();
    /** A client asks to connect: accept it, then greet it or tell it the server is busy. */
    void Winsock1_ConnectionRequest();
    /**
     * Everything that arrived on a connection, as one chunk. Returns how many bytes were used;
     * the socket keeps the rest and hands it in again once the client has read enough of what
     * was sent to it.
     */
    std::size_t Winsock1_DataArrival(ConnectionId connection, std::string_view chunk);
    /** The connection ended (or must end: it stalled or failed): close it. */
    void Winsock1_Close(ConnectionId connection);
    /** Ends the session's connection ("exit") and listens again. */
    void Winsock1_Close() override;
    /** The Restart button: closes every client and listens again with the current settings. */
    void Cmd_Start_Click();

    /** Sends the session's prompt for a stage ("User:", "Pass:", the command prompt, or none
     * when Closed); the command prompt also logs "connected". */
    void SendPrompt(SessionStage stage);
    void LogActivity(std::string_view word) override;
    void LogProblem(std::string_view word) override;

    std::optional<std::chrono::milliseconds> sleepTimeLeft() const override;
    /** When it runs out, playback stops (the "stop" command) and the status word is "sleep". */
    void startSleepTimer(std::chrono::minutes duration) override;
    void cancelSleepTimer() override;
    /** The reply and the prompt go out when the returned function is called; meanwhile
     * Winsock1_DataArrival takes nothing, and the socket is asked to resume input after. */
    LateReply deferReply() override;
    /** True while the client waits for a late reply: its input is not taken meanwhile. */
    bool waitsForReply(ConnectionId connection) const;
    /** The session's client follows np lines (see NowPlayingFollow) until its next keystroke. */
    FollowStart followNowPlaying() override;
    /** True while the client follows np lines. */
    bool follows(ConnectionId connection) const;

    /** The session's state; without one, the newest waiting client's; without any client, the
     * state the next one starts with. */
    const TelnetSession& session() const;
    /** How many clients are connected, the session's included. */
    std::size_t clients() const { return m_clients.size(); }
    bool listening() const;
    const LoginPenalties& penalties() const { return m_penalties; }

    /** Called with a line for the error output (listener failures). */
    std::function<void(const std::string&)> onError;

private:
    struct Client;

    Client* find(ConnectionId connection) const;
    void greet(Client& client);
    void refuse(ConnectionId connection);
    /** Closes one client without a word to it; the session's end also resets the listener. */
    void drop(Client& client);
    /** Closes one client and forgets it; false when it was closed already. */
    bool close(Client& client);
    void takeSession(Client& client);
    void loginFailed(Client& client);
    void loginTimedOut(Client& client);
    void punish(const Client& client);
    void log(const Client& client, std::string_view word);
    void sendPrompt(Client& client, SessionStage stage);
    void onText(Client& client, std::string_view run);
    void onBackspace(Client& client);
    bool onEnter(Client& client);
    void checkLogin(Client& client);
    void cancelTimers(Client& client);
    std::size_t followInput(Client& client, std::string_view chunk);

    ServerSettings& m_settings;
    Winsock& m_socket;
    ActivityLog& m_log;
    Player& m_player;
    MusicFolders& m_folders;
    Scheduler& m_scheduler;
    LoginPenalties m_penalties{m_scheduler};
    std::vector<std::unique_ptr<Client>> m_clients;
    /** Clients closed while their own handler may still be running; freed at the next event. */
    std::vector<std::unique_ptr<Client>> m_closed;
    Client* m_session = nullptr;
    /** What the next client starts with: the login option of the last listen. */
    TelnetSession m_fresh;
    /** The address of the client that left last: the listen after it is logged with it. */
    std::string m_lastAddress;
    std::uint16_t m_port = 0;
    /** A failure is the status word until the next command line's prompt. */
    bool m_problemShown = false;
    bool m_listening = false;
    /** Belongs to the server, not a connection: neither a hang-up nor Restart ends it. */
    std::uint64_t m_sleepTimer = 0;
    std::uint64_t m_lastReplyTicket = 0;
    /** Late replies check it, so one that comes after the server is gone does nothing. */
    std::shared_ptr<bool> m_alive = std::make_shared<bool>(true);
};

/** How many clients may sit at the login prompt at once, besides the session. */
inline constexpr std::size_t kMaxWaitingClients = 4;
/** The one line a client gets when it cannot be served; then it is closed. */
inline constexpr std::string_view kBusyLine = "Zelvor is busy: one client at a time.\r\n";
/** The line a client gets when it is closed for not logging in within kLoginTimeLimit. */
inline constexpr std::string_view kLoginTimedOut = "Login timed out.\r\n";

/** How long a client may take to log in before the connection is closed. */
inline constexpr std::chrono::seconds kLoginTimeLimit{60};
/** How long a failed login waits before asking again; input meanwhile is dropped. */
inline constexpr std::chrono::seconds kLoginRetryPause{1};

/** The greeting's first line. */
inline constexpr std::string_view kGreeting = "Zelvor v." ZELVOR_VERSION_MAJOR_MINOR "\r\n";
/** The greeting's second line, the notice. */
inline constexpr std::string_view kNotice =
    "Remote control for your music player. Type 'help' for the commands.\r\n";

} // namespace zelvor
