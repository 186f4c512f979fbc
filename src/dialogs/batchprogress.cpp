#include "dialogs/batchprogress.h"

#include <QApplication>

namespace {
constexpr int kProgressDelayMs = 500;
}

BatchProgress::BatchProgress(QWidget *parent, int total)
    : m_dialog(QString(), QCoreApplication::translate("BatchProgress", "Cancel"), 0, total, parent), m_total(total)
{
    m_dialog.setWindowModality(Qt::WindowModal);
    m_dialog.setMinimumDuration(kProgressDelayMs);
    m_dialog.setAutoClose(false);
    m_dialog.setAutoReset(false);
    QApplication::setOverrideCursor(Qt::WaitCursor);
}

BatchProgress::~BatchProgress() { Finish(); }

void BatchProgress::Finish()
{
    if (m_finished)
        return;
    m_finished = true;
    m_dialog.setValue(m_total);
    m_dialog.hide();
    QApplication::restoreOverrideCursor();
}

bool BatchProgress::Step(int index)
{
    m_dialog.setLabelText(QCoreApplication::translate("BatchProgress", "%1 of %2").arg(index + 1).arg(m_total));
    m_dialog.setValue(index);   // also lets the window repaint and Cancel be pressed
    return !m_dialog.wasCanceled();
}
