// SPDX-License-Identifier: MIT
#pragma once

#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

namespace zelvor::fuzz {

/**
 * A fresh folder "zelvor-fuzz-<pid>" below base for this fuzzing process. A crash ends the
 * process without its exit handlers, so the folders of processes that are gone are removed first.
 */
inline std::filesystem::path makeFuzzFolder(const std::filesystem::path& base)
{
    const std::string prefix = "zelvor-fuzz-";
    std::error_code error;
    std::vector<std::filesystem::path> stale;
    for (std::filesystem::directory_iterator it(base, error), end; !error && it != end;
         it.increment(error)) {
        const std::string name = it->path().filename().string();
        if (name.rfind(prefix, 0) != 0)
            continue;
        char* rest = nullptr;
        const long pid = std::strtol(name.c_str() + prefix.size(), &rest, 10);
        if (pid > 0 && *rest == '\0' && ::kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH)
            stale.push_back(it->path());
    }
    for (const auto& folder : stale)
        std::filesystem::remove_all(folder, error);
    const auto folder = base / (prefix + std::to_string(::getpid()));
    std::filesystem::remove_all(folder, error);
    std::filesystem::create_directories(folder, error);
    return folder;
}

} // namespace zelvor::fuzz
