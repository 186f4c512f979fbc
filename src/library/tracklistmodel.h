#pragma once

#include "library/trackfilter.h"
#include "library/tracksort.h"
#include "library/growingindex.h"
#include "library/trackrecord.h"

#include <QAbstractTableModel>
#include <QByteArray>
#include <QSet>

#include <unordered_map>
#include <utility>
#include <vector>

class TagFile;

// The rows of the track list: the only store of track data. Lives on the GUI thread; workers hand it whole
// batches of rows. Keeps an index of the listed files so the duplicate test costs a hash lookup, not a scan.
//
// A filter hides rows without taking them out of the list: the model's rows (its row numbers, rowCount, what
// views and commands see) are the rows the filter shows, in list order. Sorting orders all rows; rows that
// arrive are shown when they match; a row whose cells change stays shown until the filter is set again.
class TrackListModel : public QAbstractTableModel
{
    Q_OBJECT
public:
    explicit TrackListModel(QObject *parent = nullptr);

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    int columnCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

    // Every row, shown or hidden, in list order.
    const std::vector<TrackRecord> &AllRows() const { return m_rows; }
    // The rows the filter shows, in list order (a copy: the cells are shared, not copied).
    std::vector<TrackRecord> ShownRows() const;
    const TrackRecord &Row(int row) const { return m_rows[Source(row)]; }
    QString RowFullPath(int row) const { return ::RowFullPath(Row(row)); }

    // Empties the list and sets the row counter to 0.
    void Clear();
    // Appends the rows whose files are not listed yet; returns how many were added.
    int AppendRows(std::vector<TrackRecord> &&rows);
    // Turns one file into a row unless it is listed already; returns whether it was added.
    bool AddFile(const QString &fullPath);
    // Rewrites cells 3-9 of a row from a tag, or "Non" without one.
    void FillTagCells(int row, const TagFile *tag);
    // Gives a row's file a new name (without extension; and a new extension unless `extension` is null) after
    // it was renamed on disk; the index of listed files follows.
    void SetFilename(int row, const QString &name, const QString &extension = QString());
    // Whether a file has a row, shown or hidden.
    bool IsListed(const QString &fullPath) const;
    // The row of a file, or -1 when it is not listed or its row is hidden.
    int RowOfFile(const QString &fullPath) const;
    // Removes rows (any order); the row counter is not lowered.
    void RemoveRows(QList<int> rows);

    // The same changes for a file whose row may be hidden by the filter (the journal's undo reaches files the
    // user cannot see); each returns false when the file is not listed.
    bool FillTagCellsOfFile(const QString &fullPath, const TagFile *tag);
    // The same for many files at once (a batch's files read again): one change for the views, not one per row.
    // Files not listed are passed over; returns how many rows changed.
    int FillTagCellsOfFiles(const std::vector<std::pair<QString, TagFile>> &tags);
    bool SetFilenameOfFile(const QString &fullPath, const QString &name, const QString &extension);
    bool RemoveFile(const QString &fullPath);

    // Shows only the rows `filter` matches (all rows for an empty one). The model is reset: views lose their
    // selection, which CRightView::SetFilter carries over.
    void SetFilter(const TrackFilter &filter);
    bool IsFiltered() const { return m_filtered; }
    // The number of rows, shown or hidden.
    int TotalRows() const { return int(m_rows.size()); }
    // A shown row's place among all rows, and the shown row at a place (-1 when that row is hidden).
    int SourceRow(int row) const { return int(Source(row)); }
    int RowOfSource(int source) const;
    // The rows showing these places among all rows (ascending), in order; hidden ones are left out. One pass
    // over both lists, for the selection of a million rows kept across a filter change.
    std::vector<int> RowsOfSources(const std::vector<int> &sources) const;

    // Reorders the rows by the passes; selections and other persistent indexes follow their rows.
    void Sort(const std::vector<SortKeys::Pass> &passes);
    // The same in two steps, so the order can be worked out elsewhere (on a copy of AllRows(), off this thread):
    // `order` lists every row's place, as SortedOrder gives it. False (nothing done) when it does not fit the
    // rows as they are now.
    bool ApplyOrder(const std::vector<int> &order);

    // The number of rows added since the list was last cleared.
    int RowCounter() const { return m_rowCounter; }
    // The listed files, for a worker's duplicate test.
    std::vector<QSet<QByteArray>> ListedKeys() { return m_listed.Share(); }

private:
    std::size_t Source(int row) const { return m_filtered ? std::size_t(m_shown[std::size_t(row)]) : std::size_t(row); }
    int SourceOfFile(const QString &fullPath) const;
    // The index from a file to its place among all rows, made when first asked for after the rows moved and kept
    // up to date as rows are added and renamed, so a batch finds its files' rows without a scan per file.
    void IndexPlace(const QByteArray &key, int source) const;
    void UnindexPlace(const QByteArray &key, int source) const;
    void DropPlaces() const;
    // Removes the rows at these places among all rows (ascending), telling views about shown rows first..last.
    void EraseSources(const std::vector<int> &sources);
    void Refold(std::size_t source);

    std::vector<TrackRecord> m_rows;   // every row in list order
    TrackFilter m_filter;
    bool m_filtered = false;
    std::vector<int> m_shown;              // while filtered: the places of the shown rows, ascending
    FoldedTexts m_folded;                  // each row's text folded for the filter
    GrowingKeySet m_listed;
    mutable GrowingPlaces m_places;   // qHash of a file's key -> its place
    mutable bool m_placesValid = true;
    std::array<ColumnDef, kColumnCount> m_defs;
    int m_rowCounter = 0;
};
