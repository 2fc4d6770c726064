// SPDX-License-Identifier: MIT
#include "server/TelnetServer.h"

#include "player/Player.h"
#include "server/ActivityLog.h"
#include "server/Scheduler.h"
#include "server/Winsock.h"
#include "settings/ServerSettings.h"

#include <algorithm>
#include <charconv>

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
        return SessionStage::Closed;
    case PromptSelector::PlayerMissing:
    case PromptSelector::Command:
        break;
    }
    return SessionStage::Command;
}

} // namespace

TelnetServer::TelnetServer(ServerSettings& settings, Winsock& socket, ActivityLog& log,
                           Player& player, MusicFolders& folders, Scheduler& scheduler)
    : m_settings(settings), m_socket(socket), m_log(log), m_player(player), m_folders(folders),
      m_scheduler(scheduler)
{}

TelnetServer::~TelnetServer()
{
    cancelTimers();
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
        m_player.beginCommandLine();
        m_player.WinampCommand(kCmdStop);
        m_player.endCommandLine();
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
    m_pendingReply = ++m_lastReplyTicket;
    return [this, alive = std::weak_ptr<bool>(m_alive),
            ticket = m_pendingReply](std::string_view reply, PromptSelector selector) {
        // The connection that asked may have ended, and another one begun, meanwhile.
        if (alive.expired() || ticket != m_pendingReply)
            return;
        m_pendingReply = 0;
        m_client.send(reply);
        SendPrompt(promptStage(selector));
        m_socket.resumeInput();
    };
}

void TelnetServer::Server_Load()
{
    const std::string portText = m_settings.Port;
    const std::uint16_t port = parsePort(portText);
    std::string failure;
    if (port == 0) {
        failure = "port " + portText + " invalid";
    } else {
        switch (m_socket.listen(port)) {
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

    m_session = TelnetSession{};
    m_pendingReply = 0;
    m_session.Stage = m_settings.LoginRequired ? SessionStage::User : SessionStage::Command;

    if (!failure.empty()) {
        // The listener stays closed until the next Restart; the status line says why.
        if (onError)
            onError("cannot listen: " + failure + (port ? ": " + m_socket.lastError() : ""));
        LogActivity(failure);
        return;
    }
    LogActivity("started");
}

void TelnetServer::Winsock1_ConnectionRequest()
{
    if (!m_socket.isClosed())
        m_socket.close();
    m_listening = false;
    if (!m_socket.accept()) {
        // The client gave up before we got to it; listen for the next one.
        Server_Load();
        return;
    }
    m_connected = true;
    m_remoteAddress = m_socket.remoteHostIP();
    if (m_session.Stage != SessionStage::Command) {
        // Someone who never logs in must not hold the only connection for ever.
        m_loginLimit = m_scheduler.after(kLoginTimeLimit, [this] {
            m_loginLimit = 0;
            Winsock1_Close();
        });
    }
    m_client.send(kGreeting);
    m_client.send(kNotice);
    SendPrompt(m_session.Stage);
    LogActivity("connecting");
}

void TelnetServer::Winsock1_Close()
{
    cancelTimers();
    m_socket.close();
    m_connected = false;
    m_listening = false;
    LogActivity("disconnecting");
    Server_Load();
}

void TelnetServer::Cmd_Start_Click()
{
    Winsock1_Close();
}

bool TelnetServer::listening() const
{
    return m_listening;
}

void TelnetServer::LogActivity(std::string_view word)
{
    m_log.LogActivity(word, m_remoteAddress);
}

void TelnetServer::SendPrompt(SessionStage stage)
{
    switch (stage) {
    case SessionStage::User:
        m_client.send("User:");
        break;
    case SessionStage::Pass:
        m_client.send("Pass:");
        break;
    case SessionStage::Closed:
        break;
    default:
        m_client.send("\r\nZelvor>");
        m_session.CommandLine.clear();
        LogActivity("connected");
        break;
    }
}

std::size_t TelnetServer::Winsock1_DataArrival(std::string_view chunk)
{
    if (!m_connected || m_retryPause != 0)
        return chunk.size();
    // What the client types while a reply is pending waits in the socket, in order.
    if (m_pendingReply != 0)
        return 0;
    const std::size_t used = decodeKeystrokes(chunk, m_session, *this);
    // After the connection ended or a failed login, what remains is dropped.
    if (!m_connected || m_retryPause != 0)
        return chunk.size();
    return used;
}

void TelnetServer::ClientConnection::send(std::string_view bytes)
{
    m_socket.send(forClient(bytes, m_session, m_doubled));
}

void TelnetServer::onNegotiation(std::string_view reply)
{
    m_socket.send(reply);
}

void TelnetServer::cancelTimers()
{
    m_scheduler.cancel(m_loginLimit);
    m_scheduler.cancel(m_retryPause);
    m_loginLimit = 0;
    m_retryPause = 0;
}

std::string* TelnetServer::currentBuffer()
{
    switch (m_session.Stage) {
    case SessionStage::User:
        return &m_session.UserBuffer;
    case SessionStage::Pass:
        return &m_session.PassBuffer;
    default:
        return &m_session.CommandLine;
    }
}

void TelnetServer::onText(std::string_view run)
{
    std::string* buffer = currentBuffer();
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
    if (m_session.Stage != SessionStage::Pass)
        m_client.send(kept);
    buffer->append(kept);
}

void TelnetServer::onBackspace()
{
    std::string* buffer = currentBuffer();
    if (buffer->empty())
        return;
    buffer->pop_back();
    m_client.send("\b \b");
}

bool TelnetServer::onEnter()
{
    switch (m_session.Stage) {
    case SessionStage::User:
        m_client.send("\r\n");
        m_session.Stage = SessionStage::Pass;
        SendPrompt(SessionStage::Pass);
        break;
    case SessionStage::Pass:
        checkLogin();
        break;
    default: {
        CommandContext context{m_session, m_settings, m_client, m_player, m_folders, *this};
        SendPrompt(promptStage(ProcessCommand(context)));
        break;
    }
    }
    // A client that does not read its replies gets no more until it has caught up.
    return m_connected && m_retryPause == 0 && m_pendingReply == 0 && !m_socket.congested();
}

void TelnetServer::checkLogin()
{
    if (!m_session.userOverflowed && !m_session.passOverflowed &&
        m_session.PassBuffer == m_settings.Password &&
        m_session.UserBuffer == m_settings.UserName) {
        m_scheduler.cancel(m_loginLimit);
        m_loginLimit = 0;
        m_session.Stage = SessionStage::Command;
        SendPrompt(SessionStage::Command);
        return;
    }
    m_session.Stage = SessionStage::User;
    m_session.UserBuffer.clear();
    m_session.PassBuffer.clear();
    m_session.userOverflowed = false;
    m_session.passOverflowed = false;
    LogActivity("login failed");
    // Guessing is slowed down: the next prompt comes after a pause, and whatever the client
    // sends meanwhile is dropped.
    m_retryPause = m_scheduler.after(kLoginRetryPause, [this] {
        m_retryPause = 0;
        m_client.send("\r\n");
        SendPrompt(SessionStage::User);
    });
}

} // namespace zelvor
