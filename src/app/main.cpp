// SPDX-License-Identifier: MIT
#include "app/ServerApp.h"
#include "app/StartupMode.h"
#include "shell/DesktopShell.h"

#include <QApplication>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QSocketNotifier>
#include <QStandardPaths>

#include <csignal>
#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>

#ifndef _WIN32
#include <fcntl.h>
#include <unistd.h>
#endif

namespace {

constexpr const char* kUsage =
    "Usage: zelvor [--version] [--help]\n"
    "\n"
    "Lets one telnet client at a time control the music player. With a desktop it lives in\n"
    "the notification area; without one it runs headless and prints every status word here.\n"
    "Settings: $XDG_CONFIG_HOME/zelvor/zelvor.ini (default ~/.config/zelvor/zelvor.ini).\n"
    "The player is MPD, found through MPD_HOST and MPD_PORT or their defaults.\n"
    "SIGTERM or SIGINT saves the settings and ends the program; SIGHUP restarts the listener.\n";

#ifndef _WIN32
int g_signalPipe[2] = {-1, -1};

void onSignal(int number)
{
    const char byte = static_cast<char>(number);
    [[maybe_unused]] const auto written = ::write(g_signalPipe[1], &byte, 1);
}

/**
 * Runs the orderly shutdown for SIGTERM and SIGINT, and the Restart for SIGHUP (the only way to
 * reopen a listener that failed when there is no window), on the event loop.
 */
void watchSignals(QObject* owner, std::function<void()> shutdown, std::function<void()> restart)
{
    if (::pipe2(g_signalPipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return;
    auto* notifier = new QSocketNotifier(g_signalPipe[0], QSocketNotifier::Read, owner);
    QObject::connect(notifier, &QSocketNotifier::activated, owner, [shutdown, restart] {
        char received[16];
        bool stop = false;
        bool hangUp = false;
        for (ssize_t n; (n = ::read(g_signalPipe[0], received, sizeof received)) > 0;) {
            for (ssize_t i = 0; i < n; ++i)
                (received[i] == SIGHUP ? hangUp : stop) = true;
        }
        if (stop)
            shutdown();
        else if (hangUp)
            restart();
    });
    struct sigaction action = {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGHUP, &action, nullptr);
    // A client that hangs up while we write must not end the program.
    std::signal(SIGPIPE, SIG_IGN);
}
#endif

std::string settingsFolder()
{
#ifdef _WIN32
    return QCoreApplication::applicationDirPath().toLocal8Bit().toStdString();
#else
    const QString base = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
    return QFile::encodeName(base + QStringLiteral("/zelvor")).toStdString();
#endif
}

int runHeadless(int argc, char** argv)
{
    QCoreApplication qtApp(argc, argv);
    zelvor::ServerApp app(settingsFolder(), /*headless=*/true);
#ifndef _WIN32
    watchSignals(
        &app,
        [&app] {
            app.Form_Unload();
            QCoreApplication::exit(0);
        },
        [&app] { app.server().Cmd_Start_Click(); });
#endif
    app.Form_Load();
    return qtApp.exec();
}

int runDesktop(int argc, char** argv)
{
    QApplication qtApp(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    zelvor::ServerApp app(settingsFolder(), /*headless=*/false);
    zelvor::ShellHooks hooks;
    hooks.restart = [&app] { app.server().Cmd_Start_Click(); };
    hooks.unload = [&app] { app.Form_Unload(); };
    zelvor::DesktopShell shell(app.settings(), std::move(hooks));
    app.onStatus = [&shell](const std::string& word) {
        shell.setStatusWord(QString::fromLatin1(word.data(), static_cast<qsizetype>(word.size())));
    };
#ifndef _WIN32
    watchSignals(
        &shell, [&shell] { shell.shutdown(); }, [&app] { app.server().Cmd_Start_Click(); });
#endif
    app.Form_Load();
    shell.start();
    return qtApp.exec();
}

} // namespace

int main(int argc, char** argv)
{
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--version") == 0) {
            std::printf("Zelvor 1.0.0.7\n");
            return 0;
        }
        if (std::strcmp(argv[i], "--help") == 0) {
            std::printf("%s", kUsage);
            return 0;
        }
    }
    QCoreApplication::setApplicationName(QStringLiteral("zelvor"));
    QCoreApplication::setApplicationVersion(QStringLiteral("1.0.0.7"));
    switch (zelvor::startupMode()) {
    case zelvor::StartupMode::Wayland:
        // A Wayland session without an X display, where Qt would look for X11 first.
        qputenv("QT_QPA_PLATFORM", "wayland");
        return runDesktop(argc, argv);
    case zelvor::StartupMode::Desktop:
        return runDesktop(argc, argv);
    case zelvor::StartupMode::Headless:
        break;
    }
    return runHeadless(argc, argv);
}
