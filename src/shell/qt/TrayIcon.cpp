// SPDX-License-Identifier: MIT
#include "shell/qt/TrayIcon.h"

#include "shell/qt/SettingsWindow.h"

#include <QAction>

#include <cstdio>

namespace zelvor {

TrayIcon::TrayIcon(SettingsWindow& window, std::function<bool()> trayAvailable,
                   std::function<void()> unload)
    : m_window(window), m_trayAvailable(std::move(trayAvailable)), m_unload(std::move(unload)),
      m_machine(*this)
{
    setObjectName(QStringLiteral("TrayIcon"));
    m_icon.setIcon(window.windowIcon());
    m_icon.setToolTip(QStringLiteral("Zelvor"));
    // Qt opens the context menu on a right-button press only; left and double clicks are
    // left unconnected and so do nothing.
    m_icon.setContextMenu(window.popupMenu());
    connect(&window, &SettingsWindow::minimized, this, &TrayIcon::MinimizeToTray);
    connect(&window, &SettingsWindow::unminimized, this, [this] { m_machine.unminimized(); });
    connect(window.restoreAction(), &QAction::triggered, this, &TrayIcon::mnu_Popup_Restore_Click);
    connect(window.shutdownAction(), &QAction::triggered, this, &TrayIcon::mnu_Popup_Exit_Click);
}

void TrayIcon::start()
{
    m_machine.start(m_trayAvailable());
}

void TrayIcon::shutdown()
{
    m_machine.shutdown();
}

void TrayIcon::MinimizeToTray()
{
    m_machine.minimized(m_trayAvailable());
}

void TrayIcon::mnu_Popup_Restore_Click()
{
    m_machine.restore();
}

void TrayIcon::mnu_Popup_Exit_Click()
{
    // Closing unloads the window, which calls shutdown().
    m_window.close();
}

void TrayIcon::hideWindow()
{
    m_window.hide();
}

void TrayIcon::showWindowNormal()
{
    m_window.showNormal();
    m_window.raise();
    m_window.activateWindow();
}

void TrayIcon::showWindowMinimized()
{
    m_window.showMinimized();
}

void TrayIcon::AddTrayIcon()
{
    // Also without a notification area: Qt shows a visible icon once one appears.
    m_icon.show();
}

void TrayIcon::RemoveTrayIcon()
{
    m_icon.hide();
}

void TrayIcon::reportNoTray()
{
    std::fputs("Zelvor: no notification area found; the settings window stays on the taskbar.\n",
               stderr);
}

void TrayIcon::unloadWindow()
{
    if (m_unload)
        m_unload();
}

} // namespace zelvor
