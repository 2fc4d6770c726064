// SPDX-License-Identifier: MIT
#include "WindowFixture.h"

#include "shell/qt/AboutBox.h"

#include <QApplication>
#include <QLineEdit>
#include <QPointer>

namespace zelvor {
namespace {

class About : public test::WindowFixture
{
protected:
    AboutBox* open()
    {
        click("cmd_About");
        return window.aboutBox();
    }

    static QString text(AboutBox* box, const char* label)
    {
        return box->findChild<QLabel*>(QString::fromLatin1(label))->text();
    }

    static bool gone(const QPointer<AboutBox>& box)
    {
        return QTest::qWaitFor([&] { return box.isNull(); });
    }
};

TEST_F(About, ShowsNameVersionAndNoticeWithoutOwnerOrModality)
{
    AboutBox* box = open();
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(text(box, "lbl_title"), "Zelvor");
    EXPECT_EQ(text(box, "lbl_version"), "Version: 1.0.7");
    EXPECT_GT(text(box, "lbl_copyright").size(), 40);
    EXPECT_FALSE(box->findChild<QLabel*>("pic_icon")->pixmap().isNull());
    EXPECT_EQ(box->size(), QSize(377, 221));
    EXPECT_EQ(box->parentWidget(), nullptr);
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
    QTest::keyClicks(child<QLineEdit>("Txt_Uname"), "x");
    EXPECT_EQ(settings.UserName, "userx") << "the settings window stays usable";
    EXPECT_EQ(open(), box) << "one box at a time";
}

TEST_F(About, AnyKeyButAModifierAloneCloses)
{
    QPointer<AboutBox> box = open();
    QTest::keyClick(box.data(), Qt::Key_Shift);
    EXPECT_TRUE(box && box->isVisible());
    QTest::keyClick(box.data(), Qt::Key_Q);
    EXPECT_TRUE(gone(box));
    EXPECT_EQ(window.aboutBox(), nullptr);
}

TEST_F(About, ClickOnIconTextOrBackgroundClosesAndReopeningShowsTheSame)
{
    QString notice;
    for (const char* target : {"pic_icon", "lbl_copyright", "lbl_none"}) {
        QPointer<AboutBox> box = open();
        EXPECT_TRUE(notice.isEmpty() || text(box, "lbl_copyright") == notice);
        notice = text(box, "lbl_copyright");
        QTest::mouseClick(box->findChild<QWidget*>(QString::fromLatin1(target)), Qt::LeftButton);
        EXPECT_TRUE(gone(box)) << target;
    }
}

TEST_F(About, ClosingTheSettingsWindowTakesTheBoxAlong)
{
    QPointer<AboutBox> box = open();
    window.close();
    EXPECT_TRUE(gone(box));
}

} // namespace
} // namespace zelvor
