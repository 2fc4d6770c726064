// SPDX-License-Identifier: MIT
#pragma once

#include "player/mpd/MpdChannel.h"
#include "player/PlayerLoop.h"

#include <chrono>
#include <filesystem>
#include <functional>
#include <string>

namespace zelvor {

/**
 * Appends host files to MPD's queue over the kept connection, every step an answer from the
 * event loop. A playlist file (anything MPD's playlist plugins read) appends its entries. What
 * lies below the music folder but is not in MPD's database yet makes MPD look at that path
 * first; its "update" is looked at again from the loop's timers, at most kUpdateLimit.
 *
 * A path below MPD's music folder is added by its URI relative to that folder, which works over
 * TCP and the local socket alike. MPD names its music folder only to local-socket clients; over
 * TCP the folder is found by asking MPD about each folder above the path, from the file-system
 * root down, and taking the first whose listing matches the host's files (names, kinds and
 * modification times). Other local files go by file:// URIs, which MPD accepts from
 * local-socket clients only. A folder gives every sound file below it in name order (see
 * soundFilesBelow); a folder MPD knows goes as one "add" when MPD's order is name order.
 */
namespace MpdQueueLoader {

/** What became of one load. */
struct LoadOutcome
{
    /** False only when the connection broke or timed out. A path MPD cannot use adds nothing
     * and is still reached. */
    bool reached = true;
    /** True when MPD took at least one of the adds. */
    bool added = false;
    /** MPD's message for the first add it refused; empty when it refused none. */
    std::string firstRefusal;
};

/** Appends what the path names, then calls done. */
void load(MpdChannel& channel, PlayerLoop& loop, const std::filesystem::path& path,
          std::function<void(const LoadOutcome&)> done);

/** Adds at most this many URIs per command list. */
inline constexpr std::size_t kBatchSize = 1000;
/** How long a load waits for MPD to look at a path it does not know yet. */
inline constexpr std::chrono::seconds kUpdateLimit{5};
/** How often it looks. */
inline constexpr std::chrono::milliseconds kUpdatePoll{10};

} // namespace MpdQueueLoader

} // namespace zelvor
