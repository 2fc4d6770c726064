// SPDX-License-Identifier: MIT
#pragma once

#include "player/mpd/ManagedMpdConfig.h"

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>

#include <sys/types.h>

struct mpd_connection;

namespace zelvor {

/** An open connection to the MPD at host (a socket path, a host name, or nullptr for
 * libmpdclient's own choice), or nullptr when none answered within the time. */
mpd_connection* connectMpd(const char* host, unsigned timeoutMs);

/** What Zelvor needs to run an MPD of its own. */
struct ManagedMpdSetup
{
    /** Zelvor's settings folder; empty means Zelvor never runs an MPD of its own. */
    std::filesystem::path settingsFolder;
    /** The server root at the moment of "open". */
    std::function<std::string()> musicRoot;
    /** Shows a status word. */
    std::function<void(const std::string&)> report;
};

/**
 * The MPD that "open" starts with a configuration written into the settings folder, when the
 * player location is the bare "mpd", MPD_HOST is not set, the user has no MPD configuration of
 * their own and no MPD answers. It listens only on a local socket in the settings folder, which
 * the backend tries first while MPD_HOST is not set.
 */
class ManagedMpd
{
public:
    explicit ManagedMpd(ManagedMpdSetup setup);

    /** The local socket of this MPD while MPD_HOST is not set and the socket file exists. */
    std::optional<std::string> socketToTry() const;

    /**
     * Carries out "open" when this MPD is the one to open: writes its configuration afresh,
     * starts it, waits until it answers and until its database has caught up with the music
     * root (each bounded), and answers 0, or -1 when it could not be started. When it already
     * runs, answers 0 and starts nothing. Nothing when "open" is not its business: another
     * location, MPD_HOST set, a configuration of the user's, or another MPD answering.
     */
    std::optional<std::int32_t> open(const std::string& playerLocation);

    static constexpr std::chrono::seconds kStartLimit{5};
    static constexpr std::chrono::seconds kScanLimit{30};

private:
    bool mayManage(const std::string& playerLocation) const;
    std::int32_t start();
    bool writeConfig(const std::string& text) const;
    mpd_connection* waitUntilAnswering(pid_t mpd) const;

    ManagedMpdSetup m_setup;
    ManagedMpdFiles m_files;
};

} // namespace zelvor
