// SPDX-License-Identifier: MIT
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <systemd/sd-bus.h>
#include <sys/types.h>

namespace zelvor::test {

/** A dbus-daemon of the test's own; while it lives, DBUS_SESSION_BUS_ADDRESS points at it. */
class PrivateSessionBus
{
public:
    PrivateSessionBus();
    ~PrivateSessionBus();
    PrivateSessionBus(const PrivateSessionBus&) = delete;
    PrivateSessionBus& operator=(const PrivateSessionBus&) = delete;

    /** Empty when the daemon did not start. */
    const std::string& address() const { return m_address; }

private:
    pid_t m_daemon = -1;
    std::string m_address;
    std::optional<std::string> m_previous;
};

/** One entry of the stand-in's track list. */
struct StandInTrack
{
    std::string id;
    std::string url;
    std::string title;
    std::string artist;
    std::int64_t lengthUs = 0;
};

/** What the stand-in player offers and how it behaves. */
struct StandInOptions
{
    /** The bus name after "org.mpris.MediaPlayer2.". */
    std::string name = "standin";
    bool shuffle = true;
    bool loopStatus = true;
    bool volume = true;
    bool trackList = true;
    bool canSeek = true;
    bool canQuit = true;
    /** Names each track AddTrack added in a TrackAdded signal, before the reply. */
    bool tellsAdded = true;
    /** Takes its name but never answers a call. */
    bool hangs = false;
    /** Answers SetPosition first and moves only once the test next reads its state, as mpv
     * seeks on its next turn. */
    bool seeksLater = false;
    /** Offers Seek, and tells where each seek went in a Seeked signal, as Audacious does. */
    bool tellsSeeked = false;
    /** Answers Set Volume first and applies it, to the nearest twentieth, 50 ms later, telling
     * it then in PropertiesChanged, as VLC applies a volume a moment after. Otherwise the
     * volume is applied and told at once, before the reply. */
    bool volumeLater = false;
    /** Leaves the bus, without an answer, when a call of this member arrives. */
    std::string leavesOn;
};

/**
 * An MPRIS player for the tests: the root, Player and TrackList interfaces on its own bus
 * connection and thread. It keeps a track list, plays nothing, and records each call as
 * "Member args" ("Play", "Set Volume 0.4", "AddTrack file:///a.ogg /t/2 false").
 */
class MprisStandIn
{
public:
    explicit MprisStandIn(StandInOptions options = {});
    ~MprisStandIn();
    MprisStandIn(const MprisStandIn&) = delete;
    MprisStandIn& operator=(const MprisStandIn&) = delete;

    /** False when it could not take its name on the bus. */
    bool ready() const { return m_ready; }
    /** True once it was told to Quit or left the bus. */
    bool stopped() const { return m_stop; }
    /** The calls since the last take, property reads left out. */
    std::vector<std::string> takeCalls();
    /** How often the track list was read since the last take. */
    int trackListReads();

    // The player's state, read and set by the test.
    struct State
    {
        std::string playbackStatus = "Stopped";
        std::string loopStatus = "None";
        bool shuffle = false;
        double volume = 0.5;
        std::int64_t positionUs = 0;
        std::vector<StandInTrack> tracks;
        /** Index into tracks; -1 when there is no current track. */
        int current = -1;
    };
    State state();
    void setState(const State& state);

private:
    static int handle(sd_bus_message* m, void* self, sd_bus_error* error);
    int dispatch(sd_bus_message* m);
    int reply(sd_bus_message* m, const std::string& interface, const std::string& member);
    int appendProperties(sd_bus_message* reply, const std::string& interface,
                         const std::string& only);
    int setProperty(sd_bus_message* m);
    void record(std::string call);
    void seekTo(std::int64_t position);
    void tellVolume();
    void applyLateVolume();
    void run();

    StandInOptions m_options;
    sd_bus* m_bus = nullptr;
    bool m_ready = false;
    std::atomic<bool> m_stop{false};
    std::mutex m_mutex;
    State m_state;
    std::vector<std::string> m_calls;
    int m_nextTrack = 1;
    std::optional<std::int64_t> m_seekTo;
    std::optional<double> m_volumeTo;
    std::chrono::steady_clock::time_point m_volumeAt;
    int m_trackListReads = 0;
    std::thread m_thread;
};

} // namespace zelvor::test
