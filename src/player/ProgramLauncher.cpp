// SPDX-License-Identifier: MIT
#include "player/ProgramLauncher.h"

#include "player/ProgramCommandLine.h"

#include <cerrno>
#include <cstdlib>
#include <optional>
#include <vector>

#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace zelvor {

namespace {

bool isExecutableFile(const std::string& path)
{
    struct stat info
    {};
    return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) &&
           ::access(path.c_str(), X_OK) == 0;
}

std::optional<std::string> resolveProgram(const std::string& program)
{
    if (program.empty())
        return std::nullopt;
    if (program.find('/') != std::string::npos)
        return isExecutableFile(program) ? std::optional(program) : std::nullopt;
    const char* pathVariable = std::getenv("PATH");
    const std::string searchPath = pathVariable ? pathVariable : "/usr/local/bin:/usr/bin:/bin";
    std::size_t start = 0;
    while (start <= searchPath.size()) {
        const auto end = std::min(searchPath.find(':', start), searchPath.size());
        // An empty entry stands for the current folder, as in the shell.
        std::string folder = searchPath.substr(start, end - start);
        const std::string candidate = (folder.empty() ? "." : folder) + "/" + program;
        if (isExecutableFile(candidate))
            return candidate;
        start = end + 1;
    }
    return std::nullopt;
}

/** What the child processes tell the server through the status pipe. */
struct LaunchReport
{
    int kind;
    int value;
};
constexpr int kReportPid = 1;
constexpr int kReportExecError = 2;

/** Everything the child needs, prepared before fork: after it only system calls are safe. */
struct LaunchPlan
{
    std::string executable;
    std::vector<std::string> words;
    std::vector<char*> argv;
    int devNull = -1;
    int reportWrite = -1;
    int highestFd = 1024;
};

void report(int fd, int kind, int value)
{
    const LaunchReport message{kind, value};
    while (::write(fd, &message, sizeof message) < 0 && errno == EINTR) {
    }
}

void closeAllBut(int keep, int highestFd)
{
    const bool lowClosed = keep == 3 || ::close_range(3, static_cast<unsigned>(keep - 1), 0) == 0;
    if (lowClosed && ::close_range(static_cast<unsigned>(keep + 1), ~0U, 0) == 0)
        return;
    for (int fd = 3; fd <= highestFd; ++fd)
        if (fd != keep)
            ::close(fd);
}

[[noreturn]] void runProgram(const LaunchPlan& plan)
{
    ::setsid();
    sigset_t none;
    sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);
    struct sigaction standard
    {};
    standard.sa_handler = SIG_DFL;
    for (int sig = 1; sig < NSIG; ++sig)
        ::sigaction(sig, &standard, nullptr);
    for (int fd = 0; fd <= 2; ++fd)
        ::dup2(plan.devNull, fd);
    // The status pipe stays open until exec succeeds: it is close-on-exec.
    closeAllBut(plan.reportWrite, plan.highestFd);
    ::execve(plan.executable.c_str(), plan.argv.data(), environ);
    report(plan.reportWrite, kReportExecError, errno);
    ::_exit(127);
}

// The middle process exists only so that the player is not the server's child.
[[noreturn]] void forkPlayer(const LaunchPlan& plan)
{
    const pid_t player = ::fork();
    if (player == 0)
        runProgram(plan);
    report(plan.reportWrite, player > 0 ? kReportPid : kReportExecError,
           player > 0 ? player : errno);
    ::_exit(0);
}

// A server started with a standard descriptor closed gets it back from pipe2 or open; keep
// the launcher's own descriptors clear of 0 to 2 so that the child can set those up freely.
int moveAboveStandard(int fd)
{
    if (fd < 0 || fd > 2)
        return fd;
    const int moved = ::fcntl(fd, F_DUPFD_CLOEXEC, 3);
    ::close(fd);
    return moved;
}

pid_t readReports(int fd)
{
    pid_t player = -1;
    bool execFailed = false;
    LaunchReport message{};
    while (true) {
        const auto got = ::read(fd, &message, sizeof message);
        if (got < 0 && errno == EINTR)
            continue;
        if (got != static_cast<ssize_t>(sizeof message))
            break;
        if (message.kind == kReportPid)
            player = message.value;
        else
            execFailed = true;
    }
    return execFailed ? -1 : player;
}

LaunchPlan planFor(std::string executable, std::vector<std::string> words)
{
    LaunchPlan plan;
    plan.executable = std::move(executable);
    plan.words = std::move(words);
    for (auto& word : plan.words)
        plan.argv.push_back(word.data());
    plan.argv.push_back(nullptr);
    struct rlimit limit
    {};
    if (::getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY)
        plan.highestFd = static_cast<int>(std::min<rlim_t>(limit.rlim_cur, 1 << 20));
    return plan;
}

std::optional<LaunchPlan> planLaunch(const std::string& commandLine)
{
    for (const auto& candidate : programCandidates(commandLine)) {
        const auto executable = resolveProgram(candidate.program);
        if (!executable)
            continue;
        std::vector<std::string> words{candidate.program};
        for (auto& word : splitArguments(candidate.arguments))
            words.push_back(std::move(word));
        return planFor(*executable, std::move(words));
    }
    return std::nullopt;
}

pid_t launch(std::optional<LaunchPlan> plan)
{
    if (!plan)
        return -1;
    int reportPipe[2];
    if (::pipe2(reportPipe, O_CLOEXEC) != 0)
        return -1;
    reportPipe[0] = moveAboveStandard(reportPipe[0]);
    reportPipe[1] = moveAboveStandard(reportPipe[1]);
    plan->reportWrite = reportPipe[1];
    plan->devNull = moveAboveStandard(::open("/dev/null", O_RDWR | O_CLOEXEC));
    const bool ready = reportPipe[0] >= 0 && reportPipe[1] >= 0 && plan->devNull >= 0;
    const pid_t middle = ready ? ::fork() : -1;
    if (middle == 0)
        forkPlayer(*plan);
    if (reportPipe[1] >= 0)
        ::close(reportPipe[1]);
    pid_t player = -1;
    if (middle > 0) {
        player = readReports(reportPipe[0]);
        while (::waitpid(middle, nullptr, 0) < 0 && errno == EINTR) {
        }
    }
    if (reportPipe[0] >= 0)
        ::close(reportPipe[0]);
    if (plan->devNull >= 0)
        ::close(plan->devNull);
    return player;
}

} // namespace

pid_t launchProgram(const std::string& commandLine)
{
    return launch(planLaunch(commandLine));
}

pid_t launchProgram(const std::string& program, const std::vector<std::string>& arguments)
{
    const auto executable = resolveProgram(program);
    if (!executable)
        return -1;
    std::vector<std::string> words{program};
    words.insert(words.end(), arguments.begin(), arguments.end());
    return launch(planFor(*executable, std::move(words)));
}

bool canStartProgram(const std::string& program)
{
    return resolveProgram(program).has_value();
}

// The player is not the server's child, so it leaves no zombie: once it ended, its id is gone.
bool programAlive(pid_t process)
{
    return process > 0 && (::kill(process, 0) == 0 || errno == EPERM);
}

} // namespace zelvor
