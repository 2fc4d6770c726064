// SPDX-License-Identifier: MIT
#pragma once

#include <QMessageBox>
#include <QPointer>
#include <QString>
#include <QTimer>

#include <functional>
#include <vector>

namespace zelvor::test {

/** What a modal window looked like when it opened. */
struct SeenModal
{
    QString className;
    QString objectName;
    QString title;
    /** Message boxes only: text, icon and the number of buttons. */
    QString text;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    qsizetype buttonCount = 0;
};

/**
 * While alive, answers every modal window that opens: records it, then runs the answer inside
 * the modal's own event loop. The default answer rejects it (a message box's only button).
 * A modal that the answer leaves open is rejected and recorded as an error, so no test hangs.
 */
class ModalWatcher
{
public:
    using Answer = std::function<void(QWidget*)>;
    explicit ModalWatcher(Answer answer = {});

    const std::vector<SeenModal>& seen() const { return m_seen; }
    /** Answers still open after their answer ran. */
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
