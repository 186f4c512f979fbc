#include "tracklist/inplaceedit.h"

#include <QKeyEvent>
#include <QValidator>

namespace {

const QString kForbiddenInNames = QStringLiteral("*/:?\\");

// Keeps the characters no file name may hold out of the Filename editor, however the text arrives.
class FileNameValidator : public QValidator
{
public:
    using QValidator::QValidator;

    State validate(QString &input, int &pos) const override
    {
        for (qsizetype i = input.size() - 1; i >= 0; --i) {
            if (kForbiddenInNames.contains(input[i])) {
                input.remove(i, 1);
                if (i < pos)
                    --pos;
            }
        }
        return Acceptable;
    }
};

constexpr int kWidenMargin = 5;

bool IsNavigation(const QKeyEvent *key)
{
    const bool ctrl = key->modifiers().testFlag(Qt::ControlModifier);
    switch (key->key()) {
    case Qt::Key_Tab:
    case Qt::Key_Backtab:
    case Qt::Key_Up:
    case Qt::Key_Down:
        return true;
    case Qt::Key_Home:
    case Qt::Key_End:
    case Qt::Key_Left:
    case Qt::Key_Right:
        return ctrl;
    default:
        return false;
    }
}

} // namespace

InPlaceEdit::InPlaceEdit(int row, int column, const QString &path, const QString &text, int maxRight, QWidget *parent)
    : QLineEdit(text, parent), m_row(row), m_column(column), m_path(path), m_initial(text), m_maxRight(maxRight)
{
    if (column == 0)
        setValidator(new FileNameValidator(this));
    setFont(parent->font());
    setFrame(true);
    QPalette colours = palette();
    colours.setColor(QPalette::Base, QColor(255, 255, 0));
    colours.setColor(QPalette::Text, Qt::black);
    setPalette(colours);
    setAutoFillBackground(true);
}

bool InPlaceEdit::event(QEvent *event)
{
    // Esc, Enter and the navigation keys belong to the editor while it is open, not to the window's shortcuts
    // (Esc would clear the list's selection and leave the edit open).
    if (event->type() == QEvent::ShortcutOverride) {
        auto *key = static_cast<QKeyEvent *>(event);
        if (key->key() == Qt::Key_Escape || key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter ||
            IsNavigation(key)) {
            event->accept();
            return true;
        }
    }
    // Tab and Shift+Tab would move the focus through the window; here they move the editor.
    if (event->type() == QEvent::KeyPress) {
        auto *key = static_cast<QKeyEvent *>(event);
        if (key->key() == Qt::Key_Tab || key->key() == Qt::Key_Backtab) {
            Q_EMIT Navigate(key->key() == Qt::Key_Tab && !key->modifiers().testFlag(Qt::ShiftModifier) ? Qt::Key_Tab
                                                                                                       : Qt::Key_Backtab,
                            key->modifiers());
            return true;
        }
    }
    return QLineEdit::event(event);
}

void InPlaceEdit::keyPressEvent(QKeyEvent *event)
{
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        Q_EMIT Done();
        return;
    }
    if (event->key() == Qt::Key_Escape) {
        m_cancelled = true;
        Q_EMIT Done();
        return;
    }
    if ((event->key() == Qt::Key_Up || event->key() == Qt::Key_Down) && m_column == 0)
        return;   // the Filename editor does not move between rows, and the list's selection stays on its row
    if (IsNavigation(event)) {
        Q_EMIT Navigate(event->key(), event->modifiers());
        return;
    }
    if (m_column == 0 && event->text().size() == 1 && kForbiddenInNames.contains(event->text()))
        return;   // characters no file name may hold
    QLineEdit::keyPressEvent(event);
    Widen();
}

void InPlaceEdit::Widen()
{
    const int wanted = fontMetrics().horizontalAdvance(text()) + kWidenMargin + 8;   // text, margin, frame
    if (wanted > width())
        resize(std::min(wanted, std::max(width(), m_maxRight - x())), height());
}

void InPlaceEdit::focusOutEvent(QFocusEvent *event)
{
    QLineEdit::focusOutEvent(event);
    End();
}

void InPlaceEdit::Commit()
{
    End();
    hide();
}

void InPlaceEdit::End()
{
    if (m_finished)
        return;
    m_finished = true;
    Q_EMIT Finished(m_path, m_column, m_cancelled ? QString() : text(), m_cancelled, m_initial);
    deleteLater();
}
