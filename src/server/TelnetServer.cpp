// SPDX-License-Identifier: MIT
#include "server/TelnetServer.h"

#include "player/Player.h"
#include "server/ActivityLog.h"
#include "server/NowPlayingFollow.h"
#include "server/Scheduler.h"
#include "server/SessionInput.h"
#include "server/Winsock.h"
#include "settings/ListenAddress.h"
#include "settings/ServerSettings.h"

#include <algorithm>
#include <charconv>
#include <utility>

namespace zelvor {
namespace {

/** The port text as a TCP port, or 0 when it is no number from 1 to 65535. */
std::uint16_t parsePort(const std::string& text)
{
    unsigned value = 0;
    const char* end = text.data() + text.size();
    const auto [stop, error] = std::from_chars(text.data(), end, value);
    if (text.empty() || error != std::errc() || stop != end || value < 1 || value > 65535)
        return 0;
    return static_cast<std::uint16_t>(value);
}

/** The stage whose prompt follows a command line: the command prompt, or none after "exit". */
SessionStage promptStage(PromptSelector selector)
{
    switch (selector) {
    case PromptSelector::Closed:
    case PromptSelector::Pending:
    case PromptSelector::Following:
        return SessionStage::Closed;
    case PromptSelector::PlayerMissing:
    case PromptSelector::Command:
        break;
    }
    return SessionStage::Command;
}

} // namespace

/** One connected client: its connection, its own session state and its login timers. */
struct TelnetServer::Client : KeystrokeSink, Connection
{
    Client(TelnetServer& owner, ConnectionId connection, std::string remoteAddress)
        : server(owner), id(connection), address(std::move(remoteAddress)), session(owner.m_fresh)
    {}

    /** The bytes as the client gets them: 0xFF doubled once it speaks telnet. */
    void send(std::string_view bytes) override
    {
        server.m_socket.send(id, forClient(bytes, session, doubled));
    }
    void onText(std::string_view run) override { server.onText(*this, run); }
    void onBackspace() override { server.onBackspace(*this); }
    bool onEnter() override { return server.onEnter(*this); }
    void onNegotiation(std::string_view reply) override { server.m_socket.send(id, reply); }

    TelnetServer& server;
    const ConnectionId id;
    const std::string address;
    TelnetSession session;
    std::string doubled;
    bool open = true;
    Scheduler::TimerId loginLimit = 0;
    Scheduler::TimerId retryPause = 0;
    /** The ticket of the late reply this client waits for; 0 when none is pending. */
    std::uint64_t pendingReply = 0;
    /** Set while the client follows np lines. */
    std::unique_ptr<NowPlayingFollow> follow;
};

TelnetServer::TelnetServer(ServerSettings& settings, Winsock& socket, ActivityLog& log,
                           Player& player, MusicFolders& folders, Scheduler& scheduler)
    : m_settings(settings), m_socket(socket), m_log(log), m_player(player), m_folders(folders),
      m_scheduler(scheduler)
{}

TelnetServer::~TelnetServer()
{
    for (const auto& client : m_clients)
        cancelTimers(*client);
    cancelSleepTimer();
}

std::optional<std::chrono::milliseconds> TelnetServer::sleepTimeLeft() const
{
    if (m_sleepTimer == 0)
        return std::nullopt;
    return m_scheduler.remaining(m_sleepTimer);
}

void TelnetServer::startSleepTimer(std::chrono::minutes duration)
{
    cancelSleepTimer();
    m_sleepTimer = m_scheduler.after(duration, [this] {
        m_sleepTimer = 0;
        m_player.stopForSleep([](const PlayerAnswer&) {});
        LogActivity("sleep");
    });
}

void TelnetServer::cancelSleepTimer()
{
    m_scheduler.cancel(m_sleepTimer);
    m_sleepTimer = 0;
}

LateReply TelnetServer::deferReply()
{
    // Only the session's client runs commands.
    if (!m_session)
        return [](std::string_view, PromptSelector) {};
    const ConnectionId connection = m_session->id;
    const std::uint64_t ticket = m_session->pendingReply = ++m_lastReplyTicket;
    return [this, alive = std::weak_ptr<bool>(m_alive), connection,
            ticket](std::string_view reply, PromptSelector selector) {
        // The client that asked may have gone, or lost the session, meanwhile.
        if (alive.expired())
            return;
        Client* client = find(connection);
        if (!client || client->pendingReply != ticket)
            return;
        client->pendingReply = 0;
        client->send(reply);
        sendPrompt(*client, promptStage(selector));
        m_socket.resumeInput(connection);
    };
}

bool TelnetServer::waitsForReply(ConnectionId connection) const
{
    const Client* client = find(connection);
    return client && client->pendingReply != 0;
}

FollowStart TelnetServer::followNowPlaying()
{
    if (!m_session)
        return [](const PlayerStatus&) {};
    return [this, alive = std::weak_ptr<bool>(m_alive),
            connection = m_session->id](const PlayerStatus& shown) {
        if (alive.expired())
            return;
        Client* client = find(connection);
        if (!client || client != m_session)
            return;
        client->follow = std::make_unique<NowPlayingFollow>(m_player, m_scheduler, *client);
        client->follow->start(shown);
    };
}

bool TelnetServer::follows(ConnectionId connection) const
{
    const Client* client = find(connection);
    return client && client->follow;
}

void TelnetServer::Server_Load()
{
    const std::string portText = m_settings.Port;
    const std::uint16_t port = parsePort(portText);
    const auto address = listenAddress(m_settings.ListenAddress);
    std::string failure;
    if (port == 0) {
        m_socket.stopListening();
        failure = "port " + portText + " invalid";
    } else if (!address) {
        m_socket.stopListening();
        failure = "address " + m_settings.ListenAddress + " invalid";
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
    m_port = m_listening ? port : 0;

    m_fresh = TelnetSession{};
    m_fresh.Stage = m_settings.LoginRequired ? SessionStage::User : SessionStage::Command;

    if (!failure.empty()) {
        // The listener stays closed until the next Restart; the status line says why.
        if (onError)
            onError("cannot listen: " + failure +
                    (port && address ? ": " + m_socket.lastError() : ""));
        m_log.LogActivity(failure, m_lastAddress);
        return;
    }
    m_log.LogActivity("started", m_lastAddress);
}

TelnetServer::Client* TelnetServer::find(ConnectionId connection) const
{
    for (const auto& client : m_clients)
        if (client->id == connection)
            return client.get();
    return nullptr;
}

void TelnetServer::Winsock1_ConnectionRequest()
{
    m_closed.clear();
    // Someone who closed the telnet window and connects again at once must not find their own
    // old connection in the way.
    m_socket.reportEndedConnections();
    const ConnectionId connection = m_socket.accept();
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
        Client* sameAddress = nullptr;
        for (const auto& client : m_clients) {
            if (client.get() == m_session)
                continue;
            ++waiting;
            if (client->address == address)
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
    m_clients.push_back(std::make_unique<Client>(*this, connection, address));
    greet(*m_clients.back());
}

void TelnetServer::refuse(ConnectionId connection)
{
    // The line goes out alone, and the clients being served never notice.
    m_socket.send(connection, kBusyLine);
    m_socket.close(connection);
}

void TelnetServer::greet(Client& client)
{
    if (client.session.Stage == SessionStage::Command) {
        m_session = &client;
    } else {
        // Someone who never logs in must not hold a place at the prompt for ever.
        client.loginLimit = m_scheduler.after(kLoginTimeLimit, [this, &client] {
            client.loginLimit = 0;
            loginTimedOut(client);
        });
    }
    // Puts a telnet client in character mode with our echo, before it shows the first keystroke.
    if (m_settings.Negotiate)
        m_socket.send(client.id, offerOptions(client.session));
    client.send(kGreeting);
    client.send(kNotice);
    sendPrompt(client, client.session.Stage);
    log(client, "connecting");
}

void TelnetServer::Winsock1_Close(ConnectionId connection)
{
    m_closed.clear();
    if (Client* client = find(connection))
        drop(*client);
}

void TelnetServer::Winsock1_Close()
{
    if (m_session)
        drop(*m_session);
}

void TelnetServer::drop(Client& client)
{
    const bool wasSession = m_session == &client;
    if (!close(client))
        return;
    // The session's end, or the last client's, opens the listener afresh, as at start.
    if (wasSession || (m_session == nullptr && m_clients.empty()))
        Server_Load();
}

bool TelnetServer::close(Client& client)
{
    if (!client.open)
        return false;
    client.open = false;
    client.follow.reset();
    cancelTimers(client);
    m_socket.close(client.id);
    log(client, "disconnecting");
    m_lastAddress = client.address;
    if (m_session == &client)
        m_session = nullptr;
    const auto it = std::find_if(m_clients.begin(), m_clients.end(),
                                 [&](const auto& held) { return held.get() == &client; });
    m_closed.push_back(std::move(*it));
    m_clients.erase(it);
    return true;
}

void TelnetServer::Cmd_Start_Click()
{
    m_closed.clear();
    if (m_clients.empty())
        m_log.LogActivity("disconnecting", m_lastAddress);
    while (!m_clients.empty())
        close(*m_clients.front());
    Server_Load();
}

bool TelnetServer::listening() const
{
    return m_listening;
}

const TelnetSession& TelnetServer::session() const
{
    if (m_session)
        return m_session->session;
    if (!m_clients.empty())
        return m_clients.back()->session;
    return m_fresh;
}

void TelnetServer::LogActivity(std::string_view word)
{
    m_log.LogActivity(word, m_session ? std::string_view(m_session->address) : "");
}

void TelnetServer::log(const Client& client, std::string_view word)
{
    m_log.LogActivity(word, client.address);
}

void TelnetServer::LogProblem(std::string_view word)
{
    LogActivity(word);
    m_problemShown = true;
}

void TelnetServer::SendPrompt(SessionStage stage)
{
    if (m_session)
        sendPrompt(*m_session, stage);
}

void TelnetServer::sendPrompt(Client& client, SessionStage stage)
{
    switch (stage) {
    case SessionStage::User:
        client.send("User:");
        break;
    case SessionStage::Pass:
        client.send("Pass:");
        break;
    case SessionStage::Closed:
        break;
    default:
        client.send("\r\nZelvor>");
        client.session.CommandLine.clear();
        if (!std::exchange(m_problemShown, false))
            log(client, "connected");
        break;
    }
}

std::size_t TelnetServer::Winsock1_DataArrival(ConnectionId connection, std::string_view chunk)
{
    m_closed.clear();
    Client* client = find(connection);
    if (!client || client->retryPause != 0)
        return chunk.size();
    // What the client types while a reply is pending waits in the socket, in order.
    if (client->pendingReply != 0)
        return 0;
    if (client->follow)
        return followInput(*client, chunk);
    const std::size_t used = decodeKeystrokes(chunk, client->session, *client);
    // What came after the Enter of "np follow" in the same chunk is the next keystroke.
    if (client->open && client->follow && used < chunk.size())
        return used + followInput(*client, chunk.substr(used));
    // After the connection ended or a failed login, what remains is dropped.
    if (!client->open || client->retryPause != 0)
        return chunk.size();
    return used;
}

namespace {

/** Tells whether a chunk holds a keystroke; telnet negotiation in it is answered as always. */
struct KeystrokeSeen : KeystrokeSink
{
    explicit KeystrokeSeen(std::function<void(std::string_view)> answer)
        : negotiate(std::move(answer))
    {}
    void onText(std::string_view) override { seen = true; }
    void onBackspace() override { seen = true; }
    bool onEnter() override
    {
        seen = true;
        return true;
    }
    void onNegotiation(std::string_view reply) override { negotiate(reply); }

    std::function<void(std::string_view)> negotiate;
    bool seen = false;
};

} // namespace

// A keystroke ends the follow and is dropped, so that it never starts the next command line.
std::size_t TelnetServer::followInput(Client& client, std::string_view chunk)
{
    KeystrokeSeen keys(
        [this, &client](std::string_view reply) { m_socket.send(client.id, reply); });
    decodeKeystrokes(chunk, client.session, keys);
    if (keys.seen) {
        client.follow.reset();
        sendPrompt(client, SessionStage::Command);
    }
    return chunk.size();
}

void TelnetServer::cancelTimers(Client& client)
{
    m_scheduler.cancel(client.loginLimit);
    m_scheduler.cancel(client.retryPause);
    client.loginLimit = 0;
    client.retryPause = 0;
}

namespace {

std::string* currentBuffer(TelnetSession& session)
{
    switch (session.Stage) {
    case SessionStage::User:
        return &session.UserBuffer;
    case SessionStage::Pass:
        return &session.PassBuffer;
    default:
        return &session.CommandLine;
    }
}

} // namespace

void TelnetServer::onText(Client& client, std::string_view run)
{
    TelnetSession& session = client.session;
    std::string* buffer = currentBuffer(session);
    // Bytes beyond the line limit are dropped, and so not echoed either.
    const std::size_t room = kMaxLineLength - std::min(buffer->size(), kMaxLineLength);
    const std::string_view kept = run.substr(0, room);
    if (kept.size() < run.size()) {
        // What was kept is not what was typed: such credentials must not log in.
        if (session.Stage == SessionStage::User)
            session.userOverflowed = true;
        else if (session.Stage == SessionStage::Pass)
            session.passOverflowed = true;
    }
    if (kept.empty())
        return;
    if (session.Stage != SessionStage::Pass && serverEchoes(session))
        client.send(kept);
    buffer->append(kept);
}

void TelnetServer::onBackspace(Client& client)
{
    std::string* buffer = currentBuffer(client.session);
    if (buffer->empty())
        return;
    buffer->pop_back();
    if (serverEchoes(client.session))
        client.send("\b \b");
}

bool TelnetServer::onEnter(Client& client)
{
    switch (client.session.Stage) {
    case SessionStage::User:
        client.send("\r\n");
        client.session.Stage = SessionStage::Pass;
        sendPrompt(client, SessionStage::Pass);
        break;
    case SessionStage::Pass:
        checkLogin(client);
        break;
    default: {
        CommandContext context{client.session, m_settings, client, m_player, m_folders, *this};
        sendPrompt(client, promptStage(ProcessCommand(context)));
        break;
    }
    }
    // A client that does not read its replies gets no more until it has caught up.
    return client.open && client.retryPause == 0 && client.pendingReply == 0 && !client.follow &&
           !m_socket.congested(client.id);
}

void TelnetServer::checkLogin(Client& client)
{
    TelnetSession& session = client.session;
    if (!session.userOverflowed && !session.passOverflowed &&
        session.PassBuffer == m_settings.Password && session.UserBuffer == m_settings.UserName) {
        takeSession(client);
        return;
    }
    loginFailed(client);
}

void TelnetServer::takeSession(Client& client)
{
    m_scheduler.cancel(client.loginLimit);
    client.loginLimit = 0;
    m_penalties.forgive(client.address);
    if (m_session) {
        // The owner logging in from elsewhere (or again, after a dropped connection) is never
        // locked out by the session they left behind.
        m_session->send("Logged in from " + client.address + ".\r\n");
        Client& previous = *m_session;
        m_session = &client;
        drop(previous);
    }
    m_session = &client;
    for (std::size_t i = m_clients.size(); i-- > 0;) {
        Client& other = *m_clients[i];
        if (&other == &client)
            continue;
        other.send(kBusyLine);
        drop(other);
    }
    client.session.Stage = SessionStage::Command;
    sendPrompt(client, SessionStage::Command);
}

void TelnetServer::loginFailed(Client& client)
{
    TelnetSession& session = client.session;
    session.Stage = SessionStage::User;
    session.UserBuffer.clear();
    session.PassBuffer.clear();
    session.userOverflowed = false;
    session.passOverflowed = false;
    log(client, "login failed");
    punish(client);
    // Guessing is slowed down: the next prompt comes after a pause, and whatever the client
    // sends meanwhile is dropped.
    client.retryPause = m_scheduler.after(kLoginRetryPause, [this, &client] {
        client.retryPause = 0;
        client.send("\r\n");
        sendPrompt(client, SessionStage::User);
    });
}

void TelnetServer::loginTimedOut(Client& client)
{
    client.send(kLoginTimedOut);
    punish(client);
    drop(client);
}

void TelnetServer::punish(const Client& client)
{
    const std::chrono::seconds penalty = m_penalties.punish(client.address);
    log(client, "penalty " + std::to_string(penalty.count()) + " s");
}

} // namespace zelvor
