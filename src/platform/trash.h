#pragma once

#include <QByteArray>
#include <QString>

// The desktop's trash, laid out as every Linux desktop and file manager expects: a file goes to the trash of its own file
// system (the user's home trash, $XDG_DATA_HOME/Trash, when it lives there; else the top directory's
// .Trash/$UID or .Trash-$UID), as "files/NAME" beside "info/NAME.trashinfo", which says where it came from.
// Moving a file there is two steps, so that the place can be recorded before the file moves.
namespace platform {

struct TrashPlace
{
    QString file;          // where the file is (or will be) in the trash: <trash>/files/<name>
    QString info;          // its record: <trash>/info/<name>.trashinfo
    QByteArray infoText;   // what the record says (its original path and when it was deleted)

    // The record of a file in the trash, from the file's place there.
    static QString InfoOf(const QString &file);
};

// Finds the trash of `path`'s file system (created when missing) and reserves a name in it: the record is made
// exclusively, so no other program takes the name. 0 or an errno value; `path` must be absolute.
int ReserveTrash(const QString &path, TrashPlace &place);
// Moves the file into its reserved place (never over another file). On failure the reservation is dropped.
int CommitTrash(const QString &path, const TrashPlace &place);
// Drops a reservation that was not used: its record goes, if it still says what we wrote.
void DropTrashReservation(const TrashPlace &place);
// Both steps at once.
int MoveToTrash(const QString &path, TrashPlace &place);
// Brings a file back to `path` (never over another file) and drops its record. The record must still say what
// `place.infoText` says (kErrorFileChanged otherwise: another file took the name since).
int RestoreFromTrash(const TrashPlace &place, const QString &path);

} // namespace platform
