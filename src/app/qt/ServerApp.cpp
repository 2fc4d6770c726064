// SPDX-License-Identifier: MIT
#include "app/qt/ServerApp.h"

#include "player/mpd/MpdBackend.h"
#include "player/PlayerSelector.h"
#include "player/mpris/MprisBackend.h"
#include "server/qt/QtPlayerLoop.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QFile>
#include <QLocale>
#include <QStandardPaths>

#include <cstdio>
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

/** MPD or an MPRIS player, as the player location says at each command line. */
class LinuxPlayer : public PlayerSelector
{
public:
    LinuxPlayer(std::unique_ptr<Backends> backends, std::function<std::string()> location)
        : PlayerSelector(backends->mpd, backends->mpris, std::move(location)),
          m_backends(std::move(backends))
    {}

private:
    std::unique_ptr<Backends> m_backends;
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
    return std::make_unique<LinuxPlayer>(
        std::make_unique<Backends>(std::move(managed), MprisSetup{location, report}), location);
}

void printLine(const std::string& line)
{
    std::fprintf(stderr, "%s\n", line.c_str());
    std::fflush(stderr);
}

/** The word with its control bytes made visible, so a client cannot drive the terminal. */
std::string printable(const std::string& word)
{
    std::string text = word;
    for (char& c : text) {
        const auto code = static_cast<unsigned char>(c);
        if (code < 32 || code == 127)
            c = '?';
    }
    return text;
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
      m_settings(defaultSettings(m_settingsFolder, musicFolder())),
      m_log(m_settings, [] { return localDateTime(); }), m_listener(this),
      m_player(makePlayer(m_settingsFolder, *this)),
      m_server(m_settings, m_listener, m_log, *m_player, m_folders, m_scheduler),
      m_lifecycle({m_settingsFolder, printLine,
                   [this](const std::string& word) {
                       if (!m_headless && onStatus)
                           onStatus(word);
                   }},
                  m_settings, m_server, m_listener)
{
    m_listener.setServer(&m_server);
    m_log.onStatus = [this](const std::string& word) {
        if (m_headless)
            printLine(localDateTime() + " " + printable(word));
        if (onStatus)
            onStatus(word);
    };
    m_log.onWarning = [](const std::string& warning) { printLine("zelvor: " + warning); };
    m_server.onError = [](const std::string& error) {
        printLine("zelvor: " + error);
        const QString program = QCoreApplication::applicationFilePath();
        if (const auto hint = listenHint(error, QFile::encodeName(program).toStdString());
            !hint.empty())
            printLine(hint);
    };
}

ServerApp::~ServerApp() = default;

void ServerApp::Form_Load()
{
    m_lifecycle.start(m_commandLine);
}

void ServerApp::Form_Unload()
{
    if (m_lifecycle.shutdown() && onUnloaded)
        onUnloaded();
}

} // namespace zelvor
