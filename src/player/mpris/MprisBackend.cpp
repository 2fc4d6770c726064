// SPDX-License-Identifier: MIT
#include "player/mpris/MprisBackend.h"

#include "player/mpris/MprisMessages.h"
#include "player/PlayerText.h"
#include "player/ProgramLauncher.h"

#include <systemd/sd-bus.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string_view>
#include <utility>

#include <poll.h>
#include <signal.h>
#include <time.h>

namespace zelvor {

namespace {

constexpr const char* kObject = "/org/mpris/MediaPlayer2";
constexpr const char* kRoot = "org.mpris.MediaPlayer2";
constexpr const char* kPlayerInterface = "org.mpris.MediaPlayer2.Player";
constexpr const char* kTrackList = "org.mpris.MediaPlayer2.TrackList";
constexpr const char* kProperties = "org.freedesktop.DBus.Properties";
constexpr const char* kNoTrack = "/org/mpris/MediaPlayer2/TrackList/NoTrack";
constexpr std::uint64_t kTimeoutUs =
    std::chrono::duration_cast<std::chrono::microseconds>(MprisBackend::kTimeout).count();

PlayState playState(std::string_view status)
{
    if (status == "Playing")
        return PlayState::Playing;
    return status == "Paused" ? PlayState::Paused : PlayState::Stopped;
}

// What the steps below answer: the player's absence, what it does not offer, or done.
constexpr std::int32_t kGone = -1;
constexpr std::int32_t kNotOffered = -2;

PlayerAnswer answerOf(std::int32_t code)
{
    if (code == kGone)
        return PlayerAnswer::of(Outcome::NoPlayer);
    return PlayerAnswer::of(code == kNotOffered ? Outcome::NotOffered : Outcome::Done);
}

std::uint64_t monotonicNowUs()
{
    timespec now{};
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<std::uint64_t>(now.tv_sec) * 1'000'000 +
           static_cast<std::uint64_t>(now.tv_nsec) / 1000;
}

std::uint32_t milliseconds(std::int64_t microseconds)
{
    return static_cast<std::uint32_t>(std::clamp<std::int64_t>(microseconds / 1000, 0, UINT32_MAX));
}

} // namespace

void MprisBackend::MessageUnref::operator()(sd_bus_message* message) const
{
    sd_bus_message_unref(message);
}

/** A call on the bus awaiting its reply. */
struct MprisBackend::Pending
{
    MprisBackend* self = nullptr;
    std::uint64_t id = 0;
    sd_bus_slot* slot = nullptr;
    Then then;
};

/** One operation: its answer, and what it found out on the way. */
struct MprisBackend::Operation
{
    PlayerDone done;
    std::uint64_t line = 0;
    std::string player;
    std::optional<Snapshot> snapshot;
    std::optional<Abilities> abilities;
    bool ended = false;
};

/** An open waiting for its player to take its name on the bus. */
struct MprisBackend::Start
{
    Op op;
    std::string name;
    PlayerLoop::Id timer = 0;
};

MprisBackend::MprisBackend(PlayerLoop& loop, MprisSetup setup)
    : m_loop(loop), m_setup(std::move(setup))
{
    m_watchers.onWatched = [this](bool watched) { watchSignals(watched); };
}

MprisBackend::~MprisBackend()
{
    // Unanswered operations are dropped with the backend: nobody is left to hear them.
    for (auto& [id, pending] : m_pending)
        sd_bus_slot_unref(pending->slot);
    m_pending.clear();
    for (const auto& start : m_starting)
        m_loop.cancel(start->timer);
    m_starting.clear();
    m_loop.unwatch(m_watch);
    m_loop.cancel(m_timer);
    m_watchers.onWatched = nullptr;
    watchSignals(false);
    sd_bus_slot_unref(m_ownerMatch);
    if (m_bus != nullptr)
        sd_bus_flush_close_unref(m_bus);
}

void MprisBackend::beginCommandLine()
{
    ++m_line;
    m_inLine = true;
    m_linePlayer.reset();
    m_lineAbilities.reset();
    m_lineVolume.reset();
}

void MprisBackend::endCommandLine()
{
    ++m_line;
    m_inLine = false;
    m_linePlayer.reset();
    m_lineAbilities.reset();
    m_lineVolume.reset();
}

// An operation outside a command line is a line of its own.
MprisBackend::Op MprisBackend::begin(PlayerDone done)
{
    auto op = std::make_shared<Operation>();
    op->done = std::move(done);
    op->line = m_inLine ? m_line : 0;
    if (op->line != 0)
        op->abilities = m_lineAbilities;
    return op;
}

void MprisBackend::end(const Op& op, PlayerAnswer answer)
{
    if (op->ended)
        return;
    op->ended = true;
    const auto done = std::move(op->done);
    done(std::move(answer));
}

void MprisBackend::finish(const Op& op, std::int32_t code)
{
    end(op, answerOf(code));
}

// --- The bus on the event loop ---

bool MprisBackend::openBus()
{
    if (m_bus != nullptr && sd_bus_is_open(m_bus) > 0)
        return true;
    // A bus that closed is replaced at the next operation, never from within its own dispatch.
    if (m_processing)
        return false;
    closeBus();
    // Someone told of the old connection's end may have opened the new one already.
    if (m_bus != nullptr)
        return sd_bus_is_open(m_bus) > 0;
    sd_bus* opened = nullptr;
    if (sd_bus_open_user(&opened) < 0) {
        if (!m_toldNoBus && m_setup.report)
            m_setup.report("No session bus: MPRIS players cannot be reached");
        m_toldNoBus = true;
        return false;
    }
    m_toldNoBus = false;
    m_bus = opened;
    sd_bus_match_signal_async(m_bus, &m_ownerMatch, "org.freedesktop.DBus", "/org/freedesktop/DBus",
                              "org.freedesktop.DBus", "NameOwnerChanged",
                              &MprisBackend::onOwnerChanged, nullptr, this);
    m_watch = m_loop.watch(sd_bus_get_fd(m_bus), true, false, [this] { onBusReady(); });
    if (!m_watchers.empty())
        watchSignals(true);
    rearm();
    return true;
}

void MprisBackend::closeBus()
{
    m_loop.unwatch(m_watch);
    m_loop.cancel(m_timer);
    m_watch = m_timer = 0;
    m_timerAt = 0;
    m_ownerMatch = sd_bus_slot_unref(m_ownerMatch);
    m_propertiesMatch = sd_bus_slot_unref(m_propertiesMatch);
    m_seekedMatch = sd_bus_slot_unref(m_seekedMatch);
    auto pending = std::move(m_pending);
    m_pending.clear();
    for (auto& [id, call] : pending)
        sd_bus_slot_unref(call->slot);
    if (m_bus != nullptr)
        m_bus = sd_bus_flush_close_unref(m_bus);
    m_names.clear();
    m_namesKnown = m_listing = false;
    // Whoever waited on the old connection hears that its player is gone.
    for (auto& [id, call] : pending)
        if (call->then)
            call->then(Answer{nullptr, false, true, {}, {}});
    for (auto& waiting : std::exchange(m_namesWaiting, {}))
        waiting();
}

// The loop watches what the bus waits for: its descriptor, and the earliest call's time limit.
void MprisBackend::rearm()
{
    if (m_bus == nullptr)
        return;
    if (sd_bus_is_open(m_bus) <= 0) {
        // A closed connection's descriptor would be ready for ever. The calls still waiting on
        // a closing one are answered by its last dispatch.
        m_loop.unwatch(m_watch);
        m_loop.cancel(m_timer);
        m_watch = m_timer = 0;
        if (!m_pending.empty())
            m_timer = m_loop.after(std::chrono::milliseconds(0), [this] {
                m_timer = 0;
                onBusReady();
            });
        return;
    }
    const int events = sd_bus_get_events(m_bus);
    m_loop.rewatch(m_watch, events < 0 || (events & POLLIN) != 0,
                   events > 0 && (events & POLLOUT) != 0);
    std::uint64_t at = UINT64_MAX;
    if (sd_bus_get_timeout(m_bus, &at) < 0)
        at = UINT64_MAX;
    if (at == m_timerAt && m_timer != 0)
        return;
    m_loop.cancel(m_timer);
    m_timer = 0;
    m_timerAt = at;
    if (at == UINT64_MAX)
        return;
    const auto now = monotonicNowUs();
    const auto delay = std::chrono::milliseconds(at > now ? (at - now + 999) / 1000 : 0);
    m_timer = m_loop.after(delay, [this] {
        m_timer = 0;
        onBusReady();
    });
}

void MprisBackend::onBusReady()
{
    if (m_bus == nullptr || m_processing)
        return;
    m_processing = true;
    while (sd_bus_process(m_bus, nullptr) > 0) {
    }
    m_processing = false;
    rearm();
}

int MprisBackend::onReply(sd_bus_message* reply, void* data, sd_bus_error*)
{
    auto* pending = static_cast<Pending*>(data);
    MprisBackend& self = *pending->self;
    const auto found = self.m_pending.find(pending->id);
    if (found == self.m_pending.end())
        return 0;
    Then then = std::move(found->second->then);
    sd_bus_slot* slot = found->second->slot;
    self.m_pending.erase(found);
    sd_bus_slot_unref(slot);
    Answer answer;
    if (sd_bus_message_is_method_error(reply, nullptr)) {
        const sd_bus_error* error = sd_bus_message_get_error(reply);
        answer.gone = playerGone(error != nullptr ? error->name : nullptr);
        answer.refused = !answer.gone;
        if (error != nullptr && error->name != nullptr) {
            answer.error = error->name;
            answer.reason = error->message != nullptr ? error->message : error->name;
        }
    } else {
        answer.reply = Message(sd_bus_message_ref(reply));
    }
    then(std::move(answer));
    return 0;
}

int MprisBackend::onOwnerChanged(sd_bus_message* signal, void* data, sd_bus_error*)
{
    auto& self = *static_cast<MprisBackend*>(data);
    const char* name = nullptr;
    const char* before = nullptr;
    const char* after = nullptr;
    if (sd_bus_message_read(signal, "sss", &name, &before, &after) < 0 ||
        !mprisNameMatches(name, {}))
        return 0;
    if (after[0] == '\0') {
        self.m_names.erase(name);
    } else {
        self.m_names.insert(name);
        self.started(name);
    }
    self.m_watchers.notify();
    return 0;
}

MprisBackend::Message MprisBackend::request(const char* destination, const char* interface,
                                            const char* member)
{
    sd_bus_message* made = nullptr;
    if (m_bus == nullptr ||
        sd_bus_message_new_method_call(m_bus, &made, destination, kObject, interface, member) < 0)
        return nullptr;
    return Message(made);
}

// Sends the call; its answer comes from the loop. Unless told otherwise, an answer that the
// player is gone ends the operation with NoPlayer, and the rest of it is not asked.
void MprisBackend::send(const Op& op, Message request, Then then, bool goneEnds)
{
    Then answered = std::move(then);
    if (op && goneEnds)
        answered = [this, op, then = std::move(answered)](Answer answer) {
            if (op->ended)
                return;
            if (answer.gone)
                end(op, PlayerAnswer::of(Outcome::NoPlayer));
            else
                then(std::move(answer));
        };
    auto pending = std::make_unique<Pending>();
    pending->self = this;
    pending->id = m_nextCall++;
    if (!request || sd_bus_call_async(m_bus, &pending->slot, request.get(), &MprisBackend::onReply,
                                      pending.get(), kTimeoutUs) < 0) {
        rearm();
        answered(Answer{nullptr, false, true, {}, {}});
        return;
    }
    pending->then = std::move(answered);
    m_pending.emplace(pending->id, std::move(pending));
    rearm();
}

template <typename... Args>
void MprisBackend::call(const Op& op, const char* interface, const char* member, Then then,
                        const char* types, Args... arguments)
{
    auto made = request(op->player.c_str(), interface, member);
    if (made && types != nullptr && sd_bus_message_append(made.get(), types, arguments...) < 0) {
        then(Answer{nullptr, true, false, {}, {}});
        return;
    }
    send(op, std::move(made), std::move(then));
}

// --- Which player ---

void MprisBackend::listNames(std::function<void()> then)
{
    m_namesWaiting.push_back(std::move(then));
    if (m_listing)
        return;
    m_listing = true;
    send(nullptr, request("org.freedesktop.DBus", "org.freedesktop.DBus", "ListNames"),
         [this](Answer answer) {
             // The signals that came before the answer are in it already.
             char** names = nullptr;
             if (answer && sd_bus_message_read_strv(answer.reply.get(), &names) >= 0) {
                 m_names.clear();
                 for (char** name = names; name != nullptr && *name != nullptr; ++name) {
                     if (mprisNameMatches(*name, {}))
                         m_names.insert(*name);
                     std::free(*name);
                 }
                 std::free(names);
                 m_namesKnown = true;
             }
             m_listing = false;
             for (auto& waiting : std::exchange(m_namesWaiting, {}))
                 waiting();
         });
}

void MprisBackend::whenNamesKnown(std::function<void()> then)
{
    if (m_namesKnown)
        then();
    else
        listNames(std::move(then));
}

// The player of this line, found once per line.
void MprisBackend::withPlayer(const Op& op, std::function<void()> then)
{
    if (!openBus()) {
        end(op, PlayerAnswer::of(Outcome::NoPlayer));
        return;
    }
    if (op->line != 0 && op->line == m_line && m_linePlayer) {
        op->player = *m_linePlayer;
        then();
        return;
    }
    const auto location = m_setup.location ? m_setup.location() : std::string("mpris");
    whenNamesKnown([this, op, choice = choosePlayer(location, canStartProgram),
                    then = std::move(then)] { choose(op, choice, false, then); });
}

// A player that took its name a moment ago may not have been heard of yet: when none matches,
// the names are listed once more before the answer is no player.
void MprisBackend::choose(const Op& op, const PlayerChoice& choice, bool listed,
                          std::function<void()> then)
{
    std::vector<std::string> names;
    for (const auto& name : m_names)
        if (mprisNameMatches(name, choice.name))
            names.push_back(name);
    if (names.empty() && !listed) {
        listNames([this, op, choice, then = std::move(then)] { choose(op, choice, true, then); });
    } else if (names.empty()) {
        end(op, PlayerAnswer::of(Outcome::NoPlayer));
    } else if (names.size() == 1 || !choice.name.empty()) {
        chosen(op, names.front(), then);
    } else {
        mostActive(op, std::move(names), std::move(then));
    }
}

void MprisBackend::chosen(const Op& op, const std::string& name, const std::function<void()>& then)
{
    op->player = name;
    if (op->line != 0 && op->line == m_line)
        m_linePlayer = name;
    then();
}

// Asks every player its PlaybackStatus at once, so one that hangs costs the time limit once.
void MprisBackend::mostActive(const Op& op, std::vector<std::string> names,
                              std::function<void()> then)
{
    struct Asked
    {
        std::vector<BusPlayer> players;
        std::size_t waiting = 0;
        std::function<void()> then;
    };
    auto asked = std::make_shared<Asked>();
    asked->waiting = names.size();
    asked->then = std::move(then);
    for (auto& name : names)
        asked->players.push_back({std::move(name), {}});
    for (std::size_t i = 0; i < asked->players.size(); ++i) {
        auto made = request(asked->players[i].busName.c_str(), kProperties, "Get");
        if (made && sd_bus_message_append(made.get(), "ss", kPlayerInterface, "PlaybackStatus") < 0)
            made.reset();
        send(nullptr, std::move(made), [this, op, asked, i](Answer answer) {
            const char* status = nullptr;
            asked->players[i].playbackStatus =
                answer && sd_bus_message_read(answer.reply.get(), "v", "s", &status) >= 0 ? status
                                                                                          : "None";
            if (--asked->waiting == 0)
                chosen(op, *pickPlayer(std::move(asked->players)), asked->then);
        });
    }
}

// --- Reading the player ---

template <typename... Args>
void MprisBackend::setProperty(const Op& op, const char* name, std::function<void(bool)> then,
                               const char* type, Args... arguments)
{
    auto made = request(op->player.c_str(), kProperties, "Set");
    if (!made) {
        end(op, PlayerAnswer::of(Outcome::NoPlayer));
        return;
    }
    if (sd_bus_message_append(made.get(), "ss", kPlayerInterface, name) < 0 ||
        sd_bus_message_open_container(made.get(), 'v', type) < 0 ||
        sd_bus_message_append(made.get(), type, arguments...) < 0 ||
        sd_bus_message_close_container(made.get()) < 0) {
        then(false);
        return;
    }
    op->snapshot.reset();
    send(op, std::move(made), [then = std::move(then)](Answer answer) { then(bool(answer)); });
}

void MprisBackend::snapshot(const Op& op, std::function<void(const Snapshot*)> then)
{
    if (op->snapshot) {
        then(&*op->snapshot);
        return;
    }
    call(
        op, kProperties, "GetAll",
        [op, then = std::move(then)](Answer answer) {
            Snapshot now;
            if (!answer || !readPlayerProperties(answer.reply.get(), now)) {
                then(nullptr);
                return;
            }
            op->snapshot = std::move(now);
            then(&*op->snapshot);
        },
        "s", kPlayerInterface);
}

void MprisBackend::abilities(const Op& op, std::function<void(const Abilities*)> then)
{
    if (op->abilities) {
        then(&*op->abilities);
        return;
    }
    call(
        op, kProperties, "GetAll",
        [this, op, then = std::move(then)](Answer answer) {
            if (!answer) {
                then(nullptr);
                return;
            }
            Abilities now;
            readRootProperties(answer.reply.get(), now);
            op->abilities = now;
            if (op->line != 0 && op->line == m_line)
                m_lineAbilities = now;
            then(&*op->abilities);
        },
        "s", kRoot);
}

void MprisBackend::canEditTracks(const Op& op, std::function<void(bool)> then)
{
    abilities(op, [this, op, then = std::move(then)](const Abilities* can) {
        if (can == nullptr || !can->hasTrackList) {
            then(false);
            return;
        }
        call(
            op, kProperties, "Get",
            [then](Answer answer) {
                int editable = 0;
                then(answer && sd_bus_message_read(answer.reply.get(), "v", "b", &editable) >= 0 &&
                     editable != 0);
            },
            "ss", kTrackList, "CanEditTracks");
    });
}

void MprisBackend::tracks(const Op& op, std::function<void(Tracks)> then)
{
    call(
        op, kProperties, "Get",
        [then = std::move(then)](Answer answer) {
            char** ids = nullptr;
            if (!answer || sd_bus_message_enter_container(answer.reply.get(), 'v', "ao") < 0 ||
                sd_bus_message_read_strv(answer.reply.get(), &ids) < 0) {
                then(std::nullopt);
                return;
            }
            std::vector<std::string> list;
            for (char** id = ids; id != nullptr && *id != nullptr; ++id) {
                list.emplace_back(*id);
                std::free(*id);
            }
            std::free(ids);
            then(std::move(list));
        },
        "ss", kTrackList, "Tracks");
}

namespace {

PlayerStatus statusOf(const PlayerProperties& now,
                      const std::optional<std::vector<std::string>>& list)
{
    PlayerStatus status;
    status.state = playState(now.playbackStatus);
    status.title = displayTitle(now.artist.c_str(), now.title.c_str(), percentDecoded(now.url));
    status.elapsedMs = milliseconds(now.positionUs);
    if (now.lengthUs > 0)
        status.totalMs = milliseconds(now.lengthUs);
    if (now.volume)
        status.volume = static_cast<int>(std::lround(std::clamp(*now.volume, 0.0, 1.0) * 100));
    status.canSeek = now.canSeek;
    status.shuffle = now.shuffle;
    if (now.loopStatus)
        status.repeat = *now.loopStatus != "None";
    // The version of the MPRIS interface the backend speaks.
    status.version = encodeVersion(2, 2, 0);
    const bool current = !now.trackId.empty() && now.trackId != kNoTrack;
    status.queueKnown = list.has_value();
    if (list) {
        status.queueLength = static_cast<std::uint32_t>(list->size());
        if (const auto at = std::find(list->begin(), list->end(), now.trackId);
            current && at != list->end())
            status.position = static_cast<std::uint32_t>(at - list->begin());
    } else if (current || !now.title.empty() || !now.url.empty()) {
        status.position = 0;
    }
    return status;
}

} // namespace

// The status, and the track list it was read with.
void MprisBackend::currentStatus(const Op& op,
                                 std::function<void(std::optional<PlayerStatus>, Tracks)> then)
{
    snapshot(op, [this, op, then = std::move(then)](const Snapshot* now) {
        if (now == nullptr) {
            then(std::nullopt, std::nullopt);
            return;
        }
        abilities(op, [this, op, then](const Abilities* can) {
            if (can == nullptr || !op->snapshot) {
                then(std::nullopt, std::nullopt);
                return;
            }
            const auto answer = [op, then](Tracks list) {
                auto status = statusOf(*op->snapshot, list);
                then(std::move(status), std::move(list));
            };
            // Tracks counts where the player publishes it, whatever HasTrackList says.
            tracks(op, [op, answer](Tracks list) {
                const bool current =
                    !op->snapshot->trackId.empty() && op->snapshot->trackId != kNoTrack;
                if (!trackListShown(list.has_value(), list ? list->size() : 0, current))
                    list.reset();
                answer(std::move(list));
            });
        });
    });
}

template <typename Work> void MprisBackend::statusAfter(PlayerDone& done, Work&& work)
{
    const auto op = begin(std::move(done));
    withPlayer(op, [this, op, work = std::forward<Work>(work)] {
        work(op, [this, op] {
            op->snapshot.reset();
            currentStatus(op, [this, op](std::optional<PlayerStatus> now, Tracks) {
                end(op,
                    now ? PlayerAnswer::with(std::move(*now)) : PlayerAnswer::of(Outcome::Failed));
            });
        });
    });
}

template <typename Work> void MprisBackend::command(PlayerDone& done, Work&& work)
{
    const auto op = begin(std::move(done));
    withPlayer(op, [op, work = std::forward<Work>(work)] { work(op); });
}

void MprisBackend::method(const char* member, PlayerDone& done)
{
    command(done, [this, member](const Op& op) {
        call(op, kPlayerInterface, member, [this, op](Answer) { finish(op, 0); });
    });
}

void MprisBackend::play(PlayerDone done)
{
    method("Play", done);
}

void MprisBackend::stop(PlayerDone done)
{
    method("Stop", done);
}

void MprisBackend::next(PlayerDone done)
{
    method("Next", done);
}

void MprisBackend::previous(PlayerDone done)
{
    method("Previous", done);
}

void MprisBackend::pause(PlayerDone done)
{
    command(done, [this](const Op& op) { pauseOrResume(op); });
}

void MprisBackend::toggleShuffle(PlayerDone done)
{
    command(done, [this](const Op& op) { shuffleSwapped(op); });
}

void MprisBackend::toggleRepeat(PlayerDone done)
{
    command(done, [this](const Op& op) { loopSwapped(op); });
}

void MprisBackend::stepVolume(int direction, PlayerDone done)
{
    command(done, [this, direction](const Op& op) { volumeStepped(op, direction < 0 ? -1 : 1); });
}

void MprisBackend::close(PlayerDone done)
{
    command(done, [this](const Op& op) { closePlayer(op); });
}

void MprisBackend::clear(PlayerDone done)
{
    command(done, [this](const Op& op) { clearTracks(op); });
}

// Pause: some players empty their playlist on Stop.
void MprisBackend::stopForSleep(PlayerDone done)
{
    method("Pause", done);
}

// Pausing toggles between playing and paused; a stopped player stays stopped. mpv started idle
// reports Stopped while it plays what it was handed later: with a current track, Pause goes
// out, which a player that really is stopped ignores.
void MprisBackend::pauseOrResume(const Op& op)
{
    snapshot(op, [this, op](const Snapshot* now) {
        if (now == nullptr || (now->playbackStatus == "Stopped" && now->trackId.empty())) {
            finish(op, 0);
            return;
        }
        call(op, kPlayerInterface, now->playbackStatus == "Paused" ? "Play" : "Pause",
             [this, op](Answer) { finish(op, 0); });
    });
}

void MprisBackend::shuffleSwapped(const Op& op)
{
    snapshot(op, [this, op](const Snapshot* now) {
        if (now == nullptr || !now->shuffle) {
            finish(op, now == nullptr ? 0 : kNotOffered);
            return;
        }
        setProperty(
            op, "Shuffle", [this, op](bool set) { finish(op, set ? 0 : kNotOffered); }, "b",
            static_cast<int>(!*now->shuffle));
    });
}

void MprisBackend::loopSwapped(const Op& op)
{
    snapshot(op, [this, op](const Snapshot* now) {
        if (now == nullptr || !now->loopStatus) {
            finish(op, now == nullptr ? 0 : kNotOffered);
            return;
        }
        const char* next = *now->loopStatus == "None" ? "Playlist" : "None";
        setProperty(
            op, "LoopStatus", [this, op](bool set) { finish(op, set ? 0 : kNotOffered); }, "s",
            next);
    });
}

// One step is one percent, as on MPD.
void MprisBackend::volumeStepped(const Op& op, int step)
{
    // The steps of one line go on from the volume written last: a player that applies it late
    // (VLC) would answer the value from before the step just written.
    const auto write = [this, op, step](double from) {
        const auto percent = std::clamp(std::lround(from * 100) + step, 0L, 100L);
        const double volume = static_cast<double>(percent) / 100;
        if (m_inLine && op->line == m_line)
            m_lineVolume = volume;
        setProperty(
            op, "Volume", [this, op](bool set) { finish(op, set ? 0 : kNotOffered); }, "d", volume);
    };
    if (m_lineVolume && op->line == m_line) {
        write(*m_lineVolume);
        return;
    }
    snapshot(op, [this, op, write](const Snapshot* now) {
        if (now == nullptr || !now->volume) {
            finish(op, now == nullptr ? 0 : kNotOffered);
            return;
        }
        write(*now->volume);
    });
}

// Quit where the player offers it, else the end of the program "open" started.
void MprisBackend::closePlayer(const Op& op)
{
    abilities(op, [this, op](const Abilities* can) {
        const bool quits = can != nullptr && can->canQuit;
        const bool ours = programAlive(m_started);
        if (can != nullptr && !quits && ours)
            ::kill(m_started, SIGTERM);
        if (can != nullptr)
            m_started = -1;
        if (!quits) {
            // Neither Quit nor a program of ours to end: the player cannot be closed from here.
            finish(op, can != nullptr && !ours ? kNotOffered : 0);
            return;
        }
        // A player that quits may leave the bus before it answers.
        send(
            op, request(op->player.c_str(), kRoot, "Quit"), [this, op](Answer) { finish(op, 0); },
            false);
    });
}

// One read of the track list, then one call per track.
void MprisBackend::clearTracks(const Op& op)
{
    canEditTracks(op, [this, op](bool editable) {
        if (!editable) {
            finish(op, kNotOffered);
            return;
        }
        tracks(op, [this, op](Tracks list) {
            auto left = std::make_shared<std::vector<std::string>>(
                list.value_or(std::vector<std::string>{}));
            std::reverse(left->begin(), left->end());
            removeNext(op, std::move(left));
        });
    });
}

void MprisBackend::removeNext(const Op& op, std::shared_ptr<std::vector<std::string>> left)
{
    if (left->empty()) {
        finish(op, 0);
        return;
    }
    const auto track = std::move(left->back());
    left->pop_back();
    call(
        op, kTrackList, "RemoveTrack", [this, op, left](Answer) { removeNext(op, left); }, "o",
        track.c_str());
}

/** A load in progress: the files still to add and the track the next one goes after. */
struct MprisBackend::Load
{
    std::vector<std::string> files;
    std::size_t next = 0;
    std::string after;
    /** The track TrackAdded named for the call in flight. */
    std::optional<std::string> added;
    sd_bus_slot* match = nullptr;

    Load() = default;
    Load(const Load&) = delete;
    Load& operator=(const Load&) = delete;
    ~Load() { sd_bus_slot_unref(match); }
};

int MprisBackend::onTrackAdded(sd_bus_message* signal, void* data, sd_bus_error*)
{
    auto& load = *static_cast<Load*>(data);
    Snapshot track;
    const char* after = nullptr;
    if (readMetadata(signal, track) && sd_bus_message_read(signal, "o", &after) >= 0 &&
        load.after == after && !track.trackId.empty())
        load.added = track.trackId;
    return 0;
}

// The sound files below a folder in name order, or the file itself.
static std::vector<std::string> filesOf(const std::string& path)
{
    std::error_code error;
    if (!std::filesystem::is_directory(path, error))
        return {path};
    std::vector<std::string> files;
    for (const auto& name : soundFilesBelow(path))
        files.push_back((std::filesystem::path(path) / name).string());
    return files;
}

// A player without an editable track list gets the files as its rule says (see PlayerRules);
// a load that adds nothing says why.
void MprisBackend::handOver(const Op& op, const std::string& path)
{
    const auto name = op->player.substr(std::min(op->player.size(), kMprisPrefix.size()));
    const auto rule = ruleForBusName(name);
    std::error_code error;
    const bool folder = std::filesystem::is_directory(path, error);
    if (folder && !rule.takesFolders) {
        end(op, {Outcome::NotOffered, name + " takes no folders over the bus", {}, {}});
        return;
    }
    const bool each = rule.files == FileHandover::AudaciousInterface || !folder;
    Message made(newHandoverCall(m_bus, op->player, rule.files,
                                 each ? filesOf(path) : std::vector<std::string>{path}));
    if (!made) {
        end(op, PlayerAnswer::of(Outcome::Failed));
        return;
    }
    // Audacious's own interface has a bus name of its own: its absence is no missing player.
    const bool ownInterface = rule.files == FileHandover::AudaciousInterface;
    send(
        op, std::move(made),
        [this, op, name, ownInterface](Answer answer) {
            if (answer.gone && !ownInterface) {
                end(op, PlayerAnswer::of(Outcome::NoPlayer));
            } else if (answer || (!answer.gone && !answer.refused)) {
                end(op, PlayerAnswer::of(Outcome::Done));
            } else if (answer.gone || answer.error == SD_BUS_ERROR_UNKNOWN_METHOD ||
                       answer.error == SD_BUS_ERROR_UNKNOWN_OBJECT ||
                       answer.error == SD_BUS_ERROR_UNKNOWN_INTERFACE) {
                end(op, {Outcome::NotOffered, name + " takes no files over the bus", {}, {}});
            } else {
                end(op, {Outcome::Failed, answer.reason, {}, {}});
            }
        },
        false);
}

void MprisBackend::add(const std::string& path, PlayerDone done)
{
    command(done, [this, path](const Op& op) {
        const auto openUri = [this, op, path] { handOver(op, path); };
        // A playlist goes to the player as it is: its track list is not asked about.
        if (isPlaylistFile(path)) {
            openUri();
            return;
        }
        canEditTracks(op, [this, op, path, openUri](bool editable) {
            if (editable)
                addTracks(op, path);
            else
                openUri();
        });
    });
}

// Appends at the track list's end, in name order, without starting playback. The track list is
// read once; each new track goes after the one added before it, so the order holds. A player
// that does not name the added track in TrackAdded has its track list read after each.
void MprisBackend::addTracks(const Op& op, const std::string& path)
{
    auto load = std::make_shared<Load>();
    load->files = filesOf(path);
    sd_bus_match_signal_async(m_bus, &load->match, nullptr, kObject, kTrackList, "TrackAdded",
                              &MprisBackend::onTrackAdded, nullptr, load.get());
    tracks(op, [this, op, load](Tracks list) {
        load->after = list && !list->empty() ? list->back() : kNoTrack;
        addNext(op, load);
    });
}

void MprisBackend::addNext(const Op& op, const std::shared_ptr<Load>& load)
{
    if (load->next == load->files.size()) {
        finish(op, 0);
        return;
    }
    load->added.reset();
    const auto uri = fileUri(load->files[load->next++]);
    call(
        op, kTrackList, "AddTrack",
        [this, op, load](Answer) {
            if (load->added) {
                load->after = *load->added;
                addNext(op, load);
                return;
            }
            tracks(op, [this, op, load](Tracks now) {
                if (now && !now->empty())
                    load->after = now->back();
                addNext(op, load);
            });
        },
        "sob", uri.c_str(), load->after.c_str(), 0);
}

void MprisBackend::open(const std::string& location, PlayerDone done)
{
    launch(begin(std::move(done)), location);
}

void MprisBackend::launch(const Op& op, const std::string& location)
{
    const auto choice = choosePlayer(location, canStartProgram);
    if (!openBus()) {
        end(op, PlayerAnswer::of(Outcome::Failed));
        return;
    }
    // Listed afresh: a player that left a moment ago must not count as there.
    listNames([this, op, choice] {
        for (const auto& name : m_names)
            if (mprisNameMatches(name, choice.name)) {
                end(op, PlayerAnswer::of(Outcome::Done));
                return;
            }
        // A copy started before that is not on the bus yet is waited for, not started again.
        if (!programAlive(m_started)) {
            const pid_t started = choice.program.empty() ? -1 : launchProgram(choice.program);
            if (started < 0) {
                end(op, PlayerAnswer::of(Outcome::Failed));
                return;
            }
            m_started = started;
        }
        auto start = std::make_shared<Start>(Start{op, choice.name, 0});
        start->timer = m_loop.after(kStartLimit, [this, weak = std::weak_ptr(start)] {
            const auto waited = weak.lock();
            if (!waited)
                return;
            std::erase(m_starting, waited);
            end(waited->op, PlayerAnswer::of(Outcome::Failed));
        });
        m_starting.push_back(std::move(start));
    });
}

// A player took its name: the opens waiting for it are done.
void MprisBackend::started(const std::string& busName)
{
    std::vector<std::shared_ptr<Start>> done;
    std::erase_if(m_starting, [&](const std::shared_ptr<Start>& start) {
        if (!mprisNameMatches(busName, start->name))
            return false;
        done.push_back(start);
        return true;
    });
    for (const auto& start : done) {
        m_loop.cancel(start->timer);
        end(start->op, PlayerAnswer::of(Outcome::Done));
    }
}

void MprisBackend::status(PlayerDone done)
{
    statusAfter(done, [](const Op&, const std::function<void()>& then) { then(); });
}

void MprisBackend::queue(std::uint32_t first, std::uint32_t count, PlayerDone done)
{
    const auto op = begin(std::move(done));
    withPlayer(op, [this, op, first, count] {
        currentStatus(op, [this, op, first, count](std::optional<PlayerStatus> now, Tracks list) {
            if (!now) {
                end(op, PlayerAnswer::of(Outcome::Failed));
                return;
            }
            auto page = std::make_shared<PlayerAnswer>(PlayerAnswer::with(*now));
            const auto last =
                list ? std::min<std::size_t>(list->size(), std::size_t{first} + count) : 0;
            auto made = request(op->player.c_str(), kTrackList, "GetTracksMetadata");
            if (!now->queueKnown || first >= last || !made ||
                sd_bus_message_open_container(made.get(), 'a', "o") < 0) {
                end(op, std::move(*page));
                return;
            }
            for (auto i = std::size_t{first}; i < last; ++i)
                sd_bus_message_append(made.get(), "o", (*list)[i].c_str());
            sd_bus_message_close_container(made.get());
            auto ids = std::make_shared<std::vector<std::string>>(std::move(*list));
            send(op, std::move(made), [this, op, page, ids, first, last](Answer answer) {
                if (answer && sd_bus_message_enter_container(answer.reply.get(), 'a', "a{sv}") >= 0)
                    for (auto i = std::size_t{first}; i < last; ++i) {
                        Snapshot entry;
                        if (!readMetadata(answer.reply.get(), entry))
                            break;
                        const auto at = std::find(ids->begin(), ids->end(), entry.trackId);
                        page->entries.push_back(
                            {static_cast<std::uint32_t>(at != ids->end() ? at - ids->begin() : i),
                             displayTitle(entry.artist.c_str(), entry.title.c_str(),
                                          percentDecoded(entry.url))});
                    }
                end(op, std::move(*page));
            });
        });
    });
}

void MprisBackend::jumpTo(std::uint32_t position, PlayerDone done)
{
    statusAfter(done, [this, position](const Op& op, const std::function<void()>& then) {
        tracks(op, [this, op, position, then](Tracks list) {
            if (!list || position >= list->size()) {
                then();
                return;
            }
            call(
                op, kTrackList, "GoTo", [then](Answer) { then(); }, "o", (*list)[position].c_str());
        });
    });
}

void MprisBackend::setVolume(int percent, PlayerDone done)
{
    // A player may apply the volume a moment after it answered (VLC): the reply shows the
    // volume written.
    const int wanted = std::clamp(percent, 0, 100);
    auto written = std::make_shared<bool>(false);
    PlayerDone shown = [written, wanted, done = std::move(done)](PlayerAnswer answer) {
        if (answer.status && *written && answer.status->volume)
            answer.status->volume = wanted;
        done(std::move(answer));
    };
    statusAfter(shown, [this, wanted, written](const Op& op, const std::function<void()>& then) {
        snapshot(op, [this, op, wanted, written, then](const Snapshot* now) {
            if (now == nullptr || !now->volume) {
                then();
                return;
            }
            setProperty(
                op, "Volume",
                [written, then](bool set) {
                    *written = set;
                    then();
                },
                "d", static_cast<double>(wanted) / 100);
        });
    });
}

void MprisBackend::seekTo(std::uint32_t milliseconds, PlayerDone done)
{
    seek(std::nullopt, milliseconds, done);
}

// Seek moves from where the player is by its own count (Audacious's Position lags behind its
// seeks); a player without Seek still has SetPosition.
void MprisBackend::seekBy(std::int64_t offset, std::uint32_t to, PlayerDone done)
{
    seek(offset, to, done);
}

/** A seek waiting for the player's Seeked: some apply a seek a moment after they answered it
 * (Audacious, cmus), so the status read at once shows the time from before. */
struct MprisBackend::SeekWait
{
    sd_bus_slot* match = nullptr;
    /** Where Seeked said the player went. */
    std::optional<std::int64_t> positionUs;
    /** The call was answered; what is left runs once Seeked came, or at kSettleLimit. */
    bool answered = false;
    std::function<void()> then;

    SeekWait() = default;
    SeekWait(const SeekWait&) = delete;
    SeekWait& operator=(const SeekWait&) = delete;
    ~SeekWait() { sd_bus_slot_unref(match); }

    void settle()
    {
        if (auto rest = std::exchange(then, nullptr))
            rest();
    }
};

int MprisBackend::onSeeked(sd_bus_message* signal, void* data, sd_bus_error*)
{
    auto& wait = *static_cast<SeekWait*>(data);
    std::int64_t position = 0;
    if (sd_bus_message_read(signal, "x", &position) < 0)
        return 0;
    wait.positionUs = position;
    if (wait.answered)
        wait.settle();
    return 0;
}

// Once the player answered the call: at once when Seeked came already, else when it comes or
// at kSettleLimit. The timer holds the wait until it runs, so the wait never ends inside its own
// signal's handler.
void MprisBackend::awaitSeeked(const std::shared_ptr<SeekWait>& wait)
{
    wait->answered = true;
    if (wait->positionUs) {
        wait->settle();
        return;
    }
    m_loop.after(kSettleLimit, [wait] { wait->settle(); });
}

// The time the reply shows: what Seeked told where the player's Seeked tells the new position,
// else the time asked for; a player lands on its nearest frame (mpv: 59.98 s for 1:00), and
// within a second of the time asked for, that time is the answer.
std::uint32_t MprisBackend::seekShown(const SeekWait& wait, const std::string& player,
                                      std::uint32_t asked)
{
    const auto rule = ruleForBusName(player.substr(std::min(player.size(), kMprisPrefix.size())));
    const std::int64_t askedUs = std::int64_t{asked} * 1000;
    const std::int64_t told =
        rule.seekedTellsNewPosition ? wait.positionUs.value_or(askedUs) : askedUs;
    return std::llabs(told - askedUs) < 1'000'000 ? asked : milliseconds(told);
}

void MprisBackend::seek(std::optional<std::int64_t> offset, std::uint32_t milliseconds,
                        PlayerDone& done)
{
    // The reply shows where the player went (see seekShown), not a position read too soon.
    auto shownAt = std::make_shared<std::optional<std::uint32_t>>();
    PlayerDone shown = [shownAt, done = std::move(done)](PlayerAnswer answer) {
        if (auto& status = answer.status;
            status && *shownAt && (!status->totalMs || **shownAt <= *status->totalMs))
            status->elapsedMs = **shownAt;
        done(std::move(answer));
    };
    statusAfter(shown, [this, offset, milliseconds, shownAt](const Op& op,
                                                             const std::function<void()>& then) {
        // Track ids differ from player to player and from track to track: read it each time.
        op->snapshot.reset();
        snapshot(op, [this, op, offset, milliseconds, then, shownAt](const Snapshot* now) {
            if (now == nullptr || !now->canSeek || now->trackId.empty()) {
                then();
                return;
            }
            auto wait = std::make_shared<SeekWait>();
            wait->then = [this, op, wait = wait.get(), milliseconds, shownAt, then] {
                *shownAt = seekShown(*wait, op->player, milliseconds);
                then();
            };
            sd_bus_match_signal_async(m_bus, &wait->match, op->player.c_str(), kObject,
                                      kPlayerInterface, "Seeked", &MprisBackend::onSeeked, nullptr,
                                      wait.get());
            const auto moved = [this, wait, then](Answer answer) {
                if (!answer) {
                    wait->then = nullptr;
                    then();
                    return;
                }
                awaitSeeked(wait);
            };
            const auto setPosition = [this, op, moved, id = now->trackId, milliseconds] {
                call(op, kPlayerInterface, "SetPosition", moved, "ox", id.c_str(),
                     static_cast<std::int64_t>(milliseconds) * 1000);
            };
            if (!offset) {
                setPosition();
                return;
            }
            // A player without Seek refuses it; it still has SetPosition.
            call(
                op, kPlayerInterface, "Seek",
                [moved, setPosition](Answer answer) {
                    if (answer.refused)
                        setPosition();
                    else
                        moved(std::move(answer));
                },
                "x", *offset * 1000);
        });
    });
}

// --- Following changes ---

namespace {

// Whether a PropertiesChanged of the player names what the np line shows.
bool namesShownProperty(sd_bus_message* signal)
{
    const char* interface = nullptr;
    if (sd_bus_message_read(signal, "s", &interface) < 0 ||
        std::strcmp(interface, kPlayerInterface) != 0)
        return false;
    const auto shown = [](const char* name) {
        return std::strcmp(name, "PlaybackStatus") == 0 || std::strcmp(name, "Metadata") == 0;
    };
    if (sd_bus_message_enter_container(signal, 'a', "{sv}") < 0)
        return false;
    while (sd_bus_message_enter_container(signal, 'e', "sv") > 0) {
        const char* name = nullptr;
        if (sd_bus_message_read(signal, "s", &name) < 0)
            return false;
        if (shown(name))
            return true;
        if (sd_bus_message_skip(signal, "v") < 0 || sd_bus_message_exit_container(signal) < 0)
            return false;
    }
    if (sd_bus_message_exit_container(signal) < 0)
        return false;
    char** invalidated = nullptr;
    if (sd_bus_message_read_strv(signal, &invalidated) < 0)
        return false;
    bool named = false;
    for (char** name = invalidated; name != nullptr && *name != nullptr; ++name) {
        named = named || shown(*name);
        std::free(*name);
    }
    std::free(invalidated);
    return named;
}

} // namespace

std::unique_ptr<PlayerWatch> MprisBackend::watchChanges(std::function<void()> changed)
{
    return m_watchers.add(std::move(changed));
}

int MprisBackend::onPlayerSignal(sd_bus_message* signal, void* data, sd_bus_error*)
{
    auto& self = *static_cast<MprisBackend*>(data);
    if (sd_bus_message_is_signal(signal, kProperties, "PropertiesChanged") > 0 &&
        !namesShownProperty(signal))
        return 0;
    self.m_watchers.notify();
    return 0;
}

// The matches live on the kept connection, so a player that leaves and comes back under the
// same name is heard again; a bus opened afresh gets them again.
void MprisBackend::watchSignals(bool watched)
{
    m_propertiesMatch = sd_bus_slot_unref(m_propertiesMatch);
    m_seekedMatch = sd_bus_slot_unref(m_seekedMatch);
    m_loop.cancel(m_tick);
    m_tick = 0;
    if (!watched)
        return;
    m_tick = m_loop.after(kChangePoll, [this] { tick(); });
    // A bus opened now comes back here with its matches.
    if (m_bus == nullptr) {
        openBus();
        return;
    }
    sd_bus_match_signal_async(m_bus, &m_propertiesMatch, nullptr, kObject, kProperties,
                              "PropertiesChanged", &MprisBackend::onPlayerSignal, nullptr, this);
    sd_bus_match_signal_async(m_bus, &m_seekedMatch, nullptr, kObject, kPlayerInterface, "Seeked",
                              &MprisBackend::onPlayerSignal, nullptr, this);
    rearm();
}

// A player that sends no signals is read again while someone follows; the bus, should it have
// gone, is opened again.
void MprisBackend::tick()
{
    m_tick = 0;
    if (m_bus == nullptr || sd_bus_is_open(m_bus) <= 0)
        openBus();
    if (m_tick == 0)
        m_tick = m_loop.after(kChangePoll, [this] { tick(); });
    m_watchers.notify();
}

} // namespace zelvor
