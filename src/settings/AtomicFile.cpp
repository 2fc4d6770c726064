// SPDX-License-Identifier: MIT
#include "settings/AtomicFile.h"

#include "settings/Failure.h"

#include <cerrno>
#include <filesystem>
#include <system_error>

#ifdef _WIN32
#include <windows.h>
#include <fcntl.h>
#include <io.h>
#include <random>
#include <sys/stat.h>
#else
#include <fcntl.h>
#include <unistd.h>
#endif

namespace fs = std::filesystem;

namespace zelvor {

namespace {

std::string errnoText()
{
    return std::generic_category().message(errno);
}

#ifdef _WIN32

int createTempBeside(const std::string& path, std::string& tempName)
{
    std::random_device random;
    for (int attempt = 0; attempt < 100; ++attempt) {
        tempName = path + ".new-" + std::to_string(random());
        const int fd = _open(tempName.c_str(), _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY,
                             _S_IREAD | _S_IWRITE);
        if (fd >= 0 || errno != EEXIST)
            return fd;
    }
    return -1;
}

bool writeAll(int fd, std::string_view bytes)
{
    while (!bytes.empty()) {
        const auto chunk = static_cast<unsigned>(std::min<std::size_t>(bytes.size(), 1 << 20));
        const int written = _write(fd, bytes.data(), chunk);
        if (written <= 0)
            return false;
        bytes.remove_prefix(static_cast<std::size_t>(written));
    }
    return true;
}

bool syncFile(int fd)
{
    return _commit(fd) == 0;
}

bool closeFile(int fd)
{
    return _close(fd) == 0;
}

void removeFile(const std::string& path)
{
    _unlink(path.c_str());
}

bool replaceFile(const std::string& from, const std::string& to, std::string& why)
{
    if (MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        return true;
    why = std::system_category().message(static_cast<int>(GetLastError()));
    return false;
}

void syncFolderOf(const std::string&) {}

#else

int createTempBeside(const std::string& path, std::string& tempName)
{
    std::string pattern = path + ".new-XXXXXX";
    // mkstemp creates the file with mode 0600.
    const int fd = ::mkstemp(pattern.data());
    tempName = pattern;
    if (fd >= 0)
        ::fcntl(fd, F_SETFD, FD_CLOEXEC);
    return fd;
}

bool writeAll(int fd, std::string_view bytes)
{
    while (!bytes.empty()) {
        const ssize_t written = ::write(fd, bytes.data(), bytes.size());
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return false;
        bytes.remove_prefix(static_cast<std::size_t>(written));
    }
    return true;
}

bool syncFile(int fd)
{
    return ::fsync(fd) == 0;
}

bool closeFile(int fd)
{
    return ::close(fd) == 0;
}

void removeFile(const std::string& path)
{
    ::unlink(path.c_str());
}

bool replaceFile(const std::string& from, const std::string& to, std::string& why)
{
    if (::rename(from.c_str(), to.c_str()) == 0)
        return true;
    why = errnoText();
    return false;
}

// Makes the rename itself durable; a failure here no longer risks the file's content.
void syncFolderOf(const std::string& path)
{
    auto folder = fs::path(path).parent_path();
    if (folder.empty())
        folder = ".";
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return;
    ::fsync(fd);
    ::close(fd);
}

#endif

// Replacing a symbolic link by a plain file would cut the link; write to its target instead.
std::string resolvedTarget(const std::string& path)
{
    std::error_code ec;
    if (!fs::is_symlink(path, ec))
        return path;
    const auto target = fs::weakly_canonical(path, ec);
    return ec ? path : target.string();
}

} // namespace

bool writeFileAtomically(const std::string& path, std::string_view bytes, std::string* error)
{
    const std::string target = resolvedTarget(path);
    std::string tempName;
    const int fd = createTempBeside(target, tempName);
    if (fd < 0)
        return failWith(error, target + ": cannot create a temporary file: " + errnoText());

    bool written = writeAll(fd, bytes) && syncFile(fd);
    std::string why = written ? std::string() : errnoText();
    if (!closeFile(fd) && written) {
        written = false;
        why = errnoText();
    }
    if (!written) {
        removeFile(tempName);
        return failWith(error, target + ": cannot write: " + why);
    }
    if (!replaceFile(tempName, target, why)) {
        removeFile(tempName);
        return failWith(error, target + ": cannot replace: " + why);
    }
    syncFolderOf(target);
    return true;
}

} // namespace zelvor
