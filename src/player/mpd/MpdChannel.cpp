// SPDX-License-Identifier: MIT
#include "player/mpd/MpdChannel.h"

#include <mpd/client.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace zelvor {

namespace {

constexpr unsigned kDefaultPort = 6600;

// An argument as MPD reads it: in double quotes, with '"' and '\' escaped.
void appendQuoted(std::string& text, const std::string& argument)
{
    text += " \"";
    for (const char c : argument) {
        if (c == '"' || c == '\\')
            text += '\\';
        text += c;
    }
    text += '"';
}

std::string commandText(const MpdCommand& command)
{
    std::string text = command.empty() ? std::string() : command.front();
    for (std::size_t i = 1; i < command.size(); ++i)
        appendQuoted(text, command[i]);
    text += '\n';
    return text;
}

// "ACK [50@1] {add} No such directory": the reason, the place in the list, the message.
MpdRefusal refusalOf(std::string_view text)
{
    MpdRefusal refusal;
    unsigned code = 0;
    unsigned at = 0;
    const std::string line(text);
    if (std::sscanf(line.c_str(), "ACK [%u@%u]", &code, &at) == 2) {
        refusal.code = static_cast<int>(code);
        refusal.at = at;
    }
    if (const auto brace = line.find("} "); brace != std::string::npos)
        refusal.message = line.substr(brace + 2);
    return refusal;
}

bool isSocketPath(const std::string& host)
{
    return !host.empty() && (host.front() == '/' || host.front() == '@');
}

int connectLocal(const std::string& path)
{
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof address.sun_path)
        return -1;
    std::memcpy(address.sun_path, path.data(), path.size());
    // A name starting with '@' is in the abstract namespace.
    if (path.front() == '@')
        address.sun_path[0] = '\0';
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    const auto length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + path.size());
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), length) != 0 && errno != EAGAIN &&
        errno != EINPROGRESS) {
        ::close(fd);
        return -1;
    }
    return fd;
}

int connectTcp(const std::string& host, unsigned port)
{
    addrinfo hints{};
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_ADDRCONFIG;
    addrinfo* found = nullptr;
    if (::getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &found) != 0)
        return -1;
    int fd = -1;
    for (addrinfo* at = found; at != nullptr && fd < 0; at = at->ai_next) {
        fd = ::socket(at->ai_family, at->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC,
                      at->ai_protocol);
        if (fd < 0)
            continue;
        if (::connect(fd, at->ai_addr, at->ai_addrlen) != 0 && errno != EINPROGRESS) {
            ::close(fd);
            fd = -1;
            continue;
        }
        // A command list leaves in several writes and MPD answers only its end; without this,
        // Nagle's algorithm holds the last write back until MPD's delayed acknowledgement.
        const int on = 1;
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    }
    ::freeaddrinfo(found);
    return fd;
}

} // namespace

MpdChannel::MpdChannel(PlayerLoop& loop, std::function<std::optional<std::string>()> ownSocket)
    : m_loop(loop), m_ownSocket(std::move(ownSocket))
{}

MpdChannel::~MpdChannel()
{
    *m_alive = false;
    m_loop.unwatch(m_watch);
    m_loop.cancel(m_timer);
    if (m_fd >= 0)
        ::close(m_fd);
}

void MpdChannel::send(std::vector<MpdCommand> commands, Done done)
{
    std::string text;
    if (commands.size() == 1) {
        text = commandText(commands.front());
    } else {
        text = "command_list_ok_begin\n";
        for (const auto& command : commands)
            text += commandText(command);
        text += "command_list_end\n";
    }
    if (m_fd < 0)
        connect();
    if (m_fd < 0) {
        // Nobody answered at any place: the answer still comes from the loop.
        unreachedLater(std::move(done));
        return;
    }
    if (m_idling) {
        m_out += "noidle\n";
        m_idling = false;
    }
    queue(text, std::move(done), false);
}

void MpdChannel::later(std::function<void()> work)
{
    m_loop.after(std::chrono::milliseconds(0), [alive = m_alive, work = std::move(work)] {
        if (*alive)
            work();
    });
}

void MpdChannel::unreachedLater(Done done)
{
    later([done = std::move(done)] { done({}); });
}

void MpdChannel::idle(const std::string& subsystem, Done done)
{
    if (m_fd < 0) {
        unreachedLater(std::move(done));
        return;
    }
    if (m_idling)
        m_out += "noidle\n";
    std::string text = "idle";
    appendQuoted(text, subsystem);
    queue(text + "\n", std::move(done), true);
    m_idling = true;
}

void MpdChannel::wake()
{
    if (!m_idling || m_fd < 0 || m_owed.empty())
        return;
    m_idling = false;
    // From here on MPD owes the answer like any other.
    m_owed.back().woken = true;
    m_out += "noidle\n";
    restartTime();
    arm();
    writeSome();
    updateWatch();
}

void MpdChannel::hold(bool held)
{
    m_held = held;
    if (!held)
        idleIfQuiet();
}

void MpdChannel::close()
{
    fail();
}

void MpdChannel::queue(const std::string& text, Done done, bool idle)
{
    if (!idle && !owesAnswer())
        restartTime();
    m_out += text;
    m_owed.push_back({std::move(done), {}, idle});
    arm();
    writeSome();
    updateWatch();
}

// The places in order; the first that takes the connection is used.
void MpdChannel::connect()
{
    m_places.clear();
    if (m_ownSocket) {
        if (const auto own = m_ownSocket())
            m_places.push_back({*own, 0});
    }
    mpd_settings* settings = mpd_settings_new(nullptr, 0, 0, nullptr, nullptr);
    m_password.clear();
    if (settings != nullptr) {
        const char* host = mpd_settings_get_host(settings);
        const unsigned port = mpd_settings_get_port(settings);
        const std::string name = host != nullptr ? host : "localhost";
        m_places.push_back({name, port != 0 ? port : kDefaultPort});
        // Without MPD_HOST, libmpdclient's default socket comes first, then the default port.
        if (std::getenv("MPD_HOST") == nullptr && isSocketPath(name)) {
            const char* envPort = std::getenv("MPD_PORT");
            const unsigned tcpPort =
                envPort != nullptr ? static_cast<unsigned>(std::atoi(envPort)) : kDefaultPort;
            m_places.push_back({"localhost", tcpPort != 0 ? tcpPort : kDefaultPort});
        }
        if (const char* password = mpd_settings_get_password(settings))
            m_password = password;
        mpd_settings_free(settings);
    }
    connectFrom(0);
}

bool MpdChannel::connectFrom(std::size_t index)
{
    for (m_place = index; m_place < m_places.size(); ++m_place) {
        if (connectTo(m_places[m_place]))
            return true;
    }
    return false;
}

bool MpdChannel::connectTo(const Place& place)
{
    m_fd = isSocketPath(place.host) ? connectLocal(place.host) : connectTcp(place.host, place.port);
    if (m_fd < 0)
        return false;
    m_welcomed = false;
    m_idling = false;
    m_in.clear();
    const auto alive = m_alive;
    m_watch = m_loop.watch(m_fd, true, true, [this, alive] {
        if (*alive)
            ready();
    });
    restartTime();
    arm();
    return true;
}

void MpdChannel::ready()
{
    if (m_fd < 0)
        return;
    if (!m_welcomed) {
        int error = 0;
        socklen_t length = sizeof error;
        if (::getsockopt(m_fd, SOL_SOCKET, SO_ERROR, &error, &length) != 0 || error != 0) {
            // This place refused: the next one is tried with what waits to be sent.
            m_loop.unwatch(m_watch);
            m_watch = 0;
            ::close(m_fd);
            m_fd = -1;
            if (!connectFrom(m_place + 1))
                fail();
            return;
        }
    }
    readSome();
    writeSome();
    updateWatch();
}

void MpdChannel::readSome()
{
    const auto connection = m_generation;
    char buffer[65536];
    while (m_fd >= 0) {
        const ssize_t got = ::recv(m_fd, buffer, sizeof buffer, MSG_DONTWAIT);
        if (got == 0 || (got < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)) {
            fail();
            return;
        }
        if (got < 0)
            break;
        m_in.append(buffer, static_cast<std::size_t>(got));
    }
    // An answer's callback may close this connection (which empties the buffer), or open the
    // next one; the lines are taken from the front and the buffer is cut once.
    std::size_t taken = 0;
    while (m_fd >= 0 && m_generation == connection) {
        const auto end = m_in.find('\n', taken);
        if (end == std::string::npos)
            break;
        const std::string text = m_in.substr(taken, end - taken);
        taken = end + 1;
        line(text);
    }
    if (m_generation == connection)
        m_in.erase(0, taken);
}

void MpdChannel::writeSome()
{
    while (m_fd >= 0 && m_welcomed && !m_out.empty()) {
        const ssize_t sent = ::send(m_fd, m_out.data(), m_out.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
        if (sent < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
            break;
        if (sent < 0 && errno == EINTR)
            continue;
        if (sent <= 0) {
            fail();
            return;
        }
        m_out.erase(0, static_cast<std::size_t>(sent));
    }
}

void MpdChannel::updateWatch()
{
    if (m_fd >= 0)
        m_loop.rewatch(m_watch, true, !m_welcomed || !m_out.empty());
}

void MpdChannel::welcome(std::string_view text)
{
    unsigned major = 0, minor = 0, patch = 0;
    const std::string line(text);
    if (std::sscanf(line.c_str(), "OK MPD %u.%u.%u", &major, &minor, &patch) < 2) {
        fail();
        return;
    }
    m_version = {major, minor, patch};
    m_welcomed = true;
    ++m_connections;
    if (!m_password.empty()) {
        std::string password = "password";
        appendQuoted(password, m_password);
        m_out.insert(0, password + "\n");
        m_owed.push_front({nullptr, {}, false});
    }
    restartTime();
    arm();
    if (m_owed.empty())
        idleIfQuiet();
}

void MpdChannel::line(std::string_view text)
{
    if (!m_welcomed) {
        welcome(text);
        return;
    }
    if (m_owed.empty())
        return;
    MpdReply& reply = m_owed.front().reply;
    if (text == "OK") {
        reply.reached = true;
        finishFront();
    } else if (text.substr(0, 4) == "ACK ") {
        reply.reached = true;
        reply.refusal = refusalOf(text);
        finishFront();
    } else if (text == "list_OK") {
        reply.pairs.push_back({"list_OK", {}});
    } else if (const auto colon = text.find(": "); colon != std::string_view::npos) {
        reply.pairs.push_back(
            {std::string(text.substr(0, colon)), std::string(text.substr(colon + 2))});
    }
}

void MpdChannel::finishFront()
{
    Owed owed = std::move(m_owed.front());
    m_owed.pop_front();
    restartTime();
    if (owed.idle) {
        m_idling = false;
        if (onChange && valueOf(owed.reply.pairs, "changed"))
            onChange();
    }
    if (owed.done)
        owed.done(std::move(owed.reply));
    idleIfQuiet();
}

void MpdChannel::idleIfQuiet()
{
    if (m_fd < 0 || !m_welcomed || m_held || !m_owed.empty())
        return;
    queue("idle player playlist\n", nullptr, true);
    m_idling = true;
}

// While an answer is owed (or the connection is being made), it must come within the time,
// counted afresh from each answer. One timer serves many answers: when it runs early, it waits
// on for the rest of the time.
void MpdChannel::arm()
{
    if (m_fd < 0)
        return;
    if (m_welcomed && !owesAnswer())
        return;
    if (m_timer != 0)
        return;
    const auto alive = m_alive;
    const auto left =
        std::chrono::ceil<std::chrono::milliseconds>(m_deadline - std::chrono::steady_clock::now());
    m_timer = m_loop.after(std::max(left, std::chrono::milliseconds(0)), [this, alive] {
        if (!*alive)
            return;
        m_timer = 0;
        if (std::chrono::steady_clock::now() < m_deadline)
            arm();
        else if (m_fd >= 0 && (!m_welcomed || owesAnswer()))
            fail();
    });
}

bool MpdChannel::owesAnswer() const
{
    return std::any_of(m_owed.begin(), m_owed.end(),
                       [](const Owed& o) { return !o.idle || o.woken; });
}

void MpdChannel::restartTime()
{
    m_deadline = std::chrono::steady_clock::now() + kTimeout;
}

void MpdChannel::fail()
{
    if (m_fd >= 0 && onChange) {
        later([this] {
            if (onChange)
                onChange();
        });
    }
    ++m_generation;
    m_loop.unwatch(m_watch);
    m_watch = 0;
    m_loop.cancel(m_timer);
    m_timer = 0;
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
    m_welcomed = false;
    m_idling = false;
    m_in.clear();
    m_out.clear();
    std::vector<Done> owed;
    for (auto& o : m_owed)
        if (o.done)
            owed.push_back(std::move(o.done));
    m_owed.clear();
    if (owed.empty())
        return;
    later([owed = std::move(owed)] {
        for (const auto& done : owed)
            done({});
    });
}

std::vector<std::vector<MpdPair>> answersOf(const MpdReply& reply)
{
    std::vector<std::vector<MpdPair>> answers(1);
    for (const auto& pair : reply.pairs) {
        if (pair.name == "list_OK")
            answers.emplace_back();
        else
            answers.back().push_back(pair);
    }
    return answers;
}

std::optional<std::string> valueOf(const std::vector<MpdPair>& pairs, std::string_view name)
{
    for (const auto& pair : pairs)
        if (pair.name == name)
            return pair.value;
    return std::nullopt;
}

} // namespace zelvor
