// SPDX-License-Identifier: MIT
// What the files defining MprisBackend share: names on the bus, small helpers, the records
// of calls and operations, and the templates several of them use.
#pragma once

#include "player/mpris/MprisBackend.h"

#include <systemd/sd-bus.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include <time.h>

namespace zelvor {

namespace mpris_detail {

inline constexpr const char* kObject = "/org/mpris/MediaPlayer2";
inline constexpr const char* kRoot = "org.mpris.MediaPlayer2";
inline constexpr const char* kPlayerInterface = "org.mpris.MediaPlayer2.Player";
inline constexpr const char* kTrackList = "org.mpris.MediaPlayer2.TrackList";
inline constexpr const char* kProperties = "org.freedesktop.DBus.Properties";
inline constexpr const char* kNoTrack = "/org/mpris/MediaPlayer2/TrackList/NoTrack";
inline constexpr std::uint64_t kTimeoutUs =
    std::chrono::duration_cast<std::chrono::microseconds>(MprisBackend::kTimeout).count();

inline PlayState playState(std::string_view status)
{
    if (status == "Playing")
        return PlayState::Playing;
    return status == "Paused" ? PlayState::Paused : PlayState::Stopped;
}

inline std::uint64_t monotonicNowUs()
{
    timespec now{};
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<std::uint64_t>(now.tv_sec) * 1'000'000 +
           static_cast<std::uint64_t>(now.tv_nsec) / 1000;
}

/** MPRIS's Volume (1.0 is full) in whole percent. */
inline int volumePercent(double volume)
{
    return static_cast<int>(std::lround(std::clamp(volume, 0.0, 1.0) * 100));
}

inline std::uint32_t milliseconds(std::int64_t microseconds)
{
    return static_cast<std::uint32_t>(std::clamp<std::int64_t>(microseconds / 1000, 0, UINT32_MAX));
}

} // namespace mpris_detail

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

template <typename... Args>
void MprisBackend::setProperty(const Op& op, const char* name, std::function<void(bool)> then,
                               const char* type, Args... arguments)
{
    call(
        op, mpris_detail::kProperties, "Set",
        [then = std::move(then)](Answer answer) { then(bool(answer)); }, "ssv",
        mpris_detail::kPlayerInterface, name, type, arguments...);
}

template <typename Work> void MprisBackend::statusAfter(PlayerDone& done, Work&& work)
{
    const auto op = begin(std::move(done));
    withPlayer(op, [this, op, work = std::forward<Work>(work)] {
        work(op, [this, op] {
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

} // namespace zelvor
