// SPDX-License-Identifier: MIT
#pragma once

#include "player/mpd/ManagedMpdConfig.h"

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include <sys/types.h>

namespace zelvor {

/** What Zelvor needs to run an MPD of its own. */
struct ManagedMpdSetup
{
    /** Zelvor's settings folder; empty means Zelvor never runs an MPD of its own. */
    std::filesystem::path settingsFolder;
    /** The server root at the moment of "open". */
    std::function<std::string()> musicRoot;
    /** Shows a status word. */
    std::function<void(const std::string&)> report;
    /** Runs the callback once after the delay, from the program's event loop; the backend's
     * loop when not given. */
    std::function<void(std::chrono::milliseconds, std::function<void()>)> after;
};

/**
 * The MPD that "open" starts with a configuration written into the settings folder, when the
 * player location is the bare "mpd", MPD_HOST is not set, the user has no MPD configuration of
 * their own and no MPD answers. It listens only on a local socket in the settings folder, which
 * the backend tries first while MPD_HOST is not set.
 *
 * Only one such MPD ever runs: its pid file is read first, and while the MPD it names is alive,
 * that one is waited for and no other is started, nor is its socket removed.
 */
class ManagedMpd
{
public:
    using Done = std::function<void(std::int32_t)>;

    explicit ManagedMpd(ManagedMpdSetup setup);
    ~ManagedMpd();
    ManagedMpd(const ManagedMpd&) = delete;
    ManagedMpd& operator=(const ManagedMpd&) = delete;

    /** The local socket of this MPD while MPD_HOST is not set and the socket file exists. */
    std::optional<std::string> socketToTry() const;

    /**
     * Carries out "open" when this MPD is the one to open, and calls done once with the
     * answer: 0 when it answers and its database has caught up with the music root, or when it
     * is still starting or scanning at the limits (kStartLimit, kScanLimit; the status word says
     * so); -1 when it could not be started or ended meanwhile; kNotMine when another MPD at
     * MPD's default place greeted after a while. When it already answers, done is called at
     * once and nothing is started. The waiting runs on setup.after's timers, and no look at an
     * MPD holds the caller longer than a short connect, so done may come after this returns.
     * False, and done is not called, when "open" is not its business: another location,
     * MPD_HOST set, a configuration of the user's, or another MPD answering at once.
     */
    bool openThen(const std::string& playerLocation, Done done);

    /** The answer of openThen when "open" turned out not to be its business after all. */
    static constexpr std::int32_t kNotMine = -2;

    static constexpr std::chrono::seconds kStartLimit{5};
    static constexpr std::chrono::seconds kScanLimit{30};
    /** How often a waiting "open" looks at MPD again. */
    static constexpr std::chrono::milliseconds kPollInterval{20};

private:
    struct Startup;

    bool mayManage(const std::string& playerLocation) const;
    bool begin(const std::string& playerLocation, Done done);
    pid_t runningPid() const;
    bool startOwn(Startup& startup);
    std::optional<std::int32_t> lookElsewhere(Startup& startup);
    pid_t start(AudioOutput output);
    bool writeConfig(const std::string& text) const;
    std::optional<std::int32_t> step(Startup& startup);
    bool advance();
    void scheduleNext();
    void finish(std::int32_t answer);
    void report(const std::string& word) const;

    ManagedMpdSetup m_setup;
    ManagedMpdFiles m_files;
    std::unique_ptr<Startup> m_startup;
    /** Timers check it, so one that runs after this object is gone does nothing. */
    std::shared_ptr<bool> m_alive = std::make_shared<bool>(true);
};

} // namespace zelvor
