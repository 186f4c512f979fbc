#pragma once

// The entry files of the journal as the recorder, the readers and the recovery share them: the records' types
// and framing, and the helpers that read and write them. Internal to the journal.

#include "journal/journal.h"
#include "platform/fileio.h"

#include <QByteArray>
#include <QFile>
#include <QList>
#include <QString>

class QDataStream;

namespace journal::entryfile {

// A record on disk: its length (4 bytes, big-endian), its type (1 byte), an MD5 of type and payload (16 bytes),
// then the payload. A record cut short by a crash ends the entry there; one that fails its check is damage.
inline constexpr int kFrameHeader = 4 + 1 + 16;
inline constexpr char kHeader = 'H';
inline constexpr char kTagPlanned = 'T';
inline constexpr char kTagSettled = 'D';
inline constexpr char kFilePlanned = 'P';   // a rename, copy or trash move about to be made
inline constexpr char kFileSettled = 'S';   // how it went
inline constexpr char kRename = 'R';        // entries of earlier versions: file operations recorded after they were made
inline constexpr char kCopy = 'C';
inline constexpr char kTrash = 'X';
inline constexpr char kLost = 'L';
inline constexpr char kClosed = 'E';   // the last record of an entry whose command ended: nothing in it to recover
// Entries of format 2 keep the change time in every identity and record file operations before they are made.
inline constexpr qint32 kFormat = 2;
inline const QString kSuffix = QStringLiteral(".tgj");
inline const QString kUndoneSuffix = QStringLiteral(".undone");
inline const QString kIncompleteSuffix = QStringLiteral(".incomplete");

// What reading an entry's records found besides them.
struct Scan
{
    int damaged = 0;       // whole records whose check fails
    bool torn = false;     // the entry ends inside a record
    qint64 wholeEnd = 0;   // where the last whole record ends
};

QString tr(const char *text);
QString EntryPath(const QString &folder, qint64 id);
// Removes an entry and the markers beside it.
void RemoveEntry(const QString &path);
void Put(QDataStream &out, const platform::FileIdentity &id);
QByteArray Native(const QString &path);
// A record as it is written: length, type, check, payload.
QByteArray Frame(char type, const QByteArray &payload);
// Whether an entry's last record says its command ended (read from the end, so a long entry costs one read).
bool EndsClosed(int fd);
// Cuts an entry back to its whole records. A failure leaves a torn record at the end, which recovery cuts later.
void CutBack(int fd, qint64 size);
// 0 or an errno.
int WriteAll(int fd, const QByteArray &bytes);
// The numbers of the entries in `folder`, oldest first.
QList<qint64> EntryIds(const QString &folder);
// Reads an entry; with `changes` null only what a list shows. Returns whether its header could be read.
bool ParseEntry(QFile &file, EntryInfo &info, QList<Change> *changes, bool verify, Scan *scanned = nullptr);
bool OpenEntry(const QString &folder, qint64 id, QFile &file, EntryInfo &info);

} // namespace journal::entryfile
