// SPDX-License-Identifier: MIT
#pragma once

#include "server/Winsock.h"

#include <QObject>
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

namespace zelvor {

class TelnetServer;

/**
 * The one socket on Qt's event loop: a QTcpServer while listening, the accepted QTcpSocket
 * while connected. Its slots only hand the notifications to the TelnetServer.
 */
class Listener : public QObject, public Winsock
{
    Q_OBJECT
public:
    explicit Listener(QObject* parent = nullptr);
    ~Listener() override;

    /** Must be called once, before the first listen. */
    void setServer(TelnetServer* server) { m_handler = server; }

    ListenResult listen(std::uint16_t port) override;
    void close() override;
    bool isClosed() const override;
    bool accept() override;
    std::string remoteHostIP() const override;
    std::string lastError() const override;
    void send(std::string_view bytes) override;
    bool congested() const override;
    void resumeInput() override;

    /** The port the listener is bound to, 0 when it is not listening. */
    quint16 listeningPort() const;

private slots:
    void onNewConnection();
    void onReadyRead();
    void onConnectionEnded();
    void onBytesWritten();

private:
    void dropSocket(QTcpSocket* socket);
    void flushReplies();
    /** Hands what arrived to the server for as long as the client keeps up with the replies. */
    void deliverInput();

    TelnetServer* m_handler = nullptr;
    QTcpServer m_server;
    QPointer<QTcpSocket> m_pending;
    QPointer<QTcpSocket> m_socket;
    QString m_lastError;
    QByteArray m_input;
    QTimer m_stallTimer;
    bool m_reading = true;
    /** The server took none of the input: it waits for a reply, until resumeInput(). */
    bool m_held = false;
    bool m_closing = false;
};

} // namespace zelvor
