// SPDX-License-Identifier: MIT
#include "server/win32/WinsockListener.h"

#include "server/InputFlow.h"
#include "server/Winsock.h"

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

void closeNow(SOCKET socket)
{
    if (socket != INVALID_SOCKET)
        closesocket(socket);
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

/** One accepted connection; its stall timer's id is its own id. */
struct WinsockListener::Connection : FlowSocket
{
    Connection(ConnectionId connection, SOCKET held)
        : id(connection), flow(connection), socket(held)
    {}
    ~Connection() override { closeNow(socket); }
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    bool stillOpen() const override { return open; }
    // Every write is handed to the system at once; what it does not take waits for FD_WRITE.
    void flushReplies() override {}
    std::int64_t backlog() const override { return static_cast<std::int64_t>(output.size()); }
    /** Sends what the system takes now; the rest waits for FD_WRITE. False on a failure. */
    bool flush();

    const ConnectionId id;
    InputFlow flow;
    const SOCKET socket;
    std::string output;
    bool open = true;
};

bool WinsockListener::Connection::flush()
{
    while (!output.empty()) {
        const int size = static_cast<int>(std::min<std::size_t>(output.size(), INT_MAX / 2));
        const int sent = ::send(socket, output.data(), size, 0);
        if (sent > 0) {
            output.erase(0, static_cast<std::size_t>(sent));
            continue;
        }
        return WSAGetLastError() == WSAEWOULDBLOCK;
    }
    return true;
}

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
    close();
    m_dropping.clear();
    if (m_started)
        WSACleanup();
}

Winsock::ListenResult WinsockListener::listen(std::uint16_t port, const std::string& host)
{
    if (m_listener != INVALID_SOCKET) {
        // The one listener stays open: a client connecting meanwhile is never refused, and no
        // other program can take the port.
        if (m_port == port && m_host == host)
            return ListenResult::Listening;
        stopListening();
    }
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
    m_port = port;
    m_host = host;
    return ListenResult::Listening;
}

void WinsockListener::stopListening()
{
    closeNow(m_listener);
    m_listener = INVALID_SOCKET;
    m_port = 0;
}

void WinsockListener::close()
{
    stopListening();
    while (!m_connections.empty())
        close(m_connections.begin()->first);
}

ConnectionId WinsockListener::accept()
{
    const SOCKET socket = m_pending;
    m_pending = INVALID_SOCKET;
    if (socket == INVALID_SOCKET)
        return 0;
    if (WSAAsyncSelect(socket, m_window.handle(), kConnectionMessage,
                       FD_READ | FD_WRITE | FD_CLOSE) != 0) {
        closeNow(socket);
        return 0;
    }
    notInheritable(socket);
    // Replies and prompts go out as separate small writes; Nagle would hold every second one
    // back until the client's delayed acknowledgement.
    setOption<BOOL>(socket, IPPROTO_TCP, TCP_NODELAY, TRUE);
    enableKeepAlive(socket);
    const ConnectionId id = m_nextId++;
    m_connections.emplace(id, std::make_unique<Connection>(id, socket));
    return id;
}

WinsockListener::Connection* WinsockListener::find(ConnectionId connection) const
{
    const auto it = m_connections.find(connection);
    return it == m_connections.end() ? nullptr : it->second.get();
}

WinsockListener::Connection* WinsockListener::findSocket(SOCKET socket) const
{
    for (const auto& [id, held] : m_connections)
        if (held->socket == socket)
            return held.get();
    return nullptr;
}

void WinsockListener::close(ConnectionId connection)
{
    const auto it = m_connections.find(connection);
    if (it == m_connections.end())
        return;
    Connection& held = *it->second;
    held.open = false;
    held.flush();
    KillTimer(m_window.handle(), static_cast<UINT_PTR>(connection));
    // Closing locally must not look like the client hanging up; the socket itself closes once
    // the running handler is done with it.
    WSAAsyncSelect(held.socket, m_window.handle(), 0, 0);
    m_dropping.push_back(std::move(it->second));
    m_connections.erase(it);
    PostMessageW(m_window.handle(), kDropMessage, 0, 0);
}

std::string WinsockListener::remoteHostIP(ConnectionId connection) const
{
    const Connection* held = find(connection);
    sockaddr_storage address = {};
    int length = sizeof address;
    if (!held || getpeername(held->socket, reinterpret_cast<sockaddr*>(&address), &length) != 0)
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

void WinsockListener::send(ConnectionId connection, std::string_view bytes)
{
    Connection* held = find(connection);
    if (!held)
        return;
    held->output.append(bytes);
    if (!held->flush())
        connectionFailed(*held);
}

bool WinsockListener::congested(ConnectionId connection) const
{
    const Connection* held = find(connection);
    return held && overBacklog(held->backlog());
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
    switch (message) {
    case kListenerMessage:
        onListenerEvent(static_cast<SOCKET>(wParam), WSAGETSELECTEVENT(lParam));
        return 0;
    case kConnectionMessage:
        onConnectionEvent(static_cast<SOCKET>(wParam), WSAGETSELECTEVENT(lParam),
                          WSAGETSELECTERROR(lParam));
        return 0;
    case kDropMessage:
        m_dropping.clear();
        return 0;
    case kFailedMessage:
        connectionEnded(static_cast<ConnectionId>(wParam));
        return 0;
    case WM_TIMER:
        // A stall timer: the client took nothing for too long.
        KillTimer(m_window.handle(), wParam);
        connectionEnded(static_cast<ConnectionId>(wParam));
        return 0;
    default:
        return DefWindowProcW(m_window.handle(), message, wParam, lParam);
    }
}

void WinsockListener::onListenerEvent(SOCKET socket, int event)
{
    if (socket != m_listener || event != FD_ACCEPT)
        return;
    const SOCKET accepted = ::accept(m_listener, nullptr, nullptr);
    if (accepted == INVALID_SOCKET)
        return;
    m_pending = accepted;
    if (m_handler)
        m_handler->Winsock1_ConnectionRequest();
    // A request the server did not take is not left open.
    closeNow(m_pending);
    m_pending = INVALID_SOCKET;
}

void WinsockListener::onConnectionEvent(SOCKET socket, int event, int error)
{
    Connection* held = findSocket(socket);
    if (!held)
        return;
    switch (event) {
    case FD_READ:
        if (held->flow.reading())
            receive(*held, false);
        break;
    case FD_WRITE:
        onSent(*held);
        break;
    case FD_CLOSE: {
        // Windows hands out a closed socket's handle again at once, so a close notification
        // still queued for the connection that had it can reach a new one. A real end reads as
        // one; a socket that is still there with nothing to read did not end.
        char byte = 0;
        if (error == 0 && ::recv(socket, &byte, 1, MSG_PEEK) < 0 &&
            WSAGetLastError() == WSAEWOULDBLOCK)
            break;
        // A remote close, a reset or a failed send: all of them end the connection the same
        // way, after whatever the client sent before it went.
        const ConnectionId id = held->id;
        if (held->flow.reading() && error == 0)
            receive(*held, true);
        connectionEnded(id);
        break;
    }
    default:
        break;
    }
}

void WinsockListener::reportEndedConnections()
{
    std::vector<ConnectionId> ended;
    for (const auto& [id, held] : m_connections)
        if (takeEnd(*held))
            ended.push_back(id);
    // What was read on the way, from connections that ended or not, is handed over first.
    std::vector<ConnectionId> all;
    for (const auto& [id, held] : m_connections)
        all.push_back(id);
    for (const ConnectionId id : all)
        deliverInput(id);
    for (const ConnectionId id : ended)
        connectionEnded(id);
}

bool WinsockListener::takeEnd(Connection& connection)
{
    char byte = 0;
    const int peeked = ::recv(connection.socket, &byte, 1, MSG_PEEK);
    if (peeked == 0)
        return true;
    if (peeked < 0)
        return WSAGetLastError() != WSAEWOULDBLOCK;
    if (!connection.flow.reading())
        return false;
    // Data waits, and the end may be behind it: read it all, to be handed over first.
    char buffer[kReadChunk];
    for (;;) {
        const int received = ::recv(connection.socket, buffer, sizeof buffer, 0);
        if (received > 0) {
            connection.flow.append(std::string_view(buffer, static_cast<std::size_t>(received)));
            continue;
        }
        return received == 0 || WSAGetLastError() != WSAEWOULDBLOCK;
    }
}

void WinsockListener::receive(Connection& connection, bool everything)
{
    char buffer[kReadChunk];
    for (;;) {
        const int received = ::recv(connection.socket, buffer, sizeof buffer, 0);
        if (received <= 0)
            break;
        connection.flow.append(std::string_view(buffer, static_cast<std::size_t>(received)));
        if (!everything)
            break;
    }
    deliverInput(connection.id);
}

void WinsockListener::deliverInput(ConnectionId connection)
{
    Connection* held = find(connection);
    if (!held || !m_handler)
        return;
    if (held->flow.deliver(*m_handler, *held) == InputFlow::Next::Stall)
        SetTimer(m_window.handle(), static_cast<UINT_PTR>(connection),
                 static_cast<UINT>(std::chrono::milliseconds(kSendStallLimit).count()), nullptr);
}

void WinsockListener::onSent(Connection& connection)
{
    if (!connection.flush()) {
        connectionFailed(connection);
        return;
    }
    switch (connection.flow.sent(connection.backlog())) {
    case InputFlow::Next::Stall:
        SetTimer(m_window.handle(), static_cast<UINT_PTR>(connection.id),
                 static_cast<UINT>(std::chrono::milliseconds(kSendStallLimit).count()), nullptr);
        break;
    case InputFlow::Next::Resume:
        KillTimer(m_window.handle(), static_cast<UINT_PTR>(connection.id));
        // Reading again also re-arms FD_READ, which stayed quiet while nothing was read.
        receive(connection, false);
        break;
    case InputFlow::Next::Read:
    case InputFlow::Next::Gone:
        break;
    }
}

void WinsockListener::connectionFailed(Connection& connection)
{
    connection.output.clear();
    PostMessageW(m_window.handle(), kFailedMessage, static_cast<WPARAM>(connection.id), 0);
}

void WinsockListener::connectionEnded(ConnectionId connection)
{
    if (!find(connection))
        return;
    if (m_handler)
        m_handler->Winsock1_Close(connection);
    close(connection);
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

} // namespace zelvor
