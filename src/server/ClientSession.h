// SPDX-License-Identifier: MIT
#pragma once

#include "Version.h"
#include "commands/CommandSession.h"
#include "server/Scheduler.h"
#include "server/SessionInput.h"
#include "server/TelnetSession.h"
#include "server/Winsock.h"

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace zelvor {

class ActivityLog;
class ClientSession;
class MusicFolders;
class NowPlayingFollow;
class Player;
class SessionServices;
struct ServerSettings;

/** What a client's session asks of the door that admitted it. */
class Admission
{
public:
    virtual ~Admission() = default;
    /** The client typed the user name and password of the settings. */
    virtual void loggedIn(ClientSession& client) = 0;
    /** The client's login failed or timed out: its address pays for it. */
    virtual void loginFailed(ClientSession& client) = 0;
    /** The client's connection must end ("exit", a login that timed out). */
    virtual void drop(ClientSession& client) = 0;
};

/** Everything a client's session works with besides its door. */
struct SessionParts
{
    ServerSettings& settings;
    Connections& socket;
    ActivityLog& log;
    Player& player;
    MusicFolders& folders;
    Scheduler& scheduler;
    SessionServices& services;
};

/**
 * One connected client: its line editing and echo, its login with its timers, its prompts, and
 * the commands it runs, with their late replies. Who may connect and who has the session is the
 * door's business (Admission).
 */
class ClientSession final : public CommandHost, private KeystrokeSink, private Connection
{
public:
    ClientSession(const SessionParts& parts, Admission& door, ConnectionId id, std::string address,
                  const TelnetSession& fresh);
    ~ClientSession() override;
    ClientSession(const ClientSession&) = delete;
    ClientSession& operator=(const ClientSession&) = delete;

    /** The option offer (when asked for), the greeting, the first prompt, then "connecting".
     * At the login prompt the login time limit starts. */
    void greet(bool offerOptions);
    /** A chunk the client sent; returns how many bytes were taken (Winsock1_DataArrival). */
    std::size_t arrive(std::string_view chunk);
    /** "User:", "Pass:", the command prompt (which logs "connected"), or nothing for Closed. */
    void sendPrompt(SessionStage stage);
    /** The bytes as the client gets them: 0xFF doubled once it speaks telnet. */
    void send(std::string_view bytes) override;
    /** Logged in: the command stage and its prompt; the login time limit is off. */
    void enterCommandStage();
    /** Closes the connection without a word to it and logs "disconnecting"; false when it was
     * closed already. */
    bool close();

    ConnectionId id() const { return m_id; }
    const std::string& address() const { return m_address; }
    const TelnetSession& session() const { return m_session; }
    bool isOpen() const { return m_open; }
    bool waitsForReply() const { return m_pendingReply != 0; }
    /** Logs the word with this client's address. */
    void log(std::string_view word);

    // What its commands ask of the server.
    void LogActivity(std::string_view word) override { log(word); }
    void LogProblem(std::string_view word) override;
    /** "exit": the door ends this client. */
    void Winsock1_Close() override;
    std::optional<std::chrono::milliseconds> sleepTimeLeft() const override;
    void startSleepTimer(std::chrono::minutes duration) override;
    void cancelSleepTimer() override;
    /** The reply and the prompt go out when the returned function is called; meanwhile arrive()
     * takes nothing, and the socket is asked to resume input after. */
    LateReply deferReply() override;
    /** "np follow": the np line is pushed to this client until its next keystroke. */
    FollowStart followNowPlaying() override;
    /** True while the client follows np lines. */
    bool follows() const { return m_follow != nullptr; }

private:
    void onText(std::string_view run) override;
    void onBackspace() override;
    bool onEnter() override;
    void onNegotiation(std::string_view reply) override;
    void checkLogin();
    void loginFailed();
    void cancelTimers();
    std::size_t followInput(std::string_view chunk);

    SessionParts m_parts;
    Admission& m_door;
    const ConnectionId m_id;
    const std::string m_address;
    TelnetSession m_session;
    std::string m_doubled;
    bool m_open = true;
    /** A failure is the status word until the next command line's prompt. */
    bool m_problemShown = false;
    Scheduler::TimerId m_loginLimit = 0;
    Scheduler::TimerId m_retryPause = 0;
    /** The ticket of the late reply the client waits for; 0 when none is pending. */
    std::uint64_t m_pendingReply = 0;
    std::uint64_t m_lastReplyTicket = 0;
    /** Set while the client follows np lines. */
    std::unique_ptr<NowPlayingFollow> m_follow;
    /** Late replies check it, so one that comes after the client has gone does nothing. */
    std::shared_ptr<bool> m_alive = std::make_shared<bool>(true);
};

/**
 * A door's clients. One that is closed while its own handler may still be running is kept
 * until the next event (clearClosed).
 */
class ClientList
{
public:
    ClientSession& add(std::unique_ptr<ClientSession> client);
    ClientSession* find(ConnectionId connection) const;
    /** Closes the client and forgets it; false when it was closed already. */
    bool close(ClientSession& client);
    void clearClosed() { m_closed.clear(); }
    const std::vector<std::unique_ptr<ClientSession>>& all() const { return m_clients; }

private:
    std::vector<std::unique_ptr<ClientSession>> m_clients;
    std::vector<std::unique_ptr<ClientSession>> m_closed;
};

/** The line a client gets when it is closed for not logging in within kLoginTimeLimit. */
inline constexpr std::string_view kLoginTimedOut = "Login timed out.\r\n";
/** How long a client may take to log in before the connection is closed. */
inline constexpr std::chrono::seconds kLoginTimeLimit{60};
/** How long a failed login waits before asking again; input meanwhile is dropped. */
inline constexpr std::chrono::seconds kLoginRetryPause{1};

/** The command prompt, which ends every reply. */
inline constexpr std::string_view kCommandPrompt = "\r\nZelvor>";
/** The greeting's first line. */
inline constexpr std::string_view kGreeting = "Zelvor v." ZELVOR_VERSION_MAJOR_MINOR "\r\n";
/** The greeting's second line, the notice. */
inline constexpr std::string_view kNotice =
    "Remote control for your music player. Type 'help' for the commands.\r\n";

} // namespace zelvor
