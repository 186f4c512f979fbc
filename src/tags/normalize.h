#pragma once

#include <QString>

// Tidies a free-text tag field: blanks trimmed at both ends, runs of spaces thinned, the text in lower case with
// its first character and every letter that directly follows a space in upper case. Thinning deletes the first
// space of each pair found while stepping forward one position at a time, so runs of two or three spaces become
// one and a run of four stays two (a second pass takes it to one). Only a space starts a word: letters after a
// tab, hyphen, slash, bracket or apostrophe stay lower case. Case is changed the Unicode way, so "élan" becomes
// "Élan" and "жук" "Жук".
QString NormalizeTagText(const QString &text);
