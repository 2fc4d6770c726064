// SPDX-License-Identifier: MIT
#include "shell/qt/DesktopShell.h"

#include "shell/qt/SettingsWindow.h"
#include "shell/qt/TrayIcon.h"

#include <QApplication>
#include <QSystemTrayIcon>

namespace zelvor {

DesktopShell::DesktopShell(ServerSettings& settings, ShellHooks hooks, QObject* parent)
    : QObject(parent), m_window(std::make_unique<SettingsWindow>(settings))
{
    std::function<bool()> trayAvailable = std::move(hooks.trayAvailable);
    if (!trayAvailable)
        trayAvailable = &QSystemTrayIcon::isSystemTrayAvailable;
    m_tray =
        std::make_unique<TrayIcon>(*m_window, std::move(trayAvailable), std::move(hooks.unload));
    m_window->setRestartHook(std::move(hooks.restart));
    m_window->setUnloadHook([this] {
        m_tray->shutdown();
        // Does nothing unless the main event loop runs.
        QCoreApplication::quit();
    });
}

DesktopShell::~DesktopShell() = default;

void DesktopShell::start()
{
    // The window spends most of its life hidden, and the About box may be the last window
    // to close: neither may end the program.
    QApplication::setQuitOnLastWindowClosed(false);
    m_window->loadControls();
    m_tray->start();
}

void DesktopShell::shutdown()
{
    m_window->close();
}

void DesktopShell::setStatusWord(const QString& word)
{
    m_window->setStatusWord(word);
}

} // namespace zelvor
