// SPDX-License-Identifier: MIT
#pragma once
// What the benchmarks read off a process: memory and CPU figures from /proc, and percentiles.

#include <sys/types.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

namespace zelvor::bench {

struct Percentiles
{
    double p50;
    double p99;
};

inline Percentiles percentiles(std::vector<double> samples)
{
    if (samples.empty())
        return {0, 0};
    std::sort(samples.begin(), samples.end());
    auto at = [&](double q) {
        return samples[static_cast<std::size_t>(q * static_cast<double>(samples.size() - 1))];
    };
    return {at(0.50), at(0.99)};
}

/** A "Field: value kB" line of /proc/PID/status (or of another file there, as smaps_rollup). */
inline long statusKiB(pid_t pid, const std::string& field, const std::string& file = "status")
{
    std::ifstream in("/proc/" + std::to_string(pid) + "/" + file);
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind(field + ":", 0) == 0) {
            std::istringstream words(line.substr(field.size() + 1));
            long value = 0;
            words >> value;
            return value;
        }
    }
    return -1;
}

/** CPU time (user + system) of a process, in clock ticks. */
inline long cpuTicks(pid_t pid)
{
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::istringstream fields(text.substr(text.rfind(')') + 2));
    std::string skip;
    for (int i = 0; i < 11; ++i)
        fields >> skip;
    long user = 0;
    long system = 0;
    fields >> user >> system;
    return user + system;
}

/** One figure (or two) for a table cell, printf-style. */
inline std::string fmt(const char* format, double a, double b = 0)
{
    char text[96];
    std::snprintf(text, sizeof text, format, a, b);
    return text;
}

} // namespace zelvor::bench
