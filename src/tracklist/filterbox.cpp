#include "tracklist/filterbox.h"

#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>

CFilterBox::CFilterBox(QWidget *parent) : QWidget(parent), m_edit(new QLineEdit(this)), m_error(new QLabel(this))
{
    m_edit->setObjectName(QStringLiteral("filterEdit"));
    m_edit->setClearButtonEnabled(true);
    m_edit->setPlaceholderText(
        tr("Filter (Ctrl+F): words, artist:name, year:1990..1999, album: for none, -word to leave out"));
    m_edit->setToolTip(tr("Shows the rows every term matches.\n"
                          "word: any column contains it (case and accents ignored)\n"
                          "field:word: that column contains it (filename ext path title artist year album track "
                          "comment genre)\n"
                          "field: (nothing after the colon): that column is empty\n"
                          "\"a phrase\": keeps its blanks\n"
                          "-term: leaves out the rows the term matches\n"
                          "field:A..B: the column's number lies between A and B\n"
                          "Esc empties the box."));
    m_edit->installEventFilter(this);
    m_error->setObjectName(QStringLiteral("filterError"));
    QPalette palette = m_error->palette();
    palette.setColor(QPalette::WindowText, Qt::darkRed);
    m_error->setPalette(palette);
    m_error->hide();
    auto *layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 2);
    layout->addWidget(m_edit, 1);
    layout->addWidget(m_error);
    setFocusProxy(m_edit);

    m_pending.setSingleShot(true);
    m_pending.setInterval(0);
    connect(&m_pending, &QTimer::timeout, this, &CFilterBox::Apply);
    connect(m_edit, &QLineEdit::textChanged, &m_pending, qOverload<>(&QTimer::start));
}

QString CFilterBox::ErrorText() const { return m_error->isHidden() ? QString() : m_error->text(); }

void CFilterBox::Focus()
{
    m_edit->setFocus(Qt::ShortcutFocusReason);
    m_edit->selectAll();
}

void CFilterBox::Apply()
{
    m_pending.stop();
    TrackFilter filter;
    QString error;
    if (!filter.Parse(m_edit->text(), &error)) {
        m_error->setText(error);
        m_error->show();
        return;
    }
    m_error->hide();
    m_error->clear();
    if (m_edit->text() == m_applied)
        return;
    m_applied = m_edit->text();
    Q_EMIT FilterChanged(filter);
}

bool CFilterBox::eventFilter(QObject *watched, QEvent *event)
{
    if (watched != m_edit)
        return QWidget::eventFilter(watched, event);
    if (event->type() == QEvent::ShortcutOverride) {
        // Esc belongs to the box here, not to the window's "clear the selection".
        auto *key = static_cast<QKeyEvent *>(event);
        if (key->key() == Qt::Key_Escape && key->modifiers() == Qt::NoModifier) {
            event->accept();
            return true;
        }
    } else if (event->type() == QEvent::KeyPress) {
        auto *key = static_cast<QKeyEvent *>(event);
        switch (key->key()) {
        case Qt::Key_Escape:
            m_edit->clear();
            Apply();   // the whole list is back before the focus is
            Q_EMIT Leave();
            return true;
        case Qt::Key_Return:
        case Qt::Key_Enter:
        case Qt::Key_Down:
            Apply();
            Q_EMIT Leave();
            return true;
        default:
            break;
        }
    }
    return QWidget::eventFilter(watched, event);
}
