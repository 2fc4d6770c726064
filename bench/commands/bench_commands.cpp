// SPDX-License-Identifier: MIT
// "ls" of a folder of 100,000 files through ProcessCommand into a counting connection, next to
// plain listings of the same folder: readdir in this process and `ls -1 -f` as a program.
#include "commands/CommandDispatcher.h"
#include "commands/MusicFolders.h"
#include "player/Player.h"
#include "commands/CommandSession.h"
#include "settings/ServerSettings.h"
#include "ProcessFigures.h"
#include "commands/CommandFakes.h"
#include "support/TempDir.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

using namespace std::chrono;

namespace {

constexpr int kFiles = 100000;
constexpr int kRuns = 5;

class CountingConnection : public zelvor::Connection
{
public:
    std::size_t sends = 0;
    std::size_t bytes = 0;
    void send(std::string_view text) override
    {
        ++sends;
        bytes += text.size();
    }
};

void resetPeakMemory()
{
    std::ofstream("/proc/self/clear_refs") << "5";
}

struct Timing
{
    double wall = 0;
    double cpu = 0;
};

double millis(const timespec& t)
{
    return static_cast<double>(t.tv_sec) * 1e3 + static_cast<double>(t.tv_nsec) / 1e6;
}

double millis(const timeval& t)
{
    return static_cast<double>(t.tv_sec) * 1e3 + static_cast<double>(t.tv_usec) / 1e3;
}

// CPU time of this process and of its finished children: on a busy machine it says more than
// the wall clock, which counts the time spent waiting for a core.
double cpuMillis()
{
    timespec own{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &own);
    rusage children{};
    getrusage(RUSAGE_CHILDREN, &children);
    return millis(own) + millis(children.ru_utime) + millis(children.ru_stime);
}

Timing median(const std::function<std::size_t()>& run, std::size_t& lines)
{
    std::vector<double> walls;
    std::vector<double> cpus;
    for (int i = 0; i < kRuns; ++i) {
        const auto start = steady_clock::now();
        const double cpuStart = cpuMillis();
        lines = run();
        cpus.push_back(cpuMillis() - cpuStart);
        walls.push_back(duration<double, std::milli>(steady_clock::now() - start).count());
    }
    std::sort(walls.begin(), walls.end());
    std::sort(cpus.begin(), cpus.end());
    return {walls[walls.size() / 2], cpus[cpus.size() / 2]};
}

std::size_t readdirNames(const std::string& folder)
{
    std::vector<std::string> names;
    if (DIR* dir = opendir(folder.c_str())) {
        while (const dirent* entry = readdir(dir))
            names.emplace_back(entry->d_name);
        closedir(dir);
    }
    return names.size();
}

std::size_t lsProgram(const std::string& folder)
{
    std::size_t lines = 0;
    if (FILE* out = popen(("ls -1 -f '" + folder + "'").c_str(), "r")) {
        char buffer[1 << 16];
        std::size_t got = 0;
        while ((got = fread(buffer, 1, sizeof buffer, out)) > 0)
            lines += static_cast<std::size_t>(std::count(buffer, buffer + got, '\n'));
        pclose(out);
    }
    return lines;
}

} // namespace

int main()
{
    zelvor::test::TempDir temp;
    const auto folder = temp.mkdir("music/Big");
    for (int i = 0; i < kFiles; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, i % 2 ? "Track %06d.mp3" : "track %06d.ogg", i);
        const int fd = ::open((folder / name).c_str(), O_CREAT | O_WRONLY, 0644);
        if (fd >= 0)
            ::close(fd);
    }

    zelvor::CommandState session;
    session.CurrentDir = "\\Big\\";
    zelvor::ServerSettings settings;
    settings.ServerRoot = (temp.path() / "music").string();
    CountingConnection connection;
    zelvor::test::RecordingPlayer player;
    zelvor::HostFolders folders;
    zelvor::test::RecordingHost host;
    const auto command = [&](const std::string& line) {
        return [&, line] {
            connection = CountingConnection();
            session.CommandLine = line;
            zelvor::CommandContext context{session, settings, connection, player, folders, host};
            zelvor::ProcessCommand(context);
            return connection.sends;
        };
    };

    std::printf("%d files, median of %d runs\n", kFiles, kRuns);
    std::printf("%-34s %9s %9s %9s\n", "operation", "wall ms", "cpu ms", "lines");
    std::size_t lines = 0;
    const auto report = [&](const char* what, Timing time) {
        std::printf("%-34s %9.1f %9.1f %9zu\n", what, time.wall, time.cpu, lines);
        return time;
    };
    report("readdir into a vector (floor)", median([&] { return readdirNames(folder); }, lines));
    const auto floor = report("ls -1 -f (floor)", median([&] { return lsProgram(folder); }, lines));

    const long idle = zelvor::bench::statusKiB(getpid(), "VmRSS");
    resetPeakMemory();
    const auto ls = median(command("ls"), lines);
    const long peak = zelvor::bench::statusKiB(getpid(), "VmHWM");
    report("ls through ProcessCommand", ls);
    report("ls *.MP3 through ProcessCommand", median(command("ls *.MP3"), lines));
    report("cd missing (scans ignoring case)", median(command("cd nothing"), lines));
    std::printf("ls against ls -1 -f: %.2fx wall, %.2fx cpu (target: under 4x, under 500 ms)\n",
                ls.wall / floor.wall, ls.cpu / floor.cpu);
    std::printf("memory during ls: %ld KiB above idle (target: under 65536)\n", peak - idle);
    const bool met = ls.wall < 500.0 && std::min(ls.wall / floor.wall, ls.cpu / floor.cpu) < 4.0 &&
                     peak - idle < 65536;
    std::printf("targets %s\n", met ? "met" : "MISSED");
    return met ? 0 : 1;
}
