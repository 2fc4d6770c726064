// SPDX-License-Identifier: MIT
#include "server/ClientSession.h"

#include "commands/CommandDispatcher.h"
#include "server/ActivityLog.h"
#include "server/NowPlayingFollow.h"
#include "server/SessionServices.h"
#include "settings/ServerSettings.h"

#include <algorithm>
#include <functional>
#include <utility>

namespace zelvor {
namespace {

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

ClientSession::ClientSession(const SessionParts& parts, Admission& door, ConnectionId id,
                             std::string address, const TelnetSession& fresh)
    : m_parts(parts), m_door(door), m_id(id), m_address(std::move(address)), m_session(fresh)
{}

ClientSession::~ClientSession()
{
    cancelTimers();
}

void ClientSession::send(std::string_view bytes)
{
    m_parts.socket.send(m_id, forClient(bytes, m_session, m_doubled));
}

void ClientSession::onNegotiation(std::string_view reply)
{
    m_parts.socket.send(m_id, reply);
}

void ClientSession::log(std::string_view word)
{
    m_parts.log.LogActivity(word, m_address);
}

void ClientSession::greet(bool offer)
{
    if (m_session.Stage != SessionStage::Command) {
        // Someone who never logs in must not hold a place at the prompt for ever.
        m_loginLimit = m_parts.scheduler.after(kLoginTimeLimit, [this] {
            m_loginLimit = 0;
            send(kLoginTimedOut);
            m_door.loginFailed(*this);
            m_door.drop(*this);
        });
    }
    // Puts a telnet client in character mode with our echo, before it shows the first keystroke.
    if (offer)
        m_parts.socket.send(m_id, offerOptions(m_session));
    send(kGreeting);
    send(kNotice);
    sendPrompt(m_session.Stage);
    log("connecting");
}

void ClientSession::sendPrompt(SessionStage stage)
{
    switch (stage) {
    case SessionStage::User:
        send("User:");
        break;
    case SessionStage::Pass:
        send("Pass:");
        break;
    case SessionStage::Closed:
        break;
    default:
        send(kCommandPrompt);
        m_session.CommandLine.clear();
        if (!std::exchange(m_problemShown, false))
            log("connected");
        break;
    }
}

void ClientSession::enterCommandStage()
{
    m_parts.scheduler.cancel(m_loginLimit);
    m_loginLimit = 0;
    m_session.Stage = SessionStage::Command;
    sendPrompt(SessionStage::Command);
}

bool ClientSession::close()
{
    if (!m_open)
        return false;
    m_open = false;
    m_alive.reset();
    m_follow.reset();
    cancelTimers();
    m_parts.socket.close(m_id);
    log("disconnecting");
    return true;
}

void ClientSession::cancelTimers()
{
    m_parts.scheduler.cancel(m_loginLimit);
    m_parts.scheduler.cancel(m_retryPause);
    m_loginLimit = 0;
    m_retryPause = 0;
}

std::size_t ClientSession::arrive(std::string_view chunk)
{
    if (!m_open || m_retryPause != 0)
        return chunk.size();
    // What the client types while a reply is pending waits in the socket, in order.
    if (m_pendingReply != 0)
        return 0;
    if (m_follow)
        return followInput(chunk);
    const std::size_t used = decodeKeystrokes(chunk, m_session, *this);
    // What came after the Enter of "np follow" in the same chunk is the next keystroke.
    if (m_open && m_follow && used < chunk.size())
        return used + followInput(chunk.substr(used));
    // After the connection ended or a failed login, what remains is dropped.
    if (!m_open || m_retryPause != 0)
        return chunk.size();
    return used;
}

void ClientSession::onText(std::string_view run)
{
    std::string* buffer = currentBuffer(m_session);
    // Bytes beyond the line limit are dropped, and so not echoed either.
    const std::size_t room = kMaxLineLength - std::min(buffer->size(), kMaxLineLength);
    const std::string_view kept = run.substr(0, room);
    if (kept.size() < run.size()) {
        // What was kept is not what was typed: such credentials must not log in.
        if (m_session.Stage == SessionStage::User)
            m_session.userOverflowed = true;
        else if (m_session.Stage == SessionStage::Pass)
            m_session.passOverflowed = true;
    }
    if (kept.empty())
        return;
    if (m_session.Stage != SessionStage::Pass && serverEchoes(m_session))
        send(kept);
    buffer->append(kept);
}

void ClientSession::onBackspace()
{
    std::string* buffer = currentBuffer(m_session);
    if (buffer->empty())
        return;
    buffer->pop_back();
    if (serverEchoes(m_session))
        send("\b \b");
}

bool ClientSession::onEnter()
{
    switch (m_session.Stage) {
    case SessionStage::User:
        send("\r\n");
        m_session.Stage = SessionStage::Pass;
        sendPrompt(SessionStage::Pass);
        break;
    case SessionStage::Pass:
        checkLogin();
        break;
    default: {
        CommandContext context{m_session,      m_parts.settings, *this,
                               m_parts.player, m_parts.folders,  *this};
        sendPrompt(promptStage(ProcessCommand(context)));
        break;
    }
    }
    // A client that does not read its replies gets no more until it has caught up.
    return m_open && m_retryPause == 0 && m_pendingReply == 0 && !m_follow &&
           !m_parts.socket.congested(m_id);
}

void ClientSession::checkLogin()
{
    const ServerSettings& settings = m_parts.settings;
    if (!m_session.userOverflowed && !m_session.passOverflowed &&
        m_session.PassBuffer == settings.Password && m_session.UserBuffer == settings.UserName) {
        m_door.loggedIn(*this);
        return;
    }
    loginFailed();
}

void ClientSession::loginFailed()
{
    m_session.Stage = SessionStage::User;
    static_cast<LoginBuffers&>(m_session) = LoginBuffers{};
    log("login failed");
    m_door.loginFailed(*this);
    // Guessing is slowed down: the next prompt comes after a pause, and whatever the client
    // sends meanwhile is dropped.
    m_retryPause = m_parts.scheduler.after(kLoginRetryPause, [this] {
        m_retryPause = 0;
        send("\r\n");
        sendPrompt(SessionStage::User);
    });
}

void ClientSession::LogProblem(std::string_view word)
{
    log(word);
    m_problemShown = true;
}

void ClientSession::Winsock1_Close()
{
    m_door.drop(*this);
}

std::optional<std::chrono::milliseconds> ClientSession::sleepTimeLeft() const
{
    return m_parts.services.sleepTimeLeft();
}

void ClientSession::startSleepTimer(std::chrono::minutes duration)
{
    m_parts.services.startSleepTimer(duration);
}

void ClientSession::cancelSleepTimer()
{
    m_parts.services.cancelSleepTimer();
}

LateReply ClientSession::deferReply()
{
    const std::uint64_t ticket = m_pendingReply = ++m_lastReplyTicket;
    return [this, alive = std::weak_ptr<bool>(m_alive), ticket](std::string_view reply,
                                                                PromptSelector selector) {
        // The client that asked may have gone, or lost the session, meanwhile.
        if (alive.expired() || m_pendingReply != ticket)
            return;
        m_pendingReply = 0;
        send(reply);
        sendPrompt(promptStage(selector));
        m_parts.socket.resumeInput(m_id);
    };
}

FollowStart ClientSession::followNowPlaying()
{
    return [this, alive = std::weak_ptr<bool>(m_alive)](const PlayerStatus& shown) {
        // The client may have gone, or lost the session, meanwhile.
        if (alive.expired() || !m_open)
            return;
        Connection& client = *this;
        m_follow = std::make_unique<NowPlayingFollow>(m_parts.player, m_parts.scheduler, client);
        m_follow->start(shown);
    };
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
std::size_t ClientSession::followInput(std::string_view chunk)
{
    KeystrokeSeen keys([this](std::string_view reply) { onNegotiation(reply); });
    decodeKeystrokes(chunk, m_session, keys);
    if (keys.seen) {
        m_follow.reset();
        sendPrompt(SessionStage::Command);
    }
    return chunk.size();
}

ClientSession& ClientList::add(std::unique_ptr<ClientSession> client)
{
    m_clients.push_back(std::move(client));
    return *m_clients.back();
}

ClientSession* ClientList::find(ConnectionId connection) const
{
    for (const auto& client : m_clients)
        if (client->id() == connection)
            return client.get();
    return nullptr;
}

bool ClientList::close(ClientSession& client)
{
    if (!client.close())
        return false;
    const auto it = std::find_if(m_clients.begin(), m_clients.end(),
                                 [&](const auto& held) { return held.get() == &client; });
    if (it != m_clients.end()) {
        m_closed.push_back(std::move(*it));
        m_clients.erase(it);
    }
    return true;
}

} // namespace zelvor
