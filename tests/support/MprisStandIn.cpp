// SPDX-License-Identifier: MIT
#include "support/MprisStandIn.h"

#include <systemd/sd-bus.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <utility>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace zelvor::test {

namespace {

constexpr const char* kObject = "/org/mpris/MediaPlayer2";
constexpr const char* kRoot = "org.mpris.MediaPlayer2";
constexpr const char* kPlayer = "org.mpris.MediaPlayer2.Player";
constexpr const char* kTrackList = "org.mpris.MediaPlayer2.TrackList";
constexpr const char* kProperties = "org.freedesktop.DBus.Properties";

// The first line the daemon prints, waited for at most ten seconds.
std::string readLine(int fd)
{
    std::string line;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (line.find('\n') == std::string::npos && std::chrono::steady_clock::now() < deadline) {
        pollfd ready{fd, POLLIN, 0};
        if (::poll(&ready, 1, 100) <= 0)
            continue;
        char chunk[256];
        const ssize_t got = ::read(fd, chunk, sizeof chunk);
        if (got <= 0)
            break;
        line.append(chunk, static_cast<std::size_t>(got));
    }
    return line.substr(0, line.find('\n'));
}

int appendMetadata(sd_bus_message* m, const StandInTrack* track)
{
    int r = sd_bus_message_open_container(m, 'a', "{sv}");
    if (track != nullptr && r >= 0) {
        r = sd_bus_message_append(m, "{sv}{sv}{sv}{sv}", "mpris:trackid", "o", track->id.c_str(),
                                  "xesam:url", "s", track->url.c_str(), "mpris:length", "x",
                                  track->lengthUs, "xesam:title", "s", track->title.c_str());
        if (r >= 0 && !track->artist.empty())
            r = sd_bus_message_append(m, "{sv}", "xesam:artist", "as", 1, track->artist.c_str());
    }
    return r < 0 ? r : sd_bus_message_close_container(m);
}

} // namespace

PrivateSessionBus::PrivateSessionBus()
{
    int pipe[2];
    if (::pipe2(pipe, O_CLOEXEC) != 0)
        return;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipe[1], STDOUT_FILENO);
    // It complains on stderr that it may not raise its file limit as a plain user.
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    char program[] = "dbus-daemon";
    char session[] = "--session";
    char nofork[] = "--nofork";
    char print[] = "--print-address=1";
    char* argv[] = {program, session, nofork, print, nullptr};
    if (::posix_spawnp(&m_daemon, program, &actions, nullptr, argv, environ) != 0)
        m_daemon = -1;
    posix_spawn_file_actions_destroy(&actions);
    ::close(pipe[1]);
    if (m_daemon > 0)
        m_address = readLine(pipe[0]);
    ::close(pipe[0]);
    if (const char* previous = std::getenv("DBUS_SESSION_BUS_ADDRESS"))
        m_previous = previous;
    if (!m_address.empty())
        ::setenv("DBUS_SESSION_BUS_ADDRESS", m_address.c_str(), 1);
}

PrivateSessionBus::~PrivateSessionBus()
{
    if (m_previous)
        ::setenv("DBUS_SESSION_BUS_ADDRESS", m_previous->c_str(), 1);
    else
        ::unsetenv("DBUS_SESSION_BUS_ADDRESS");
    if (m_daemon > 0) {
        ::kill(m_daemon, SIGTERM);
        int status = 0;
        ::waitpid(m_daemon, &status, 0);
    }
}

MprisStandIn::MprisStandIn(StandInOptions options) : m_options(std::move(options))
{
    const std::string name = "org.mpris.MediaPlayer2." + m_options.name;
    if (sd_bus_open_user(&m_bus) < 0)
        return;
    if (sd_bus_add_object(m_bus, nullptr, kObject, &MprisStandIn::handle, this) < 0 ||
        sd_bus_request_name(m_bus, name.c_str(), 0) < 0)
        return;
    m_ready = true;
    m_thread = std::thread([this] { run(); });
}

MprisStandIn::~MprisStandIn()
{
    m_stop = true;
    if (m_thread.joinable())
        m_thread.join();
    if (m_bus != nullptr)
        sd_bus_flush_close_unref(m_bus);
}

void MprisStandIn::run()
{
    while (!m_stop) {
        if (m_options.hangs) {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
            continue;
        }
        const int processed = sd_bus_process(m_bus, nullptr);
        if (processed < 0)
            return;
        applyLateVolume();
        if (processed == 0)
            sd_bus_wait(m_bus, 20000);
    }
}

std::vector<std::string> MprisStandIn::takeCalls()
{
    std::lock_guard lock(m_mutex);
    return std::exchange(m_calls, {});
}

MprisStandIn::State MprisStandIn::state()
{
    std::lock_guard lock(m_mutex);
    if (m_seekTo)
        m_state.positionUs = *std::exchange(m_seekTo, std::nullopt);
    return m_state;
}

void MprisStandIn::setState(const State& state)
{
    std::lock_guard lock(m_mutex);
    m_state = state;
}

int MprisStandIn::trackListReads()
{
    std::lock_guard lock(m_mutex);
    return std::exchange(m_trackListReads, 0);
}

void MprisStandIn::record(std::string call)
{
    m_calls.push_back(std::move(call));
}

int MprisStandIn::handle(sd_bus_message* m, void* self, sd_bus_error*)
{
    return static_cast<MprisStandIn*>(self)->dispatch(m);
}

int MprisStandIn::dispatch(sd_bus_message* m)
{
    const char* interface = sd_bus_message_get_interface(m);
    const char* member = sd_bus_message_get_member(m);
    if (interface == nullptr || member == nullptr)
        return 0;
    if (member == m_options.leavesOn) {
        sd_bus_close(m_bus);
        m_stop = true;
        return 1;
    }
    std::lock_guard lock(m_mutex);
    return reply(m, interface, member);
}

// Called with the state's lock held, as reply() is.
void MprisStandIn::seekTo(std::int64_t position)
{
    if (m_options.seeksLater)
        m_seekTo = position;
    else
        m_state.positionUs = position;
    if (!m_options.tellsSeeked)
        return;
    // As players do, the signal goes out before the reply.
    sd_bus_emit_signal(m_bus, kObject, kPlayer, "Seeked", "x", position);
}

// Called with the state's lock held.
void MprisStandIn::tellVolume()
{
    sd_bus_message* changed = nullptr;
    if (sd_bus_message_new_signal(m_bus, &changed, kObject, kProperties, "PropertiesChanged") < 0)
        return;
    if (sd_bus_message_append(changed, "sa{sv}as", kPlayer, 1, "Volume", "d", m_state.volume, 0) >=
        0)
        sd_bus_send(m_bus, changed, nullptr);
    sd_bus_message_unref(changed);
}

void MprisStandIn::applyLateVolume()
{
    std::lock_guard lock(m_mutex);
    if (!m_volumeTo || std::chrono::steady_clock::now() < m_volumeAt)
        return;
    m_state.volume = *std::exchange(m_volumeTo, std::nullopt);
    tellVolume();
}

int MprisStandIn::reply(sd_bus_message* m, const std::string& interface, const std::string& member)
{
    auto& s = m_state;
    const bool hasCurrent = s.current >= 0 && s.current < static_cast<int>(s.tracks.size());
    const auto done = [m] { return sd_bus_reply_method_return(m, nullptr); };
    if (interface == kProperties && (member == "Get" || member == "GetAll")) {
        const char* of = nullptr;
        const char* name = "";
        sd_bus_message_read(m, "s", &of);
        if (member == "Get")
            sd_bus_message_read(m, "s", &name);
        if (of != nullptr && std::strcmp(of, kTrackList) == 0 &&
            (member == "GetAll" || std::strcmp(name, "Tracks") == 0))
            ++m_trackListReads;
        sd_bus_message* answer = nullptr;
        sd_bus_message_new_method_return(m, &answer);
        const int r = appendProperties(answer, of, name);
        if (r == -ENOENT) {
            sd_bus_message_unref(answer);
            return sd_bus_reply_method_errorf(m, SD_BUS_ERROR_UNKNOWN_PROPERTY, "no %s", name);
        }
        sd_bus_send(nullptr, answer, nullptr);
        sd_bus_message_unref(answer);
        return 1;
    }
    if (interface == kProperties && member == "Set")
        return setProperty(m);
    if (interface == kRoot && member == "Quit" && m_options.canQuit) {
        record("Quit");
        done();
        sd_bus_flush(m_bus);
        sd_bus_close(m_bus);
        m_stop = true;
        return 1;
    }
    if (interface == kPlayer) {
        if (member == "Play" || member == "Pause" || member == "Stop" || member == "Next" ||
            member == "Previous" || member == "PlayPause") {
            record(member);
            if (member == "Play" && hasCurrent)
                s.playbackStatus = "Playing";
            else if (member == "Pause" && s.playbackStatus == "Playing")
                s.playbackStatus = "Paused";
            else if (member == "Stop")
                s.playbackStatus = "Stopped";
            else if (member == "Next" && s.current + 1 < static_cast<int>(s.tracks.size()))
                ++s.current;
            else if (member == "Previous" && s.current > 0)
                --s.current;
            return done();
        }
        if (member == "OpenUri") {
            const char* uri = nullptr;
            sd_bus_message_read(m, "s", &uri);
            record(std::string("OpenUri ") + uri);
            return done();
        }
        if (member == "SetPosition" && m_options.canSeek) {
            const char* track = nullptr;
            std::int64_t position = 0;
            sd_bus_message_read(m, "ox", &track, &position);
            record("SetPosition " + std::string(track) + " " + std::to_string(position));
            if (!hasCurrent || s.tracks[static_cast<std::size_t>(s.current)].id != track)
                return done();
            seekTo(position);
            return done();
        }
        if (member == "Seek" && m_options.tellsSeeked) {
            std::int64_t offset = 0;
            sd_bus_message_read(m, "x", &offset);
            record("Seek " + std::to_string(offset));
            // From where the player really is, which a Position read may not show yet.
            seekTo(std::max<std::int64_t>(m_seekTo.value_or(s.positionUs) + offset, 0));
            return done();
        }
    }
    if (interface == kTrackList && m_options.trackList) {
        if (member == "AddTrack") {
            const char* uri = nullptr;
            const char* after = nullptr;
            int current = 0;
            sd_bus_message_read(m, "sob", &uri, &after, &current);
            record(std::string("AddTrack ") + uri + " " + after + (current ? " true" : " false"));
            const auto at = std::find_if(s.tracks.begin(), s.tracks.end(),
                                         [after](const StandInTrack& t) { return t.id == after; });
            StandInTrack track{"/t/" + std::to_string(m_nextTrack++), uri, "", "", 0};
            track.title = track.url.substr(track.url.find_last_of('/') + 1);
            s.tracks.insert(at == s.tracks.end() ? s.tracks.begin() : at + 1, track);
            if (m_options.tellsAdded) {
                // As players do, the signal goes out before the reply.
                sd_bus_message* added = nullptr;
                sd_bus_message_new_signal(m_bus, &added, kObject, kTrackList, "TrackAdded");
                appendMetadata(added, &track);
                sd_bus_message_append(added, "o", after);
                sd_bus_send(nullptr, added, nullptr);
                sd_bus_message_unref(added);
            }
            return done();
        }
        if (member == "RemoveTrack" || member == "GoTo") {
            const char* id = nullptr;
            sd_bus_message_read(m, "o", &id);
            record(member + " " + id);
            const auto at = std::find_if(s.tracks.begin(), s.tracks.end(),
                                         [id](const StandInTrack& t) { return t.id == id; });
            if (at != s.tracks.end() && member == "GoTo") {
                s.current = static_cast<int>(at - s.tracks.begin());
                s.playbackStatus = "Playing";
                s.positionUs = 0;
            } else if (at != s.tracks.end()) {
                if (s.current >= static_cast<int>(at - s.tracks.begin()))
                    --s.current;
                s.tracks.erase(at);
            }
            return done();
        }
        if (member == "GetTracksMetadata") {
            char** ids = nullptr;
            sd_bus_message_read_strv(m, &ids);
            sd_bus_message* answer = nullptr;
            sd_bus_message_new_method_return(m, &answer);
            sd_bus_message_open_container(answer, 'a', "a{sv}");
            for (char** id = ids; id != nullptr && *id != nullptr; ++id) {
                const auto at = std::find_if(s.tracks.begin(), s.tracks.end(),
                                             [id](const StandInTrack& t) { return t.id == *id; });
                if (at != s.tracks.end())
                    appendMetadata(answer, &*at);
                std::free(*id);
            }
            std::free(ids);
            sd_bus_message_close_container(answer);
            sd_bus_send(nullptr, answer, nullptr);
            sd_bus_message_unref(answer);
            return 1;
        }
    }
    return 0;
}

// The properties of one interface; only the one named when "only" is set (-ENOENT when the
// player does not have it).
int MprisStandIn::appendProperties(sd_bus_message* reply, const std::string& interface,
                                   const std::string& only)
{
    const auto& s = m_state;
    const bool hasCurrent = s.current >= 0 && s.current < static_cast<int>(s.tracks.size());
    const StandInTrack* current =
        hasCurrent ? &s.tracks[static_cast<std::size_t>(s.current)] : nullptr;
    int found = 0;
    const auto wanted = [&](const char* name) {
        const bool is = only.empty() || only == name;
        found += is ? 1 : 0;
        return is;
    };
    const auto open = [&](const char* name, const char* type) {
        if (only.empty()) {
            sd_bus_message_open_container(reply, 'e', "sv");
            sd_bus_message_append(reply, "s", name);
        }
        sd_bus_message_open_container(reply, 'v', type);
    };
    const auto close = [&] {
        sd_bus_message_close_container(reply);
        if (only.empty())
            sd_bus_message_close_container(reply);
    };
    const auto flag = [&](const char* name, bool value) {
        if (!wanted(name))
            return;
        open(name, "b");
        sd_bus_message_append(reply, "b", static_cast<int>(value));
        close();
    };
    if (only.empty())
        sd_bus_message_open_container(reply, 'a', "{sv}");
    if (interface == kRoot) {
        flag("CanQuit", m_options.canQuit);
        flag("HasTrackList", m_options.trackList);
        if (wanted("Identity")) {
            open("Identity", "s");
            sd_bus_message_append(reply, "s", m_options.name.c_str());
            close();
        }
    } else if (interface == kPlayer) {
        if (wanted("PlaybackStatus")) {
            open("PlaybackStatus", "s");
            sd_bus_message_append(reply, "s", s.playbackStatus.c_str());
            close();
        }
        if (m_options.loopStatus && wanted("LoopStatus")) {
            open("LoopStatus", "s");
            sd_bus_message_append(reply, "s", s.loopStatus.c_str());
            close();
        }
        if (m_options.shuffle)
            flag("Shuffle", s.shuffle);
        if (m_options.volume && wanted("Volume")) {
            open("Volume", "d");
            sd_bus_message_append(reply, "d", s.volume);
            close();
        }
        if (wanted("Position")) {
            open("Position", "x");
            sd_bus_message_append(reply, "x", s.positionUs);
            close();
        }
        flag("CanSeek", m_options.canSeek);
        flag("CanControl", true);
        if (wanted("Metadata")) {
            open("Metadata", "a{sv}");
            appendMetadata(reply, current);
            close();
        }
    } else if (interface == kTrackList && m_options.trackList) {
        flag("CanEditTracks", true);
        if (wanted("Tracks")) {
            open("Tracks", "ao");
            sd_bus_message_open_container(reply, 'a', "o");
            for (const auto& track : s.tracks)
                sd_bus_message_append(reply, "o", track.id.c_str());
            sd_bus_message_close_container(reply);
            close();
        }
    }
    if (only.empty())
        sd_bus_message_close_container(reply);
    return found == 0 && !only.empty() ? -ENOENT : 0;
}

int MprisStandIn::setProperty(sd_bus_message* m)
{
    const char* interface = nullptr;
    const char* name = nullptr;
    sd_bus_message_read(m, "ss", &interface, &name);
    const std::string property = name;
    auto& s = m_state;
    std::ostringstream call;
    call << "Set " << property << " ";
    if (property == "Volume" && m_options.volume) {
        double volume = 0;
        sd_bus_message_read(m, "v", "d", &volume);
        call << volume;
        if (m_options.volumeLater) {
            m_volumeTo = std::round(volume * 20) / 20;
            m_volumeAt = std::chrono::steady_clock::now() + std::chrono::milliseconds(50);
        } else {
            s.volume = volume;
            // As players do, the signal goes out before the reply.
            tellVolume();
        }
    } else if (property == "Shuffle" && m_options.shuffle) {
        int on = 0;
        sd_bus_message_read(m, "v", "b", &on);
        s.shuffle = on != 0;
        call << (s.shuffle ? "true" : "false");
    } else if (property == "LoopStatus" && m_options.loopStatus) {
        const char* loop = nullptr;
        sd_bus_message_read(m, "v", "s", &loop);
        s.loopStatus = loop;
        call << loop;
    } else {
        return sd_bus_reply_method_errorf(m, SD_BUS_ERROR_PROPERTY_READ_ONLY, "no %s", name);
    }
    record(call.str());
    return sd_bus_reply_method_return(m, nullptr);
}

} // namespace zelvor::test
