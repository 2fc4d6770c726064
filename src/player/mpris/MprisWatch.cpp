// SPDX-License-Identifier: MIT
#include "player/mpris/MprisBackend.h"

#include "player/mpris/MprisBackendParts.h"
#include <systemd/sd-bus.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace zelvor {

using namespace mpris_detail;

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

/** A change waiting for the player's word of it: some players apply a seek or a volume a
 * moment after they answered the call (Audacious, cmus, VLC), so a status read at once shows
 * the state from before. A seek waits for Seeked, a volume for a PropertiesChanged telling the
 * volume written. */
struct MprisBackend::ChangeWait
{
    sd_bus_slot* match = nullptr;
    /** Where Seeked said the player went. */
    std::optional<std::int64_t> positionUs;
    /** The volume written, in percent, and the one the player told last. */
    std::optional<int> wantedVolume;
    std::optional<double> volume;
    /** The call was answered; what is left runs once the player told, or at kSettleLimit. */
    bool answered = false;
    std::function<void()> then;

    ChangeWait() = default;
    ChangeWait(const ChangeWait&) = delete;
    ChangeWait& operator=(const ChangeWait&) = delete;
    ~ChangeWait() { sd_bus_slot_unref(match); }

    bool told() const
    {
        if (wantedVolume)
            return volume && volumePercent(*volume) == *wantedVolume;
        return positionUs.has_value();
    }

    void settle()
    {
        if (auto rest = std::exchange(then, nullptr))
            rest();
    }

    void heard()
    {
        if (answered && told())
            settle();
    }
};

namespace {

// Reads a PropertiesChanged of the player's interface up to the first changed property whose
// name `stop` takes, and leaves the message at its value. Without one, false, and the message
// is left at the list of invalidated names (or wherever reading it failed).
template <typename Stop> bool changedProperty(sd_bus_message* signal, Stop&& stop)
{
    const char* interface = nullptr;
    if (sd_bus_message_read(signal, "s", &interface) < 0 ||
        std::strcmp(interface, kPlayerInterface) != 0 ||
        sd_bus_message_enter_container(signal, 'a', "{sv}") < 0)
        return false;
    while (sd_bus_message_enter_container(signal, 'e', "sv") > 0) {
        const char* name = nullptr;
        if (sd_bus_message_read(signal, "s", &name) < 0)
            return false;
        if (stop(name))
            return true;
        if (sd_bus_message_skip(signal, "v") < 0 || sd_bus_message_exit_container(signal) < 0)
            return false;
    }
    sd_bus_message_exit_container(signal);
    return false;
}

} // namespace

int MprisBackend::onSeeked(sd_bus_message* signal, void* data, sd_bus_error*)
{
    auto& wait = *static_cast<ChangeWait*>(data);
    std::int64_t position = 0;
    if (sd_bus_message_read(signal, "x", &position) < 0)
        return 0;
    wait.positionUs = position;
    wait.heard();
    return 0;
}

int MprisBackend::onVolumeChanged(sd_bus_message* signal, void* data, sd_bus_error*)
{
    auto& wait = *static_cast<ChangeWait*>(data);
    double volume = 0;
    if (!changedProperty(signal,
                         [](const char* name) { return std::strcmp(name, "Volume") == 0; }) ||
        sd_bus_message_read(signal, "v", "d", &volume) < 0)
        return 0;
    wait.volume = volume;
    wait.heard();
    return 0;
}

// Once the player answered the call: at once when it told already, else when it tells or at
// kSettleLimit. The timer holds the wait until it runs, so the wait never ends inside its own
// signal's handler.
void MprisBackend::awaitChange(const std::shared_ptr<ChangeWait>& wait)
{
    wait->answered = true;
    if (wait->told()) {
        wait->settle();
        return;
    }
    // What is left of the operation needs the backend, which may be gone by then.
    m_loop.after(kSettleLimit, [wait, alive = std::weak_ptr<bool>(m_alive)] {
        if (!alive.expired())
            wait->settle();
    });
}

// The time the reply shows: what Seeked told where the player's Seeked tells the new position,
// else the time asked for; a player lands on its nearest frame (mpv: 59.98 s for 1:00), and
// within a second of the time asked for, that time is the answer.
std::uint32_t MprisBackend::seekShown(const ChangeWait& wait, const std::string& player,
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
        snapshot(op, [this, op, offset, milliseconds, then, shownAt](const Snapshot* now) {
            if (now == nullptr || !now->canSeek || now->trackId.empty()) {
                then();
                return;
            }
            auto wait = std::make_shared<ChangeWait>();
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
                awaitChange(wait);
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

// A player may apply the volume a moment after it answered (VLC): the write waits for the
// player's PropertiesChanged telling it; `then` gets whether the player took the write, and the
// volume it told, or the one written when it told nothing in time.
void MprisBackend::writeVolume(const Op& op, int percent, double from,
                               std::function<void(bool, int)> then)
{
    auto wait = std::make_shared<ChangeWait>();
    wait->wantedVolume = percent;
    // A player already at that volume tells no change.
    if (volumePercent(from) == percent)
        wait->volume = from;
    wait->then = [wait = wait.get(), percent, then] {
        then(true, wait->volume ? volumePercent(*wait->volume) : percent);
    };
    sd_bus_match_signal_async(m_bus, &wait->match, op->player.c_str(), kObject, kProperties,
                              "PropertiesChanged", &MprisBackend::onVolumeChanged, nullptr,
                              wait.get());
    setProperty(
        op, "Volume",
        [this, wait, then](bool set) {
            if (!set) {
                wait->then = nullptr;
                then(false, 0);
                return;
            }
            awaitChange(wait);
        },
        "d", static_cast<double>(percent) / 100);
}

// One step is one percent, as on MPD.
void MprisBackend::volumeStepped(const Op& op, int steps)
{
    // A second volume command of the line goes on from the volume written last, also where the
    // player told nothing of the first in time.
    const auto write = [this, op, steps](double from) {
        const auto percent =
            static_cast<int>(std::clamp(std::lround(from * 100) + steps, 0L, 100L));
        if (m_inLine && op->line == m_line)
            m_lineVolume = static_cast<double>(percent) / 100;
        writeVolume(op, percent, from, [this, op](bool set, int) {
            finish(op, set ? Outcome::Done : Outcome::NotOffered);
        });
    };
    if (m_lineVolume && op->line == m_line) {
        write(*m_lineVolume);
        return;
    }
    snapshot(op, [this, op, write](const Snapshot* now) {
        if (now == nullptr || !now->volume) {
            finish(op, now == nullptr ? Outcome::Done : Outcome::NotOffered);
            return;
        }
        write(*now->volume);
    });
}

// The reply shows the volume the player told (see writeVolume).
void MprisBackend::setVolume(int percent, PlayerDone done)
{
    const int wanted = std::clamp(percent, 0, 100);
    auto shownVolume = std::make_shared<std::optional<int>>();
    PlayerDone shown = [shownVolume, done = std::move(done)](PlayerAnswer answer) {
        if (answer.status && *shownVolume && answer.status->volume)
            answer.status->volume = **shownVolume;
        done(std::move(answer));
    };
    statusAfter(
        shown, [this, wanted, shownVolume](const Op& op, const std::function<void()>& then) {
            snapshot(op, [this, op, wanted, shownVolume, then](const Snapshot* now) {
                if (now == nullptr || !now->volume) {
                    then();
                    return;
                }
                writeVolume(op, wanted, *now->volume, [shownVolume, then](bool set, int told) {
                    if (set)
                        *shownVolume = told;
                    then();
                });
            });
        });
}

// --- Following changes ---

namespace {

// Whether a PropertiesChanged of the player names what the np line shows.
bool namesShownProperty(sd_bus_message* signal)
{
    const auto shown = [](const char* name) {
        return std::strcmp(name, "PlaybackStatus") == 0 || std::strcmp(name, "Metadata") == 0;
    };
    if (changedProperty(signal, shown))
        return true;
    const auto invalidated = readStrings(signal);
    return invalidated && std::any_of(invalidated->begin(), invalidated->end(),
                                      [&](const std::string& name) { return shown(name.c_str()); });
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
