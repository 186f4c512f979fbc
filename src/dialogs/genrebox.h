#pragma once

class QComboBox;

// The editable genre box of the tag dialogs: the genre names shown sorted; the dialogs take the box's text, so a
// genre the table lacks can be typed.
void FillGenreBox(QComboBox *box, bool withEmptyEntry);
// Selects the entry of `genre`; with no such entry, the empty entry when there is one, else nothing.
void SelectGenre(QComboBox *box, int genre);
