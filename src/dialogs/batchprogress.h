#pragma once

#include <QElapsedTimer>
#include <QProgressDialog>

// Feedback for a command that works through many files on the GUI thread: a wait cursor at once, and past half a
// second a window-modal "n of N" dialog with Cancel. Each Step lets the window repaint and Cancel be pressed;
// Cancel stops before the next file, so the file in hand is finished and files done stay done. The dialog shows
// only from a Step, never from a timer, so it cannot come up over a question the batch is asking.
class BatchProgress
{
public:
    BatchProgress(QWidget *parent, int total);
    ~BatchProgress();
    BatchProgress(const BatchProgress &) = delete;
    BatchProgress &operator=(const BatchProgress &) = delete;

    // Before file `index` (0-based); false when the user cancelled.
    bool Step(int index);
    // The total, once it is known (an undo learns it when it has read its entry).
    void SetTotal(int total);
    // Closes the dialog and puts the cursor back (before a closing message, say); the destructor does it too.
    void Finish();

    // While one lives, a question or message is open: every batch's progress dialog is hidden and the arrow
    // cursor is back, so the question is on top and can be answered; both return when it closes.
    class QuestionScope
    {
    public:
        QuestionScope();
        ~QuestionScope();
        QuestionScope(const QuestionScope &) = delete;
        QuestionScope &operator=(const QuestionScope &) = delete;

    private:
        bool m_cursorPushed = false;
    };

private:
    QProgressDialog m_dialog;
    QElapsedTimer m_clock;
    int m_total;
    bool m_finished = false;
    bool m_shown = false;
};
