// SPDX-License-Identifier: MIT
#include "server/qt/Listener.h"

#include "server/InputFlow.h"
#include "server/TelnetServer.h"

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

/** Closes a socket locally: what is buffered goes out first, as far as the client takes it
 * without waiting. */
void dropSocket(QTcpSocket* socket)
{
    if (socket->state() == QAbstractSocket::ConnectedState)
        socket->flush();
    socket->abort();
}

} // namespace

/** One accepted connection. */
struct Listener::Connection : FlowSocket
{
    Connection(ConnectionId connection, QTcpSocket* held)
        : id(connection), flow(connection), socket(held)
    {
        stall.setSingleShot(true);
    }
    ~Connection() override
    {
        dropSocket(socket);
        delete socket;
    }
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    bool stillOpen() const override { return open; }
    void flushReplies() override
    {
        // Whatever one notification produced goes out now, in as few packets as the kernel
        // allows, rather than one event-loop turn later.
        if (open && socket->bytesToWrite() > 0)
            socket->flush();
    }
    std::int64_t backlog() const override { return socket->bytesToWrite(); }

    const ConnectionId id;
    InputFlow flow;
    QTcpSocket* socket;
    QTimer stall;
    bool open = true;
};

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
    while (!m_connections.empty())
        close(m_connections.begin()->first);
}

ConnectionId Listener::accept()
{
    QTcpSocket* socket = m_pending;
    m_pending = nullptr;
    if (!socket)
        return 0;
    if (socket->state() != QAbstractSocket::ConnectedState) {
        dropSocket(socket);
        socket->deleteLater();
        return 0;
    }
    // Owned by its connection from here on, which may outlive the listener's QTcpServer.
    socket->setParent(nullptr);
    // Replies and prompts go out as separate small writes; Nagle would hold every second one
    // back until the client's delayed acknowledgement.
    socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    enableKeepAlive(socket);
    // Unread input waits in a small buffer, so a client that floods us is held back by TCP.
    socket->setReadBufferSize(64 * 1024);
    const ConnectionId id = m_nextId++;
    auto connection = std::make_unique<Connection>(id, socket);
    connect(socket, &QTcpSocket::readyRead, this, [this, id] { onReadyRead(id); });
    connect(socket, &QTcpSocket::bytesWritten, this, [this, id] { onBytesWritten(id); });
    connect(socket, &QTcpSocket::disconnected, this, [this, id] { onConnectionEnded(id); });
    connect(socket, &QTcpSocket::errorOccurred, this, [this, id] { onConnectionEnded(id); });
    connect(&connection->stall, &QTimer::timeout, this, [this, id] { onConnectionEnded(id); });
    m_connections.emplace(id, std::move(connection));
    return id;
}

Listener::Connection* Listener::find(ConnectionId connection) const
{
    const auto it = m_connections.find(connection);
    return it == m_connections.end() ? nullptr : it->second.get();
}

void Listener::close(ConnectionId connection)
{
    const auto it = m_connections.find(connection);
    if (it == m_connections.end())
        return;
    it->second->open = false;
    it->second->stall.stop();
    it->second->socket->disconnect(this);
    // The handler that closed it may still be running on it: it goes once that is done.
    QMetaObject::invokeMethod(
        this, [gone = std::shared_ptr<Connection>(std::move(it->second))] {}, Qt::QueuedConnection);
    m_connections.erase(it);
}

std::string Listener::remoteHostIP(ConnectionId connection) const
{
    const Connection* held = find(connection);
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
    Connection* held = find(connection);
    if (held && held->socket->state() == QAbstractSocket::ConnectedState)
        held->socket->write(bytes.data(), static_cast<qint64>(bytes.size()));
}

bool Listener::congested(ConnectionId connection) const
{
    const Connection* held = find(connection);
    return held && overBacklog(held->backlog());
}

quint16 Listener::listeningPort() const
{
    return m_server.isListening() ? m_server.serverPort() : 0;
}

void Listener::onNewConnection()
{
    while (m_server.hasPendingConnections()) {
        m_pending = m_server.nextPendingConnection();
        if (m_handler)
            m_handler->Winsock1_ConnectionRequest();
        // A request the server did not take is not left open.
        if (m_pending) {
            dropSocket(m_pending);
            m_pending->deleteLater();
        }
        m_pending = nullptr;
        // A failed send ends its connection on the spot: look each one up afresh.
        std::vector<ConnectionId> ids;
        for (const auto& [id, held] : m_connections)
            ids.push_back(id);
        for (const ConnectionId id : ids)
            if (Connection* held = find(id))
                held->flushReplies();
    }
}

void Listener::reportEndedConnections()
{
    std::vector<ConnectionId> ended;
    for (const auto& [id, held] : m_connections)
        if (takeEnd(*held))
            ended.push_back(id);
    for (const ConnectionId id : ended) {
        if (Connection* held = find(id); held && held->flow.reading())
            deliverInput(id);
        onConnectionEnded(id);
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

void Listener::onReadyRead(ConnectionId connection)
{
    Connection* held = find(connection);
    if (!held || !held->flow.reading())
        return;
    const QByteArray arrived = held->socket->readAll();
    held->flow.append(
        std::string_view(arrived.constData(), static_cast<std::size_t>(arrived.size())));
    deliverInput(connection);
}

void Listener::deliverInput(ConnectionId connection)
{
    Connection* held = find(connection);
    if (!held || !m_handler)
        return;
    if (held->flow.deliver(*m_handler, *held) == InputFlow::Next::Stall)
        held->stall.start(kSendStallLimit);
}

void Listener::resumeInput(ConnectionId connection)
{
    Connection* held = find(connection);
    if (!held)
        return;
    held->flow.release();
    // The late reply goes out now; the input that waited is taken up from the event loop, not
    // from inside whatever reported the late reply.
    held->flushReplies();
    QMetaObject::invokeMethod(
        this,
        [this, connection] {
            if (Connection* again = find(connection); again && again->flow.reading())
                onReadyRead(connection);
        },
        Qt::QueuedConnection);
}

void Listener::onBytesWritten(ConnectionId connection)
{
    Connection* held = find(connection);
    if (!held)
        return;
    switch (held->flow.sent(held->backlog())) {
    case InputFlow::Next::Stall:
        held->stall.start(kSendStallLimit);
        break;
    case InputFlow::Next::Resume:
        held->stall.stop();
        onReadyRead(connection);
        break;
    case InputFlow::Next::Read:
    case InputFlow::Next::Gone:
        break;
    }
}

void Listener::onConnectionEnded(ConnectionId connection)
{
    // A remote close, a reset, a failed send or a stall: all of them end the connection the
    // same way.
    if (!find(connection))
        return;
    if (m_handler)
        m_handler->Winsock1_Close(connection);
    close(connection);
}

} // namespace zelvor
