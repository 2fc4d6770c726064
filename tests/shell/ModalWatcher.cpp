// SPDX-License-Identifier: MIT
#include "ModalWatcher.h"

#include <QAbstractButton>
#include <QApplication>

#include <algorithm>

namespace zelvor::test {

ModalWatcher::ModalWatcher(Answer answer) : m_answer(std::move(answer))
{
    m_timer.setInterval(1);
    QObject::connect(&m_timer, &QTimer::timeout, [this] { poll(); });
    m_timer.start();
}

void ModalWatcher::poll()
{
    QWidget* modal = QApplication::activeModalWidget();
    if (!modal || !modal->isVisible() ||
        std::find(m_handled.begin(), m_handled.end(), modal) != m_handled.end())
        return;
    m_handled.emplace_back(modal);
    SeenModal seen;
    seen.className = QString::fromLatin1(modal->metaObject()->className());
    seen.title = modal->windowTitle();
    auto* box = qobject_cast<QMessageBox*>(modal);
    if (box) {
        seen.text = box->text();
        seen.icon = box->icon();
        seen.buttonCount = box->buttons().size();
    }
    m_seen.push_back(seen);

    m_timer.stop(); // the answer runs nested event loops of its own
    QPointer<QWidget> guard(modal);
    if (m_answer)
        m_answer(modal);
    else if (box && !box->buttons().isEmpty())
        box->buttons().constFirst()->click();
    else if (auto* dialog = qobject_cast<QDialog*>(modal))
        dialog->reject();
    if (guard && guard->isVisible()) {
        ++m_leftOpen;
        if (auto* dialog = qobject_cast<QDialog*>(guard.data()))
            dialog->reject();
    }
    m_timer.start();
}

} // namespace zelvor::test
