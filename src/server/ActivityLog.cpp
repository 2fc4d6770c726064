// SPDX-License-Identifier: MIT
#include "server/ActivityLog.h"

#include "Printable.h"
#include "settings/ServerSettings.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <system_error>

namespace zelvor {
namespace {

namespace fs = std::filesystem;

bool isConnectionWord(std::string_view word)
{
    return word == "started" || word == "connecting" || word == "disconnecting" ||
           word == "open to anyone" || word.starts_with("penalty ");
}

} // namespace

ActivityLog::ActivityLog(const ServerSettings& settings, Clock clock)
    : m_settings(settings), m_clock(std::move(clock))
{}

void ActivityLog::LogActivity(std::string_view word, std::string_view remoteAddress)
{
    m_status.assign(word);
    if (onStatus)
        onStatus(m_status);

    switch (m_settings.LogLevel) {
    case LogLevel::Off:
        return;
    case LogLevel::ConnectionsOnly:
        if (!isConnectionWord(word))
            return;
        break;
    case LogLevel::AllActivity:
        break;
    }
    append(m_settings.LogFile, formatEntry(m_clock(), remoteAddress, word));
}

std::string ActivityLog::formatEntry(std::string_view dateTime, std::string_view remoteAddress,
                                     std::string_view word)
{
    std::string entry;
    entry.reserve(dateTime.size() + remoteAddress.size() + word.size() + 6);
    entry += '"';
    entry += dateTime;
    entry += '\t';
    entry += remoteAddress;
    entry += '\t';
    // A client types the command word: no byte of it may start a new entry or a new field.
    entry += printable(word);
    entry += "\"\r\n";
    return entry;
}

void ActivityLog::append(const std::string& path, const std::string& entry)
{
    std::error_code sizeError;
    const std::uintmax_t sizeBefore = path.empty() ? 0 : fs::file_size(path, sizeError);
    std::FILE* file = path.empty() ? nullptr : std::fopen(path.c_str(), "ab");
    bool written = false;
    int error = errno;
    if (file) {
        written = std::fwrite(entry.data(), 1, entry.size(), file) == entry.size();
        error = errno;
        written = (std::fclose(file) == 0) && written;
        if (!written && error == 0)
            error = errno;
    }
    if (written) {
        m_warnedPaths.erase(path);
        return;
    }
    if (file && (!sizeError || sizeError == std::errc::no_such_file_or_directory)) {
        // A full disk may have taken the first part of the entry. Cut it off again, or the next
        // entry would be glued to the piece once there is room.
        std::error_code ignored;
        fs::resize_file(path, sizeError ? 0 : sizeBefore, ignored);
    }
    if (onWarning && m_warnedPaths.insert(path).second) {
        onWarning("cannot write the log file \"" + path +
                  "\": " + (path.empty() ? "no path set" : std::strerror(error)));
    }
}

} // namespace zelvor
