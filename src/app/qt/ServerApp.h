// SPDX-License-Identifier: MIT
#pragma once

#include "app/CommandLineOptions.h"
#include "app/ProgramParts.h"
#include "server/qt/Listener.h"
#include "server/qt/QtScheduler.h"

#include <QObject>
#include <QString>

#include <functional>
#include <memory>
#include <string>

class QDateTime;
class QLocale;

namespace zelvor {

class Player;

/**
 * Everything the program owns for its whole run: the settings, the socket, the session server,
 * the log, the player and the music folders, with the start and shutdown steps.
 */
class ServerApp : public QObject
{
    Q_OBJECT
public:
    /** settingsFolder holds zelvor.ini and the default log; headless prints status words. */
    ServerApp(std::string settingsFolder, bool headless, QObject* parent = nullptr);
    ~ServerApp() override;

    /** The settings given on the command line, put over the loaded settings. */
    void setCommandLine(CommandLineOptions options) { m_commandLine = std::move(options); }

    /** Start: the shared steps of ProgramLifecycle::start with the command line's settings. */
    void Form_Load();
    /** Shutdown: write the settings and close the sockets. */
    void Form_Unload();

    /** Where the local socket is for this run. */
    std::string localSocketPath() const;

    ServerSettings& settings() { return m_parts.settings; }
    TelnetServer& server() { return m_parts.server; }
    Scheduler& scheduler() { return m_scheduler; }
    const std::string& settingsFile() const { return m_parts.lifecycle.settingsFile(); }

    /** Called with every status word. */
    std::function<void(const std::string&)> onStatus;

private:
    struct LocalDoor;
    /** The owner's own door, the local socket, beside the telnet listener; one status word
     * when another program holds it or it cannot be opened. */
    void openLocalDoor();
    void closeLocalDoor();

    std::string m_settingsFolder;
    bool m_headless;
    CommandLineOptions m_commandLine;
    Listener m_listener;
    std::unique_ptr<Player> m_player;
    QtScheduler m_scheduler;
    ProgramParts m_parts;
    std::unique_ptr<LocalDoor> m_localDoor;
};

/** The local date and time as log entries and status lines show them. */
std::string localDateTime();
/** The date and time of when in the locale's short date and long time form, zone left out. */
std::string localDateTime(const QLocale& locale, const QDateTime& when);
/**
 * A time format of QLocale without its time zone ("t"), and without the blanks, separators and
 * brackets that surround the zone: "H:mm:ss (t)" gives "H:mm:ss", "t HH:mm:ss" "HH:mm:ss".
 */
QString timeFormatWithoutZone(const QString& format);

} // namespace zelvor
