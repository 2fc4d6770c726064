// SPDX-License-Identifier: MIT
#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace zelvor::test {

class TcpClient;
class ZelvorProcess;

/** The settings a test gives the real program, as zelvor.ini text. */
struct IniText
{
    std::uint16_t port = 0;
    std::string serverRoot;
    std::string logFile;
    /** 0 off, 1 connections only, 2 all activity. */
    int logLevel = 0;
    bool login = true;
    std::string user = "bob";
    std::string password = "pw";

    std::string text() const;
};

/** A field of /proc/<pid>/status in KiB ("VmRSS"); -1 when the process is gone. */
long statusKiB(pid_t pid, const std::string& field);

/** How many descriptors the process has open; -1 when the process is gone. */
int openDescriptors(pid_t pid);

/** How often the text occurs in the program's error output. */
std::size_t outputCount(const ZelvorProcess& program, const std::string& text);

/** Waits until the program's error output holds the text at least count times. */
bool waitForOutputCount(const ZelvorProcess& program, const std::string& text, std::size_t count,
                        std::chrono::milliseconds timeout = std::chrono::seconds(10));

/** Reads the greeting and logs in (user "bob", password "pw" unless told otherwise). */
bool logIn(TcpClient& client, const std::string& user = "bob", const std::string& password = "pw");

/**
 * Connects once, from the source address when one is given, and reads the greeting up to its
 * prompt. The listener is open for the program's life, so a refused or silent connection is a
 * failure, never something to try again.
 */
bool connectAndGreet(TcpClient& client, std::uint16_t port, const std::string& prompt = "User:",
                     std::chrono::milliseconds timeout = std::chrono::seconds(10),
                     const std::string& source = {});

/** Why the last connectAndGreet returned false. */
std::string lastGreetingFailure();

/** connectAndGreet, then the login as bob with the password pw. */
bool connectAndLogIn(TcpClient& client, std::uint16_t port);

/** Reads until the command prompt has arrived count times; returns everything read. */
std::string readPrompts(TcpClient& client, std::size_t count,
                        std::chrono::milliseconds timeout = std::chrono::seconds(20));

/** Sends what the socket takes right now without waiting; returns how many bytes it took. */
std::size_t sendWithoutWaiting(TcpClient& client, const std::string& bytes);

/**
 * A small tmpfs of its own mounted on a folder, for a full disk or a read-only one. Needs root;
 * mounted() is false when it could not be mounted. Unmounted when it goes.
 */
class SmallDisk
{
public:
    SmallDisk(const std::filesystem::path& folder, std::size_t bytes);
    ~SmallDisk();
    SmallDisk(const SmallDisk&) = delete;
    SmallDisk& operator=(const SmallDisk&) = delete;

    bool mounted() const { return m_mounted; }
    const std::string& error() const { return m_error; }
    bool setReadOnly(bool readOnly);
    /** Fills the disk with a file until nothing more fits; false when it did not fill. */
    bool fill();
    /** Removes the filling file again. */
    void makeRoom();

private:
    std::filesystem::path m_folder;
    std::size_t m_bytes;
    bool m_mounted = false;
    std::string m_error;
};

/**
 * The status words of a log file's entries, in order. Each entry must be whole: a double quote,
 * date and time, TAB, address, TAB, word, a double quote, CR LF; otherwise *whole is set false.
 */
std::vector<std::string> logWords(const std::string& text, bool* whole);

/** True when the tests run as root, which writes into read-only folders all the same. */
bool runningAsRoot();

} // namespace zelvor::test
