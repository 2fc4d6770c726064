// SPDX-License-Identifier: MIT
// Drives windows of other programs for the tests that run from the Linux side of wine:
//   window_tool wait CLASS         exits 0 once a window of the class exists (20 s at most)
//   window_tool close CLASS        posts WM_CLOSE and exits 0 once the window's process ended
//   window_tool endsession CLASS   sends what Windows sends at log-off, then ends the process
//                                  the way Windows does; exits 0 when the window answered
//   window_tool restore CLASS      chooses "&Restore" of zelvor.exe's tray menu
//   window_tool click CLASS NAME   clicks the control of zelvor.exe's settings window so named

#include "shell/win32/MainWindow.h"

#include <cstdio>
#include <cstring>

namespace {

constexpr DWORD kLimitMs = 20000;

HWND waitForWindow(const char* windowClass)
{
    const ULONGLONG deadline = GetTickCount64() + kLimitMs;
    for (;;) {
        if (HWND window = FindWindowA(windowClass, nullptr))
            return window;
        if (GetTickCount64() > deadline)
            return nullptr;
        // Nothing to wait on across processes: poll, bounded by the deadline.
        Sleep(20);
    }
}

HANDLE processOf(HWND window)
{
    DWORD id = 0;
    GetWindowThreadProcessId(window, &id);
    return OpenProcess(SYNCHRONIZE | PROCESS_TERMINATE, FALSE, id);
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 3) {
        std::fprintf(stderr,
                     "usage: window_tool wait|close|endsession|restore|click CLASS [NAME]\n");
        return 2;
    }
    HWND window = waitForWindow(argv[2]);
    if (!window) {
        std::fprintf(stderr, "window_tool: no window of class %s\n", argv[2]);
        return 1;
    }
    if (std::strcmp(argv[1], "wait") == 0)
        return 0;
    if (std::strcmp(argv[1], "restore") == 0)
        return PostMessageA(window, WM_COMMAND, zelvor::MainWindow::kMenuRestore, 0) ? 0 : 1;
    if (std::strcmp(argv[1], "click") == 0 && argc == 4) {
        const int id = zelvor::controlId(argv[3]);
        return PostMessageA(window, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
                            reinterpret_cast<LPARAM>(GetDlgItem(window, id)))
                   ? 0
                   : 1;
    }
    HANDLE process = processOf(window);
    if (!process)
        return 1;
    int result = 1;
    if (std::strcmp(argv[1], "close") == 0) {
        PostMessageA(window, WM_CLOSE, 0, 0);
        result = WaitForSingleObject(process, kLimitMs) == WAIT_OBJECT_0 ? 0 : 1;
    } else if (std::strcmp(argv[1], "endsession") == 0) {
        DWORD_PTR answer = 0;
        const bool asked = SendMessageTimeoutA(window, WM_QUERYENDSESSION, 0, ENDSESSION_LOGOFF,
                                               SMTO_ABORTIFHUNG, kLimitMs, &answer) != 0;
        const bool ended = SendMessageTimeoutA(window, WM_ENDSESSION, TRUE, ENDSESSION_LOGOFF,
                                               SMTO_ABORTIFHUNG, kLimitMs, nullptr) != 0;
        TerminateProcess(process, 0);
        WaitForSingleObject(process, kLimitMs);
        result = asked && answer != 0 && ended ? 0 : 1;
    }
    CloseHandle(process);
    return result;
}
