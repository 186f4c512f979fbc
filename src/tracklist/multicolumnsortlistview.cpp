#include "tracklist/multicolumnsortlistview.h"

#include "tracklist/sortheaderctrl.h"
#include "library/tracklistmodel.h"

#include <QApplication>
#include <QHeaderView>

CMultiColumnSortListView::CMultiColumnSortListView(QWidget *parent)
    : QTableView(parent), m_header(new SortHeaderCtrl(this))
{
    setHorizontalHeader(m_header);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setWordWrap(false);
    setCornerButtonEnabled(false);
    setSortingEnabled(false);   // we sort on our own terms
    verticalHeader()->hide();
    verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 4);
    setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
    connect(m_header, &QHeaderView::sectionClicked, this, &CMultiColumnSortListView::OnHeaderClicked);
    connect(m_header, &SortHeaderCtrl::DividerDragEnded, this, [this] { SaveColumnLayout(); });
}

void CMultiColumnSortListView::OnHeaderClicked(int column)
{
    // The header reports left-button clicks only; a right click never sorts.
    setFocus();
    SortColumn(column, QApplication::keyboardModifiers() & Qt::ControlModifier);
}

void CMultiColumnSortListView::SortColumn(int column, bool multi)
{
    if (!multi)
        m_header->RemoveAllSortImages();
    const std::vector<SortKeys::Pass> passes = m_keys.Click(column, multi);
    if (TrackListModel *model = SortModel())
        model->Sort(passes);
    // The clicked column is always the first pass; its arrow shows the direction it just took.
    m_header->SetSortImage(column, passes.front().ascending);
}
