// SPDX-License-Identifier: MIT
#pragma once

#include <QObject>
#include <QString>

#include <functional>
#include <memory>

namespace zelvor {

struct ServerSettings;
class SettingsWindow;
class TrayIcon;

/** What the desktop shell asks of the rest of the program. */
struct ShellHooks
{
    /** "&Restart": ends any client session and opens the listener again. */
    std::function<void()> restart;
    /**
     * The window unloads (close button or "&Shutdown"): save the settings and close the
     * socket. Runs once; the shell then removes the tray icon and quits the event loop.
     */
    std::function<void()> unload;
    /** Whether a notification area exists; empty asks QSystemTrayIcon. */
    std::function<bool()> trayAvailable;
};

/**
 * The desktop side of Zelvor: the settings window "Tollomere" over the shared settings record,
 * with its tray icon, folder picker and About box.
 */
class DesktopShell : public QObject
{
    Q_OBJECT
public:
    /** Creates the window, still hidden; status words can be shown from now on. */
    DesktopShell(ServerSettings& settings, ShellHooks hooks, QObject* parent = nullptr);
    ~DesktopShell() override;

    /**
     * Puts the settings into the window, hides the restart warning and sends the window to
     * the tray (without a notification area: minimized on the taskbar). Also makes the
     * application stay alive while no window is shown.
     */
    void start();

    /**
     * Unloads as "&Shutdown" does (for a termination signal, say): runs the unload hook,
     * removes the tray icon and quits the event loop. Only the first unload counts.
     */
    void shutdown();

    SettingsWindow& window() const { return *m_window; }
    TrayIcon& trayIcon() const { return *m_tray; }

public slots:
    /** Shows the latest activity word in the window's status label. */
    void setStatusWord(const QString& word);

private:
    std::unique_ptr<SettingsWindow> m_window;
    std::unique_ptr<TrayIcon> m_tray;
};

} // namespace zelvor
