#pragma once

#include <QStringList>

class AppSettings;

// The file extensions the list accepts, without the dot, in the order they were added.
class ExtensionSet
{
public:
    // Rebuilds the set from the extension settings; never leaves it empty (mp3 is the fallback).
    void Build(const AppSettings &settings);
    bool IsAccepted(QStringView extension) const;
    const QStringList &Entries() const { return m_entries; }

private:
    QStringList m_entries;
};
