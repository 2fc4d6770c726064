// SPDX-License-Identifier: MIT
#include "player/mpris/MprisBackend.h"

#include "player/mpris/MprisMessages.h"
#include "player/PlayerText.h"
#include "player/ProgramLauncher.h"

#include <systemd/sd-bus.h>

#include <algorithm>
#include <cmath>
#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string_view>
#include <thread>

#include <signal.h>

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

std::uint32_t milliseconds(std::int64_t microseconds)
{
    return static_cast<std::uint32_t>(std::clamp<std::int64_t>(microseconds / 1000, 0, UINT32_MAX));
}

} // namespace

void MprisBackend::MessageUnref::operator()(sd_bus_message* message) const
{
    sd_bus_message_unref(message);
}

MprisBackend::MprisBackend(MprisSetup setup) : m_setup(std::move(setup)) {}

MprisBackend::~MprisBackend()
{
    if (m_bus != nullptr)
        sd_bus_flush_close_unref(m_bus);
}

void MprisBackend::beginCommandLine()
{
    forget();
    m_inLine = true;
}

void MprisBackend::endCommandLine()
{
    forget();
    m_inLine = false;
}

void MprisBackend::forget()
{
    m_volumeWritten.reset();
    m_player.reset();
    m_snapshot.reset();
    m_abilities.reset();
}

// An operation outside a command line is a line of its own.
template <typename Work> std::int32_t MprisBackend::operate(Work&& work)
{
    const bool ownLine = !m_inLine;
    if (ownLine)
        beginCommandLine();
    // Once the player stopped answering, the rest of the operation is not asked.
    m_lineFailed = false;
    std::int32_t answer = -1;
    if (player() != nullptr) {
        const std::int32_t result = work();
        answer = m_lineFailed ? -1 : result;
    }
    if (ownLine)
        endCommandLine();
    return answer;
}

template <typename Work, typename Adjust>
void MprisBackend::statusAfter(Work&& work, PlayerDone& done, Adjust&& adjust)
{
    std::optional<PlayerStatus> result;
    operate([this, &work, &result, &adjust] {
        work();
        m_snapshot.reset();
        result = currentStatus();
        // What the player's signal told, or what was asked for, over a status read too soon.
        if (result)
            adjust(*result);
        return 0;
    });
    if (m_lineFailed)
        done(PlayerAnswer::of(Outcome::NoPlayer));
    else
        done(result ? PlayerAnswer::with(std::move(*result)) : PlayerAnswer::of(Outcome::Failed));
}

sd_bus* MprisBackend::bus()
{
    if (m_bus != nullptr && sd_bus_is_open(m_bus) > 0)
        return m_bus;
    if (m_bus != nullptr)
        m_bus = sd_bus_flush_close_unref(m_bus);
    sd_bus* opened = nullptr;
    if (sd_bus_open_user(&opened) < 0) {
        if (!m_toldNoBus && m_setup.report)
            m_setup.report("No session bus: MPRIS players cannot be reached");
        m_toldNoBus = true;
        return nullptr;
    }
    sd_bus_set_method_call_timeout(opened, kTimeoutUs);
    m_toldNoBus = false;
    m_bus = opened;
    return m_bus;
}

// The player of this line, found once per line.
const std::string* MprisBackend::player()
{
    if (m_player || m_lineFailed)
        return m_player ? &*m_player : nullptr;
    const auto location = m_setup.location ? m_setup.location() : std::string("mpris");
    m_player = findPlayer(choosePlayer(location, canStartProgram));
    m_lineFailed = !m_player;
    return m_player ? &*m_player : nullptr;
}

std::vector<std::string> MprisBackend::busNames()
{
    std::vector<std::string> names;
    char** acquired = nullptr;
    if (bus() == nullptr || sd_bus_list_names(m_bus, &acquired, nullptr) < 0)
        return names;
    for (char** name = acquired; name != nullptr && *name != nullptr; ++name) {
        if (mprisNameMatches(*name, {}))
            names.emplace_back(*name);
        std::free(*name);
    }
    std::free(acquired);
    std::sort(names.begin(), names.end());
    return names;
}

std::optional<std::string> MprisBackend::findPlayer(const PlayerChoice& choice)
{
    auto names = busNames();
    std::erase_if(names,
                  [&choice](const std::string& n) { return !mprisNameMatches(n, choice.name); });
    if (names.size() <= 1 || !choice.name.empty())
        return names.empty() ? std::nullopt : std::optional<std::string>(names.front());
    return mostActive(names);
}

// Asks every player its PlaybackStatus at once, so one that hangs costs the time limit once.
std::optional<std::string> MprisBackend::mostActive(const std::vector<std::string>& names)
{
    std::vector<BusPlayer> players;
    std::vector<sd_bus_slot*> slots;
    for (const auto& name : names)
        players.push_back({name, {}});
    const auto answered = [](sd_bus_message* reply, void* into, sd_bus_error*) {
        const char* status = nullptr;
        if (!sd_bus_message_is_method_error(reply, nullptr) &&
            sd_bus_message_read(reply, "v", "s", &status) >= 0)
            static_cast<BusPlayer*>(into)->playbackStatus = status;
        else
            static_cast<BusPlayer*>(into)->playbackStatus = "None";
        return 0;
    };
    for (auto& player : players) {
        sd_bus_slot* slot = nullptr;
        if (sd_bus_call_method_async(m_bus, &slot, player.busName.c_str(), kObject, kProperties,
                                     "Get", answered, &player, "ss", kPlayerInterface,
                                     "PlaybackStatus") >= 0)
            slots.push_back(slot);
    }
    const auto deadline = std::chrono::steady_clock::now() + kTimeout;
    const auto allAnswered = [&players] {
        return std::all_of(players.begin(), players.end(),
                           [](const BusPlayer& p) { return !p.playbackStatus.empty(); });
    };
    while (!allAnswered() && std::chrono::steady_clock::now() < deadline) {
        const int processed = sd_bus_process(m_bus, nullptr);
        if (processed < 0)
            break;
        if (processed == 0)
            sd_bus_wait(m_bus, 100000);
    }
    for (sd_bus_slot* slot : slots)
        sd_bus_slot_unref(slot);
    return pickPlayer(std::move(players));
}

MprisBackend::Answer MprisBackend::call(const char* interface, const char* member,
                                        const char* types, ...)
{
    sd_bus_message* request = nullptr;
    if (m_lineFailed || bus() == nullptr ||
        sd_bus_message_new_method_call(m_bus, &request, m_player->c_str(), kObject, interface,
                                       member) < 0) {
        m_lineFailed = true;
        return {};
    }
    if (types != nullptr) {
        va_list arguments;
        va_start(arguments, types);
        const int appended = sd_bus_message_appendv(request, types, arguments);
        va_end(arguments);
        if (appended < 0) {
            sd_bus_message_unref(request);
            return {nullptr, true, {}, {}};
        }
    }
    return finish(request);
}

MprisBackend::Answer MprisBackend::finish(sd_bus_message* request)
{
    sd_bus_error error = SD_BUS_ERROR_NULL;
    sd_bus_message* reply = nullptr;
    const int called = sd_bus_call(m_bus, request, kTimeoutUs, &error, &reply);
    sd_bus_message_unref(request);
    Answer answer{Message(reply), false, {}, {}};
    if (called < 0) {
        answer.refused = !playerGone(sd_bus_error_is_set(&error) ? error.name : nullptr);
        m_lineFailed = !answer.refused;
        if (answer.refused && sd_bus_error_is_set(&error)) {
            answer.error = error.name;
            answer.reason = error.message != nullptr ? error.message : error.name;
        }
    }
    sd_bus_error_free(&error);
    return answer;
}

bool MprisBackend::setProperty(const char* name, const char* type, ...)
{
    sd_bus_message* request = nullptr;
    if (m_lineFailed || bus() == nullptr ||
        sd_bus_message_new_method_call(m_bus, &request, m_player->c_str(), kObject, kProperties,
                                       "Set") < 0 ||
        sd_bus_message_append(request, "ss", kPlayerInterface, name) < 0 ||
        sd_bus_message_open_container(request, 'v', type) < 0) {
        sd_bus_message_unref(request);
        m_lineFailed = true;
        return false;
    }
    va_list arguments;
    va_start(arguments, type);
    const int appended = sd_bus_message_appendv(request, type, arguments);
    va_end(arguments);
    if (appended < 0 || sd_bus_message_close_container(request) < 0) {
        sd_bus_message_unref(request);
        return false;
    }
    m_snapshot.reset();
    return static_cast<bool>(finish(request));
}

std::optional<MprisBackend::Snapshot> MprisBackend::snapshot()
{
    if (m_snapshot)
        return m_snapshot;
    const auto answer = call(kProperties, "GetAll", "s", kPlayerInterface);
    Snapshot now;
    if (!answer || !readPlayerProperties(answer.reply.get(), now))
        return std::nullopt;
    m_snapshot = now;
    return m_snapshot;
}

std::optional<MprisBackend::Abilities> MprisBackend::abilities()
{
    if (m_abilities)
        return m_abilities;
    Abilities now;
    const auto root = call(kProperties, "GetAll", "s", kRoot);
    if (!root)
        return std::nullopt;
    readRootProperties(root.reply.get(), now);
    if (m_lineFailed)
        return std::nullopt;
    m_abilities = now;
    return m_abilities;
}

bool MprisBackend::canEditTracks()
{
    // VLC publishes a track list while HasTrackList says false, and AddTrack adds nothing there:
    // a list is edited only where the player says it has one.
    const auto can = abilities();
    if (!can || !can->hasTrackList)
        return false;
    const auto answer = call(kProperties, "Get", "ss", kTrackList, "CanEditTracks");
    int editable = 0;
    return answer && sd_bus_message_read(answer.reply.get(), "v", "b", &editable) >= 0 &&
           editable != 0;
}

std::optional<std::vector<std::string>> MprisBackend::tracks()
{
    const auto answer = call(kProperties, "Get", "ss", kTrackList, "Tracks");
    char** ids = nullptr;
    if (!answer || sd_bus_message_enter_container(answer.reply.get(), 'v', "ao") < 0 ||
        sd_bus_message_read_strv(answer.reply.get(), &ids) < 0)
        return std::nullopt;
    std::vector<std::string> list;
    for (char** id = ids; id != nullptr && *id != nullptr; ++id) {
        list.emplace_back(*id);
        std::free(*id);
    }
    std::free(ids);
    return list;
}

std::optional<PlayerStatus> MprisBackend::currentStatus()
{
    const auto now = snapshot();
    const auto can = abilities();
    if (!now || !can)
        return std::nullopt;
    PlayerStatus status;
    status.state = playState(now->playbackStatus);
    status.title = displayTitle(now->artist.c_str(), now->title.c_str(), percentDecoded(now->url));
    status.elapsedMs = milliseconds(now->positionUs);
    if (now->lengthUs > 0)
        status.totalMs = milliseconds(now->lengthUs);
    if (now->volume)
        status.volume = static_cast<int>(std::lround(std::clamp(*now->volume, 0.0, 1.0) * 100));
    status.canSeek = now->canSeek;
    status.shuffle = now->shuffle;
    if (now->loopStatus)
        status.repeat = *now->loopStatus != "None";
    // The version of the MPRIS interface the backend speaks.
    status.version = encodeVersion(2, 2, 0);
    const bool current = !now->trackId.empty() && now->trackId != kNoTrack;
    auto list = tracks();
    if (!trackListShown(list.has_value(), list ? list->size() : 0, current))
        list.reset();
    status.queueKnown = list.has_value();
    if (list) {
        status.queueLength = static_cast<std::uint32_t>(list->size());
        if (const auto at = std::find(list->begin(), list->end(), now->trackId);
            current && at != list->end())
            status.position = static_cast<std::uint32_t>(at - list->begin());
    } else if (current || !now->title.empty() || !now->url.empty()) {
        status.position = 0;
    }
    return status;
}

template <typename Step> void MprisBackend::command(Step&& step, PlayerDone& done)
{
    done(answerOf(operate([this, &step] {
        const auto answer = step();
        m_snapshot.reset();
        return answer;
    })));
}

void MprisBackend::method(const char* member, PlayerDone& done)
{
    command(
        [this, member] {
            call(kPlayerInterface, member);
            return 0;
        },
        done);
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
    command([this] { return pauseOrResume(); }, done);
}

void MprisBackend::toggleShuffle(PlayerDone done)
{
    command([this] { return shuffleSwapped(); }, done);
}

void MprisBackend::toggleRepeat(PlayerDone done)
{
    command([this] { return loopSwapped(); }, done);
}

void MprisBackend::stepVolume(int direction, PlayerDone done)
{
    command([this, direction] { return volumeStepped(direction < 0 ? -1 : 1); }, done);
}

void MprisBackend::close(PlayerDone done)
{
    command([this] { return closePlayer(); }, done);
}

void MprisBackend::clear(PlayerDone done)
{
    command([this] { return clearTracks(); }, done);
}

// Pause: some players empty their playlist on Stop.
void MprisBackend::stopForSleep(PlayerDone done)
{
    method("Pause", done);
}

// Pausing toggles between playing and paused; a stopped player stays stopped. mpv started idle
// reports Stopped while it plays what it was handed later: with a current track, Pause goes
// out, which a player that really is stopped ignores.
std::int32_t MprisBackend::pauseOrResume()
{
    const auto now = snapshot();
    if (!now || (now->playbackStatus == "Stopped" && now->trackId.empty()))
        return 0;
    call(kPlayerInterface, now->playbackStatus == "Paused" ? "Play" : "Pause");
    return 0;
}

std::int32_t MprisBackend::shuffleSwapped()
{
    const auto now = snapshot();
    if (!now)
        return 0;
    if (!now->shuffle)
        return kNotOffered;
    return setProperty("Shuffle", "b", static_cast<int>(!*now->shuffle)) ? 0 : kNotOffered;
}

std::int32_t MprisBackend::loopSwapped()
{
    const auto now = snapshot();
    if (!now)
        return 0;
    if (!now->loopStatus)
        return kNotOffered;
    const char* next = *now->loopStatus == "None" ? "Playlist" : "None";
    return setProperty("LoopStatus", "s", next) ? 0 : kNotOffered;
}

// One step is one percent, as on MPD. The volume is read once a line: a player that applies
// it late (VLC) would answer the value from before the step just written.
std::int32_t MprisBackend::volumeStepped(int step)
{
    const auto now = m_volumeWritten ? m_snapshot : snapshot();
    if (!m_volumeWritten && (!now || !now->volume))
        return now ? kNotOffered : 0;
    const double from = m_volumeWritten.value_or(now ? now->volume.value_or(0) : 0);
    const auto percent = std::clamp(std::lround(from * 100) + step, 0L, 100L);
    m_volumeWritten = static_cast<double>(percent) / 100;
    return setProperty("Volume", "d", *m_volumeWritten) ? 0 : kNotOffered;
}

// Quit where the player offers it, else the end of the program "open" started.
std::int32_t MprisBackend::closePlayer()
{
    const auto can = abilities();
    if (!can)
        return 0;
    if (can->canQuit) {
        call(kRoot, "Quit");
    } else if (programAlive(m_started)) {
        ::kill(m_started, SIGTERM);
    } else {
        return kNotOffered;
    }
    m_started = -1;
    // A player that quits may leave the bus before it answers.
    m_lineFailed = false;
    return 0;
}

std::int32_t MprisBackend::clearTracks()
{
    if (!canEditTracks())
        return m_lineFailed ? 0 : kNotOffered;
    const auto list = tracks();
    for (const auto& track : list.value_or(std::vector<std::string>{}))
        if (!m_lineFailed)
            call(kTrackList, "RemoveTrack", "o", track.c_str());
    m_snapshot.reset();
    return 0;
}

void MprisBackend::add(const std::string& path, PlayerDone done)
{
    PlayerAnswer answer;
    const auto code = operate([this, &path, &answer] {
        m_snapshot.reset();
        if (!isPlaylistFile(path) && canEditTracks())
            return addTracks(path);
        answer = handOver(path);
        return 0;
    });
    done(code == kGone ? PlayerAnswer::of(Outcome::NoPlayer) : std::move(answer));
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

// A player without an editable track list gets the files as its rule says (see PlayerRules).
PlayerAnswer MprisBackend::handOver(const std::string& path)
{
    const auto name = m_player->substr(kMprisPrefix.size());
    const auto rule = ruleForBusName(name);
    std::error_code error;
    const bool folder = std::filesystem::is_directory(path, error);
    if (folder && !rule.takesFolders)
        return {Outcome::NotOffered, name + " takes no folders over the bus", {}, {}};
    const bool each = rule.files == FileHandover::AudaciousInterface || !folder;
    const auto files = each ? filesOf(path) : std::vector<std::string>{path};
    sd_bus_message* request = newHandoverCall(m_bus, *m_player, rule.files, files);
    if (request == nullptr)
        return PlayerAnswer::of(Outcome::Failed);
    const auto answer = finish(request);
    if (answer || !answer.refused)
        return {};
    if (answer.error == SD_BUS_ERROR_UNKNOWN_METHOD ||
        answer.error == SD_BUS_ERROR_UNKNOWN_OBJECT || answer.error == SD_BUS_ERROR_SERVICE_UNKNOWN)
        return {Outcome::NotOffered, name + " takes no files over the bus", {}, {}};
    return {Outcome::Failed, answer.reason, {}, {}};
}

// Appends at the track list's end, in name order, without starting playback.
std::int32_t MprisBackend::addTracks(const std::string& path)
{
    const auto files = filesOf(path);
    const auto list = tracks();
    std::string after = list && !list->empty() ? list->back() : kNoTrack;
    for (const auto& file : files) {
        if (m_lineFailed)
            break;
        call(kTrackList, "AddTrack", "sob", fileUri(file).c_str(), after.c_str(), 0);
        // Each new track goes after the one added before it, so the order holds.
        if (const auto now = tracks(); now && !now->empty())
            after = now->back();
    }
    return 0;
}

void MprisBackend::open(const std::string& location, PlayerDone done)
{
    done(PlayerAnswer::of(launch(location) ? Outcome::Done : Outcome::Failed));
}

bool MprisBackend::launch(const std::string& location)
{
    const auto choice = choosePlayer(location, canStartProgram);
    if (operate([] { return 0; }) == 0)
        return true;
    if (choice.program.empty() || bus() == nullptr)
        return false;
    // A copy started before that is not on the bus yet is waited for, not started again.
    if (!programAlive(m_started)) {
        const pid_t started = launchProgram(choice.program);
        if (started < 0)
            return false;
        m_started = started;
    }
    return waitForPlayer(choice);
}

bool MprisBackend::waitForPlayer(const PlayerChoice& choice)
{
    const auto deadline = std::chrono::steady_clock::now() + kStartLimit;
    while (std::chrono::steady_clock::now() < deadline) {
        if (findPlayer(choice))
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return false;
}

void MprisBackend::status(PlayerDone done)
{
    statusAfter([] {}, done);
}

void MprisBackend::queue(std::uint32_t first, std::uint32_t count, PlayerDone done)
{
    std::optional<PlayerAnswer> page;
    operate([this, &page, first, count] {
        const auto now = currentStatus();
        if (!now)
            return 0;
        page = PlayerAnswer::with(*now);
        if (!now->queueKnown || first >= now->queueLength)
            return 0;
        const auto list = tracks().value_or(std::vector<std::string>{});
        const auto end = std::min<std::size_t>(list.size(), std::size_t{first} + count);
        if (first >= end)
            return 0;
        sd_bus_message* request = nullptr;
        if (sd_bus_message_new_method_call(m_bus, &request, m_player->c_str(), kObject, kTrackList,
                                           "GetTracksMetadata") < 0)
            return 0;
        sd_bus_message_open_container(request, 'a', "o");
        for (auto i = std::size_t{first}; i < end; ++i)
            sd_bus_message_append(request, "o", list[i].c_str());
        sd_bus_message_close_container(request);
        const auto answer = finish(request);
        if (!answer || sd_bus_message_enter_container(answer.reply.get(), 'a', "a{sv}") < 0)
            return 0;
        for (auto i = std::size_t{first}; i < end; ++i) {
            Snapshot entry;
            if (!readMetadata(answer.reply.get(), entry))
                break;
            const auto at = std::find(list.begin(), list.end(), entry.trackId);
            page->entries.push_back(
                {static_cast<std::uint32_t>(at != list.end() ? at - list.begin() : i),
                 displayTitle(entry.artist.c_str(), entry.title.c_str(),
                              percentDecoded(entry.url))});
        }
        return 0;
    });
    if (m_lineFailed)
        done(PlayerAnswer::of(Outcome::NoPlayer));
    else
        done(page ? std::move(*page) : PlayerAnswer::of(Outcome::Failed));
}

void MprisBackend::jumpTo(std::uint32_t position, PlayerDone done)
{
    statusAfter(
        [this, position] {
            const auto list = tracks();
            if (list && position < list->size())
                call(kTrackList, "GoTo", "o", (*list)[position].c_str());
        },
        done);
}

namespace {

// The signals settled() waits for: the Player interface's Volume in PropertiesChanged, Seeked.
int volumeNoticed(sd_bus_message* m, void* into, sd_bus_error*)
{
    const char* interface = nullptr;
    PlayerProperties changed;
    if (sd_bus_message_read(m, "s", &interface) >= 0 &&
        std::strcmp(interface, "org.mpris.MediaPlayer2.Player") == 0 &&
        readPlayerProperties(m, changed) && changed.volume) {
        auto* notice = static_cast<MprisBackend::Notice*>(into);
        notice->came = true;
        notice->volume = changed.volume;
    }
    return 0;
}

int seekNoticed(sd_bus_message* m, void* into, sd_bus_error*)
{
    std::int64_t position = 0;
    if (sd_bus_message_read(m, "x", &position) >= 0) {
        auto* notice = static_cast<MprisBackend::Notice*>(into);
        notice->came = true;
        notice->positionUs = position;
    }
    return 0;
}

} // namespace

// Some players apply a change a moment after they answered it (VLC's Volume, Audacious's and
// cmus's seeks), so the status read at once shows the state from before. The change's signal
// ("PropertiesChanged" or "Seeked") is waited for, at most kSettleLimit.
template <typename Change>
MprisBackend::Notice MprisBackend::settled(const char* member, Change&& change)
{
    Notice notice;
    const bool seek = std::strcmp(member, "Seeked") == 0;
    sd_bus_creds* creds = nullptr;
    const char* owner = nullptr;
    sd_bus_slot* slot = nullptr;
    if (sd_bus_get_name_creds(m_bus, m_player->c_str(), SD_BUS_CREDS_UNIQUE_NAME, &creds) >= 0 &&
        sd_bus_creds_get_unique_name(creds, &owner) >= 0)
        sd_bus_match_signal(m_bus, &slot, owner, kObject, seek ? kPlayerInterface : kProperties,
                            member, seek ? seekNoticed : volumeNoticed, &notice);
    sd_bus_creds_unref(creds);
    change();
    const auto deadline = std::chrono::steady_clock::now() + kSettleLimit;
    while (slot != nullptr && !notice.came && !m_lineFailed) {
        const auto left = std::chrono::duration_cast<std::chrono::microseconds>(
            deadline - std::chrono::steady_clock::now());
        const int processed = left.count() > 0 ? sd_bus_process(m_bus, nullptr) : -1;
        if (processed < 0)
            break;
        if (processed == 0)
            sd_bus_wait(m_bus, static_cast<std::uint64_t>(left.count()));
    }
    sd_bus_slot_unref(slot);
    return notice;
}

void MprisBackend::setVolume(int percent, PlayerDone done)
{
    const double wanted = static_cast<double>(std::clamp(percent, 0, 100)) / 100;
    std::optional<double> volume;
    statusAfter(
        [this, wanted, &volume] {
            const auto now = snapshot();
            if (!now || !now->volume)
                return;
            const auto notice = settled("PropertiesChanged",
                                        [this, wanted] { setProperty("Volume", "d", wanted); });
            volume = notice.volume.value_or(wanted);
        },
        done,
        [&volume](PlayerStatus& after) {
            if (volume)
                after.volume = static_cast<int>(std::lround(std::clamp(*volume, 0.0, 1.0) * 100));
        });
}

void MprisBackend::seekTo(std::uint32_t milliseconds, PlayerDone done)
{
    seek(std::nullopt, milliseconds, done);
}

// Seek moves from where the player is by its own count (Audacious's Position lags behind it).
void MprisBackend::seekBy(std::int64_t offset, std::uint32_t to, PlayerDone done)
{
    seek(offset, to, done);
}

// SetPosition to the time, or Seek by the offset, which lands at the time by the caller's count.
void MprisBackend::seek(std::optional<std::int64_t> offset, std::uint32_t milliseconds,
                        PlayerDone& done)
{
    std::optional<std::int64_t> position;
    statusAfter(
        [this, offset, milliseconds, &position] {
            // Track ids differ from player to player and from track to track: read it each time.
            m_snapshot.reset();
            const auto now = snapshot();
            if (!now || !now->canSeek || now->trackId.empty())
                return;
            const auto notice = settled("Seeked", [this, &now, offset, milliseconds] {
                // A player without Seek refuses it; it still has SetPosition.
                if (offset && !call(kPlayerInterface, "Seek", "x", *offset * 1000).refused)
                    return;
                call(kPlayerInterface, "SetPosition", "ox", now->trackId.c_str(),
                     static_cast<std::int64_t>(milliseconds) * 1000);
            });
            const bool told =
                ruleForBusName(m_player->substr(kMprisPrefix.size())).seekedTellsNewPosition;
            const std::int64_t asked = std::int64_t{milliseconds} * 1000;
            position = told ? notice.positionUs.value_or(asked) : asked;
            // A player lands on its nearest frame (mpv: 59.98 s for 1:00); within a second of
            // the time asked for, that time is the answer.
            if (std::llabs(*position - asked) < 1'000'000)
                position = asked;
        },
        done,
        [&position](PlayerStatus& after) {
            if (position)
                after.elapsedMs = static_cast<std::uint32_t>(
                    std::clamp<std::int64_t>(*position / 1000, 0, UINT32_MAX));
        });
}

} // namespace zelvor
