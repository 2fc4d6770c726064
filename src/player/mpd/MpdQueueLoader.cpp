// SPDX-License-Identifier: MIT
#include "player/mpd/MpdQueueLoader.h"

#include "player/mpd/MpdMapping.h"
#include "player/PlayerText.h"

#include <mpd/client.h>

#include <algorithm>
#include <memory>

#include <sys/stat.h>

namespace zelvor {

namespace {

namespace fs = std::filesystem;

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

// A listing as libmpdclient's entities read it; true when every entry matches the host's.
bool listingMatches(const fs::path& root, const std::vector<MpdPair>& pairs)
{
    bool matches = true;
    mpd_entity* entity = nullptr;
    const auto finish = [&] {
        if (entity != nullptr) {
            matches = matches && entityMatches(root, entity);
            mpd_entity_free(entity);
        }
        entity = nullptr;
    };
    for (const auto& pair : pairs) {
        const mpd_pair fed{pair.name.c_str(), pair.value.c_str()};
        if (entity != nullptr && mpd_entity_feed(entity, &fed))
            continue;
        finish();
        entity = mpd_entity_begin(&fed);
    }
    finish();
    return matches;
}

/** One load, from the first question to MPD to the last add. */
class Load : public std::enable_shared_from_this<Load>
{
public:
    using Done = std::function<void(const MpdQueueLoader::LoadOutcome&)>;

    Load(MpdChannel& channel, PlayerLoop& loop, fs::path path, Done done)
        : m_channel(channel), m_loop(loop), m_path(std::move(path)), m_done(std::move(done))
    {}

    void start();

private:
    using Then = std::function<void(const MpdReply&)>;

    /** Sends, and goes on with then only while MPD answers; else the load ends unreached. */
    void ask(std::vector<MpdCommand> commands, Then then)
    {
        auto self = shared_from_this();
        m_channel.send(std::move(commands), [self, then = std::move(then)](const MpdReply& reply) {
            if (!reply.reached)
                return self->finish(false);
            then(reply);
        });
    }
    void finish(bool reached)
    {
        if (auto done = std::move(m_done)) {
            m_done = nullptr;
            m_outcome.reached = reached;
            done(m_outcome);
        }
    }

    /** Notes what an add's answer tells: something taken, or the first refusal. */
    void noteAdds(const MpdReply& reply)
    {
        if (!reply.refusal || reply.refusal->at > 0)
            m_outcome.added = true;
        if (reply.refusal && m_outcome.firstRefusal.empty())
            m_outcome.firstRefusal = reply.refusal->message;
    }

    void inMusicFolder(const fs::path& folder);
    void probe(std::size_t guess);
    void addInMusicFolder(const std::string& uri, bool retried);
    void addFolder(const std::string& uri, std::function<void(std::optional<int>)> then);
    void addFile(const std::string& uri, std::function<void(std::optional<int>)> then);
    void waitForUpdate(unsigned job, std::chrono::steady_clock::time_point deadline,
                       std::function<void(bool)> then);
    void addLocal();
    void addAll(std::vector<std::string> uris, std::size_t next, std::function<void()> then);

    MpdChannel& m_channel;
    PlayerLoop& m_loop;
    fs::path m_path;
    Done m_done;
    MpdQueueLoader::LoadOutcome m_outcome;
    bool m_folder = false;
    std::vector<MusicRootGuess> m_guesses;
};

void Load::start()
{
    std::error_code error;
    m_path = fs::absolute(m_path, error);
    if (error || !isSendableUri(m_path.string()))
        return finish(true);
    const auto kind = fs::status(m_path, error).type();
    if (kind != fs::file_type::regular && kind != fs::file_type::directory)
        return finish(true);
    m_folder = kind == fs::file_type::directory;
    auto self = shared_from_this();
    // MPD answers "config" only to local-socket clients; others get a refusal.
    ask({{"config"}}, [self](const MpdReply& reply) {
        const auto folder = valueOf(reply.pairs, "music_directory");
        if (reply.refusal || !folder) {
            self->m_guesses = musicRootGuesses(self->m_path);
            return self->probe(0);
        }
        const fs::path configured(*folder);
        if (!configured.is_absolute())
            return self->addLocal();
        self->inMusicFolder(configured);
    });
}

void Load::inMusicFolder(const fs::path& folder)
{
    auto uri = uriBelow(folder, m_path);
    if (!uri) {
        // The server root may reach the music through a symbolic link, or the other way round.
        std::error_code error;
        const auto realFolder = fs::weakly_canonical(folder, error);
        const auto realPath = fs::weakly_canonical(m_path, error);
        if (!error)
            uri = uriBelow(realFolder, realPath);
    }
    if (!uri)
        return addLocal();
    addInMusicFolder(*uri, false);
}

void Load::probe(std::size_t guess)
{
    if (guess >= m_guesses.size())
        return addLocal();
    auto self = shared_from_this();
    ask({{"lsinfo", m_guesses[guess].uri}}, [self, guess](const MpdReply& reply) {
        if (!reply.refusal && listingMatches(self->m_guesses[guess].root, reply.pairs))
            return self->addInMusicFolder(self->m_guesses[guess].uri, false);
        self->probe(guess + 1);
    });
}

// What MPD's database does not know yet (music added since MPD last looked) makes MPD look at
// that path, and the add is tried once more when it is done.
void Load::addInMusicFolder(const std::string& uri, bool retried)
{
    auto self = shared_from_this();
    auto then = [self, uri, retried](std::optional<int> refusal) {
        if (retried || refusal != MPD_SERVER_ERROR_NO_EXIST)
            return self->finish(true);
        self->ask({{"update", uri}}, [self, uri](const MpdReply& reply) {
            const auto job = valueOf(reply.pairs, "updating_db");
            if (reply.refusal || !job)
                return self->finish(true);
            const auto number = static_cast<unsigned>(std::strtoul(job->c_str(), nullptr, 10));
            self->waitForUpdate(number,
                                std::chrono::steady_clock::now() + MpdQueueLoader::kUpdateLimit,
                                [self, uri](bool updated) {
                                    if (!updated)
                                        return self->finish(true);
                                    self->addInMusicFolder(uri, true);
                                });
        });
    };
    if (m_folder)
        addFolder(uri, std::move(then));
    else
        addFile(uri, std::move(then));
}

// Jobs run in the order they were asked for; no job, or a later number, means ours is done.
void Load::waitForUpdate(unsigned job, std::chrono::steady_clock::time_point deadline,
                         std::function<void(bool)> then)
{
    auto self = shared_from_this();
    ask({{"status"}}, [self, job, deadline, then = std::move(then)](const MpdReply& reply) {
        const auto running = valueOf(reply.pairs, "updating_db");
        const auto number =
            running ? static_cast<unsigned>(std::strtoul(running->c_str(), nullptr, 10)) : 0U;
        if (number == 0 || number > job)
            return then(true);
        if (std::chrono::steady_clock::now() >= deadline)
            return then(false);
        self->m_loop.after(MpdQueueLoader::kUpdatePoll, [self, job, deadline, then] {
            self->waitForUpdate(job, deadline, then);
        });
    });
}

// MPD adds a folder in the order it lists it, each folder's songs before its subfolders. When
// that is name order already, which it is for most music folders, one command does it all.
void Load::addFolder(const std::string& uri, std::function<void(std::optional<int>)> then)
{
    auto self = shared_from_this();
    ask({{"listall", uri}}, [self, uri, then = std::move(then)](const MpdReply& reply) {
        if (reply.refusal)
            return then(reply.refusal->code);
        std::vector<std::string> songs;
        for (const auto& pair : reply.pairs)
            if (pair.name == "file")
                songs.push_back(pair.value);
        if (songs.empty())
            return then(std::nullopt);
        if (!uri.empty() && std::is_sorted(songs.begin(), songs.end(), nameOrderLess))
            songs = {uri};
        else
            std::sort(songs.begin(), songs.end(), nameOrderLess);
        self->addAll(std::move(songs), 0, [then] { then(std::nullopt); });
    });
}

// A file MPD does not take as a song may be a playlist that one of its playlist plugins reads
// (m3u, pls, xspf, cue, ...); "load" appends its entries, and skips those MPD cannot find.
void Load::addFile(const std::string& uri, std::function<void(std::optional<int>)> then)
{
    auto self = shared_from_this();
    ask({{"add", uri}}, [self, uri, then = std::move(then)](const MpdReply& reply) {
        self->noteAdds(reply);
        if (!reply.refusal)
            return then(std::nullopt);
        self->ask({{"load", uri}}, [self, then](const MpdReply& loaded) {
            self->noteAdds(loaded);
            then(loaded.refusal ? std::optional(loaded.refusal->code) : std::nullopt);
        });
    });
}

void Load::addLocal()
{
    std::vector<std::string> uris;
    if (m_folder) {
        for (const auto& name : soundFilesBelow(m_path))
            uris.push_back("file://" + (m_path / name).string());
    } else {
        uris.push_back("file://" + m_path.string());
    }
    auto self = shared_from_this();
    addAll(std::move(uris), 0, [self] { self->finish(true); });
}

// The URIs go as command lists of at most kBatchSize; a URI that MPD refuses is skipped and the
// rest of its list is sent again, unless MPD refuses such adds to this client altogether.
void Load::addAll(std::vector<std::string> uris, std::size_t next, std::function<void()> then)
{
    if (next == 0)
        uris.erase(std::remove_if(uris.begin(), uris.end(),
                                  [](const std::string& uri) { return !isSendableUri(uri); }),
                   uris.end());
    if (next >= uris.size())
        return then();
    const std::size_t end = std::min(next + MpdQueueLoader::kBatchSize, uris.size());
    std::vector<MpdCommand> adds;
    for (std::size_t i = next; i < end; ++i)
        adds.push_back({"add", uris[i]});
    auto self = shared_from_this();
    auto shared = std::make_shared<std::vector<std::string>>(std::move(uris));
    ask(std::move(adds), [self, shared, next, end, then = std::move(then)](const MpdReply& reply) {
        self->noteAdds(reply);
        if (!reply.refusal)
            return self->addAll(std::move(*shared), end, then);
        if (reply.refusal->code == MPD_SERVER_ERROR_PERMISSION)
            return then();
        const std::size_t refused = next + reply.refusal->at;
        self->addAll(std::move(*shared), refused + 1, then);
    });
}

} // namespace

void MpdQueueLoader::load(MpdChannel& channel, PlayerLoop& loop, const fs::path& path,
                          std::function<void(const LoadOutcome&)> done)
{
    std::make_shared<Load>(channel, loop, path, std::move(done))->start();
}

} // namespace zelvor
