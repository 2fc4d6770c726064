// SPDX-License-Identifier: MIT
#include "player/mpris/MprisBackend.h"

#include "player/mpris/MprisBackendParts.h"
#include "player/mpris/MprisMessages.h"
#include "player/PlayerText.h"
#include "player/ProgramLauncher.h"

#include <systemd/sd-bus.h>

#include <filesystem>

namespace zelvor {

using namespace mpris_detail;

// One read of the track list, then one call per track.
void MprisBackend::clearTracks(const Op& op)
{
    canEditTracks(op, [this, op](bool editable) {
        if (!editable) {
            finish(op, Outcome::NotOffered);
            return;
        }
        tracks(op, [this, op](Tracks list) {
            auto left = std::make_shared<std::vector<std::string>>(
                list.value_or(std::vector<std::string>{}));
            std::reverse(left->begin(), left->end());
            removeNext(op, std::move(left));
        });
    });
}

void MprisBackend::removeNext(const Op& op, std::shared_ptr<std::vector<std::string>> left)
{
    if (left->empty()) {
        finish(op);
        return;
    }
    const auto track = std::move(left->back());
    left->pop_back();
    call(
        op, kTrackList, "RemoveTrack", [this, op, left](Answer) { removeNext(op, left); }, "o",
        track.c_str());
}

/** A load in progress: the files still to add and the track the next one goes after. */
struct MprisBackend::Load
{
    std::vector<std::string> files;
    std::size_t next = 0;
    std::string after;
    /** The track TrackAdded named for the call in flight. */
    std::optional<std::string> added;
    sd_bus_slot* match = nullptr;

    Load() = default;
    Load(const Load&) = delete;
    Load& operator=(const Load&) = delete;
    ~Load() { sd_bus_slot_unref(match); }
};

int MprisBackend::onTrackAdded(sd_bus_message* signal, void* data, sd_bus_error*)
{
    auto& load = *static_cast<Load*>(data);
    Snapshot track;
    const char* after = nullptr;
    if (readMetadata(signal, track) && sd_bus_message_read(signal, "o", &after) >= 0 &&
        load.after == after && !track.trackId.empty())
        load.added = track.trackId;
    return 0;
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

// A player without an editable track list gets the files as its rule says (see PlayerRules);
// a load that adds nothing says why.
void MprisBackend::handOver(const Op& op, const std::string& path)
{
    const auto name = op->player.substr(std::min(op->player.size(), kMprisPrefix.size()));
    const auto rule = ruleForBusName(name);
    std::error_code error;
    const bool folder = std::filesystem::is_directory(path, error);
    if (folder && !rule.takesFolders) {
        end(op, {Outcome::NotOffered, name + " takes no folders over the bus", {}, {}});
        return;
    }
    const bool each = rule.files == FileHandover::AudaciousInterface || !folder;
    Message made(newHandoverCall(m_bus, op->player, rule.files,
                                 each ? filesOf(path) : std::vector<std::string>{path}));
    if (!made) {
        end(op, PlayerAnswer::of(Outcome::Failed));
        return;
    }
    // Audacious's own interface has a bus name of its own: its absence is no missing player.
    const bool ownInterface = rule.files == FileHandover::AudaciousInterface;
    send(
        op, std::move(made),
        [this, op, name, ownInterface](Answer answer) {
            if (answer.gone && !ownInterface) {
                end(op, PlayerAnswer::of(Outcome::NoPlayer));
            } else if (answer || (!answer.gone && !answer.refused)) {
                end(op, PlayerAnswer::of(Outcome::Done));
            } else if (answer.gone || answer.error == SD_BUS_ERROR_UNKNOWN_METHOD ||
                       answer.error == SD_BUS_ERROR_UNKNOWN_OBJECT ||
                       answer.error == SD_BUS_ERROR_UNKNOWN_INTERFACE) {
                end(op, {Outcome::NotOffered, name + " takes no files over the bus", {}, {}});
            } else {
                end(op, {Outcome::Failed, answer.reason, {}, {}});
            }
        },
        false);
}

void MprisBackend::add(const std::string& path, PlayerDone done)
{
    command(done, [this, path](const Op& op) {
        const auto openUri = [this, op, path] { handOver(op, path); };
        // A playlist goes to the player as it is: its track list is not asked about.
        if (isPlaylistFile(path)) {
            openUri();
            return;
        }
        canEditTracks(op, [this, op, path, openUri](bool editable) {
            if (editable)
                addTracks(op, path);
            else
                openUri();
        });
    });
}

// Appends at the track list's end, in name order, without starting playback. The track list is
// read once; each new track goes after the one added before it, so the order holds. A player
// that does not name the added track in TrackAdded has its track list read after each.
void MprisBackend::addTracks(const Op& op, const std::string& path)
{
    auto load = std::make_shared<Load>();
    load->files = filesOf(path);
    sd_bus_match_signal_async(m_bus, &load->match, nullptr, kObject, kTrackList, "TrackAdded",
                              &MprisBackend::onTrackAdded, nullptr, load.get());
    tracks(op, [this, op, load](Tracks list) {
        load->after = list && !list->empty() ? list->back() : kNoTrack;
        addNext(op, load);
    });
}

void MprisBackend::addNext(const Op& op, const std::shared_ptr<Load>& load)
{
    if (load->next == load->files.size()) {
        finish(op);
        return;
    }
    load->added.reset();
    const auto uri = fileUri(load->files[load->next++]);
    call(
        op, kTrackList, "AddTrack",
        [this, op, load](Answer) {
            if (load->added) {
                load->after = *load->added;
                addNext(op, load);
                return;
            }
            tracks(op, [this, op, load](Tracks now) {
                if (now && !now->empty())
                    load->after = now->back();
                addNext(op, load);
            });
        },
        "sob", uri.c_str(), load->after.c_str(), 0);
}

void MprisBackend::open(const std::string& location, PlayerDone done)
{
    launch(begin(std::move(done)), location);
}

void MprisBackend::launch(const Op& op, const std::string& location)
{
    const auto choice = choosePlayer(location, canStartProgram);
    if (!openBus()) {
        end(op, PlayerAnswer::of(Outcome::Failed));
        return;
    }
    // Listed afresh: a player that left a moment ago must not count as there.
    listNames([this, op, choice] {
        for (const auto& name : m_names)
            if (mprisNameMatches(name, choice.name)) {
                end(op, PlayerAnswer::of(Outcome::Done));
                return;
            }
        // A copy started before that is not on the bus yet is waited for, not started again.
        if (!programAlive(m_started)) {
            const pid_t started = choice.program.empty() ? -1 : launchProgram(choice.program);
            if (started < 0) {
                end(op, PlayerAnswer::of(Outcome::Failed));
                return;
            }
            m_started = started;
        }
        auto start = std::make_shared<Start>(Start{op, choice.name, 0});
        start->timer = m_loop.after(kStartLimit, [this, weak = std::weak_ptr(start)] {
            const auto waited = weak.lock();
            if (!waited)
                return;
            std::erase(m_starting, waited);
            end(waited->op, PlayerAnswer::of(Outcome::Failed));
        });
        m_starting.push_back(std::move(start));
    });
}

// A player took its name: the opens waiting for it are done.
void MprisBackend::started(const std::string& busName)
{
    std::vector<std::shared_ptr<Start>> done;
    std::erase_if(m_starting, [&](const std::shared_ptr<Start>& start) {
        if (!mprisNameMatches(busName, start->name))
            return false;
        done.push_back(start);
        return true;
    });
    for (const auto& start : done) {
        m_loop.cancel(start->timer);
        end(start->op, PlayerAnswer::of(Outcome::Done));
    }
}

} // namespace zelvor
