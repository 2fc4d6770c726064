// SPDX-License-Identifier: MIT
#include "shell/qt/SettingsWindow.h"

#include "shell/qt/AboutBox.h"
#include "shell/qt/FileOpenDialog.h"
#include "shell/qt/FolderPicker.h"
#include "shell/NumericKeyFilter.h"
#include "shell/SettingsLayout.h"
#include "shell/qt/Twips.h"
#include "server/TelnetSession.h"

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

#include <limits>

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

QString latin1(std::string_view text)
{
    return QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
}

QString captionOf(std::string_view name)
{
    return latin1(layout::control(name).caption);
}

/** Names the widget and puts it where the shared layout has it, relative to its group. */
template <typename Widget> Widget* place(Widget* widget, std::string_view name)
{
    const layout::Twips at = layout::control(name).place;
    widget->setObjectName(latin1(name));
    widget->setGeometry(twipsRect(at.left, at.top, at.width, at.height));
    return widget;
}

QLabel* label(QWidget* parent, std::string_view name)
{
    return place(new QLabel(captionOf(name), parent), name);
}

QPushButton* button(QWidget* parent, std::string_view name)
{
    return place(new QPushButton(captionOf(name), parent), name);
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

QLineEdit* field(QWidget* parent, std::string_view name,
                 std::size_t byteLimit = std::numeric_limits<std::size_t>::max())
{
    auto* edit = place(new QLineEdit(parent), name);
    edit->setValidator(new SingleLineValidator(byteLimit, edit));
    return edit;
}

QGroupBox* group(QWidget* parent, std::string_view name)
{
    return place(new QGroupBox(captionOf(name), parent), name);
}

void option(QButtonGroup* options, QWidget* parent, int index)
{
    const std::string name =
        QStringLiteral("%1(%2)").arg(options->objectName()).arg(index).toStdString();
    auto* radio = place(new QRadioButton(captionOf(name), parent), name);
    options->addButton(radio, index);
}

QString withoutAccessKey(QString caption)
{
    return caption.remove(QLatin1Char('&'));
}

// The program's icon, 16 to 256 pixels; the tray and the About box take it from the window.
QIcon programIcon()
{
    QIcon icon;
    for (const int size : {16, 32, 48, 256})
        icon.addFile(QStringLiteral(":/zelvor/%1x%1/apps/zelvor.png").arg(size), QSize(size, size));
    return icon;
}

} // namespace

char16_t FilterNumericKey(char16_t key, bool allowBackspace, bool allowEnter,
                          bool allowDecimalPoint, bool allowMathSigns, QWidget* parent)
{
    const NumericKeySwitches switches{allowBackspace, allowEnter, allowDecimalPoint,
                                      allowMathSigns};
    switch (classifyNumericKey(key, switches)) {
    case KeyVerdict::Pass:
        return key;
    case KeyVerdict::Drop:
        return 0;
    case KeyVerdict::Refuse:
        break;
    }
    QMessageBox box(QMessageBox::Information, latin1(layout::kInvalidKeyTitle),
                    latin1(layout::kInvalidKeyText), QMessageBox::Ok, parent);
    box.exec();
    return 0;
}

SettingsWindow::SettingsWindow(ServerSettings& settings, QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                          Qt::WindowCloseButtonHint),
      m_settings(settings)
{
    setObjectName(QStringLiteral("frm_server"));
    setWindowTitle(latin1(layout::kTitle));
    setWindowIcon(programIcon());
    setFixedSize(twipsRect(0, 0, layout::kClientWidth, layout::kClientHeight).size());

    Cdl_Server = new FileOpenDialog(this);
    Cdl_Server->setObjectName(QStringLiteral("Cdl_Server"));
    createServerGroup();
    createStatusGroup();
    cmd_About = button(this, "cmd_About");
    connect(cmd_About, &QPushButton::clicked, this, &SettingsWindow::cmd_About_Click);
    createLoggingGroup();
    createUsersGroup();
    createPopupMenu();
    setFocusOrder();
    fitFont();
    connectRecord();
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

void SettingsWindow::createServerGroup()
{
    frm_serverinfo = group(this, "frm_serverinfo");
    auto* box = frm_serverinfo;
    auto* portLabel = label(box, "lbl_server_port");
    Txt_Port = field(box, "Txt_Port");
    Txt_Port->setText(captionOf("Txt_Port"));
    Txt_Port->installEventFilter(this);
    portLabel->setBuddy(Txt_Port);
    auto* rootLabel = label(box, "lbl_rootfolder");
    Txt_Serverroot = field(box, "Txt_Serverroot");
    rootLabel->setBuddy(Txt_Serverroot);
    Cmd_svrroot_browse = button(box, "Cmd_svrroot_browse");
    auto* playerLabel = label(box, "lbl_winamp_location");
    Txt_Winamp_Location = field(box, "Txt_Winamp_Location");
    playerLabel->setBuddy(Txt_Winamp_Location);
    Cmd_WinampLoc_Browse = button(box, "Cmd_WinampLoc_Browse");
    lbl_restartwarning = label(box, "lbl_restartwarning");
    lbl_restartwarning->setAlignment(Qt::AlignCenter);
    QPalette palette = lbl_restartwarning->palette();
    palette.setColor(QPalette::WindowText, QColor(layout::kWarningRed, 0, 0));
    lbl_restartwarning->setPalette(palette);
    lbl_restartwarning->hide();
    Cmd_Start = button(box, "Cmd_Start");

    connect(Cmd_Start, &QPushButton::clicked, this, &SettingsWindow::Cmd_Start_Click);
    connect(Cmd_svrroot_browse, &QPushButton::clicked, this,
            &SettingsWindow::Cmd_svrroot_browse_Click);
    connect(Cmd_WinampLoc_Browse, &QPushButton::clicked, this,
            &SettingsWindow::Cmd_WinampLoc_Browse_Click);
}

void SettingsWindow::createStatusGroup()
{
    frm_Status = group(this, "frm_Status");
    Lbl_Status = label(frm_Status, "Lbl_Status");
    Lbl_Status->setAlignment(Qt::AlignCenter);
}

void SettingsWindow::createLoggingGroup()
{
    frm_logging = group(this, "frm_logging");
    Opt_Logging = new QButtonGroup(this);
    Opt_Logging->setObjectName(QStringLiteral("Opt_Logging"));
    for (int index = 0; index < 3; ++index)
        option(Opt_Logging, frm_logging, index);
    Opt_Logging->button(0)->setChecked(true);
    Txt_Logfile = field(frm_logging, "Txt_Logfile");
    Cmd_Log_Browse = button(frm_logging, "Cmd_Log_Browse");
    connect(Cmd_Log_Browse, &QPushButton::clicked, this, &SettingsWindow::Cmd_Log_Browse_Click);
}

void SettingsWindow::createUsersGroup()
{
    frm_users = group(this, "frm_users");
    Opt_Login = new QButtonGroup(this);
    Opt_Login->setObjectName(QStringLiteral("Opt_Login"));
    option(Opt_Login, frm_users, 0);
    option(Opt_Login, frm_users, 1);
    Opt_Login->button(1)->setChecked(true);
    label(frm_users, "Label1")->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    // Credentials longer than a client's input line could be stored but never typed.
    Txt_Uname = field(frm_users, "Txt_Uname", kMaxLineLength);
    label(frm_users, "lbl_passwd")->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    Txt_Passwd = field(frm_users, "Txt_Passwd", kMaxLineLength);
    Txt_Passwd->setEchoMode(QLineEdit::Password);
    // Styles draw a bullet by default; the window shows a star.
    Txt_Passwd->setStyleSheet(QStringLiteral("QLineEdit { lineedit-password-character: 42; }"));
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
    // The controls have fixed pixel sizes, so the font has to fit them: no caption may run
    // under the field it names or past the edges of its button.
    QFont font = QApplication::font(this);
    for (int pixels = kLargestFontPixels; pixels >= kSmallestFontPixels; --pixels) {
        font.setPixelSize(pixels);
        const QFontMetrics metrics(font);
        bool fits = true;
        for (const QLabel* caption : findChildren<QLabel*>()) {
            if (const QWidget* buddy = caption->buddy())
                fits = fits && metrics.horizontalAdvance(withoutAccessKey(caption->text())) <
                                   buddy->x() - caption->x();
        }
        for (const QPushButton* push : findChildren<QPushButton*>())
            fits = fits &&
                   metrics.horizontalAdvance(withoutAccessKey(push->text())) + 6 <= push->width();
        if (fits)
            break;
    }
    setFont(font);
}

void SettingsWindow::connectRecord()
{
    connect(Txt_Port, &QLineEdit::textChanged, this,
            [this](const QString& text) { store(m_settings.Port, text); });
    connect(Txt_Serverroot, &QLineEdit::textChanged, this, &SettingsWindow::Txt_Serverroot_Change);
    connect(Txt_Winamp_Location, &QLineEdit::textChanged, this,
            &SettingsWindow::Txt_Winamp_Location_Change);
    connect(Txt_Logfile, &QLineEdit::textChanged, this, &SettingsWindow::Txt_Logfile_Change);
    // User name and password are read at every login: editing them needs no restart.
    connect(Txt_Uname, &QLineEdit::textChanged, this,
            [this](const QString& text) { store(m_settings.UserName, text); });
    connect(Txt_Passwd, &QLineEdit::textChanged, this,
            [this](const QString& text) { store(m_settings.Password, text); });
    connect(Opt_Logging, &QButtonGroup::idToggled, this, [this](int index, bool checked) {
        if (checked)
            Opt_Logging_Click(index);
    });
    connect(Opt_Login, &QButtonGroup::idToggled, this, [this](int index, bool checked) {
        if (checked)
            Opt_Login_Click(index);
    });
}

void SettingsWindow::store(std::string& field, const QString& text)
{
    // While loading, the record already holds the value, byte for byte.
    if (!m_loading)
        field = toBytes(text);
}

void SettingsWindow::Txt_Serverroot_Change(const QString& text)
{
    store(m_settings.ServerRoot, text);
    showRestartWarning();
}

void SettingsWindow::Txt_Winamp_Location_Change(const QString& text)
{
    store(m_settings.WinampLocation, text);
    showRestartWarning();
}

void SettingsWindow::Txt_Logfile_Change(const QString& text)
{
    store(m_settings.LogFile, text);
    showRestartWarning();
}

void SettingsWindow::Opt_Logging_Click(int index)
{
    m_settings.LogLevel = static_cast<LogLevel>(index);
    showRestartWarning();
}

void SettingsWindow::Opt_Login_Click(int index)
{
    m_settings.LoginRequired = index == 1;
    showRestartWarning();
}

void SettingsWindow::loadControls()
{
    m_loading = true;
    Txt_Port->setText(fromBytes(m_settings.Port));
    Txt_Serverroot->setText(fromBytes(m_settings.ServerRoot));
    Txt_Winamp_Location->setText(fromBytes(m_settings.WinampLocation));
    if (auto* level = Opt_Logging->button(static_cast<int>(m_settings.LogLevel)))
        level->setChecked(true);
    Opt_Login->button(m_settings.LoginRequired ? 1 : 0)->setChecked(true);
    Txt_Logfile->setText(fromBytes(m_settings.LogFile));
    Txt_Uname->setText(fromBytes(m_settings.UserName));
    Txt_Passwd->setText(fromBytes(m_settings.Password));
    m_loading = false;
    // Loading is no change of the user's.
    lbl_restartwarning->hide();
}

void SettingsWindow::setStatusWord(const QString& word)
{
    Lbl_Status->setText(word);
}

void SettingsWindow::showRestartWarning()
{
    lbl_restartwarning->show();
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
    const char16_t result = FilterNumericKey(typed, true, false, false, false, this);
    showRestartWarning();
    return result == 0;
}

void SettingsWindow::Cmd_Start_Click()
{
    lbl_restartwarning->hide();
    if (m_restartHook)
        m_restartHook();
}

void SettingsWindow::Cmd_svrroot_browse_Click()
{
    if (!frm_findfile)
        frm_findfile = new FolderPicker(this);
    frm_findfile->enableOk();
    frm_findfile->exec();
    if (frm_findfile->Response() != QStringLiteral("-1"))
        Txt_Serverroot->setText(frm_findfile->Response());
}

void SettingsWindow::Cmd_WinampLoc_Browse_Click()
{
    // The file name is kept: the dialog starts at whatever either button chose last.
    Cdl_Server->Filter = latin1(layout::kPlayerFilter);
    if (Cdl_Server->ShowOpen(this))
        Txt_Winamp_Location->setText(QDir::toNativeSeparators(Cdl_Server->FileName));
}

void SettingsWindow::Cmd_Log_Browse_Click()
{
    Cdl_Server->FileName.clear();
    Cdl_Server->Filter = latin1(layout::kLogFilter);
    if (Cdl_Server->ShowOpen(this))
        Txt_Logfile->setText(QDir::toNativeSeparators(Cdl_Server->FileName));
}

void SettingsWindow::cmd_About_Click()
{
    if (!frm_About)
        frm_About = new AboutBox(windowIcon());
    frm_About->showCentred();
}

} // namespace zelvor
