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

QString NaturalNameKey(QStringView name)
{
    // Every digit run becomes '0', its significant length and its significant digits: it sorts against other
    // characters as a digit does, and against another run by value. Then, for names equal so far, each run's
    // leading zeros and the name itself, behind a NUL (below every character: the shorter name first).
    auto isDigit = [](char16_t c) { return c >= u'0' && c <= u'9'; };
    QString key;
    key.reserve(name.size() + 8);
    QString zeros;
    for (qsizetype i = 0; i < name.size();) {
        const char16_t c = name[i].unicode();
        if (isDigit(c)) {
            qsizetype start = i;
            while (i < name.size() && name[i] == u'0')
                ++i;
            const qsizetype significant = i;
            while (i < name.size() && isDigit(name[i].unicode()))
                ++i;
            key += QChar(u'0');
            key += QChar(char16_t(0x30 + std::min<qsizetype>(i - significant, 0xFF00)));
            key += name.mid(significant, i - significant);
            zeros += QChar(char16_t(0x30 + std::min<qsizetype>(significant - start, 0xFF00)));
            continue;
        }
        key += c < 0x80 ? QChar(c >= u'A' && c <= u'Z' ? char16_t(c + 32) : c) : name[i].toCaseFolded();
        ++i;
    }
    key += QChar(u'\0');
    key += zeros;
    key += QChar(u'\0');
    key += name;
    return key;
}

bool NaturalNameLess(QStringView a, QStringView b) { return NaturalNameKey(a) < NaturalNameKey(b); }

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
