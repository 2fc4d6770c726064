// SPDX-License-Identifier: MIT
#include "shell/qt/FileOpenDialog.h"

#include "shell/DialogFilter.h"

#include <QFileDialog>
#include <QStringList>

namespace zelvor {

namespace {

// The list shows each entry's own name; the patterns in brackets behind it are what Qt matches
// and stay hidden (HideNameFilterDetails).
QStringList qtNameFilters(const QString& filter)
{
    QStringList nameFilters;
    for (const auto& entry : parseDialogFilter(filter.toStdString())) {
        QStringList patterns;
        for (const auto& pattern : entry.Patterns)
            patterns << QString::fromStdString(pattern);
        nameFilters << QStringLiteral("%1 (%2)").arg(QString::fromStdString(entry.Name),
                                                     patterns.join(QLatin1Char(' ')));
    }
    return nameFilters;
}

} // namespace

FileOpenDialog::FileOpenDialog(QObject* parent) : QObject(parent) {}

bool FileOpenDialog::ShowOpen(QWidget* owner)
{
    QFileDialog dialog(owner);
    dialog.setObjectName(objectName());
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setOption(QFileDialog::HideNameFilterDetails);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    // A name that does not exist yet is taken too: a new log file, for one.
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setNameFilters(qtNameFilters(Filter));
    if (!FileName.isEmpty())
        dialog.selectFile(FileName);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return false;
    FileName = dialog.selectedFiles().constFirst();
    return true;
}

} // namespace zelvor
