// SPDX-License-Identifier: MIT
#include "Version.h"
#include "app/CommandLineOptions.h"
#include "app/LocalClient.h"
#include "app/LocalReplies.h"
#include "app/qt/ServerApp.h"
#include "app/qt/StartupMode.h"
#include "shell/qt/DesktopShell.h"

#include <QApplication>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QSocketNotifier>
#include <QStandardPaths>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

namespace {

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

std::string defaultSettingsFolder()
{
    const QString base = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
    return QFile::encodeName(base + QStringLiteral("/zelvor")).toStdString();
}

std::string settingsFolder(const zelvor::CommandLineOptions& options)
{
    return options.configDir ? *options.configDir : defaultSettingsFolder();
}

/** The local socket that -c and --attach reach: the one the server listens on. */
std::string localSocket(const zelvor::CommandLineOptions& options)
{
    return zelvor::localSocketPath(options.configDir.has_value(), std::getenv("XDG_RUNTIME_DIR"),
                                   settingsFolder(options));
}

int runHeadless(int argc, char** argv, const zelvor::CommandLineOptions& options)
{
    QCoreApplication qtApp(argc, argv);
    zelvor::ServerApp app(settingsFolder(options), /*headless=*/true);
    app.setCommandLine(options);
    watchSignals(
        &app,
        [&app] {
            app.Form_Unload();
            QCoreApplication::exit(0);
        },
        [&app] { app.server().Cmd_Start_Click(); });
    app.Form_Load();
    return qtApp.exec();
}

int runDesktop(int argc, char** argv, const zelvor::CommandLineOptions& options)
{
    QApplication qtApp(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    zelvor::ServerApp app(settingsFolder(options), /*headless=*/false);
    app.setCommandLine(options);
    zelvor::ShellHooks hooks;
    hooks.restart = [&app] { app.server().Cmd_Start_Click(); };
    hooks.unload = [&app] { app.Form_Unload(); };
    zelvor::DesktopShell shell(app.settings(), std::move(hooks));
    app.onStatus = [&shell](const std::string& word) {
        shell.setStatusWord(QString::fromLatin1(word.data(), static_cast<qsizetype>(word.size())));
    };
    watchSignals(
        &shell, [&shell] { shell.shutdown(); }, [&app] { app.server().Cmd_Start_Click(); });
    app.Form_Load();
    shell.start();
    return qtApp.exec();
}

} // namespace

int main(int argc, char** argv)
{
    // Read before anything is opened or written: a bad option changes nothing.
    std::error_code error;
    const auto options = zelvor::parseCommandLine(std::vector<std::string>(argv + 1, argv + argc),
                                                  std::filesystem::current_path(error));
    switch (options.action) {
    case zelvor::CommandLineOptions::Action::Fail:
        std::fprintf(stderr, "%s\n", options.error.c_str());
        return 2;
    case zelvor::CommandLineOptions::Action::Help:
        std::printf("%s", zelvor::usageText().c_str());
        return 0;
    case zelvor::CommandLineOptions::Action::Version:
        std::printf("Zelvor %.*s\n", static_cast<int>(zelvor::kVersionText.size()),
                    zelvor::kVersionText.data());
        return 0;
    case zelvor::CommandLineOptions::Action::Command:
        return zelvor::runCommandLines(localSocket(options), options.commands);
    case zelvor::CommandLineOptions::Action::Attach:
        return zelvor::attachSession(localSocket(options));
    case zelvor::CommandLineOptions::Action::Run:
        break;
    }
    QCoreApplication::setApplicationName(QStringLiteral("zelvor"));
    QCoreApplication::setApplicationVersion(QString::fromLatin1(
        zelvor::kVersionText.data(), static_cast<qsizetype>(zelvor::kVersionText.size())));
    // Qt reads no option of ours: it gets the program name only.
    int qtArgc = 1;
    switch (zelvor::startupMode()) {
    case zelvor::StartupMode::Wayland:
        // A Wayland session without an X display, where Qt would look for X11 first.
        qputenv("QT_QPA_PLATFORM", "wayland");
        return runDesktop(qtArgc, argv, options);
    case zelvor::StartupMode::Desktop:
        return runDesktop(qtArgc, argv, options);
    case zelvor::StartupMode::Headless:
        break;
    }
    return runHeadless(qtArgc, argv, options);
}
