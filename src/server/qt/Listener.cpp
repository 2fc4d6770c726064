// SPDX-License-Identifier: MIT
#include "server/qt/Listener.h"

#include "server/TelnetServer.h"

#include <QHostAddress>

#ifdef Q_OS_LINUX
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
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

Listener::Listener(QObject* parent) : QObject(parent)
{
    m_server.setMaxPendingConnections(1);
    connect(&m_server, &QTcpServer::newConnection, this, &Listener::onNewConnection);
    m_stallTimer.setSingleShot(true);
    connect(&m_stallTimer, &QTimer::timeout, this, [this] {
        if (m_handler && m_socket)
            m_handler->Winsock1_Close();
    });
}

Listener::~Listener()
{
    m_closing = true;
    dropSocket(m_pending);
    dropSocket(m_socket);
}

Winsock::ListenResult Listener::listen(std::uint16_t port)
{
    if (m_server.listen(QHostAddress::Any, port))
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

void Listener::close()
{
    m_server.close();
    dropSocket(m_socket);
    m_socket = nullptr;
    m_input.clear();
    m_stallTimer.stop();
    m_reading = true;
    m_held = false;
}

bool Listener::isClosed() const
{
    return !m_server.isListening() && !m_socket;
}

bool Listener::accept()
{
    m_socket = m_pending;
    m_pending = nullptr;
    if (!m_socket || m_socket->state() != QAbstractSocket::ConnectedState) {
        dropSocket(m_socket);
        m_socket = nullptr;
        return false;
    }
    // Replies and prompts go out as separate small writes; Nagle would hold every second one
    // back until the client's delayed acknowledgement.
    m_socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    enableKeepAlive(m_socket);
    // Unread input waits in a small buffer, so a client that floods us is held back by TCP.
    m_socket->setReadBufferSize(64 * 1024);
    connect(m_socket, &QTcpSocket::readyRead, this, &Listener::onReadyRead);
    connect(m_socket, &QTcpSocket::bytesWritten, this, &Listener::onBytesWritten);
    connect(m_socket, &QTcpSocket::disconnected, this, &Listener::onConnectionEnded);
    connect(m_socket, &QTcpSocket::errorOccurred, this, &Listener::onConnectionEnded);
    return true;
}

std::string Listener::remoteHostIP() const
{
    if (!m_socket)
        return {};
    QHostAddress address = m_socket->peerAddress();
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

void Listener::send(std::string_view bytes)
{
    if (m_socket && m_socket->state() == QAbstractSocket::ConnectedState)
        m_socket->write(bytes.data(), static_cast<qint64>(bytes.size()));
}

quint16 Listener::listeningPort() const
{
    return m_server.isListening() ? m_server.serverPort() : 0;
}

void Listener::onNewConnection()
{
    // Take the connection before the listener is closed: closing it discards pending ones.
    m_pending = m_server.nextPendingConnection();
    if (m_handler)
        m_handler->Winsock1_ConnectionRequest();
    flushReplies();
}

void Listener::flushReplies()
{
    // Whatever one notification produced goes out now, in as few packets as the kernel
    // allows, rather than one event-loop turn later.
    if (m_socket && m_socket->bytesToWrite() > 0)
        m_socket->flush();
}

bool Listener::congested() const
{
    return m_socket && m_socket->bytesToWrite() > kSendBacklogHigh;
}

void Listener::onReadyRead()
{
    if (!m_socket || sender() != m_socket || !m_reading || m_held)
        return;
    deliverInput();
}

void Listener::deliverInput()
{
    QPointer<QTcpSocket> socket = m_socket;
    m_input += socket->readAll();
    while (!m_input.isEmpty() && m_handler) {
        const std::size_t used = m_handler->Winsock1_DataArrival(
            std::string_view(m_input.constData(), static_cast<std::size_t>(m_input.size())));
        if (m_socket != socket)
            return;
        flushReplies();
        m_input.remove(0, static_cast<qsizetype>(used));
        // Unread input stays with the socket, and TCP holds the client back meanwhile.
        m_held = used == 0;
        if (m_held)
            return;
        if (congested()) {
            m_reading = false;
            m_stallTimer.start(kSendStallLimit);
            return;
        }
    }
}

void Listener::resumeInput()
{
    if (!m_held || !m_socket)
        return;
    m_held = false;
    // Taken up from the event loop, not from inside whatever reported the late reply.
    QMetaObject::invokeMethod(
        this,
        [this] {
            if (m_socket && m_reading && !m_held)
                deliverInput();
        },
        Qt::QueuedConnection);
}

void Listener::onBytesWritten()
{
    if (m_reading || !m_socket)
        return;
    if (m_socket->bytesToWrite() >= kSendBacklogLow) {
        // The client is taking its replies, if slowly: it is not stuck.
        m_stallTimer.start(kSendStallLimit);
        return;
    }
    m_reading = true;
    m_stallTimer.stop();
    deliverInput();
}

void Listener::onConnectionEnded()
{
    // A remote close, a reset or a failed send: all of them end the session the same way.
    if (m_closing || !m_socket || sender() != m_socket)
        return;
    if (m_handler)
        m_handler->Winsock1_Close();
}

void Listener::dropSocket(QTcpSocket* socket)
{
    if (!socket)
        return;
    // Closing locally must not look like the client hanging up. What is still buffered goes
    // out first, as far as the client takes it without waiting.
    socket->disconnect(this);
    if (socket->state() == QAbstractSocket::ConnectedState)
        socket->flush();
    // The connection itself ends once the running handler is done, by which time the listener
    // is open again: a client that reconnects the moment it sees the close is not refused.
    QMetaObject::invokeMethod(
        socket,
        [socket] {
            socket->abort();
            socket->deleteLater();
        },
        Qt::QueuedConnection);
}

} // namespace zelvor
