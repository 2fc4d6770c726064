// SPDX-License-Identifier: MIT
#pragma once

#include "settings/ServerSettings.h"
#include "shell/SettingsForm.h"

#include <QPointer>
#include <QWidget>

#include <functional>

class QAction;
class QLabel;
class QLineEdit;
class QMenu;

namespace zelvor {

class AboutBox;
class FileOpenDialog;
class FolderPicker;

/**
 * frm_server, the settings window "Tollomere": the Qt view of the settings form, whose
 * controls are the live settings. Each widget's objectName is its control name; the option
 * groups are QButtonGroups "Opt_Logging" and "Opt_Login" whose buttons are named
 * "Opt_Logging(0)" and so on, with the button id as index.
 */
class SettingsWindow : public QWidget, private SettingsView
{
    Q_OBJECT
public:
    explicit SettingsWindow(ServerSettings& settings, QWidget* parent = nullptr);
    ~SettingsWindow() override;

    /**
     * Puts the record into the controls, field by field in the settings file's order; loading is
     * no edit, so the record is left as it is and the restart warning ends hidden.
     */
    void loadControls();
    /** Runs on "&Restart" after the warning is hidden: ends any session, listens again. */
    void setRestartHook(std::function<void()> hook) { m_form.restart = std::move(hook); }
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
    void createControls();
    void createPopupMenu();
    void setFocusOrder();
    void connectControls();
    void fitFont();

    void setFieldText(std::string_view field, const std::string& text) override;
    void checkOption(std::string_view option) override;
    void showRestartWarning(bool shown) override;
    void refuseKey() override;
    std::optional<std::string> pickFolder() override;
    std::optional<std::string> pickFile(std::string_view filter,
                                        const std::string& startName) override;
    void showAbout() override;

    void Form_Resize();
    void Form_Unload();
    bool Txt_Port_KeyPress(QKeyEvent* event);

    SettingsForm m_form;
    std::function<void()> m_unloadHook;
    bool m_unloaded = false;

    QLineEdit* Txt_Port = nullptr;
    QLabel* Lbl_Status = nullptr;
    QLabel* lbl_restartwarning = nullptr;
    FileOpenDialog* Cdl_Server = nullptr;
    QMenu* mnuRCPopup = nullptr;
    QAction* mnu_Popup_Restore = nullptr;
    QAction* mnu_Popup_Exit = nullptr;
    QPointer<FolderPicker> frm_findfile;
    QPointer<AboutBox> frm_About;
};

} // namespace zelvor
