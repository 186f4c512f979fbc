#include "tracklist/multicolumnsortlistview.h"

#include "library/tracklistmodel.h"
#include "tracklist/sortheaderctrl.h"

#include <QApplication>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QKeyEvent>
#include <QScrollBar>

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

void CMultiColumnSortListView::setSelectionModel(QItemSelectionModel *selectionModel)
{
    QTableView::setSelectionModel(selectionModel);
    // The header paints no selection, yet it asks whether each column is selected whole at every paint, which
    // walks every row when many are selected (a tenth of a second per paint with a million rows selected). It
    // is given a selection of its own that stays empty.
    if (m_headerSelection && m_headerSelection->model() == selectionModel->model())
        return;
    delete m_headerSelection;
    m_headerSelection = new QItemSelectionModel(selectionModel->model(), this);
    m_header->setSelectionModel(m_headerSelection);
}

void CMultiColumnSortListView::OnHeaderClicked(int column)
{
    // The header reports left-button clicks only; a right click never sorts.
    setFocus();
    SortColumn(column, QApplication::keyboardModifiers() & Qt::ControlModifier);
}

void CMultiColumnSortListView::SortColumn(int column, bool multi) { SortColumn(column, multi, {}); }

void CMultiColumnSortListView::SortColumn(int column, bool multi, const OrderRunner &run)
{
    if (!multi)
        m_header->RemoveAllSortImages();
    const std::vector<SortKeys::Pass> passes = m_keys.Click(column, multi);
    if (TrackListModel *model = SortModel()) {
        if (!run) {
            model->Sort(passes);
        } else {
            // Rows that arrived while the order was worked out make it stale: then sort here after all.
            const std::vector<TrackRecord> rows = model->AllRows();
            if (!model->ApplyOrder(run([&rows, &passes] { return SortedOrder(rows, passes); })))
                model->Sort(passes);
        }
    }
    // The clicked column is always the first pass; its arrow shows the direction it just took.
    m_header->SetSortImage(column, passes.front().ascending);
}

void CMultiColumnSortListView::SortByHeader()
{
    const std::vector<SortKeys::Pass> passes = m_keys.Passes();
    if (passes.empty())
        return;
    if (TrackListModel *model = SortModel())
        model->Sort(passes);
}

QModelIndex CMultiColumnSortListView::moveCursor(CursorAction action, Qt::KeyboardModifiers modifiers)
{
    // A row-oriented list: Home and End (with or without Ctrl) go to the first and last row in the same column.
    const QModelIndex current = currentIndex();
    const int column = current.isValid() ? current.column() : 0;
    const int rows = model() ? model()->rowCount(rootIndex()) : 0;
    if ((action == MoveHome || action == MoveEnd) && rows > 0)
        return model()->index(action == MoveHome ? 0 : rows - 1, column, rootIndex());
    return QTableView::moveCursor(action, modifiers);
}

void CMultiColumnSortListView::keyPressEvent(QKeyEvent *event)
{
    // Row moves keep the columns in view where they are.
    switch (event->key()) {
    case Qt::Key_Home:
    case Qt::Key_End:
    case Qt::Key_PageUp:
    case Qt::Key_PageDown: {
        const int left = horizontalScrollBar()->value();
        QTableView::keyPressEvent(event);
        horizontalScrollBar()->setValue(left);
        return;
    }
    default:
        QTableView::keyPressEvent(event);
    }
}
