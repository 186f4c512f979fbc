#pragma once

#include "library/tracksort.h"
#include "library/trackrecord.h"

#include <QAbstractTableModel>
#include <QByteArray>
#include <QSet>

#include <vector>

class TagFile;

// The rows of the track list: the only store of track data. Lives on the GUI thread; workers hand it whole
// batches of rows. Keeps an index of the listed files so the duplicate test costs a hash lookup, not a scan.
class TrackListModel : public QAbstractTableModel
{
    Q_OBJECT
public:
    explicit TrackListModel(QObject *parent = nullptr);

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    int columnCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

    const std::vector<TrackRecord> &Rows() const { return m_rows; }
    const TrackRecord &Row(int row) const { return m_rows[std::size_t(row)]; }
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
    // The row of a file, or -1 when it is not listed.
    int RowOfFile(const QString &fullPath) const;
    // Removes rows (any order); the row counter is not lowered.
    void RemoveRows(QList<int> rows);

    // Reorders the rows by the passes; selections and other persistent indexes follow their rows.
    void Sort(const std::vector<SortKeys::Pass> &passes);

    // The number of rows added since the list was last cleared.
    int RowCounter() const { return m_rowCounter; }
    // The listed files, for a worker's duplicate test.
    QSet<QByteArray> ListedKeys() const { return m_listed; }

private:
    std::vector<TrackRecord> m_rows;
    QSet<QByteArray> m_listed;
    std::array<ColumnDef, kColumnCount> m_defs;
    int m_rowCounter = 0;
};
