// SPDX-License-Identifier: MIT
#pragma once

#include "server/win32/MessageWindow.h"
#include "server/Winsock.h"

#include <winsock2.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

namespace zelvor {

/**
 * The listening socket and its connections on Winsock 2 with WSAAsyncSelect: one dual-stack
 * listener for the program's life and a socket per accepted connection. Their notifications
 * (FD_ACCEPT, FD_READ, FD_WRITE, FD_CLOSE) arrive on a hidden message window and only hand over
 * to the door that admits its clients (ConnectionEvents).
 */
class WinsockListener : public Winsock
{
public:
    WinsockListener();
    ~WinsockListener() override;
    WinsockListener(const WinsockListener&) = delete;
    WinsockListener& operator=(const WinsockListener&) = delete;

    /** Must be called once, before the first listen. */
    void setServer(ConnectionEvents* server) { m_handler = server; }

    ListenResult listen(std::uint16_t port, const std::string& address) override;
    void stopListening() override;
    ConnectionId accept() override;
    void reportEndedConnections() override;
    void send(ConnectionId connection, std::string_view bytes) override;
    void close(ConnectionId connection) override;
    std::string remoteHostIP(ConnectionId connection) const override;
    std::string lastError() const override;
    bool congested(ConnectionId connection) const override;

    /** Closes the listener and every connection, without a notification. */
    void close() override;
    /** The port the listener is bound to, 0 when it is not listening. */
    std::uint16_t listeningPort() const;
    /** How many connections are open. */
    std::size_t connections() const { return m_connections.size(); }

private:
    struct Connection;

    LRESULT onMessage(UINT message, WPARAM wParam, LPARAM lParam);
    void onListenerEvent(SOCKET socket, int event);
    void onConnectionEvent(SOCKET socket, int event, int error);
    Connection* find(ConnectionId connection) const;
    Connection* findSocket(SOCKET socket) const;
    /** Reads what the system holds (all of it at the remote close) and hands it over. */
    void receive(Connection& connection, bool everything);
    /** Hands what arrived to the server for as long as the client keeps up with the replies. */
    void deliverInput(ConnectionId connection);
    void onSent(Connection& connection);
    /** Ends the connection as the client ending it does, outside the running handler. */
    void connectionFailed(Connection& connection);
    void connectionEnded(ConnectionId connection);
    /** True when the client's close or reset waits to be read; what it sent before is read. */
    bool takeEnd(Connection& connection);
    void setLastError(int code);

    ConnectionEvents* m_handler = nullptr;
    MessageWindow m_window;
    bool m_started = false;
    SOCKET m_listener = INVALID_SOCKET;
    std::uint16_t m_port = 0;
    std::string m_host;
    SOCKET m_pending = INVALID_SOCKET;
    std::map<ConnectionId, std::unique_ptr<Connection>> m_connections;
    ConnectionId m_nextId = 1;
    std::string m_lastError;
    /** Closed while a handler may still be running on them; freed by a posted message. */
    std::vector<std::unique_ptr<Connection>> m_dropping;
};

} // namespace zelvor
