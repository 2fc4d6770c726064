// SPDX-License-Identifier: MIT
#pragma once

#include "settings/ServerSettings.h"

#include <QPointer>
#include <QWidget>

#include <functional>

class QAction;
class QButtonGroup;
class QGroupBox;
class QIcon;
class QLabel;
class QLineEdit;
class QMenu;
class QPushButton;

namespace zelvor {

class AboutBox;
class FileOpenDialog;
class FolderPicker;

/**
 * Shows a typed key to a numeric field's filter. Returns the key when it may go in, or 0 when
 * it is discarded. A key outside every switch is refused with the modal message "Please enter
 * in only a number" (owned by parent); the function returns once that box is closed.
 */
char16_t FilterNumericKey(char16_t key, bool allowBackspace, bool allowEnter,
                          bool allowDecimalPoint, bool allowMathSigns, QWidget* parent);

/**
 * frm_server, the settings window "Tollomere". Its controls are the live settings: every edit
 * goes into the ServerSettings record at once. Each widget's objectName is its control name;
 * the option groups are QButtonGroups "Opt_Logging" and "Opt_Login" whose buttons are named
 * "Opt_Logging(0)" and so on, with the button id as index.
 */
class SettingsWindow : public QWidget
{
    Q_OBJECT
public:
    explicit SettingsWindow(ServerSettings& settings, QWidget* parent = nullptr);
    ~SettingsWindow() override;

    /**
     * Puts the record into the controls, field by field in the settings file's order; like a
     * user's edits this shows the restart warning, so the warning is hidden again at the end.
     */
    void loadControls();
    /** Runs on "&Restart" after the warning is hidden: ends any session, listens again. */
    void setRestartHook(std::function<void()> hook) { m_restartHook = std::move(hook); }
    /** Runs once when the window unloads (close button or "&Shutdown"). */
    void setUnloadHook(std::function<void()> hook) { m_unloadHook = std::move(hook); }

    /** mnuRCPopup, the tray menu: "&Restore" (mnu_Popup_Restore) and "&Shutdown" (mnu_Popup_Exit).
     */
    QMenu* popupMenu() const { return mnuRCPopup; }
    QAction* restoreAction() const { return mnu_Popup_Restore; }
    QAction* shutdownAction() const { return mnu_Popup_Exit; }
    /** The folder picker, or null before the first server root Browse. */
    FolderPicker* folderPicker() const;
    /** The About box while it is open, else null. */
    AboutBox* aboutBox() const;

public slots:
    /** Shows the latest activity word in Lbl_Status. */
    void setStatusWord(const QString& word);

signals:
    /** The window became minimized (Form_Resize). */
    void minimized();
    /** The window left the minimized state. */
    void unminimized();

protected:
    void changeEvent(QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    bool focusNextPrevChild(bool next) override;

private:
    void createServerGroup();
    void createStatusGroup();
    void createLoggingGroup();
    void createUsersGroup();
    void createPopupMenu();
    void setFocusOrder();
    void connectRecord();
    void fitFont();
    void showRestartWarning();
    void store(std::string& field, const QString& text);

    void Txt_Serverroot_Change(const QString& text);
    void Txt_Winamp_Location_Change(const QString& text);
    void Txt_Logfile_Change(const QString& text);
    void Opt_Logging_Click(int index);
    void Opt_Login_Click(int index);

    void Form_Resize();
    void Form_Unload();
    bool Txt_Port_KeyPress(QKeyEvent* event);
    void Cmd_Start_Click();
    void Cmd_svrroot_browse_Click();
    void Cmd_WinampLoc_Browse_Click();
    void Cmd_Log_Browse_Click();
    void cmd_About_Click();

    ServerSettings& m_settings;
    std::function<void()> m_restartHook;
    std::function<void()> m_unloadHook;
    bool m_loading = false;
    bool m_unloaded = false;

    QGroupBox* frm_serverinfo = nullptr;
    QGroupBox* frm_Status = nullptr;
    QGroupBox* frm_logging = nullptr;
    QGroupBox* frm_users = nullptr;
    QLineEdit* Txt_Port = nullptr;
    QLineEdit* Txt_Serverroot = nullptr;
    QLineEdit* Txt_Winamp_Location = nullptr;
    QLineEdit* Txt_Logfile = nullptr;
    QLineEdit* Txt_Uname = nullptr;
    QLineEdit* Txt_Passwd = nullptr;
    QButtonGroup* Opt_Logging = nullptr;
    QButtonGroup* Opt_Login = nullptr;
    QLabel* Lbl_Status = nullptr;
    QLabel* lbl_restartwarning = nullptr;
    QPushButton* Cmd_Start = nullptr;
    QPushButton* Cmd_svrroot_browse = nullptr;
    QPushButton* Cmd_WinampLoc_Browse = nullptr;
    QPushButton* Cmd_Log_Browse = nullptr;
    QPushButton* cmd_About = nullptr;
    FileOpenDialog* Cdl_Server = nullptr;
    QMenu* mnuRCPopup = nullptr;
    QAction* mnu_Popup_Restore = nullptr;
    QAction* mnu_Popup_Exit = nullptr;
    QPointer<FolderPicker> frm_findfile;
    QPointer<AboutBox> frm_About;
};

} // namespace zelvor
