#pragma once

#include <QString>
#include <QStringList>

class QComboBox;
class QSettings;

// A pattern box's history in the settings: a count, the selected entry and the entries, under key names of its
// own (`prefix` + "TotalCount", "Selected" and "Item%d"; the rename dialog's prefix is empty).
struct PatternHistory
{
    QString prefix;
    bool sorted = false;   // entries kept in alphabetical order

    // Fills the box with the stored entries, or `defaults` when none are stored, and selects the stored one.
    void Load(QSettings &store, QComboBox *box, const QStringList &defaults) const;
    // Adds `pattern` to the box when new, selects it and stores the box. Returns the selected index.
    int Store(QSettings &store, QComboBox *box, const QString &pattern) const;
};
