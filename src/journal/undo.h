#pragma once

#include "journal/journal.h"

#include <QString>
#include <QStringList>

#include <functional>

// Taking a command back (Undo) and doing it again (Redo) from the journal. Each is recorded as an entry of its
// own, so an undo can itself be taken back. A file another program changed since (or that is gone) is skipped
// and named; every other file is put back byte for byte, by the same safe writes the commands use.
namespace journal {

struct Outcome
{
    bool found = false;      // there was an entry to take back
    qint64 id = 0;           // the entry taken back
    QString command;
    Kind kind = Kind::Do;    // of the entry taken back
    int restored = 0;
    QStringList skipped;     // "<file>: <why>"
    QString journalError;    // the undo itself could not be journaled
    QString error;           // why nothing was done (no such entry, ...)
    bool cancelled = false;  // stopped by the user; the files done stay done, the rest stays to be taken back
    int notReached = 0;      // files a cancelled run did not come to
    int damaged = 0;         // changes of the entry that could not be read (the entry stays to be taken back)
    bool cutShort = false;   // ... and the entry ends inside a record: more of it may be lost
    bool incomplete = false; // the journal stopped taking the command's records: its later changes stay
    int already = 0;         // files that were as before already (a run cut short earlier put them back)

    // Whether everything the entry holds was put back.
    bool Whole() const { return skipped.isEmpty() && !cancelled && damaged == 0 && !cutShort && !incomplete; }
    QStringList retagged;                   // files whose tags were put back
    QList<QPair<QString, QString>> renamed; // files given back a name: from, to
    QStringList added;                      // files that are there again (a copy made again, out of the trash)
    QStringList removed;                    // files that are gone again (a copy taken away, back in the trash)
};

// What an entry's command did to the files, as an undo's outcome tells it (retagged, renamed, added, removed):
// for a window to bring its rows up to date with a command another process ran. `found` is false when the
// entry cannot be read.
Outcome ChangesOf(const QString &folder, qint64 id);

// Called before each file (0-based, of `total`); false stops the work there.
using Progress = std::function<bool(int index, int total)>;

// The entry Undo would take back now (0: none), and the one Redo would do again; entries of running commands are
// passed over.
qint64 NextUndo(const QString &folder = DefaultFolder());
qint64 NextRedo(const QString &folder = DefaultFolder());

// Takes back the newest command not yet undone (passing over commands still running), or entry `id`. An entry
// is marked undone only when all of it was put back (or could not be: files changed since); a cancelled or
// damaged one stays, and the next undo takes back the rest.
Outcome Undo(const QString &folder = DefaultFolder(), qint64 id = 0, const Progress &progress = {});
// The newest entry Undo would come to that belongs to a command still running (0: none).
qint64 RunningNewest(const QString &folder = DefaultFolder());
// Does again what the newest undo took back.
Outcome Redo(const QString &folder = DefaultFolder(), const Progress &progress = {});

} // namespace journal
