// SPDX-License-Identifier: MIT
#include "server/qt/Listener.h"

#include "server/InputFlow.h"
#include "server/Winsock.h"

#include <QHostAddress>
#include <QTimer>

#include <poll.h>
#include <sys/socket.h>

#include <vector>

#ifdef Q_OS_LINUX
#include <netinet/in.h>
#include <netinet/tcp.h>
#endif

namespace zelvor {
namespace {

/** Keepalive that notices a vanished client after about a minute and a half of silence. */
void enableKeepAlive(QTcpSocket* socket)
{
    socket->setSocketOption(QAbstractSocket::KeepAliveOption, 1);
#ifdef Q_OS_LINUX
    const int fd = static_cast<int>(socket->socketDescriptor());
    const int idle = 60;
    const int interval = 10;
    const int count = 3;
    ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPIDLE, &idle, sizeof idle);
    ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPINTVL, &interval, sizeof interval);
    ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPCNT, &count, sizeof count);
#endif
}

#ifdef POLLRDHUP
constexpr short kRemoteEnd = POLLRDHUP | POLLHUP | POLLERR;
#else
constexpr short kRemoteEnd = POLLHUP | POLLERR;
#endif

} // namespace

Listener::Listener(QObject* parent) : QObject(parent)
{
    connect(&m_server, &QTcpServer::newConnection, this, &Listener::onNewConnection);
}

Listener::~Listener()
{
    close();
}

Winsock::ListenResult Listener::listen(std::uint16_t port, const std::string& address)
{
    QHostAddress host(QHostAddress::Any);
    if (!address.empty() && !host.setAddress(QString::fromStdString(address))) {
        m_lastError = QStringLiteral("not an IP address");
        return ListenResult::Failed;
    }
    if (m_server.isListening()) {
        // The one listener stays open: a client connecting meanwhile is never refused.
        if (m_server.serverPort() == port && m_server.serverAddress() == host)
            return ListenResult::Listening;
        m_server.close();
    }
    if (m_server.listen(host, port))
        return ListenResult::Listening;
    m_lastError = m_server.errorString();
    switch (m_server.serverError()) {
    case QAbstractSocket::AddressInUseError:
        return ListenResult::AddressInUse;
    case QAbstractSocket::SocketAccessError:
        return ListenResult::NotPermitted;
    default:
        return ListenResult::Failed;
    }
}

void Listener::stopListening()
{
    m_server.close();
}

void Listener::close()
{
    m_server.close();
    m_connections.closeAll();
}

ConnectionId Listener::accept()
{
    QTcpSocket* socket = m_connections.takePending();
    if (!socket)
        return 0;
    if (socket->state() != QAbstractSocket::ConnectedState) {
        dropSocket(socket);
        socket->deleteLater();
        return 0;
    }
    // Replies and prompts go out as separate small writes; Nagle would hold every second one
    // back until the client's delayed acknowledgement.
    socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    enableKeepAlive(socket);
    return m_connections.add(socket);
}

void Listener::close(ConnectionId connection)
{
    m_connections.close(connection);
}

std::string Listener::remoteHostIP(ConnectionId connection) const
{
    const Connection* held = m_connections.find(connection);
    if (!held)
        return {};
    QHostAddress address = held->socket->peerAddress();
    // Clients reach the dual-stack listener over IPv4 as IPv4-mapped IPv6 addresses.
    bool isV4 = false;
    const quint32 v4 = address.toIPv4Address(&isV4);
    if (isV4)
        address = QHostAddress(v4);
    return address.toString().toStdString();
}

std::string Listener::lastError() const
{
    return m_lastError.toStdString();
}

void Listener::send(ConnectionId connection, std::string_view bytes)
{
    m_connections.send(connection, bytes);
}

bool Listener::congested(ConnectionId connection) const
{
    return m_connections.congested(connection);
}

void Listener::resumeInput(ConnectionId connection)
{
    m_connections.resumeInput(connection);
}

quint16 Listener::listeningPort() const
{
    return m_server.isListening() ? m_server.serverPort() : 0;
}

void Listener::onNewConnection()
{
    while (m_server.hasPendingConnections())
        m_connections.offer(m_server.nextPendingConnection());
}

void Listener::reportEndedConnections()
{
    std::vector<ConnectionId> ended;
    for (const ConnectionId id : m_connections.ids())
        if (takeEnd(*m_connections.find(id)))
            ended.push_back(id);
    for (const ConnectionId id : ended) {
        if (Connection* held = m_connections.find(id); held && held->flow.reading())
            m_connections.deliverInput(id);
        m_connections.ended(id);
    }
}

bool Listener::takeEnd(Connection& connection)
{
    const int fd = static_cast<int>(connection.socket->socketDescriptor());
    pollfd entry{fd, static_cast<short>(POLLIN | kRemoteEnd), 0};
    if (fd < 0 || ::poll(&entry, 1, 0) <= 0 || (entry.revents & kRemoteEnd) == 0)
        return false;
    if (!connection.flow.reading())
        return true;
    // Its last words come first: Qt's buffer, then what the system still holds.
    const QByteArray buffered = connection.socket->readAll();
    connection.flow.append(
        std::string_view(buffered.constData(), static_cast<std::size_t>(buffered.size())));
    char buffer[16 * 1024];
    for (;;) {
        const auto n = ::recv(fd, buffer, sizeof buffer, MSG_DONTWAIT);
        if (n <= 0)
            break;
        connection.flow.append(std::string_view(buffer, static_cast<std::size_t>(n)));
    }
    return true;
}

} // namespace zelvor
