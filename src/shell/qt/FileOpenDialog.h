// SPDX-License-Identifier: MIT
#pragma once

#include <QObject>
#include <QString>

class QWidget;

namespace zelvor {

/**
 * The file-open dialog that the settings window keeps for its two file Browse buttons. Its
 * file name and filter persist between uses, so one button's choice is where the other's
 * dialog starts unless that button clears it.
 */
class FileOpenDialog : public QObject
{
    Q_OBJECT
public:
    explicit FileOpenDialog(QObject* parent = nullptr);

    /** The full path of the last chosen file, or the name to start the next dialog with. */
    QString FileName;
    /** The file types offered, as "name|pattern;pattern|name|pattern|". */
    QString Filter;

    /**
     * Shows a modal file-open dialog (the Qt widget dialog, named after this object) starting
     * at FileName. True when a file was chosen: FileName then holds its full path. False when
     * the user cancelled; FileName is left as it was.
     */
    bool ShowOpen(QWidget* owner);
};

} // namespace zelvor
