// SPDX-License-Identifier: MIT
// Arbitrary bytes as a stored password, as a clear password, as INI text and as a whole settings
// file. Nothing may crash, and these must hold:
//  - every password survives EncryptPassword followed by DecryptPassword, long ones included;
//  - a value set in INI text reads back as set, and no other key changes;
//  - a settings record loaded from any file, saved and loaded again, is the same record.
#include "FuzzFolder.h"

#include "settings/IniFile.h"
#include "settings/PasswordScrambling.h"
#include "settings/ServerSettings.h"
#include "settings/SettingsFile.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <string_view>
#include <system_error>

namespace fs = std::filesystem;

namespace zelvor {
namespace {

constexpr std::string_view kSection = "Zelvor";
constexpr std::string_view kKeys[] = {"Port",           "Server Root", "Winamp Location",
                                      "LogLevel1",      "LogLevel2",   "Login",
                                      "Server Logfile", "User",        "Password"};

[[noreturn]] void violated(const char* rule, std::string_view detail)
{
    std::fprintf(stderr, "\nRULE BROKEN: %s [%zu bytes: ", rule, detail.size());
    for (const char c : detail.substr(0, 200))
        std::fprintf(stderr, "%02x", static_cast<unsigned char>(c));
    std::fprintf(stderr, "]\n");
    std::abort();
}

void checkRoundTrip(std::string_view password)
{
    const std::string stored = EncryptPassword(password);
    const auto body = stored.find_first_not_of("0123456789");
    const std::string_view hex =
        body == std::string::npos ? "" : std::string_view(stored).substr(body);
    if (hex.find_first_not_of("0123456789ABCDEF") != std::string_view::npos)
        violated("stored password is not decimal length and upper-case hex", stored);
    if (DecryptPassword(stored) != password)
        violated("password did not survive the settings file", password);
}

/**
 * The input as a password, and what it reads as when taken for a stored form. When it starts
 * with the byte 255 the next two give a length below 12,000, and its rest repeated to that length
 * is a long password too (the stored form's prefix grows a digit at 50, 500 and 5,000 bytes).
 */
void checkPasswords(std::string_view bytes)
{
    checkRoundTrip(bytes);
    checkRoundTrip(DecryptPassword(bytes));
    if (bytes.size() < 4 || bytes[0] != '\xff')
        return;
    const std::size_t length =
        (static_cast<unsigned char>(bytes[1]) * 256u + static_cast<unsigned char>(bytes[2])) %
        12000;
    const std::string_view pattern = bytes.substr(3);
    std::string longer;
    while (longer.size() < length)
        longer.append(pattern.substr(0, length - longer.size()));
    checkRoundTrip(longer);
}

std::string_view blanksTrimmed(std::string_view text)
{
    constexpr std::string_view kBlanks = " \t\r\v\f";
    const auto first = text.find_first_not_of(kBlanks);
    if (first == std::string_view::npos)
        return {};
    return text.substr(first, text.find_last_not_of(kBlanks) - first + 1);
}

/** Its first line is the value, the rest the INI text it is set in. */
void checkIniText(std::string_view bytes)
{
    const auto lineEnd = bytes.find('\n');
    const std::string_view value = bytes.substr(0, lineEnd);
    const std::string_view text =
        lineEnd == std::string_view::npos ? "" : bytes.substr(lineEnd + 1);

    for (const std::string_view key : kKeys) {
        std::string changed(text);
        if (!setIniValue(changed, kSection, key, value))
            violated("a value without a line feed was refused", value);
        const auto readBack = findIniValue(changed, "zelvor", key);
        if (!readBack || *readBack != blanksTrimmed(value))
            violated("a value set did not read back", changed);
        for (const std::string_view other : kKeys) {
            if (other != key &&
                findIniValue(changed, kSection, other) != findIniValue(text, kSection, other))
                violated("setting one key changed another", changed);
        }
    }
}

std::string g_iniPath;

void checkSettingsFile(std::string_view bytes)
{
    if (std::FILE* out = std::fopen(g_iniPath.c_str(), "wb")) {
        std::fwrite(bytes.data(), 1, bytes.size(), out);
        std::fclose(out);
    }
    const ServerSettings defaults = defaultSettings("/var/lib/zelvor", "/srv/music");
    ServerSettings loaded = defaults;
    loadSettings(g_iniPath, loaded);
    std::string error;
    if (!saveSettings(g_iniPath, loaded, &error))
        violated("settings that were read could not be saved", error);
    ServerSettings again = defaults;
    if (!loadSettings(g_iniPath, again) || !(again == loaded))
        violated("settings changed on their way through the file", bytes);
}

void removeFolder()
{
    std::error_code error;
    fs::remove_all(fs::path(g_iniPath).parent_path(), error);
}

} // namespace
} // namespace zelvor

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    // A memory file system when there is one: every save syncs to the disk.
    std::error_code error;
    fs::path base =
        fs::is_directory("/dev/shm", error) ? fs::path("/dev/shm") : fs::temp_directory_path();
    zelvor::g_iniPath = (zelvor::fuzz::makeFuzzFolder(base) / "zelvor.ini").string();
    std::atexit(zelvor::removeFolder);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    zelvor::checkPasswords(bytes);
    zelvor::checkIniText(bytes);
    zelvor::checkSettingsFile(bytes);
    return 0;
}
