// SPDX-License-Identifier: MIT
#pragma once

#include "support/TempDir.h"

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace zelvor::test {

/**
 * The real zelvor program, started headless with its settings folder in a temp folder and its
 * error output kept in a file there.
 */
class ZelvorProcess
{
public:
    ZelvorProcess();
    ~ZelvorProcess();

    /** The settings folder ($XDG_CONFIG_HOME/zelvor). */
    std::filesystem::path settingsFolder() const { return m_home.path() / "config" / "zelvor"; }
    std::filesystem::path iniFile() const { return settingsFolder() / "zelvor.ini"; }
    /** Writes zelvor.ini before the start. */
    void writeIni(const std::string& bytes) const;
    /** Extra environment for the program (MPD_HOST, QT_QPA_PLATFORM, ...). */
    void setEnv(const std::string& name, const std::string& value) { m_env[name] = value; }
    /** Leaves a variable out of the program's environment. */
    void unsetEnv(const std::string& name) { m_unset.push_back(name); }
    /** A program and its arguments that start zelvor in their turn (setpriv, for example). */
    void setLauncher(std::vector<std::string> launcher) { m_launcher = std::move(launcher); }
    /** Command-line arguments for the program. */
    void setArgs(std::vector<std::string> args) { m_args = std::move(args); }

    void start();
    /** Waits until the listener has been opened. */
    bool waitListening(std::chrono::milliseconds timeout = std::chrono::seconds(10));
    /** Waits until the error output holds the text. */
    bool waitForOutput(const std::string& text,
                       std::chrono::milliseconds timeout = std::chrono::seconds(10));
    void signal(int number) const;
    /** Waits for the end; the exit code, 128 + signal when killed, -1 on timeout. */
    int wait(std::chrono::milliseconds timeout = std::chrono::seconds(10));
    std::string errorOutput() const;
    pid_t pid() const { return m_pid; }
    const TempDir& home() const { return m_home; }

private:
    TempDir m_home;
    std::map<std::string, std::string> m_env;
    std::vector<std::string> m_unset;
    std::vector<std::string> m_launcher;
    std::vector<std::string> m_args;
    pid_t m_pid = -1;
};

} // namespace zelvor::test
