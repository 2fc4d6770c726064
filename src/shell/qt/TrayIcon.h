// SPDX-License-Identifier: MIT
#pragma once

#include "shell/TrayStateMachine.h"

#include <QObject>
#include <QSystemTrayIcon>

#include <functional>

namespace zelvor {

class SettingsWindow;

/**
 * The notification-area icon "Zelvor" of the settings window. A minimized window goes into the
 * tray; a press of the right button on the icon opens the window's menu: "&Restore" brings the
 * window back, "&Shutdown" closes it, which unloads the program. Without a notification area
 * the window stays minimized on the taskbar instead.
 */
class TrayIcon : public QObject, private TrayActions
{
    Q_OBJECT
public:
    /**
     * trayAvailable says whether a notification area exists right now; unload saves the
     * settings and closes the socket when the window unloads.
     */
    TrayIcon(SettingsWindow& window, std::function<bool()> trayAvailable,
             std::function<void()> unload);

    WindowPlace place() const { return m_machine.place(); }
    const QSystemTrayIcon& icon() const { return m_icon; }

    /** The window has just been created, minimized: it goes straight into the tray. */
    void start();
    /** The window unloads: runs the unload step, then removes the icon. Only the first call counts.
     */
    void shutdown();

private:
    void MinimizeToTray();
    void mnu_Popup_Restore_Click();
    void mnu_Popup_Exit_Click();

    void hideWindow() override;
    void showWindowNormal() override;
    void showWindowMinimized() override;
    void AddTrayIcon() override;
    void RemoveTrayIcon() override;
    void reportNoTray() override;
    void unloadWindow() override;

    SettingsWindow& m_window;
    std::function<bool()> m_trayAvailable;
    std::function<void()> m_unload;
    QSystemTrayIcon m_icon;
    TrayStateMachine m_machine;
};

} // namespace zelvor
