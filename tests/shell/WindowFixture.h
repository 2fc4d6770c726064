// SPDX-License-Identifier: MIT
#pragma once

#include "QtPrinters.h"

#include "settings/ServerSettings.h"
#include "shell/SettingsWindow.h"

#include <QLabel>
#include <QTest>

#include <gtest/gtest.h>

namespace zelvor::test {

/** A settings window over a fresh record, shown on the offscreen screen. */
class WindowFixture : public ::testing::Test
{
protected:
    void SetUp() override
    {
        window.loadControls();
        window.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    }

    template <typename Widget = QWidget> Widget* child(const char* name)
    {
        auto* widget = window.findChild<Widget*>(QString::fromLatin1(name));
        EXPECT_NE(widget, nullptr) << name;
        return widget;
    }

    /** Clicks an option button on its circle, where a click selects it. */
    void clickOption(const char* name)
    {
        auto* option = child(name);
        QTest::mouseClick(option, Qt::LeftButton, {}, QPoint(6, option->height() / 2));
    }

    bool warningShown() { return child<QLabel>("lbl_restartwarning")->isVisible(); }

    ServerSettings settings;
    SettingsWindow window{settings};
};

} // namespace zelvor::test
