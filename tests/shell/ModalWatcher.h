// SPDX-License-Identifier: MIT
#pragma once

#include <QMessageBox>
#include <QPointer>
#include <QTimer>

#include <functional>
#include <vector>

namespace zelvor::test {

/** What a modal window looked like when it opened. */
struct SeenModal
{
    QString className;
    QString title;
    /** Message boxes only: text, icon and number of buttons. */
    QString text;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    qsizetype buttonCount = 0;
};

/**
 * While alive, answers every modal window that opens, from inside the modal's own event loop:
 * records it and runs the answer (by default a message box's only button, or reject). A modal
 * left open by the answer is rejected and counted, so no test hangs.
 */
class ModalWatcher
{
public:
    using Answer = std::function<void(QWidget*)>;
    explicit ModalWatcher(Answer answer = {});

    const std::vector<SeenModal>& seen() const { return m_seen; }
    int leftOpen() const { return m_leftOpen; }

private:
    void poll();

    Answer m_answer;
    QTimer m_timer;
    std::vector<SeenModal> m_seen;
    std::vector<QPointer<QWidget>> m_handled;
    int m_leftOpen = 0;
};

} // namespace zelvor::test
