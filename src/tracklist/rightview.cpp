#include "tracklist/rightview.h"

#include "settings/appsettings.h"
#include "platform/drives.h"
#include "platform/names.h"
#include "tracklist/sortheaderctrl.h"
#include "library/tracklistmodel.h"
#include "settings/documentsfolder.h"
#include "tracklist/inplaceedit.h"
#include "tracklist/scanningdlg.h"
#include "library/scanstate.h"
#include "library/walkworker.h"

#include <QEvent>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QKeyEvent>
#include <QContextMenuEvent>
#include <QDrag>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QMimeData>
#include <QMouseEvent>
#include <QPainter>
#include <QWheelEvent>
#include <QElapsedTimer>
#include <QScrollBar>
#include <QTimer>
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
    m_takeTimer.setSingleShot(true);
    m_takeTimer.setInterval(1);
    connect(&m_takeTimer, &QTimer::timeout, this, [this] { TakeRows(); });
    ScaleDefaultWidths(m_columns, fontMetrics(), horizontalHeader()->fontMetrics());
    setItemDelegateForColumn(int(Column::Path), new MiddleElideDelegate(this));
    setDragEnabled(true);
    setAcceptDrops(true);
    viewport()->setAcceptDrops(true);
    setDragDropMode(QAbstractItemView::DragDrop);
    setDropIndicatorShown(false);
    // Scrolling by hand ends an in-place edit: the list takes the focus, which commits it.
    for (QScrollBar *bar : {verticalScrollBar(), horizontalScrollBar()})
        connect(bar, &QAbstractSlider::actionTriggered, this, [this] {
            if (m_editor)
                setFocus();
        });
    // An edit belongs to its file: rows that move or go end it first.
    connect(m_model, &QAbstractItemModel::layoutAboutToBeChanged, this, &CRightView::EndEditBeforeRowsChange);
    connect(m_model, &QAbstractItemModel::rowsAboutToBeRemoved, this, &CRightView::EndEditBeforeRowsChange);
    connect(m_model, &QAbstractItemModel::modelAboutToBeReset, this, &CRightView::EndEditBeforeRowsChange);
    SetGridLines(m_settings.grid);
    BuildExtensionSet();
    ApplyColumnLayout();
}

void CRightView::EndEdit()
{
    if (!m_editor)
        return;
    if (m_editor->hasFocus())
        setFocus();   // the editor commits as it loses the focus
    if (m_editor)
        m_editor->Commit();
    m_editor = nullptr;   // it is gone from the screen and deleted at the next turn of the event loop
}

void CRightView::EndEditBeforeRowsChange()
{
    m_rowsChanging = true;
    EndEdit();
    m_rowsChanging = false;
}

bool CRightView::IsColumnShown(int column) const
{
    return m_columns[std::size_t(column)].visible && !horizontalHeader()->isSectionHidden(column) &&
           horizontalHeader()->sectionSize(column) > 0;
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

void CRightView::CaptureColumnWidths()
{
    for (int i = 0; i < kColumnCount; ++i) {
        const int width = horizontalHeader()->isSectionHidden(i) ? 0 : horizontalHeader()->sectionSize(i);
        ColumnDef &column = m_columns[std::size_t(i)];
        column.visible = width != 0 ? 1 : 0;
        if (width != 0)
            column.width = width;
    }
}

void CRightView::ApplyColumnChoice(const std::array<bool, kColumnCount> &visible)
{
    for (int i = 0; i < kColumnCount; ++i) {
        ColumnDef &column = m_columns[std::size_t(i)];
        column.visible = visible[std::size_t(i)] ? 1 : 0;
        if (column.visible) {
            horizontalHeader()->showSection(i);
            horizontalHeader()->resizeSection(i, std::max(1, column.width));
        } else {
            horizontalHeader()->resizeSection(i, 0);
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
    if (!selectionModel())
        return rows;
    // Read from the ranges: QItemSelectionModel::selectedRows tests every row against every range, which takes
    // minutes for tens of thousands of scattered rows. Rows are selected whole, so a range spans every column.
    const QItemSelection selection = selectionModel()->selection();
    for (const QItemSelectionRange &range : selection) {
        if (range.left() != 0 || range.right() != m_model->columnCount() - 1) {
            rows.clear();
            for (const QModelIndex &index : selectionModel()->selectedRows())
                rows.append(index.row());
            break;
        }
        for (int row = range.top(); row <= range.bottom(); ++row)
            rows.append(row);
    }
    // The ranges mostly come in order already (a million rows selected: no sort at all).
    if (!std::is_sorted(rows.begin(), rows.end()))
        std::sort(rows.begin(), rows.end());
    rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
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
    // A scan that was still running is stopped (and sorted by name and extension); one that had ended was sorted
    // by the header's keys then.
    if (m_worker)
        StopWalk();
}

void CRightView::StartWorker(WalkWorker *worker)
{
    m_worker = worker;
    m_firstBatch = true;
    // Rows are taken by a timer, a slice each time it fires: a stream of posted calls would keep the event loop's
    // other timers from running for as long as it lasts.
    connect(worker, &WalkWorker::RowsReady, this, [this] {
        if (!m_takeTimer.isActive())
            m_takeTimer.start();
    }, Qt::QueuedConnection);
    connect(worker, &QThread::finished, this, &CRightView::OnWorkerFinished, Qt::QueuedConnection);
    worker->start();
    if (!worker->isRunning() && !worker->isFinished()) {
        // The thread could not be started: leave the flags as they were before, not "scanning" forever.
        m_state.scanning.store(0);
        m_state.progressTick.store(-1);
        ReleaseWorker();
    }
}

bool CRightView::TakeRows(bool again)
{
    if (!m_worker)
        return false;
    // A slice a turn of the event loop, some 15 ms of work: a window far behind a fast walk catches up without a
    // pause, and the event loop's timers and input come between the slices.
    constexpr std::size_t kPiece = 1024;
    constexpr qint64 kSliceMs = 15;
    QElapsedTimer spent;
    spent.start();
    std::vector<TrackRecord> rows = m_worker->TakeRows(kPiece);
    bool more = m_worker->HasRows();
    while (more && !rows.empty() && spent.elapsed() < kSliceMs) {
        AppendTaken(std::move(rows));
        rows = m_worker->TakeRows(kPiece);
        more = m_worker->HasRows();
    }
    if (more && again && !m_takeTimer.isActive())
        m_takeTimer.start();
    AppendTaken(std::move(rows));
    return more;
}

void CRightView::AppendTaken(std::vector<TrackRecord> &&rows)
{
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
    while (TakeRows()) {
    }
    WalkWorker *worker = m_worker;
    m_worker = nullptr;
    worker->disconnect(this);
    worker->deleteLater();
    viewport()->update();   // an empty list shows its hint now
    Q_EMIT WalkFinished();
}

void CRightView::OnWorkerFinished()
{
    if (m_worker && sender() == m_worker)
        FinishListing(m_worker);
}

void CRightView::FinishListing(WalkWorker *worker)
{
    if (m_worker != worker)
        return;   // another listing began meanwhile
    // The rows still waiting go in slices, a turn of the event loop each, before the listing ends.
    if (TakeRows(false)) {
        QTimer::singleShot(1, this, [this, worker] { FinishListing(worker); });
        return;
    }
    {
        ReleaseWorker();
        if (m_sortWhenFinished) {
            m_sortWhenFinished = false;
            m_state.stop.store(0);
            SortAfterStop();
        } else {
            // A listing that ran to its end: its rows take the order the header's arrows show.
            SortByHeader();
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
    // By extension, then by name within each extension; both arrows show it.
    SetColumnSortAscending(int(Column::Ext), false);
    SetColumnSortAscending(int(Column::Filename), false);
    SortColumn(int(Column::Ext), false);
    SortColumn(int(Column::Filename), true);
}

QString CRightView::EmptyHint() const
{
    if (m_model->rowCount() > 0 || m_state.scanning.load() || m_worker)
        return QString();
    if (m_model->TotalRows() > 0)
        return tr("No file matches the filter. Esc in the filter box shows them all.");
    return tr("No files here. Ctrl+click a folder to list its subfolders too.");
}

void CRightView::SetFilter(const TrackFilter &filter)
{
    std::vector<int> selected;
    for (const int row : SelectedRows())
        selected.push_back(m_model->SourceRow(row));
    const QModelIndex current = currentIndex();
    const int currentSource = current.isValid() ? m_model->SourceRow(current.row()) : -1;
    const int currentColumn = current.isValid() ? current.column() : 0;

    m_model->SetFilter(filter);

    // The selection again, as runs of neighbouring rows (one range per run, not per row).
    QItemSelection selection;
    int runFirst = -1, runLast = -1;
    auto closeRun = [&] {
        if (runFirst >= 0)
            selection.select(m_model->index(runFirst, 0), m_model->index(runLast, kColumnCount - 1));
    };
    for (const int row : m_model->RowsOfSources(selected)) {
        if (row != runLast + 1 || runFirst < 0) {
            closeRun();
            runFirst = row;
        }
        runLast = row;
    }
    closeRun();
    if (!selection.isEmpty())
        selectionModel()->select(selection, QItemSelectionModel::Select);
    const int currentRow = currentSource >= 0 ? m_model->RowOfSource(currentSource) : -1;
    if (currentRow >= 0) {
        const QModelIndex index = m_model->index(currentRow, currentColumn);
        selectionModel()->setCurrentIndex(index, QItemSelectionModel::NoUpdate);
        scrollTo(index);
    }
    viewport()->update();
}

void CRightView::paintEvent(QPaintEvent *event)
{
    CMultiColumnSortListView::paintEvent(event);
    const QString hint = EmptyHint();
    if (hint.isEmpty())
        return;
    QPainter painter(viewport());
    painter.setPen(palette().color(QPalette::PlaceholderText));
    painter.drawText(viewport()->rect().adjusted(8, 12, -8, -8), Qt::AlignHCenter | Qt::AlignTop | Qt::TextWordWrap, hint);
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
    if (event->key() == Qt::Key_F10 && event->modifiers() == Qt::ShiftModifier) {
        Q_EMIT ContextMenuWanted(viewport()->mapToGlobal(QPoint(5, 5)));
        return;
    }
    if (event->key() == Qt::Key_F2 && event->modifiers() == Qt::NoModifier) {
        const QList<int> rows = SelectedRows();
        if (!rows.isEmpty())
            EditCell(rows.front(), 0);
        return;
    }
    CMultiColumnSortListView::keyPressEvent(event);
}

QMimeData *CRightView::SelectedFilesData() const
{
    QList<QUrl> urls;
    QByteArray marker("copy");
    for (const int row : SelectedRows()) {
        const QUrl url = platform::FileUrl(RowFullPath(row));   // the name's real bytes, UTF-8 or not
        urls.append(url);
        marker += '\n' + url.toEncoded();
    }
    auto *files = new QMimeData;
    files->setUrls(urls);
    files->setData(QStringLiteral("x-special/gnome-copied-files"), marker);
    return files;
}

void CRightView::contextMenuEvent(QContextMenuEvent *event)
{
    if (m_state.scanning.load())
        return;
    const QPoint at = event->reason() == QContextMenuEvent::Keyboard ? viewport()->mapToGlobal(QPoint(5, 5))
                                                                     : event->globalPos();
    Q_EMIT ContextMenuWanted(at);
}

void CRightView::startDrag(Qt::DropActions)
{
    if (!HasSelection())
        return;
    auto *drag = new QDrag(this);
    drag->setMimeData(SelectedFilesData());
    Q_EMIT DragStarted();
    m_dragging = true;
    const Qt::DropAction result = drag->exec(Qt::CopyAction | Qt::MoveAction, Qt::CopyAction);
    m_dragging = false;
    if (result == Qt::CopyAction)
        clearSelection();
}

void CRightView::dragEnterEvent(QDragEnterEvent *event) { dragMoveEvent(event); }

void CRightView::dragMoveEvent(QDragMoveEvent *event)
{
    // Files only: Ctrl copies, otherwise they move.
    if (!event->mimeData()->hasUrls()) {
        event->ignore();
        return;
    }
    event->setDropAction(event->modifiers().testFlag(Qt::ControlModifier) ? Qt::CopyAction : Qt::MoveAction);
    event->accept();
}

void CRightView::dropEvent(QDropEvent *event)
{
    if (!event->mimeData()->hasUrls()) {
        event->ignore();
        return;
    }
    const bool copy = event->modifiers().testFlag(Qt::ControlModifier);
    event->setDropAction(copy ? Qt::CopyAction : Qt::MoveAction);
    event->accept();
    if (m_dragging)
        return;   // dropped back onto the list it came from: nothing changes
    Q_EMIT FilesDropped(event->mimeData()->urls(), copy);
}

void CRightView::wheelEvent(QWheelEvent *event)
{
    if (m_editor)
        setFocus();
    CMultiColumnSortListView::wheelEvent(event);
}

void CRightView::mouseDoubleClickEvent(QMouseEvent *event)
{
    // With Ctrl: edit the cell (a tag cell only on an MP3 row, and only where the column may be edited).
    const QModelIndex index = indexAt(event->position().toPoint());
    if (!event->modifiers().testFlag(Qt::ControlModifier)) {
        // Without Ctrl: play the selection, wherever the double-click landed.
        CMultiColumnSortListView::mouseDoubleClickEvent(event);
        Q_EMIT PlayWanted();
        return;
    }
    if (!index.isValid())
        return;
    setFocus();
    if (index.column() == 0) {
        EditCell(index.row(), 0);
        return;
    }
    clearSelection();
    const bool mp3 = IsTaggableExtension(m_model->Row(index.row())[Column::Ext]);
    if (mp3 && !m_columns[std::size_t(index.column())].readOnly)
        EditCell(index.row(), index.column());
}

InPlaceEdit *CRightView::EditCell(int row, int column)
{
    if (row < 0 || row >= m_model->rowCount() || column < 0 || column >= kColumnCount)
        return nullptr;
    const QModelIndex index = m_model->index(row, column);
    scrollTo(index);
    QRect cell = visualRect(index);
    if (cell.isEmpty() && horizontalHeader()->sectionSize(column) > 0)
        return nullptr;
    // Horizontally: bring the whole cell into view, then cut the editor off at the client area's right edge.
    const int client = viewport()->width();
    if (cell.left() < 0)
        horizontalScrollBar()->setValue(horizontalScrollBar()->value() + cell.left());
    else if (cell.right() > client)
        horizontalScrollBar()->setValue(horizontalScrollBar()->value() + std::min(cell.left(), cell.right() - client));
    cell = visualRect(index);
    cell.setWidth(std::max(1, std::min(horizontalHeader()->sectionSize(column), client - cell.left())));

    auto *editor = new InPlaceEdit(row, column, RowFullPath(row), m_model->Row(row).cells[std::size_t(column)], client,
                                   viewport());
    editor->setGeometry(cell.adjusted(0, -1, 0, 1));
    connect(editor, &InPlaceEdit::Done, this, [this] { setFocus(); });
    connect(editor, &InPlaceEdit::Navigate, this, &CRightView::NavigateEditor);
    // Each editor carries its own starting text: the next editor may open before this one commits.
    connect(editor, &InPlaceEdit::Finished, this,
            [this](const QString &path, int c, const QString &text, bool cancelled, const QString &initial) {
                if (cancelled)
                    return;
                if (!m_rowsChanging) {
                    Q_EMIT CellEdited(path, c, text, initial);
                    return;
                }
                // Never write while the rows are half moved: the commit follows once they have settled.
                QMetaObject::invokeMethod(this, [this, path, c, text, initial] { Q_EMIT CellEdited(path, c, text, initial); },
                                          Qt::QueuedConnection);
            });
    m_editor = editor;
    editor->show();
    editor->setFocus();
    editor->selectAll();
    return editor;
}

void CRightView::FileRenamed(const QString &oldPath, const QString &newPath)
{
    if (m_editor && m_editor->Path() == oldPath)
        m_editor->SetPath(newPath);
}

void CRightView::NavigateEditor(int key, Qt::KeyboardModifiers modifiers)
{
    if (!m_editor)
        return;
    const int row = m_editor->Row();
    const int column = m_editor->Column();
    const int last = kColumnCount - 1;
    // Columns switched off in Options or dragged to nothing are never entered.
    auto editable = [this](int c) { return !m_columns[std::size_t(c)].readOnly && IsColumnShown(c); };
    auto width = [this](int c) { return IsColumnShown(c) ? horizontalHeader()->sectionSize(c) : 0; };
    const bool ctrl = modifiers.testFlag(Qt::ControlModifier);
    switch (key) {
    case Qt::Key_Tab:
        for (int c = column + 1; c <= last; ++c) {
            if (editable(c)) {
                EditCell(row, c);
                return;
            }
        }
        return;
    case Qt::Key_Backtab:
        if (column == 0)
            return;
        for (int c = column - 1; c > 0; --c) {
            if (editable(c)) {
                EditCell(row, c);
                return;
            }
        }
        EditCell(row, 0);
        return;
    case Qt::Key_End:
        if (ctrl && row < m_model->rowCount() - 1)
            EditCell(m_model->rowCount() - 1, column);
        return;
    case Qt::Key_Home:
        if (ctrl && row > 0)
            EditCell(0, column);
        return;
    case Qt::Key_Right: {
        int c = column;
        while (c < last && width(c + 1) == 0)
            ++c;
        if (c >= 2 && c < last)
            EditCell(row, c + 1);
        return;
    }
    case Qt::Key_Left: {
        int c = column;
        while (c > 2 && width(c - 1) == 0)
            --c;
        if (c > 2)
            EditCell(row, c - 1);
        return;
    }
    case Qt::Key_Up:
    case Qt::Key_Down: {
        const int next = row + (key == Qt::Key_Up ? -1 : 1);
        if (column == 0 || next < 0 || next >= m_model->rowCount())
            return;
        selectionModel()->select(m_model->index(row, 0), QItemSelectionModel::Deselect | QItemSelectionModel::Rows);
        EditCell(next, column);
        selectionModel()->select(m_model->index(next, 0), QItemSelectionModel::Select | QItemSelectionModel::Rows);
        return;
    }
    default:
        return;
    }
}

void CRightView::keyReleaseEvent(QKeyEvent *event)
{
    if (m_state.scanning.load()) {
        event->ignore();
        return;
    }
    CMultiColumnSortListView::keyReleaseEvent(event);
}
