#pragma once

#include <QElapsedTimer>
#include <QString>

// How far long work has come, on standard error when it is a terminal: "undo: 1,234 of 7,811 files", redrawn in
// place at most five times a second once the work has run a second, and cleared when it ends. Nothing at all goes
// to a pipe or a file, so scripts see only the command's own output and messages.
class ProgressMeter
{
public:
    // `what` leads the line ("undo"); a `total` of 0 counts without one ("list: 12,345 files").
    ProgressMeter(QString what, qint64 total);
    ~ProgressMeter();
    ProgressMeter(const ProgressMeter &) = delete;
    ProgressMeter &operator=(const ProgressMeter &) = delete;

    void SetTotal(qint64 total) { m_total = total; }
    // `done` files of the total are done.
    void Step(qint64 done);
    // Clears the line (before a message, say); the next Step draws it again.
    void Clear();

    // Clears the line of the meter now running, if any: a message then starts on a line of its own.
    static void ClearCurrent();

private:
    QString m_what;
    qint64 m_total;
    QElapsedTimer m_clock;
    qint64 m_quietMs = 0;
    qint64 m_drawnAt = -1;   // when the line was last drawn (ms since the start); -1: not on screen
    bool m_enabled;
    ProgressMeter *m_outer;   // the meter running when this one began
};
