// SPDX-License-Identifier: MIT
#include "player/mpd/MpdBackend.h"

#include "player/mpd/MpdQueueLoader.h"
#include "player/PlayerText.h"
#include "player/ProgramLauncher.h"

#include <mpd/client.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <memory>

#include <sys/socket.h>

namespace zelvor {

namespace {

// "open" of Zelvor's own MPD looks at it again from the backend's loop unless told otherwise.
ManagedMpdSetup withLoopTimers(PlayerLoop& loop, ManagedMpdSetup setup)
{
    if (!setup.after)
        setup.after = [&loop](std::chrono::milliseconds delay, std::function<void()> callback) {
            loop.after(delay, std::move(callback));
        };
    return setup;
}

pid_t localPeer(int fd)
{
    sockaddr_storage address{};
    socklen_t addressLength = sizeof address;
    ucred peer{};
    socklen_t peerLength = sizeof peer;
    if (fd < 0 || ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &addressLength) != 0 ||
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

mpd_pair pairOf(const MpdPair& pair)
{
    return {pair.name.c_str(), pair.value.c_str()};
}

// Everything a status answer of MPD tells, read in one place by libmpdclient's own parser.
PlayerStatus statusOf(const std::vector<MpdPair>& pairs)
{
    PlayerStatus now;
    mpd_status* status = mpd_status_begin();
    if (status == nullptr)
        return now;
    for (const auto& pair : pairs) {
        const mpd_pair fed = pairOf(pair);
        mpd_status_feed(status, &fed);
    }
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
    mpd_status_free(status);
    return now;
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

// The entries of a queue listing: a song object per entry costs several times more than the
// few fields a title needs.
std::vector<QueueEntry> entriesOf(const std::vector<MpdPair>& pairs, std::uint32_t count)
{
    std::vector<QueueEntry> entries;
    std::optional<ListedEntry> listed;
    const auto finish = [&] {
        if (listed && entries.size() < count)
            entries.push_back(listed->entry());
    };
    for (const auto& pair : pairs) {
        if (pair.name == "file") {
            finish();
            listed = ListedEntry{pair.value, {}, {}, 0};
        } else if (listed && pair.name == "Artist" && listed->artist.empty()) {
            listed->artist = pair.value;
        } else if (listed && pair.name == "Title" && listed->title.empty()) {
            listed->title = pair.value;
        } else if (listed && pair.name == "Pos") {
            listed->position =
                static_cast<std::uint32_t>(std::strtoul(pair.value.c_str(), nullptr, 10));
        }
    }
    finish();
    return entries;
}

PlayerAnswer reachedOr(const MpdReply& reply, PlayerAnswer answer)
{
    return reply.reached ? std::move(answer) : PlayerAnswer::of(Outcome::NoPlayer);
}

} // namespace

MpdBackend::MpdBackend(PlayerLoop& loop, ManagedMpdSetup managed)
    : m_loop(loop), m_managed(withLoopTimers(loop, std::move(managed))),
      m_channel(loop, [this] { return m_managed.socketToTry(); })
{
    m_channel.onChange = [this] { m_watchers.notify(); };
}

MpdBackend::~MpdBackend()
{
    *m_alive = false;
}

void MpdBackend::beginCommandLine()
{
    m_channel.hold(true);
}

void MpdBackend::endCommandLine()
{
    m_channel.hold(false);
}

std::unique_ptr<PlayerWatch> MpdBackend::watchChanges(std::function<void()> changed)
{
    return m_watchers.add(std::move(changed));
}

void MpdBackend::simple(MpdCommand command, PlayerDone& done)
{
    m_channel.send({std::move(command)}, [done = std::move(done)](const MpdReply& reply) {
        done(reachedOr(reply, PlayerAnswer::of(Outcome::Done)));
    });
}

void MpdBackend::play(PlayerDone done)
{
    simple({"play"}, done);
}

void MpdBackend::stop(PlayerDone done)
{
    simple({"stop"}, done);
}

void MpdBackend::next(PlayerDone done)
{
    simple({"next"}, done);
}

void MpdBackend::previous(PlayerDone done)
{
    simple({"previous"}, done);
}

void MpdBackend::clear(PlayerDone done)
{
    simple({"clear"}, done);
}

// MPD moves the volume by at most 100 in one command, and keeps it within 0..100.
void MpdBackend::stepVolume(int steps, PlayerDone done)
{
    simple({"volume", std::to_string(std::clamp(steps, -100, 100))}, done);
}

// Reads the status, then sends what change makes of it (nothing: done as it is).
template <typename Change> void MpdBackend::afterStatus(Change change, PlayerDone& done)
{
    m_channel.send({{"status"}}, [this, change = std::move(change),
                                  done = std::move(done)](const MpdReply& reply) mutable {
        if (!reply.reached)
            return done(PlayerAnswer::of(Outcome::NoPlayer));
        const auto command = change(statusOf(reply.pairs));
        if (!command)
            return done(PlayerAnswer::of(Outcome::Done));
        simple(*command, done);
    });
}

// Pausing toggles between playing and paused; a stopped player stays stopped.
void MpdBackend::pause(PlayerDone done)
{
    afterStatus(
        [](const PlayerStatus& now) -> std::optional<MpdCommand> {
            if (now.state == PlayState::Stopped)
                return std::nullopt;
            return MpdCommand{"pause", now.state == PlayState::Playing ? "1" : "0"};
        },
        done);
}

void MpdBackend::toggleShuffle(PlayerDone done)
{
    afterStatus(
        [](const PlayerStatus& now) -> std::optional<MpdCommand> {
            return MpdCommand{"random", now.shuffle.value_or(false) ? "0" : "1"};
        },
        done);
}

void MpdBackend::toggleRepeat(PlayerDone done)
{
    afterStatus(
        [](const PlayerStatus& now) -> std::optional<MpdCommand> {
            return MpdCommand{"repeat", now.repeat.value_or(false) ? "0" : "1"};
        },
        done);
}

// MPD ends at once on "kill" and closes the connection without an answer.
// MPD versions without it answer "unknown command"; MPD's documented way then is SIGTERM, which
// reaches a daemon on the local socket through the peer's process id.
void MpdBackend::close(PlayerDone done)
{
    auto sent = std::make_shared<bool>(false);
    m_channel.send({{"kill"}}, [this, sent, done = std::move(done)](const MpdReply& reply) {
        const bool unknown = reply.refusal && reply.refusal->code == MPD_SERVER_ERROR_UNKNOWN_CMD;
        if (unknown) {
            if (const pid_t daemon = localPeer(m_channel.fd()); daemon > 0)
                ::kill(daemon, SIGTERM);
        }
        m_channel.close();
        // An MPD-protocol server may forbid "kill" (Mopidy): its reason goes to the client.
        if (reply.refusal && !unknown)
            return done({Outcome::Failed, reply.refusal->message, {}, {}});
        done(PlayerAnswer::of(*sent ? Outcome::Done : Outcome::NoPlayer));
    });
    // Once the command went out on a connection, a connection that ends is MPD ending.
    *sent = m_channel.isOpen();
}

void MpdBackend::add(const std::string& hostPath, PlayerDone done)
{
    MpdQueueLoader::load(m_channel, m_loop, hostPath,
                         [done = std::move(done)](const MpdQueueLoader::LoadOutcome& outcome) {
                             if (!outcome.reached)
                                 return done(PlayerAnswer::of(Outcome::NoPlayer));
                             // Nothing taken: the first refusal says why.
                             if (!outcome.added && !outcome.firstRefusal.empty())
                                 return done({Outcome::Failed, outcome.firstRefusal, {}, {}});
                             done(PlayerAnswer::of(Outcome::Done));
                         });
}

void MpdBackend::open(const std::string& location, PlayerDone done)
{
    // While the program started before runs, it is not started again.
    const auto launch = [this, location, done] {
        if (!programAlive(m_started))
            m_started = launchProgram(location);
        done(PlayerAnswer::of(m_started < 0 ? Outcome::Failed : Outcome::Done));
    };
    if (m_managed.openThen(location, [done, launch](std::int32_t result) {
            if (result == ManagedMpd::kNotMine)
                launch();
            else
                done(PlayerAnswer::of(result == -1 ? Outcome::Failed : Outcome::Done));
        }))
        return;
    launch();
}

PlayerStatus MpdBackend::statusFrom(const std::vector<MpdPair>& status,
                                    const std::vector<MpdPair>& song) const
{
    PlayerStatus now = statusOf(status);
    const auto version = m_channel.version();
    now.version = encodeVersion(version[0], version[1], version[2]);
    if (!song.empty() && song.front().name == "file") {
        const mpd_pair first = pairOf(song.front());
        if (mpd_song* parsed = mpd_song_begin(&first)) {
            for (std::size_t i = 1; i < song.size(); ++i) {
                const mpd_pair fed = pairOf(song[i]);
                if (!mpd_song_feed(parsed, &fed))
                    break;
            }
            now.title =
                displayTitle(mpd_song_get_tag(parsed, MPD_TAG_ARTIST, 0),
                             mpd_song_get_tag(parsed, MPD_TAG_TITLE, 0), mpd_song_get_uri(parsed));
            if (const unsigned duration = mpd_song_get_duration_ms(parsed); duration > 0)
                now.totalMs = duration;
            mpd_song_free(parsed);
        }
    }
    return now;
}

// One command list: the commands, then "status" and "currentsong", all in one round trip.
// When MPD refuses one of the commands it skips the rest of the list; the status is then asked
// on its own, and the answer is Failed where refusedFails is set.
void MpdBackend::statusAfter(std::vector<MpdCommand> commands, PlayerDone& done, bool refusedFails)
{
    const auto changes = commands.size();
    commands.push_back({"status"});
    commands.push_back({"currentsong"});
    m_channel.send(std::move(commands), [this, changes, refusedFails,
                                         done = std::move(done)](const MpdReply& reply) mutable {
        if (!reply.reached)
            return done(PlayerAnswer::of(Outcome::NoPlayer));
        const auto answers = answersOf(reply);
        if (!reply.refusal) {
            done(PlayerAnswer::with(statusFrom(answers.at(changes), answers.at(changes + 1))));
            return;
        }
        readStatus([refusedFails, done = std::move(done)](PlayerAnswer answer,
                                                          const std::vector<MpdPair>&) {
            done(refusedFails && answer.done() ? PlayerAnswer::of(Outcome::Failed)
                                               : std::move(answer));
        });
    });
}

void MpdBackend::readStatus(StatusRead then)
{
    m_channel.send({{"status"}, {"currentsong"}},
                   [this, then = std::move(then)](const MpdReply& reply) {
                       if (!reply.reached)
                           return then(PlayerAnswer::of(Outcome::NoPlayer), {});
                       const auto parts = answersOf(reply);
                       if (reply.refusal || parts.size() < 2)
                           return then(PlayerAnswer::of(Outcome::Failed), {});
                       then(PlayerAnswer::with(statusFrom(parts[0], parts[1])), parts[0]);
                   });
}

void MpdBackend::status(PlayerDone done)
{
    statusAfter({}, done);
}

void MpdBackend::queue(std::uint32_t first, std::uint32_t count, PlayerDone done)
{
    // A range past the end is refused, after the status has been answered.
    const std::string range =
        std::to_string(first) + ":" + std::to_string(std::uint64_t{first} + std::max(count, 1U));
    m_channel.send({{"status"}, {"playlistinfo", range}},
                   [count, done = std::move(done)](const MpdReply& reply) {
                       if (!reply.reached)
                           return done(PlayerAnswer::of(Outcome::NoPlayer));
                       const auto answers = answersOf(reply);
                       if (reply.refusal && reply.refusal->at == 0)
                           return done(PlayerAnswer::of(Outcome::Failed));
                       PlayerAnswer page = PlayerAnswer::with(statusOf(answers[0]));
                       if (!reply.refusal && answers.size() > 1)
                           page.entries = entriesOf(answers[1], count);
                       done(std::move(page));
                   });
}

namespace {

bool arrivedAt(const PlayerStatus& now, std::uint32_t position)
{
    return now.position == position || position >= now.queueLength;
}

} // namespace

void MpdBackend::jumpTo(std::uint32_t position, PlayerDone done)
{
    PlayerDone settled = [this, position, done = std::move(done)](PlayerAnswer answer) {
        if (!answer.done() || !answer.status || arrivedAt(*answer.status, position))
            return done(std::move(answer));
        settleOnEntry(position, std::chrono::steady_clock::now() + kSettleLimit, done);
    };
    statusAfter({{"play", std::to_string(position)}}, settled);
}

// Mopidy starts an entry a moment after it answered "play", so the status in the same command
// list still shows the entry from before. MPD's player events are waited for in "idle", at
// most until the deadline; then the entry asked for is the answer.
void MpdBackend::settleOnEntry(std::uint32_t position, std::chrono::steady_clock::time_point by,
                               PlayerDone done)
{
    const auto left =
        std::chrono::ceil<std::chrono::milliseconds>(by - std::chrono::steady_clock::now());
    const auto alive = m_alive;
    const auto timer = m_loop.after(std::max(left, std::chrono::milliseconds(0)), [this, alive] {
        if (*alive)
            m_channel.wake();
    });
    m_channel.idle("player", [this, position, by, timer, done](const MpdReply& woke) {
        m_loop.cancel(timer);
        if (!woke.reached)
            return done(PlayerAnswer::of(Outcome::NoPlayer));
        readStatus(
            [this, position, by, done](PlayerAnswer answer, const std::vector<MpdPair>& status) {
                if (!answer.status || arrivedAt(*answer.status, position))
                    return done(std::move(answer));
                if (std::chrono::steady_clock::now() < by)
                    return settleOnEntry(position, by, done);
                answerEntry(position, status, done);
            });
    });
}

// The entry asked for, from its start, as the player will show it once it plays it.
void MpdBackend::answerEntry(std::uint32_t position, const std::vector<MpdPair>& status,
                             const PlayerDone& done)
{
    m_channel.send({{"playlistinfo", std::to_string(position)}}, [this, position, status,
                                                                  done](const MpdReply& reply) {
        if (!reply.reached)
            return done(PlayerAnswer::of(Outcome::NoPlayer));
        auto now = statusFrom(status, reply.refusal ? std::vector<MpdPair>{} : reply.pairs);
        now.position = position;
        now.elapsedMs = 0;
        if (reply.refusal)
            now.totalMs.reset();
        done(PlayerAnswer::with(std::move(now)));
    });
}

void MpdBackend::setVolume(int percent, PlayerDone done)
{
    statusAfter({{"setvol", std::to_string(std::clamp(percent, 0, 100))}}, done);
}

// MPD's player seeks within the current song itself, also when its decoder has already moved
// on to the next one: it starts that song's decoder afresh, and the outputs stay open. MPD
// refuses a seek while stopped, or in a song it cannot seek in; that changes nothing.
void MpdBackend::seekTo(std::uint32_t milliseconds, PlayerDone done)
{
    char seconds[16];
    std::snprintf(seconds, sizeof seconds, "%u.%03u", milliseconds / 1000, milliseconds % 1000);
    statusAfter({{"seekcur", seconds}}, done, true);
}

} // namespace zelvor
