// SPDX-License-Identifier: MIT
#include "player/mpris/MprisBackend.h"

#include "player/mpris/MprisBackendParts.h"
#include "player/mpris/MprisMessages.h"
#include "player/ProgramLauncher.h"

#include <systemd/sd-bus.h>

#include <cstdlib>

#include <poll.h>

namespace zelvor {

using namespace mpris_detail;

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
             if (const auto names = answer ? readStrings(answer.reply.get()) : std::nullopt) {
                 m_names.clear();
                 for (const auto& name : *names)
                     if (mprisNameMatches(name, {}))
                         m_names.insert(name);
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

} // namespace zelvor
