// SPDX-License-Identifier: MIT
#include "TcpClient.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <thread>

namespace zelvor::test {

using Clock = std::chrono::steady_clock;

TcpClient::TcpClient(Idle idle) : m_idle(std::move(idle)) {}

TcpClient::~TcpClient()
{
    close();
}

bool TcpClient::connect(const std::string& host, std::uint16_t port, const std::string& source)
{
    close();
    const bool v6 = host.find(':') != std::string::npos;
    m_fd = ::socket(v6 ? AF_INET6 : AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (m_fd < 0)
        return false;
    const int one = 1;
    ::setsockopt(m_fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    int result = -1;
    if (v6) {
        sockaddr_in6 address{};
        address.sin6_family = AF_INET6;
        address.sin6_port = htons(port);
        ::inet_pton(AF_INET6, host.c_str(), &address.sin6_addr);
        result = ::connect(m_fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    } else {
        if (!source.empty()) {
            sockaddr_in local{};
            local.sin_family = AF_INET;
            ::inet_pton(AF_INET, source.c_str(), &local.sin_addr);
            if (::bind(m_fd, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0) {
                close();
                return false;
            }
        }
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(port);
        ::inet_pton(AF_INET, host.c_str(), &address.sin_addr);
        result = ::connect(m_fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    }
    if (result != 0) {
        close();
        return false;
    }
    if (connectedToItself()) {
        // While nothing listens on the port, the kernel may pick that very port as our own end,
        // and the socket then connects to itself: for the test that is a refusal. A reset
        // leaves no TIME_WAIT behind that would keep the server from listening on the port.
        reset();
        return false;
    }
    return true;
}

bool TcpClient::connectLocal(const std::string& path)
{
    close();
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof address.sun_path)
        return false;
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    m_fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (m_fd < 0 || ::connect(m_fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        close();
        return false;
    }
    return true;
}

bool TcpClient::connectedToItself() const
{
    sockaddr_storage local{};
    sockaddr_storage peer{};
    socklen_t localLength = sizeof local;
    socklen_t peerLength = sizeof peer;
    if (::getsockname(m_fd, reinterpret_cast<sockaddr*>(&local), &localLength) != 0 ||
        ::getpeername(m_fd, reinterpret_cast<sockaddr*>(&peer), &peerLength) != 0)
        return false;
    return localLength == peerLength && std::memcmp(&local, &peer, localLength) == 0;
}

void TcpClient::send(const std::string& bytes)
{
    std::size_t sent = 0;
    while (sent < bytes.size()) {
        const auto n = ::send(m_fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (n <= 0)
            return;
        sent += static_cast<std::size_t>(n);
    }
}

void TcpClient::type(const std::string& keys)
{
    for (const char key : keys) {
        send(std::string(1, key));
        // Let the server take each key as its own chunk.
        if (m_idle)
            m_idle();
    }
}

int TcpClient::readSome(std::string& into)
{
    char buffer[65536];
    const auto n = ::recv(m_fd, buffer, sizeof buffer, MSG_DONTWAIT);
    if (n > 0) {
        into.append(buffer, static_cast<std::size_t>(n));
        return 1;
    }
    if (n == 0)
        return 0;
    return (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) ? -1 : 0;
}

namespace {

/** Waits a little for the socket to become readable, running the idle function meanwhile. */
void waitReadable(int fd, const TcpClient::Idle& idle)
{
    if (idle) {
        idle();
        pollfd entry{fd, POLLIN, 0};
        ::poll(&entry, 1, 1);
    } else {
        pollfd entry{fd, POLLIN, 0};
        ::poll(&entry, 1, 20);
    }
}

} // namespace

std::string TcpClient::readUntil(const std::string& suffix, std::chrono::milliseconds timeout)
{
    std::string received;
    const auto deadline = Clock::now() + timeout;
    while (Clock::now() < deadline) {
        if (received.size() >= suffix.size() &&
            received.compare(received.size() - suffix.size(), suffix.size(), suffix) == 0)
            return received;
        const int state = readSome(received);
        if (state == 0)
            break;
        if (state < 0)
            waitReadable(m_fd, m_idle);
    }
    return received;
}

std::string TcpClient::readFor(std::chrono::milliseconds time)
{
    std::string received;
    const auto deadline = Clock::now() + time;
    while (Clock::now() < deadline) {
        const int state = readSome(received);
        if (state == 0)
            break;
        if (state < 0)
            waitReadable(m_fd, m_idle);
    }
    return received;
}

bool TcpClient::waitForClose(std::string* received, std::chrono::milliseconds timeout)
{
    std::string data;
    const auto deadline = Clock::now() + timeout;
    bool closed = false;
    while (Clock::now() < deadline) {
        const int state = readSome(data);
        if (state == 0) {
            closed = true;
            break;
        }
        if (state < 0)
            waitReadable(m_fd, m_idle);
    }
    if (received)
        *received = data;
    return closed;
}

void TcpClient::reset()
{
    if (m_fd < 0)
        return;
    linger option{1, 0};
    ::setsockopt(m_fd, SOL_SOCKET, SO_LINGER, &option, sizeof option);
    close();
}

void TcpClient::close()
{
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
}

std::uint16_t freePort()
{
    const int fd = ::socket(AF_INET6, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in6 address{};
    address.sin6_family = AF_INET6;
    address.sin6_addr = in6addr_any;
    ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    socklen_t length = sizeof address;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    ::close(fd);
    return ntohs(address.sin6_port);
}

} // namespace zelvor::test
