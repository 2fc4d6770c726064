// SPDX-License-Identifier: MIT
// Desktop mode figures: the shell's start-up until its tray icon is handed to the notification
// area (Qt up, window built, settings loaded), measured in this process, and the real program's
// memory and idle CPU with the settings window in the tray. Runs on $DISPLAY when there is one
// (under Xvfb with trayer for the tray), else offscreen, where there is no tray.
#include "TcpClient.h"
#include "ProcessFigures.h"
#include "ZelvorProcess.h"

#include "settings/ServerSettings.h"
#include "shell/qt/DesktopShell.h"
#include "shell/qt/TrayIcon.h"

#include <QApplication>
#include <QSystemTrayIcon>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

using namespace std::chrono;
using zelvor::bench::cpuTicks;
using zelvor::bench::fmt;
using zelvor::bench::statusKiB;
using zelvor::test::ZelvorProcess;

namespace {

/** Whether a socket listens on the loopback or any address at the port (from /proc/net/tcp). */
bool listening(std::uint16_t port)
{
    char wanted[8];
    std::snprintf(wanted, sizeof wanted, ":%04X", port);
    for (const char* table : {"/proc/net/tcp", "/proc/net/tcp6"}) {
        std::ifstream in(table);
        std::string line;
        while (std::getline(in, line)) {
            std::istringstream fields(line);
            std::string slot, local, remote, state;
            fields >> slot >> local >> remote >> state;
            if (state == "0A" && local.size() > 5 && local.substr(local.size() - 5) == wanted)
                return true;
        }
    }
    return false;
}

void row(const char* name, const std::string& value, const char* target)
{
    std::printf("| %-46s | %-24s | %-22s |\n", name, value.c_str(), target);
}

struct ShellStart
{
    double startedMs = 0;
    bool tray = false;
    std::string platform;
};

ShellStart measureShellStart(int argc, char** argv)
{
    const auto begin = steady_clock::now();
    QApplication app(argc, argv);
    zelvor::ServerSettings settings;
    zelvor::DesktopShell shell(settings, {});
    shell.start();
    ShellStart result;
    result.platform = QApplication::platformName().toStdString();
    result.startedMs = duration<double, std::milli>(steady_clock::now() - begin).count();
    result.tray = QSystemTrayIcon::isSystemTrayAvailable();
    return result;
}

} // namespace

int main(int argc, char** argv)
{
    std::signal(SIGPIPE, SIG_IGN);
    const bool display = std::getenv("DISPLAY") || std::getenv("WAYLAND_DISPLAY");
    if (!display && !std::getenv("QT_QPA_PLATFORM"))
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    const ShellStart shellStart = measureShellStart(argc, argv);

    const std::uint16_t port = zelvor::test::freePort();
    ZelvorProcess zelvor;
    zelvor.writeIni("[Zelvor]\r\nPort=" + std::to_string(port) +
                    "\r\nServer Root=" + zelvor.home().str() + "\r\n");
    if (const char* name = std::getenv("DISPLAY"))
        zelvor.setEnv("DISPLAY", name);
    else
        zelvor.setEnv("QT_QPA_PLATFORM", std::getenv("QT_QPA_PLATFORM"));
    const auto started = steady_clock::now();
    zelvor.start();
    while (!listening(port) && steady_clock::now() - started < seconds(10))
        std::this_thread::sleep_for(milliseconds(1));
    const double listenMs = duration<double, std::milli>(steady_clock::now() - started).count();
    std::this_thread::sleep_for(seconds(1));
    const long rss = statusKiB(zelvor.pid(), "VmRSS");
    const long anon = statusKiB(zelvor.pid(), "Anonymous", "smaps_rollup");
    const long ticks0 = cpuTicks(zelvor.pid());
    std::this_thread::sleep_for(seconds(3));
    const long idleTicks = cpuTicks(zelvor.pid()) - ticks0;
    zelvor.signal(SIGTERM);
    const int exitCode = zelvor.wait();

    std::printf("desktop mode on the \"%s\" platform%s\n\n", shellStart.platform.c_str(),
                shellStart.tray ? "" : " (no notification area: window on the taskbar)");
    std::printf("| %-46s | %-24s | %-22s |\n", "measure", "result", "target");
    std::printf("|%s|%s|%s|\n", std::string(48, '-').c_str(), std::string(26, '-').c_str(),
                std::string(24, '-').c_str());
    row("start to tray icon handed to the tray", fmt("%.0f ms", shellStart.startedMs), "< 1 s");
    row("program start to listening (desktop mode)", fmt("%.0f ms", listenMs), "");
    row("idle RSS (desktop mode)", fmt("%.1f MiB", rss / 1024.0), "< 40 MiB");
    row("private anonymous memory (desktop mode)", fmt("%.1f MiB", anon / 1024.0), "");
    row("CPU while idle, 3 s", fmt("%.0f ticks", static_cast<double>(idleTicks)), "0");
    row("exit code after SIGTERM", fmt("%.0f", exitCode), "0");
    return 0;
}
