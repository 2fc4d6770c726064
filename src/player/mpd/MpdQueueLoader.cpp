// SPDX-License-Identifier: MIT
#include "player/mpd/MpdQueueLoader.h"

#include "player/mpd/MpdMapping.h"
#include "player/PlayerText.h"

#include <mpd/client.h>

#include <algorithm>
#include <iterator>
#include <memory>
#include <thread>

#include <sys/stat.h>

namespace zelvor {

namespace {

namespace fs = std::filesystem;

struct EntityDeleter
{
    void operator()(mpd_entity* entity) const { mpd_entity_free(entity); }
};
using EntityPtr = std::unique_ptr<mpd_entity, EntityDeleter>;

bool sameFileTime(const fs::path& file, time_t modified)
{
    struct stat info
    {};
    return ::stat(file.c_str(), &info) == 0 && S_ISREG(info.st_mode) && info.st_mtime == modified;
}

bool entityMatches(const fs::path& root, const mpd_entity* entity)
{
    std::error_code error;
    switch (mpd_entity_get_type(entity)) {
    case MPD_ENTITY_TYPE_SONG: {
        const mpd_song* song = mpd_entity_get_song(entity);
        return sameFileTime(root / mpd_song_get_uri(song), mpd_song_get_last_modified(song));
    }
    case MPD_ENTITY_TYPE_DIRECTORY:
        return fs::is_directory(root / mpd_directory_get_path(mpd_entity_get_directory(entity)),
                                error);
    default:
        return true;
    }
}

} // namespace

bool MpdQueueLoader::load(const fs::path& path)
{
    std::error_code error;
    const fs::path absolute = fs::absolute(path, error);
    if (error || !isSendableUri(absolute.string()))
        return true;
    const auto kind = fs::status(absolute, error).type();
    if (kind != fs::file_type::regular && kind != fs::file_type::directory)
        return true;
    const bool folder = kind == fs::file_type::directory;
    if (const auto uri = uriInMusicFolder(absolute))
        return addInMusicFolder(*uri, folder);
    if (m_broken)
        return false;
    return addAll(folder ? localAudioFiles(absolute)
                         : std::vector<std::string>{"file://" + absolute.string()});
}

// What MPD's database does not know yet (music added since MPD last looked) makes MPD look at
// that path, and the add is tried once more when it is done.
bool MpdQueueLoader::addInMusicFolder(const std::string& uri, bool folder)
{
    m_refusal.reset();
    const bool added = folder ? addFolder(uri) : addFile(uri);
    if (!added || m_refusal != MPD_SERVER_ERROR_NO_EXIST || !updated(uri))
        return usable();
    return folder ? addFolder(uri) : addFile(uri);
}

// A file MPD does not take as a song may be a playlist that one of its playlist plugins reads
// (m3u, pls, xspf, cue, ...); "load" appends its entries, and skips those MPD cannot find.
bool MpdQueueLoader::addFile(const std::string& uri)
{
    if (mpd_run_add(m_connection, uri.c_str())) {
        m_added = true;
        return usable();
    }
    if (!usable())
        return false;
    m_refusal.reset();
    m_added = mpd_run_load(m_connection, uri.c_str()) || m_added;
    return usable();
}

// Waits, bounded, until MPD has looked at the path; false when it did not in time.
bool MpdQueueLoader::updated(const std::string& uri)
{
    const unsigned job = mpd_run_update(m_connection, uri.c_str());
    if (job == 0) {
        usable();
        return false;
    }
    const auto deadline = std::chrono::steady_clock::now() + kUpdateLimit;
    while (std::chrono::steady_clock::now() < deadline) {
        mpd_status* status = mpd_run_status(m_connection);
        if (status == nullptr) {
            usable();
            return false;
        }
        const unsigned running = mpd_status_get_update_id(status);
        mpd_status_free(status);
        // Jobs run in the order they were asked for; a later number means ours is done.
        if (running == 0 || running > job)
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

// MPD adds a folder in the order it lists it, each folder's songs before its subfolders. When
// that is name order already, which it is for most music folders, one command does it all.
bool MpdQueueLoader::addFolder(const std::string& uri)
{
    auto songs = songsBelow(uri);
    if (songs.empty())
        return usable();
    if (!uri.empty() && std::is_sorted(songs.begin(), songs.end(), nameOrderLess))
        return addAll({uri});
    std::sort(songs.begin(), songs.end(), nameOrderLess);
    return addAll(songs);
}

bool MpdQueueLoader::usable()
{
    if (m_broken)
        return false;
    const auto error = mpd_connection_get_error(m_connection);
    if (error == MPD_ERROR_SERVER)
        m_refusal = mpd_connection_get_server_error(m_connection);
    if (error == MPD_ERROR_SERVER && m_firstRefusal.empty())
        m_firstRefusal = mpd_connection_get_error_message(m_connection);
    if (error != MPD_ERROR_SUCCESS)
        m_broken = !mpd_connection_clear_error(m_connection);
    return !m_broken;
}

std::optional<std::string> MpdQueueLoader::uriInMusicFolder(const fs::path& path)
{
    const auto musicFolder = configuredMusicFolder();
    if (!musicFolder)
        return m_broken ? std::nullopt : probeMusicFolder(path);
    if (auto uri = uriBelow(*musicFolder, path))
        return uri;
    // The server root may reach the music through a symbolic link, or the other way round.
    std::error_code error;
    const auto realFolder = fs::weakly_canonical(*musicFolder, error);
    const auto realPath = fs::weakly_canonical(path, error);
    if (error)
        return std::nullopt;
    return uriBelow(realFolder, realPath);
}

std::optional<fs::path> MpdQueueLoader::configuredMusicFolder()
{
    if (!mpd_send_command(m_connection, "config", nullptr)) {
        usable();
        return std::nullopt;
    }
    std::optional<fs::path> folder;
    if (mpd_pair* pair = mpd_recv_pair_named(m_connection, "music_directory")) {
        folder = fs::path(pair->value);
        mpd_return_pair(m_connection, pair);
    }
    mpd_response_finish(m_connection);
    // MPD answers "config" only to local-socket clients; others get an error reply.
    if (!usable())
        return std::nullopt;
    if (folder && !folder->is_absolute())
        return std::nullopt;
    return folder;
}

std::optional<std::string> MpdQueueLoader::probeMusicFolder(const fs::path& path)
{
    for (const auto& guess : musicRootGuesses(path)) {
        if (listingMatches(guess.root, guess.uri))
            return guess.uri;
        if (m_broken)
            return std::nullopt;
    }
    return std::nullopt;
}

bool MpdQueueLoader::listingMatches(const fs::path& root, const std::string& uri)
{
    if (!mpd_send_list_meta(m_connection, uri.c_str())) {
        usable();
        return false;
    }
    bool matches = true;
    while (EntityPtr entity{mpd_recv_entity(m_connection)})
        matches = matches && entityMatches(root, entity.get());
    mpd_response_finish(m_connection);
    const bool answered = mpd_connection_get_error(m_connection) == MPD_ERROR_SUCCESS;
    return usable() && answered && matches;
}

std::vector<std::string> MpdQueueLoader::songsBelow(const std::string& uri)
{
    std::vector<std::string> songs;
    if (!mpd_send_list_all(m_connection, uri.c_str())) {
        usable();
        return songs;
    }
    while (mpd_pair* pair = mpd_recv_pair_named(m_connection, "file")) {
        songs.emplace_back(pair->value);
        mpd_return_pair(m_connection, pair);
    }
    mpd_response_finish(m_connection);
    if (!usable())
        songs.clear();
    return songs;
}

std::vector<std::string> MpdQueueLoader::localAudioFiles(const fs::path& folder)
{
    std::vector<std::string> uris;
    for (const auto& name : soundFilesBelow(folder))
        uris.push_back("file://" + (folder / name).string());
    return uris;
}

// The batch goes as command lists; a URI that MPD refuses is skipped and the rest of its list
// is sent again, unless MPD refuses such adds to this client altogether.
bool MpdQueueLoader::addAll(const std::vector<std::string>& candidates)
{
    std::vector<std::string> uris;
    std::copy_if(candidates.begin(), candidates.end(), std::back_inserter(uris), isSendableUri);
    std::size_t next = 0;
    while (!m_broken && next < uris.size()) {
        const std::size_t end = std::min(next + kBatchSize, uris.size());
        bool sent = mpd_command_list_begin(m_connection, true);
        for (std::size_t i = next; sent && i < end; ++i)
            sent = mpd_send_add(m_connection, uris[i].c_str());
        if (sent && mpd_command_list_end(m_connection))
            mpd_response_finish(m_connection);
        const auto error = mpd_connection_get_error(m_connection);
        if (error == MPD_ERROR_SUCCESS) {
            m_added = true;
            next = end;
            continue;
        }
        if (error != MPD_ERROR_SERVER)
            break;
        const auto refused = mpd_connection_get_server_error(m_connection);
        const auto at = mpd_connection_get_server_error_location(m_connection);
        m_added = m_added || at > 0;
        next += at + 1;
        if (!usable() || refused == MPD_SERVER_ERROR_PERMISSION)
            break;
    }
    return usable();
}

} // namespace zelvor
