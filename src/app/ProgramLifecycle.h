// SPDX-License-Identifier: MIT
#pragma once

#include "app/CommandLineOptions.h"

#include <functional>
#include <string>

namespace zelvor {

class TelnetServer;
class Winsock;
struct ServerSettings;

/** What the two programs do differently at start and shutdown. */
struct ProgramSurroundings
{
    /** Holds zelvor.ini and the default log. */
    std::string settingsFolder;
    /** Takes one line of error output, "zelvor: " included, without a line end. */
    std::function<void(const std::string&)> printLine;
    /** Shows a status word that bypasses the log (a value not saved); may be left empty. */
    std::function<void(const std::string&)> showStatus;
};

/**
 * The start and shutdown steps that both programs share, on the objects each of them owns:
 * the settings record, the session server and its socket.
 */
class ProgramLifecycle
{
public:
    ProgramLifecycle(ProgramSurroundings surroundings, ServerSettings& settings,
                     TelnetServer& server, Winsock& socket);

    /**
     * Creates the settings folder, fills the settings from the file (or keeps the defaults),
     * warns about credentials no client can type, puts the command line's settings over them,
     * reports "open to anyone" when no password guards the door, and opens the listener.
     */
    void start(const CommandLineOptions& commandLine = {});
    /** Writes the settings, naming a value it could not save, and closes the socket. Runs once;
     * later calls do nothing and return false. */
    bool shutdown();

    const std::string& settingsFile() const { return m_settingsFile; }

private:
    void warnAboutUntypeableCredentials();

    ProgramSurroundings m_surroundings;
    std::string m_settingsFile;
    ServerSettings& m_settings;
    TelnetServer& m_server;
    Winsock& m_socket;
    bool m_shutDown = false;
};

/** The status word of a start where anyone who reaches the port gets in. */
inline constexpr const char* kOpenToAnyone = "open to anyone";

} // namespace zelvor
