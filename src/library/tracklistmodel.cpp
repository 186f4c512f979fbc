#include "library/tracklistmodel.h"

#include "platform/directory.h"

#include <algorithm>

namespace {

// Room for this many rows from the start. Growing the row vector moves every row into freshly touched memory at
// once (at 65,536 rows that stalled the window for 60-70 ms); reserved room is only address space until rows
// are written into it, so a short list costs nothing real.
constexpr std::size_t kReservedRows = std::size_t(1) << 17;

} // namespace

TrackListModel::TrackListModel(QObject *parent) : QAbstractTableModel(parent), m_defs(DefaultColumnDefs())
{
    m_rows.reserve(kReservedRows);
    m_listed.reserve(qsizetype(kReservedRows));
}

int TrackListModel::rowCount(const QModelIndex &parent) const { return parent.isValid() ? 0 : int(m_rows.size()); }

int TrackListModel::columnCount(const QModelIndex &parent) const { return parent.isValid() ? 0 : kColumnCount; }

QVariant TrackListModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.row() >= int(m_rows.size()))
        return QVariant();
    if (role == Qt::DisplayRole || role == Qt::EditRole || role == Qt::ToolTipRole)
        return m_rows[std::size_t(index.row())].cells[std::size_t(index.column())];
    return QVariant();
}

QVariant TrackListModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation == Qt::Horizontal && section >= 0 && section < kColumnCount) {
        if (role == Qt::DisplayRole)
            return m_defs[std::size_t(section)].name;
        if (role == Qt::TextAlignmentRole)
            return QVariant::fromValue(Qt::AlignLeft | Qt::AlignVCenter);
    }
    return QAbstractTableModel::headerData(section, orientation, role);
}

void TrackListModel::Clear()
{
    beginResetModel();
    // Give back the memory of a long list, but keep the reserved room (see kReservedRows).
    std::vector<TrackRecord>().swap(m_rows);
    m_rows.reserve(kReservedRows);
    m_listed = QSet<QByteArray>();
    m_listed.reserve(qsizetype(kReservedRows));
    m_rowCounter = 0;
    endResetModel();
}

int TrackListModel::AppendRows(std::vector<TrackRecord> &&rows)
{
    std::vector<TrackRecord> fresh;
    fresh.reserve(rows.size());
    for (TrackRecord &row : rows) {
        const QByteArray key = platform::FileNameKey(::RowFullPath(row));
        if (m_listed.contains(key))
            continue;
        m_listed.insert(key);
        fresh.push_back(std::move(row));
    }
    if (fresh.empty())
        return 0;
    const int first = int(m_rows.size());
    beginInsertRows(QModelIndex(), first, first + int(fresh.size()) - 1);
    std::move(fresh.begin(), fresh.end(), std::back_inserter(m_rows));
    m_rowCounter += int(fresh.size());
    endInsertRows();
    return int(fresh.size());
}

bool TrackListModel::AddFile(const QString &fullPath)
{
    const qsizetype slash = fullPath.lastIndexOf(QLatin1Char('/'));
    if (fullPath.lastIndexOf(QLatin1Char('.')) <= slash)
        return false;
    if (m_listed.contains(platform::FileNameKey(fullPath)))
        return false;
    std::vector<TrackRecord> one;
    one.push_back(MakeTrackRecord(fullPath));
    return AppendRows(std::move(one)) == 1;
}

void TrackListModel::FillTagCells(int row, const TagFile *tag)
{
    if (row < 0 || row >= int(m_rows.size()))
        return;
    ::FillTagCells(m_rows[std::size_t(row)], tag);
    Q_EMIT dataChanged(index(row, int(Column::Title)), index(row, int(Column::Genre)));
}

void TrackListModel::RemoveRows(QList<int> rows)
{
    std::sort(rows.begin(), rows.end(), std::greater<int>());
    rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
    for (const int row : rows) {
        if (row < 0 || row >= int(m_rows.size()))
            continue;
        beginRemoveRows(QModelIndex(), row, row);
        m_listed.remove(platform::FileNameKey(::RowFullPath(m_rows[std::size_t(row)])));
        m_rows.erase(m_rows.begin() + row);
        endRemoveRows();
    }
}

void TrackListModel::Sort(const std::vector<SortKeys::Pass> &passes)
{
    if (m_rows.size() < 2 || passes.empty())
        return;
    Q_EMIT layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);

    const std::vector<int> order = SortedOrder(m_rows, passes);
    std::vector<int> newPosition(order.size());
    for (std::size_t i = 0; i < order.size(); ++i)
        newPosition[std::size_t(order[i])] = int(i);
    std::vector<TrackRecord> sorted;
    sorted.reserve(m_rows.size());
    for (const int from : order)
        sorted.push_back(std::move(m_rows[std::size_t(from)]));
    m_rows.swap(sorted);

    const QModelIndexList before = persistentIndexList();
    QModelIndexList after;
    after.reserve(before.size());
    for (const QModelIndex &idx : before)
        after.append(index(newPosition[std::size_t(idx.row())], idx.column()));
    changePersistentIndexList(before, after);
    Q_EMIT layoutChanged({}, QAbstractItemModel::VerticalSortHint);
}

void TrackListModel::SetFilename(int row, const QString &name, const QString &extension)
{
    TrackRecord &record = m_rows[std::size_t(row)];
    m_listed.remove(platform::FileNameKey(::RowFullPath(record)));
    record[Column::Filename] = name;
    if (!extension.isNull())
        record[Column::Ext] = extension;
    m_listed.insert(platform::FileNameKey(::RowFullPath(record)));
    Q_EMIT dataChanged(index(row, int(Column::Filename)), index(row, int(Column::Ext)));
}

int TrackListModel::RowOfFile(const QString &fullPath) const
{
    if (!m_listed.contains(platform::FileNameKey(fullPath)))
        return -1;
    for (std::size_t i = 0; i < m_rows.size(); ++i) {
        if (::RowFullPath(m_rows[i]) == fullPath)
            return int(i);
    }
    return -1;
}
