// SPDX-License-Identifier: MIT
#include "app/ServerApp.h"

#ifdef _WIN32
#include "player/Win32Backend.h"
#else
#include "player/MpdBackend.h"
#endif
#include "settings/SettingsFile.h"

#include <QDateTime>
#include <QFile>
#include <QLocale>
#include <QStandardPaths>

#include <cstdio>
#include <utility>

namespace zelvor {
namespace {

std::string musicFolder()
{
    QString folder = QStandardPaths::writableLocation(QStandardPaths::MusicLocation);
    return QFile::encodeName(folder).toStdString();
}

/** The player of this platform: its window messages on Windows, MPD elsewhere. */
std::unique_ptr<Player> makePlayer()
{
#ifdef _WIN32
    return std::make_unique<Win32Backend>();
#else
    return std::make_unique<MpdBackend>();
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

std::string localDateTime()
{
    const QLocale locale = QLocale::system();
    const QDateTime now = QDateTime::currentDateTime();
    // The locale's long time format carries the seconds, and a time zone we leave out.
    QString timeFormat = locale.timeFormat(QLocale::LongFormat);
    timeFormat.remove(QLatin1Char('t'));
    const QString text = locale.toString(now.date(), QLocale::ShortFormat) + QLatin1Char(' ') +
                         locale.toString(now.time(), timeFormat.trimmed());
    return text.toLocal8Bit().toStdString();
}

ServerApp::ServerApp(std::string settingsFolder, bool headless, QObject* parent)
    : QObject(parent), m_settingsFolder(std::move(settingsFolder)),
      m_settingsFile(settingsFilePath(m_settingsFolder)), m_headless(headless),
      m_settings(defaultSettings(m_settingsFolder, musicFolder())),
      m_log(m_settings, localDateTime), m_listener(this), m_player(makePlayer()),
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
    m_server.onError = [](const std::string& error) { printLine("zelvor: " + error); };
}

ServerApp::~ServerApp() = default;

void ServerApp::Form_Load()
{
    std::string error;
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
    m_server.Server_Load();
}

void ServerApp::Form_Unload()
{
    if (m_unloaded)
        return;
    m_unloaded = true;
    std::string error;
    if (!saveSettings(m_settingsFile, m_settings, &error))
        printLine("zelvor: cannot save the settings to " + m_settingsFile + ": " + error);
    m_listener.close();
    if (onUnloaded)
        onUnloaded();
}

} // namespace zelvor
