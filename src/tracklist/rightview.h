#pragma once

#include "library/extensionset.h"
#include "tracklist/inplaceedit.h"
#include "tracklist/multicolumnsortlistview.h"
#include "library/trackrecord.h"

#include <QPointer>
#include <QUrl>
#include <QString>
#include <QTimer>

#include <array>
#include <functional>

class AppSettings;
class QMimeData;

class TagFile;
class TrackFilter;
class TrackListModel;
class WalkWorker;
struct ScanState;

// The right-hand pane: the track list. Fills itself from folders through a worker thread, shows the rows of its
// model, and offers the row operations every command uses. While a walk runs it ignores keyboard and mouse input.
class CRightView : public CMultiColumnSortListView
{
    Q_OBJECT
public:
    CRightView(AppSettings &settings, ScanState &state, QWidget *parent = nullptr);
    ~CRightView() override;

    TrackListModel *Model() const { return m_model; }

    // Replaces (or in add-list mode extends) the list with the files of a folder, walking subfolders when the
    // subfolder mode is set. A listing still running is stopped first.
    void ListFolder(const QString &path);
    // Scan All: lists every accepted drive behind the "Scanning..." dialog.
    void RunComputerScan();
    // Stops the running walk, keeps the rows found, sorts them by name and extension.
    void StopWalk();
    // Stops the running walk and waits for its thread to end (on quit, before a new walk).
    void StopAndWait();
    bool IsWalking() const;

    bool AddFile(const QString &fullPath);
    void FillTagCells(int row, const TagFile *tag);
    QString RowFullPath(int row) const;
    // The selected rows' files as a file list for the clipboard or a drag (URLs, and the file managers' marker).
    QMimeData *SelectedFilesData() const;
    bool IsDragging() const { return m_dragging; }
    // The selected rows in list order.
    QList<int> SelectedRows() const;
    bool HasSelection() const;
    // Whether a selected row satisfies `test`; stops at the first (enable rules run often, on big selections).
    bool AnySelectedRow(const std::function<bool(const TrackRecord &)> &test) const;
    void BuildExtensionSet();
    bool IsExtensionAccepted(const QString &extension) const { return m_extensions.IsAccepted(extension); }
    int ColumnWidth(int column) const;
    void SaveColumnLayout() override;
    // Applies "ColumnVisible" and the widths to the header (start-up, and after the options change).
    void ApplyColumnLayout();
    // Each column with a width on screen counts as visible at that width; one dragged to zero as hidden (its
    // remembered width stays).
    void CaptureColumnWidths();
    // Shows the columns ticked at their remembered widths and hides the others.
    void ApplyColumnChoice(const std::array<bool, kColumnCount> &visible);

    // Opens the in-place editor over a cell (scrolled into view); returns it, or nullptr.
    InPlaceEdit *EditCell(int row, int column);
    InPlaceEdit *Editor() const { return m_editor; }
    // Ends an open in-place edit with its text, as losing the focus does (before a command acts on the rows).
    void EndEdit();
    // A file of the list was renamed: an open in-place editor of it follows it to the new name (the editor that
    // Tab opened after a rename in place commits to the renamed file).
    void FileRenamed(const QString &oldPath, const QString &newPath);

    // Shows only the rows the filter matches (all rows for an empty one). Selected rows that stay shown stay
    // selected, and the current row stays current and in view; hidden rows are never selected.
    void SetFilter(const TrackFilter &filter);

    QString CurrentFolder() const { return m_currentFolder; }
    const AppSettings &Settings() const { return m_settings; }
    // The line painted in the list while it is empty and nothing is being listed; empty otherwise.
    QString EmptyHint() const;
    int RowCounter() const;
    const std::array<ColumnDef, kColumnCount> &Columns() const { return m_columns; }

Q_SIGNALS:
    // An in-place edit of `path`'s row ended with a text (not cancelled): the file commands commit it to that
    // file, wherever its row is now. `before` is the cell's text when that editor opened.
    void CellEdited(const QString &path, int column, const QString &text, const QString &before);
    // Files dropped onto the list from elsewhere (not from this list): copy (Ctrl held) or move.
    void FilesDropped(const QList<QUrl> &urls, bool copy);
    // A drag of the selected files out of the list begins.
    void DragStarted();
    // A double-click without Ctrl: play the selection.
    void PlayWanted();
    // The context menu, at a global position (5,5 into the list when opened from the keyboard: the Menu key or
    // Shift+F10).
    void ContextMenuWanted(const QPoint &globalPos);
    // A listing worker started or ended: the folder tree is disabled in between.
    void ListingStarted();
    void WalkFinished();

protected:
    TrackListModel *SortModel() const override { return m_model; }
    bool viewportEvent(QEvent *event) override;
    void paintEvent(QPaintEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void keyReleaseEvent(QKeyEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;
    void wheelEvent(QWheelEvent *event) override;
    void contextMenuEvent(QContextMenuEvent *event) override;
    void startDrag(Qt::DropActions supportedActions) override;
    void dragEnterEvent(QDragEnterEvent *event) override;
    void dragMoveEvent(QDragMoveEvent *event) override;
    void dropEvent(QDropEvent *event) override;

private:
    void StartWorker(WalkWorker *worker);
    // Appends a slice of the rows waiting (and, `again`, takes the next one at the next turn of the event loop);
    // whether more wait.
    bool TakeRows(bool again = true);
    void AppendTaken(std::vector<TrackRecord> &&rows);
    // Ends a listing whose worker has finished, once the rows it left are in.
    void FinishListing(WalkWorker *worker);
    void OnWorkerFinished();
    // Takes the worker's last rows and lets it go; the walk is over.
    void ReleaseWorker();
    void SortAfterStop();
    void NavigateEditor(int key, Qt::KeyboardModifiers modifiers);
    // The rows are about to move or go: an open edit ends first, its commit following once they have.
    void EndEditBeforeRowsChange();
    // Whether a column shows on screen (switched on in Options and wider than nothing).
    bool IsColumnShown(int column) const;

    AppSettings &m_settings;
    ScanState &m_state;
    TrackListModel *m_model;
    ExtensionSet m_extensions;
    std::array<ColumnDef, kColumnCount> m_columns;
    QString m_currentFolder;
    QPointer<WalkWorker> m_worker;
    bool m_sortWhenFinished = false;   // Stop was asked for: sort when the worker has ended
    bool m_firstBatch = false;         // the next rows are the first of a walk
    QTimer m_takeTimer;                // takes the next slice of rows
    QPointer<InPlaceEdit> m_editor;
    bool m_dragging = false;   // a drag started from this list is under way
    bool m_rowsChanging = false;
};
