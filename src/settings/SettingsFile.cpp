// SPDX-License-Identifier: MIT
#include "settings/SettingsFile.h"

#include "AsciiCase.h"
#include "settings/AtomicFile.h"
#include "settings/Failure.h"
#include "settings/IniFile.h"
#include "settings/PasswordScrambling.h"
#include "settings/ServerSettings.h"

#include <array>
#include <cerrno>
#include <filesystem>
#include <optional>
#include <string_view>
#include <system_error>
#include <utility>

#ifndef _WIN32
#include <sys/stat.h>
#endif

namespace fs = std::filesystem;

namespace zelvor {

namespace {

constexpr std::string_view kSection = "Zelvor";

// "True"/"False" in any case, or a decimal number that is false when zero. Anything else,
// the empty text included, has no two-state value.
std::optional<bool> twoStateValue(std::string_view text)
{
    if (asciiEqualIgnoringCase(text, "true"))
        return true;
    if (asciiEqualIgnoringCase(text, "false"))
        return false;
    if (!text.empty() && (text.front() == '+' || text.front() == '-'))
        text.remove_prefix(1);
    bool digits = false;
    bool nonZero = false;
    bool point = false;
    for (char c : text) {
        if (c == '.' && !point) {
            point = true;
        } else if (c >= '0' && c <= '9') {
            digits = true;
            nonZero = nonZero || c != '0';
        } else {
            return std::nullopt;
        }
    }
    if (!digits)
        return std::nullopt;
    return nonZero;
}

bool isTrue(std::optional<std::string_view> value)
{
    return value && twoStateValue(*value).value_or(false);
}

void readText(std::optional<std::string_view> value, std::string& field)
{
    if (value)
        field = std::string(value->substr(0, kIniReadLimit));
}

const char* boolText(bool value)
{
    return value ? "True" : "False";
}

bool ensureFolder(const fs::path& folder, std::string* error)
{
    std::error_code ec;
    if (folder.empty() || fs::is_directory(folder, ec))
        return true;
    const auto parent = folder.parent_path();
    if (parent != folder && !ensureFolder(parent, error))
        return false;
#ifdef _WIN32
    if (fs::create_directory(folder, ec) || fs::is_directory(folder, ec))
        return true;
    return failWith(error, folder.string() + ": cannot create the folder: " + ec.message());
#else
    // The settings hold the login password: keep the folder to its owner.
    if (::mkdir(folder.c_str(), 0700) == 0)
        return true;
    const int code = errno;
    // Another process may have created it meanwhile.
    if (code == EEXIST && fs::is_directory(folder, ec))
        return true;
    return failWith(error, folder.string() + ": cannot create the folder: " +
                               std::generic_category().message(code));
#endif
}

} // namespace

std::string settingsFilePath(const std::string& folder)
{
#ifdef _WIN32
    return folder + "\\zelvor.ini";
#else
    return folder + "/zelvor.ini";
#endif
}

bool loadSettings(const std::string& iniPath, ServerSettings& settings, std::string* error)
{
    if (!FileExists(iniPath))
        return false;
    std::string text;
    if (readIniFile(iniPath, text, error) != IniFileState::Read)
        return false;
    const auto value = [&text](std::string_view key) { return findIniValue(text, kSection, key); };

    readText(value("Port"), settings.Port);
    readText(value("Server Root"), settings.ServerRoot);
    readText(value("Winamp Location"), settings.WinampLocation);
    if (isTrue(value("LogLevel1")))
        settings.LogLevel = LogLevel::ConnectionsOnly;
    if (isTrue(value("LogLevel2")))
        settings.LogLevel = LogLevel::AllActivity;
    if (isTrue(value("Login")))
        settings.LoginRequired = false;
    readText(value("Server Logfile"), settings.LogFile);
    readText(value("User"), settings.UserName);
    // The stored password is read whole: cutting it at the read limit would garble passwords
    // of more than 125 characters.
    if (const auto stored = value("Password"))
        settings.Password = DecryptPassword(*stored);
    readText(value("Listen Address"), settings.ListenAddress);
    if (const auto negotiate = value("Negotiate"))
        settings.Negotiate = twoStateValue(*negotiate).value_or(settings.Negotiate);
    return true;
}

bool saveSettings(const std::string& iniPath, const ServerSettings& settings, std::string* error,
                  std::vector<std::string>* keptKeys)
{
    if (!ensureFolder(fs::path(iniPath).parent_path(), error))
        return false;
    std::string text;
    // What cannot be read cannot be kept, so it is not replaced either.
    if (readIniFile(iniPath, text, error) == IniFileState::Unreadable)
        return false;

    const std::array<std::pair<std::string_view, std::string>, 9> entries{{
        {"Port", settings.Port},
        {"Server Root", settings.ServerRoot},
        {"Winamp Location", settings.WinampLocation},
        {"LogLevel1", boolText(settings.LogLevel == LogLevel::ConnectionsOnly)},
        {"LogLevel2", boolText(settings.LogLevel == LogLevel::AllActivity)},
        {"Login", boolText(!settings.LoginRequired)},
        {"Server Logfile", settings.LogFile},
        {"User", settings.UserName},
        {"Password", EncryptPassword(settings.Password)},
    }};
    for (const auto& [key, value] : entries) {
        if (!setIniValue(text, kSection, key, value) && keptKeys)
            keptKeys->emplace_back(key);
    }
    return writeFileAtomically(iniPath, text, error);
}

bool prepareSettingsFolder(const std::string& folder, std::string* error)
{
    if (!ensureFolder(fs::path(folder), error))
        return false;
    const std::string tempPrefix = fs::path(settingsFilePath(folder)).filename().string() + ".new-";
    std::error_code ec;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        std::error_code typeError;
        if (it->path().filename().string().rfind(tempPrefix, 0) == 0 &&
            it->is_regular_file(typeError))
            fs::remove(it->path(), typeError);
    }
    return true;
}

} // namespace zelvor
