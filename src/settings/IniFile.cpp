// SPDX-License-Identifier: MIT
#include "settings/IniFile.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <filesystem>
#include <fstream>
#include <system_error>
#include <vector>

#ifdef _WIN32
#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
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

constexpr std::string_view kBlanks = " \t\r\v\f";

std::string_view trimmed(std::string_view text)
{
    const auto first = text.find_first_not_of(kBlanks);
    if (first == std::string_view::npos)
        return {};
    const auto last = text.find_last_not_of(kBlanks);
    return text.substr(first, last - first + 1);
}

char asciiLower(char c)
{
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool sameName(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (asciiLower(a[i]) != asciiLower(b[i]))
            return false;
    }
    return true;
}

// Walks the lines of INI text; a CR before the LF belongs to the line end, and a last line
// without LF still counts.
class LineReader
{
public:
    explicit LineReader(std::string_view text) : m_text(text) {}

    bool next(std::string_view& line)
    {
        if (m_pos >= m_text.size())
            return false;
        auto end = m_text.find('\n', m_pos);
        if (end == std::string_view::npos)
            end = m_text.size();
        line = m_text.substr(m_pos, end - m_pos);
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        m_pos = end + 1;
        return true;
    }

private:
    std::string_view m_text;
    std::size_t m_pos = 0;
};

std::optional<std::string_view> sectionName(std::string_view line)
{
    line = trimmed(line);
    if (line.empty() || line.front() != '[')
        return std::nullopt;
    const auto close = line.find(']');
    if (close == std::string_view::npos)
        return std::nullopt;
    return trimmed(line.substr(1, close - 1));
}

struct KeyLine
{
    std::string_view name;
    std::string_view value;
};

std::optional<KeyLine> keyLine(std::string_view line)
{
    line = trimmed(line);
    if (line.empty() || line.front() == ';' || line.front() == '[')
        return std::nullopt;
    const auto equals = line.find('=');
    if (equals == std::string_view::npos)
        return std::nullopt;
    return KeyLine{trimmed(line.substr(0, equals)), trimmed(line.substr(equals + 1))};
}

bool hasLineBreak(std::string_view text)
{
    return text.find_first_of("\r\n") != std::string_view::npos;
}

bool storableNames(std::string_view section, std::string_view key, std::string_view value)
{
    section = trimmed(section);
    key = trimmed(key);
    if (key.empty() || key.front() == ';' || key.front() == '[')
        return false;
    if (hasLineBreak(section) || section.find(']') != std::string_view::npos)
        return false;
    // A CR inside a value does not end the line when it is read back, so it is kept like any
    // other byte: whatever was read from a file can be written again.
    return !hasLineBreak(key) && key.find('=') == std::string_view::npos &&
           value.find('\n') == std::string_view::npos;
}

bool fail(std::string* error, std::string text)
{
    if (error)
        *error = std::move(text);
    return false;
}

} // namespace

bool FileExists(const std::string& path)
{
    if (path.empty())
        return false;
#ifdef _WIN32
    const DWORD attributes = GetFileAttributesA(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return false;
    return (attributes &
            (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM)) == 0;
#else
    // Names starting with "." are what Linux calls hidden.
    const std::string name = fs::path(path).filename().string();
    if (name.empty() || name.front() == '.')
        return false;
    std::error_code ec;
    return fs::is_regular_file(path, ec);
#endif
}

std::optional<std::string_view> findIniValue(std::string_view text, std::string_view section,
                                             std::string_view key)
{
    section = trimmed(section);
    key = trimmed(key);
    LineReader lines(text);
    std::string_view line;
    bool inSection = false;
    while (lines.next(line)) {
        if (const auto name = sectionName(line)) {
            inSection = sameName(*name, section);
            continue;
        }
        if (!inSection)
            continue;
        if (const auto entry = keyLine(line); entry && sameName(entry->name, key))
            return entry->value;
    }
    return std::nullopt;
}

namespace {

// Where a key goes: the line of its first occurrence in a section of that name, or else the
// line after the last non-blank line of the first such section; npos when there is no section.
struct KeyPlace
{
    std::size_t line = std::string_view::npos;
    bool replace = false;
};

KeyPlace findKeyPlace(const std::vector<std::string_view>& lines, std::string_view section,
                      std::string_view key)
{
    KeyPlace place;
    bool inSection = false;
    bool firstSection = false;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (const auto name = sectionName(lines[i])) {
            inSection = sameName(*name, section);
            firstSection = inSection && place.line == std::string_view::npos;
            if (firstSection)
                place.line = i + 1;
            continue;
        }
        if (!inSection)
            continue;
        if (const auto entry = keyLine(lines[i]); entry && sameName(entry->name, key))
            return {i, true};
        if (firstSection && !trimmed(lines[i]).empty())
            place.line = i + 1;
    }
    return place;
}

} // namespace

bool setIniValue(std::string& text, std::string_view section, std::string_view key,
                 std::string_view value)
{
    if (!storableNames(section, key, value))
        return false;
    section = trimmed(section);
    key = trimmed(key);
    const std::string sectionLine = "[" + std::string(section) + "]";
    const std::string entryLine = std::string(key) + "=" + std::string(value);

    std::vector<std::string_view> lines;
    LineReader reader(text);
    for (std::string_view line; reader.next(line);)
        lines.push_back(line);

    const KeyPlace place = findKeyPlace(lines, section, key);
    if (place.replace) {
        lines[place.line] = entryLine;
    } else if (place.line != std::string_view::npos) {
        lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(place.line), entryLine);
    } else {
        lines.push_back(sectionLine);
        lines.push_back(entryLine);
    }

    std::string result;
    result.reserve(text.size() + entryLine.size() + sectionLine.size() + 2 * lines.size());
    for (const auto line : lines) {
        result += line;
        result += "\r\n";
    }
    text = std::move(result);
    return true;
}

IniFileState readIniFile(const std::string& path, std::string& text, std::string* error)
{
    text.clear();
    std::error_code ec;
    const auto status = fs::status(path, ec);
    if (status.type() == fs::file_type::not_found)
        return IniFileState::Missing;
    if (ec) {
        fail(error, path + ": " + ec.message());
        return IniFileState::Unreadable;
    }
    // A folder, a device or a pipe of that name is no settings file, and reading a pipe could
    // block forever.
    if (!fs::is_regular_file(status)) {
        fail(error, path + ": not a regular file");
        return IniFileState::Unreadable;
    }
    const auto size = fs::file_size(path, ec);
    if (ec || size > kIniFileSizeLimit) {
        fail(error, path + ": " + (ec ? ec.message() : "larger than 1 MiB, not a settings file"));
        return IniFileState::Unreadable;
    }
    std::ifstream in(path, std::ios::binary);
    std::array<char, 16384> chunk;
    while (in.read(chunk.data(), chunk.size()) || in.gcount() > 0) {
        text.append(chunk.data(), static_cast<std::size_t>(in.gcount()));
        // The file may have grown since its size was taken.
        if (text.size() > kIniFileSizeLimit)
            break;
    }
    if (!in.is_open() || in.bad() || text.size() > kIniFileSizeLimit) {
        text.clear();
        fail(error, path + ": cannot be read");
        return IniFileState::Unreadable;
    }
    return IniFileState::Read;
}

std::string ReadIniString(const std::string& section, const std::string& key,
                          const std::string& path)
{
    std::string text;
    if (readIniFile(path, text) != IniFileState::Read)
        return {};
    const auto value = findIniValue(text, section, key);
    if (!value)
        return {};
    return std::string(value->substr(0, kIniReadLimit));
}

bool WriteIniString(const std::string& section, const std::string& key, const std::string& value,
                    const std::string& path, std::string* error)
{
    std::string text;
    // A file that cannot be read is never replaced: whatever it holds would be lost.
    if (readIniFile(path, text, error) == IniFileState::Unreadable)
        return false;
    if (!setIniValue(text, section, key, value))
        return fail(error, path + ": cannot store key \"" + key + "\" (line break or bad name)");
    return writeFileAtomically(path, text, error);
}

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
        return fail(error, target + ": cannot create a temporary file: " + errnoText());

    bool written = writeAll(fd, bytes) && syncFile(fd);
    std::string why = written ? std::string() : errnoText();
    if (!closeFile(fd) && written) {
        written = false;
        why = errnoText();
    }
    if (!written) {
        removeFile(tempName);
        return fail(error, target + ": cannot write: " + why);
    }
    if (!replaceFile(tempName, target, why)) {
        removeFile(tempName);
        return fail(error, target + ": cannot replace: " + why);
    }
    syncFolderOf(target);
    return true;
}

} // namespace zelvor
