#pragma once

#include <QMessageBox>
#include <QString>
#include <QStringList>

class QWidget;

// A batch's failures after it ended, in one message: `heading`, then the first fifteen, then how many more.
// Nothing is shown for none.
void TellFailures(QWidget *parent, const QString &heading, const QStringList &failures);

// After a batch the user stopped: how many of the files were done ("written", "renamed") and that Edit > Undo
// takes them back, so nobody has to guess what a cancelled command left.
void TellStopped(QWidget *parent, int done, int total, const QString &what);

// Every message box a command shows goes through here, so tests can read the questions and answer them.
class Prompter
{
public:
    virtual ~Prompter() = default;

    // Shows `text` with the buttons and icon given; returns the button chosen, or QMessageBox::NoButton when the
    // box was closed without one.
    virtual QMessageBox::StandardButton Ask(QWidget *parent, const QString &caption, const QString &text,
                                            QMessageBox::StandardButtons buttons, QMessageBox::Icon icon) = 0;

    // A question with buttons of its own (the texts given, the first the default) and `detail` (a path) shown in a
    // read-only box under the text. Returns the index of the button chosen, or -1 when the box was closed.
    virtual int Choose(QWidget *parent, const QString &caption, const QString &text, const QString &detail,
                       const QStringList &buttons) = 0;

    // A message with OK only.
    void Tell(QWidget *parent, const QString &text, QMessageBox::Icon icon = QMessageBox::Warning);

    // The prompter in use: message boxes, unless a test put its own in place.
    static Prompter &Current();
    static void SetCurrent(Prompter *prompter);   // nullptr: back to message boxes
};
