#pragma once

#include "library/trackfilter.h"

#include <QTimer>
#include <QWidget>

class QLabel;
class QLineEdit;

// The box above the track list that narrows it as the user types (see TrackFilter for the language). Keys
// typed in a burst are applied together; a text that does not parse keeps the last filter and says why beside
// the box. Esc empties the box; Esc, Enter and Down hand the focus back to the list.
class CFilterBox : public QWidget
{
    Q_OBJECT
public:
    explicit CFilterBox(QWidget *parent = nullptr);

    QLineEdit *Edit() const { return m_edit; }
    // Why the text does not parse, or empty.
    QString ErrorText() const;
    // Focuses the box with its text selected, so typing replaces it.
    void Focus();

Q_SIGNALS:
    // A text that parses and differs from the one applied last.
    void FilterChanged(const TrackFilter &filter);
    // The user is done with the box: the list takes the focus.
    void Leave();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void Apply();

    QLineEdit *m_edit;
    QLabel *m_error;
    QTimer m_pending;
    QString m_applied;
};
