// SPDX-License-Identifier: MIT
#include "shell/qt/SettingsWindow.h"

#include "shell/SettingsLayout.h"
#include "shell/qt/AboutBox.h"
#include "shell/qt/FileOpenDialog.h"
#include "shell/qt/FolderPicker.h"
#include "shell/qt/Twips.h"

#include <QAction>
#include <QApplication>
#include <QButtonGroup>
#include <QCloseEvent>
#include <QDir>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QValidator>

namespace zelvor {

namespace {

constexpr int kLargestFontPixels = 12;
constexpr int kSmallestFontPixels = 9;

// Settings hold 8-bit text in the system's code page (UTF-8 on Linux).
QString fromBytes(const std::string& bytes)
{
    return QString::fromLocal8Bit(bytes.data(), static_cast<qsizetype>(bytes.size()));
}

std::string toBytes(const QString& text)
{
    return text.toLocal8Bit().toStdString();
}

/** Names the widget and puts it where the shared layout has it, relative to its group. */
void place(QWidget* widget, const layout::Control& control)
{
    widget->setObjectName(latin1(control.name));
    widget->setGeometry(twipsRect(control.place));
}

// A settings value is one line: line breaks typed or pasted into a field (a path copied from a
// terminal often ends with one) are dropped before the field or the record sees them. With a
// byte limit, an edit or a paste that would make the text longer than that many bytes of the
// stored setting is refused; a longer value that was loaded stays as it is.
class SingleLineValidator : public QValidator
{
public:
    SingleLineValidator(std::size_t byteLimit, QObject* parent)
        : QValidator(parent), m_byteLimit(byteLimit)
    {}

    State validate(QString& input, int& pos) const override
    {
        for (qsizetype i = input.size(); i-- > 0;) {
            if (input[i] == u'\r' || input[i] == u'\n') {
                input.remove(i, 1);
                if (i < pos)
                    --pos;
            }
        }
        return toBytes(input).size() <= m_byteLimit ? Acceptable : Invalid;
    }

private:
    std::size_t m_byteLimit;
};

// The program's icon, 16 to 256 pixels; the tray and the About box take it from the window.
QIcon programIcon()
{
    QIcon icon;
    for (const int size : {16, 32, 48, 256})
        icon.addFile(QStringLiteral(":/zelvor/%1x%1/apps/zelvor.png").arg(size), QSize(size, size));
    return icon;
}

} // namespace

SettingsWindow::SettingsWindow(ServerSettings& settings, QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                          Qt::WindowCloseButtonHint),
      m_form(settings, *this)
{
    setObjectName(QStringLiteral("frm_server"));
    setWindowTitle(latin1(layout::kTitle));
    setWindowIcon(programIcon());
    setFixedSize(twipsRect(0, 0, layout::kClientWidth, layout::kClientHeight).size());

    Cdl_Server = new FileOpenDialog(this);
    Cdl_Server->setObjectName(QStringLiteral("Cdl_Server"));
    createControls();
    createPopupMenu();
    setFocusOrder();
    fitFont();
    connectControls();
}

SettingsWindow::~SettingsWindow()
{
    // The About box has no owner, so nothing else would delete it.
    delete frm_About;
}

FolderPicker* SettingsWindow::folderPicker() const
{
    return frm_findfile;
}

AboutBox* SettingsWindow::aboutBox() const
{
    return frm_About;
}

void SettingsWindow::createControls()
{
    // The table lists each group before the controls inside it.
    for (const layout::Control& control : layout::kControls) {
        QWidget* parent = control.group.empty() ? this : findChild<QWidget*>(latin1(control.group));
        const QString caption = latin1(control.caption);
        QWidget* widget = nullptr;
        switch (control.kind) {
        case layout::Kind::Group:
            widget = new QGroupBox(caption, parent);
            break;
        case layout::Kind::Label:
            widget = new QLabel(caption, parent);
            break;
        case layout::Kind::CentredLabel:
            widget = new QLabel(caption, parent);
            static_cast<QLabel*>(widget)->setAlignment(Qt::AlignCenter);
            break;
        case layout::Kind::RightLabel:
            widget = new QLabel(caption, parent);
            static_cast<QLabel*>(widget)->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
            break;
        case layout::Kind::Field: {
            auto* edit = new QLineEdit(caption, parent);
            edit->setValidator(
                new SingleLineValidator(SettingsForm::byteLimit(control.name), edit));
            widget = edit;
            break;
        }
        case layout::Kind::Button:
            widget = new QPushButton(caption, parent);
            break;
        case layout::Kind::Option: {
            const QString group = latin1(layout::optionGroup(control.name));
            auto* options = findChild<QButtonGroup*>(group);
            if (!options) {
                options = new QButtonGroup(this);
                options->setObjectName(group);
            }
            widget = new QRadioButton(caption, parent);
            options->addButton(static_cast<QRadioButton*>(widget),
                               layout::optionIndex(control.name));
            break;
        }
        }
        place(widget, control);
    }
    for (const layout::Control& control : layout::kControls) {
        if (control.kind == layout::Kind::Label && !control.buddy.empty())
            findChild<QLabel*>(latin1(control.name))
                ->setBuddy(findChild<QWidget*>(latin1(control.buddy)));
    }
    findChild<QRadioButton*>(QStringLiteral("Opt_Logging(0)"))->setChecked(true);
    findChild<QRadioButton*>(QStringLiteral("Opt_Login(1)"))->setChecked(true);

    Txt_Port = findChild<QLineEdit*>(QStringLiteral("Txt_Port"));
    Txt_Port->installEventFilter(this);
    Lbl_Status = findChild<QLabel*>(QStringLiteral("Lbl_Status"));
    lbl_restartwarning = findChild<QLabel*>(QStringLiteral("lbl_restartwarning"));
    QPalette palette = lbl_restartwarning->palette();
    palette.setColor(QPalette::WindowText, QColor(layout::kWarningRed, 0, 0));
    lbl_restartwarning->setPalette(palette);
    lbl_restartwarning->hide();
    auto* password = findChild<QLineEdit*>(QStringLiteral("Txt_Passwd"));
    password->setEchoMode(QLineEdit::Password);
    // Styles draw a bullet by default; the window shows a star.
    password->setStyleSheet(QStringLiteral("QLineEdit { lineedit-password-character: 42; }"));
}

void SettingsWindow::createPopupMenu()
{
    mnuRCPopup = new QMenu(this);
    mnuRCPopup->setObjectName(QStringLiteral("mnuRCPopup"));
    mnu_Popup_Restore = mnuRCPopup->addAction(latin1(layout::kRestoreCaption));
    mnu_Popup_Restore->setObjectName(QStringLiteral("mnu_Popup_Restore"));
    mnu_Popup_Exit = mnuRCPopup->addAction(latin1(layout::kShutdownCaption));
    mnu_Popup_Exit->setObjectName(QStringLiteral("mnu_Popup_Exit"));
}

void SettingsWindow::setFocusOrder()
{
    QWidget* previous = nullptr;
    for (const std::string_view name : layout::kFocusOrder) {
        auto* widget = findChild<QWidget*>(latin1(name));
        if (previous && widget)
            setTabOrder(previous, widget);
        previous = widget;
    }
}

void SettingsWindow::fitFont()
{
    // The controls have fixed pixel sizes, so the font has to fit them.
    QFont font = QApplication::font(this);
    for (int pixels = kLargestFontPixels; pixels >= kSmallestFontPixels; --pixels) {
        font.setPixelSize(pixels);
        const QFontMetrics metrics(font);
        const auto width = [&metrics](std::string_view text) {
            return metrics.horizontalAdvance(latin1(text));
        };
        if (captionsFit(width, &twipsToPixels))
            break;
    }
    setFont(font);
}

void SettingsWindow::connectControls()
{
    // Every control reports its event to the form under its own name.
    for (const layout::Control& control : layout::kControls) {
        const std::string name(control.name);
        if (control.kind == layout::Kind::Field) {
            connect(findChild<QLineEdit*>(latin1(name)), &QLineEdit::textChanged, this,
                    [this, name](const QString& text) { m_form.Change(name, toBytes(text)); });
        } else if (control.kind == layout::Kind::Button) {
            connect(findChild<QPushButton*>(latin1(name)), &QPushButton::clicked, this,
                    [this, name] { m_form.Click(name); });
        }
    }
    for (QButtonGroup* options : findChildren<QButtonGroup*>()) {
        connect(options, &QButtonGroup::idToggled, this, [this, options](int index, bool checked) {
            if (checked)
                m_form.Click(
                    QStringLiteral("%1(%2)").arg(options->objectName()).arg(index).toStdString());
        });
    }
}

void SettingsWindow::loadControls()
{
    m_form.load();
}

void SettingsWindow::setStatusWord(const QString& word)
{
    Lbl_Status->setText(word);
}

void SettingsWindow::setFieldText(std::string_view field, const std::string& text)
{
    findChild<QLineEdit*>(latin1(field))->setText(fromBytes(text));
}

void SettingsWindow::checkOption(std::string_view option)
{
    if (auto* button = findChild<QRadioButton*>(latin1(option)))
        button->setChecked(true);
}

void SettingsWindow::showRestartWarning(bool shown)
{
    lbl_restartwarning->setVisible(shown);
}

void SettingsWindow::refuseKey()
{
    QMessageBox box(QMessageBox::Information, latin1(layout::kInvalidKeyTitle),
                    latin1(layout::kInvalidKeyText), QMessageBox::Ok, this);
    box.exec();
}

std::optional<std::string> SettingsWindow::pickFolder()
{
    if (!frm_findfile)
        frm_findfile = new FolderPicker(this);
    frm_findfile->enableOk();
    frm_findfile->exec();
    if (frm_findfile->Response() == latin1(layout::kPickerCancelled))
        return std::nullopt;
    return toBytes(frm_findfile->Response());
}

std::optional<std::string> SettingsWindow::pickFile(std::string_view filter,
                                                    const std::string& startName)
{
    Cdl_Server->Filter = latin1(filter);
    Cdl_Server->FileName = fromBytes(startName);
    if (!Cdl_Server->ShowOpen(this))
        return std::nullopt;
    return toBytes(QDir::toNativeSeparators(Cdl_Server->FileName));
}

void SettingsWindow::showAbout()
{
    if (!frm_About)
        frm_About = new AboutBox(windowIcon());
    frm_About->showCentred();
}

void SettingsWindow::changeEvent(QEvent* event)
{
    QWidget::changeEvent(event);
    if (event->type() == QEvent::WindowStateChange)
        Form_Resize();
}

void SettingsWindow::Form_Resize()
{
    if (isMinimized())
        emit minimized();
    else
        emit unminimized();
}

void SettingsWindow::closeEvent(QCloseEvent* event)
{
    Form_Unload();
    event->accept();
}

void SettingsWindow::Form_Unload()
{
    if (m_unloaded)
        return;
    m_unloaded = true;
    if (m_unloadHook)
        m_unloadHook();
    if (frm_About)
        frm_About->close();
    if (frm_findfile)
        frm_findfile->hide();
}

bool SettingsWindow::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == Txt_Port && event->type() == QEvent::KeyPress)
        return Txt_Port_KeyPress(static_cast<QKeyEvent*>(event));
    return QWidget::eventFilter(watched, event);
}

bool SettingsWindow::focusNextPrevChild(bool next)
{
    // As on Windows, an option group is one tab stop: its selected option.
    auto isTabStop = [this](QWidget* widget) {
        if (!(widget->focusPolicy() & Qt::TabFocus) || !widget->isVisibleTo(this) ||
            !widget->isEnabled() || !isAncestorOf(widget))
            return false;
        const auto* option = qobject_cast<QAbstractButton*>(widget);
        return !option || !option->group() || option->isChecked() ||
               !option->group()->checkedButton();
    };
    QWidget* start = focusWidget() ? focusWidget() : this;
    QWidget* widget = start;
    do {
        widget = next ? widget->nextInFocusChain() : widget->previousInFocusChain();
        if (isTabStop(widget)) {
            widget->setFocus(next ? Qt::TabFocusReason : Qt::BacktabFocusReason);
            return true;
        }
    } while (widget != start);
    return false;
}

bool SettingsWindow::Txt_Port_KeyPress(QKeyEvent* event)
{
    const QString text = event->text();
    // Delete, the arrows and the like type no character: they edit without the filter.
    if (text.isEmpty() || event->key() == Qt::Key_Delete)
        return false;
    // Tab moves the focus; the window handles it after this filter has seen it.
    const bool chord = event->modifiers() & (Qt::ControlModifier | Qt::AltModifier);
    if (!chord && (event->key() == Qt::Key_Tab || event->key() == Qt::Key_Backtab))
        return false;
    const char16_t typed = text.size() == 1 ? text.front().unicode() : char16_t{0};
    return !m_form.Txt_Port_KeyPress(typed);
}

} // namespace zelvor
