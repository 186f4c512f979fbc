#pragma once

#include <QString>
#include <QStringList>

// The process-wide list of genre names; a genre number is an index into it and -1 means no genre.
// The table is filled once and never changes, so any thread may read it without a lock.
class GenreTable
{
public:
    // Fills the table; later calls change nothing. Every accessor builds it on first use too, so
    // code that runs before the main frame (the command line, tests) sees the same table.
    static void Build();
    static int Count();
    // The name of a genre number; callers check the range (an out-of-range number gives "").
    static QString NameOf(int number);
    // The first genre whose name equals `name` ignoring case, or -1.
    static int NumberOf(const QString &name);
    // All names in number order.
    static const QStringList &Names();
};
