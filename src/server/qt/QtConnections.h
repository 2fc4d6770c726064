// SPDX-License-Identifier: MIT
#pragma once

#include "server/InputFlow.h"
#include "server/Winsock.h"

#include <QObject>
#include <QPointer>
#include <QTimer>

#include <poll.h>
#include <sys/socket.h>

#include <map>
#include <memory>
#include <vector>

namespace zelvor {

/** Closes a socket locally: what is buffered goes out first, as far as the client takes it
 * without waiting. */
template <class Socket> void dropSocket(Socket* socket)
{
    if (socket->state() == Socket::ConnectedState)
        socket->flush();
    socket->abort();
}

/**
 * The accepted connections of one listener on Qt's event loop (QTcpSocket or QLocalSocket),
 * each with its InputFlow and stall timer, and the request being offered to the door. The
 * listener owns it and hands it the sockets; it reports to the door (ConnectionEvents).
 */
template <class Socket> class QtConnections
{
public:
    /** One accepted connection. */
    struct Connection : FlowSocket
    {
        Connection(ConnectionId connection, Socket* held)
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
        Socket* socket;
        QTimer stall;
        bool open = true;
    };

    /** context receives the sockets' signals and the deferred work. */
    explicit QtConnections(QObject& context) : m_context(context) {}
    ~QtConnections() { closeAll(); }
    QtConnections(const QtConnections&) = delete;
    QtConnections& operator=(const QtConnections&) = delete;

    ConnectionEvents* handler = nullptr;

    /** Offers a new connection to the door; one it does not take is closed. Then every
     * connection's replies go out. */
    void offer(Socket* socket)
    {
        m_pending = socket;
        if (handler)
            handler->Winsock1_ConnectionRequest();
        if (m_pending) {
            dropSocket(m_pending.data());
            m_pending->deleteLater();
        }
        m_pending = nullptr;
        // A failed send ends its connection on the spot: look each one up afresh.
        for (const ConnectionId id : ids())
            if (Connection* held = find(id))
                held->flushReplies();
    }
    /** The socket being offered, once; nullptr when there is none. */
    Socket* takePending()
    {
        Socket* socket = m_pending;
        m_pending = nullptr;
        return socket;
    }
    /** Holds an accepted socket; from here on it is the connection's. */
    ConnectionId add(Socket* socket)
    {
        socket->setParent(nullptr);
        // Unread input waits in a small buffer, so a client that floods us is held back.
        socket->setReadBufferSize(64 * 1024);
        const ConnectionId id = m_nextId++;
        auto connection = std::make_unique<Connection>(id, socket);
        QObject* context = &m_context;
        QObject::connect(socket, &Socket::readyRead, context, [this, id] { onReadyRead(id); });
        QObject::connect(socket, &Socket::bytesWritten, context,
                         [this, id] { onBytesWritten(id); });
        QObject::connect(socket, &Socket::disconnected, context, [this, id] { ended(id); });
        QObject::connect(socket, &Socket::errorOccurred, context, [this, id] { ended(id); });
        QObject::connect(&connection->stall, &QTimer::timeout, context, [this, id] { ended(id); });
        m_connections.emplace(id, std::move(connection));
        return id;
    }

    Connection* find(ConnectionId connection) const
    {
        const auto it = m_connections.find(connection);
        return it == m_connections.end() ? nullptr : it->second.get();
    }
    std::vector<ConnectionId> ids() const
    {
        std::vector<ConnectionId> all;
        for (const auto& [id, held] : m_connections)
            all.push_back(id);
        return all;
    }
    std::size_t size() const { return m_connections.size(); }

    void close(ConnectionId connection)
    {
        const auto it = m_connections.find(connection);
        if (it == m_connections.end())
            return;
        it->second->open = false;
        it->second->stall.stop();
        it->second->socket->disconnect(&m_context);
        // The handler that closed it may still be running on it: it goes once that is done.
        QMetaObject::invokeMethod(
            &m_context, [gone = std::shared_ptr<Connection>(std::move(it->second))] {},
            Qt::QueuedConnection);
        m_connections.erase(it);
    }
    void closeAll()
    {
        while (!m_connections.empty())
            close(m_connections.begin()->first);
    }

    void send(ConnectionId connection, std::string_view bytes)
    {
        Connection* held = find(connection);
        if (held && held->socket->state() == Socket::ConnectedState)
            held->socket->write(bytes.data(), static_cast<qint64>(bytes.size()));
    }
    bool congested(ConnectionId connection) const
    {
        const Connection* held = find(connection);
        return held && overBacklog(held->backlog());
    }
    void resumeInput(ConnectionId connection)
    {
        Connection* held = find(connection);
        if (!held)
            return;
        held->flow.release();
        // The late reply goes out now; the input that waited is taken up from the event loop,
        // not from inside whatever reported the late reply.
        held->flushReplies();
        QMetaObject::invokeMethod(
            &m_context,
            [this, connection] {
                if (Connection* again = find(connection); again && again->flow.reading())
                    onReadyRead(connection);
            },
            Qt::QueuedConnection);
    }

    /** Hands what arrived to the door for as long as the client keeps up with the replies. */
    void deliverInput(ConnectionId connection)
    {
        Connection* held = find(connection);
        if (!held || !handler)
            return;
        if (held->flow.deliver(*handler, *held) == InputFlow::Next::Stall)
            held->stall.start(kSendStallLimit);
    }
    /** A remote close, a reset, a failed send or a stall: all of them end the connection the
     * same way. */
    void ended(ConnectionId connection)
    {
        if (!find(connection))
            return;
        if (handler)
            handler->Winsock1_Close(connection);
        close(connection);
    }

    /**
     * Ends, now, every connection whose close or reset is already waiting to be read: what it
     * sent before it went is handed over first, as at any end.
     */
    void reportEnded()
    {
        std::vector<ConnectionId> ended;
        for (const ConnectionId id : ids())
            if (takeEnd(*find(id)))
                ended.push_back(id);
        for (const ConnectionId id : ended) {
            if (Connection* held = find(id); held && held->flow.reading())
                deliverInput(id);
            this->ended(id);
        }
    }

private:
#ifdef POLLRDHUP
    static constexpr short kRemoteEnd = POLLRDHUP | POLLHUP | POLLERR;
#else
    static constexpr short kRemoteEnd = POLLHUP | POLLERR;
#endif

    /** True when the client's close or reset waits to be read; what it sent before is read. */
    static bool takeEnd(Connection& connection)
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

    void onReadyRead(ConnectionId connection)
    {
        Connection* held = find(connection);
        if (!held || !held->flow.reading())
            return;
        const QByteArray arrived = held->socket->readAll();
        held->flow.append(
            std::string_view(arrived.constData(), static_cast<std::size_t>(arrived.size())));
        deliverInput(connection);
    }
    void onBytesWritten(ConnectionId connection)
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

    QObject& m_context;
    QPointer<Socket> m_pending;
    std::map<ConnectionId, std::unique_ptr<Connection>> m_connections;
    ConnectionId m_nextId = 1;
};

/**
 * What a listener (Base, Connections or Winsock) hands its QtConnections as it is. The
 * listener derives from QObject first: that object is the connections' context.
 */
template <class Socket, class Base> class ForwardedConnections : public Base
{
public:
    /** Must be called once, before the listener opens. */
    void setServer(ConnectionEvents* server) { m_connections.handler = server; }
    /** How many connections are open. */
    std::size_t connections() const { return m_connections.size(); }

    void reportEndedConnections() override { m_connections.reportEnded(); }
    void send(ConnectionId connection, std::string_view bytes) override
    {
        m_connections.send(connection, bytes);
    }
    using Base::close;
    void close(ConnectionId connection) override { m_connections.close(connection); }
    bool congested(ConnectionId connection) const override
    {
        return m_connections.congested(connection);
    }
    void resumeInput(ConnectionId connection) override { m_connections.resumeInput(connection); }

protected:
    explicit ForwardedConnections(QObject* context) : m_connections(*context) {}

    QtConnections<Socket> m_connections;
};

} // namespace zelvor
