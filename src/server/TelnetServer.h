// SPDX-License-Identifier: MIT
#pragma once

#include "Version.h"
#include "commands/CommandDispatcher.h"
#include "server/SessionInput.h"
#include "server/TelnetSession.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace zelvor {

class ActivityLog;
class MusicFolders;
class Player;
class Scheduler;
class Winsock;
struct ServerSettings;

/**
 * The telnet session server: the listener's life cycle, the session input with its optional
 * login, and the prompts. It owns the one TelnetSession and reaches the socket, the log, the
 * player and the music folders through the references it is given.
 */
class TelnetServer : public CommandHost, private KeystrokeSink
{
public:
    TelnetServer(ServerSettings& settings, Winsock& socket, ActivityLog& log, Player& player,
                 MusicFolders& folders, Scheduler& scheduler);
    ~TelnetServer() override;
    TelnetServer(const TelnetServer&) = delete;
    TelnetServer& operator=(const TelnetServer&) = delete;

    /** Opens the listener with the current port and login option and resets the session. */
    void Server_Load();
    /** A client asks to connect: stop listening, accept it, greet it. */
    void Winsock1_ConnectionRequest();
    /**
     * Everything that arrived on the connection, as one chunk. Returns how many bytes were
     * used; the socket keeps the rest and hands it in again once the client has read enough
     * of what was sent to it.
     */
    std::size_t Winsock1_DataArrival(std::string_view chunk);
    /** Closes the connection (or the listener) and listens again. */
    void Winsock1_Close() override;
    /** The Restart button: ends any client session and listens again with the current settings. */
    void Cmd_Start_Click();

    /** Sends the prompt for a stage ("User:", "Pass:", the command prompt, or none when Closed);
     * the command prompt also logs "connected". */
    void SendPrompt(SessionStage stage);
    void LogActivity(std::string_view word) override;

    std::optional<std::chrono::milliseconds> sleepTimeLeft() const override;
    /** When it runs out, playback stops (the "stop" command) and the status word is "sleep". */
    void startSleepTimer(std::chrono::minutes duration) override;
    void cancelSleepTimer() override;
    /** The reply and the prompt go out when the returned function is called; meanwhile
     * Winsock1_DataArrival takes nothing, and the socket is asked to resume input after. */
    LateReply deferReply() override;

    const TelnetSession& session() const { return m_session; }
    bool listening() const;

    /** Called with a line for the error output (listener failures). */
    std::function<void(const std::string&)> onError;

private:
    /** The connection as the session writes to it: 0xFF doubled for a client that speaks telnet. */
    class ClientConnection : public Connection
    {
    public:
        ClientConnection(Winsock& socket, const TelnetSession& session)
            : m_socket(socket), m_session(session)
        {}
        void send(std::string_view bytes) override;

    private:
        Winsock& m_socket;
        const TelnetSession& m_session;
        std::string m_doubled;
    };

    void onText(std::string_view run) override;
    void onBackspace() override;
    bool onEnter() override;
    void onNegotiation(std::string_view reply) override;
    std::string* currentBuffer();
    void checkLogin();
    void cancelTimers();

    ServerSettings& m_settings;
    Winsock& m_socket;
    ActivityLog& m_log;
    Player& m_player;
    MusicFolders& m_folders;
    Scheduler& m_scheduler;
    TelnetSession m_session;
    ClientConnection m_client{m_socket, m_session};
    std::string m_remoteAddress;
    bool m_connected = false;
    bool m_listening = false;
    std::uint64_t m_loginLimit = 0;
    std::uint64_t m_retryPause = 0;
    /** Belongs to the server, not the connection: neither a hang-up nor Restart ends it. */
    std::uint64_t m_sleepTimer = 0;
    /** The ticket of the reply the client waits for; 0 when none is pending. */
    std::uint64_t m_pendingReply = 0;
    std::uint64_t m_lastReplyTicket = 0;
    /** Late replies check it, so one that comes after the server is gone does nothing. */
    std::shared_ptr<bool> m_alive = std::make_shared<bool>(true);
};

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
