// SPDX-License-Identifier: MIT
#include "WindowFixture.h"

#include "shell/qt/DesktopShell.h"
#include "shell/qt/TrayIcon.h"
#include "shell/TrayStateMachine.h"

#include <QAction>
#include <QApplication>
#include <QLineEdit>
#include <QMenu>

#include <string>
#include <vector>

namespace zelvor {
namespace {

using Calls = std::vector<std::string>;

class RecordingActions : public TrayActions
{
public:
    Calls calls;
    void hideWindow() override { calls.emplace_back("hide"); }
    void showWindowNormal() override { calls.emplace_back("showNormal"); }
    void showWindowMinimized() override { calls.emplace_back("showMinimized"); }
    void AddTrayIcon() override { calls.emplace_back("AddTrayIcon"); }
    void RemoveTrayIcon() override { calls.emplace_back("RemoveTrayIcon"); }
    void reportNoTray() override { calls.emplace_back("reportNoTray"); }
    void unloadWindow() override { calls.emplace_back("unload"); }
};

TEST(TrayStates, StartRestoreMinimizeShutdown)
{
    RecordingActions actions;
    TrayStateMachine machine(actions);
    machine.start(true);
    EXPECT_EQ(machine.place(), WindowPlace::InTray);
    machine.restore();
    EXPECT_EQ(machine.place(), WindowPlace::Shown);
    machine.restore(); // nothing to restore
    machine.minimized(true);
    machine.shutdown();
    machine.shutdown();
    machine.restore();
    EXPECT_EQ(machine.place(), WindowPlace::Ended);
    EXPECT_EQ(actions.calls, (Calls{"AddTrayIcon", "hide", "showNormal", "RemoveTrayIcon",
                                    "AddTrayIcon", "hide", "unload", "RemoveTrayIcon"}));
}

TEST(TrayStates, WithoutTrayTheWindowStaysOnTheTaskbarAndSaysSoOnce)
{
    RecordingActions actions;
    TrayStateMachine machine(actions);
    machine.start(false);
    EXPECT_EQ(machine.place(), WindowPlace::OnTaskbar);
    machine.unminimized(); // restored from the taskbar
    EXPECT_EQ(machine.place(), WindowPlace::Shown);
    machine.minimized(false);
    machine.restore(); // a tray that appeared later offers Restore too
    EXPECT_EQ(actions.calls,
              (Calls{"reportNoTray", "AddTrayIcon", "showMinimized", "RemoveTrayIcon",
                     "AddTrayIcon", "showMinimized", "showNormal", "RemoveTrayIcon"}));
}

// The shell on the offscreen platform, with a notification area pretended where asked.
class Shell : public ::testing::Test
{
protected:
    DesktopShell& makeShell(bool trayAvailable)
    {
        settings.ServerRoot = "/srv/music";
        ShellHooks hooks;
        hooks.restart = [this] { ++restarts; };
        hooks.unload = [this] {
            ++unloads;
            iconAtUnload = icon().isVisible();
        };
        hooks.trayAvailable = [trayAvailable] { return trayAvailable; };
        shell = std::make_unique<DesktopShell>(settings, std::move(hooks));
        return *shell;
    }

    SettingsWindow& window() { return shell->window(); }
    const QSystemTrayIcon& icon() { return shell->trayIcon().icon(); }

    ServerSettings settings;
    std::unique_ptr<DesktopShell> shell;
    int restarts = 0;
    int unloads = 0;
    bool iconAtUnload = false;
};

TEST_F(Shell, StartsWithOnlyTheTrayIconAndTheSettingsLoaded)
{
    makeShell(true);
    shell->setStatusWord(QStringLiteral("started"));
    shell->start();
    EXPECT_FALSE(window().isVisible());
    EXPECT_TRUE(icon().isVisible());
    EXPECT_EQ(icon().toolTip(), "Zelvor");
    QStringList menu;
    for (const QAction* action : icon().contextMenu()->actions())
        menu << action->text();
    EXPECT_EQ(menu, (QStringList{"&Restore", "&Shutdown"}));
    EXPECT_FALSE(QApplication::quitOnLastWindowClosed());
    EXPECT_EQ(window().findChild<QLineEdit*>("Txt_Serverroot")->text(), "/srv/music");
    EXPECT_EQ(window().findChild<QLabel*>("Lbl_Status")->text(), "started");
    EXPECT_FALSE(window().findChild<QLabel*>("lbl_restartwarning")->isVisibleTo(&window()));
}

TEST_F(Shell, RestoreShowsTheWindowAndMinimizeSendsItBack)
{
    makeShell(true).start();
    window().restoreAction()->trigger();
    EXPECT_TRUE(window().isVisible());
    EXPECT_FALSE(window().isMinimized());
    EXPECT_FALSE(icon().isVisible());
    QTest::mouseClick(window().findChild<QWidget*>("Cmd_Start"), Qt::LeftButton);
    EXPECT_EQ(restarts, 1);

    window().setWindowState(Qt::WindowMinimized);
    EXPECT_FALSE(window().isVisible());
    EXPECT_TRUE(icon().isVisible());
    window().restoreAction()->trigger();
    EXPECT_TRUE(window().isVisible());
}

TEST_F(Shell, ShutdownUnloadsOnceThenRemovesTheIcon)
{
    makeShell(true).start();
    window().shutdownAction()->trigger();
    EXPECT_EQ(unloads, 1);
    EXPECT_TRUE(iconAtUnload);
    EXPECT_FALSE(icon().isVisible());
    EXPECT_EQ(shell->trayIcon().place(), WindowPlace::Ended);
    shell->shutdown();
    window().close();
    EXPECT_EQ(unloads, 1);
}

TEST_F(Shell, CloseButtonUnloadsAndLeavesNoIcon)
{
    makeShell(true).start();
    window().restoreAction()->trigger();
    EXPECT_TRUE(window().close());
    EXPECT_EQ(unloads, 1);
    EXPECT_FALSE(icon().isVisible());
}

TEST_F(Shell, OffscreenHasNoTraySoTheWindowStaysMinimizedOnTheTaskbar)
{
    DesktopShell plain(settings, {});
    ::testing::internal::CaptureStderr();
    plain.start();
    EXPECT_NE(::testing::internal::GetCapturedStderr().find("no notification area"),
              std::string::npos);
    EXPECT_TRUE(plain.window().isVisible());
    EXPECT_TRUE(plain.window().isMinimized());
    plain.window().showNormal();
    plain.window().setWindowState(Qt::WindowMinimized);
    EXPECT_TRUE(plain.window().isVisible());
    EXPECT_EQ(plain.trayIcon().place(), WindowPlace::OnTaskbar);
}

} // namespace
} // namespace zelvor
