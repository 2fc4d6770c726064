// SPDX-License-Identifier: MIT
#pragma once

#include <functional>
#include <set>
#include <string>
#include <string_view>

namespace zelvor {

struct ServerSettings;

/**
 * The one reporting point: keeps the status word and appends log entries by the current log
 * level, opening and closing the log file for every entry.
 */
class ActivityLog
{
public:
    /** Returns the current local date and time as "date time" (time with seconds). */
    using Clock = std::function<std::string()>;

    ActivityLog(const ServerSettings& settings, Clock clock);

    /** Sets the status word and, by level, appends an entry for it. Never fails. */
    void LogActivity(std::string_view word, std::string_view remoteAddress);

    const std::string& statusWord() const { return m_status; }

    /** Called with every new status word (the status line; stderr when headless). */
    std::function<void(const std::string&)> onStatus;
    /** Called once per log file path that cannot be written. */
    std::function<void(const std::string&)> onWarning;

    /** The bytes of one entry, without opening any file. */
    static std::string formatEntry(std::string_view dateTime, std::string_view remoteAddress,
                                   std::string_view word);

private:
    void append(const std::string& path, const std::string& entry);

    const ServerSettings& m_settings;
    Clock m_clock;
    std::string m_status = "running";
    std::set<std::string> m_warnedPaths;
};

} // namespace zelvor
