#pragma once

#include <QLineEdit>

// The small yellow editor that opens over one cell of the track list. It commits when it loses the focus (Enter,
// a click elsewhere, a scroll, the next editor opening) and is cancelled by Esc; either way it then goes away.
// Navigation keys (Tab, Shift+Tab, Ctrl+Home/End/Left/Right, Up, Down) are handed to the list, which opens the
// next editor. In the Filename column the characters * / : ? \ never get in, typed or pasted. The editor belongs
// to its row's file (`path`), not to a row number, so its text can only ever reach that file.
class InPlaceEdit : public QLineEdit
{
    Q_OBJECT
public:
    InPlaceEdit(int row, int column, const QString &path, const QString &text, int maxRight, QWidget *parent);

    int Row() const { return m_row; }
    int Column() const { return m_column; }
    QString Path() const { return m_path; }
    // The file was renamed while the editor was open: its text goes to the new name.
    void SetPath(const QString &path) { m_path = path; }
    // Ends the edit now with its text, as losing the focus does.
    void Commit();

Q_SIGNALS:
    // The edit ended: the file, the text (or cancelled), and the cell's text when the editor opened.
    void Finished(const QString &path, int column, const QString &text, bool cancelled, const QString &initial);
    // A navigation key: the list opens the next editor (the focus move then commits this one).
    void Navigate(int key, Qt::KeyboardModifiers modifiers);
    // Enter or Esc: the list takes the focus back.
    void Done();

protected:
    bool event(QEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void focusOutEvent(QFocusEvent *event) override;

private:
    void Widen();
    void End();

    int m_row;
    int m_column;
    QString m_path;
    QString m_initial;
    int m_maxRight;   // the editor never grows past this x (the list's client area)
    bool m_cancelled = false;
    bool m_finished = false;
};
