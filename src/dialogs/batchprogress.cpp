#include "dialogs/batchprogress.h"

#include <QApplication>

#include <algorithm>
#include <climits>
#include <vector>

namespace {

constexpr int kProgressDelayMs = 500;

// The batches running on the GUI thread (nested ones are possible: a drop during a copy's question) and how many
// questions are open now.
std::vector<BatchProgress *> g_batches;
int g_openQuestions = 0;

} // namespace

BatchProgress::BatchProgress(QWidget *parent, int total)
    : m_dialog(QString(), QCoreApplication::translate("BatchProgress", "Cancel"), 0, total, parent), m_total(total)
{
    m_dialog.setWindowModality(Qt::WindowModal);
    // The dialog's own show timer would fire inside a question's event loop and cover the question: it never
    // runs out, and Step shows the dialog itself.
    m_dialog.setMinimumDuration(INT_MAX);
    m_dialog.setAutoClose(false);
    m_dialog.setAutoReset(false);
    m_clock.start();
    g_batches.push_back(this);
    QApplication::setOverrideCursor(Qt::WaitCursor);
}

BatchProgress::~BatchProgress()
{
    Finish();
    g_batches.erase(std::remove(g_batches.begin(), g_batches.end(), this), g_batches.end());
}

void BatchProgress::Finish()
{
    if (m_finished)
        return;
    m_finished = true;
    m_dialog.hide();
    QApplication::restoreOverrideCursor();
}

void BatchProgress::SetTotal(int total)
{
    if (total == m_total || total < 1)
        return;
    m_total = total;
    m_dialog.setMaximum(total);
}

bool BatchProgress::Step(int index)
{
    if (m_finished)
        return !m_dialog.wasCanceled();
    m_dialog.setLabelText(QCoreApplication::translate("BatchProgress", "%1 of %2").arg(index + 1).arg(m_total));
    if (!m_shown && g_openQuestions == 0 && m_clock.elapsed() >= kProgressDelayMs) {
        m_shown = true;
        // forceShow (a protected slot) marks the dialog shown, so from now on setValue lets the window repaint and
        // Cancel be pressed.
        QMetaObject::invokeMethod(&m_dialog, "forceShow", Qt::DirectConnection);
    }
    m_dialog.setValue(index);
    return !m_dialog.wasCanceled();
}

BatchProgress::QuestionScope::QuestionScope()
{
    if (g_openQuestions++ == 0) {
        for (BatchProgress *batch : g_batches)
            batch->m_dialog.hide();
    }
    if (QApplication::overrideCursor()) {
        QApplication::setOverrideCursor(Qt::ArrowCursor);
        m_cursorPushed = true;
    }
}

BatchProgress::QuestionScope::~QuestionScope()
{
    if (m_cursorPushed)
        QApplication::restoreOverrideCursor();
    if (--g_openQuestions > 0)
        return;
    // Only the dialogs of batches that had shown theirs and are still working come back.
    for (BatchProgress *batch : g_batches) {
        if (batch->m_shown && !batch->m_finished)
            batch->m_dialog.show();
    }
}
