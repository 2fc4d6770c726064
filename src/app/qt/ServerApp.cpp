// SPDX-License-Identifier: MIT
#include "app/qt/ServerApp.h"

#ifdef _WIN32
#include "player/win32/Win32Backend.h"
#else
#include "player/mpd/MpdBackend.h"
#endif
#include "settings/SettingsFile.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QFile>
#include <QLocale>
#include <QStandardPaths>

#include <cstdio>
#include <ctime>
#include <utility>
#include <vector>

namespace zelvor {
namespace {

std::string musicFolder()
{
    QString folder = QStandardPaths::writableLocation(QStandardPaths::MusicLocation);
    return QFile::encodeName(folder).toStdString();
}

/** The player of this platform: its window messages on Windows, MPD elsewhere. */
std::unique_ptr<Player> makePlayer([[maybe_unused]] const std::string& settingsFolder,
                                   [[maybe_unused]] ServerApp& app)
{
#ifdef _WIN32
    return std::make_unique<Win32Backend>();
#else
    ManagedMpdSetup managed;
    managed.settingsFolder = settingsFolder;
    managed.musicRoot = [&app] { return app.settings().ServerRoot; };
    managed.report = [&app](const std::string& word) { app.server().LogActivity(word); };
    managed.after = [&app](std::chrono::milliseconds delay, std::function<void()> callback) {
        app.scheduler().after(delay, std::move(callback));
    };
    return std::make_unique<MpdBackend>(std::move(managed));
#endif
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
    : QObject(parent), m_settingsFolder(std::move(settingsFolder)),
      m_settingsFile(settingsFilePath(m_settingsFolder)), m_headless(headless),
      m_settings(defaultSettings(m_settingsFolder, musicFolder())),
      m_log(m_settings, [] { return localDateTime(); }), m_listener(this),
      m_player(makePlayer(m_settingsFolder, *this)),
      m_server(m_settings, m_listener, m_log, *m_player, m_folders, m_scheduler)
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
    std::string error;
    // Without the folder the default log could not be written before the first save.
    if (!prepareSettingsFolder(m_settingsFolder, &error))
        printLine("zelvor: " + error);
    error.clear();
    if (!loadSettings(m_settingsFile, m_settings, &error) && !error.empty())
        printLine("zelvor: " + error);
    // Such a value is kept as it is, but no client can type it: say so once.
    for (const auto& [name, value] :
         {std::pair<const char*, const std::string&>{"user name", m_settings.UserName},
          {"password", m_settings.Password}}) {
        if (value.size() > kMaxLineLength)
            printLine("zelvor: the " + std::string(name) + " in " + m_settingsFile +
                      " is longer than " + std::to_string(kMaxLineLength) +
                      " bytes, more than a client can type: nobody can log in with it");
    }
    applyCommandLine(m_commandLine, m_settings);
    m_server.Server_Load();
}

void ServerApp::Form_Unload()
{
    if (m_unloaded)
        return;
    m_unloaded = true;
    std::string error;
    std::vector<std::string> keptKeys;
    if (!saveSettings(m_settingsFile, m_settings, &error, &keptKeys))
        printLine("zelvor: cannot save the settings to " + m_settingsFile + ": " + error);
    for (const auto& key : keptKeys) {
        printLine("zelvor: \"" + key + "\" not saved: its value holds a line break; " +
                  m_settingsFile + " keeps the value stored before");
        if (!m_headless && onStatus)
            onStatus(key + " not saved");
    }
    m_listener.close();
    if (onUnloaded)
        onUnloaded();
}

} // namespace zelvor
