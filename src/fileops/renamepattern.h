#pragma once

#include "library/trackrecord.h"

#include <QString>

// A file name built from a row's cells by a pattern: "$A" artist, "$T" title, "$B" album, "$Y" year, "$G" genre,
// "$F" the existing name, "$K" the track as a number of at least two digits, "$#" the counter (which then goes
// up by one), "$$" one "$". Codes ignore case; "$" with any other character gives nothing, and a "$" at the end
// is dropped. The characters \ : ? * / in the result become "_".
QString ExpandRenamePattern(const QString &pattern, const TrackRecord &row, long long &counter);

// The whole new file name a rename by `pattern` gives the row: the expanded pattern and the extension (".mp3" for
// any MP3 file, whatever case it had; other files keep theirs), without blanks or dots at either end of the name.
// Empty when the pattern expands to nothing, or to none of the row's tag text: the file keeps its name.
QString RenamedFileName(const QString &pattern, const TrackRecord &row, long long &counter);
// Whether the pattern's tag codes give `row` no text at all (an untagged file), so the new name would hold only
// the pattern's own characters; RenamedFileName then gives no name. `counter` is not advanced.
bool GivesNoTagText(const QString &pattern, const TrackRecord &row, long long counter);

// The codes of `pattern` that mean nothing ("$Q"), each once, in the order they first appear.
QStringList UnknownRenameCodes(const QString &pattern);

// The three patterns offered when no history is stored.
QStringList DefaultRenamePatterns();

constexpr long long kMaxRenameCounter = 999999;
