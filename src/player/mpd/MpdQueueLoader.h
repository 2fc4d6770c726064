// SPDX-License-Identifier: MIT
#pragma once

#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

struct mpd_connection;

namespace zelvor {

/**
 * Appends host files to MPD's queue over an open connection. A playlist file (anything MPD's
 * playlist plugins read) appends its entries. What lies below the music folder but is not in
 * MPD's database yet makes MPD look at that path first (see kUpdateLimit).
 *
 * A path below MPD's music folder is added by its URI relative to that folder, which works over
 * TCP and the local socket alike. MPD names its music folder only to local-socket clients; over
 * TCP the folder is found by asking MPD about each folder above the path, from the file-system
 * root down, and taking the first whose listing matches the host's files (names, kinds and
 * modification times). Other local files go by file:// URIs, which MPD accepts from
 * local-socket clients only. A folder gives every sound file below it in name order (see
 * soundFilesBelow).
 */
class MpdQueueLoader
{
public:
    explicit MpdQueueLoader(mpd_connection* connection) : m_connection(connection) {}

    /** Appends what the path names; false only when the connection broke or timed out. A path
     * MPD cannot use adds nothing and still returns true. */
    bool load(const std::filesystem::path& path);
    /** True when MPD took at least one of the adds. */
    bool addedAny() const { return m_added; }
    /** MPD's message for the first command it refused; empty when it refused none. */
    const std::string& firstRefusal() const { return m_firstRefusal; }

    /** Adds at most this many URIs per command list. */
    static constexpr std::size_t kBatchSize = 1000;
    /** How long a load waits for MPD to look at a path it does not know yet. */
    static constexpr std::chrono::seconds kUpdateLimit{5};

private:
    bool usable();
    bool addInMusicFolder(const std::string& uri, bool folder);
    bool addFile(const std::string& uri);
    bool updated(const std::string& uri);
    std::optional<std::string> uriInMusicFolder(const std::filesystem::path& path);
    std::optional<std::filesystem::path> configuredMusicFolder();
    std::optional<std::string> probeMusicFolder(const std::filesystem::path& path);
    bool listingMatches(const std::filesystem::path& root, const std::string& uri);
    bool addFolder(const std::string& uri);
    /** The songs below a folder of MPD's database, in MPD's order. */
    std::vector<std::string> songsBelow(const std::string& uri);
    std::vector<std::string> localAudioFiles(const std::filesystem::path& folder);
    bool addAll(const std::vector<std::string>& candidates);

    mpd_connection* m_connection;
    bool m_broken = false;
    /** MPD's reason for the last command it refused (an mpd_server_error). */
    std::optional<int> m_refusal;
    bool m_added = false;
    std::string m_firstRefusal;
};

} // namespace zelvor
