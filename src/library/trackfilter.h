#pragma once

#include "library/trackrecord.h"

#include <QString>

#include <array>
#include <vector>

// A row's cells folded for searching (see FoldForSearch), one after another with U+FFFF between them, so a term
// is looked for in the whole row at once and cannot match across two cells.
struct FoldedRecord
{
    QString text;
    std::array<int, kColumnCount + 1> start{};   // where each cell begins; start[kColumnCount] is the end

    QStringView Cell(int column) const
    {
        return QStringView(text).mid(start[std::size_t(column)],
                                     start[std::size_t(column) + 1] - start[std::size_t(column)] - 1);
    }
};

// Text as a search compares it: case folded, accents and other combining marks dropped, compatibility forms
// decomposed ("Zoé" and "ZOE" both give "zoe", "ЖАННА" gives "жанна"). Plain ASCII takes a fast path.
QString FoldForSearch(QStringView text);
FoldedRecord FoldRecord(const TrackRecord &record);

// The filter language of the track list and the command line: blank-separated terms, every one of which must
// match a row.
//   word            any cell contains it (case and accents ignored)
//   field:word      that column contains it; the fields are the column titles in lower case without blanks or
//                   signs: filename ext path title artist year album track comment genre
//   field:          that column is empty (or blank)
//   "a phrase"      blanks kept; also field:"a phrase"
//   -term           rows the term matches are left out
//   field:A..B      the cell's leading number (as C's atoi reads it) lies between A and B; never an empty cell;
//                   either end may be left open (year:..1999, year:2000..)
// A word of letters before a colon that is no field name is an error (a slip would otherwise match nothing), as
// is an unclosed quote; anything else before a colon ("12:30") makes the whole term a plain one.
class TrackFilter
{
public:
    // Reads an expression; on an error returns false, sets `error` and leaves the filter as it was.
    bool Parse(const QString &expression, QString *error = nullptr);
    // Whether the filter lets every row through (no terms).
    bool IsEmpty() const { return m_terms.empty(); }

    bool Matches(const TrackRecord &record) const { return m_terms.empty() || Matches(record, FoldRecord(record)); }
    // The same with the row's folded text made already (the list keeps it, so typing does not fold 100,000 rows
    // on every key).
    bool Matches(const TrackRecord &record, const FoldedRecord &folded) const;

    // The field name of a column ("track" for "Track #"), or the column of a field name (-1 when it is none).
    static QString FieldName(int column);
    static int FieldColumn(QStringView name);

private:
    struct Term
    {
        int column = -1;         // -1: any cell
        QString needle;          // folded
        bool exclude = false;
        bool empty = false;      // "field:": the cell is empty or blank
        bool range = false;      // "field:A..B"
        long long low = 0, high = 0;
    };
    static bool TermMatches(const Term &term, const TrackRecord &record, const FoldedRecord &folded);

    std::vector<Term> m_terms;
};
