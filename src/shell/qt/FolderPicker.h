// SPDX-License-Identifier: MIT
#pragma once

#include <QDialog>
#include <QString>

class QComboBox;
class QLabel;
class QPushButton;
class QTreeWidget;
class QTreeWidgetItem;

namespace zelvor {

/**
 * frm_findfile, the modal folder picker behind the server root's Browse button. It is kept
 * hidden between uses, so it opens again where the user left it.
 */
class FolderPicker : public QDialog
{
    Q_OBJECT
public:
    /** Starts at the process's current folder. */
    explicit FolderPicker(QWidget* owner);

    /**
     * After OK the full path of the current folder (with native separators; a drive root ends
     * with its separator, any other folder does not); after Cancel or closing the window, "-1".
     * Empty before the first use.
     */
    const QString& Response() const { return m_response; }
    /** The folder whose subfolders are listed: the one last opened or reached by a drive. */
    const QString& currentPath() const { return m_path; }
    /** Makes path the current folder, with its drive chosen in the drive list. */
    void setCurrentPath(const QString& path);
    void enableOk();

    void accept() override;
    /** Cancel, Escape and the window's close button all answer "-1". */
    void reject() override;

protected:
    /** Lists the drives afresh: a volume may have come or gone since the last use. */
    void showEvent(QShowEvent* event) override;

private:
    void createControls();
    void fillDrives();
    void fillFolders();
    void selectDriveOf(const QString& path);
    void drv_main_Change(int index);
    void dir_main_DblClick(QTreeWidgetItem* item);

    QLabel* lbl_toplabel = nullptr;
    QComboBox* drv_main = nullptr;
    QTreeWidget* dir_main = nullptr;
    QPushButton* cmd_OK = nullptr;
    QPushButton* cmd_Cancel = nullptr;
    QString m_path;
    QString m_response;
};

} // namespace zelvor
