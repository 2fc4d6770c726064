// SPDX-License-Identifier: MIT
#include "WindowFixture.h"

#include "shell/AboutBox.h"

#include <QApplication>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>

namespace zelvor {
namespace {

class About : public test::WindowFixture
{
protected:
    AboutBox* open()
    {
        QTest::mouseClick(child<QPushButton>("cmd_About"), Qt::LeftButton);
        return window.aboutBox();
    }

    QString text(AboutBox* box, const char* label)
    {
        return box->findChild<QLabel*>(QString::fromLatin1(label))->text();
    }

    static bool gone(const QPointer<AboutBox>& box)
    {
        return QTest::qWaitFor([&] { return box.isNull(); });
    }

    static int openBoxes()
    {
        int count = 0;
        for (const QWidget* widget : QApplication::topLevelWidgets())
            count += widget->objectName() == "frm_About" ? 1 : 0;
        return count;
    }
};

TEST_F(About, ShowsNameVersionAndNotice)
{
    AboutBox* box = open();
    ASSERT_NE(box, nullptr);
    EXPECT_TRUE(box->isVisible());
    EXPECT_EQ(text(box, "lbl_title"), "Zelvor");
    EXPECT_EQ(text(box, "lbl_version"), "Version: 1.0.7");
    EXPECT_GT(text(box, "lbl_copyright").size(), 40);
    EXPECT_FALSE(box->findChild<QLabel*>("pic_icon")->pixmap().isNull());
    EXPECT_EQ(box->size(), QSize(377, 221));
    EXPECT_TRUE(box->windowFlags() & Qt::FramelessWindowHint);
    EXPECT_EQ(box->palette().color(QPalette::Window), QColor(Qt::white));
}

TEST_F(About, IsNonModalWithoutOwner)
{
    AboutBox* box = open();
    EXPECT_EQ(box->parentWidget(), nullptr);
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
    QTest::keyClicks(child<QLineEdit>("Txt_Uname"), "x");
    EXPECT_EQ(settings.UserName, "userx");
    EXPECT_TRUE(box->isVisible());
}

TEST_F(About, SecondClickShowsTheSameBox)
{
    AboutBox* first = open();
    EXPECT_EQ(open(), first);
    EXPECT_EQ(openBoxes(), 1);
}

TEST_F(About, AnyKeyClosesButAModifierAloneDoesNot)
{
    QPointer<AboutBox> box = open();
    QTest::keyClick(box.data(), Qt::Key_Shift);
    EXPECT_TRUE(box && box->isVisible());
    QTest::keyClick(box.data(), Qt::Key_Q);
    EXPECT_TRUE(gone(box));
    EXPECT_EQ(window.aboutBox(), nullptr);
}

TEST_F(About, ClickOnIconOrTextCloses)
{
    for (const char* target : {"pic_icon", "lbl_copyright", "lbl_none"}) {
        QPointer<AboutBox> box = open();
        QTest::mouseClick(box->findChild<QWidget*>(QString::fromLatin1(target)), Qt::LeftButton);
        EXPECT_TRUE(gone(box)) << target;
    }
}

TEST_F(About, ReopenedBoxShowsTheSameTexts)
{
    QPointer<AboutBox> first = open();
    const QString notice = text(first, "lbl_copyright");
    first->close();
    ASSERT_TRUE(gone(first));
    AboutBox* second = open();
    EXPECT_EQ(text(second, "lbl_version"), "Version: 1.0.7");
    EXPECT_EQ(text(second, "lbl_copyright"), notice);
}

TEST_F(About, ClosingTheSettingsWindowTakesTheBoxAlong)
{
    QPointer<AboutBox> box = open();
    window.close();
    EXPECT_TRUE(gone(box));
}

} // namespace
} // namespace zelvor
