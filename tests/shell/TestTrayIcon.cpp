// SPDX-License-Identifier: MIT
#include "QtPrinters.h"

#include "shell/DesktopShell.h"
#include "shell/SettingsWindow.h"
#include "shell/TrayIcon.h"
#include "shell/TrayStateMachine.h"

#include <QAction>
#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QTest>

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace zelvor {
namespace {

class RecordingActions : public TrayActions
{
public:
    std::vector<std::string> calls;

    void hideWindow() override { calls.emplace_back("hideWindow"); }
    void showWindowNormal() override { calls.emplace_back("showWindowNormal"); }
    void showWindowMinimized() override { calls.emplace_back("showWindowMinimized"); }
    void AddTrayIcon() override { calls.emplace_back("AddTrayIcon"); }
    void RemoveTrayIcon() override { calls.emplace_back("RemoveTrayIcon"); }
    void reportNoTray() override { calls.emplace_back("reportNoTray"); }
    void unloadWindow() override { calls.emplace_back("unloadWindow"); }
};

using Calls = std::vector<std::string>;

class TrayStates : public ::testing::Test
{
protected:
    RecordingActions actions;
    TrayStateMachine machine{actions};
};

TEST_F(TrayStates, StartGoesStraightIntoTheTray)
{
    machine.start(true);
    EXPECT_EQ(machine.place(), WindowPlace::InTray);
    EXPECT_EQ(actions.calls, (Calls{"AddTrayIcon", "hideWindow"}));
}

TEST_F(TrayStates, RestoreShowsTheWindowThenRemovesTheIcon)
{
    machine.start(true);
    actions.calls.clear();
    machine.restore();
    EXPECT_EQ(machine.place(), WindowPlace::Shown);
    EXPECT_EQ(actions.calls, (Calls{"showWindowNormal", "RemoveTrayIcon"}));
}

TEST_F(TrayStates, MinimizingAgainAddsTheIconOnce)
{
    machine.start(true);
    machine.restore();
    actions.calls.clear();
    machine.minimized(true);
    machine.minimized(true);
    EXPECT_EQ(machine.place(), WindowPlace::InTray);
    EXPECT_EQ(actions.calls, (Calls{"AddTrayIcon", "hideWindow"}));
}

TEST_F(TrayStates, RestoreOrLeavingMinimizedWhileShownDoesNothing)
{
    machine.restore();
    machine.unminimized();
    EXPECT_EQ(machine.place(), WindowPlace::Shown);
    EXPECT_TRUE(actions.calls.empty());
}

TEST_F(TrayStates, ShutdownUnloadsThenRemovesTheIconAndIgnoresWhatFollows)
{
    machine.start(true);
    actions.calls.clear();
    machine.shutdown();
    machine.shutdown();
    machine.restore();
    machine.minimized(true);
    EXPECT_EQ(machine.place(), WindowPlace::Ended);
    EXPECT_EQ(actions.calls, (Calls{"unloadWindow", "RemoveTrayIcon"}));
}

TEST_F(TrayStates, ClosingTheShownWindowStillRemovesTheIcon)
{
    machine.shutdown();
    EXPECT_EQ(actions.calls, (Calls{"unloadWindow", "RemoveTrayIcon"}));
}

TEST_F(TrayStates, WithoutTrayTheWindowStaysOnTheTaskbarAndSaysSoOnce)
{
    machine.start(false);
    EXPECT_EQ(machine.place(), WindowPlace::OnTaskbar);
    EXPECT_EQ(actions.calls, (Calls{"reportNoTray", "AddTrayIcon", "showWindowMinimized"}));

    actions.calls.clear();
    machine.unminimized();
    EXPECT_EQ(machine.place(), WindowPlace::Shown);
    machine.minimized(false);
    EXPECT_EQ(actions.calls, (Calls{"RemoveTrayIcon", "AddTrayIcon", "showWindowMinimized"}));
}

TEST_F(TrayStates, TrayThatAppearsLaterRestoresFromTheTaskbarState)
{
    machine.start(false);
    actions.calls.clear();
    machine.restore();
    EXPECT_EQ(machine.place(), WindowPlace::Shown);
    machine.minimized(true);
    EXPECT_EQ(machine.place(), WindowPlace::InTray);
}

// The desktop shell on the offscreen platform, with a notification area pretended where the
// test says so.
class Shell : public ::testing::Test
{
protected:
    void SetUp() override { settings.ServerRoot = "/srv/music"; }

    DesktopShell& makeShell(bool trayAvailable)
    {
        ShellHooks hooks;
        hooks.restart = [this] { ++restarts; };
        hooks.unload = [this] {
            ++unloads;
            iconVisibleAtUnload = shell->trayIcon().icon().isVisible();
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
    bool iconVisibleAtUnload = false;
};

TEST_F(Shell, StartsWithOnlyTheTrayIconAndTheSettingsLoaded)
{
    makeShell(true).start();
    EXPECT_FALSE(window().isVisible());
    EXPECT_TRUE(icon().isVisible());
    EXPECT_EQ(icon().toolTip(), QStringLiteral("Zelvor"));
    EXPECT_FALSE(icon().icon().isNull());
    EXPECT_EQ(shell->trayIcon().place(), WindowPlace::InTray);
    EXPECT_FALSE(QApplication::quitOnLastWindowClosed());
    EXPECT_EQ(window().findChild<QLineEdit*>("Txt_Serverroot")->text(), "/srv/music");
    EXPECT_FALSE(window().findChild<QLabel*>("lbl_restartwarning")->isVisibleTo(&window()));
}

TEST_F(Shell, TrayMenuOffersRestoreAboveShutdown)
{
    makeShell(true).start();
    ASSERT_NE(icon().contextMenu(), nullptr);
    QStringList texts;
    for (const QAction* action : icon().contextMenu()->actions())
        texts << action->text();
    EXPECT_EQ(texts, (QStringList{"&Restore", "&Shutdown"}));
}

TEST_F(Shell, LeftAndDoubleClicksOnTheIconDoNothing)
{
    makeShell(true).start();
    auto& trayIcon = const_cast<QSystemTrayIcon&>(icon());
    emit trayIcon.activated(QSystemTrayIcon::Trigger);
    emit trayIcon.activated(QSystemTrayIcon::DoubleClick);
    QCoreApplication::processEvents();
    EXPECT_FALSE(window().isVisible());
    EXPECT_FALSE(icon().contextMenu()->isVisible());
    EXPECT_EQ(shell->trayIcon().place(), WindowPlace::InTray);
}

TEST_F(Shell, RestoreShowsTheWindowNormallyAndMinimizeSendsItBack)
{
    makeShell(true).start();
    window().restoreAction()->trigger();
    EXPECT_TRUE(window().isVisible());
    EXPECT_FALSE(window().isMinimized());
    EXPECT_FALSE(icon().isVisible());

    window().setWindowState(Qt::WindowMinimized);
    EXPECT_FALSE(window().isVisible());
    EXPECT_TRUE(icon().isVisible());
    EXPECT_EQ(shell->trayIcon().place(), WindowPlace::InTray);

    window().restoreAction()->trigger();
    EXPECT_TRUE(window().isVisible());
    EXPECT_FALSE(window().isMinimized());
}

TEST_F(Shell, ShutdownFromTheTrayUnloadsOnceThenRemovesTheIcon)
{
    makeShell(true).start();
    window().shutdownAction()->trigger();
    EXPECT_EQ(unloads, 1);
    EXPECT_TRUE(iconVisibleAtUnload);
    EXPECT_FALSE(icon().isVisible());
    EXPECT_FALSE(window().isVisible());
    EXPECT_EQ(shell->trayIcon().place(), WindowPlace::Ended);

    window().close();
    EXPECT_EQ(unloads, 1);
}

TEST_F(Shell, ShutdownCallWorksLikeTheMenu)
{
    makeShell(true).start();
    shell->shutdown();
    shell->shutdown();
    EXPECT_EQ(unloads, 1);
    EXPECT_FALSE(icon().isVisible());
}

TEST_F(Shell, CloseButtonUnloadsAndLeavesNoIcon)
{
    makeShell(true).start();
    window().restoreAction()->trigger();
    EXPECT_TRUE(window().close());
    EXPECT_EQ(unloads, 1);
    EXPECT_FALSE(icon().isVisible());
}

TEST_F(Shell, WithoutTrayTheWindowStaysMinimizedOnTheTaskbar)
{
    makeShell(false);
    ::testing::internal::CaptureStderr();
    shell->start();
    const std::string said = ::testing::internal::GetCapturedStderr();
    EXPECT_NE(said.find("no notification area"), std::string::npos) << said;
    EXPECT_TRUE(window().isVisible());
    EXPECT_TRUE(window().isMinimized());
    EXPECT_EQ(shell->trayIcon().place(), WindowPlace::OnTaskbar);

    window().showNormal();
    EXPECT_EQ(shell->trayIcon().place(), WindowPlace::Shown);
    window().setWindowState(Qt::WindowMinimized);
    EXPECT_TRUE(window().isVisible());
    EXPECT_EQ(shell->trayIcon().place(), WindowPlace::OnTaskbar);
}

TEST_F(Shell, OffscreenDesktopHasNoTraySoTheDefaultTakesTheFallback)
{
    ShellHooks hooks;
    DesktopShell plain(settings, std::move(hooks));
    ::testing::internal::CaptureStderr();
    plain.start();
    ::testing::internal::GetCapturedStderr();
    EXPECT_TRUE(plain.window().isVisible());
    EXPECT_EQ(plain.trayIcon().place(), WindowPlace::OnTaskbar);
}

TEST_F(Shell, RestartAndStatusWordReachTheWindow)
{
    makeShell(true);
    shell->setStatusWord(QStringLiteral("started"));
    shell->start();
    EXPECT_EQ(window().findChild<QLabel*>("Lbl_Status")->text(), "started");
    window().restoreAction()->trigger();
    QTest::mouseClick(window().findChild<QWidget*>("Cmd_Start"), Qt::LeftButton);
    EXPECT_EQ(restarts, 1);
}

TEST_F(Shell, EditsReachTheRecordAtOnce)
{
    makeShell(true).start();
    window().restoreAction()->trigger();
    QTest::keyClicks(window().findChild<QLineEdit*>("Txt_Logfile"), "x");
    EXPECT_EQ(settings.LogFile, "x");
}

} // namespace
} // namespace zelvor
