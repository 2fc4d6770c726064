// SPDX-License-Identifier: MIT
#include "player/Win32Backend.h"

#include "player/WinampMessages.h"

#include <windows.h>

namespace zelvor {

namespace {

// The answer is the window procedure's result, cut to the 32 bits that the callers carry.
bool sendWithTimeout(HWND window, const WindowMessage& message, std::int32_t& answer)
{
    DWORD_PTR result = 0;
    const LRESULT sent = SendMessageTimeoutA(
        window, message.message, static_cast<WPARAM>(message.wParam),
        static_cast<LPARAM>(message.lParam), SMTO_ABORTIFHUNG, Win32Backend::kTimeoutMs, &result);
    answer = static_cast<std::int32_t>(result);
    return sent != 0;
}

} // namespace

void Win32Backend::beginCommandLine()
{
    m_inLine = true;
    m_lineFailed = false;
}

void Win32Backend::endCommandLine()
{
    m_inLine = false;
    m_lineFailed = false;
}

// A player that timed out once in a line is not asked again in that line.
template <typename Send> std::int32_t Win32Backend::sendToPlayer(Send&& send)
{
    if (m_inLine && m_lineFailed)
        return -1;
    HWND window = FindWindowA(kWinampWindowClass, nullptr);
    if (window == nullptr)
        return -1;
    std::int32_t answer = 0;
    if (send(window, answer))
        return answer;
    m_lineFailed = m_inLine;
    return -1;
}

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
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    // CreateProcessA may write into the command line, so it gets a copy of its own.
    std::string commandLine = path;
    const BOOL created =
        CreateProcessA(nullptr, commandLine.data(), nullptr, nullptr, FALSE, NORMAL_PRIORITY_CLASS,
                       nullptr, nullptr, &startup, &process);
    if (!created)
        return -1;
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return 0;
}

} // namespace zelvor
