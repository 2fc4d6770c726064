// SPDX-License-Identifier: MIT
#include "settings/SettingsFile.h"

#include "settings/ServerSettings.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <ostream>
#include <string>
#include <vector>

#ifndef _WIN32
#include <csignal>
#include <cstdio>
#include <sys/resource.h>
#include <unistd.h>
#endif

namespace zelvor {

void PrintTo(const ServerSettings& s, std::ostream* out)
{
    *out << "{Port=" << s.Port << " ServerRoot=" << s.ServerRoot
         << " WinampLocation=" << s.WinampLocation << " LogLevel=" << static_cast<int>(s.LogLevel)
         << " LoginRequired=" << s.LoginRequired << " LogFile=" << s.LogFile
         << " UserName=" << s.UserName << " Password=" << testing::PrintToString(s.Password) << "}";
}

namespace {

using test::readFile;
using test::TempDir;
namespace fs = std::filesystem;

class SettingsFileTest : public testing::Test
{
protected:
    TempDir m_dir;
    std::string m_folder = (m_dir.path() / "config" / "zelvor").string();
    std::string m_path = settingsFilePath(m_folder);
    ServerSettings m_defaults = defaultSettings(m_folder, "/home/u/Music");

    ServerSettings loaded(const std::string& fileText)
    {
        m_dir.write("config/zelvor/zelvor.ini", fileText);
        ServerSettings settings = m_defaults;
        EXPECT_TRUE(loadSettings(m_path, settings));
        return settings;
    }

    std::vector<std::string> folderEntries() const
    {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(m_folder))
            names.push_back(entry.path().filename().string());
        return names;
    }
};

TEST_F(SettingsFileTest, FirstStartKeepsDefaultsAndWritesNothing)
{
    ServerSettings settings = m_defaults;
    EXPECT_FALSE(loadSettings(m_path, settings));
    EXPECT_EQ(settings, m_defaults);
    EXPECT_FALSE(fs::exists(m_dir.path() / "config"));
}

TEST_F(SettingsFileTest, FirstSaveWritesTheNineKeysInOrderInAPrivateFolder)
{
    ASSERT_TRUE(saveSettings(m_path, m_defaults));
    EXPECT_EQ(readFile(m_path), "[Zelvor]\r\n"
                                "Port=23\r\n"
                                "Server Root=" +
                                    m_defaults.ServerRoot +
                                    "\r\n"
                                    "Winamp Location=" +
                                    m_defaults.WinampLocation +
                                    "\r\n"
                                    "LogLevel1=False\r\n"
                                    "LogLevel2=False\r\n"
                                    "Login=False\r\n"
                                    "Server Logfile=" +
                                    m_defaults.LogFile +
                                    "\r\n"
                                    "User=user\r\n"
                                    "Password=00\r\n");
#ifndef _WIN32
    EXPECT_EQ(fs::status(m_folder).permissions() & fs::perms::all, fs::perms::owner_all);
    EXPECT_EQ(fs::status(m_path).permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write);
#endif
}

TEST_F(SettingsFileTest, TwoStateKeysFollowTheConversionRules)
{
    struct Row
    {
        const char* lines;
        LogLevel logLevel;
        bool loginRequired;
    };
    const Row rows[] = {
        {"LogLevel1=False\r\nLogLevel2=False\r\nLogin=False", LogLevel::Off, true},
        {"LogLevel1=True\r\nLogLevel2=False\r\nLogin=True", LogLevel::ConnectionsOnly, false},
        {"LogLevel1=False\r\nLogLevel2=True", LogLevel::AllActivity, true},
        {"LogLevel1=True\r\nLogLevel2=True", LogLevel::AllActivity, true},
        {"loglevel1=tRUE\r\nLOGIN=true", LogLevel::ConnectionsOnly, false},
        {"LogLevel1=-1\r\nLogLevel2=0\r\nLogin=1", LogLevel::ConnectionsOnly, false},
        {"LogLevel1=0\r\nLogLevel2=2\r\nLogin=0", LogLevel::AllActivity, true},
        {"LogLevel1=\r\nLogLevel2=yes\r\nLogin=on", LogLevel::Off, true},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.lines);
        const ServerSettings settings = loaded("[Zelvor]\r\n" + std::string(row.lines) + "\r\n");
        EXPECT_EQ(settings.LogLevel, row.logLevel);
        EXPECT_EQ(settings.LoginRequired, row.loginRequired);
    }
}

// The two keys that only the file sets are read, and a save leaves them as they stand.
TEST_F(SettingsFileTest, ListenAddressAndNegotiateAreReadAndKeptBySaving)
{
    struct Row
    {
        const char* lines;
        const char* address;
        bool negotiate;
    };
    const Row rows[] = {
        {"Port=23", "", true},
        {"Listen Address=127.0.0.1\r\nNegotiate=False", "127.0.0.1", false},
        {"Listen Address=::1\r\nNegotiate=0", "::1", false},
        {"Negotiate=true", "", true},
        {"Negotiate=maybe", "", true},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.lines);
        const std::string text = "[Zelvor]\r\n" + std::string(row.lines) + "\r\n";
        ServerSettings settings = loaded(text);
        EXPECT_EQ(settings.ListenAddress, row.address);
        EXPECT_EQ(settings.Negotiate, row.negotiate);
        settings.ListenAddress = "10.0.0.1";
        settings.Negotiate = !row.negotiate;
        ASSERT_TRUE(saveSettings(m_path, settings));
        EXPECT_NE(readFile(m_path).find(std::string(row.lines) + "\r\n"), std::string::npos);
        EXPECT_EQ(readFile(m_path).find("10.0.0.1"), std::string::npos);
    }
}

TEST_F(SettingsFileTest, BothLogLevelsTrueIsSavedAsAllActivityOnly)
{
    const ServerSettings settings = loaded("[Zelvor]\r\nLogLevel1=True\r\nLogLevel2=True\r\n");
    ASSERT_TRUE(saveSettings(m_path, settings));
    // The two keys already there are replaced in place; the others follow in their order.
    EXPECT_EQ(readFile(m_path), "[Zelvor]\r\nLogLevel1=False\r\nLogLevel2=True\r\nPort=23\r\n"
                                "Server Root=" +
                                    m_defaults.ServerRoot +
                                    "\r\n"
                                    "Winamp Location=" +
                                    m_defaults.WinampLocation +
                                    "\r\n"
                                    "Login=False\r\n"
                                    "Server Logfile=" +
                                    m_defaults.LogFile +
                                    "\r\n"
                                    "User=user\r\nPassword=00\r\n");
}

TEST_F(SettingsFileTest, MissingKeysKeepTheirDefaults)
{
    ServerSettings expected = m_defaults;
    expected.UserName = "";
    EXPECT_EQ(loaded("[Zelvor]\r\nUser=\r\n"), expected);
}

TEST_F(SettingsFileTest, LongValuesAreCutTo254Characters)
{
    EXPECT_EQ(loaded("[Zelvor]\r\nServer Root=" + std::string(300, 'r') + "\r\n").ServerRoot,
              std::string(254, 'r'));
}

TEST_F(SettingsFileTest, SaveThenLoadGivesTheSameRecord)
{
    for (LogLevel level : {LogLevel::Off, LogLevel::ConnectionsOnly, LogLevel::AllActivity}) {
        ServerSettings saved = m_defaults;
        saved.Port = "2323";
        saved.ServerRoot = "/srv/my music";
        saved.LogLevel = level;
        saved.LoginRequired = level != LogLevel::ConnectionsOnly;
        saved.UserName = "b\xf6rje";
        saved.Password = std::string("\0p\xffw=d; ", 8) + std::string(200, 'k');
        ASSERT_TRUE(saveSettings(m_path, saved));
        ServerSettings settings = m_defaults;
        ASSERT_TRUE(loadSettings(m_path, settings));
        EXPECT_EQ(settings, saved);
    }
}

TEST_F(SettingsFileTest, SaveKeepsEverythingElseInTheFile)
{
    m_dir.write("config/zelvor/zelvor.ini", "; mine\n[Other]\nPort=1\n[ZELVOR]\nport = 9\n"
                                            "Extra=keep\n");
    ASSERT_TRUE(saveSettings(m_path, m_defaults));
    EXPECT_EQ(readFile(m_path),
              "; mine\r\n[Other]\r\nPort=1\r\n[ZELVOR]\r\nPort=23\r\nExtra=keep\r\n"
              "Server Root=" +
                  m_defaults.ServerRoot +
                  "\r\n"
                  "Winamp Location=" +
                  m_defaults.WinampLocation +
                  "\r\n"
                  "LogLevel1=False\r\nLogLevel2=False\r\nLogin=False\r\n"
                  "Server Logfile=" +
                  m_defaults.LogFile +
                  "\r\n"
                  "User=user\r\nPassword=00\r\n");
    EXPECT_EQ(folderEntries(), std::vector<std::string>{"zelvor.ini"});
}

TEST_F(SettingsFileTest, GarbageFilesGiveDefaults)
{
    std::string binary;
    for (int i = 0; i < 65536; ++i)
        binary += static_cast<char>((i * 2654435761u) >> 24);
    EXPECT_EQ(loaded(binary), m_defaults);

    m_dir.write("config/zelvor/zelvor.ini", std::string(50 << 20, '['));
    ServerSettings settings = m_defaults;
    std::string error;
    EXPECT_FALSE(loadSettings(m_path, settings, &error));
    EXPECT_NE(error, "");
    EXPECT_EQ(settings, m_defaults);

    fs::remove(m_path);
    fs::create_directory(m_path);
    EXPECT_FALSE(loadSettings(m_path, settings));
    EXPECT_EQ(settings, m_defaults);
    EXPECT_FALSE(saveSettings(m_path, m_defaults, &error));
    EXPECT_TRUE(fs::is_directory(m_path));
}

TEST_F(SettingsFileTest, FolderThatCannotBeCreatedIsReported)
{
    m_dir.write("config", "a file where the folder should be");
    std::string error;
    EXPECT_FALSE(saveSettings(m_path, m_defaults, &error));
    EXPECT_NE(error.find("cannot create"), std::string::npos) << error;
}

// A value that cannot be stored costs only its own key: every other key is written, and that
// key keeps what the file held (or stays absent), so the edits of a run are never all lost.
TEST_F(SettingsFileTest, UnsavableValueKeepsOnlyThatKeysStoredValue)
{
    const std::string old = "[Zelvor]\r\nPort=4242\r\nServer Root=/old/music\r\n"
                            "Winamp Location=oldmpd\r\nServer Logfile=/old/log\r\nUser=old\r\n";
    ServerSettings edited = m_defaults;
    edited.Port = "2323";
    edited.ServerRoot = "/new/music";
    edited.WinampLocation = "newmpd";
    edited.LogFile = "/new/log";
    edited.UserName = "new";
    edited.Password = "pw";
    const struct
    {
        const char* key;
        std::string ServerSettings::*field;
        const char* oldLine;
    } rows[] = {
        {"Port", &ServerSettings::Port, "Port=4242"},
        {"Server Root", &ServerSettings::ServerRoot, "Server Root=/old/music"},
        {"Winamp Location", &ServerSettings::WinampLocation, "Winamp Location=oldmpd"},
        {"Server Logfile", &ServerSettings::LogFile, "Server Logfile=/old/log"},
        {"User", &ServerSettings::UserName, "User=old"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.key);
        m_dir.write("config/zelvor/zelvor.ini", old);
        ServerSettings settings = edited;
        settings.*(row.field) = "/pasted/path\n";
        std::string error;
        std::vector<std::string> kept;
        ASSERT_TRUE(saveSettings(m_path, settings, &error, &kept)) << error;
        EXPECT_EQ(kept, std::vector<std::string>{row.key});

        const std::string saved = readFile(m_path);
        EXPECT_NE(saved.find(std::string(row.oldLine) + "\r\n"), std::string::npos) << saved;
        EXPECT_EQ(folderEntries(), std::vector<std::string>{"zelvor.ini"});
        const ServerSettings stored = loaded(saved);
        settings.*(row.field) = loaded(old).*(row.field);
        EXPECT_EQ(stored, settings);
    }

    // Without a file the key stays absent, so the next start falls back to its default.
    fs::remove(m_path);
    ServerSettings settings = edited;
    settings.UserName = "a\nb";
    settings.ServerRoot = "c\nd";
    std::vector<std::string> kept;
    ASSERT_TRUE(saveSettings(m_path, settings, nullptr, &kept));
    EXPECT_EQ(kept, (std::vector<std::string>{"Server Root", "User"}));
    settings.UserName = m_defaults.UserName;
    settings.ServerRoot = m_defaults.ServerRoot;
    EXPECT_EQ(loaded(readFile(m_path)), settings);
}

// At start the folder exists (so the default log can be written in the first run), and what a
// save killed half way left behind is gone; nothing else in the folder is touched.
TEST_F(SettingsFileTest, StartPreparesThePrivateFolderAndRemovesHalfWrittenSaves)
{
    std::string error;
    ASSERT_TRUE(prepareSettingsFolder(m_folder, &error)) << error;
    ASSERT_TRUE(fs::is_directory(m_folder));
#ifndef _WIN32
    EXPECT_EQ(fs::status(m_folder).permissions() & fs::perms::all, fs::perms::owner_all);
#endif
    EXPECT_TRUE(folderEntries().empty());

    for (const char* name : {"zelvor.ini", "zelvor.ini.new-Ab12Cd", "zelvor.ini.new-",
                             "zelvor.ini.newer", "other.ini.new-Ab12Cd", "zelvor.log"})
        m_dir.write(std::string("config/zelvor/") + name, "x");
    m_dir.mkdir("config/zelvor/zelvor.ini.new-folder");
    ASSERT_TRUE(prepareSettingsFolder(m_folder, &error)) << error;
    auto names = folderEntries();
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"other.ini.new-Ab12Cd", "zelvor.ini",
                                               "zelvor.ini.new-folder", "zelvor.ini.newer",
                                               "zelvor.log"}));

    m_dir.write("blocked", "a file where the folder should be");
    EXPECT_FALSE(prepareSettingsFolder((m_dir.path() / "blocked" / "zelvor").string(), &error));
    EXPECT_NE(error.find("cannot create"), std::string::npos) << error;
}

#ifndef _WIN32
/**
 * Runs one case of this program as the unprivileged user "nobody" through setpriv, from a copy
 * of the program in a temp folder that user can reach, and checks that the case passed there.
 */
void runAsNobody(const std::string& testName)
{
    if (::access("/usr/bin/setpriv", X_OK) != 0)
        GTEST_SKIP() << "root, and no setpriv to give that up";
    const TempDir copy;
    const fs::path program = copy.path() / "test_settings";
    fs::copy_file("/proc/self/exe", program);
    fs::permissions(copy.path(), fs::perms::owner_all | fs::perms::group_read |
                                     fs::perms::group_exec | fs::perms::others_read |
                                     fs::perms::others_exec);
    const std::string command = "/usr/bin/setpriv --reuid=65534 --regid=65534 --clear-groups " +
                                program.string() + " --gtest_filter=" + testName + " 2>&1";
    FILE* pipe = ::popen(command.c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    std::string output;
    char buffer[4096];
    for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;)
        output.append(buffer, n);
    const int status = ::pclose(pipe);
    EXPECT_EQ(status, 0) << output;
    EXPECT_NE(output.find("[  PASSED  ] 1 test."), std::string::npos) << output;
    EXPECT_EQ(output.find("SKIPPED"), std::string::npos) << output;
}

TEST_F(SettingsFileTest, ReadOnlyFolderKeepsTheOldFile)
{
    // Root writes into read-only folders: the case runs as nobody instead.
    if (::geteuid() == 0)
        return runAsNobody("SettingsFileTest.ReadOnlyFolderKeepsTheOldFile");
    const std::string old = "[Zelvor]\r\nPort=4242\r\n";
    m_dir.write("config/zelvor/zelvor.ini", old);
    fs::permissions(m_folder, fs::perms::owner_read | fs::perms::owner_exec);
    std::string error;
    EXPECT_FALSE(saveSettings(m_path, m_defaults, &error));
    EXPECT_NE(error, "");
    EXPECT_EQ(readFile(m_path), old);
}

// A file-size limit fails the write part way, as a full disk would, and binds root too.
TEST_F(SettingsFileTest, WriteFailingPartWayKeepsTheOldFileAndLeavesNoTemporaryFile)
{
    const std::string old = "[Zelvor]\r\nPort=4242\r\n";
    m_dir.write("config/zelvor/zelvor.ini", old);
    rlimit saved{};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
    rlimit limited = saved;
    limited.rlim_cur = 16;
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &limited), 0);
    std::string error;
    const bool savedOk = saveSettings(m_path, m_defaults, &error);
    ::setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, oldHandler);

    EXPECT_FALSE(savedOk);
    EXPECT_NE(error, "");
    EXPECT_EQ(readFile(m_path), old);
    EXPECT_EQ(folderEntries(), std::vector<std::string>{"zelvor.ini"});
}
#endif

} // namespace
} // namespace zelvor
