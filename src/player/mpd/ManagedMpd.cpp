// SPDX-License-Identifier: MIT
#include "player/mpd/ManagedMpd.h"

#include "player/ProgramLauncher.h"
#include "settings/AtomicFile.h"

#include <mpd/client.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <limits>
#include <vector>

#include <pwd.h>
#include <signal.h>
#include <unistd.h>

namespace zelvor {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr unsigned kAnswerTimeoutMs = 2000;
constexpr unsigned kLookTimeoutMs = 30;
constexpr std::chrono::milliseconds kConnectInterval{250};

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

enum class Look
{
    Answers,
    Nothing,
    Silent
};

// One connect with a short wait for the greeting: an MPD that answers, nothing there, or
// something there that did not greet in time (busy, or stopped), to be looked at again later.
Look look(const char* host)
{
    mpd_connection* connection = mpd_connection_new(host, 0, kLookTimeoutMs);
    if (connection == nullptr)
        return Look::Nothing;
    const auto error = mpd_connection_get_error(connection);
    mpd_connection_free(connection);
    if (error == MPD_ERROR_SUCCESS)
        return Look::Answers;
    return error == MPD_ERROR_TIMEOUT ? Look::Silent : Look::Nothing;
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

// The MPD that the pid file names, while it runs on the configuration file given.
bool runsOnConfig(pid_t pid, const fs::path& config)
{
    if (pid <= 0 || processGone(pid))
        return false;
    std::ifstream in("/proc/" + std::to_string(pid) + "/cmdline", std::ios::binary);
    std::string arguments((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::replace(arguments.begin(), arguments.end(), '\0', '\n');
    return (arguments + "\n").find("\n" + config.string() + "\n") != std::string::npos;
}

// An open connection to the MPD at host (a socket path, a host name, or nullptr for
// libmpdclient's own choice), or nullptr when none answered within the time.
mpd_connection* connectMpd(const char* host, unsigned timeoutMs)
{
    mpd_connection* connection = mpd_connection_new(host, 0, timeoutMs);
    if (connection != nullptr && mpd_connection_get_error(connection) != MPD_ERROR_SUCCESS) {
        mpd_connection_free(connection);
        return nullptr;
    }
    return connection;
}

} // namespace

/** The waiting of one "open": while another MPD at MPD's default place may still greet, then
 * until this MPD answers, then until its scan is done. */
struct ManagedMpd::Startup
{
    /** Something at MPD's default place has not greeted yet: looked at again until deadline. */
    bool lookingElsewhere = false;
    pid_t pid = -1;
    /** Started by this "open", so its database is still to be filled. */
    bool started = false;
    AudioOutput output = AudioOutput::None;
    Clock::time_point deadline;
    Clock::time_point nextConnect;
    mpd_connection* connection = nullptr;
    /** MPD's number of the update job; 0 before it was asked for. */
    unsigned job = 0;
    std::vector<Done> waiting;

    ~Startup()
    {
        if (connection != nullptr)
            mpd_connection_free(connection);
    }
};

ManagedMpd::ManagedMpd(ManagedMpdSetup setup)
    : m_setup(std::move(setup)), m_files(m_setup.settingsFolder)
{}

ManagedMpd::~ManagedMpd() = default;

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

void ManagedMpd::report(const std::string& word) const
{
    if (m_setup.report)
        m_setup.report(word);
}

bool ManagedMpd::openThen(const std::string& playerLocation, Done done)
{
    const bool alreadyWaiting = m_startup != nullptr;
    if (!begin(playerLocation, std::move(done)))
        return false;
    if (m_startup && !alreadyWaiting)
        scheduleNext();
    return true;
}

// Decides what "open" does; done is called at once, or joins the waiting of m_startup.
bool ManagedMpd::begin(const std::string& playerLocation, Done done)
{
    if (!mayManage(playerLocation))
        return false;
    if (m_startup) {
        m_startup->waiting.push_back(std::move(done));
        return true;
    }
    std::error_code error;
    if (!fs::is_directory(m_setup.musicRoot(), error))
        report("music folder missing");
    // Every look here is short; one that does not settle it is repeated from the timers.
    if (const auto own = socketToTry(); own && look(own->c_str()) == Look::Answers) {
        done(0);
        return true;
    }
    auto startup = std::make_unique<Startup>();
    startup->pid = runningPid();
    if (startup->pid < 0) {
        const auto elsewhere = look(nullptr);
        if (elsewhere == Look::Answers)
            return false;
        if (elsewhere == Look::Silent) {
            startup->lookingElsewhere = true;
            startup->deadline = Clock::now() + std::chrono::milliseconds(kAnswerTimeoutMs);
            startup->nextConnect = Clock::now() + kConnectInterval;
            startup->waiting.push_back(std::move(done));
            m_startup = std::move(startup);
            return true;
        }
        if (!startOwn(*startup)) {
            done(-1);
            return true;
        }
    }
    startup->deadline = Clock::now() + kStartLimit;
    startup->waiting.push_back(std::move(done));
    m_startup = std::move(startup);
    report(m_startup->started ? "player scanning" : "player starting");
    return true;
}

bool ManagedMpd::startOwn(Startup& startup)
{
    startup.output = chooseAudioOutput(sessionSurroundings());
    startup.pid = start(startup.output);
    startup.started = true;
    return startup.pid >= 0;
}

// Another MPD at MPD's default place that greets in time is the one to open; else this one is
// started.
std::optional<std::int32_t> ManagedMpd::lookElsewhere(Startup& startup)
{
    if (Clock::now() < startup.nextConnect)
        return std::nullopt;
    const auto elsewhere = look(nullptr);
    if (elsewhere == Look::Answers)
        return kNotMine;
    if (elsewhere == Look::Silent && Clock::now() < startup.deadline) {
        startup.nextConnect = Clock::now() + kConnectInterval;
        return std::nullopt;
    }
    startup.lookingElsewhere = false;
    startup.nextConnect = {};
    if (!startOwn(startup))
        return -1;
    startup.deadline = Clock::now() + kStartLimit;
    report("player scanning");
    return std::nullopt;
}

pid_t ManagedMpd::runningPid() const
{
    std::ifstream in(m_files.pid);
    long pid = -1;
    if (!(in >> pid) || pid <= 0 || pid > std::numeric_limits<pid_t>::max())
        return -1;
    return runsOnConfig(static_cast<pid_t>(pid), m_files.config) ? static_cast<pid_t>(pid) : -1;
}

pid_t ManagedMpd::start(AudioOutput output)
{
    const auto text = managedMpdConfig(m_files, m_setup.musicRoot(), output);
    if (!text || !writeConfig(*text))
        return -1;
    // No MPD of this configuration runs: a socket file left behind is stale.
    std::error_code error;
    fs::remove(m_files.socket, error);
    return launchProgram("mpd", {"--no-daemon", m_files.config.string()});
}

// Replaced in one step, so MPD never reads half a file.
bool ManagedMpd::writeConfig(const std::string& text) const
{
    std::error_code error;
    // A folder of the user's keeps the mode the user gave it.
    if (fs::create_directories(m_setup.settingsFolder, error))
        fs::permissions(m_setup.settingsFolder, fs::perms::owner_all, error);
    return writeFileAtomically(m_files.config.string(), text);
}

// One look at the MPD being waited for; the answer once it is decided. Every look is a connect
// on the local socket or one "status" round trip, so the event loop never waits long.
std::optional<std::int32_t> ManagedMpd::step(Startup& startup)
{
    if (startup.lookingElsewhere)
        return lookElsewhere(startup);
    if (startup.connection == nullptr) {
        if (processGone(startup.pid))
            return -1;
        std::error_code error;
        // A starting MPD may take a while to greet: a later look tries again rather than
        // holding the event loop, and not at every look, so a stopped MPD is not left with a
        // pile of abandoned connections (it takes only so many).
        if (Clock::now() >= startup.nextConnect && fs::is_socket(m_files.socket, error)) {
            startup.connection = connectMpd(m_files.socket.c_str(), kLookTimeoutMs);
            startup.nextConnect = Clock::now() + kConnectInterval;
        }
        if (startup.connection != nullptr)
            mpd_connection_set_timeout(startup.connection, kAnswerTimeoutMs);
        if (startup.connection == nullptr) {
            if (Clock::now() < startup.deadline)
                return std::nullopt;
            report("player still starting");
            return 0;
        }
        // One that ran already has filled its database; ours must know the files before
        // "load" can add them by their place in it.
        if (!startup.started || (startup.job = mpd_run_update(startup.connection, nullptr)) == 0)
            return 0;
        startup.deadline = Clock::now() + kScanLimit;
        return std::nullopt;
    }
    mpd_status* status = mpd_run_status(startup.connection);
    if (status == nullptr)
        return processGone(startup.pid) ? -1 : 0;
    const unsigned running = mpd_status_get_update_id(status);
    mpd_status_free(status);
    // Jobs run in the order they were asked for; a later number means ours is done.
    if (running == 0 || running > startup.job)
        return 0;
    if (Clock::now() < startup.deadline)
        return std::nullopt;
    report("player still scanning");
    return 0;
}

// True once the waiting is over.
bool ManagedMpd::advance()
{
    if (!m_startup)
        return true;
    const auto answer = step(*m_startup);
    if (answer)
        finish(*answer);
    return answer.has_value();
}

void ManagedMpd::scheduleNext()
{
    m_setup.after(kPollInterval, [this, alive = std::weak_ptr<bool>(m_alive)] {
        if (!alive.expired() && !advance())
            scheduleNext();
    });
}

void ManagedMpd::finish(std::int32_t answer)
{
    const auto startup = std::move(m_startup);
    if (answer == 0 && startup->started)
        if (const auto word = audioOutputStatus(startup->output); !word.empty())
            report(std::string(word));
    for (const auto& done : startup->waiting)
        done(answer);
}

} // namespace zelvor
