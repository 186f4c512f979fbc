#include "dialogs/genrebox.h"

#include "library/tracksort.h"
#include "tags/genretable.h"

#include <QComboBox>
#include <QStringList>

#include <algorithm>

void FillGenreBox(QComboBox *box, bool withEmptyEntry)
{
    QStringList names;
    for (int i = 0; i < GenreTable::Count(); ++i)
        names.append(GenreTable::NameOf(i));
    std::sort(names.begin(), names.end(), [](const QString &a, const QString &b) { return CompareTexts(a, b) < 0; });
    box->clear();
    box->setEditable(true);
    box->setInsertPolicy(QComboBox::NoInsert);
    if (withEmptyEntry)
        box->addItem(QString());
    box->addItems(names);
    box->setCurrentIndex(-1);
}

void SelectGenre(QComboBox *box, int genre)
{
    const int found = genre >= 0 && genre < GenreTable::Count() ? box->findText(GenreTable::NameOf(genre), Qt::MatchExactly) : -1;
    if (found >= 0)
        box->setCurrentIndex(found);
    else
        box->setCurrentIndex(box->count() > 0 && box->itemText(0).isEmpty() ? 0 : -1);
    if (found < 0 && box->currentIndex() < 0)
        box->setEditText(QString());
}
