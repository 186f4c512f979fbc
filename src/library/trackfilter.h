#pragma once

#include "library/foldedtexts.h"
#include "library/trackrecord.h"

#include <QString>

#include <string>
#include <string_view>
#include <vector>

// Text as a search compares it: case folded, accents and other combining marks dropped, compatibility forms
// decomposed ("Zoé" and "ZOE" both give "zoe", "ЖАННА" gives "жанна"). Plain ASCII takes a fast path.
QString FoldForSearch(QStringView text);

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

    bool Matches(const TrackRecord &record) const;
    // The same for row `row` of a list whose folded texts are kept in `folded`.
    bool Matches(const TrackRecord &record, const FoldedTexts &folded, std::size_t row) const;
    // The places of the rows that match, ascending. A term that looks in the folder is looked for once per
    // folder, not once per file.
    std::vector<int> Matching(const std::vector<TrackRecord> &rows, const FoldedTexts &folded) const;

    // The field name of a column ("track" for "Track #"), or the column of a field name (-1 when it is none).
    static QString FieldName(int column);
    static int FieldColumn(QStringView name);

private:
    struct Term
    {
        int column = -1;         // -1: any cell
        std::string needle;      // folded, UTF-8
        bool exclude = false;
        bool empty = false;      // "field:": the cell is empty or blank
        bool range = false;      // "field:A..B"
        long long low = 0, high = 0;

        bool LooksInFolder() const { return !empty && !range && (column < 0 || column == int(Column::Path)); }
    };
    // Whether the term matches a row, given its folded text and its folder's; `inFolder` is whether the needle
    // is in the folder's text when already known (-1 when not).
    static bool TermMatches(const Term &term, const TrackRecord &record, std::string_view text,
                            std::string_view folder, int inFolder);

    std::vector<Term> m_terms;
};
