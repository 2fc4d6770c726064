// SPDX-License-Identifier: MIT
#pragma once

namespace zelvor {

/** Where the settings window is. */
enum class WindowPlace
{
    /** On screen, no tray icon. */
    Shown,
    /** Hidden; only the tray icon is left. */
    InTray,
    /** No notification area was found: minimized on the taskbar instead. */
    OnTaskbar,
    /** Unloaded: settings saved, icon removed. */
    Ended,
};

/** A mouse event on the tray icon. */
enum class TrayMouse
{
    Move,
    LeftDown,
    LeftUp,
    LeftDoubleClick,
    RightDown,
    RightUp,
    RightDoubleClick,
};

/**
 * Whether the event opens the tray menu. Only a press of the right button does; the left
 * button and double clicks do nothing, so the window comes back only through "&Restore".
 */
constexpr bool opensTrayMenu(TrayMouse event)
{
    return event == TrayMouse::RightDown;
}

/** What the state machine asks of the desktop. The Qt adapter implements it; tests record it. */
class TrayActions
{
public:
    virtual ~TrayActions() = default;
    virtual void hideWindow() = 0;
    virtual void showWindowNormal() = 0;
    virtual void showWindowMinimized() = 0;
    /** Shows the icon; without a notification area the desktop shows it once one appears. */
    virtual void AddTrayIcon() = 0;
    virtual void RemoveTrayIcon() = 0;
    /** Tells the user (once per run) that the window stays on the taskbar. */
    virtual void reportNoTray() = 0;
    /** Saves the settings and closes the socket. */
    virtual void unloadWindow() = 0;
};

/**
 * The settings window's journey between screen and notification area. Every event is ignored
 * once the window has ended, so a second close or a late menu click does nothing.
 */
class TrayStateMachine
{
public:
    explicit TrayStateMachine(TrayActions& actions) : m_actions(actions) {}

    WindowPlace place() const { return m_place; }

    /** The window is created minimized: it goes straight to the tray. */
    void start(bool trayAvailable);
    /** The user minimized the shown window. */
    void minimized(bool trayAvailable);
    /** The window left the minimized state by other means than "&Restore" (its taskbar entry). */
    void unminimized();
    /** "&Restore" in the tray menu. */
    void restore();
    /** The window unloads: "&Shutdown" or its close button. */
    void shutdown();

private:
    void goToTray(bool trayAvailable);

    TrayActions& m_actions;
    WindowPlace m_place = WindowPlace::Shown;
    bool m_noTrayReported = false;
};

} // namespace zelvor
