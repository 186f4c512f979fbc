#pragma once

#include "library/tracksort.h"

#include <QTableView>

#include <functional>
#include <vector>

class SortHeaderCtrl;
class TrackListModel;

// A report-style list whose column headers sort the rows: a click sorts by one column, Ctrl+click adds the
// column as a further key, and each click on a column reverses its own direction. Full-row selection, fixed
// header sections, grid lines on request. Home, End, Page Up and Page Down move between rows, as in a list,
// and never scroll sideways. The sort runs in the model, so selections survive it.
class CMultiColumnSortListView : public QTableView
{
    Q_OBJECT
public:
    explicit CMultiColumnSortListView(QWidget *parent = nullptr);

    void SortColumn(int column, bool multi);
    // Works the new order out by `run`, which is handed the work (on a copy of the rows) and may do it on
    // another thread; used for long lists behind a progress.
    using OrderRunner = std::function<std::vector<int>(const std::function<std::vector<int>()> &work)>;
    void SortColumn(int column, bool multi, const OrderRunner &run);
    // Sorts the rows again by the header's keys as they stand (after new rows arrived), so the arrows tell the
    // truth; nothing happens before the first sort.
    void SortByHeader();
    void SetColumnSortAscending(int column, bool ascending) { m_keys.SetColumnSortAscending(column, ascending); }
    bool IsColumnSortAscending(int column) const { return m_keys.IsColumnSortAscending(column); }
    SortHeaderCtrl *Header() const { return m_header; }
    void SetGridLines(bool on) { setShowGrid(on); }
    void setSelectionModel(QItemSelectionModel *selectionModel) override;

protected:
    QModelIndex moveCursor(CursorAction action, Qt::KeyboardModifiers modifiers) override;
    void keyPressEvent(QKeyEvent *event) override;
    virtual TrackListModel *SortModel() const = 0;
    // Saves the widths and visibility of the columns; runs when a divider drag ends.
    virtual void SaveColumnLayout() = 0;

private:
    void OnHeaderClicked(int column);

    SortHeaderCtrl *m_header;
    QItemSelectionModel *m_headerSelection = nullptr;
    SortKeys m_keys;
};
