// SPDX-License-Identifier: MIT
// A stand-in for the player's main window, for the tests of the window-message backend under
// wine. It registers the player's window class, answers the player queries with values given on
// its command line, and appends one line per message to a log file:
//   command <wParam> <lParam>         WM_COMMAND
//   user <wParam> <lParam>            WM_USER (lParam signed)
//   copydata <dwData> <cbData> <hex>  WM_COPYDATA (every byte of the block, two hex digits each)
// WM_COMMAND 40001 ends it, as it ends the player.
//
// With --queue it also keeps a queue of titles, a current entry, a volume and an elapsed time,
// and answers the player's queue messages: WM_USER 105 (data 0 elapsed ms, -1 when stopped;
// data 1 the entry's length in s), 106 (seek to data ms), 121 (make entry data current), 122
// (set the volume 0..255; data -666 reads it), 124 (queue length), 125 (current entry), 211
// and 212 (data = entry: the address of its file name or title in this process's memory, 0 for
// no such entry); play, pause and stop then change the play state.
//
// winamp_standin.exe [--log FILE] [--version N] [--state N] [--shuffle N] [--repeat N]
//                    [--answer N] [--hang ID] [--hang-query ID] [--queue "TITLE|TITLE|..."]
//                    [--position N]
//                    [--volume N] [--elapsed MS] [--length S]
// Numbers may be decimal or 0x hex. The log defaults to winamp_standin.log beside the program,
// so a launch with the bare program path logs too. --answer is the answer to every WM_COMMAND;
// --hang makes the window stop answering at the command ID, as a hung player does, and
// --hang-query at the query ID. Once the
// window exists the stand-in releases the semaphore "ZelvorStandInReady" when a test created it.

#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr const char* kWindowClass = "Winamp v1.x";
constexpr const char* kReadySemaphore = "ZelvorStandInReady";
constexpr WPARAM kCloseCommand = 40001;

struct Options
{
    std::string log;
    LRESULT version = 0x5091;
    LRESULT playState = 0;
    LRESULT shuffle = 0;
    LRESULT repeat = 0;
    LRESULT commandAnswer = 0;
    WPARAM hangAt = 0;
    bool hangsAtQuery = false;
    LPARAM hangAtQuery = 0;
    bool hasQueue = false;
    std::vector<std::string> titles;
    std::vector<std::string> files;
    LRESULT position = 0;
    LRESULT volume = 255;
    LRESULT elapsedMs = 0;
    LRESULT lengthS = 200;
};

Options g_options;
HANDLE g_log = INVALID_HANDLE_VALUE;

void writeLog(const std::string& line)
{
    const std::string record = line + "\n";
    DWORD written = 0;
    // Written straight through: the test reads the file as soon as its message has returned.
    WriteFile(g_log, record.data(), static_cast<DWORD>(record.size()), &written, nullptr);
}

std::string hexBytes(const void* data, DWORD size)
{
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string hex;
    const auto* bytes = static_cast<const unsigned char*>(data);
    for (DWORD i = 0; bytes != nullptr && i < size; ++i) {
        hex += kDigits[bytes[i] >> 4];
        hex += kDigits[bytes[i] & 0x0f];
    }
    return hex;
}

bool validEntry(WPARAM index)
{
    return index < g_options.titles.size();
}

LRESULT queueAnswer(WPARAM data, LPARAM id, bool& known)
{
    known = true;
    Options& o = g_options;
    const auto value = static_cast<LRESULT>(static_cast<LONG_PTR>(data));
    switch (id) {
    case 105:
        if (data == 1)
            return o.titles.empty() ? -1 : o.lengthS;
        return o.playState == 0 ? -1 : o.elapsedMs;
    case 106:
        if (o.playState == 0)
            return -1;
        o.elapsedMs = std::min<LRESULT>(value, o.lengthS * 1000);
        return 0;
    case 121:
        if (validEntry(data))
            o.position = value;
        return o.position;
    case 122:
        if (value == -666)
            return o.volume;
        o.volume = std::clamp<LRESULT>(value, 0, 255);
        return 0;
    case 124:
        return static_cast<LRESULT>(o.titles.size());
    case 125:
        return o.position;
    case 211:
        return validEntry(data) ? reinterpret_cast<LRESULT>(o.files[data].c_str()) : 0;
    case 212:
        return validEntry(data) ? reinterpret_cast<LRESULT>(o.titles[data].c_str()) : 0;
    default:
        known = false;
        return 0;
    }
}

// Play starts the current entry from its beginning, pause toggles, stop stops.
void transport(WPARAM command)
{
    Options& o = g_options;
    if (command == 40045) {
        o.playState = 1;
        o.elapsedMs = 0;
    } else if (command == 40046 && o.playState != 0) {
        o.playState = o.playState == 1 ? 3 : 1;
    } else if (command == 40047) {
        o.playState = 0;
    }
}

LRESULT queryAnswer(WPARAM data, LPARAM id)
{
    if (g_options.hasQueue) {
        bool known = false;
        const LRESULT answer = queueAnswer(data, id, known);
        if (known)
            return answer;
    }
    switch (id) {
    case 0:
        return g_options.version;
    case 104:
        return g_options.playState;
    case 250:
        return g_options.shuffle;
    case 251:
        return g_options.repeat;
    default:
        return 0;
    }
}

LRESULT CALLBACK windowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_COMMAND:
        writeLog("command " + std::to_string(wParam) + " " + std::to_string(lParam));
        if (g_options.hangAt != 0 && wParam == g_options.hangAt)
            Sleep(INFINITE);
        if (wParam == kCloseCommand)
            DestroyWindow(window);
        if (g_options.hasQueue)
            transport(wParam);
        return g_options.commandAnswer;
    case WM_USER:
        writeLog("user " + std::to_string(wParam) + " " + std::to_string(lParam));
        if (g_options.hangsAtQuery && lParam == g_options.hangAtQuery)
            Sleep(INFINITE);
        return queryAnswer(wParam, lParam);
    case WM_COPYDATA: {
        const auto* block = reinterpret_cast<const COPYDATASTRUCT*>(lParam);
        writeLog("copydata " + std::to_string(block->dwData) + " " + std::to_string(block->cbData) +
                 " " + hexBytes(block->lpData, block->cbData));
        return 1;
    }
    case WM_DESTROY:
        PostQuitMessage(0);
        return 0;
    default:
        return DefWindowProcA(window, message, wParam, lParam);
    }
}

LRESULT number(const char* text)
{
    return static_cast<LRESULT>(std::strtoll(text, nullptr, 0));
}

std::string besideProgram(const char* name)
{
    char path[MAX_PATH] = {};
    const DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string folder(path, length);
    folder.resize(folder.find_last_of('\\') + 1);
    return folder + name;
}

// Titles separated by "|"; an empty text is an empty queue. Each entry's file is made up from
// its title.
void setQueue(const std::string& text)
{
    g_options.hasQueue = true;
    for (std::size_t at = 0; at < text.size();) {
        const auto bar = std::min(text.find('|', at), text.size());
        g_options.titles.push_back(text.substr(at, bar - at));
        g_options.files.push_back("C:\\Music\\" + g_options.titles.back() + ".mp3");
        at = bar + 1;
    }
}

bool parseOptions(int argc, char** argv)
{
    g_options.log = besideProgram("winamp_standin.log");
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string option = argv[i];
        const char* value = argv[i + 1];
        if (option == "--log")
            g_options.log = value;
        else if (option == "--version")
            g_options.version = number(value);
        else if (option == "--state")
            g_options.playState = number(value);
        else if (option == "--shuffle")
            g_options.shuffle = number(value);
        else if (option == "--repeat")
            g_options.repeat = number(value);
        else if (option == "--answer")
            g_options.commandAnswer = number(value);
        else if (option == "--hang")
            g_options.hangAt = static_cast<WPARAM>(number(value));
        else if (option == "--hang-query") {
            g_options.hangsAtQuery = true;
            g_options.hangAtQuery = static_cast<LPARAM>(number(value));
        } else if (option == "--queue")
            setQueue(value);
        else if (option == "--position")
            g_options.position = number(value);
        else if (option == "--volume")
            g_options.volume = number(value);
        else if (option == "--elapsed")
            g_options.elapsedMs = number(value);
        else if (option == "--length")
            g_options.lengthS = number(value);
        else
            return false;
    }
    return argc % 2 == 1;
}

void signalReady()
{
    HANDLE ready = OpenSemaphoreA(SEMAPHORE_MODIFY_STATE, FALSE, kReadySemaphore);
    if (ready != nullptr) {
        ReleaseSemaphore(ready, 1, nullptr);
        CloseHandle(ready);
    }
}

} // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int)
{
    if (!parseOptions(__argc, __argv))
        return 2;
    g_log = CreateFileA(g_options.log.c_str(), FILE_APPEND_DATA,
                        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                        OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (g_log == INVALID_HANDLE_VALUE)
        return 3;

    WNDCLASSA windowClass{};
    windowClass.lpfnWndProc = windowProc;
    windowClass.hInstance = instance;
    windowClass.lpszClassName = kWindowClass;
    if (RegisterClassA(&windowClass) == 0)
        return 4;
    HWND window = CreateWindowExA(0, kWindowClass, "Winamp", WS_OVERLAPPEDWINDOW, CW_USEDEFAULT,
                                  CW_USEDEFAULT, 275, 116, nullptr, nullptr, instance, nullptr);
    if (window == nullptr)
        return 5;
    signalReady();

    MSG message;
    while (GetMessageA(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
    CloseHandle(g_log);
    return 0;
}
