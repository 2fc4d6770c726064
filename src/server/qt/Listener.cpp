// SPDX-License-Identifier: MIT
#include "server/qt/Listener.h"

#include "server/Winsock.h"

#include <QHostAddress>

#include <sys/socket.h>

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

} // namespace

Listener::Listener(QObject* parent) : QObject(parent), ForwardedConnections(this)
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

std::string Listener::remoteHostIP(ConnectionId connection) const
{
    const auto* held = m_connections.find(connection);
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

quint16 Listener::listeningPort() const
{
    return m_server.isListening() ? m_server.serverPort() : 0;
}

void Listener::onNewConnection()
{
    while (m_server.hasPendingConnections())
        m_connections.offer(m_server.nextPendingConnection());
}

} // namespace zelvor
