#pragma once

#include "dialogs/prompter.h"

#include <QList>
#include <QStringList>

// Answers the program's questions for a test and keeps what was asked: the text of each message (the caption of
// each question with buttons of its own).
class FakePrompter : public Prompter
{
public:
    QStringList texts;
    QList<QMessageBox::StandardButton> answers;            // taken in turn; then `answer`
    QMessageBox::StandardButton answer = QMessageBox::Yes;
    QList<int> choices;                                    // taken in turn; then -1, a closed question

    QMessageBox::StandardButton Ask(QWidget *, const QString &, const QString &text, QMessageBox::StandardButtons,
                                    QMessageBox::Icon) override
    {
        texts.append(text);
        return answers.isEmpty() ? answer : answers.takeFirst();
    }
    int Choose(QWidget *, const QString &caption, const QString &, const QString &, const QStringList &) override
    {
        texts.append(caption);
        return choices.isEmpty() ? -1 : choices.takeFirst();
    }
};
