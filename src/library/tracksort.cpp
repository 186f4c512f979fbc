#include "library/tracksort.h"

#include <algorithm>
#include <numeric>

std::vector<SortKeys::Pass> SortKeys::Click(int column, bool multi)
{
    std::vector<Pass> passes;
    if (!multi) {
        m_keys.assign(1, column);
        const bool ascending = !IsColumnSortAscending(column);
        passes.push_back({column, ascending});
        SetColumnSortAscending(column, ascending);
        return passes;
    }
    const auto found = std::find(m_keys.begin(), m_keys.end(), column);
    if (found != m_keys.end())
        m_keys.erase(found);
    else if (int(m_keys.size()) == kMaxKeys)
        m_keys.erase(m_keys.begin());   // the list is full: the oldest key gives way
    m_keys.push_back(column);
    // The clicked column is the last key and is sorted first; the primary key is sorted last.
    for (auto it = m_keys.rbegin(); it != m_keys.rend(); ++it) {
        if (it == m_keys.rbegin()) {
            const bool ascending = !IsColumnSortAscending(*it);
            passes.push_back({*it, ascending});
            SetColumnSortAscending(*it, ascending);
        } else {
            passes.push_back({*it, IsColumnSortAscending(*it)});
        }
    }
    return passes;
}

void SortKeys::SetColumnSortAscending(int column, bool ascending)
{
    const std::uint64_t bit = std::uint64_t(1) << (unsigned(column) % 32);
    m_ascendingBits = ascending ? (m_ascendingBits | bit) : (m_ascendingBits & ~bit);
}

bool SortKeys::IsColumnSortAscending(int column) const
{
    return (m_ascendingBits >> (unsigned(column) % 32)) & 1;
}

QString SortKey(const QString &text) { return text.toCaseFolded(); }

int CompareFolded(const QString &a, const QString &b) { return a.compare(b); }

void SortOrder(const std::vector<TrackRecord> &rows, std::vector<int> &order, int column, bool ascending)
{
    // Fold each cell's case once per pass, not in every comparison.
    std::vector<QString> keys;
    keys.reserve(rows.size());
    for (const TrackRecord &row : rows)
        keys.push_back(SortKey(row.cells[std::size_t(column)]));
    std::stable_sort(order.begin(), order.end(), [&](int a, int b) {
        const int c = CompareFolded(keys[std::size_t(a)], keys[std::size_t(b)]);
        return ascending ? c < 0 : c > 0;
    });
}

std::vector<int> SortedOrder(const std::vector<TrackRecord> &rows, const std::vector<SortKeys::Pass> &passes)
{
    std::vector<int> order(rows.size());
    std::iota(order.begin(), order.end(), 0);
    for (const SortKeys::Pass &pass : passes)
        SortOrder(rows, order, pass.column, pass.ascending);
    return order;
}

void ApplySortPasses(std::vector<TrackRecord> &rows, const std::vector<SortKeys::Pass> &passes)
{
    const std::vector<int> order = SortedOrder(rows, passes);
    std::vector<TrackRecord> sorted;
    sorted.reserve(rows.size());
    for (const int from : order)
        sorted.push_back(std::move(rows[std::size_t(from)]));
    rows.swap(sorted);
}
