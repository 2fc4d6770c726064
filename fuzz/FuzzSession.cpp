// SPDX-License-Identifier: MIT
// Arbitrary input against the session server with its command interpreter: byte chunks from the
// client, the clock moving on, the client hanging up, Restart and setting changes, with a real
// folder tree as the server root. The rules below are checked while it runs; a broken one prints
// what happened and aborts, which libFuzzer reports as a crash.
//
// Input: one byte of start flags, then records of an operation byte and its operands:
//   op % 8 in 0..3  a chunk from the client: a length byte n, then n bytes
//   op % 8 == 4     the clock moves on by (next byte) x 500 ms
//   op % 8 == 5     the client hangs up; or, while listening, a client connects
//   op % 8 == 6     Restart
//   op % 8 == 7     settings and surroundings change: a byte of flags (see changeSurroundings)
// fuzz/seed_corpus.py writes the seed inputs in this form.
#include "FuzzFolder.h"

#include "commands/MusicFolders.h"
#include "commands/PathMapping.h"
#include "player/Player.h"
#include "server/ActivityLog.h"
#include "server/FakeSocket.h"
#include "server/SessionInput.h"
#include "server/TelnetServer.h"
#include "server/Winsock.h"
#include "settings/ServerSettings.h"

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

namespace fs = std::filesystem;

namespace zelvor {
namespace {

using namespace std::chrono_literals;

constexpr std::string_view kPrompt = "\r\nZelvor>";

std::string escaped(std::string_view bytes)
{
    std::string text;
    for (const char c : bytes.substr(0, 300)) {
        const auto code = static_cast<unsigned char>(c);
        if (code >= 32 && code < 127 && c != '\\') {
            text += c;
        } else {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02x", code);
            text += hex;
        }
    }
    return text;
}

[[noreturn]] void violated(std::string_view rule, std::string_view detail = {})
{
    std::fprintf(stderr, "\nRULE BROKEN: %.*s [%s]\n", static_cast<int>(rule.size()), rule.data(),
                 escaped(detail).c_str());
    std::abort();
}

// The music folder, made once per run: links inside it point inside it only, so everything the
// server touches must resolve below it. Next to it lie files a client must never reach.
struct Tree
{
    fs::path base;
    std::string root;
    fs::path canonicalRoot;
};

Tree* g_tree = nullptr;
// ZELVOR_FUZZ_TRACE=1 prints every send and status word, to follow a crashing input.
bool g_trace = false;

void removeTree()
{
    std::error_code error;
    if (g_tree)
        fs::remove_all(g_tree->base, error);
}

void writeFile(const fs::path& file)
{
    fs::create_directories(file.parent_path());
    if (std::FILE* out = std::fopen(file.c_str(), "wb")) {
        std::fputs("x", out);
        std::fclose(out);
    }
}

void makeTree()
{
    g_tree = new Tree;
    g_tree->base = fuzz::makeFuzzFolder(fs::temp_directory_path());
    const fs::path music = g_tree->base / "music";
    for (const char* file : {"Rock/Live/a.mp3", "Rock/song.mp3", "Rock/.hidden", "Jazz/b.flac",
                             "readme", "Mixed Case/C.MP3", "a b/x?y", "top.wav"})
        writeFile(music / file);
    fs::create_directories(music / "Empty");
    fs::create_directory_symlink("../Jazz", music / "Rock" / "Best");
    fs::create_directory_symlink(".", music / "Loop");
    fs::create_symlink("Rock/song.mp3", music / "song-link.mp3");
    writeFile(g_tree->base / "secret.txt");
    writeFile(g_tree->base / "outside" / "x.mp3");
    writeFile(g_tree->base / "musicx" / "y.mp3");
    g_tree->root = music.string();
    g_tree->canonicalRoot = fs::canonical(music);
    std::atexit(removeTree);
}

bool below(const fs::path& path, const fs::path& root)
{
    const std::string text = path.string();
    const std::string top = root.string();
    return text == top || (text.size() > top.size() && text.compare(0, top.size(), top) == 0 &&
                           text[top.size()] == '/');
}

/** The path names the root or lies below it, both by its text and on the disk. */
void checkInsideRoot(std::string_view what, const std::string& hostPath)
{
    const fs::path path(hostPath);
    if (!path.is_absolute() || !below(path.lexically_normal(), fs::path(g_tree->root)))
        violated(std::string(what) + " outside the root", hostPath);
    std::error_code error;
    const fs::path resolved = fs::weakly_canonical(path, error);
    if (!error && !below(resolved.lexically_normal(), g_tree->canonicalRoot))
        violated(std::string(what) + " resolves outside the root", hostPath);
}

/** The real music folders, with every path that reaches them checked first. */
class CheckingFolders : public MusicFolders
{
public:
    bool isFolder(const MusicPath& path) override
    {
        check("folder test", path);
        return m_host.isFolder(path);
    }
    std::vector<std::string> list(const MusicPath& folder, std::string_view pattern) override
    {
        check("listing", folder);
        auto names = m_host.list(folder, pattern);
        for (const auto& name : names) {
            if (!isUsableName(name) || name.find('/') != std::string::npos)
                violated("listed a name that cannot be used", name);
        }
        return names;
    }
    std::string hostPath(const MusicPath& path) override
    {
        check("host path", path);
        std::string host = m_host.hostPath(path);
        checkInsideRoot("host path", host);
        return host;
    }
    SearchResult search(const MusicPath& folder,
                        const std::function<bool(std::string_view name)>& wanted,
                        std::chrono::steady_clock::time_point deadline) override
    {
        check("search", folder);
        auto found = m_host.search(folder, wanted, deadline);
        // Every match, given back to load as it stands, must name a place inside the root.
        const std::string base = hostPathText(folder);
        for (const auto& match : found.matches) {
            const auto path = resolveMusicPath(g_tree->root, base + "/" + match);
            if (!path || match.empty() || !isUsableName(path->names.back()))
                violated("a search found a path that cannot be used", match);
            checkInsideRoot("a search match", m_host.hostPath(*path));
        }
        return found;
    }

private:
    static void check(std::string_view what, const MusicPath& path)
    {
        if (path.root != g_tree->root)
            violated(std::string(what) + " with another root", path.root);
        for (const auto& name : path.names) {
            if (name == "." || name == ".." || !isUsableName(name) ||
                name.find_first_of("/\\") != std::string::npos)
                violated(std::string(what) + " with an unresolved name", name);
        }
        checkInsideRoot(what, hostPathText(path));
    }

    HostFolders m_host;
};

class CheckingPlayer : public Player
{
public:
    void play(PlayerDone done) override { command(done); }
    void stop(PlayerDone done) override { command(done); }
    void pause(PlayerDone done) override { command(done); }
    void next(PlayerDone done) override { command(done); }
    void previous(PlayerDone done) override { command(done); }
    void stepVolume(int, PlayerDone done) override { command(done); }
    void toggleShuffle(PlayerDone done) override { command(done); }
    void toggleRepeat(PlayerDone done) override { command(done); }
    void clear(PlayerDone done) override { command(done); }
    void close(PlayerDone done) override { command(done); }
    void open(const std::string&, PlayerDone done) override
    {
        done(PlayerAnswer::of(Outcome::Done));
    }
    void add(const std::string& path, PlayerDone done) override
    {
        checkInsideRoot("path handed to the player", path);
        command(done);
    }
    // The typed operations answer from a small made-up queue whose shape the input chooses
    // (through the clock), titles with control bytes included.
    void status(PlayerDone done) override { done(answer()); }
    PlayerAnswer answer() const
    {
        if (!running)
            return PlayerAnswer::of(Outcome::NoPlayer);
        PlayerStatus now;
        now.queueLength = queueLength;
        now.state = static_cast<PlayState>(queueLength % 4);
        if (queueLength > 0 && queueLength % 4 != 0)
            now.position = position % queueLength;
        now.title = "T\x1b[2J\r\n";
        now.elapsedMs = elapsedMs;
        if (queueLength % 2 == 0)
            now.totalMs = 4'000'000;
        if (queueLength % 5 != 0)
            now.volume = volume;
        if (queueLength % 3 != 0)
            now.shuffle = queueLength % 2 == 0;
        now.version = static_cast<std::int32_t>(queueLength);
        return PlayerAnswer::with(now);
    }
    void queue(std::uint32_t first, std::uint32_t count, PlayerDone done) override
    {
        if (count > 1000)
            violated("a queue page that large", std::to_string(count));
        PlayerAnswer page = answer();
        if (page.done()) {
            for (std::uint64_t i = first; i < queueLength && i < std::uint64_t{first} + count; ++i)
                page.entries.push_back({static_cast<std::uint32_t>(i), "entry\x07"});
        }
        done(std::move(page));
    }
    void jumpTo(std::uint32_t to, PlayerDone done) override
    {
        if (to < queueLength)
            position = to;
        done(answer());
    }
    void setVolume(int percent, PlayerDone done) override
    {
        if (percent < 0 || percent > 100)
            violated("a volume out of range", std::to_string(percent));
        volume = percent;
        done(answer());
    }
    void seekTo(std::uint32_t milliseconds, PlayerDone done) override
    {
        if (queueLength % 2 == 0 && milliseconds > 4'000'000)
            violated("a seek past the song's end", std::to_string(milliseconds));
        elapsedMs = milliseconds;
        done(answer());
    }
    void command(const PlayerDone& done) const
    {
        done(PlayerAnswer::of(running ? Outcome::Done : Outcome::NoPlayer));
    }

    bool running = true;
    std::uint32_t queueLength = 3;
    std::uint32_t position = 0;
    std::uint32_t elapsedMs = 0;
    int volume = 50;
};

enum class EventKind
{
    Send,
    Status,
    Close,
};

/** The socket: records what happens on it and refuses to send on a connection that is gone. */
class CheckingSocket : public Winsock
{
public:
    enum class State
    {
        Closed,
        Listening,
        Connected,
    };

    ListenResult listen(std::uint16_t, const std::string&) override
    {
        if (failListen) {
            listening = false;
            settle();
            return ListenResult::AddressInUse;
        }
        listening = true;
        settle();
        return ListenResult::Listening;
    }
    void stopListening() override
    {
        listening = false;
        settle();
    }
    void reportEndedConnections() override {}
    ConnectionId accept() override
    {
        if (!listening)
            violated("accepting without a listener");
        if (connection != 0)
            violated("a second connection in a one-client run");
        if (acceptFails)
            return 0;
        connection = ++lastId;
        state = State::Connected;
        return connection;
    }
    void close(ConnectionId id) override
    {
        if (id != connection || id == 0)
            return;
        connection = 0;
        settle();
        if (onClosed)
            onClosed();
    }
    void close() override
    {
        listening = false;
        close(connection);
    }
    std::string remoteHostIP(ConnectionId id) const override
    {
        return id == connection && id != 0 ? "192.0.2.1" : "";
    }
    std::string lastError() const override { return "Address in use"; }
    void send(ConnectionId id, std::string_view bytes) override
    {
        if (id != connection || id == 0)
            violated("sent without a connection", bytes);
        if (onSend)
            onSend(bytes);
    }
    bool congested(ConnectionId) const override { return congestedNow; }

    /** The state of the one connection the run has, or of the listener without it. */
    void settle()
    {
        state = connection ? State::Connected : listening ? State::Listening : State::Closed;
    }

    ConnectionId connection = 0;
    ConnectionId lastId = 0;
    bool listening = false;
    State state = State::Closed;
    bool failListen = false;
    bool acceptFails = false;
    bool congestedNow = false;
    std::function<void(std::string_view)> onSend;
    std::function<void()> onClosed;
};

class Harness
{
public:
    explicit Harness(std::uint8_t flags)
    {
        settings.Port = "2323";
        settings.ServerRoot = g_tree->root;
        settings.LoginRequired = flags & 1;
        player.running = flags & 2;
        if (flags & 4) {
            settings.UserName.clear();
            settings.Password.clear();
        } else {
            settings.UserName = "user";
            settings.Password = "pw";
        }
        settings.LogLevel = (flags & 8) ? LogLevel::AllActivity : LogLevel::Off;
        settings.Negotiate = !(flags & 16);
        // Entries are formatted at every level but written nowhere: no file grows during a run.
        settings.LogFile.clear();
        socket.onSend = [this](std::string_view bytes) { onSend(bytes); };
        socket.onClosed = [this] { onClosed(); };
        log.onStatus = [this](const std::string& word) { onStatus(word); };

        server.Server_Load();
        socket.settle();
        if (socket.state == CheckingSocket::State::Listening)
            connect();
    }

    void run(const std::uint8_t* data, std::size_t size)
    {
        std::size_t at = 0;
        auto next = [&]() -> std::uint8_t { return at < size ? data[at++] : 0; };
        while (at < size) {
            const std::uint8_t op = next();
            switch (op % 8) {
            case 4:
                advance(std::chrono::milliseconds(500 * next()));
                break;
            case 5:
                hangUpOrConnect();
                break;
            case 6:
                server.Cmd_Start_Click();
                socket.settle();
                afterEveryStep();
                break;
            case 7:
                changeSurroundings(next());
                break;
            default: {
                const std::size_t length = std::min<std::size_t>(next(), size - at);
                pending.append(reinterpret_cast<const char*>(data + at), length);
                at += length;
                deliver();
                break;
            }
            }
        }
        // Whatever was left waiting runs out: the time limits must close what they should.
        advance(61s);
    }

private:
    void connect()
    {
        greeting.clear();
        inGreeting = true;
        server.Winsock1_ConnectionRequest();
        inGreeting = false;
        socket.settle();
        if (socket.state != CheckingSocket::State::Connected) {
            afterEveryStep();
            return;
        }
        const bool login = server.session().Stage != SessionStage::Command;
        const std::string expected = std::string(settings.Negotiate ? kOptionOffer : "") +
                                     std::string(kGreeting) + std::string(kNotice) +
                                     (login ? std::string("User:") : std::string(kPrompt));
        if (greeting != expected)
            violated("greeting", greeting);
        loggedIn = !login;
        connectedAt = scheduler.now;
        afterEveryStep();
    }

    void hangUpOrConnect()
    {
        if (socket.state == CheckingSocket::State::Connected)
            server.Winsock1_Close(socket.connection);
        else if (socket.state == CheckingSocket::State::Listening)
            connect();
        afterEveryStep();
    }

    void changeSurroundings(std::uint8_t flags)
    {
        if (flags & 1)
            settings.LoginRequired = !settings.LoginRequired;
        if (flags & 2)
            player.running = !player.running;
        if (flags & 4)
            socket.failListen = !socket.failListen;
        if (flags & 8)
            socket.acceptFails = !socket.acceptFails;
        if (flags & 16) {
            // Credentials are read at each attempt, so this applies to the next one.
            const bool empty = settings.UserName.empty();
            settings.UserName = empty ? "user" : "";
            settings.Password = empty ? "pw" : "";
        }
        if (flags & 32) {
            // The client stops taking its replies, or catches up again.
            socket.congestedNow = !socket.congestedNow;
            deliver();
        }
        if (flags & 64)
            settings.LogLevel =
                settings.LogLevel == LogLevel::Off ? LogLevel::AllActivity : LogLevel::Off;
        afterEveryStep();
    }

    /** Hands the waiting input to the server the way the socket adapter does. */
    void deliver()
    {
        while (!pending.empty() && socket.state == CheckingSocket::State::Connected &&
               !socket.congestedNow) {
            const std::size_t offered = pending.size();
            const std::uint64_t connection = connections;
            const bool pausedBefore = inRetryPause;
            sentDuringDelivery = false;
            delivering = true;
            const std::size_t used = server.Winsock1_DataArrival(socket.connection, pending);
            delivering = false;
            // "np follow" ends its line without a prompt; a keystroke brings the prompt later.
            if (inCommand && server.follows(socket.connection))
                inCommand = false;
            if (inCommand)
                violated("a command reply without the command prompt after it", verb);
            if (used == 0 || used > offered)
                violated("bytes used out of range", pending);
            if (pausedBefore && sentDuringDelivery)
                violated("input during the pause after a failed login was answered", pending);
            if (connection != connections)
                break;
            pending.erase(0, used);
            afterEveryStep();
        }
        afterEveryStep();
    }

    void advance(std::chrono::milliseconds step)
    {
        const std::uint64_t connection = connections;
        const bool wasLoggedIn = loggedIn && socket.state == CheckingSocket::State::Connected;
        player.queueLength = static_cast<std::uint32_t>(step.count() / 500 % 37);
        scheduler.advance(step);
        if (wasLoggedIn && connection != connections)
            violated("a logged-in client was disconnected by a timer");
        deliver();
        if (socket.state == CheckingSocket::State::Connected && !loggedIn &&
            scheduler.now - connectedAt >= kLoginTimeLimit)
            violated("a client that did not log in kept the connection past the time limit");
    }

    void afterEveryStep()
    {
        const TelnetSession& session = server.session();
        for (const std::string* buffer :
             {&session.UserBuffer, &session.PassBuffer, &session.CommandLine}) {
            if (buffer->size() > kMaxLineLength)
                violated("an input buffer grew past its limit", *buffer);
        }
        if (session.Stage != SessionStage::Command && session.Stage != SessionStage::User &&
            session.Stage != SessionStage::Pass)
            violated("stage out of range");
        const std::string& dir = session.CurrentDir;
        if (dir.empty() || dir.front() != '\\' || dir.back() != '\\')
            violated("current folder not in the protocol's form", dir);
        if (socket.state != CheckingSocket::State::Connected) {
            // The sleep timer and the penalties are the server's and outlive connections; no
            // other timer may.
            if (scheduler.pending() !=
                (server.sleepTimeLeft() ? 1U : 0U) + server.penalties().remembered())
                violated("a timer outlived its connection");
            pending.clear();
        }
    }

    void onSend(std::string_view bytes)
    {
        if (g_trace)
            std::fprintf(stderr, "send   %s\n", escaped(bytes).c_str());
        sentDuringDelivery = true;
        lastWasPrompt = bytes == kPrompt;
        if (inGreeting) {
            greeting += bytes;
            return;
        }
        if (lastWasPrompt && !loggedIn) {
            // The command prompt after a login: the typed credentials must be the configured
            // ones, whatever bytes led here.
            const TelnetSession& session = server.session();
            if (session.UserBuffer != settings.UserName || session.PassBuffer != settings.Password)
                violated("logged in with wrong credentials",
                         session.UserBuffer + "/" + session.PassBuffer);
            loggedIn = true;
        }
        if (bytes == "User:") {
            if (inRetryPause && scheduler.now - failedAt < kLoginRetryPause)
                violated("asked again before the pause after a failed login");
            inRetryPause = false;
        }
    }

    void onStatus(const std::string& word)
    {
        if (g_trace)
            std::fprintf(stderr, "status %s\n", escaped(word).c_str());
        const bool afterPrompt = lastWasPrompt;
        lastWasPrompt = false;
        if (word == "login failed") {
            inRetryPause = true;
            failedAt = scheduler.now;
        }
        if (!delivering || socket.state != CheckingSocket::State::Connected ||
            server.session().Stage != SessionStage::Command)
            return;
        if (afterPrompt && word == "connected") {
            inCommand = false;
            return;
        }
        // Any other word while a logged-in client's input is taken is a command's verb.
        if (inCommand)
            violated("a command line began before the last one got its prompt", verb);
        inCommand = true;
        verb = word;
    }

    void onClosed()
    {
        lastWasPrompt = false;
        if (inCommand && verb != "exit")
            violated("a command other than exit closed the connection", verb);
        inCommand = false;
        inRetryPause = false;
        ++connections;
        pending.clear();
    }

    ServerSettings settings;
    CheckingSocket socket;
    ActivityLog log{settings, [] { return std::string("2026-01-02 03:04:05"); }};
    CheckingPlayer player;
    CheckingFolders folders;
    test::ManualScheduler scheduler;
    TelnetServer server{settings, socket, log, player, folders, scheduler};

    std::string pending;
    std::string greeting;
    std::string verb;
    std::uint64_t connections = 0;
    std::chrono::milliseconds connectedAt{0};
    std::chrono::milliseconds failedAt{0};
    bool inGreeting = false;
    bool loggedIn = false;
    bool delivering = false;
    bool inCommand = false;
    bool lastWasPrompt = false;
    bool inRetryPause = false;
    bool sentDuringDelivery = false;
};

} // namespace
} // namespace zelvor

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    zelvor::makeTree();
    zelvor::g_trace = std::getenv("ZELVOR_FUZZ_TRACE") != nullptr;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size == 0)
        return 0;
    zelvor::Harness harness(data[0]);
    harness.run(data + 1, size - 1);
    return 0;
}
