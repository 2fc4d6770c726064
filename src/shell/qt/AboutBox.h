// SPDX-License-Identifier: MIT
#pragma once

#include <QWidget>

class QIcon;

namespace zelvor {

/**
 * frm_About: a frameless white box with the program's icon, name, version and notice. It has
 * no owner and no buttons; a click anywhere on it or any key closes and destroys it.
 */
class AboutBox : public QWidget
{
    Q_OBJECT
public:
    explicit AboutBox(const QIcon& icon);

    /** Centres the box on the screen, shows it and gives it the keyboard. */
    void showCentred();

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    void Form_Load(const QIcon& icon);
};

} // namespace zelvor
