#include "tracklist/rightview.h"

#include "settings/appsettings.h"
#include "platform/drives.h"
#include "tracklist/sortheaderctrl.h"
#include "library/tracklistmodel.h"
#include "settings/documentsfolder.h"
#include "tracklist/scanningdlg.h"
#include "library/scanstate.h"
#include "library/walkworker.h"

#include <QEvent>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QKeyEvent>
#include <QScrollBar>
#include <QStyledItemDelegate>

#include <algorithm>

namespace {

} // namespace

namespace {

// Elides a long folder in the middle, so the album folder at its end stays in view.
class MiddleElideDelegate : public QStyledItemDelegate
{
public:
    using QStyledItemDelegate::QStyledItemDelegate;

protected:
    void initStyleOption(QStyleOptionViewItem *option, const QModelIndex &index) const override
    {
        QStyledItemDelegate::initStyleOption(option, index);
        option->textElideMode = Qt::ElideMiddle;
    }
};

// The default widths were chosen for an 8-point dialog font six pixels to the average character; scale them to
// the list's font, and make room at least for the header text and the sort arrow. Stored widths are the user's
// and stay as they are.
void ScaleDefaultWidths(std::array<ColumnDef, kColumnCount> &columns, const QFontMetrics &list, const QFontMetrics &header)
{
    constexpr double kDesignCharWidth = 6.0;
    constexpr int kHeaderRoom = 28;   // margins and the sort arrow
    const double scale = std::max(1.0, list.averageCharWidth() / kDesignCharWidth);
    for (ColumnDef &column : columns)
        column.width = std::max(int(column.width * scale + 0.5), header.horizontalAdvance(column.name) + kHeaderRoom);
}

} // namespace

CRightView::CRightView(AppSettings &settings, ScanState &state, QWidget *parent)
    : CMultiColumnSortListView(parent), m_settings(settings), m_state(state), m_model(new TrackListModel(this)),
      m_columns(DefaultColumnDefs())
{
    setModel(m_model);
    ScaleDefaultWidths(m_columns, fontMetrics(), horizontalHeader()->fontMetrics());
    setItemDelegateForColumn(int(Column::Path), new MiddleElideDelegate(this));
    SetGridLines(m_settings.grid);
    BuildExtensionSet();
    ApplyColumnLayout();
}

CRightView::~CRightView() { StopAndWait(); }

void CRightView::ApplyColumnLayout()
{
    for (int i = 0; i < kColumnCount; ++i)
        m_columns[std::size_t(i)].visible = ColumnListEntry(m_settings.columnVisible, i);
    QHeaderView *header = horizontalHeader();
    for (int i = 0; i < kColumnCount; ++i) {
        if (m_columns[std::size_t(i)].visible) {
            header->showSection(i);
            header->resizeSection(i, ColumnWidth(i));
        } else {
            header->hideSection(i);
        }
    }
}

int CRightView::ColumnWidth(int column) const { return ::ColumnWidth(column, m_settings, m_columns); }

void CRightView::SaveColumnLayout()
{
    QString widths;
    QString visible;
    const QHeaderView *header = horizontalHeader();
    for (int i = 0; i < header->count(); ++i) {
        widths += QString::number(header->isSectionHidden(i) ? 0 : header->sectionSize(i)) + QLatin1Char(',');
        visible += QString::number(m_columns[std::size_t(i)].visible) + QLatin1Char(',');
    }
    m_settings.columnWidths = widths;
    m_settings.columnVisible = visible;
}

void CRightView::BuildExtensionSet() { m_extensions.Build(m_settings); }

int CRightView::RowCounter() const { return m_model->RowCounter(); }

bool CRightView::AddFile(const QString &fullPath) { return m_model->AddFile(fullPath); }

void CRightView::FillTagCells(int row, const TagFile *tag) { m_model->FillTagCells(row, tag); }

QString CRightView::RowFullPath(int row) const { return m_model->RowFullPath(row); }

bool CRightView::HasSelection() const { return selectionModel() && selectionModel()->hasSelection(); }

bool CRightView::AnySelectedRow(const std::function<bool(const TrackRecord &)> &test) const
{
    if (!selectionModel())
        return false;
    for (const QItemSelectionRange &range : selectionModel()->selection()) {
        for (int row = range.top(); row <= range.bottom(); ++row) {
            if (test(m_model->Row(row)))
                return true;
        }
    }
    return false;
}

QList<int> CRightView::SelectedRows() const
{
    QList<int> rows;
    if (selectionModel()) {
        for (const QModelIndex &index : selectionModel()->selectedRows())
            rows.append(index.row());
    }
    std::sort(rows.begin(), rows.end());
    return rows;
}

bool CRightView::IsWalking() const { return m_worker && m_worker->isRunning(); }

void CRightView::ListFolder(const QString &path)
{
    // A listing must never run beside another one: both would fill the list at once.
    StopAndWait();
    m_state.scanning.store(1);
    if (!m_state.addListMode.load())
        m_model->Clear();
    m_currentFolder = DocumentsFolder::Current().ToFileSystem(path);
    auto *worker = new ListingWorker(m_state, m_extensions, m_model->ListedKeys(), m_currentFolder,
                                     m_state.subfolderMode.load() != 0, this);
    Q_EMIT ListingStarted();
    StartWorker(worker);
}

void CRightView::RunComputerScan()
{
    StopAndWait();
    m_model->Clear();
    m_currentFolder.clear();
    m_state.scanning.store(1);
    const auto drives = ScanWorker::AcceptedDrives(platform::ListDrives(), m_settings.removable, m_settings.cdrom);
    StartWorker(new ScanWorker(m_state, m_extensions, drives, this));

    CScanningDlg dialog([this] { return m_currentFolder; }, window());
    dialog.exec();   // ends only by Cancel, Esc or the close box
    StopWalk();
}

void CRightView::StartWorker(WalkWorker *worker)
{
    m_worker = worker;
    m_firstBatch = true;
    connect(worker, &WalkWorker::RowsReady, this, &CRightView::TakeRows, Qt::QueuedConnection);
    connect(worker, &QThread::finished, this, &CRightView::OnWorkerFinished, Qt::QueuedConnection);
    worker->start();
    if (!worker->isRunning() && !worker->isFinished()) {
        // The thread could not be started: leave the flags as they were before, not "scanning" forever.
        m_state.scanning.store(0);
        m_state.progressTick.store(-1);
        ReleaseWorker();
    }
}

void CRightView::TakeRows()
{
    if (!m_worker)
        return;
    std::vector<TrackRecord> rows = m_worker->TakeRows();
    if (rows.empty())
        return;
    const bool atBottom = verticalScrollBar()->value() >= verticalScrollBar()->maximum() - 1;
    m_model->AppendRows(std::move(rows));
    // Keep the newest rows in view while a folder fills, up to its last batch, unless the user scrolled away
    // since the walk began.
    if (atBottom || m_firstBatch)
        scrollToBottom();
    m_firstBatch = false;
}

void CRightView::ReleaseWorker()
{
    TakeRows();
    WalkWorker *worker = m_worker;
    m_worker = nullptr;
    worker->disconnect(this);
    worker->deleteLater();
    Q_EMIT WalkFinished();
}

void CRightView::OnWorkerFinished()
{
    if (m_worker && sender() == m_worker) {
        ReleaseWorker();
        if (m_sortWhenFinished) {
            m_sortWhenFinished = false;
            m_state.stop.store(0);
            SortAfterStop();
        }
    }
}

void CRightView::StopAndWait()
{
    if (!m_worker)
        return;
    m_state.stop.store(1);
    m_worker->wait();
    ReleaseWorker();
    m_sortWhenFinished = false;
    m_state.stop.store(0);
}

void CRightView::StopWalk()
{
    m_state.subfolderMode.store(0);
    m_state.stop.store(1);
    if (m_worker) {
        // Never wait here: the worker sees the flag at its next entry, and its last rows and the sort follow
        // when it has ended (OnWorkerFinished).
        m_sortWhenFinished = true;
        return;
    }
    m_state.stop.store(0);
    SortAfterStop();
}

void CRightView::SortAfterStop()
{
    SetColumnSortAscending(0, false);
    SetColumnSortAscending(1, false);
    SortColumn(0, false);
    SortColumn(1, false);
}

bool CRightView::viewportEvent(QEvent *event)
{
    // While a walk fills the list, mouse buttons are ignored: no command may act on half-listed rows.
    if (m_state.scanning.load()) {
        switch (event->type()) {
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonRelease:
        case QEvent::MouseButtonDblClick:
        case QEvent::ContextMenu:
            event->accept();
            return true;
        default:
            break;
        }
    }
    return CMultiColumnSortListView::viewportEvent(event);
}

void CRightView::keyPressEvent(QKeyEvent *event)
{
    if (m_state.scanning.load()) {
        event->ignore();   // let Esc and Ctrl+S reach the window's commands
        return;
    }
    CMultiColumnSortListView::keyPressEvent(event);
}

void CRightView::keyReleaseEvent(QKeyEvent *event)
{
    if (m_state.scanning.load()) {
        event->ignore();
        return;
    }
    CMultiColumnSortListView::keyReleaseEvent(event);
}
