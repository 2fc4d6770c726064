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
 * waits at most two seconds. Once the player did not answer in time or left the bus, the
 * operation answers NoPlayer. What the player does not offer (no Shuffle, no LoopStatus, no
 * Volume, no track list to edit) answers NotOffered and changes nothing. Without a session bus
 * every operation answers NoPlayer, and a status word says so once.
 */
class MprisBackend : public Player
{
public:
    explicit MprisBackend(MprisSetup setup);
    ~MprisBackend() override;
    MprisBackend(const MprisBackend&) = delete;
    MprisBackend& operator=(const MprisBackend&) = delete;

    void play(PlayerDone done) override;
    void stop(PlayerDone done) override;
    /** Pause or Play by PlaybackStatus; a stopped player stays stopped. */
    void pause(PlayerDone done) override;
    void next(PlayerDone done) override;
    void previous(PlayerDone done) override;
    /** Volume +-0.01. */
    void stepVolume(int direction, PlayerDone done) override;
    /** Shuffle swapped. */
    void toggleShuffle(PlayerDone done) override;
    /** LoopStatus None and Playlist swapped. */
    void toggleRepeat(PlayerDone done) override;
    /** Removes every track (RemoveTrack). */
    void clear(PlayerDone done) override;
    /** A file or every sound file below a folder (name order) through AddTrack at the track
     * list's end; a playlist file, or any path on a player without an editable track list,
     * through OpenUri. */
    void add(const std::string& hostPath, PlayerDone done) override;
    /** Done when the player is on the bus; else starts the location's program and waits until
     * its player appears (at most kStartLimit); Failed when there is nothing to start or it
     * failed. */
    void open(const std::string& location, PlayerDone done) override;
    /** Quit, or the end of the program "open" started. */
    void close(PlayerDone done) override;

    /** The version is the MPRIS interface's, 2.2 (20200). */
    void status(PlayerDone done) override;
    void queue(std::uint32_t first, std::uint32_t count, PlayerDone done) override;
    /** GoTo the track at the position in Tracks; without a track list only the status. */
    void jumpTo(std::uint32_t position, PlayerDone done) override;
    /** Sets Volume (1.0 is 100 %). */
    void setVolume(int percent, PlayerDone done) override;
    /** SetPosition with the current mpris:trackid. */
    void seekTo(std::uint32_t milliseconds, PlayerDone done) override;
    /** Seek by the offset. */
    void seekBy(std::int64_t offset, std::uint32_t to, PlayerDone done) override;

    /** Pause: some players empty their playlist on Stop. */
    void stopForSleep(PlayerDone done) override;
    void beginCommandLine() override;
    void endCommandLine() override;

    static constexpr std::chrono::milliseconds kTimeout{2000};
    static constexpr std::chrono::seconds kStartLimit{5};
    /** How long a change waits for the player's signal that it took effect. */
    static constexpr std::chrono::milliseconds kSettleLimit{300};

    using Snapshot = PlayerProperties;
    using Abilities = RootProperties;

    /** What the player's signal told of a change it applied (see settled). */
    struct Notice
    {
        bool came = false;
        std::optional<double> volume;
        std::optional<std::int64_t> positionUs;
    };

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
        /** The error's name and message, when it refused. */
        std::string error;
        std::string reason;
        explicit operator bool() const { return reply != nullptr; }
    };

    template <typename Work> std::int32_t operate(Work&& work);
    template <typename Work, typename Adjust = void (*)(PlayerStatus&)>
    void statusAfter(
        Work&& work, PlayerDone& done, Adjust&& adjust = [](PlayerStatus&) {});
    template <typename Step> void command(Step&& step, PlayerDone& done);
    void method(const char* member, PlayerDone& done);
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
    std::int32_t pauseOrResume();
    std::int32_t shuffleSwapped();
    std::int32_t loopSwapped();
    std::int32_t volumeStepped(int step);
    void seek(std::optional<std::int64_t> offset, std::uint32_t milliseconds, PlayerDone& done);
    template <typename Change> Notice settled(const char* member, Change&& change);
    std::int32_t closePlayer();
    bool launch(const std::string& location);
    std::int32_t clearTracks();
    std::int32_t addTracks(const std::string& path);
    PlayerAnswer handOver(const std::string& path);
    bool waitForPlayer(const PlayerChoice& choice);
    void forget();

    MprisSetup m_setup;
    sd_bus* m_bus = nullptr;
    std::optional<std::string> m_player;
    std::optional<Snapshot> m_snapshot;
    /** The volume this command line wrote last: the steps of volup go on from it. */
    std::optional<double> m_volumeWritten;
    std::optional<Abilities> m_abilities;
    bool m_inLine = false;
    bool m_lineFailed = false;
    bool m_toldNoBus = false;
    pid_t m_started = -1;
};

} // namespace zelvor
