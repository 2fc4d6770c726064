// SPDX-License-Identifier: MIT
#pragma once

#include "server/Winsock.h"
#include "server/qt/QtConnections.h"

#include <QObject>
#include <QTcpServer>
#include <QTcpSocket>

namespace zelvor {

/**
 * The listening socket and its connections on Qt's event loop: one QTcpServer for the
 * program's life and a QTcpSocket per accepted connection. Its slots only hand the
 * notifications to the door that admits its clients (ConnectionEvents).
 */
class Listener : public QObject, public Winsock
{
    Q_OBJECT
public:
    explicit Listener(QObject* parent = nullptr);
    ~Listener() override;

    /** Must be called once, before the first listen. */
    void setServer(ConnectionEvents* server) { m_connections.handler = server; }

    ListenResult listen(std::uint16_t port, const std::string& address) override;
    void stopListening() override;
    ConnectionId accept() override;
    void reportEndedConnections() override;
    void send(ConnectionId connection, std::string_view bytes) override;
    void close(ConnectionId connection) override;
    std::string remoteHostIP(ConnectionId connection) const override;
    std::string lastError() const override;
    bool congested(ConnectionId connection) const override;
    void resumeInput(ConnectionId connection) override;

    /** Closes the listener and every connection, without a notification. */
    void close() override;
    /** The port the listener is bound to, 0 when it is not listening. */
    quint16 listeningPort() const;
    /** How many connections are open. */
    std::size_t connections() const { return m_connections.size(); }

private:
    void onNewConnection();

    QTcpServer m_server;
    QtConnections<QTcpSocket> m_connections{*this};
    QString m_lastError;
};

} // namespace zelvor
