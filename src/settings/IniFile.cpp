// SPDX-License-Identifier: MIT
#include "settings/IniFile.h"

#include "AsciiCase.h"
#include "settings/Failure.h"

#include <algorithm>
#include <array>
#include <filesystem>
#include <fstream>
#include <system_error>
#include <vector>

#ifdef _WIN32
#include <windows.h>
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
            inSection = asciiEqualIgnoringCase(*name, section);
            continue;
        }
        if (!inSection)
            continue;
        if (const auto entry = keyLine(line); entry && asciiEqualIgnoringCase(entry->name, key))
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
            inSection = asciiEqualIgnoringCase(*name, section);
            firstSection = inSection && place.line == std::string_view::npos;
            if (firstSection)
                place.line = i + 1;
            continue;
        }
        if (!inSection)
            continue;
        if (const auto entry = keyLine(lines[i]); entry && asciiEqualIgnoringCase(entry->name, key))
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
        failWith(error, path + ": " + ec.message());
        return IniFileState::Unreadable;
    }
    // A folder, a device or a pipe of that name is no settings file, and reading a pipe could
    // block forever.
    if (!fs::is_regular_file(status)) {
        failWith(error, path + ": not a regular file");
        return IniFileState::Unreadable;
    }
    const auto size = fs::file_size(path, ec);
    if (ec || size > kIniFileSizeLimit) {
        failWith(error,
                 path + ": " + (ec ? ec.message() : "larger than 1 MiB, not a settings file"));
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
        failWith(error, path + ": cannot be read");
        return IniFileState::Unreadable;
    }
    return IniFileState::Read;
}

} // namespace zelvor
