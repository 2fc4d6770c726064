// SPDX-License-Identifier: MIT
#include "player/mpd/ManagedMpd.h"

#include "player/ProgramLauncher.h"

#include <mpd/client.h>

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <thread>

#include <pwd.h>
#include <signal.h>
#include <unistd.h>

namespace zelvor {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr unsigned kAnswerTimeoutMs = 2000;

bool isSet(const char* name)
{
    const char* value = std::getenv(name);
    return value != nullptr && *value != '\0';
}

fs::path homeFolder()
{
    if (isSet("HOME"))
        return std::getenv("HOME");
    const passwd* user = ::getpwuid(::getuid());
    return user != nullptr ? fs::path(user->pw_dir) : fs::path();
}

fs::path configHome()
{
    return isSet("XDG_CONFIG_HOME") ? fs::path(std::getenv("XDG_CONFIG_HOME"))
                                    : homeFolder() / ".config";
}

AudioSurroundings sessionSurroundings()
{
    AudioSurroundings surroundings;
    if (isSet("XDG_RUNTIME_DIR"))
        surroundings.runtimeDir = std::getenv("XDG_RUNTIME_DIR");
    surroundings.pulseServerSet = isSet("PULSE_SERVER");
    return surroundings;
}

bool answers(const char* host)
{
    mpd_connection* connection = connectMpd(host, kAnswerTimeoutMs);
    if (connection == nullptr)
        return false;
    mpd_connection_free(connection);
    return true;
}

bool processGone(pid_t pid)
{
    if (::kill(pid, 0) != 0 && errno == ESRCH)
        return true;
    // Where nothing reaps orphans, an MPD that ended stays behind as a zombie.
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string text;
    std::getline(stat, text);
    const auto close = text.rfind(')');
    return close != std::string::npos && close + 2 < text.size() && text[close + 2] == 'Z';
}

std::chrono::milliseconds left(Clock::time_point deadline)
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
}

// Asks MPD to rescan its music directory and waits until that is done or the time is up;
// false when the time ran out or the connection failed.
bool updateDatabase(mpd_connection* connection, std::chrono::milliseconds limit)
{
    const auto deadline = Clock::now() + limit;
    const unsigned job = mpd_run_update(connection, nullptr);
    if (job == 0)
        return false;
    while (left(deadline).count() > 0) {
        mpd_status* status = mpd_run_status(connection);
        if (status == nullptr)
            return false;
        const unsigned running = mpd_status_get_update_id(status);
        mpd_status_free(status);
        // Jobs run in the order they were asked for; a later number means ours is done.
        if (running == 0 || running > job)
            return true;
        mpd_connection_set_timeout(connection, static_cast<unsigned>(left(deadline).count()) + 1);
        if (mpd_run_idle_mask(connection, MPD_IDLE_UPDATE) == 0)
            return false;
    }
    return false;
}

} // namespace

mpd_connection* connectMpd(const char* host, unsigned timeoutMs)
{
    mpd_connection* connection = mpd_connection_new(host, 0, timeoutMs);
    if (connection != nullptr && mpd_connection_get_error(connection) != MPD_ERROR_SUCCESS) {
        mpd_connection_free(connection);
        return nullptr;
    }
    return connection;
}

ManagedMpd::ManagedMpd(ManagedMpdSetup setup)
    : m_setup(std::move(setup)), m_files(m_setup.settingsFolder)
{}

std::optional<std::string> ManagedMpd::socketToTry() const
{
    std::error_code error;
    if (m_setup.settingsFolder.empty() || isSet("MPD_HOST") ||
        !fs::is_socket(m_files.socket, error))
        return std::nullopt;
    return m_files.socket.string();
}

bool ManagedMpd::mayManage(const std::string& playerLocation) const
{
    return !m_setup.settingsFolder.empty() && !isSet("MPD_HOST") &&
           wantsManagedMpd(playerLocation, configHome(), homeFolder());
}

std::optional<std::int32_t> ManagedMpd::open(const std::string& playerLocation)
{
    if (!mayManage(playerLocation))
        return std::nullopt;
    if (const auto own = socketToTry(); own && answers(own->c_str()))
        return 0;
    if (answers(nullptr))
        return std::nullopt;
    return start();
}

std::int32_t ManagedMpd::start()
{
    const AudioOutput output = chooseAudioOutput(sessionSurroundings());
    const auto text = managedMpdConfig(m_files, m_setup.musicRoot(), output);
    if (!text || !writeConfig(*text))
        return -1;
    std::error_code error;
    fs::remove(m_files.socket, error);
    const pid_t mpd = launchProgram("mpd", {"--no-daemon", m_files.config.string()});
    if (mpd < 0)
        return -1;
    mpd_connection* connection = waitUntilAnswering(mpd);
    if (connection == nullptr)
        return -1;
    // MPD's database must know the files before "load" can add them by their place in it.
    const bool scanned = updateDatabase(connection, kScanLimit);
    mpd_connection_free(connection);
    if (!scanned && processGone(mpd))
        return -1;
    if (!scanned && m_setup.report)
        m_setup.report("player still scanning");
    if (const auto word = audioOutputStatus(output); !word.empty() && m_setup.report)
        m_setup.report(std::string(word));
    return 0;
}

// Written next to its place and renamed over it, so MPD never reads half a file.
bool ManagedMpd::writeConfig(const std::string& text) const
{
    std::error_code error;
    fs::create_directories(m_setup.settingsFolder, error);
    fs::permissions(m_setup.settingsFolder, fs::perms::owner_all, error);
    const fs::path written = m_files.config.string() + ".new";
    {
        std::ofstream out(written, std::ios::binary | std::ios::trunc);
        out << text;
        out.flush();
        if (!out)
            return false;
    }
    fs::rename(written, m_files.config, error);
    if (!error)
        return true;
    fs::remove(written, error);
    return false;
}

mpd_connection* ManagedMpd::waitUntilAnswering(pid_t mpd) const
{
    const auto deadline = Clock::now() + kStartLimit;
    const std::string socket = m_files.socket.string();
    while (Clock::now() < deadline && !processGone(mpd)) {
        std::error_code error;
        if (fs::is_socket(m_files.socket, error))
            if (mpd_connection* connection = connectMpd(socket.c_str(), kAnswerTimeoutMs))
                return connection;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return nullptr;
}

} // namespace zelvor
