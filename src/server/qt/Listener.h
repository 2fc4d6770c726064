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
class Listener : public QObject, public ForwardedConnections<QTcpSocket, Winsock>
{
    Q_OBJECT
public:
    explicit Listener(QObject* parent = nullptr);
    ~Listener() override;

    ListenResult listen(std::uint16_t port, const std::string& address) override;
    void stopListening() override;
    ConnectionId accept() override;
    std::string remoteHostIP(ConnectionId connection) const override;
    std::string lastError() const override;

    using ForwardedConnections::close;
    /** Closes the listener and every connection, without a notification. */
    void close() override;
    /** The port the listener is bound to, 0 when it is not listening. */
    quint16 listeningPort() const;

private:
    void onNewConnection();

    QTcpServer m_server;
    QString m_lastError;
};

} // namespace zelvor
