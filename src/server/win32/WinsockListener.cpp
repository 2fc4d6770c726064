// SPDX-License-Identifier: MIT
#include "server/win32/WinsockListener.h"

#include "server/TelnetServer.h"

#include <mstcpip.h>
#include <ws2tcpip.h>

#include <algorithm>
#include <climits>

namespace zelvor {
namespace {

constexpr UINT kListenerMessage = WM_APP + 1;
constexpr UINT kConnectionMessage = WM_APP + 2;
constexpr UINT kDropMessage = WM_APP + 3;
constexpr UINT kFailedMessage = WM_APP + 4;
constexpr UINT_PTR kStallTimer = 1;
/** Unread input waits in the system, so a client that floods us is held back by TCP. */
constexpr int kReadChunk = 64 * 1024;

void notInheritable(SOCKET socket)
{
    SetHandleInformation(reinterpret_cast<HANDLE>(socket), HANDLE_FLAG_INHERIT, 0);
}

template <typename Value> void setOption(SOCKET socket, int level, int name, Value value)
{
    ::setsockopt(socket, level, name, reinterpret_cast<const char*>(&value), sizeof value);
}

/** Keepalive that notices a vanished client after about a minute and a half of silence. */
void enableKeepAlive(SOCKET socket)
{
    setOption<BOOL>(socket, SOL_SOCKET, SO_KEEPALIVE, TRUE);
    tcp_keepalive values = {};
    values.onoff = 1;
    values.keepalivetime = 60 * 1000;
    values.keepaliveinterval = 10 * 1000;
    DWORD returned = 0;
    WSAIoctl(socket, SIO_KEEPALIVE_VALS, &values, sizeof values, nullptr, 0, &returned, nullptr,
             nullptr);
}

/** A stream socket that child processes (the player started by "start") do not inherit. */
SOCKET newSocket(int family)
{
    SOCKET socket = WSASocketW(family, SOCK_STREAM, IPPROTO_TCP, nullptr, 0,
                               WSA_FLAG_OVERLAPPED | WSA_FLAG_NO_HANDLE_INHERIT);
    if (socket == INVALID_SOCKET && WSAGetLastError() == WSAEINVAL)
        socket = WSASocketW(family, SOCK_STREAM, IPPROTO_TCP, nullptr, 0, WSA_FLAG_OVERLAPPED);
    if (socket != INVALID_SOCKET)
        notInheritable(socket);
    return socket;
}

/** The wildcard address of family with port. */
void anyAddress(int family, std::uint16_t port, sockaddr_storage& address, int& length)
{
    address = {};
    if (family == AF_INET6) {
        auto& v6 = reinterpret_cast<sockaddr_in6&>(address);
        v6.sin6_family = AF_INET6;
        v6.sin6_addr = in6addr_any;
        v6.sin6_port = htons(port);
        length = sizeof v6;
    } else {
        auto& v4 = reinterpret_cast<sockaddr_in&>(address);
        v4.sin_family = AF_INET;
        v4.sin_addr.s_addr = htonl(INADDR_ANY);
        v4.sin_port = htons(port);
        length = sizeof v4;
    }
}

/** The address to bind: host's, or the dual-stack wildcard when host is empty. */
bool listenAddress(const std::string& host, std::uint16_t port, sockaddr_storage& address,
                   int& length, int& family)
{
    if (host.empty()) {
        family = AF_INET6;
        anyAddress(family, port, address, length);
        return true;
    }
    for (const int candidate : {AF_INET, AF_INET6}) {
        anyAddress(candidate, port, address, length);
        void* where = candidate == AF_INET
                          ? static_cast<void*>(&reinterpret_cast<sockaddr_in&>(address).sin_addr)
                          : static_cast<void*>(&reinterpret_cast<sockaddr_in6&>(address).sin6_addr);
        if (inet_pton(candidate, host.c_str(), where) == 1) {
            family = candidate;
            return true;
        }
    }
    return false;
}

} // namespace

WinsockListener::WinsockListener()
    : m_window([this](UINT message, WPARAM wParam, LPARAM lParam) {
          return onMessage(message, wParam, lParam);
      })
{
    WSADATA data;
    m_started = WSAStartup(MAKEWORD(2, 2), &data) == 0;
}

WinsockListener::~WinsockListener()
{
    closeNow(m_listener);
    closeNow(m_pending);
    closeNow(m_socket);
    for (SOCKET socket : m_dropping)
        closeNow(socket);
    if (m_started)
        WSACleanup();
}

Winsock::ListenResult WinsockListener::listen(std::uint16_t port, const std::string& host)
{
    sockaddr_storage address = {};
    int length = 0;
    int family = 0;
    if (!listenAddress(host, port, address, length, family)) {
        m_lastError = "not an IP address";
        return ListenResult::Failed;
    }
    SOCKET socket = newSocket(family);
    if (socket == INVALID_SOCKET && host.empty()) {
        // Where the system has no IPv6, IPv4 alone.
        family = AF_INET;
        anyAddress(family, port, address, length);
        socket = newSocket(family);
    }
    if (socket == INVALID_SOCKET) {
        setLastError(WSAGetLastError());
        return ListenResult::Failed;
    }
    // Every address, one socket for both families.
    if (family == AF_INET6 && host.empty())
        setOption<DWORD>(socket, IPPROTO_IPV6, IPV6_V6ONLY, 0);
    // Nobody else may bind the port while we listen on it.
    setOption<BOOL>(socket, SOL_SOCKET, SO_EXCLUSIVEADDRUSE, TRUE);

    if (::bind(socket, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
        ::listen(socket, SOMAXCONN) != 0 ||
        WSAAsyncSelect(socket, m_window.handle(), kListenerMessage, FD_ACCEPT) != 0) {
        const int error = WSAGetLastError();
        setLastError(error);
        closesocket(socket);
        if (error == WSAEADDRINUSE)
            return ListenResult::AddressInUse;
        if (error == WSAEACCES)
            return ListenResult::NotPermitted;
        return ListenResult::Failed;
    }
    m_listener = socket;
    return ListenResult::Listening;
}

void WinsockListener::close()
{
    closeNow(m_listener);
    m_listener = INVALID_SOCKET;
    if (m_socket != INVALID_SOCKET) {
        flush();
        dropLater(m_socket);
        m_socket = INVALID_SOCKET;
    }
    m_input.clear();
    m_output.clear();
    stopStallTimer();
    m_reading = true;
}

bool WinsockListener::isClosed() const
{
    return m_listener == INVALID_SOCKET && m_socket == INVALID_SOCKET;
}

bool WinsockListener::accept()
{
    m_socket = m_pending;
    m_pending = INVALID_SOCKET;
    if (m_socket == INVALID_SOCKET)
        return false;
    if (WSAAsyncSelect(m_socket, m_window.handle(), kConnectionMessage,
                       FD_READ | FD_WRITE | FD_CLOSE) != 0) {
        closeNow(m_socket);
        m_socket = INVALID_SOCKET;
        return false;
    }
    notInheritable(m_socket);
    // Replies and prompts go out as separate small writes; Nagle would hold every second one
    // back until the client's delayed acknowledgement.
    setOption<BOOL>(m_socket, IPPROTO_TCP, TCP_NODELAY, TRUE);
    enableKeepAlive(m_socket);
    m_input.clear();
    m_output.clear();
    m_reading = true;
    return true;
}

std::string WinsockListener::remoteHostIP() const
{
    sockaddr_storage address = {};
    int length = sizeof address;
    if (m_socket == INVALID_SOCKET ||
        getpeername(m_socket, reinterpret_cast<sockaddr*>(&address), &length) != 0)
        return {};
    char text[INET6_ADDRSTRLEN] = {};
    if (address.ss_family == AF_INET6) {
        const auto& v6 = reinterpret_cast<const sockaddr_in6&>(address);
        // Clients reach the dual-stack listener over IPv4 as IPv4-mapped IPv6 addresses.
        if (IN6_IS_ADDR_V4MAPPED(&v6.sin6_addr))
            inet_ntop(AF_INET, &v6.sin6_addr.s6_addr[12], text, sizeof text);
        else
            inet_ntop(AF_INET6, &v6.sin6_addr, text, sizeof text);
    } else {
        inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in&>(address).sin_addr, text,
                  sizeof text);
    }
    return text;
}

std::string WinsockListener::lastError() const
{
    return m_lastError;
}

void WinsockListener::send(std::string_view bytes)
{
    if (m_socket == INVALID_SOCKET)
        return;
    m_output.append(bytes);
    flush();
}

bool WinsockListener::congested() const
{
    return m_socket != INVALID_SOCKET &&
           static_cast<std::int64_t>(m_output.size()) > kSendBacklogHigh;
}

std::uint16_t WinsockListener::listeningPort() const
{
    sockaddr_storage address = {};
    int length = sizeof address;
    if (m_listener == INVALID_SOCKET ||
        getsockname(m_listener, reinterpret_cast<sockaddr*>(&address), &length) != 0)
        return 0;
    const auto port = address.ss_family == AF_INET6
                          ? reinterpret_cast<const sockaddr_in6&>(address).sin6_port
                          : reinterpret_cast<const sockaddr_in&>(address).sin_port;
    return ntohs(port);
}

LRESULT WinsockListener::onMessage(UINT message, WPARAM wParam, LPARAM lParam)
{
    const auto socket = static_cast<SOCKET>(wParam);
    switch (message) {
    case kListenerMessage:
        onListenerEvent(socket, WSAGETSELECTEVENT(lParam));
        return 0;
    case kConnectionMessage:
        onConnectionEvent(socket, WSAGETSELECTEVENT(lParam), WSAGETSELECTERROR(lParam));
        return 0;
    case kDropMessage: {
        const auto it = std::find(m_dropping.begin(), m_dropping.end(), socket);
        if (it != m_dropping.end()) {
            m_dropping.erase(it);
            closeNow(socket);
        }
        return 0;
    }
    case kFailedMessage:
        if (socket == m_socket && m_handler)
            m_handler->Winsock1_Close();
        return 0;
    case WM_TIMER:
        if (wParam == kStallTimer) {
            stopStallTimer();
            if (m_socket != INVALID_SOCKET && m_handler)
                m_handler->Winsock1_Close();
        }
        return 0;
    default:
        return DefWindowProcW(m_window.handle(), message, wParam, lParam);
    }
}

void WinsockListener::onListenerEvent(SOCKET socket, int event)
{
    if (socket != m_listener || event != FD_ACCEPT)
        return;
    // Take the connection before the listener is closed: closing it discards pending ones.
    const SOCKET accepted = ::accept(m_listener, nullptr, nullptr);
    if (accepted == INVALID_SOCKET)
        return;
    closeNow(m_pending);
    m_pending = accepted;
    if (m_handler)
        m_handler->Winsock1_ConnectionRequest();
    // A request the server did not take is not left open.
    closeNow(m_pending);
    m_pending = INVALID_SOCKET;
}

void WinsockListener::onConnectionEvent(SOCKET socket, int event, int error)
{
    if (socket != m_socket)
        return;
    switch (event) {
    case FD_READ:
        if (m_reading)
            receive(false);
        break;
    case FD_WRITE:
        onSent();
        break;
    case FD_CLOSE:
        // A remote close, a reset or a failed send: all of them end the session the same way,
        // after whatever the client sent before it went.
        if (m_reading && error == 0)
            receive(true);
        if (socket == m_socket && m_handler)
            m_handler->Winsock1_Close();
        break;
    default:
        break;
    }
}

void WinsockListener::receive(bool everything)
{
    char buffer[kReadChunk];
    for (;;) {
        const int received = ::recv(m_socket, buffer, sizeof buffer, 0);
        if (received <= 0)
            break;
        m_input.append(buffer, static_cast<std::size_t>(received));
        if (!everything)
            break;
    }
    deliverInput();
}

void WinsockListener::deliverInput()
{
    const SOCKET socket = m_socket;
    while (!m_input.empty() && m_handler) {
        const std::size_t used = m_handler->Winsock1_DataArrival(m_input);
        if (m_socket != socket)
            return;
        m_input.erase(0, used);
        if (congested()) {
            m_reading = false;
            startStallTimer();
            return;
        }
        if (used == 0)
            return;
    }
}

bool WinsockListener::flush()
{
    while (!m_output.empty()) {
        const int size = static_cast<int>(std::min<std::size_t>(m_output.size(), INT_MAX / 2));
        const int sent = ::send(m_socket, m_output.data(), size, 0);
        if (sent > 0) {
            m_output.erase(0, static_cast<std::size_t>(sent));
            continue;
        }
        if (WSAGetLastError() != WSAEWOULDBLOCK) {
            connectionFailed();
            return false;
        }
        break;
    }
    return true;
}

void WinsockListener::onSent()
{
    if (!flush() || m_reading)
        return;
    if (static_cast<std::int64_t>(m_output.size()) >= kSendBacklogLow) {
        // The client is taking its replies, if slowly: it is not stuck.
        startStallTimer();
        return;
    }
    m_reading = true;
    stopStallTimer();
    // Reading again also re-arms FD_READ, which stayed quiet while nothing was read.
    receive(false);
}

void WinsockListener::connectionFailed()
{
    m_output.clear();
    PostMessageW(m_window.handle(), kFailedMessage, static_cast<WPARAM>(m_socket), 0);
}

void WinsockListener::dropLater(SOCKET socket)
{
    // Closing locally must not look like the client hanging up; the connection itself ends
    // once the running handler is done, by which time the listener is open again: a client
    // that reconnects the moment it sees the close is not refused.
    WSAAsyncSelect(socket, m_window.handle(), 0, 0);
    m_dropping.push_back(socket);
    PostMessageW(m_window.handle(), kDropMessage, static_cast<WPARAM>(socket), 0);
}

void WinsockListener::closeNow(SOCKET socket)
{
    if (socket != INVALID_SOCKET)
        closesocket(socket);
}

void WinsockListener::setLastError(int code)
{
    char* text = nullptr;
    FormatMessageA(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, static_cast<DWORD>(code), 0, reinterpret_cast<char*>(&text), 0, nullptr);
    m_lastError = text ? text : "";
    LocalFree(text);
    while (!m_lastError.empty() &&
           (m_lastError.back() == '\n' || m_lastError.back() == '\r' || m_lastError.back() == ' '))
        m_lastError.pop_back();
    if (m_lastError.empty())
        m_lastError = "Winsock error " + std::to_string(code);
}

void WinsockListener::startStallTimer()
{
    SetTimer(m_window.handle(), kStallTimer,
             static_cast<UINT>(std::chrono::milliseconds(kSendStallLimit).count()), nullptr);
}

void WinsockListener::stopStallTimer()
{
    KillTimer(m_window.handle(), kStallTimer);
}

} // namespace zelvor
