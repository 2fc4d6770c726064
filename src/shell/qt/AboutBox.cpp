// SPDX-License-Identifier: MIT
#include "shell/qt/AboutBox.h"

#include "shell/SettingsLayout.h"
#include "shell/qt/Twips.h"

#include <QFrame>
#include <QGuiApplication>
#include <QIcon>
#include <QKeyEvent>
#include <QLabel>
#include <QScreen>

namespace zelvor {

namespace {

QLabel* makeLabel(QWidget* parent, const char* name, const QRect& geometry)
{
    auto* label = new QLabel(parent);
    label->setObjectName(QString::fromLatin1(name));
    label->setGeometry(geometry);
    return label;
}

void makeLine(QWidget* parent, const char* name, const QRect& geometry)
{
    auto* line = new QFrame(parent);
    line->setObjectName(QString::fromLatin1(name));
    line->setGeometry(geometry);
    line->setAutoFillBackground(true);
    QPalette palette = line->palette();
    palette.setColor(QPalette::Window, QColor(128, 128, 128));
    line->setPalette(palette);
}

} // namespace

AboutBox::AboutBox(const QIcon& icon) : QWidget(nullptr, Qt::Window | Qt::FramelessWindowHint)
{
    setObjectName(QStringLiteral("frm_About"));
    setAttribute(Qt::WA_DeleteOnClose);
    setFocusPolicy(Qt::StrongFocus);
    const QRect whole = twipsRect(0, 0, layout::kAboutWidth, layout::kAboutHeight);
    setFixedSize(whole.size());

    QPalette palette = this->palette();
    palette.setColor(QPalette::Window, Qt::white);
    palette.setColor(QPalette::WindowText, Qt::black);
    setPalette(palette);
    setAutoFillBackground(true);

    auto* fra_about = new QFrame(this);
    fra_about->setObjectName(QStringLiteral("fra_about"));
    fra_about->setGeometry(whole);
    // Everything below lies on the panel; clicks on the labels and the icon fall through to
    // the box, which closes.
    makeLabel(fra_about, "lbl_none", whole);
    auto* pic_icon = makeLabel(fra_about, "pic_icon", twipsRect(180, 180, 1155, 975));
    pic_icon->setAlignment(Qt::AlignCenter);
    auto* lbl_title = makeLabel(fra_about, "lbl_title", twipsRect(layout::kAboutTitlePlace));
    lbl_title->setAlignment(Qt::AlignCenter);
    QFont titleFont = lbl_title->font();
    titleFont.setBold(true);
    titleFont.setPixelSize(15);
    lbl_title->setFont(titleFont);
    auto* lbl_version = makeLabel(fra_about, "lbl_version", twipsRect(layout::kAboutVersionPlace));
    lbl_version->setAlignment(Qt::AlignCenter);
    auto* lbl_copyright =
        makeLabel(fra_about, "lbl_copyright", twipsRect(layout::kAboutNoticePlace));
    lbl_copyright->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    lbl_copyright->setWordWrap(true);

    makeLine(fra_about, "Line1", QRect(0, 0, whole.width(), 1));
    makeLine(fra_about, "Line2", QRect(0, whole.height() - 1, whole.width(), 1));
    makeLine(fra_about, "Line3", QRect(0, 0, 1, whole.height()));
    makeLine(fra_about, "Line4", QRect(whole.width() - 1, 0, 1, whole.height()));

    Form_Load(icon);
}

void AboutBox::Form_Load(const QIcon& icon)
{
    findChild<QLabel*>(QStringLiteral("pic_icon"))->setPixmap(icon.pixmap(48, 48));
    findChild<QLabel*>(QStringLiteral("lbl_title"))->setText(latin1(layout::kAboutTitle));
    findChild<QLabel*>(QStringLiteral("lbl_version"))
        ->setText(QString::fromStdString(layout::aboutVersionLine()));
    findChild<QLabel*>(QStringLiteral("lbl_copyright"))->setText(latin1(layout::kAboutNotice));
}

void AboutBox::showCentred()
{
    if (const QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
    show();
    raise();
    activateWindow();
    setFocus();
}

void AboutBox::mousePressEvent(QMouseEvent*)
{
    close();
}

void AboutBox::keyPressEvent(QKeyEvent* event)
{
    // Shift or Control alone is the start of a key, not a key of its own.
    switch (event->key()) {
    case Qt::Key_Shift:
    case Qt::Key_Control:
    case Qt::Key_Alt:
    case Qt::Key_AltGr:
    case Qt::Key_Meta:
        return;
    default:
        close();
    }
}

} // namespace zelvor
