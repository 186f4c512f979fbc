#include "library/tracksort.h"

#include <QCollator>
#include <QHash>
#include <QLocale>

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

std::vector<SortKeys::Pass> SortKeys::Passes() const
{
    std::vector<Pass> passes;
    for (auto it = m_keys.rbegin(); it != m_keys.rend(); ++it)
        passes.push_back({*it, IsColumnSortAscending(*it)});
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

namespace {

QCollator MakeCollator()
{
    QLocale locale;
    // The C locale would make QCollator compare code points; English collation is the neutral root order.
    if (locale.language() == QLocale::C)
        locale = QLocale(QLocale::English, QLocale::UnitedStates);
    QCollator collator(locale);
    collator.setCaseSensitivity(Qt::CaseInsensitive);
    collator.setNumericMode(true);   // "2/12" before "10/12", as file managers sort
    collator.setIgnorePunctuation(false);
    return collator;
}

// One collator per thread: QCollator may not be shared between threads.
const QCollator &Collator()
{
    thread_local const QCollator collator = MakeCollator();
    return collator;
}

} // namespace

int CompareTexts(const QString &a, const QString &b) { return Collator().compare(a, b); }

bool NaturalNameLess(QStringView a, QStringView b)
{
    auto isDigit = [](QChar c) { return c >= QLatin1Char('0') && c <= QLatin1Char('9'); };
    qsizetype i = 0, j = 0;
    int zeros = 0;   // leading zeros of a than b, for a tie of all else
    while (i < a.size() && j < b.size()) {
        if (isDigit(a[i]) && isDigit(b[j])) {
            const qsizetype startA = i, startB = j;
            while (i < a.size() && a[i] == QLatin1Char('0'))
                ++i;
            while (j < b.size() && b[j] == QLatin1Char('0'))
                ++j;
            const qsizetype significantA = i, significantB = j;
            while (i < a.size() && isDigit(a[i]))
                ++i;
            while (j < b.size() && isDigit(b[j]))
                ++j;
            const qsizetype lengthA = i - significantA, lengthB = j - significantB;
            if (lengthA != lengthB)
                return lengthA < lengthB;
            const int digits = a.mid(significantA, lengthA).compare(b.mid(significantB, lengthB));
            if (digits != 0)
                return digits < 0;
            if (zeros == 0)
                zeros = int((significantA - startA) - (significantB - startB));
            continue;
        }
        const char16_t x = a[i].toCaseFolded().unicode(), y = b[j].toCaseFolded().unicode();
        if (x != y)
            return x < y;
        ++i;
        ++j;
    }
    if ((i < a.size()) != (j < b.size()))
        return j < b.size();   // the shorter name first
    if (zeros != 0)
        return zeros < 0;
    return a.compare(b) < 0;
}

void SortOrder(const std::vector<TrackRecord> &rows, std::vector<int> &order, int column, bool ascending)
{
    // Rank each distinct cell text once: a collation key per distinct text (artists, albums, years and folders
    // repeat a lot), then the rows are ordered by plain integer ranks; equal texts and texts equal but for case
    // get the same rank, so the stable sort keeps their order.
    QHash<QString, int> distinct;
    distinct.reserve(qsizetype(rows.size() / 4 + 16));
    std::vector<int> textOfRow(rows.size());
    std::vector<const QString *> texts;
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const QString &cell = rows[i].cells[std::size_t(column)];
        const auto found = distinct.constFind(cell);
        if (found != distinct.constEnd()) {
            textOfRow[i] = found.value();
        } else {
            textOfRow[i] = int(texts.size());
            distinct.insert(cell, int(texts.size()));
            texts.push_back(&cell);
        }
    }
    const QCollator &collator = Collator();
    std::vector<QCollatorSortKey> keys;
    keys.reserve(texts.size());
    for (const QString *text : texts)
        keys.push_back(collator.sortKey(*text));
    std::vector<int> byKey(texts.size());
    std::iota(byKey.begin(), byKey.end(), 0);
    std::sort(byKey.begin(), byKey.end(),
              [&](int a, int b) { return keys[std::size_t(a)].compare(keys[std::size_t(b)]) < 0; });
    std::vector<int> rank(texts.size());
    for (std::size_t i = 0; i < byKey.size(); ++i) {
        const bool same = i > 0 && keys[std::size_t(byKey[i])].compare(keys[std::size_t(byKey[i - 1])]) == 0;
        rank[std::size_t(byKey[i])] = same ? rank[std::size_t(byKey[i - 1])] : int(i);
    }
    std::stable_sort(order.begin(), order.end(), [&](int a, int b) {
        const int ra = rank[std::size_t(textOfRow[std::size_t(a)])];
        const int rb = rank[std::size_t(textOfRow[std::size_t(b)])];
        return ascending ? ra < rb : ra > rb;
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
