#pragma once

#include "library/trackrecord.h"

#include <QString>

#include <cstdint>
#include <vector>

// The header's sort state: the key columns in order (primary first) and each column's last direction.
// A plain click sorts by one column; a Ctrl+click appends the column as the least significant key (or moves it
// there). Each click reverses the clicked column's own direction.
class SortKeys
{
public:
    static constexpr int kMaxKeys = 64;

    struct Pass
    {
        int column;
        bool ascending;
    };

    // Applies a header click and returns the sort passes to run, in order (least significant key first).
    std::vector<Pass> Click(int column, bool multi);

    // The passes that sort by the keys as they stand, each in its current direction (nothing is reversed).
    std::vector<Pass> Passes() const;

    void SetColumnSortAscending(int column, bool ascending);
    bool IsColumnSortAscending(int column) const;
    const std::vector<int> &Keys() const { return m_keys; }

private:
    std::vector<int> m_keys;
    std::uint64_t m_ascendingBits = 0;   // only the low 32 bits are used: columns are taken modulo 32
};

// Compares texts the way the list sorts them: the system's language-aware order with case ignored, so "abc"
// and "ABC" are equal and "Été" sorts with the E's; runs of digits compare by value ("2/12" before "10/12"). Under
// the C or POSIX locale a language-neutral order is used, not byte order.
int CompareTexts(const QString &a, const QString &b);

// The order a file manager shows names in, fast enough for every folder of a walk: case ignored, runs of digits
// by value ("2" before "10"; "1" before "01" when all else is equal), other characters by their case-folded code;
// names equal but for case by their code points, so the order is total.
bool NaturalNameLess(QStringView a, QStringView b);
// A text whose plain order (QString's <) is that order: made once per name, so a folder sorts by cheap compares.
QString NaturalNameKey(QStringView name);

// Reorders `order` (indexes into `rows`) stably by one column.
void SortOrder(const std::vector<TrackRecord> &rows, std::vector<int> &order, int column, bool ascending);

// The arrangement of `rows` after the passes, each stable, in turn: the old index of each row in the new order.
std::vector<int> SortedOrder(const std::vector<TrackRecord> &rows, const std::vector<SortKeys::Pass> &passes);

// Sorts `rows` in place by the passes.
void ApplySortPasses(std::vector<TrackRecord> &rows, const std::vector<SortKeys::Pass> &passes);
