// SPDX-License-Identifier: MIT
#include "support/MpdFixture.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <sstream>
#include <stdexcept>
#include <thread>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace zelvor::test {

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr auto kReplyTimeout = std::chrono::milliseconds(5000);

/** A plain protocol connection on MPD's unix socket, independent of the code under test. */
class RawClient
{
public:
    explicit RawClient(const fs::path& socketPath)
    {
        m_fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::strncpy(address.sun_path, socketPath.c_str(), sizeof address.sun_path - 1);
        if (m_fd < 0 ||
            ::connect(m_fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
            !readLine(m_welcome) || m_welcome.rfind("OK MPD ", 0) != 0)
            close();
    }
    ~RawClient() { close(); }
    RawClient(const RawClient&) = delete;
    RawClient& operator=(const RawClient&) = delete;

    bool connected() const { return m_fd >= 0; }
    const std::string& welcome() const { return m_welcome; }

    /** The answer up to and including its "OK" or "ACK" line; "" when none came. */
    std::string request(const std::string& line, std::chrono::milliseconds timeout = kReplyTimeout)
    {
        const std::string text = line + "\n";
        if (m_fd < 0 || ::send(m_fd, text.data(), text.size(), MSG_NOSIGNAL) !=
                            static_cast<ssize_t>(text.size()))
            return {};
        std::string answer;
        std::string reply;
        while (readLine(reply, timeout)) {
            answer += reply + "\n";
            if (reply == "OK" || reply.rfind("ACK ", 0) == 0)
                return answer;
        }
        return {};
    }

private:
    bool readLine(std::string& line, std::chrono::milliseconds timeout = kReplyTimeout)
    {
        const auto deadline = Clock::now() + timeout;
        while (true) {
            const auto end = m_buffer.find('\n');
            if (end != std::string::npos) {
                line = m_buffer.substr(0, end);
                m_buffer.erase(0, end + 1);
                return true;
            }
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
            pollfd ready{m_fd, POLLIN, 0};
            if (left.count() <= 0 || ::poll(&ready, 1, static_cast<int>(left.count())) <= 0)
                return false;
            char chunk[4096];
            const auto got = ::recv(m_fd, chunk, sizeof chunk, 0);
            if (got <= 0)
                return false;
            m_buffer.append(chunk, static_cast<std::size_t>(got));
        }
    }

    void close()
    {
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = -1;
    }

    int m_fd = -1;
    std::string m_buffer;
    std::string m_welcome;
};

void putLittleEndian(std::string& out, std::uint32_t value, int bytes)
{
    for (int i = 0; i < bytes; ++i)
        out.push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
}

unsigned freeLoopbackPort()
{
    const int probe = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    unsigned port = 0;
    if (::bind(probe, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
        ::getsockname(probe, reinterpret_cast<sockaddr*>(&address), &length) == 0)
        port = ntohs(address.sin_port);
    ::close(probe);
    return port;
}

bool reaped(pid_t child)
{
    int status = 0;
    return ::waitpid(child, &status, WNOHANG) == child;
}

std::string fileText(const fs::path& file)
{
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

} // namespace

void writeWav(const fs::path& file, unsigned milliseconds, unsigned rate, unsigned channels)
{
    const std::uint32_t frameSize = 2 * channels;
    const std::uint32_t dataSize =
        static_cast<std::uint32_t>(std::uint64_t{rate} * milliseconds / 1000) * frameSize;
    std::string header = "RIFF";
    putLittleEndian(header, 36 + dataSize, 4);
    header += "WAVEfmt ";
    putLittleEndian(header, 16, 4);
    putLittleEndian(header, 1, 2);
    putLittleEndian(header, channels, 2);
    putLittleEndian(header, rate, 4);
    putLittleEndian(header, rate * frameSize, 4);
    putLittleEndian(header, frameSize, 2);
    putLittleEndian(header, 16, 2);
    header += "data";
    putLittleEndian(header, dataSize, 4);
    fs::create_directories(file.parent_path());
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out << header << std::string(dataSize, '\0');
}

fs::path realLengthSongs()
{
    const fs::path folder = ZELVOR_TEST_SONGS_DIR;
    std::error_code created;
    fs::create_directories(folder, created);
    for (const char* name : {"one.wav", "two.wav"}) {
        std::error_code error;
        if (fs::is_regular_file(folder / name, error))
            continue;
        // Tests run side by side: each writes its own copy and renames it into place whole.
        const fs::path written =
            folder / (std::string(name) + "." + std::to_string(::getpid()) + ".new");
        writeWav(written, 70000, 44100, 2);
        fs::rename(written, folder / name, error);
    }
    return folder;
}

MpdFixture::MpdFixture()
{
    std::string pattern = (fs::temp_directory_path() / "zelvor-mpd-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr)
        throw std::runtime_error("cannot create a temp folder for MPD");
    m_folder = pattern;
    writeMusic();
}

MpdFixture::~MpdFixture()
{
    stop();
    stopLaunched();
    std::error_code error;
    fs::remove_all(m_folder, error);
}

void MpdFixture::writeMusic() const
{
    // Twenty seconds each, so that a song keeps playing through a test. Written out of name
    // order, so that a folder's listing order is not name order by chance.
    const fs::path music = musicDir();
    writeWav(music / "album" / "10 tenth.wav", 20000);
    writeWav(music / "album" / "disc2" / "a.wav", 20000);
    writeWav(music / "album" / "02 second.wav", 20000);
    writeWav(music / "album" / "01 first.wav", 20000);
    writeWav(music / "other" / "b.wav", 20000);
    writeWav(music / "top.wav", 20000);
    std::ofstream(music / "album" / "cover.txt") << "not music\n";
}

void MpdFixture::writeConfig() const
{
    const fs::path folder = m_folder;
    std::ofstream out(configPath(), std::ios::trunc);
    out << "music_directory \"" << musicDir().string() << "\"\n"
        << "db_file \"" << (folder / "database").string() << "\"\n"
        << "log_file \"" << (folder / "mpd.log").string() << "\"\n"
        << "pid_file \"" << (folder / "mpd.pid").string() << "\"\n"
        << "bind_to_address \"" << socketPath().string() << "\"\n"
        << "bind_to_address \"127.0.0.1\"\n"
        << "port \"" << m_port << "\"\n"
        << "log_level \"" << (verboseLog ? "verbose" : "notice") << "\"\n"
        << "auto_update \"no\"\n"
        << "zeroconf_enabled \"no\"\n"
        << "audio_output {\n"
        << "    type \"null\"\n"
        << "    name \"null\"\n"
        << "    mixer_type \"" << mixerType << "\"\n"
        << "}\n";
}

std::string MpdFixture::commandLine() const
{
    return "mpd --no-daemon " + configPath().string();
}

bool MpdFixture::spawn()
{
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    const std::string output = (m_folder / "mpd.out").string();
    posix_spawn_file_actions_addopen(&actions, 1, output.c_str(), O_WRONLY | O_CREAT | O_APPEND,
                                     0644);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    posix_spawn_file_actions_addclosefrom_np(&actions, 3);
    std::string program = "mpd";
    std::string foreground = "--no-daemon";
    std::string config = configPath().string();
    char* argv[] = {program.data(), foreground.data(), config.data(), nullptr};
    const int failed = ::posix_spawnp(&m_pid, "mpd", &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    if (failed != 0) {
        m_pid = -1;
        m_error = std::string("cannot start mpd: ") + std::strerror(failed);
    }
    return failed == 0;
}

bool MpdFixture::start()
{
    if (m_pid > 0)
        return true;
    // Another process may take the probed port before MPD binds it; then MPD exits and the
    // next attempt takes another port.
    for (int attempt = 0; attempt < 5; ++attempt) {
        if (m_port == 0 || attempt > 0)
            m_port = freeLoopbackPort();
        writeConfig();
        if (!spawn())
            return false;
        bool exited = false;
        waitFor([&] { return answering() || (exited = reaped(m_pid)); });
        if (exited) {
            m_pid = -1;
            continue;
        }
        if (!answering()) {
            stop();
            m_error = "mpd did not answer within ten seconds";
            return false;
        }
        if (!m_updated && !(m_updated = update()))
            return false;
        return true;
    }
    m_error =
        "mpd exited at start: " + fileText(m_folder / "mpd.out") + fileText(m_folder / "mpd.log");
    return false;
}

bool MpdFixture::update(std::chrono::seconds timeout)
{
    RawClient client(socketPath());
    if (client.request("update").find("updating_db") == std::string::npos) {
        m_error = "mpd refused to update its database";
        return false;
    }
    // Idle events queue up on the connection, so none is missed between status and idle.
    const auto deadline = Clock::now() + timeout;
    while (Clock::now() < deadline) {
        const std::string status = client.request("status");
        if (status.empty())
            break;
        if (status.find("updating_db:") == std::string::npos)
            return true;
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (client.request("idle update", left).empty())
            break;
    }
    m_error = "mpd did not finish its database update";
    return false;
}

bool MpdFixture::addRealLengthSongs()
{
    const fs::path shared = realLengthSongs();
    fs::create_directories(musicDir() / "long");
    for (const char* name : {"one.wav", "two.wav"}) {
        std::error_code error;
        fs::create_hard_link(shared / name, musicDir() / "long" / name, error);
        if (error && !fs::copy_file(shared / name, musicDir() / "long" / name, error))
            return false;
    }
    return update();
}

std::string MpdFixture::logText() const
{
    return fileText(m_folder / "mpd.log");
}

void MpdFixture::stop()
{
    if (m_pid <= 0)
        return;
    ::kill(m_pid, SIGCONT);
    ::kill(m_pid, SIGTERM);
    const pid_t child = m_pid;
    if (!waitFor([child] { return reaped(child); }, std::chrono::seconds(5))) {
        ::kill(child, SIGKILL);
        ::waitpid(child, nullptr, 0);
    }
    m_pid = -1;
}

pid_t MpdFixture::launchedPid() const
{
    const pid_t pid = static_cast<pid_t>(std::atoi(fileText(m_folder / "mpd.pid").c_str()));
    if (pid <= 0 || pid == m_pid)
        return -1;
    std::string arguments = fileText("/proc/" + std::to_string(pid) + "/cmdline");
    std::replace(arguments.begin(), arguments.end(), '\0', ' ');
    return arguments.find(configPath().string()) == std::string::npos ? -1 : pid;
}

void MpdFixture::stopLaunched()
{
    const pid_t pid = launchedPid();
    if (pid <= 0 || processGone(pid))
        return;
    ::kill(pid, SIGCONT);
    ::kill(pid, SIGTERM);
    if (!waitFor([pid] { return processGone(pid); }, std::chrono::seconds(5))) {
        ::kill(pid, SIGKILL);
        waitFor([pid] { return processGone(pid); }, std::chrono::seconds(5));
    }
}

void MpdFixture::useSocket() const
{
    ::setenv("MPD_HOST", socketPath().c_str(), 1);
    ::unsetenv("MPD_PORT");
    ::unsetenv("MPD_TIMEOUT");
}

void MpdFixture::useTcp() const
{
    ::setenv("MPD_HOST", host().c_str(), 1);
    ::setenv("MPD_PORT", std::to_string(m_port).c_str(), 1);
    ::unsetenv("MPD_TIMEOUT");
}

std::string mpdCommand(const fs::path& socket, const std::string& line)
{
    RawClient client(socket);
    return client.request(line);
}

std::string MpdFixture::command(const std::string& line) const
{
    return mpdCommand(socketPath(), line);
}

std::map<std::string, std::string> MpdFixture::status() const
{
    std::map<std::string, std::string> fields;
    std::istringstream lines(command("status"));
    std::string line;
    while (std::getline(lines, line)) {
        const auto colon = line.find(": ");
        if (colon != std::string::npos)
            fields[line.substr(0, colon)] = line.substr(colon + 2);
    }
    return fields;
}

std::vector<std::string> MpdFixture::queue() const
{
    std::vector<std::string> files;
    std::istringstream lines(command("playlistinfo"));
    std::string line;
    while (std::getline(lines, line))
        if (line.rfind("file: ", 0) == 0)
            files.push_back(line.substr(6));
    return files;
}

std::string MpdFixture::protocolVersion() const
{
    RawClient client(socketPath());
    return client.connected() ? client.welcome().substr(7) : std::string();
}

bool MpdFixture::answering() const
{
    return RawClient(socketPath()).connected();
}

bool MpdFixture::waitFor(const std::function<bool()>& condition, std::chrono::milliseconds timeout)
{
    const auto deadline = Clock::now() + timeout;
    while (!condition()) {
        if (Clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

bool MpdFixture::processGone(pid_t pid)
{
    if (::kill(pid, 0) != 0 && errno == ESRCH)
        return true;
    const std::string stat = fileText("/proc/" + std::to_string(pid) + "/stat");
    const auto close = stat.rfind(')');
    if (close == std::string::npos || close + 2 >= stat.size())
        return true;
    const char state = stat[close + 2];
    return state == 'Z' || state == 'X';
}

} // namespace zelvor::test
