#include "library/tracklistmodel.h"

#include "platform/directory.h"
#include "tags/tagfile.h"

#include <algorithm>

namespace {

// Room for this many rows from the start. Growing the row vector moves every row into freshly touched memory at
// once (at 65,536 rows that stalled the window for 60-70 ms, at 524,288 over 100 ms); reserved room is only
// address space until rows are written into it (some 720 MB of it here, untouched), so a short list costs
// nothing real and a list of two million rows never moves.
constexpr std::size_t kReservedRows = std::size_t(1) << 21;

} // namespace

TrackListModel::TrackListModel(QObject *parent) : QAbstractTableModel(parent), m_defs(DefaultColumnDefs())
{
    m_rows.reserve(kReservedRows);
}

int TrackListModel::rowCount(const QModelIndex &parent) const
{
    if (parent.isValid())
        return 0;
    return int(m_filtered ? m_shown.size() : m_rows.size());
}

int TrackListModel::columnCount(const QModelIndex &parent) const { return parent.isValid() ? 0 : kColumnCount; }

QVariant TrackListModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.row() >= rowCount())
        return QVariant();
    if (role == Qt::DisplayRole || role == Qt::EditRole || role == Qt::ToolTipRole)
        return m_rows[Source(index.row())].cells[std::size_t(index.column())];
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
    m_listed.clear();
    DropPlaces();
    m_placesValid = true;   // no rows, nothing to find
    m_rowCounter = 0;
    m_shown.clear();
    m_folded.Clear();
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
        IndexPlace(key, int(m_rows.size() + fresh.size()));
        fresh.push_back(std::move(row));
    }
    if (fresh.empty())
        return 0;
    const int added = int(fresh.size());
    m_rowCounter += added;
    for (const TrackRecord &row : fresh)
        m_folded.Append(row);
    if (!m_filtered) {
        const int first = int(m_rows.size());
        beginInsertRows(QModelIndex(), first, first + added - 1);
        std::move(fresh.begin(), fresh.end(), std::back_inserter(m_rows));
        endInsertRows();
        return added;
    }
    // Under a filter the new rows join the list hidden, and the matching ones are then shown at its end.
    std::vector<int> matching;
    for (TrackRecord &row : fresh) {
        if (m_filter.Matches(row, m_folded, m_rows.size()))
            matching.push_back(int(m_rows.size()));
        m_rows.push_back(std::move(row));
    }
    if (!matching.empty()) {
        const int first = int(m_shown.size());
        beginInsertRows(QModelIndex(), first, first + int(matching.size()) - 1);
        m_shown.insert(m_shown.end(), matching.begin(), matching.end());
        endInsertRows();
    }
    return added;
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
    if (row < 0 || row >= rowCount())
        return;
    ::FillTagCells(m_rows[Source(row)], tag);
    Refold(Source(row));
    Q_EMIT dataChanged(index(row, int(Column::Title)), index(row, int(Column::Genre)));
}

void TrackListModel::Refold(std::size_t source)
{
    m_folded.Set(source, m_rows[source]);
}

void TrackListModel::RemoveRows(QList<int> rows)
{
    std::sort(rows.begin(), rows.end());
    rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
    rows.erase(std::remove_if(rows.begin(), rows.end(), [&](int row) { return row < 0 || row >= rowCount(); }),
               rows.end());
    // One removal per run of neighbouring rows, from the last run back, so each costs one pass over the list.
    for (qsizetype end = rows.size(); end > 0;) {
        qsizetype begin = end - 1;
        while (begin > 0 && rows[begin - 1] == rows[begin] - 1)
            --begin;
        std::vector<int> sources;
        sources.reserve(std::size_t(end - begin));
        for (qsizetype i = begin; i < end; ++i)
            sources.push_back(int(Source(rows[i])));
        beginRemoveRows(QModelIndex(), rows[begin], rows[end - 1]);
        if (m_filtered)
            m_shown.erase(m_shown.begin() + rows[begin], m_shown.begin() + rows[end - 1] + 1);
        EraseSources(sources);
        endRemoveRows();
        end = begin;
    }
}

void TrackListModel::EraseSources(const std::vector<int> &sources)
{
    for (const int source : sources)
        m_listed.remove(platform::FileNameKey(::RowFullPath(m_rows[std::size_t(source)])));
    DropPlaces();   // the rows after them move up
    // Shown rows after the removed ones move up by as many places as were removed before them.
    if (m_filtered) {
        for (int &shown : m_shown)
            shown -= int(std::lower_bound(sources.begin(), sources.end(), shown) - sources.begin());
    }
    auto eraseFrom = [&](auto &vector) {
        if (vector.empty())
            return;
        std::size_t to = std::size_t(sources.front());
        std::size_t next = 0;
        for (std::size_t from = to; from < vector.size(); ++from) {
            if (next < sources.size() && std::size_t(sources[next]) == from) {
                ++next;
                continue;
            }
            vector[to++] = std::move(vector[from]);
        }
        vector.resize(to);
    };
    eraseFrom(m_rows);
    m_folded.Erase(sources);
}

void TrackListModel::Sort(const std::vector<SortKeys::Pass> &passes)
{
    if (m_rows.size() < 2 || passes.empty())
        return;
    ApplyOrder(SortedOrder(m_rows, passes));
}

bool TrackListModel::ApplyOrder(const std::vector<int> &order)
{
    if (order.size() != m_rows.size())
        return false;
    if (m_rows.size() < 2)
        return true;
    Q_EMIT layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
    DropPlaces();
    std::vector<int> newPosition(order.size());
    for (std::size_t i = 0; i < order.size(); ++i)
        newPosition[std::size_t(order[i])] = int(i);
    std::vector<TrackRecord> sorted;
    sorted.reserve(m_rows.size());
    for (const int from : order)
        sorted.push_back(std::move(m_rows[std::size_t(from)]));
    m_rows.swap(sorted);
    m_folded.Reorder(order);
    std::vector<int> oldShown;
    if (m_filtered) {
        oldShown = m_shown;
        for (int &shown : m_shown)
            shown = newPosition[std::size_t(shown)];
        std::sort(m_shown.begin(), m_shown.end());
    }

    const QModelIndexList before = persistentIndexList();
    QModelIndexList after;
    after.reserve(before.size());
    for (const QModelIndex &idx : before) {
        const int source = m_filtered ? oldShown[std::size_t(idx.row())] : idx.row();
        after.append(index(RowOfSource(newPosition[std::size_t(source)]), idx.column()));
    }
    changePersistentIndexList(before, after);
    Q_EMIT layoutChanged({}, QAbstractItemModel::VerticalSortHint);
    return true;
}

void TrackListModel::SetFilename(int row, const QString &name, const QString &extension)
{
    TrackRecord &record = m_rows[Source(row)];
    const QByteArray oldKey = platform::FileNameKey(::RowFullPath(record));
    m_listed.remove(oldKey);
    UnindexPlace(oldKey, int(Source(row)));
    record[Column::Filename] = name;
    if (!extension.isNull())
        record[Column::Ext] = extension;
    const QByteArray newKey = platform::FileNameKey(::RowFullPath(record));
    m_listed.insert(newKey);
    IndexPlace(newKey, int(Source(row)));
    Refold(Source(row));
    Q_EMIT dataChanged(index(row, int(Column::Filename)), index(row, int(Column::Ext)));
}

void TrackListModel::IndexPlace(const QByteArray &key, int source) const
{
    if (m_placesValid)
        m_places.insert(qHash(key), source);
}

void TrackListModel::UnindexPlace(const QByteArray &key, int source) const
{
    if (m_placesValid)
        m_places.erase(qHash(key), source);
}

void TrackListModel::DropPlaces() const
{
    m_places.clear();
    m_placesValid = false;
}

int TrackListModel::SourceOfFile(const QString &fullPath) const
{
    const QByteArray key = platform::FileNameKey(fullPath);
    if (!m_listed.contains(key))
        return -1;
    if (!m_placesValid) {
        for (std::size_t i = 0; i < m_rows.size(); ++i)
            m_places.insert(qHash(platform::FileNameKey(::RowFullPath(m_rows[i]))), int(i));
        m_placesValid = true;
    }
    // Keys of one hash are told apart by the row's own path.
    int found = -1;
    m_places.find(qHash(key), [&](int place) {
        if (::RowFullPath(m_rows[std::size_t(place)]) != fullPath)
            return false;
        found = place;
        return true;
    });
    return found;
}

bool TrackListModel::IsListed(const QString &fullPath) const { return m_listed.contains(platform::FileNameKey(fullPath)); }

int TrackListModel::RowOfSource(int source) const
{
    if (!m_filtered)
        return source;
    const auto at = std::lower_bound(m_shown.begin(), m_shown.end(), source);
    return at != m_shown.end() && *at == source ? int(at - m_shown.begin()) : -1;
}

std::vector<int> TrackListModel::RowsOfSources(const std::vector<int> &sources) const
{
    if (!m_filtered)
        return sources;
    std::vector<int> rows;
    std::size_t row = 0;
    for (const int source : sources) {
        while (row < m_shown.size() && m_shown[row] < source)
            ++row;
        if (row == m_shown.size())
            break;
        if (m_shown[row] == source)
            rows.push_back(int(row));
    }
    return rows;
}

int TrackListModel::RowOfFile(const QString &fullPath) const
{
    const int source = SourceOfFile(fullPath);
    return source < 0 ? -1 : RowOfSource(source);
}

bool TrackListModel::FillTagCellsOfFile(const QString &fullPath, const TagFile *tag)
{
    const int source = SourceOfFile(fullPath);
    if (source < 0)
        return false;
    if (const int row = RowOfSource(source); row >= 0) {
        FillTagCells(row, tag);
    } else {
        ::FillTagCells(m_rows[std::size_t(source)], tag);
        Refold(std::size_t(source));
    }
    return true;
}

int TrackListModel::FillTagCellsOfFiles(const std::vector<std::pair<QString, TagFile>> &tags)
{
    int changed = 0;
    int firstShown = -1, lastShown = -1;
    for (const auto &[path, tag] : tags) {
        const int source = SourceOfFile(path);
        if (source < 0)
            continue;
        ::FillTagCells(m_rows[std::size_t(source)], &tag);
        Refold(std::size_t(source));
        ++changed;
        if (const int row = RowOfSource(source); row >= 0) {
            firstShown = firstShown < 0 ? row : std::min(firstShown, row);
            lastShown = std::max(lastShown, row);
        }
    }
    if (firstShown >= 0)
        Q_EMIT dataChanged(index(firstShown, int(Column::Title)), index(lastShown, int(Column::Genre)));
    return changed;
}

bool TrackListModel::SetFilenameOfFile(const QString &fullPath, const QString &name, const QString &extension)
{
    const int source = SourceOfFile(fullPath);
    if (source < 0)
        return false;
    if (const int row = RowOfSource(source); row >= 0) {
        SetFilename(row, name, extension);
        return true;
    }
    TrackRecord &record = m_rows[std::size_t(source)];
    const QByteArray oldKey = platform::FileNameKey(fullPath);
    m_listed.remove(oldKey);
    UnindexPlace(oldKey, source);
    record[Column::Filename] = name;
    if (!extension.isNull())
        record[Column::Ext] = extension;
    const QByteArray newKey = platform::FileNameKey(::RowFullPath(record));
    m_listed.insert(newKey);
    IndexPlace(newKey, source);
    Refold(std::size_t(source));
    return true;
}

bool TrackListModel::RemoveFile(const QString &fullPath)
{
    const int source = SourceOfFile(fullPath);
    if (source < 0)
        return false;
    if (const int row = RowOfSource(source); row >= 0)
        RemoveRows({row});
    else
        EraseSources({source});
    return true;
}

std::vector<TrackRecord> TrackListModel::ShownRows() const
{
    if (!m_filtered)
        return m_rows;
    std::vector<TrackRecord> rows;
    rows.reserve(m_shown.size());
    for (const int source : m_shown)
        rows.push_back(m_rows[std::size_t(source)]);
    return rows;
}

void TrackListModel::SetFilter(const TrackFilter &filter)
{
    beginResetModel();
    m_filter = filter;
    m_filtered = !filter.IsEmpty();
    m_shown.clear();
    if (m_filtered)
        m_shown = m_filter.Matching(m_rows, m_folded);
    endResetModel();
}
