// SPDX-License-Identifier: MIT
#include "app/LocalClient.h"

#include "app/LocalReplies.h"
#include "app/UnixSocket.h"

#include <poll.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <iostream>

namespace zelvor {
namespace {

/** How long the server may take with one reply before the client gives up. */
constexpr int kReplyTimeoutMs = 10 * 60 * 1000;
/** The greeting comes at once from a server that is there. */
constexpr int kGreetingTimeoutMs = 5 * 1000;

int notRunning(const std::string& path)
{
    std::fprintf(stderr, "zelvor: Zelvor is not running: nothing answers on %s\n", path.c_str());
    return kClientNotRunning;
}

bool sendAll(int fd, std::string_view bytes)
{
    while (!bytes.empty()) {
        const auto n = ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
        if (n <= 0)
            return false;
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

bool writeAll(int fd, std::string_view bytes)
{
    while (!bytes.empty()) {
        const auto n = ::write(fd, bytes.data(), bytes.size());
        if (n <= 0)
            return false;
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

/** Reads until what came ends with the prompt; false when the server closed first. */
bool readReply(int fd, std::string& received, int timeoutMs = kReplyTimeoutMs)
{
    char buffer[16 * 1024];
    while (!endsWithPrompt(received)) {
        pollfd entry{fd, POLLIN, 0};
        if (::poll(&entry, 1, timeoutMs) <= 0)
            return false;
        const auto n = ::recv(fd, buffer, sizeof buffer, 0);
        if (n <= 0)
            return false;
        received.append(buffer, static_cast<std::size_t>(n));
    }
    return true;
}

/** One connection of the local client, greeted and at the prompt. */
class Session
{
public:
    explicit Session(const std::string& path) : m_fd(connectUnix(path))
    {
        // Another user's Zelvor closes at once, without a byte: that is no answer either. A
        // busy one says so before it closes.
        if (m_fd >= 0 && !readReply(m_fd, m_greeting, kGreetingTimeoutMs)) {
            ::close(m_fd);
            m_fd = -1;
        }
    }
    ~Session()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    bool open() const { return m_fd >= 0; }
    int fd() const { return m_fd; }
    /** The greeting and the first prompt; without a session, what came instead. */
    const std::string& greeting() const { return m_greeting; }

    /** The status for a session that could not start, with its line on stderr. */
    int refused(const std::string& path) const
    {
        if (m_greeting.empty())
            return notRunning(path);
        std::string said = m_greeting;
        while (!said.empty() && (said.back() == '\n' || said.back() == '\r'))
            said.pop_back();
        std::fprintf(stderr, "zelvor: %s\n", said.c_str());
        return kClientNotRunning;
    }

    /** Runs the line and prints its reply; false once the session has ended. */
    bool run(const std::string& line, int& status)
    {
        std::string received;
        const bool prompted = sendAll(m_fd, line + "\n") && readReply(m_fd, received);
        const PrintedReply reply = printedReply(received, line);
        std::fwrite(reply.text.data(), 1, reply.text.size(), stdout);
        std::fflush(stdout);
        if (reply.failed)
            status = kClientLineFailed;
        return prompted;
    }

private:
    int m_fd;
    std::string m_greeting;
};

// The terminal as it was, for every way out of the relay.
termios g_savedTerminal;
volatile std::sig_atomic_t g_terminalRaw = 0;

void restoreTerminal()
{
    if (g_terminalRaw) {
        ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &g_savedTerminal);
        g_terminalRaw = 0;
    }
}

void onFatalSignal(int number)
{
    restoreTerminal();
    std::signal(number, SIG_DFL);
    std::raise(number);
}

/** The terminal in raw mode: every key goes to the server as it is typed. */
bool makeTerminalRaw()
{
    if (::tcgetattr(STDIN_FILENO, &g_savedTerminal) != 0)
        return false;
    for (const int number : {SIGHUP, SIGINT, SIGQUIT, SIGTERM, SIGPIPE})
        std::signal(number, onFatalSignal);
    termios raw = g_savedTerminal;
    ::cfmakeraw(&raw);
    g_terminalRaw = 1;
    if (::tcsetattr(STDIN_FILENO, TCSAFLUSH, &raw) != 0) {
        g_terminalRaw = 0;
        return false;
    }
    return true;
}

/** Relays both ways until the server closes or the input ends (Ctrl-D). */
void relay(int socket)
{
    char buffer[16 * 1024];
    for (;;) {
        pollfd entries[2] = {{STDIN_FILENO, POLLIN, 0}, {socket, POLLIN, 0}};
        if (::poll(entries, 2, -1) < 0)
            return;
        if (entries[1].revents) {
            const auto n = ::recv(socket, buffer, sizeof buffer, 0);
            if (n <= 0 || !writeAll(STDOUT_FILENO, std::string_view(buffer, n)))
                return;
        }
        if (entries[0].revents) {
            const auto n = ::read(STDIN_FILENO, buffer, sizeof buffer);
            if (n <= 0)
                return;
            std::string_view typed(buffer, static_cast<std::size_t>(n));
            // Ctrl-D ends the input, as it does on a terminal that is not raw.
            const auto end = typed.find('\x04');
            if (!sendAll(socket, typed.substr(0, end)) || end != std::string_view::npos)
                return;
        }
    }
}

int relayTerminal(const std::string& path)
{
    const Session session(path);
    if (!session.open())
        return session.refused(path);
    // Raw before the first byte: the server's CR LF goes out as it is.
    const bool raw = makeTerminalRaw();
    writeAll(STDOUT_FILENO, session.greeting());
    relay(session.fd());
    restoreTerminal();
    if (raw)
        std::fputs("\n", stdout);
    return kClientDone;
}

} // namespace

int runCommandLines(const std::string& socketPath, const std::vector<std::string>& lines)
{
    Session session(socketPath);
    if (!session.open())
        return session.refused(socketPath);
    int status = kClientDone;
    for (const auto& line : lines)
        if (!session.run(line, status))
            break;
    return status;
}

int attachSession(const std::string& socketPath)
{
    if (const char* forced = std::getenv("SSH_ORIGINAL_COMMAND"); forced && *forced)
        return runCommandLines(socketPath, {forced});
    if (::isatty(STDIN_FILENO))
        return relayTerminal(socketPath);
    Session session(socketPath);
    if (!session.open())
        return session.refused(socketPath);
    int status = kClientDone;
    for (std::string line; std::getline(std::cin, line);) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        // Blank lines between the commands of a script are no commands.
        if (line.empty())
            continue;
        if (!session.run(line, status))
            break;
    }
    return status;
}

} // namespace zelvor
