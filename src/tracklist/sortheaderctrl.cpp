#include "tracklist/sortheaderctrl.h"

#include <QMouseEvent>
#include <QPainter>
#include <QStyleOptionHeader>

SortHeaderCtrl::SortHeaderCtrl(QWidget *parent)
    : QHeaderView(Qt::Horizontal, parent), m_up(QStringLiteral(":/sortup.png")), m_down(QStringLiteral(":/sortdown.png"))
{
    setSectionsClickable(true);
    // Commands and navigation address columns by index: their order is fixed.
    setSectionsMovable(false);
    setSortIndicatorShown(false);
    setHighlightSections(false);
    // A column may be dragged to zero width: that hides it (the Options command then sees it as hidden), and
    // stored widths, narrow ones included, come back exactly.
    setMinimumSectionSize(0);
    setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    connect(this, &QHeaderView::sectionResized, this, [this] { m_resizedDuringPress = true; });
}

void SortHeaderCtrl::SetSortImage(int column, bool ascending)
{
    m_images.insert(column, ascending ? 1 : -1);
    viewport()->update();
}

void SortHeaderCtrl::RemoveSortImage(int column)
{
    m_images.remove(column);
    viewport()->update();
}

void SortHeaderCtrl::RemoveAllSortImages()
{
    m_images.clear();
    viewport()->update();
}

int SortHeaderCtrl::SortImage(int column) const { return m_images.value(column, 0); }

void SortHeaderCtrl::paintSection(QPainter *painter, const QRect &rect, int logicalIndex) const
{
    const int image = m_images.value(logicalIndex, 0);
    if (image == 0 || rect.width() < 16) {
        QHeaderView::paintSection(painter, rect, logicalIndex);
        return;
    }
    // Draw the section with its text shortened to leave room for the arrow at its right end.
    const QPixmap &pixmap = image > 0 ? m_up : m_down;
    QStyleOptionHeader option;
    initStyleOption(&option);
    initStyleOptionForIndex(&option, logicalIndex);
    option.rect = rect;
    const int room = rect.width() - pixmap.width() - 16;
    option.text = room > 0 ? fontMetrics().elidedText(option.text, Qt::ElideRight, room) : QString();
    painter->save();
    style()->drawControl(QStyle::CE_Header, &option, painter, this);
    painter->restore();
    const QPoint at(rect.right() - pixmap.width() - 4, rect.center().y() - pixmap.height() / 2);
    painter->drawPixmap(at, pixmap);
}

void SortHeaderCtrl::mousePressEvent(QMouseEvent *event)
{
    m_resizedDuringPress = false;
    QHeaderView::mousePressEvent(event);
}

void SortHeaderCtrl::mouseReleaseEvent(QMouseEvent *event)
{
    QHeaderView::mouseReleaseEvent(event);
    if (m_resizedDuringPress) {
        m_resizedDuringPress = false;
        Q_EMIT DividerDragEnded();
    }
}
