// SPDX-License-Identifier: MIT
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>

namespace zelvor::test {

/**
 * A plain TCP client for loopback tests. Reads never block for long: while waiting it calls
 * the idle function, which runs the server's event loop when the server lives in this process.
 */
class TcpClient
{
public:
    using Idle = std::function<void()>;

    explicit TcpClient(Idle idle = {});
    ~TcpClient();
    TcpClient(const TcpClient&) = delete;
    TcpClient& operator=(const TcpClient&) = delete;

    /** Connects to host:port ("127.0.0.1" or "::1"), from the source address when one is given
     * ("127.0.0.2"); false when refused, and also when the socket found itself on the far end
     * because nothing listened. */
    bool connect(const std::string& host, std::uint16_t port, const std::string& source = {});
    /** Connects to the Unix socket at path; false when nobody answers there. */
    bool connectLocal(const std::string& path);
    void send(const std::string& bytes);
    /** Sends each byte on its own, as a telnet client in character mode does. */
    void type(const std::string& keys);
    /** Reads until the received text ends with the expected suffix; returns what was read. */
    std::string readUntil(const std::string& suffix,
                          std::chrono::milliseconds timeout = std::chrono::seconds(10));
    /** Reads whatever arrives within the time. */
    std::string readFor(std::chrono::milliseconds time);
    /** True when the server closed the connection within the timeout; returns data read too. */
    bool waitForClose(std::string* received = nullptr,
                      std::chrono::milliseconds timeout = std::chrono::seconds(10));
    /** Drops the connection with a reset instead of an orderly close. */
    void reset();
    void close();
    int fd() const { return m_fd; }

private:
    bool connectedToItself() const;
    /** One non-blocking read attempt: >0 bytes appended, 0 closed, -1 nothing yet. */
    int readSome(std::string& into);

    Idle m_idle;
    int m_fd = -1;
};

/** A TCP port on the loopback that nothing listens on right now. */
std::uint16_t freePort();

} // namespace zelvor::test
