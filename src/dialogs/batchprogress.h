#pragma once

#include <QProgressDialog>

// Feedback for a command that works through many files on the GUI thread: a wait cursor at once, and past half a
// second a window-modal "n of N" dialog with Cancel. Each Step lets the window repaint and Cancel be pressed;
// Cancel stops before the next file, so the file in hand is finished and files done stay done.
class BatchProgress
{
public:
    BatchProgress(QWidget *parent, int total);
    ~BatchProgress();
    BatchProgress(const BatchProgress &) = delete;
    BatchProgress &operator=(const BatchProgress &) = delete;

    // Before file `index` (0-based); false when the user cancelled.
    bool Step(int index);
    // Closes the dialog and puts the cursor back (before a closing message, say); the destructor does it too.
    void Finish();

private:
    QProgressDialog m_dialog;
    int m_total;
    bool m_finished = false;
};
