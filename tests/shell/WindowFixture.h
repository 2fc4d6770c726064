// SPDX-License-Identifier: MIT
#pragma once

#include "settings/ServerSettings.h"
#include "shell/qt/SettingsWindow.h"

#include <QLabel>
#include <QStringList>
#include <QTest>

#include <gtest/gtest.h>

#include <ostream>

// GoogleTest prints Qt strings as text rather than as arrays of 16-bit units.
inline void PrintTo(const QString& text, std::ostream* out)
{
    *out << '"' << text.toStdString() << '"';
}

inline void PrintTo(const QStringList& list, std::ostream* out)
{
    *out << '"' << list.join(QStringLiteral("\", \"")).toStdString() << '"';
}

namespace zelvor::test {

/** A settings window over a fresh record, loaded and shown on the offscreen screen. */
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

    void click(const char* name) { QTest::mouseClick(child(name), Qt::LeftButton); }

    /** Clicks an option button on its circle, where a click selects it. */
    void clickOption(const char* name)
    {
        QTest::mouseClick(child(name), Qt::LeftButton, {}, QPoint(6, child(name)->height() / 2));
    }

    bool warningShown() { return child<QLabel>("lbl_restartwarning")->isVisible(); }

    ServerSettings settings;
    SettingsWindow window{settings};
};

} // namespace zelvor::test
