// SPDX-License-Identifier: MIT
#include "player/mpd/MpdBackend.h"

#include "player/mpd/MpdMapping.h"
#include "player/mpd/MpdQueueLoader.h"
#include "player/ProgramLauncher.h"

#include <mpd/client.h>

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <cstdio>
#include <ctime>
#include <string_view>

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <pthread.h>
#include <sys/socket.h>

namespace zelvor {

namespace {

// libmpdclient writes without MSG_NOSIGNAL, so a write to an MPD that just went away would
// raise SIGPIPE and end the server. While an operation runs, SIGPIPE stays blocked in this
// thread and one raised by the operation is taken off again before it is unblocked.
class SigpipeGuard
{
public:
    SigpipeGuard()
    {
        sigemptyset(&m_pipe);
        sigaddset(&m_pipe, SIGPIPE);
        pthread_sigmask(SIG_BLOCK, &m_pipe, &m_previous);
        m_wasPending = pending();
    }
    ~SigpipeGuard()
    {
        if (!m_wasPending && pending()) {
            const timespec noWait{};
            sigtimedwait(&m_pipe, nullptr, &noWait);
        }
        pthread_sigmask(SIG_SETMASK, &m_previous, nullptr);
    }
    SigpipeGuard(const SigpipeGuard&) = delete;
    SigpipeGuard& operator=(const SigpipeGuard&) = delete;

private:
    static bool pending()
    {
        sigset_t set;
        sigpending(&set);
        return sigismember(&set, SIGPIPE) == 1;
    }

    sigset_t m_pipe{};
    sigset_t m_previous{};
    bool m_wasPending = false;
};

pid_t localPeer(int fd)
{
    sockaddr_storage address{};
    socklen_t addressLength = sizeof address;
    ucred peer{};
    socklen_t peerLength = sizeof peer;
    if (::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &addressLength) != 0 ||
        address.ss_family != AF_UNIX ||
        ::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &peerLength) != 0)
        return -1;
    return peer.pid;
}

PlayState playState(mpd_state state)
{
    switch (state) {
    case MPD_STATE_PLAY:
        return PlayState::Playing;
    case MPD_STATE_PAUSE:
        return PlayState::Paused;
    default:
        return PlayState::Stopped;
    }
}

std::string songTitle(const mpd_song* song)
{
    return displayTitle(mpd_song_get_tag(song, MPD_TAG_ARTIST, 0),
                        mpd_song_get_tag(song, MPD_TAG_TITLE, 0), mpd_song_get_uri(song));
}

// One entry of a queue listing as it arrives: only the fields a title is made of.
struct ListedEntry
{
    std::string file;
    std::string artist;
    std::string title;
    std::uint32_t position = 0;

    QueueEntry entry() const
    {
        return {position, displayTitle(artist.c_str(), title.c_str(), file)};
    }
};

std::int32_t playStateAnswer(mpd_state state)
{
    switch (state) {
    case MPD_STATE_PLAY:
        return 1;
    case MPD_STATE_PAUSE:
        return 3;
    default:
        return 0;
    }
}

} // namespace

MpdBackend::~MpdBackend()
{
    disconnect();
}

void MpdBackend::beginCommandLine()
{
    disconnect();
    m_inLine = true;
    m_lineFailed = false;
}

void MpdBackend::endCommandLine()
{
    disconnect();
    m_inLine = false;
    m_lineFailed = false;
}

// An operation outside a command line is a line of its own.
template <typename Work> std::int32_t MpdBackend::operate(Work&& work)
{
    const bool ownLine = !m_inLine;
    if (ownLine)
        beginCommandLine();
    std::int32_t answer = -1;
    {
        SigpipeGuard guard;
        if (connection() != nullptr) {
            const std::int32_t result = work();
            answer = usable() ? result : -1;
        }
    }
    if (ownLine)
        endCommandLine();
    return answer;
}

// True when MPD was reached and is still there after the work (an error reply included).
template <typename Work> bool MpdBackend::answered(Work&& work)
{
    return operate([this, &work] {
               m_snapshot.reset();
               work();
               return 0;
           }) != -1;
}

mpd_connection* MpdBackend::connection()
{
    if (m_connection != nullptr || m_lineFailed)
        return m_connection;
    if (const auto own = m_managed.socketToTry())
        m_connection = connectMpd(own->c_str(), kTimeoutMs);
    if (m_connection == nullptr)
        m_connection = connectMpd(nullptr, kTimeoutMs);
    m_lineFailed = m_connection == nullptr;
    if (m_connection != nullptr) {
        // A command list leaves in several writes and MPD answers only its end; without this,
        // Nagle's algorithm holds the last write back until MPD's delayed acknowledgement.
        const int on = 1;
        ::setsockopt(mpd_connection_get_fd(m_connection), IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    }
    return m_connection;
}

// An error reply still means MPD is there; anything else ends the connection and the line.
bool MpdBackend::usable()
{
    if (m_connection == nullptr)
        return !m_lineFailed;
    if (mpd_connection_get_error(m_connection) == MPD_ERROR_SUCCESS ||
        mpd_connection_clear_error(m_connection))
        return true;
    disconnect();
    m_lineFailed = true;
    return false;
}

void MpdBackend::disconnect()
{
    if (m_connection != nullptr)
        mpd_connection_free(m_connection);
    m_connection = nullptr;
    m_snapshot.reset();
}

// The queries of one line share one status: "status" asks for three of its fields in a row.
std::optional<MpdBackend::Snapshot> MpdBackend::snapshot()
{
    if (m_snapshot)
        return m_snapshot;
    mpd_status* status = mpd_run_status(m_connection);
    if (status == nullptr)
        return std::nullopt;
    m_snapshot = Snapshot{playStateAnswer(mpd_status_get_state(status)),
                          mpd_status_get_random(status), mpd_status_get_repeat(status)};
    mpd_status_free(status);
    return m_snapshot;
}

std::int32_t MpdBackend::WinampCommand(std::int32_t id)
{
    return operate([this, id] {
        m_snapshot.reset();
        runCommand(id);
        return 0;
    });
}

bool MpdBackend::runCommand(std::int32_t id)
{
    switch (id) {
    case kCmdPlay:
        return mpd_run_play(m_connection);
    case kCmdPause:
        return pauseOrResume();
    case kCmdStop:
        return mpd_run_stop(m_connection);
    case kCmdNext:
        return mpd_run_next(m_connection);
    case kCmdPrevious:
        return mpd_run_previous(m_connection);
    case kCmdToggleShuffle:
        return toggle(true);
    case kCmdToggleRepeat:
        return toggle(false);
    case kCmdVolumeUp:
        return mpd_run_change_volume(m_connection, 1);
    case kCmdVolumeDown:
        return mpd_run_change_volume(m_connection, -1);
    case kCmdClose:
        return closePlayer();
    default:
        return true;
    }
}

// Pausing toggles between playing and paused; a stopped player stays stopped.
bool MpdBackend::pauseOrResume()
{
    const auto now = snapshot();
    m_snapshot.reset();
    if (!now || now->state == 0)
        return now.has_value();
    return mpd_run_pause(m_connection, now->state == 1);
}

bool MpdBackend::toggle(bool random)
{
    const auto now = snapshot();
    m_snapshot.reset();
    if (!now)
        return false;
    return random ? mpd_run_random(m_connection, !now->random)
                  : mpd_run_repeat(m_connection, !now->repeat);
}

// MPD ends at once on "kill" and closes the connection without an answer.
// MPD versions without it answer "unknown command"; MPD's documented way then is SIGTERM, which
// reaches a daemon on the local socket through the peer's process id.
bool MpdBackend::closePlayer()
{
    if (!mpd_send_command(m_connection, "kill", nullptr))
        return false;
    mpd_response_finish(m_connection);
    if (mpd_connection_get_error(m_connection) == MPD_ERROR_SERVER &&
        mpd_connection_get_server_error(m_connection) == MPD_SERVER_ERROR_UNKNOWN_CMD) {
        if (const pid_t daemon = localPeer(mpd_connection_get_fd(m_connection)); daemon > 0)
            ::kill(daemon, SIGTERM);
        return true;
    }
    disconnect();
    return true;
}

std::int32_t MpdBackend::WinampQuery(std::int32_t /*data*/, std::int16_t id)
{
    return operate([this, id] { return query(id); });
}

std::int32_t MpdBackend::query(std::int16_t id)
{
    if (id == kQueryVersion) {
        const unsigned* version = mpd_connection_get_server_version(m_connection);
        return encodeMpdVersion(version[0], version[1], version[2]);
    }
    if (id == kQueryClearPlaylist) {
        m_snapshot.reset();
        mpd_run_clear(m_connection);
        return 0;
    }
    if (id != kQueryPlayState && id != kQueryShuffle && id != kQueryRepeat)
        return 0;
    const auto now = snapshot();
    if (!now)
        return 0;
    if (id == kQueryPlayState)
        return now->state;
    return (id == kQueryShuffle ? now->random : now->repeat) ? 1 : 0;
}

std::int32_t MpdBackend::WinampPlayFile(const std::string& path)
{
    return operate([this, &path] {
        m_snapshot.reset();
        MpdQueueLoader(m_connection).load(path);
        return 0;
    });
}

std::int32_t MpdBackend::LaunchWinamp(const std::string& path)
{
    if (const auto answer = m_managed.open(path))
        return *answer;
    return launchProgram(path) < 0 ? -1 : 0;
}

void MpdBackend::launchWinampThen(const std::string& path, std::function<void(std::int32_t)> done)
{
    if (!m_managed.openThen(path, done))
        done(launchProgram(path) < 0 ? -1 : 0);
}

// Reads the answers of "status" and "currentsong" at the end of a command list; the status
// also serves the line's later questions.
std::optional<PlayerStatus> MpdBackend::receiveStatus()
{
    mpd_status* status = mpd_recv_status(m_connection);
    if (status == nullptr)
        return std::nullopt;
    PlayerStatus now;
    now.state = playState(mpd_status_get_state(status));
    now.queueLength = mpd_status_get_queue_length(status);
    if (const int position = mpd_status_get_song_pos(status); position >= 0)
        now.position = static_cast<std::uint32_t>(position);
    now.elapsedMs = mpd_status_get_elapsed_ms(status);
    if (const unsigned total = mpd_status_get_total_time(status); total > 0)
        now.totalMs = total * 1000;
    if (const int volume = mpd_status_get_volume(status); volume >= 0)
        now.volume = volume;
    m_snapshot = Snapshot{playStateAnswer(mpd_status_get_state(status)),
                          mpd_status_get_random(status), mpd_status_get_repeat(status)};
    mpd_status_free(status);
    if (!mpd_response_next(m_connection))
        return std::nullopt;
    if (mpd_song* song = mpd_recv_song(m_connection)) {
        now.title = songTitle(song);
        if (const unsigned duration = mpd_song_get_duration_ms(song); duration > 0)
            now.totalMs = duration;
        mpd_song_free(song);
    }
    if (!mpd_response_finish(m_connection))
        return std::nullopt;
    return now;
}

// One command list: the commands that send() adds (it answers how many, or -1), then "status"
// and "currentsong", all in one round trip. When MPD refuses one of the commands it skips the
// rest of the list; the status is then asked on its own, and refused (when given) is set.
template <typename Send>
std::optional<PlayerStatus> MpdBackend::statusAfter(Send&& send, bool* refused)
{
    std::optional<PlayerStatus> result;
    const bool reached = answered([this, &send, &result, refused] {
        const auto askStatus = [this] {
            return mpd_send_status(m_connection) && mpd_send_current_song(m_connection) &&
                   mpd_command_list_end(m_connection);
        };
        if (!mpd_command_list_begin(m_connection, true))
            return;
        const int commands = send();
        if (commands < 0 || !askStatus())
            return;
        bool skipped = false;
        for (int i = 0; i < commands && !skipped; ++i)
            skipped = !mpd_response_next(m_connection);
        if (!skipped) {
            result = receiveStatus();
            return;
        }
        if (refused != nullptr)
            *refused = true;
        if (mpd_connection_get_error(m_connection) == MPD_ERROR_SERVER &&
            mpd_connection_clear_error(m_connection) &&
            mpd_command_list_begin(m_connection, true) && askStatus())
            result = receiveStatus();
    });
    return reached ? result : std::nullopt;
}

std::optional<PlayerStatus> MpdBackend::status()
{
    return statusAfter([] { return 0; });
}

// The entries of a queue listing, read pair by pair: a song object per entry costs several
// times more than the few fields a title needs.
void MpdBackend::receiveEntries(std::vector<QueueEntry>& entries, std::uint32_t count)
{
    std::optional<ListedEntry> listed;
    const auto finish = [&] {
        if (listed && entries.size() < count)
            entries.push_back(listed->entry());
    };
    while (mpd_pair* pair = mpd_recv_pair(m_connection)) {
        const std::string_view name = pair->name;
        if (name == "file") {
            finish();
            listed = ListedEntry{pair->value, {}, {}, 0};
        } else if (listed && name == "Artist" && listed->artist.empty()) {
            listed->artist = pair->value;
        } else if (listed && name == "Title" && listed->title.empty()) {
            listed->title = pair->value;
        } else if (listed && name == "Pos") {
            listed->position = static_cast<std::uint32_t>(std::strtoul(pair->value, nullptr, 10));
        }
        mpd_return_pair(m_connection, pair);
    }
    finish();
}

std::optional<QueuePage> MpdBackend::queue(std::uint32_t first, std::uint32_t count)
{
    std::optional<QueuePage> page;
    const bool reached = answered([this, &page, first, count] {
        // A range past the end is refused, after the status has been answered.
        if (!mpd_command_list_begin(m_connection, true) || !mpd_send_status(m_connection) ||
            !mpd_send_list_queue_range_meta(m_connection, first, first + std::max(count, 1U)) ||
            !mpd_command_list_end(m_connection))
            return;
        mpd_status* status = mpd_recv_status(m_connection);
        if (status == nullptr)
            return;
        QueuePage now;
        now.status.state = playState(mpd_status_get_state(status));
        now.status.queueLength = mpd_status_get_queue_length(status);
        if (const int position = mpd_status_get_song_pos(status); position >= 0)
            now.status.position = static_cast<std::uint32_t>(position);
        mpd_status_free(status);
        if (mpd_response_next(m_connection))
            receiveEntries(now.entries, count);
        mpd_response_finish(m_connection);
        page = std::move(now);
    });
    return reached ? page : std::nullopt;
}

std::optional<PlayerStatus> MpdBackend::jumpTo(std::uint32_t position)
{
    return statusAfter(
        [this, position] { return mpd_send_play_pos(m_connection, position) ? 1 : -1; });
}

std::optional<PlayerStatus> MpdBackend::setVolume(int percent)
{
    return statusAfter([this, percent] {
        const auto volume = static_cast<unsigned>(std::clamp(percent, 0, 100));
        return mpd_send_set_volume(m_connection, volume) ? 1 : -1;
    });
}

// MPD's player seeks within the current song itself, also when its decoder has already moved
// on to the next one: it starts that song's decoder afresh, and the outputs stay open.
std::optional<PlayerStatus> MpdBackend::seekTo(std::uint32_t milliseconds)
{
    char seconds[16];
    std::snprintf(seconds, sizeof seconds, "%u.%03u", milliseconds / 1000, milliseconds % 1000);
    bool refused = false;
    auto after = statusAfter(
        [this, &seconds] {
            return mpd_send_command(m_connection, "seekcur", seconds, nullptr) ? 1 : -1;
        },
        &refused);
    return refused ? std::nullopt : after;
}

} // namespace zelvor
