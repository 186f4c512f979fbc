#include "dialogs/patternhistory.h"

#include <QComboBox>
#include <QSettings>

#include <algorithm>

namespace {

// Integers in an INI file come back as text in a new process: parse them, with a default when that fails.
long long StoredNumber(const QSettings &store, const QString &key, long long fallback)
{
    bool ok = false;
    const long long value = store.value(key).toString().toLongLong(&ok);
    return ok ? value : fallback;
}

void SortBox(QComboBox *box)
{
    QStringList items;
    for (int i = 0; i < box->count(); ++i)
        items.append(box->itemText(i));
    std::sort(items.begin(), items.end(), [](const QString &a, const QString &b) {
        const int c = QString::localeAwareCompare(a, b);
        return c != 0 ? c < 0 : a < b;
    });
    box->clear();
    box->addItems(items);
}

} // namespace

void PatternHistory::Load(QSettings &store, QComboBox *box, const QStringList &defaults) const
{
    const long long count = StoredNumber(store, prefix + QStringLiteral("TotalCount"), 0);
    if (count <= 0) {
        box->addItems(defaults);
    } else {
        for (long long i = 0; i < count; ++i) {
            const QString item = store.value(prefix + QStringLiteral("Item%1").arg(i)).toString();
            if (!item.isEmpty())
                box->addItem(item);
        }
    }
    if (sorted)
        SortBox(box);
    const long long selected = std::max<long long>(0, StoredNumber(store, prefix + QStringLiteral("Selected"), 0));
    box->setCurrentIndex(selected < box->count() ? int(selected) : -1);
}

int PatternHistory::Store(QSettings &store, QComboBox *box, const QString &pattern) const
{
    auto find = [&] { return box->findText(pattern, Qt::MatchExactly | Qt::MatchCaseSensitive); };
    if (!pattern.isEmpty() && find() < 0) {
        box->addItem(pattern);
        if (sorted)
            SortBox(box);
    }
    const int selected = pattern.isEmpty() ? box->currentIndex() : find();
    box->setCurrentIndex(selected);
    store.setValue(prefix + QStringLiteral("TotalCount"), box->count());
    store.setValue(prefix + QStringLiteral("Selected"), selected);
    for (int i = 0; i < box->count(); ++i)
        store.setValue(prefix + QStringLiteral("Item%1").arg(i), box->itemText(i));
    store.sync();
    return selected;
}
