// SPDX-License-Identifier: MIT
#include "windows/StandIn.h"

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>

namespace zelvor::test {

namespace fs = std::filesystem;

namespace {

constexpr const char* kWindowClass = "Winamp v1.x";
constexpr const char* kReadySemaphore = "ZelvorStandInReady";
constexpr DWORD kWaitMs = 10000;

// Quotes an argument for the command line when it holds a blank or is empty (no test option
// holds a quote).
std::string commandLineArgument(const std::string& argument)
{
    const bool plain = !argument.empty() && argument.find(' ') == std::string::npos;
    return plain ? argument : "\"" + argument + "\"";
}

BOOL CALLBACK collectStandIn(HWND window, LPARAM processes)
{
    char className[64] = {};
    GetClassNameA(window, className, sizeof className);
    if (std::string_view(className) == kWindowClass) {
        DWORD process = 0;
        GetWindowThreadProcessId(window, &process);
        reinterpret_cast<std::vector<DWORD>*>(processes)->push_back(process);
    }
    return TRUE;
}

} // namespace

std::string windowsPath(std::string_view hostPath)
{
    std::string path = "Z:" + std::string(hostPath);
    std::replace(path.begin(), path.end(), '/', '\\');
    return path;
}

std::string standInProgram()
{
    return windowsPath(ZELVOR_STANDIN);
}

std::string hexBytes(std::string_view bytes)
{
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string hex;
    for (const char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        hex += kDigits[byte >> 4];
        hex += kDigits[byte & 0x0f];
    }
    return hex;
}

ScratchFolder::ScratchFolder()
{
    static std::atomic<int> counter{0};
    const fs::path base = windowsPath(ZELVOR_SCRATCH);
    std::error_code error;
    fs::create_directories(base, error);
    const auto name =
        "run-" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(counter.fetch_add(1));
    if (!fs::create_directory(base / name, error) || error)
        throw std::runtime_error("cannot create the scratch folder " + (base / name).string());
    m_path = (base / name).string();
}

ScratchFolder::~ScratchFolder()
{
    std::error_code error;
    fs::remove_all(m_path, error);
}

std::string ScratchFolder::operator/(std::string_view relative) const
{
    return m_path + "\\" + std::string(relative);
}

std::string ScratchFolder::write(std::string_view relative, std::string_view bytes) const
{
    const fs::path file = *this / relative;
    fs::create_directories(file.parent_path());
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return file.string();
}

std::string ScratchFolder::mkdir(std::string_view relative) const
{
    const auto folder = *this / relative;
    fs::create_directories(folder);
    return folder;
}

std::string ScratchFolder::copyStandIn(std::string_view relative) const
{
    const fs::path target = *this / relative;
    fs::create_directories(target.parent_path());
    fs::copy_file(standInProgram(), target, fs::copy_options::overwrite_existing);
    return target.string();
}

std::vector<std::string> logLines(const std::string& logPath)
{
    std::ifstream in(logPath, std::ios::binary);
    const std::string text{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < text.size()) {
        auto end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size();
        lines.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return lines;
}

ReadySignal::ReadySignal() : m_semaphore(CreateSemaphoreA(nullptr, 0, 64, kReadySemaphore)) {}

ReadySignal::~ReadySignal()
{
    if (m_semaphore != nullptr)
        CloseHandle(m_semaphore);
}

bool ReadySignal::wait(HANDLE process)
{
    if (m_semaphore == nullptr)
        return false;
    // A stand-in may also fail before its window exists; then there is nothing to wait for.
    const HANDLE handles[] = {m_semaphore, process};
    return WaitForMultipleObjects(process != nullptr ? 2 : 1, handles, FALSE, kWaitMs) ==
           WAIT_OBJECT_0;
}

StandIn::StandIn(const std::string& logPath, const std::vector<std::string>& options)
{
    ReadySignal signal;
    std::string commandLine =
        commandLineArgument(standInProgram()) + " --log " + commandLineArgument(logPath);
    for (const auto& option : options)
        commandLine += " " + commandLineArgument(option);
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    if (!CreateProcessA(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &m_process))
        return;
    m_ready = signal.wait(m_process.hProcess);
}

StandIn::~StandIn()
{
    if (m_process.hProcess == nullptr)
        return;
    TerminateProcess(m_process.hProcess, 1);
    WaitForSingleObject(m_process.hProcess, kWaitMs);
    CloseHandle(m_process.hThread);
    CloseHandle(m_process.hProcess);
}

bool StandIn::waitForExit()
{
    return WaitForSingleObject(m_process.hProcess, kWaitMs) == WAIT_OBJECT_0;
}

std::vector<DWORD> standInProcesses()
{
    std::vector<DWORD> processes;
    EnumWindows(collectStandIn, reinterpret_cast<LPARAM>(&processes));
    return processes;
}

bool stopAllStandIns()
{
    bool stopped = true;
    for (const DWORD id : standInProcesses()) {
        HANDLE process = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, id);
        if (process == nullptr) {
            stopped = false;
            continue;
        }
        TerminateProcess(process, 1);
        stopped = WaitForSingleObject(process, kWaitMs) == WAIT_OBJECT_0 && stopped;
        CloseHandle(process);
    }
    return stopped && FindWindowA(kWindowClass, nullptr) == nullptr;
}

void killChildrenOnExit()
{
    // The handle is left open on purpose: closing it, at the latest when the test process
    // ends, kills every process still in the job, and children join their parent's job.
    HANDLE job = CreateJobObjectA(nullptr, nullptr);
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
    limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
    if (job == nullptr ||
        !SetInformationJobObject(job, JobObjectExtendedLimitInformation, &limits, sizeof limits) ||
        !AssignProcessToJobObject(job, GetCurrentProcess()))
        throw std::runtime_error("cannot put the test in a job of its own");
}

} // namespace zelvor::test
