// SPDX-License-Identifier: MIT
#include "player/win32/Win32Backend.h"

#include "player/win32/WinampMessages.h"

#include <windows.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <string>
#include <string_view>

namespace zelvor {

namespace {

// The window procedure's whole result; false when the window did not answer in time.
bool sendForResult(HWND window, const WindowMessage& message, DWORD_PTR& result)
{
    result = 0;
    return SendMessageTimeoutA(window, message.message, static_cast<WPARAM>(message.wParam),
                               static_cast<LPARAM>(message.lParam), SMTO_ABORTIFHUNG,
                               Win32Backend::kTimeoutMs, &result) != 0;
}

// The answer is the window procedure's result, cut to the 32 bits that the callers carry.
bool sendWithTimeout(HWND window, const WindowMessage& message, std::int32_t& answer)
{
    DWORD_PTR result = 0;
    const bool sent = sendForResult(window, message, result);
    answer = static_cast<std::int32_t>(result);
    return sent;
}

/** Asks the window one query; nothing when it did not answer in time. */
std::optional<std::int32_t> ask(HWND window, std::int32_t data, std::int16_t id)
{
    std::int32_t answer = 0;
    if (!sendWithTimeout(window, queryMessage(data, id), answer))
        return std::nullopt;
    return answer;
}

/**
 * A text the player keeps in its own memory, up to its first zero byte and at most
 * kMaxPlayerText bytes; empty when it cannot be read. It is read a page at a time, so a text
 * that ends just before an unreadable page is still found.
 */
std::string readPlayerText(HWND window, DWORD_PTR address)
{
    std::string text;
    DWORD processId = 0;
    GetWindowThreadProcessId(window, &processId);
    HANDLE process = OpenProcess(PROCESS_VM_READ, FALSE, processId);
    if (process == nullptr || address == 0) {
        if (process != nullptr)
            CloseHandle(process);
        return text;
    }
    constexpr std::uintptr_t kPage = 4096;
    auto at = static_cast<std::uintptr_t>(address);
    char buffer[kMaxPlayerText];
    while (text.size() < kMaxPlayerText) {
        const std::size_t wanted = std::min<std::size_t>(
            {kPage - (at % kPage), kMaxPlayerText - text.size(), sizeof buffer});
        SIZE_T read = 0;
        if (!ReadProcessMemory(process, reinterpret_cast<LPCVOID>(at), buffer, wanted, &read) ||
            read == 0) {
            break;
        }
        const std::string_view chunk(buffer, read);
        const auto zero = chunk.find('\0');
        text.append(chunk.substr(0, zero));
        if (zero != std::string_view::npos || read < wanted)
            break;
        at += read;
    }
    CloseHandle(process);
    return text;
}

/** Asks for the title of an entry: the whole result is an address in the player's memory. */
std::optional<std::string> entryTitle(HWND window, std::uint32_t index)
{
    DWORD_PTR address = 0;
    if (!sendForResult(window, queryMessage(static_cast<std::int32_t>(index), kQueryEntryTitle),
                       address))
        return std::nullopt;
    return readPlayerText(window, address);
}

// The system's own words for an error code, on one line ("The system cannot find the file
// specified."), or the code's number when it has none.
std::string systemMessage(DWORD error)
{
    char* text = nullptr;
    const DWORD length = FormatMessageA(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, error, 0, reinterpret_cast<char*>(&text), 0, nullptr);
    std::string message = length > 0 && text != nullptr ? std::string(text, length) : std::string();
    LocalFree(text);
    std::replace_if(
        message.begin(), message.end(), [](char c) { return c == '\r' || c == '\n'; }, ' ');
    while (!message.empty() && message.back() == ' ')
        message.pop_back();
    return message.empty() ? "error " + std::to_string(error) : message;
}

struct StatusQuery
{
    std::int32_t data;
    std::int16_t id;
};

// In the order they are asked.
constexpr StatusQuery kStatusQueries[] = {
    {0, kQueryVersion},  {0, kQueryPlayState},   {0, kQueryShuffle},
    {0, kQueryRepeat},   {0, kQueryQueueLength}, {0, kQueryQueuePosition},
    {0, kQueryPlayTime}, {1, kQueryPlayTime},    {kReadVolume, kQueryVolume},
};

// One answer each; a status stops at the first message that is not answered in time.
std::optional<PlayerStatus> readStatus(HWND window)
{
    std::array<std::int32_t, std::size(kStatusQueries)> answers{};
    for (std::size_t i = 0; i < answers.size(); ++i) {
        const auto answer = ask(window, kStatusQueries[i].data, kStatusQueries[i].id);
        if (!answer)
            return std::nullopt;
        answers[i] = *answer;
    }
    const auto [version, state, shuffle, repeat, length, position, elapsed, total, volume] =
        answers;
    PlayerStatus now;
    now.version = version;
    now.state = playStateOf(state);
    now.shuffle = shuffle != 0;
    now.repeat = repeat != 0;
    now.queueLength = static_cast<std::uint32_t>(std::max(length, 0));
    // Stopped, the player answers -1 for the elapsed time.
    now.elapsedMs = static_cast<std::uint32_t>(std::max(elapsed, 0));
    if (total > 0)
        now.totalMs = static_cast<std::uint32_t>(total) * 1000;
    now.volume = fromPlayerVolume(volume);
    if (position >= 0 && static_cast<std::uint32_t>(position) < now.queueLength) {
        now.position = static_cast<std::uint32_t>(position);
        auto title = entryTitle(window, *now.position);
        if (!title)
            return std::nullopt;
        now.title = std::move(*title);
    }
    return now;
}

PlayerAnswer commandAnswer(std::int32_t answer)
{
    return PlayerAnswer::of(answer == -1 ? Outcome::NoPlayer : Outcome::Done);
}

} // namespace

namespace {

// The window is looked up for every message: a player started or closed in between is met.
HWND playerWindow()
{
    return FindWindowA(kWinampWindowClass, nullptr);
}

template <typename Send> std::int32_t sendToPlayer(Send&& send)
{
    HWND window = playerWindow();
    if (window == nullptr)
        return -1;
    std::int32_t answer = 0;
    return send(window, answer) ? answer : -1;
}

} // namespace

std::int32_t Win32Backend::WinampCommand(std::int32_t id)
{
    return sendToPlayer([id](HWND window, std::int32_t& answer) {
        return sendWithTimeout(window, commandMessage(id), answer);
    });
}

std::int32_t Win32Backend::WinampQuery(std::int32_t data, std::int16_t id)
{
    return sendToPlayer([data, id](HWND window, std::int32_t& answer) {
        return sendWithTimeout(window, queryMessage(data, id), answer);
    });
}

std::int32_t Win32Backend::WinampPlayFile(const std::string& path)
{
    return sendToPlayer([&path](HWND window, std::int32_t& answer) {
        // The block and its bytes live on this frame until the send has returned.
        PlayFileBlock block = playFileBlock(path);
        COPYDATASTRUCT copyData{};
        copyData.dwData = block.dwData;
        copyData.cbData = block.cbData;
        copyData.lpData = block.bytes.data();
        WindowMessage message = playFileMessage();
        message.lParam = reinterpret_cast<std::intptr_t>(&copyData);
        return sendWithTimeout(window, message, answer);
    });
}

std::int32_t Win32Backend::LaunchWinamp(const std::string& path)
{
    // The setting names the program alone, with or without quotes around it.
    std::string program = path;
    if (program.size() >= 2 && program.front() == '"' && program.back() == '"')
        program = program.substr(1, program.size() - 2);
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    // Given the program by name, Windows searches nothing: an unquoted command line alone,
    // C:\Program Files\Winamp\winamp.exe, is first tried as C:\Program.exe. The command line
    // quotes it too, for the player's own argv[0]; CreateProcessA may write into it.
    std::string commandLine = "\"" + program + "\"";
    const BOOL created =
        !program.empty() &&
        CreateProcessA(program.c_str(), commandLine.data(), nullptr, nullptr, FALSE,
                       NORMAL_PRIORITY_CLASS, nullptr, nullptr, &startup, &process);
    if (!created) {
        m_launchFailure = program.empty()
                              ? "cannot start the player: no program is set"
                              : "cannot start " + program + ": " + systemMessage(GetLastError());
        return -1;
    }
    m_launchFailure.clear();
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return 0;
}

std::string Win32Backend::launchFailure() const
{
    return m_launchFailure;
}

// Runs change(window), then reads the status; NoPlayer when there is no window or it stopped
// answering.
template <typename Change> void Win32Backend::statusAfter(Change&& change, PlayerDone& done)
{
    std::optional<PlayerStatus> now;
    if (HWND window = playerWindow(); window != nullptr && change(window))
        now = readStatus(window);
    done(now ? PlayerAnswer::with(std::move(*now)) : PlayerAnswer::of(Outcome::NoPlayer));
}

void Win32Backend::play(PlayerDone done)
{
    done(commandAnswer(WinampCommand(kCmdPlay)));
}

void Win32Backend::stop(PlayerDone done)
{
    done(commandAnswer(WinampCommand(kCmdStop)));
}

void Win32Backend::pause(PlayerDone done)
{
    done(commandAnswer(WinampCommand(kCmdPause)));
}

void Win32Backend::next(PlayerDone done)
{
    done(commandAnswer(WinampCommand(kCmdNext)));
}

void Win32Backend::previous(PlayerDone done)
{
    done(commandAnswer(WinampCommand(kCmdPrevious)));
}

// The player moves its volume one step per message.
void Win32Backend::stepVolume(int steps, PlayerDone done)
{
    const int id = steps < 0 ? kCmdVolumeDown : kCmdVolumeUp;
    PlayerAnswer answer = commandAnswer(WinampCommand(id));
    for (int left = std::abs(steps) - 1; left > 0 && answer.done(); --left)
        answer = commandAnswer(WinampCommand(id));
    done(std::move(answer));
}

void Win32Backend::toggleShuffle(PlayerDone done)
{
    done(commandAnswer(WinampCommand(kCmdToggleShuffle)));
}

void Win32Backend::toggleRepeat(PlayerDone done)
{
    done(commandAnswer(WinampCommand(kCmdToggleRepeat)));
}

void Win32Backend::clear(PlayerDone done)
{
    done(commandAnswer(WinampQuery(0, kQueryClearPlaylist)));
}

void Win32Backend::add(const std::string& hostPath, PlayerDone done)
{
    done(commandAnswer(WinampPlayFile(hostPath)));
}

void Win32Backend::open(const std::string& location, PlayerDone done)
{
    if (LaunchWinamp(location) != -1) {
        done(PlayerAnswer::of(Outcome::Done));
        return;
    }
    PlayerAnswer failed = PlayerAnswer::of(Outcome::Failed);
    failed.reason = m_launchFailure;
    done(std::move(failed));
}

void Win32Backend::close(PlayerDone done)
{
    done(commandAnswer(WinampCommand(kCmdClose)));
}

void Win32Backend::status(PlayerDone done)
{
    statusAfter([](HWND) { return true; }, done);
}

void Win32Backend::queue(std::uint32_t first, std::uint32_t count, PlayerDone done)
{
    const HWND window = playerWindow();
    auto now = window != nullptr ? readStatus(window) : std::nullopt;
    if (!now) {
        done(PlayerAnswer::of(Outcome::NoPlayer));
        return;
    }
    PlayerAnswer page;
    page.status = std::move(*now);
    const auto end =
        std::min<std::uint64_t>(std::uint64_t{first} + count, page.status->queueLength);
    for (std::uint64_t index = first; index < end; ++index) {
        auto title = entryTitle(window, static_cast<std::uint32_t>(index));
        if (!title) {
            done(PlayerAnswer::of(Outcome::NoPlayer));
            return;
        }
        page.entries.push_back({static_cast<std::uint32_t>(index), std::move(*title)});
    }
    done(std::move(page));
}

void Win32Backend::jumpTo(std::uint32_t position, PlayerDone done)
{
    statusAfter(
        [position](HWND window) {
            // The player is not asked to go past its queue's end.
            const auto length = ask(window, 0, kQueryQueueLength);
            if (!length)
                return false;
            if (position >= static_cast<std::uint32_t>(std::max(*length, 0)))
                return true;
            std::int32_t answer = 0;
            return ask(window, static_cast<std::int32_t>(position), kQuerySetQueuePosition) &&
                   sendWithTimeout(window, commandMessage(kCmdPlay), answer);
        },
        done);
}

void Win32Backend::setVolume(int percent, PlayerDone done)
{
    statusAfter(
        [percent](HWND window) {
            return ask(window, toPlayerVolume(percent), kQueryVolume).has_value();
        },
        done);
}

void Win32Backend::seekTo(std::uint32_t milliseconds, PlayerDone done)
{
    statusAfter(
        [milliseconds](HWND window) {
            return ask(window, static_cast<std::int32_t>(milliseconds), kQueryJumpToTime)
                .has_value();
        },
        done);
}

} // namespace zelvor
