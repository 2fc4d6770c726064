// SPDX-License-Identifier: MIT
#include "ZelvorProcess.h"

#include "TcpClient.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <thread>
#include <vector>

extern char** environ;

namespace zelvor::test {

using Clock = std::chrono::steady_clock;

ZelvorProcess::ZelvorProcess()
{
    std::filesystem::create_directories(m_home.path() / "config");
    // No player answers here unless a test says otherwise.
    m_env["MPD_HOST"] = "127.0.0.1";
    m_env["MPD_PORT"] = std::to_string(freePort());
}

ZelvorProcess::~ZelvorProcess()
{
    if (m_pid > 0) {
        ::kill(m_pid, SIGKILL);
        ::waitpid(m_pid, nullptr, 0);
    }
}

void ZelvorProcess::writeIni(const std::string& bytes) const
{
    std::filesystem::create_directories(settingsFolder());
    m_home.write("config/zelvor/zelvor.ini", bytes);
}

void ZelvorProcess::start()
{
    std::map<std::string, std::string> env;
    for (char** entry = environ; *entry; ++entry) {
        const std::string text = *entry;
        const auto equals = text.find('=');
        env[text.substr(0, equals)] = equals == std::string::npos ? "" : text.substr(equals + 1);
    }
    // Headless: no display of any kind; the local socket in the settings folder, not in the
    // machine's runtime folder, unless the test sets one.
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM", "XDG_RUNTIME_DIR"})
        env.erase(name);
    env["XDG_CONFIG_HOME"] = (m_home.path() / "config").string();
    env["HOME"] = m_home.str();
    for (const auto& [name, value] : m_env)
        env[name] = value;
    for (const auto& name : m_unset)
        env.erase(name);

    std::vector<std::string> texts;
    for (const auto& [name, value] : env)
        texts.push_back(name + "=" + value);
    std::vector<char*> envp;
    for (auto& text : texts)
        envp.push_back(text.data());
    envp.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    const std::string errorFile = (m_home.path() / "stderr.txt").string();
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, errorFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0600);
    std::vector<std::string> words = m_launcher;
    words.push_back(ZELVOR_BINARY);
    words.insert(words.end(), m_args.begin(), m_args.end());
    std::vector<char*> argv;
    for (auto& word : words)
        argv.push_back(word.data());
    argv.push_back(nullptr);
    if (posix_spawn(&m_pid, argv[0], &actions, nullptr, argv.data(), envp.data()) != 0)
        m_pid = -1;
    posix_spawn_file_actions_destroy(&actions);
}

bool ZelvorProcess::waitListening(std::chrono::milliseconds timeout)
{
    // Headless, every status word is printed; "started" means the listener is open.
    return waitForOutput(" started\n", timeout);
}

bool ZelvorProcess::waitForOutput(const std::string& text, std::chrono::milliseconds timeout)
{
    const auto deadline = Clock::now() + timeout;
    while (Clock::now() < deadline) {
        if (errorOutput().find(text) != std::string::npos)
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return false;
}

void ZelvorProcess::signal(int number) const
{
    if (m_pid > 0)
        ::kill(m_pid, number);
}

int ZelvorProcess::wait(std::chrono::milliseconds timeout)
{
    const auto deadline = Clock::now() + timeout;
    while (m_pid > 0 && Clock::now() < deadline) {
        int status = 0;
        const pid_t done = ::waitpid(m_pid, &status, WNOHANG);
        if (done == m_pid) {
            m_pid = -1;
            return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return -1;
}

std::string ZelvorProcess::errorOutput() const
{
    return readFile(m_home.path() / "stderr.txt");
}

} // namespace zelvor::test
