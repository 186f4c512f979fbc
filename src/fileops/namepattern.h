#pragma once

#include "library/trackrecord.h"

#include <QList>
#include <QRegularExpression>
#include <QString>

#include <utility>

class TagFile;

// Tag fields read back from file names by a pattern of the rename dialog's codes: "$A" artist, "$T" title,
// "$B" album, "$Y" year, "$K" track, "$G" genre ("$$" one "$"; codes ignore case). Every other character must
// stand in the name as it is. The pattern is matched against the file name without its extension; each "/"
// reaches one folder further up ("$A/$B/$K - $T" takes the artist from the grandparent folder's name). A text
// code takes as little text as it can, except the last, which takes the rest; "$K" and "$Y" take a whole run of
// digits and nothing else; a code never takes a "/". A code used twice must take the same text both times. Captures are trimmed of blanks.
class NamePattern
{
public:
    using Fields = QList<std::pair<Column, QString>>;

    // False, with the reason in `error`, for an empty pattern, one without codes or with a code that is not
    // one of the six ("$F", "$#" or "$Q" cannot be read back from a name).
    bool Parse(const QString &pattern, QString *error = nullptr);

    // The fields the pattern names, each once, in the order they first appear.
    QList<Column> Columns() const { return m_columns; }

    // The fields `fullPath` gives, in the order of Columns(); an empty capture is left out. False when the name
    // does not fit the pattern (or the path has fewer folders than the pattern reaches into).
    bool Match(const QString &fullPath, Fields &fields) const;

private:
    QRegularExpression m_expression;
    QList<Column> m_columns;
    int m_folders = 0;
};

// The patterns offered when no history is stored.
QStringList DefaultNamePatterns();

// Puts the fields into a tag: texts as they are, the track through SetTrack, the genre through SetGenreText (a
// name of the table becomes its number, any other text is kept).
void ApplyNameFields(const NamePattern::Fields &fields, TagFile &tag);

// The name of a field the pattern can take, as the command line and the filter spell it ("artist", "track").
QString FieldName(Column column);
