// SPDX-License-Identifier: MIT
#include "Surroundings.h"

#include "TcpClient.h"
#include "ZelvorProcess.h"
#include "settings/PasswordScrambling.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>
#include <thread>
#include <vector>

namespace zelvor::test {

using Clock = std::chrono::steady_clock;

std::string IniText::text() const
{
    return "[Zelvor]\r\nPort=" + std::to_string(port) + "\r\nServer Root=" + serverRoot +
           "\r\nWinamp Location=mpd\r\nLogLevel1=" + (logLevel == 1 ? "True" : "False") +
           "\r\nLogLevel2=" + (logLevel == 2 ? "True" : "False") +
           "\r\nLogin=" + (login ? "False" : "True") + "\r\nServer Logfile=" + logFile +
           "\r\nUser=" + user + "\r\nPassword=" + EncryptPassword(password) + "\r\n";
}

long statusKiB(pid_t pid, const std::string& field)
{
    std::ifstream in("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind(field + ":", 0) == 0) {
            std::istringstream words(line.substr(field.size() + 1));
            long value = -1;
            words >> value;
            return value;
        }
    }
    return -1;
}

int openDescriptors(pid_t pid)
{
    std::error_code error;
    int count = 0;
    for (std::filesystem::directory_iterator it("/proc/" + std::to_string(pid) + "/fd", error), end;
         !error && it != end; it.increment(error))
        ++count;
    return error ? -1 : count;
}

std::size_t outputCount(const ZelvorProcess& program, const std::string& text)
{
    const std::string output = program.errorOutput();
    std::size_t count = 0;
    for (auto at = output.find(text); at != std::string::npos; at = output.find(text, at + 1))
        ++count;
    return count;
}

bool waitForOutputCount(const ZelvorProcess& program, const std::string& text, std::size_t count,
                        std::chrono::milliseconds timeout)
{
    const auto deadline = Clock::now() + timeout;
    while (outputCount(program, text) < count) {
        if (Clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

namespace {

bool endsWith(const std::string& text, const std::string& suffix)
{
    return text.size() >= suffix.size() &&
           text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

bool answerLogin(TcpClient& client, const std::string& user, const std::string& password)
{
    client.send(user + "\r\n");
    if (client.readUntil("Pass:") != user + "\r\nPass:")
        return false;
    client.send(password + "\r\n");
    return client.readUntil("\r\nZelvor>") == "\r\nZelvor>";
}

} // namespace

bool logIn(TcpClient& client, const std::string& user, const std::string& password)
{
    return endsWith(client.readUntil("User:"), "User:") && answerLogin(client, user, password);
}

namespace {

std::string g_greetingFailure;

} // namespace

bool connectAndGreet(TcpClient& client, std::uint16_t port, const std::string& prompt,
                     std::chrono::milliseconds timeout, const std::string& source)
{
    if (!client.connect("127.0.0.1", port, source)) {
        g_greetingFailure = "connection refused";
        return false;
    }
    const std::string greeting = client.readUntil(prompt, timeout);
    if (endsWith(greeting, prompt))
        return true;
    g_greetingFailure = "received " + std::to_string(greeting.size()) + " bytes: " + greeting;
    return false;
}

std::string lastGreetingFailure()
{
    return g_greetingFailure;
}

bool connectAndLogIn(TcpClient& client, std::uint16_t port)
{
    return connectAndGreet(client, port) && answerLogin(client, "bob", "pw");
}

std::string readPrompts(TcpClient& client, std::size_t count, std::chrono::milliseconds timeout)
{
    const std::string prompt = "\r\nZelvor>";
    std::string received;
    std::size_t seen = 0;
    std::size_t searchFrom = 0;
    const auto deadline = Clock::now() + timeout;
    char buffer[65536];
    while (seen < count && Clock::now() < deadline) {
        pollfd entry{client.fd(), POLLIN, 0};
        ::poll(&entry, 1, 20);
        const auto n = ::recv(client.fd(), buffer, sizeof buffer, MSG_DONTWAIT);
        if (n == 0 || (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR))
            break;
        if (n < 0)
            continue;
        received.append(buffer, static_cast<std::size_t>(n));
        for (auto at = received.find(prompt, searchFrom); at != std::string::npos;
             at = received.find(prompt, searchFrom)) {
            ++seen;
            searchFrom = at + prompt.size();
        }
        // A prompt may arrive split over two reads.
        searchFrom =
            std::max(searchFrom, received.size() - std::min(received.size(), prompt.size() - 1));
    }
    return received;
}

std::size_t sendWithoutWaiting(TcpClient& client, const std::string& bytes)
{
    std::size_t sent = 0;
    while (sent < bytes.size()) {
        const auto n = ::send(client.fd(), bytes.data() + sent, bytes.size() - sent,
                              MSG_DONTWAIT | MSG_NOSIGNAL);
        if (n <= 0)
            break;
        sent += static_cast<std::size_t>(n);
    }
    return sent;
}

SmallDisk::SmallDisk(const std::filesystem::path& folder, std::size_t bytes)
    : m_folder(folder), m_bytes(bytes)
{
    std::filesystem::create_directories(folder);
    const std::string options = "size=" + std::to_string(bytes) + ",mode=0755";
    if (::mount("tmpfs", folder.c_str(), "tmpfs", 0, options.c_str()) == 0)
        m_mounted = true;
    else
        m_error = std::strerror(errno);
}

SmallDisk::~SmallDisk()
{
    if (m_mounted)
        ::umount2(m_folder.c_str(), MNT_DETACH);
}

bool SmallDisk::setReadOnly(bool readOnly)
{
    const std::string options = "size=" + std::to_string(m_bytes);
    const unsigned long flags = MS_REMOUNT | (readOnly ? MS_RDONLY : 0);
    return ::mount("tmpfs", m_folder.c_str(), "tmpfs", flags, options.c_str()) == 0;
}

bool SmallDisk::fill()
{
    const std::string filler = (m_folder / "filler").string();
    const int fd = ::open(filler.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
    if (fd < 0)
        return false;
    const std::vector<char> block(4096, 'f');
    bool full = false;
    for (std::size_t written = 0; written <= m_bytes + block.size();) {
        const auto n = ::write(fd, block.data(), block.size());
        if (n < 0) {
            full = errno == ENOSPC;
            break;
        }
        written += static_cast<std::size_t>(n);
    }
    // The last page may still have room for a few bytes: take them one at a time.
    while (full && ::write(fd, "f", 1) == 1) {
    }
    ::close(fd);
    return full;
}

void SmallDisk::makeRoom()
{
    std::error_code error;
    std::filesystem::remove(m_folder / "filler", error);
}

std::vector<std::string> logWords(const std::string& text, bool* whole)
{
    std::vector<std::string> words;
    *whole = text.empty() || (text.size() >= 2 && text.compare(text.size() - 2, 2, "\r\n") == 0);
    std::size_t start = 0;
    while (start < text.size()) {
        auto end = text.find("\r\n", start);
        if (end == std::string::npos)
            end = text.size();
        const std::string line = text.substr(start, end - start);
        start = end + 2;
        // Control bytes of the word are written as "?", so a whole entry has exactly two TABs,
        // and a double quote can only be part of the word.
        const auto firstTab = line.find('\t');
        const auto secondTab =
            firstTab == std::string::npos ? firstTab : line.find('\t', firstTab + 1);
        const bool twoTabs =
            secondTab != std::string::npos && line.find('\t', secondTab + 1) == std::string::npos;
        if (line.size() < 2 || line.front() != '"' || line.back() != '"' || !twoTabs ||
            line.find('"', 1) < secondTab || line.find('\n') != std::string::npos) {
            *whole = false;
            continue;
        }
        words.push_back(line.substr(secondTab + 1, line.size() - secondTab - 2));
    }
    return words;
}

bool runningAsRoot()
{
    return ::geteuid() == 0;
}

} // namespace zelvor::test
