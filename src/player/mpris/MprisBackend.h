// SPDX-License-Identifier: MIT
#pragma once

#include "player/mpris/MprisMessages.h"
#include "player/mpris/MprisNames.h"
#include "player/Player.h"

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include <sys/types.h>

struct sd_bus;
struct sd_bus_message;

namespace zelvor {

/** What the MPRIS backend needs from the program around it. */
struct MprisSetup
{
    /** The player location at the moment of the call (see choosePlayer). */
    std::function<std::string()> location;
    /** Shows a status word. */
    std::function<void(const std::string&)> report;
};

/**
 * The player operations carried out on an MPRIS player on the session bus (sd-bus, the bus of
 * DBUS_SESSION_BUS_ADDRESS, else the user's). The player is found afresh for each command line
 * from the location (see choosePlayer and pickPlayer). One bus connection is kept open; every call
 * waits at most two seconds. Once the player did not answer in time or left the bus, every
 * further operation of the line answers -1 at once. What the player does not offer (no Shuffle,
 * no LoopStatus, no Volume, no track list to edit) answers kNotOffered and changes nothing.
 * Without a session bus every operation answers -1, and a status word says so once.
 */
class MprisBackend : public Player
{
public:
    explicit MprisBackend(MprisSetup setup);
    ~MprisBackend() override;
    MprisBackend(const MprisBackend&) = delete;
    MprisBackend& operator=(const MprisBackend&) = delete;

    /** 40045 Play, 40046 Pause or Play by PlaybackStatus (a stopped player stays stopped),
     * 40047 Stop, 40048 Next, 40044 Previous, 40023 Shuffle toggled, 40022 LoopStatus None and
     * Playlist swapped, 40058/40059 Volume +-0.01, 40001 Quit (or ends the program "open"
     * started); any other id does nothing. */
    std::int32_t WinampCommand(std::int32_t id) override;
    /** 0 the MPRIS version (20200), 104 play state (1 play, 3 pause, 0 stop), 250 Shuffle, 251
     * LoopStatus other than None, 101 removes every track (RemoveTrack) and answers 0. */
    std::int32_t WinampQuery(std::int32_t data, std::int16_t id) override;
    /** A file or every sound file below a folder (name order) through AddTrack at the track
     * list's end; a playlist file, or any path on a player without an editable track list,
     * through OpenUri. */
    std::int32_t WinampPlayFile(const std::string& path) override;
    /** 0 when the player is on the bus; else starts the location's program and waits until its
     * player appears (at most kStartLimit); -1 when there is nothing to start or it failed. */
    std::int32_t LaunchWinamp(const std::string& path) override;

    std::optional<PlayerStatus> status() override;
    std::optional<QueuePage> queue(std::uint32_t first, std::uint32_t count) override;
    /** GoTo the track at the position in Tracks; without a track list only the status. */
    std::optional<PlayerStatus> jumpTo(std::uint32_t position) override;
    /** Sets Volume (1.0 is 100 %). */
    std::optional<PlayerStatus> setVolume(int percent) override;
    /** SetPosition with the current mpris:trackid. */
    std::optional<PlayerStatus> seekTo(std::uint32_t milliseconds) override;

    /** Pause: some players empty their playlist on Stop. */
    std::int32_t stopForSleep() override;
    void beginCommandLine() override;
    void endCommandLine() override;

    static constexpr std::chrono::milliseconds kTimeout{2000};
    static constexpr std::chrono::seconds kStartLimit{5};

    using Snapshot = PlayerProperties;
    using Abilities = RootProperties;

private:
    struct MessageUnref
    {
        void operator()(sd_bus_message* message) const;
    };
    using Message = std::unique_ptr<sd_bus_message, MessageUnref>;
    /** A reply, or what became of the call. */
    struct Answer
    {
        Message reply;
        /** The player answered with an error: it is there but refused. */
        bool refused = false;
        explicit operator bool() const { return reply != nullptr; }
    };

    template <typename Work> std::int32_t operate(Work&& work);
    template <typename Work> std::optional<PlayerStatus> statusAfter(Work&& work);
    sd_bus* bus();
    const std::string* player();
    std::optional<std::string> findPlayer(const PlayerChoice& choice);
    std::optional<std::string> mostActive(const std::vector<std::string>& names);
    std::vector<std::string> busNames();
    Answer call(const char* interface, const char* member, const char* types = nullptr, ...);
    Answer finish(sd_bus_message* request);
    bool setProperty(const char* name, const char* type, ...);
    std::optional<Snapshot> snapshot();
    std::optional<Abilities> abilities();
    bool canEditTracks();
    std::optional<std::vector<std::string>> tracks();
    std::optional<PlayerStatus> currentStatus();
    std::int32_t runCommand(std::int32_t id);
    std::int32_t pauseOrResume();
    std::int32_t toggleShuffle();
    std::int32_t toggleLoop();
    std::int32_t stepVolume(int step);
    std::int32_t closePlayer();
    std::int32_t query(std::int16_t id);
    std::int32_t clearTracks();
    std::int32_t addTracks(const std::string& path);
    bool waitForPlayer(const PlayerChoice& choice);
    void forget();

    MprisSetup m_setup;
    sd_bus* m_bus = nullptr;
    std::optional<std::string> m_player;
    std::optional<Snapshot> m_snapshot;
    std::optional<Abilities> m_abilities;
    bool m_inLine = false;
    bool m_lineFailed = false;
    bool m_toldNoBus = false;
    pid_t m_started = -1;
};

} // namespace zelvor
