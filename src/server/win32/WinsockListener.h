// SPDX-License-Identifier: MIT
#pragma once

#include "server/win32/MessageWindow.h"
#include "server/Winsock.h"

#include <winsock2.h>

#include <string>
#include <vector>

namespace zelvor {

class TelnetServer;

/**
 * The one socket on Winsock 2 with WSAAsyncSelect: a dual-stack listener while listening, the
 * accepted connection while connected. Its notifications (FD_ACCEPT, FD_READ, FD_WRITE,
 * FD_CLOSE) arrive on a hidden message window and only hand over to the TelnetServer.
 */
class WinsockListener : public Winsock
{
public:
    WinsockListener();
    ~WinsockListener() override;
    WinsockListener(const WinsockListener&) = delete;
    WinsockListener& operator=(const WinsockListener&) = delete;

    /** Must be called once, before the first listen. */
    void setServer(TelnetServer* server) { m_handler = server; }

    ListenResult listen(std::uint16_t port, const std::string& address) override;
    void close() override;
    bool isClosed() const override;
    bool accept() override;
    std::string remoteHostIP() const override;
    std::string lastError() const override;
    void send(std::string_view bytes) override;
    bool congested() const override;

    /** The port the listener is bound to, 0 when it is not listening. */
    std::uint16_t listeningPort() const;

private:
    LRESULT onMessage(UINT message, WPARAM wParam, LPARAM lParam);
    void onListenerEvent(SOCKET socket, int event);
    void onConnectionEvent(SOCKET socket, int event, int error);
    /** Reads what the system holds (all of it at the remote close) and hands it over. */
    void receive(bool everything);
    /** Hands what arrived to the server for as long as the client keeps up with the replies. */
    void deliverInput();
    /** Sends what the system takes now; the rest waits for FD_WRITE. False on a failure. */
    bool flush();
    void onSent();
    /** Ends the connection as the client ending it does, outside the running handler. */
    void connectionFailed();
    /** Closes the connection once the running handler is done, the listener open again. */
    void dropLater(SOCKET socket);
    void closeNow(SOCKET socket);
    void setLastError(int code);
    void startStallTimer();
    void stopStallTimer();

    TelnetServer* m_handler = nullptr;
    MessageWindow m_window;
    bool m_started = false;
    SOCKET m_listener = INVALID_SOCKET;
    SOCKET m_pending = INVALID_SOCKET;
    SOCKET m_socket = INVALID_SOCKET;
    std::string m_input;
    std::string m_output;
    std::string m_lastError;
    bool m_reading = true;
    std::vector<SOCKET> m_dropping;
};

} // namespace zelvor
