// SPDX-License-Identifier: MIT
#pragma once

#include "player/ChangeWatchers.h"
#include "player/mpris/MprisMessages.h"
#include "player/mpris/MprisNames.h"
#include "player/Player.h"
#include "player/PlayerLoop.h"

#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include <systemd/sd-bus.h>
#include <sys/types.h>

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
 * DBUS_SESSION_BUS_ADDRESS, else the user's). One bus connection is kept for the program's life
 * (opened again at the next command line should the bus go away); its descriptor and timeout are
 * watched by the program's event loop, and every call goes out at once and answers later from
 * the loop, within two seconds. The players on the bus are followed from NameOwnerChanged; the
 * player is chosen once per command line from the location (see choosePlayer and pickPlayer).
 * Once the player did not answer in time or left the bus, the operation answers NoPlayer. What
 * the player does not offer (no Shuffle, no LoopStatus, no Volume, no track list to edit)
 * answers NotOffered and changes nothing. Without a session bus every operation answers
 * NoPlayer, and a status word says so once.
 */
class MprisBackend : public Player
{
public:
    MprisBackend(PlayerLoop& loop, MprisSetup setup);
    ~MprisBackend() override;
    MprisBackend(const MprisBackend&) = delete;
    MprisBackend& operator=(const MprisBackend&) = delete;

    void play(PlayerDone done) override;
    void stop(PlayerDone done) override;
    /** Pause or Play by PlaybackStatus; a stopped player stays stopped. */
    void pause(PlayerDone done) override;
    void next(PlayerDone done) override;
    void previous(PlayerDone done) override;
    /** Volume read once and written once, moved by 0.01 a step; done once the player told the
     * new volume (at most kSettleLimit). */
    void stepVolume(int steps, PlayerDone done) override;
    /** Shuffle swapped. */
    void toggleShuffle(PlayerDone done) override;
    /** LoopStatus None and Playlist swapped. */
    void toggleRepeat(PlayerDone done) override;
    /** Removes every track (RemoveTrack), the track list read once. */
    void clear(PlayerDone done) override;
    /** A file or every sound file below a folder (name order) through AddTrack at the track
     * list's end, each after the one added before it (as TrackAdded names it), the track list
     * read once; a playlist file, or any path on a player without an editable track list, as
     * the player's rule says (OpenUri with an address or a plain path, Audacious's AddList).
     * NotOffered with its reason where the player takes no files (or no folders) that way,
     * Failed with the player's refusal. */
    void add(const std::string& hostPath, PlayerDone done) override;
    /** Done when the player is on the bus; else starts the location's program and answers once
     * its player takes its name (at most kStartLimit); Failed when there is nothing to start,
     * it failed or its player never came. */
    void open(const std::string& location, PlayerDone done) override;
    /** Quit, or the end of the program "open" started; NotOffered when neither is there. */
    void close(PlayerDone done) override;

    /** The version is the MPRIS interface's, 2.2 (20200). */
    void status(PlayerDone done) override;
    void queue(std::uint32_t first, std::uint32_t count, PlayerDone done) override;
    /** GoTo the track at the position in Tracks; without a track list only the status. */
    void jumpTo(std::uint32_t position, PlayerDone done) override;
    /** Sets Volume (1.0 is 100 %); the reply shows the volume PropertiesChanged tells (at
     * most kSettleLimit, then the volume asked for). */
    void setVolume(int percent, PlayerDone done) override;
    /** SetPosition with the current mpris:trackid; the reply shows where Seeked says the
     * player went (at most kSettleLimit, then the time asked for). */
    void seekTo(std::uint32_t milliseconds, PlayerDone done) override;
    /** Seek by the offset; SetPosition where the player refuses Seek. */
    void seekBy(std::int64_t offset, std::uint32_t to, PlayerDone done) override;

    /** Pause: some players empty their playlist on Stop. */
    void stopForSleep(PlayerDone done) override;
    void beginCommandLine() override;
    void endCommandLine() override;
    /** PropertiesChanged (PlaybackStatus, Metadata) and Seeked of any MPRIS player, a player
     * taking or leaving its name, and once every kChangePoll for players that tell nothing. */
    std::unique_ptr<PlayerWatch> watchChanges(std::function<void()> changed) override;

    static constexpr std::chrono::milliseconds kTimeout{2000};
    static constexpr std::chrono::milliseconds kChangePoll{1000};
    static constexpr std::chrono::milliseconds kStartLimit{5000};
    /** How long a seek or a volume waits for the player's word of it. */
    static constexpr std::chrono::milliseconds kSettleLimit{300};

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
        /** The player is not there, or did not answer in time. */
        bool gone = false;
        /** The error's name and message, when the player answered with one. */
        std::string error;
        std::string reason;
        explicit operator bool() const { return reply != nullptr; }
    };
    using Then = std::function<void(Answer)>;
    struct Pending;
    struct Operation;
    using Op = std::shared_ptr<Operation>;
    struct Load;
    struct ChangeWait;
    struct Start;
    using Tracks = std::optional<std::vector<std::string>>;

    Op begin(PlayerDone done);
    void end(const Op& op, PlayerAnswer answer);
    void finish(const Op& op, Outcome outcome = Outcome::Done);
    template <typename Work> void command(PlayerDone& done, Work&& work);
    template <typename Work> void statusAfter(PlayerDone& done, Work&& work);
    void method(const char* member, PlayerDone& done);

    bool openBus();
    void closeBus();
    void rearm();
    void onBusReady();
    static int onReply(sd_bus_message* reply, void* data, sd_bus_error* error);
    static int onOwnerChanged(sd_bus_message* signal, void* data, sd_bus_error* error);
    void listNames(std::function<void()> then);
    void whenNamesKnown(std::function<void()> then);
    void withPlayer(const Op& op, std::function<void()> then);
    void choose(const Op& op, const PlayerChoice& choice, bool listed, std::function<void()> then);
    void mostActive(const Op& op, std::vector<std::string> names, std::function<void()> then);
    void chosen(const Op& op, const std::string& name, const std::function<void()>& then);

    Message request(const char* destination, const char* interface, const char* member);
    void send(const Op& op, Message request, Then then, bool goneEnds = true);
    template <typename... Args>
    void call(const Op& op, const char* interface, const char* member, Then then,
              const char* types = nullptr, Args... arguments);
    template <typename... Args>
    void setProperty(const Op& op, const char* name, std::function<void(bool)> then,
                     const char* type, Args... arguments);
    void snapshot(const Op& op, std::function<void(const Snapshot*)> then);
    void abilities(const Op& op, std::function<void(const Abilities*)> then);
    void canEditTracks(const Op& op, std::function<void(bool)> then);
    void tracks(const Op& op, std::function<void(Tracks)> then);
    void currentStatus(const Op& op, std::function<void(std::optional<PlayerStatus>, Tracks)> then);
    void pauseOrResume(const Op& op);
    void shuffleSwapped(const Op& op);
    void loopSwapped(const Op& op);
    void volumeStepped(const Op& op, int steps);
    void writeVolume(const Op& op, int percent, double from, std::function<void(bool, int)> then);
    void closePlayer(const Op& op);
    void clearTracks(const Op& op);
    void removeNext(const Op& op, std::shared_ptr<std::vector<std::string>> left);
    void addTracks(const Op& op, const std::string& path);
    void handOver(const Op& op, const std::string& path);
    void seek(std::optional<std::int64_t> offset, std::uint32_t milliseconds, PlayerDone& done);
    static int onTrackAdded(sd_bus_message* signal, void* data, sd_bus_error* error);
    static int onSeeked(sd_bus_message* signal, void* data, sd_bus_error* error);
    static int onVolumeChanged(sd_bus_message* signal, void* data, sd_bus_error* error);
    void awaitChange(const std::shared_ptr<ChangeWait>& wait);
    static std::uint32_t seekShown(const ChangeWait& wait, const std::string& player,
                                   std::uint32_t asked);
    void addNext(const Op& op, const std::shared_ptr<Load>& load);
    void launch(const Op& op, const std::string& location);
    void started(const std::string& busName);
    void watchSignals(bool watched);
    void tick();
    static int onPlayerSignal(sd_bus_message* signal, void* data, sd_bus_error* error);

    PlayerLoop& m_loop;
    MprisSetup m_setup;
    sd_bus* m_bus = nullptr;
    PlayerLoop::Id m_watch = 0;
    PlayerLoop::Id m_timer = 0;
    std::uint64_t m_timerAt = 0;
    bool m_processing = false;
    std::uint64_t m_nextCall = 1;
    std::map<std::uint64_t, std::unique_ptr<Pending>> m_pending;
    sd_bus_slot* m_ownerMatch = nullptr;
    /** The MPRIS players on the bus, once listed; kept from NameOwnerChanged. */
    std::set<std::string> m_names;
    bool m_namesKnown = false;
    bool m_listing = false;
    std::vector<std::function<void()>> m_namesWaiting;
    /** The opens waiting for their player to take its name. */
    std::vector<std::shared_ptr<Start>> m_starting;
    // What one command line found out once: its player and the player's root properties.
    std::uint64_t m_line = 0;
    bool m_inLine = false;
    std::optional<std::string> m_linePlayer;
    std::optional<Abilities> m_lineAbilities;
    /** The volume this command line wrote last: the steps of volup go on from it. */
    std::optional<double> m_lineVolume;
    bool m_toldNoBus = false;
    pid_t m_started = -1;
    // Following changes: the signal matches and the poll, while someone watches.
    ChangeWatchers m_watchers;
    sd_bus_slot* m_propertiesMatch = nullptr;
    sd_bus_slot* m_seekedMatch = nullptr;
    PlayerLoop::Id m_tick = 0;
    /** The settle timers check it, so one that runs after the backend is gone does nothing. */
    std::shared_ptr<bool> m_alive = std::make_shared<bool>(true);
};

} // namespace zelvor
