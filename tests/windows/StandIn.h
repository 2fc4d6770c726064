// SPDX-License-Identifier: MIT
#pragma once

#include <windows.h>

#include <string>
#include <string_view>
#include <vector>

namespace zelvor::test {

/** The Windows form of a path of the build machine, reached through wine's Z: drive. */
std::string windowsPath(std::string_view hostPath);

/** The stand-in player program built for the tests. */
std::string standInProgram();

/** The bytes as two lower-case hex digits each, as the stand-in logs a WM_COPYDATA block. */
std::string hexBytes(std::string_view bytes);

/** A fresh folder below the build folder on the Z: drive, removed with its content at the end. */
class ScratchFolder
{
public:
    ScratchFolder();
    ~ScratchFolder();
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;

    /** The folder's Windows path, without a closing "\". */
    const std::string& path() const { return m_path; }
    /** The Windows path of a name below the folder ("a\b.mp3"); creates nothing. */
    std::string operator/(std::string_view relative) const;
    /** Creates the file and its folders with the given bytes; returns its Windows path. */
    std::string write(std::string_view relative, std::string_view bytes = {}) const;
    /** Creates the folder and its parents; returns its Windows path. */
    std::string mkdir(std::string_view relative) const;
    /** Copies the stand-in program to the relative path; returns its Windows path. */
    std::string copyStandIn(std::string_view relative) const;

private:
    std::string m_path;
};

/** Every line of a stand-in log, without the line ends; empty when there is no log yet. */
std::vector<std::string> logLines(const std::string& logPath);

/**
 * Counts stand-ins that have opened their window. Create it before starting a stand-in by any
 * means (the stand-in releases it once), then wait once per start.
 */
class ReadySignal
{
public:
    ReadySignal();
    ~ReadySignal();
    ReadySignal(const ReadySignal&) = delete;
    ReadySignal& operator=(const ReadySignal&) = delete;

    /**
     * True when one more stand-in became ready within ten seconds; false at once when the
     * given process ends first.
     */
    bool wait(HANDLE process = nullptr);

private:
    HANDLE m_semaphore;
};

/**
 * A stand-in player started by the test with its log and further options. It is stopped when
 * the object goes; should the test process die first, the job of the test process ends it.
 */
class StandIn
{
public:
    StandIn(const std::string& logPath, const std::vector<std::string>& options = {});
    ~StandIn();
    StandIn(const StandIn&) = delete;
    StandIn& operator=(const StandIn&) = delete;

    /** True once the window is open; false when the program failed to start or to get there. */
    bool ready() const { return m_ready; }
    /** True when the process ended within ten seconds. */
    bool waitForExit();

private:
    PROCESS_INFORMATION m_process{};
    bool m_ready = false;
};

/** The process ids of every open window of the player's class. */
std::vector<DWORD> standInProcesses();

/** Ends every process that has a window of the player's class and waits until each is gone. */
bool stopAllStandIns();

/** Puts the test process in a job that ends every process it started when the test ends. */
void killChildrenOnExit();

} // namespace zelvor::test
