#pragma once

class QComboBox;

// The editable genre box of the tag dialogs: the genre names shown sorted, and a genre chosen only by selecting
// an entry. Text typed into the box's edit field is never taken for a genre.
void FillGenreBox(QComboBox *box, bool withEmptyEntry);
// Selects the entry of `genre`; with no such entry, the empty entry when there is one, else nothing.
void SelectGenre(QComboBox *box, int genre);
// The genre number of the selected entry; -1 for the empty entry or no selection.
int SelectedGenre(const QComboBox *box);
