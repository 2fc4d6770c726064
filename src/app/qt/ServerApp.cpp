// SPDX-License-Identifier: MIT
#include "app/qt/ServerApp.h"

#include "Printable.h"
#include "app/LocalReplies.h"
#include "server/LocalServer.h"
#include "server/qt/LocalListener.h"

#include "player/mpd/MpdBackend.h"
#include "player/PlayerSelector.h"
#include "player/ProgramLauncher.h"
#include "player/mpris/MprisBackend.h"
#include "server/qt/QtPlayerLoop.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QFile>
#include <QLocale>
#include <QStandardPaths>

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <utility>

namespace zelvor {
namespace {

std::string musicFolder()
{
    QString folder = QStandardPaths::writableLocation(QStandardPaths::MusicLocation);
    return QFile::encodeName(folder).toStdString();
}

struct Backends
{
    Backends(ManagedMpdSetup managed, MprisSetup setup)
        : mpd(loop, std::move(managed)), mpris(loop, std::move(setup))
    {}

    QtPlayerLoop loop;
    MpdBackend mpd;
    MprisBackend mpris;
};

/** MPD or an MPRIS player, as the player location says at each command line. The backends
 * come first, so they outlive the selector and their loop goes last. */
class LinuxPlayer : private Backends, public PlayerSelector
{
public:
    LinuxPlayer(ManagedMpdSetup managed, MprisSetup setup, std::function<std::string()> location)
        : Backends(std::move(managed), std::move(setup)),
          PlayerSelector(mpd, mpris, std::move(location), canStartProgram)
    {}
};

/** MPD (Zelvor's own one unless MPD_HOST names another) or an MPRIS player. */
std::unique_ptr<Player> makePlayer(const std::string& settingsFolder, ServerApp& app)
{
    const auto report = [&app](const std::string& word) { app.server().LogActivity(word); };
    const auto location = [&app] { return app.settings().WinampLocation; };
    ManagedMpdSetup managed;
    managed.settingsFolder = settingsFolder;
    managed.musicRoot = [&app] { return app.settings().ServerRoot; };
    managed.report = report;
    managed.after = [&app](std::chrono::milliseconds delay, std::function<void()> callback) {
        app.scheduler().after(delay, std::move(callback));
    };
    return std::make_unique<LinuxPlayer>(std::move(managed), MprisSetup{location, report},
                                         location);
}

void printLine(const std::string& line)
{
    std::fprintf(stderr, "%s\n", line.c_str());
    std::fflush(stderr);
}

} // namespace

namespace {

bool isBlank(QChar c)
{
    return c.isSpace();
}

// Blanks, separators and brackets that only belong to the time zone, before and after it.
bool isZoneJunkBefore(QChar c)
{
    return isBlank(c) || c == u',' || c == u';' || c == u'(' || c == u'[';
}

bool isZoneJunkAfter(QChar c)
{
    return isBlank(c) || c == u',' || c == u';' || c == u')' || c == u']';
}

} // namespace

QString timeFormatWithoutZone(const QString& format)
{
    QString result;
    qsizetype i = 0;
    while (i < format.size()) {
        const QChar c = format[i];
        if (c == u'\'') {
            // Quoted text (a doubled quote stands for one) is copied as it is.
            const auto close = format.indexOf(u'\'', i + 1);
            const auto end = close < 0 ? format.size() : close + 1;
            result += format.mid(i, end - i);
            i = end;
            continue;
        }
        if (c != u't') {
            result += c;
            ++i;
            continue;
        }
        // The zone ("t" to "tttt"), with what surrounds it on both sides.
        while (i < format.size() && format[i] == u't')
            ++i;
        while (!result.isEmpty() && isZoneJunkBefore(result.back()))
            result.chop(1);
        while (i < format.size() && isZoneJunkAfter(format[i]))
            ++i;
        if (!result.isEmpty() && i < format.size())
            result += u' ';
    }
    return result;
}

std::string localDateTime(const QLocale& locale, const QDateTime& when)
{
    // The locale's long time format carries the seconds, and a time zone we leave out.
    const QString timeFormat = timeFormatWithoutZone(locale.timeFormat(QLocale::LongFormat));
    const QString text = locale.toString(when.date(), QLocale::ShortFormat) + QLatin1Char(' ') +
                         locale.toString(when.time(), timeFormat);
    return text.toLocal8Bit().toStdString();
}

std::string localDateTime()
{
    // Every status word is stamped, two or more per command line: the text is made afresh only
    // when the second changes.
    static std::time_t second = -1;
    static std::string text;
    if (const std::time_t now = std::time(nullptr); now != second) {
        second = now;
        text = localDateTime(QLocale::system(), QDateTime::currentDateTime());
    }
    return text;
}

ServerApp::ServerApp(std::string settingsFolder, bool headless, QObject* parent)
    : QObject(parent), m_settingsFolder(std::move(settingsFolder)), m_headless(headless),
      m_listener(this), m_player(makePlayer(m_settingsFolder, *this)),
      m_parts(
          {m_settingsFolder, printLine,
           [this](const std::string& word) {
               if (!m_headless && onStatus)
                   onStatus(word);
           }},
          musicFolder(), [] { return localDateTime(); }, m_listener, *m_player, m_scheduler)
{
    m_listener.setServer(&m_parts.server);
    m_parts.log.onStatus = [this](const std::string& word) {
        if (m_headless)
            printLine(localDateTime() + " " + printable(word));
        if (onStatus)
            onStatus(word);
    };
    m_parts.server.onError = [](const std::string& error) {
        printLine("zelvor: " + error);
        const QString program = QCoreApplication::applicationFilePath();
        if (const auto hint = listenHint(error, QFile::encodeName(program).toStdString());
            !hint.empty())
            printLine(hint);
    };
}

ServerApp::~ServerApp()
{
    closeLocalDoor();
}

void ServerApp::Form_Load()
{
    m_parts.lifecycle.start(m_commandLine);
    openLocalDoor();
}

void ServerApp::Form_Unload()
{
    m_parts.lifecycle.shutdown();
    closeLocalDoor();
}

// The local socket ---------------------------------------------------------------------------

/** The local socket and the door of its clients. */
struct ServerApp::LocalDoor
{
    explicit LocalDoor(ServerApp& app)
        : server(app.m_parts.settings, listener, app.m_parts.log, *app.m_player,
                 app.m_parts.folders, app.m_scheduler, app.m_parts.server.services())
    {
        listener.setServer(&server);
    }

    LocalListener listener;
    LocalServer server;
};

std::string ServerApp::localSocketPath() const
{
    return zelvor::localSocketPath(m_commandLine.configDir.has_value(),
                                   std::getenv("XDG_RUNTIME_DIR"), m_settingsFolder);
}

void ServerApp::openLocalDoor()
{
    if (!m_localDoor)
        m_localDoor = std::make_unique<LocalDoor>(*this);
    const std::string path = localSocketPath();
    switch (m_localDoor->listener.open(path)) {
    case LocalListener::OpenResult::Listening:
        return;
    case LocalListener::OpenResult::InUse:
        // Another Zelvor has its own door there; this one goes on with telnet only.
        printLine("zelvor: another Zelvor answers on " + path + "; this one has no local socket");
        m_parts.log.LogActivity("local socket in use", "");
        return;
    case LocalListener::OpenResult::Failed:
        printLine("zelvor: cannot listen on " + path + ": " + m_localDoor->listener.lastError());
        m_parts.log.LogActivity("local socket failed", "");
        return;
    }
}

void ServerApp::closeLocalDoor()
{
    if (m_localDoor)
        m_localDoor->listener.close();
}

} // namespace zelvor
