// SPDX-License-Identifier: MIT
#include "shell/TrayStateMachine.h"

namespace zelvor {

void TrayStateMachine::start(bool trayAvailable)
{
    if (m_place == WindowPlace::Shown)
        goToTray(trayAvailable);
}

void TrayStateMachine::minimized(bool trayAvailable)
{
    if (m_place == WindowPlace::Shown)
        goToTray(trayAvailable);
}

void TrayStateMachine::unminimized()
{
    if (m_place != WindowPlace::OnTaskbar)
        return;
    m_place = WindowPlace::Shown;
    m_actions.RemoveTrayIcon();
}

void TrayStateMachine::restore()
{
    if (m_place != WindowPlace::InTray && m_place != WindowPlace::OnTaskbar)
        return;
    // The place changes first: showing the window reports a state change of its own.
    m_place = WindowPlace::Shown;
    m_actions.showWindowNormal();
    m_actions.RemoveTrayIcon();
}

void TrayStateMachine::shutdown()
{
    if (m_place == WindowPlace::Ended)
        return;
    m_place = WindowPlace::Ended;
    m_actions.unloadWindow();
    // Also when no icon is shown: removing a missing icon is harmless.
    m_actions.RemoveTrayIcon();
}

void TrayStateMachine::goToTray(bool trayAvailable)
{
    if (trayAvailable) {
        m_place = WindowPlace::InTray;
        m_actions.AddTrayIcon();
        m_actions.hideWindow();
        return;
    }
    // Hiding the window without an icon would leave no way back to it.
    m_place = WindowPlace::OnTaskbar;
    if (!m_noTrayReported) {
        m_noTrayReported = true;
        m_actions.reportNoTray();
    }
    m_actions.AddTrayIcon();
    m_actions.showWindowMinimized();
}

} // namespace zelvor
