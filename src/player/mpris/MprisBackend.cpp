// SPDX-License-Identifier: MIT
#include "player/mpris/MprisBackend.h"

#include "player/mpris/MprisBackendParts.h"
#include "player/mpris/MprisMessages.h"
#include "player/PlayerText.h"
#include "player/ProgramLauncher.h"

#include <systemd/sd-bus.h>

#include <signal.h>

namespace zelvor {

using namespace mpris_detail;

void MprisBackend::MessageUnref::operator()(sd_bus_message* message) const
{
    sd_bus_message_unref(message);
}

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

void MprisBackend::finish(const Op& op, Outcome outcome)
{
    end(op, PlayerAnswer::of(outcome));
}

// --- Reading the player ---

void MprisBackend::snapshot(const Op& op, std::function<void(const Snapshot*)> then)
{
    call(
        op, kProperties, "GetAll",
        [then = std::move(then)](Answer answer) {
            Snapshot now;
            then(answer && readPlayerProperties(answer.reply.get(), now) ? &now : nullptr);
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
            if (!answer || sd_bus_message_enter_container(answer.reply.get(), 'v', "ao") < 0) {
                then(std::nullopt);
                return;
            }
            then(readStrings(answer.reply.get()));
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
        status.volume = volumePercent(*now.volume);
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
        // Tracks counts where the player publishes it, whatever HasTrackList says.
        tracks(op, [now = *now, then](Tracks list) {
            const bool current = !now.trackId.empty() && now.trackId != kNoTrack;
            if (!trackListShown(list.has_value(), list ? list->size() : 0, current))
                list.reset();
            auto status = statusOf(now, list);
            then(std::move(status), std::move(list));
        });
    });
}

void MprisBackend::method(const char* member, PlayerDone& done)
{
    command(done, [this, member](const Op& op) {
        call(op, kPlayerInterface, member, [this, op](Answer) { finish(op); });
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

void MprisBackend::stepVolume(int steps, PlayerDone done)
{
    command(done, [this, steps](const Op& op) { volumeStepped(op, steps); });
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
            finish(op);
            return;
        }
        call(op, kPlayerInterface, now->playbackStatus == "Paused" ? "Play" : "Pause",
             [this, op](Answer) { finish(op); });
    });
}

void MprisBackend::shuffleSwapped(const Op& op)
{
    snapshot(op, [this, op](const Snapshot* now) {
        if (now == nullptr || !now->shuffle) {
            finish(op, now == nullptr ? Outcome::Done : Outcome::NotOffered);
            return;
        }
        setProperty(
            op, "Shuffle",
            [this, op](bool set) { finish(op, set ? Outcome::Done : Outcome::NotOffered); }, "b",
            static_cast<int>(!*now->shuffle));
    });
}

void MprisBackend::loopSwapped(const Op& op)
{
    snapshot(op, [this, op](const Snapshot* now) {
        if (now == nullptr || !now->loopStatus) {
            finish(op, now == nullptr ? Outcome::Done : Outcome::NotOffered);
            return;
        }
        const char* next = *now->loopStatus == "None" ? "Playlist" : "None";
        setProperty(
            op, "LoopStatus",
            [this, op](bool set) { finish(op, set ? Outcome::Done : Outcome::NotOffered); }, "s",
            next);
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
            finish(op, can != nullptr && !ours ? Outcome::NotOffered : Outcome::Done);
            return;
        }
        // A player that quits may leave the bus before it answers.
        send(
            op, request(op->player.c_str(), kRoot, "Quit"), [this, op](Answer) { finish(op); },
            false);
    });
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

} // namespace zelvor
