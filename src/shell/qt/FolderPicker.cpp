// SPDX-License-Identifier: MIT
#include "shell/qt/FolderPicker.h"
#include "shell/SettingsLayout.h"

#include "shell/qt/Twips.h"

#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QPushButton>
#include <QStorageInfo>
#include <QStyle>
#include <QTreeWidget>

#include <algorithm>

namespace zelvor {

namespace {

constexpr int kPathRole = Qt::UserRole;

QStringList ancestorsAndSelf(const QString& path)
{
    QStringList chain{path};
    QDir dir(path);
    while (dir.cdUp()) {
        const QString up = dir.absolutePath();
        if (up == chain.constFirst())
            break;
        chain.prepend(up);
    }
    return chain;
}

QTreeWidgetItem* folderItem(const QString& text, const QString& path, const QIcon& icon)
{
    auto* item = new QTreeWidgetItem(QStringList{text});
    item->setData(0, kPathRole, path);
    item->setIcon(0, icon);
    return item;
}

// The folder list shows every folder open or closed by its icon; nothing in it folds, so it
// draws no branch arrows.
class FolderList : public QTreeWidget
{
public:
    using QTreeWidget::QTreeWidget;

protected:
    void drawBranches(QPainter*, const QRect&, const QModelIndex&) const override {}
};

} // namespace

FolderPicker::FolderPicker(QWidget* owner)
    : QDialog(owner, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                         Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint)
{
    setObjectName(QStringLiteral("frm_findfile"));
    setWindowTitle(latin1(layout::kPickerTitle));
    setFixedSize(twipsRect(0, 0, layout::kPickerWidth, layout::kPickerHeight).size());
    createControls();
    fillDrives();
    setCurrentPath(QDir::currentPath());
}

void FolderPicker::createControls()
{
    lbl_toplabel = new QLabel(QStringLiteral("Select Folder"), this);
    lbl_toplabel->setObjectName(QStringLiteral("lbl_toplabel"));
    QFont bold = lbl_toplabel->font();
    bold.setBold(true);
    lbl_toplabel->setFont(bold);
    lbl_toplabel->setGeometry(twipsRect(240, 120, 4455, 375));

    drv_main = new QComboBox(this);
    drv_main->setObjectName(QStringLiteral("drv_main"));
    drv_main->setGeometry(twipsRect(120, 480, 2175, 315));
    // Choosing the current drive again also takes the folder list to its root.
    connect(drv_main, &QComboBox::activated, this, &FolderPicker::drv_main_Change);

    dir_main = new FolderList(this);
    dir_main->setObjectName(QStringLiteral("dir_main"));
    dir_main->setGeometry(twipsRect(120, 960, 2175, 2565));
    dir_main->setHeaderHidden(true);
    dir_main->setRootIsDecorated(false);
    dir_main->setItemsExpandable(false);
    dir_main->setIndentation(10);
    dir_main->setUniformRowHeights(true);
    connect(dir_main, &QTreeWidget::itemDoubleClicked, this, &FolderPicker::dir_main_DblClick);

    cmd_OK = new QPushButton(QStringLiteral("&OK"), this);
    cmd_OK->setObjectName(QStringLiteral("cmd_OK"));
    cmd_OK->setGeometry(twipsRect(2460, 2700, 1215, 375));
    connect(cmd_OK, &QPushButton::clicked, this, &FolderPicker::accept);

    cmd_Cancel = new QPushButton(QStringLiteral("&Cancel"), this);
    cmd_Cancel->setObjectName(QStringLiteral("cmd_Cancel"));
    cmd_Cancel->setGeometry(twipsRect(2460, 3180, 1215, 375));
    connect(cmd_Cancel, &QPushButton::clicked, this, &FolderPicker::reject);

    setTabOrder(drv_main, dir_main);
    setTabOrder(dir_main, cmd_OK);
    setTabOrder(cmd_OK, cmd_Cancel);
}

void FolderPicker::setCurrentPath(const QString& path)
{
    m_path = QDir::cleanPath(QDir(path).absolutePath());
    selectDriveOf(m_path);
    fillFolders();
}

void FolderPicker::enableOk()
{
    cmd_OK->setEnabled(true);
}

void FolderPicker::accept()
{
    m_response = QDir::toNativeSeparators(m_path);
    QDialog::accept();
}

void FolderPicker::reject()
{
    m_response = latin1(layout::kPickerCancelled);
    QDialog::reject();
}

void FolderPicker::showEvent(QShowEvent* event)
{
    fillDrives();
    selectDriveOf(m_path);
    QDialog::showEvent(event);
}

void FolderPicker::fillDrives()
{
    auto volumes = QStorageInfo::mountedVolumes();
    std::sort(volumes.begin(), volumes.end(), [](const QStorageInfo& a, const QStorageInfo& b) {
        return a.rootPath() < b.rootPath();
    });
    const QSignalBlocker blocker(drv_main);
    drv_main->clear();
    for (const auto& volume : volumes) {
        if (volume.isValid() && volume.isReady())
            drv_main->addItem(QDir::toNativeSeparators(volume.rootPath()), volume.rootPath());
    }
}

void FolderPicker::selectDriveOf(const QString& path)
{
    const QString root = QStorageInfo(path).rootPath();
    int index = drv_main->findData(root);
    const QSignalBlocker blocker(drv_main);
    if (index < 0) {
        drv_main->addItem(QDir::toNativeSeparators(root), root);
        index = drv_main->count() - 1;
    }
    drv_main->setCurrentIndex(index);
}

void FolderPicker::fillFolders()
{
    dir_main->clear();
    const QIcon openIcon = style()->standardIcon(QStyle::SP_DirOpenIcon);
    QTreeWidgetItem* current = nullptr;
    for (const QString& path : ancestorsAndSelf(m_path)) {
        const QString name = QFileInfo(path).fileName();
        auto* item =
            folderItem(name.isEmpty() ? QDir::toNativeSeparators(path) : name, path, openIcon);
        if (current)
            current->addChild(item);
        else
            dir_main->addTopLevelItem(item);
        current = item;
    }
    const QIcon closedIcon = style()->standardIcon(QStyle::SP_DirClosedIcon);
    const auto subfolders = QDir(m_path).entryInfoList(QDir::Dirs | QDir::NoDotAndDotDot,
                                                       QDir::Name | QDir::IgnoreCase);
    for (const QFileInfo& folder : subfolders)
        current->addChild(folderItem(folder.fileName(), folder.absoluteFilePath(), closedIcon));
    dir_main->expandAll();
    dir_main->setCurrentItem(current);
    dir_main->scrollToItem(current);
}

void FolderPicker::drv_main_Change(int index)
{
    const QString root = drv_main->itemData(index).toString();
    const QFileInfo info(root);
    if (!info.isDir() || !info.isReadable()) {
        // A drive without a readable medium: stay where we are.
        selectDriveOf(m_path);
        return;
    }
    setCurrentPath(root);
}

void FolderPicker::dir_main_DblClick(QTreeWidgetItem* item)
{
    if (item)
        setCurrentPath(item->data(0, kPathRole).toString());
}

} // namespace zelvor
