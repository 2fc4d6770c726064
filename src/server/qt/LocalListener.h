// SPDX-License-Identifier: MIT
#pragma once

#include "server/Winsock.h"
#include "server/qt/QtConnections.h"

#include <QLocalSocket>
#include <QObject>

#include <sys/types.h>

#include <string>

class QSocketNotifier;

namespace zelvor {

/**
 * The local socket on Qt's event loop: a Unix stream socket file, mode 0600, whose clients are
 * let in only when their peer user (SO_PEERCRED) is the owner; anyone else is closed at once,
 * without a byte and without a notification. Its slots only hand the owner's connections to the
 * door that admits them (ConnectionEvents).
 */
class LocalListener : public QObject, public ForwardedConnections<QLocalSocket, Connections>
{
    Q_OBJECT
public:
    enum class OpenResult
    {
        Listening,
        /** Another program answers on the socket: it is left alone. */
        InUse,
        Failed,
    };

    explicit LocalListener(QObject* parent = nullptr);
    ~LocalListener() override;

    /** The user whose clients are let in; the program's own unless set. */
    void setOwner(uid_t owner) { m_owner = owner; }

    /** Listens at path; a socket file there that nobody answers on (a stale one) is replaced. */
    OpenResult open(const std::string& path);
    using ForwardedConnections::close;
    /** Closes the listener and every connection, without a word to the clients, and removes
     * the socket file unless another program has put its own in its place. */
    void close();
    bool listening() const { return m_fd >= 0; }
    /** The system's words for the last failure of open. */
    const std::string& lastError() const { return m_lastError; }

    ConnectionId accept() override;
    std::string remoteHostIP(ConnectionId connection) const override;

private:
    void onNewConnections();

    uid_t m_owner;
    int m_fd = -1;
    std::string m_path;
    dev_t m_device = 0;
    ino_t m_inode = 0;
    QSocketNotifier* m_notifier = nullptr;
    std::string m_lastError;
};

} // namespace zelvor
