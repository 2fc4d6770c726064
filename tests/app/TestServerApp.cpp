// SPDX-License-Identifier: MIT
// The program's own start and shutdown steps and its clock text, in process.
#include "app/qt/ServerApp.h"
#include "app/qt/StartupMode.h"
#include "TcpClient.h"
#include "settings/SettingsFile.h"
#include "support/TempDir.h"

#include <QDateTime>
#include <QLocale>

#include <gtest/gtest.h>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>

#include <filesystem>
#include <string>
#include <vector>

namespace zelvor {
namespace {

using test::readFile;
using test::TempDir;

/** The format's letters outside quoted text. */
QString unquoted(const QString& format)
{
    QString letters;
    bool quoted = false;
    for (const QChar c : format) {
        if (c == u'\'')
            quoted = !quoted;
        else if (!quoted)
            letters += c;
    }
    return letters;
}

TEST(LogTimes, TheZoneGoesWithTheBracketsSeparatorsAndBlanksAroundIt)
{
    const struct
    {
        const char* format;
        const char* expected;
    } rows[] = {
        {"HH:mm:ss t", "HH:mm:ss"},
        {"H:mm:ss (t)", "H:mm:ss"},
        {"HH:mm:ss, t", "HH:mm:ss"},
        {"h:mm:ss AP, t", "h:mm:ss AP"},
        {"APh:mm:ss [t]", "APh:mm:ss"},
        {"t HH:mm:ss", "HH:mm:ss"},
        {"t APh:mm:ss", "APh:mm:ss"},
        {"HH:mm tttt ss", "HH:mm ss"},
        {"H:mm:ss\u202f(t)", "H:mm:ss"},
        {"H:mm:ss 'ч'. t", "H:mm:ss 'ч'."},
        {"'t' HH:mm:ss 'at' t", "'t' HH:mm:ss 'at'"},
        {"'Klock' H.mm:ss (t)", "'Klock' H.mm:ss"},
        {"'it''s' H:mm:ss", "'it''s' H:mm:ss"},
        {"HH:mm:ss", "HH:mm:ss"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.format);
        EXPECT_EQ(timeFormatWithoutZone(QString::fromUtf8(row.format)).toStdString(), row.expected);
    }
}

// Every locale Qt knows: date, one blank, then a time with its seconds and nothing left of the
// zone around it.
TEST(LogTimes, EveryLocaleKeepsTheEntryLayout)
{
    const QDateTime when(QDate(2026, 12, 7), QTime(13, 4, 5));
    int checked = 0;
    for (const QLocale& locale : QLocale::matchingLocales(QLocale::AnyLanguage, QLocale::AnyScript,
                                                          QLocale::AnyTerritory)) {
        SCOPED_TRACE(locale.name().toStdString());
        const QString format = timeFormatWithoutZone(locale.timeFormat(QLocale::LongFormat));
        const QString time = locale.toString(when.time(), format);
        const QString date = locale.toString(when.date(), QLocale::ShortFormat);
        EXPECT_EQ(localDateTime(locale, when), (date + u' ' + time).toLocal8Bit().toStdString());
        ASSERT_FALSE(time.isEmpty());
        EXPECT_FALSE(time.front().isSpace() || time.back().isSpace()) << time.toStdString();
        EXPECT_FALSE(time.contains(u"()") || time.contains(u"[]")) << time.toStdString();
        for (const QChar dangling : {u',', u';', u'(', u'['})
            EXPECT_FALSE(time.endsWith(dangling)) << time.toStdString();
        EXPECT_TRUE(unquoted(format).contains(u's')) << format.toStdString();
        EXPECT_FALSE(unquoted(format).contains(u't')) << format.toStdString();
        ++checked;
    }
    EXPECT_GT(checked, 300);
}

// A value the file cannot hold costs only its own key, and the user is told which one.
TEST(ServerAppShutdown, AnUnsavableValueIsNamedAndEveryOtherKeyIsSaved)
{
    for (const bool headless : {false, true}) {
        SCOPED_TRACE(headless ? "headless" : "desktop");
        TempDir dir;
        const std::string folder = (dir.path() / "zelvor").string();
        dir.write("zelvor/zelvor.ini", "[Zelvor]\r\nServer Root=/old/music\r\n");
        ServerApp app(folder, headless);
        std::vector<std::string> words;
        app.onStatus = [&words](const std::string& word) { words.push_back(word); };
        app.settings().Port = "2323";
        app.settings().ServerRoot = "/new/music\n";
        app.settings().UserName = "bob";

        testing::internal::CaptureStderr();
        app.Form_Unload();
        const std::string stderrText = testing::internal::GetCapturedStderr();

        const std::string ini = readFile(app.settingsFile());
        EXPECT_NE(ini.find("Server Root=/old/music\r\n"), std::string::npos) << ini;
        EXPECT_NE(ini.find("Port=2323\r\n"), std::string::npos) << ini;
        EXPECT_NE(ini.find("User=bob\r\n"), std::string::npos) << ini;
        EXPECT_NE(stderrText.find("\"Server Root\" not saved"), std::string::npos) << stderrText;
        EXPECT_EQ(words, headless ? std::vector<std::string>{}
                                  : std::vector<std::string>{"Server Root not saved"});
    }
}

// A user who switches the log on in the very first run, before any save, gets the default log.
TEST(ServerAppStart, TheDefaultLogWorksInTheFirstRun)
{
    TempDir dir;
    const std::string folder = (dir.path() / "config" / "zelvor").string();
    ServerApp app(folder, /*headless=*/true);
    app.settings().Port = std::to_string(test::freePort());
    testing::internal::CaptureStderr();
    app.Form_Load();
    app.settings().LogLevel = LogLevel::ConnectionsOnly;
    app.server().Cmd_Start_Click();
    testing::internal::GetCapturedStderr();
    const std::string log = readFile(app.settings().LogFile);
    EXPECT_NE(log.find("\t\tdisconnecting\"\r\n"), std::string::npos) << log;
    EXPECT_NE(log.find("\t\tstarted\"\r\n"), std::string::npos) << log;
    EXPECT_FALSE(std::filesystem::exists(app.settingsFile()));
    app.Form_Unload();
}

TEST(StartupMode, TheDesktopWhenOneOpensAndHeadlessOnlyWhenNoneDoes)
{
    const struct
    {
        bool named, x, wayland, plugin;
        StartupMode mode;
    } rows[] = {
        {false, false, false, false, StartupMode::Headless},
        {true, false, false, false, StartupMode::Desktop},
        {false, true, false, false, StartupMode::Desktop},
        {false, true, true, true, StartupMode::Desktop},
        {true, false, true, true, StartupMode::Desktop},
        {false, false, true, true, StartupMode::Wayland},
        {false, false, true, false, StartupMode::Headless},
        {false, false, false, true, StartupMode::Headless},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(testing::Message() << row.named << row.x << row.wayland << row.plugin);
        EXPECT_EQ(chooseStartupMode({row.named, row.x, row.wayland, row.plugin}), row.mode);
    }
}

/** A Unix socket bound at path; listening unless told otherwise. */
class UnixSocket
{
public:
    UnixSocket(const std::string& path, bool listening)
    {
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
        m_fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
        EXPECT_EQ(::bind(m_fd, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
        if (listening) {
            EXPECT_EQ(::listen(m_fd, 4), 0);
        }
    }
    ~UnixSocket() { ::close(m_fd); }

private:
    int m_fd = -1;
};

TEST(StartupMode, AWaylandDisplayOpensOnlyWhereACompositorListens)
{
    TempDir dir;
    const std::string runtime = dir.str();
    UnixSocket compositor(runtime + "/wayland-1", true);
    UnixSocket bound(runtime + "/wayland-2", false);
    dir.write("wayland-3", "a file, no socket");
    const struct
    {
        std::string display;
        const char* runtimeDir;
        bool opens;
    } rows[] = {
        {"wayland-1", runtime.c_str(), true},
        {runtime + "/wayland-1", nullptr, true},
        {"wayland-1", nullptr, false},
        {"wayland-1", "", false},
        {"wayland-2", runtime.c_str(), false},
        {"wayland-3", runtime.c_str(), false},
        {"wayland-9", runtime.c_str(), false},
        {"", runtime.c_str(), false},
        {std::string(200, 'w'), runtime.c_str(), false},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.display);
        EXPECT_EQ(waylandDisplayOpens(row.display.c_str(), row.runtimeDir), row.opens);
    }
}

} // namespace
} // namespace zelvor
