// SPDX-License-Identifier: MIT
#include "commands/MusicFolders.h"

#ifdef _WIN32
#include <windows.h>
#endif

#include <algorithm>
#include <filesystem>
#include <optional>
#include <system_error>

namespace zelvor {

namespace fs = std::filesystem;

namespace {

// Names travel as 8-bit text in the system's code page. On Windows the file system speaks
// UTF-16, and the standard library's narrow form of a path is UTF-8 there, so both directions
// go through the ANSI code page explicitly.
#ifdef _WIN32
fs::path toPath(const std::string& text)
{
    if (text.empty())
        return {};
    const int size = static_cast<int>(text.size());
    const int wide = MultiByteToWideChar(CP_ACP, 0, text.data(), size, nullptr, 0);
    std::wstring converted(static_cast<std::size_t>(wide), L'\0');
    MultiByteToWideChar(CP_ACP, 0, text.data(), size, converted.data(), wide);
    return fs::path(converted);
}

std::string fromPath(const fs::path& path)
{
    const std::wstring& wide = path.native();
    if (wide.empty())
        return {};
    const int size = static_cast<int>(wide.size());
    const int narrow =
        WideCharToMultiByte(CP_ACP, 0, wide.data(), size, nullptr, 0, nullptr, nullptr);
    std::string converted(static_cast<std::size_t>(narrow), '\0');
    WideCharToMultiByte(CP_ACP, 0, wide.data(), size, converted.data(), narrow, nullptr, nullptr);
    return converted;
}
#else
fs::path toPath(const std::string& text)
{
    return fs::path(text);
}

std::string fromPath(const fs::path& path)
{
    return path.string();
}
#endif

// The entry for one name in a folder: the exact name when it exists, otherwise the first entry
// in name order that differs from it only in letter case, so "rock" finds Rock as on Windows.
std::optional<std::string> findEntry(const fs::path& folder, const std::string& name)
{
    std::error_code error;
    if (fs::exists(fs::symlink_status(folder / toPath(name), error)))
        return name;
    std::optional<std::string> found;
    for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
        auto candidate = fromPath(it->path().filename());
        if (equalsIgnoringCase(candidate, name) && (!found || nameLess(candidate, *found)))
            found = std::move(candidate);
    }
    return found;
}

// Replaces the names of the path by the entries found on the disk, from the root down, and
// stops at the first name that has none. Returns how many were found.
std::size_t matchOnDisk(MusicPath& path)
{
    fs::path folder = toPath(path.root);
    std::size_t found = 0;
    for (auto& name : path.names) {
        auto entry = findEntry(folder, name);
        if (!entry)
            break;
        name = std::move(*entry);
        folder /= toPath(name);
        ++found;
    }
    return found;
}

// Windows marks entries such as desktop.ini or Folder.jpg hidden or system; Linux has no marks.
bool hasHiddenMark(const fs::path& path)
{
#ifdef _WIN32
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES &&
           (attributes & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM)) != 0;
#else
    static_cast<void>(path);
    return false;
#endif
}

bool isListable(const fs::directory_entry& entry)
{
    // Links count as what they point to; dangling links, sockets and devices are left out.
    std::error_code error;
    return entry.is_directory(error) || entry.is_regular_file(error);
}

} // namespace

bool HostFolders::isFolder(const MusicPath& path)
{
    MusicPath found = path;
    if (matchOnDisk(found) != found.names.size())
        return false;
    std::error_code error;
    return fs::is_directory(fs::status(toPath(hostPathText(found)), error));
}

std::vector<std::string> HostFolders::list(const MusicPath& folder, std::string_view pattern)
{
    std::vector<std::string> names;
    MusicPath found = folder;
    if (matchOnDisk(found) != found.names.size())
        return names;
    std::error_code error;
    for (fs::directory_iterator it(toPath(hostPathText(found)), error), end; !error && it != end;
         it.increment(error)) {
        auto name = fromPath(it->path().filename());
        // Names with control bytes could not be used in a later command and would reach the
        // client's terminal as control codes.
        if (isUsableName(name) && !isHiddenName(name) && matchesWildcard(pattern, name) &&
            isListable(*it) && !hasHiddenMark(it->path()))
            names.push_back(std::move(name));
    }
    std::sort(names.begin(), names.end(),
              [](const std::string& a, const std::string& b) { return nameLess(a, b); });
    return names;
}

bool HostFolders::isMarkedHidden(const MusicPath& path)
{
    MusicPath found = path;
    if (found.names.empty() || matchOnDisk(found) != found.names.size())
        return false;
    return hasHiddenMark(toPath(hostPathText(found)));
}

std::string HostFolders::hostPath(const MusicPath& path)
{
    MusicPath found = path;
    matchOnDisk(found);
    return hostPathText(found);
}

} // namespace zelvor
