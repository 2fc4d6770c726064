// SPDX-License-Identifier: MIT
#include "player/mpd/MpdBackend.h"

#include "player/mpd/MpdMapping.h"
#include "player/mpd/MpdQueueLoader.h"
#include "player/PlayerText.h"
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
#include <poll.h>
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

// Everything a status answer of MPD tells, read in one place.
PlayerStatus statusOf(const mpd_status* status)
{
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
    now.shuffle = mpd_status_get_random(status);
    now.repeat = mpd_status_get_repeat(status);
    return now;
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

PlayerAnswer finished()
{
    return PlayerAnswer::of(Outcome::Done);
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
}

void MpdBackend::endCommandLine()
{
    disconnect();
    m_inLine = false;
}

// Runs work() on a connection and hands its answer on; NoPlayer when MPD could not be reached or
// the connection broke or timed out meanwhile. An operation outside a command line is a line of
// its own.
template <typename Work> void MpdBackend::operate(Work&& work, PlayerDone& done)
{
    const bool ownLine = !m_inLine;
    if (ownLine)
        beginCommandLine();
    PlayerAnswer answer = PlayerAnswer::of(Outcome::NoPlayer);
    {
        SigpipeGuard guard;
        if (connection() != nullptr) {
            PlayerAnswer result = work();
            if (usable())
                answer = std::move(result);
        }
    }
    if (ownLine)
        endCommandLine();
    done(std::move(answer));
}

mpd_connection* MpdBackend::connection()
{
    if (m_connection != nullptr)
        return m_connection;
    if (const auto own = m_managed.socketToTry())
        m_connection = connectMpd(own->c_str(), kTimeoutMs);
    if (m_connection == nullptr)
        m_connection = connectMpd(nullptr, kTimeoutMs);
    if (m_connection != nullptr) {
        // A command list leaves in several writes and MPD answers only its end; without this,
        // Nagle's algorithm holds the last write back until MPD's delayed acknowledgement.
        const int on = 1;
        ::setsockopt(mpd_connection_get_fd(m_connection), IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    }
    return m_connection;
}

// An error reply still means MPD is there; anything else ends the connection.
bool MpdBackend::usable()
{
    if (m_connection == nullptr)
        return false;
    if (mpd_connection_get_error(m_connection) == MPD_ERROR_SUCCESS ||
        mpd_connection_clear_error(m_connection))
        return true;
    disconnect();
    return false;
}

void MpdBackend::disconnect()
{
    if (m_connection != nullptr)
        mpd_connection_free(m_connection);
    m_connection = nullptr;
}

std::optional<PlayerStatus> MpdBackend::currentStatus()
{
    mpd_status* status = mpd_run_status(m_connection);
    if (status == nullptr)
        return std::nullopt;
    auto now = statusOf(status);
    mpd_status_free(status);
    return now;
}

template <typename Run> void MpdBackend::simple(Run&& run, PlayerDone& done)
{
    operate(
        [this, &run] {
            run(m_connection);
            return finished();
        },
        done);
}

void MpdBackend::play(PlayerDone done)
{
    simple(mpd_run_play, done);
}

void MpdBackend::stop(PlayerDone done)
{
    simple(mpd_run_stop, done);
}

void MpdBackend::next(PlayerDone done)
{
    simple(mpd_run_next, done);
}

void MpdBackend::previous(PlayerDone done)
{
    simple(mpd_run_previous, done);
}

void MpdBackend::clear(PlayerDone done)
{
    simple(mpd_run_clear, done);
}

void MpdBackend::stepVolume(int direction, PlayerDone done)
{
    simple(
        [direction](mpd_connection* c) { return mpd_run_change_volume(c, direction < 0 ? -1 : 1); },
        done);
}

// Pausing toggles between playing and paused; a stopped player stays stopped.
void MpdBackend::pause(PlayerDone done)
{
    operate(
        [this] {
            const auto now = currentStatus();
            if (now && now->state != PlayState::Stopped)
                mpd_run_pause(m_connection, now->state == PlayState::Playing);
            return finished();
        },
        done);
}

void MpdBackend::toggleShuffle(PlayerDone done)
{
    operate(
        [this] {
            if (const auto now = currentStatus())
                mpd_run_random(m_connection, !now->shuffle.value_or(false));
            return finished();
        },
        done);
}

void MpdBackend::toggleRepeat(PlayerDone done)
{
    operate(
        [this] {
            if (const auto now = currentStatus())
                mpd_run_repeat(m_connection, !now->repeat.value_or(false));
            return finished();
        },
        done);
}

// MPD ends at once on "kill" and closes the connection without an answer.
// MPD versions without it answer "unknown command"; MPD's documented way then is SIGTERM, which
// reaches a daemon on the local socket through the peer's process id.
void MpdBackend::close(PlayerDone done)
{
    const bool ownLine = !m_inLine;
    if (ownLine)
        beginCommandLine();
    bool reached = false;
    // An MPD-protocol server may forbid "kill" (Mopidy): its reason goes to the client.
    std::string refusal;
    {
        SigpipeGuard guard;
        if (connection() != nullptr && mpd_send_command(m_connection, "kill", nullptr)) {
            reached = true;
            mpd_response_finish(m_connection);
            const bool refused = mpd_connection_get_error(m_connection) == MPD_ERROR_SERVER;
            if (refused &&
                mpd_connection_get_server_error(m_connection) == MPD_SERVER_ERROR_UNKNOWN_CMD) {
                if (const pid_t daemon = localPeer(mpd_connection_get_fd(m_connection)); daemon > 0)
                    ::kill(daemon, SIGTERM);
            } else if (refused) {
                refusal = mpd_connection_get_error_message(m_connection);
            }
        }
        disconnect();
    }
    if (ownLine)
        endCommandLine();
    if (!refusal.empty())
        done({Outcome::Failed, refusal, {}, {}});
    else
        done(PlayerAnswer::of(reached ? Outcome::Done : Outcome::NoPlayer));
}

void MpdBackend::add(const std::string& hostPath, PlayerDone done)
{
    operate(
        [this, &hostPath] {
            MpdQueueLoader loader(m_connection);
            loader.load(hostPath);
            // Nothing taken: the first refusal says why.
            if (!loader.addedAny() && !loader.firstRefusal().empty())
                return PlayerAnswer{Outcome::Failed, loader.firstRefusal(), {}, {}};
            return finished();
        },
        done);
}

namespace {

PlayerAnswer launchAnswer(std::int32_t answer)
{
    return PlayerAnswer::of(answer == -1 ? Outcome::Failed : Outcome::Done);
}

} // namespace

void MpdBackend::open(const std::string& location, PlayerDone done)
{
    if (m_managed.openThen(location, [done](std::int32_t answer) { done(launchAnswer(answer)); }))
        return;
    // While the program started before runs, it is not started again.
    if (!programAlive(m_started))
        m_started = launchProgram(location);
    done(launchAnswer(m_started < 0 ? -1 : 0));
}

// Reads the answers of "status" and "currentsong" at the end of a command list.
std::optional<PlayerStatus> MpdBackend::receiveStatus()
{
    mpd_status* status = mpd_recv_status(m_connection);
    if (status == nullptr)
        return std::nullopt;
    PlayerStatus now = statusOf(status);
    mpd_status_free(status);
    const unsigned* version = mpd_connection_get_server_version(m_connection);
    now.version = encodeVersion(version[0], version[1], version[2]);
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
// rest of the list; the status is then asked on its own, and the answer is Failed where
// refusedFails is set.
template <typename Send>
void MpdBackend::statusAfter(Send&& send, PlayerDone& done, bool refusedFails)
{
    operate(
        [this, &send, refusedFails] {
            std::optional<PlayerStatus> result;
            const auto askStatus = [this] {
                return mpd_send_status(m_connection) && mpd_send_current_song(m_connection) &&
                       mpd_command_list_end(m_connection);
            };
            const auto answer = [&result] {
                return result ? PlayerAnswer::with(std::move(*result))
                              : PlayerAnswer::of(Outcome::Failed);
            };
            if (!mpd_command_list_begin(m_connection, true))
                return answer();
            const int commands = send();
            if (commands < 0 || !askStatus())
                return answer();
            bool skipped = false;
            for (int i = 0; i < commands && !skipped; ++i)
                skipped = !mpd_response_next(m_connection);
            if (!skipped) {
                result = receiveStatus();
                return answer();
            }
            if (mpd_connection_get_error(m_connection) == MPD_ERROR_SERVER &&
                mpd_connection_clear_error(m_connection) &&
                mpd_command_list_begin(m_connection, true) && askStatus())
                result = receiveStatus();
            if (refusedFails)
                result.reset();
            return answer();
        },
        done);
}

void MpdBackend::status(PlayerDone done)
{
    statusAfter([] { return 0; }, done);
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

void MpdBackend::queue(std::uint32_t first, std::uint32_t count, PlayerDone done)
{
    operate(
        [this, first, count] {
            // A range past the end is refused, after the status has been answered.
            if (!mpd_command_list_begin(m_connection, true) || !mpd_send_status(m_connection) ||
                !mpd_send_list_queue_range_meta(m_connection, first, first + std::max(count, 1U)) ||
                !mpd_command_list_end(m_connection))
                return PlayerAnswer::of(Outcome::Failed);
            mpd_status* status = mpd_recv_status(m_connection);
            if (status == nullptr)
                return PlayerAnswer::of(Outcome::Failed);
            PlayerAnswer page = PlayerAnswer::with(statusOf(status));
            mpd_status_free(status);
            if (mpd_response_next(m_connection))
                receiveEntries(page.entries, count);
            mpd_response_finish(m_connection);
            return page;
        },
        done);
}

void MpdBackend::jumpTo(std::uint32_t position, PlayerDone done)
{
    // The line's connection stays open for the wait (see settleOnEntry).
    const bool ownLine = !m_inLine;
    if (ownLine)
        beginCommandLine();
    PlayerDone settled = [this, position, &done](PlayerAnswer answer) {
        if (answer.done() && answer.status && m_connection != nullptr) {
            SigpipeGuard guard;
            settleOnEntry(position, *answer.status);
            if (!usable())
                answer = PlayerAnswer::of(Outcome::NoPlayer);
        }
        done(std::move(answer));
    };
    statusAfter([this, position] { return mpd_send_play_pos(m_connection, position) ? 1 : -1; },
                settled);
    if (ownLine)
        endCommandLine();
}

// Mopidy starts an entry a moment after it answered "play", so the status in the same command
// list still shows the entry from before. MPD's player events are waited for, at most
// kSettleLimit in all; then the entry asked for is the answer.
void MpdBackend::settleOnEntry(std::uint32_t position, PlayerStatus& now)
{
    const auto deadline = std::chrono::steady_clock::now() + kSettleLimit;
    const auto arrived = [&now, position] {
        return now.position == position || position >= now.queueLength;
    };
    while (!arrived()) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0 || !awaitPlayerEvent(left))
            break;
        if (!mpd_command_list_begin(m_connection, true) || !mpd_send_status(m_connection) ||
            !mpd_send_current_song(m_connection) || !mpd_command_list_end(m_connection))
            return;
        auto fresh = receiveStatus();
        if (!fresh)
            return;
        now = std::move(*fresh);
    }
    if (arrived())
        return;
    now.position = position;
    now.elapsedMs = 0;
    now.totalMs.reset();
    if (mpd_song* song = mpd_run_get_queue_song_pos(m_connection, position)) {
        now.title = songTitle(song);
        if (const unsigned duration = mpd_song_get_duration_ms(song); duration > 0)
            now.totalMs = duration;
        mpd_song_free(song);
    }
}

// True when MPD told of a change of its player within the limit ("idle player").
bool MpdBackend::awaitPlayerEvent(std::chrono::milliseconds limit)
{
    if (!mpd_send_idle_mask(m_connection, MPD_IDLE_PLAYER))
        return false;
    pollfd ready{mpd_connection_get_fd(m_connection), POLLIN, 0};
    const bool came = ::poll(&ready, 1, static_cast<int>(limit.count())) > 0;
    if (!came)
        mpd_send_noidle(m_connection);
    const auto events = mpd_recv_idle(m_connection, false);
    return came && events != 0 && usable();
}

void MpdBackend::setVolume(int percent, PlayerDone done)
{
    statusAfter(
        [this, percent] {
            const auto volume = static_cast<unsigned>(std::clamp(percent, 0, 100));
            return mpd_send_set_volume(m_connection, volume) ? 1 : -1;
        },
        done);
}

// MPD's player seeks within the current song itself, also when its decoder has already moved
// on to the next one: it starts that song's decoder afresh, and the outputs stay open. MPD
// refuses a seek while stopped, or in a song it cannot seek in; that changes nothing.
void MpdBackend::seekTo(std::uint32_t milliseconds, PlayerDone done)
{
    char seconds[16];
    std::snprintf(seconds, sizeof seconds, "%u.%03u", milliseconds / 1000, milliseconds % 1000);
    statusAfter(
        [this, &seconds] {
            return mpd_send_command(m_connection, "seekcur", seconds, nullptr) ? 1 : -1;
        },
        done, true);
}

} // namespace zelvor
