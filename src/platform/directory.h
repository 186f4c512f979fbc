#pragma once

#include "platform/fileio.h"

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <functional>

namespace platform {

enum class EntryKind { File, Folder, LinkToFolder, Other };

struct DirectoryEntry
{
    QString name;
    QByteArray nativeName;      // the name's bytes on disk
    EntryKind kind = EntryKind::File;
    std::uint64_t device = 0;   // the file system the entry lives on (folders only)
    bool stamped = false;       // `stamp` holds the file's stamp (files only, when asked for)
    FileStamp stamp;
};

// Calls `visit` for each entry of `folder` except "." and "..", hidden entries included. A symbolic link is reported as what it points to: File for a regular file,
// LinkToFolder for a folder, Other for anything else or nothing. The folder is read whole and closed before the
// first call, so a walk that descends from `visit` holds no folder open. `visit` returns false to stop early.
// Returns false when the folder cannot be read, with the errno value in `error` when given.
// With `stampFiles`, each File entry also carries its stamp, taken while the folder is read (a look up of one
// name in an open folder, cheaper than a stat of the whole path later); an entry whose stat fails has none.
// Without `folderDevices`, a Folder entry's device is left 0 (one stat less per folder, when the file system
// reports its entries' kinds).
// `visit` may take what it wants of the entry (it is not used again).
// With `sortKey`, the entries are visited in the order of the keys it gives their names (a stable sort); else
// as the file system returns them.
using EntrySortKey = std::function<QString(const QString &name)>;
bool ListDirectory(const QString &folder, const std::function<bool(DirectoryEntry &)> &visit,
                   int *error = nullptr, bool stampFiles = false, bool folderDevices = true,
                   const EntrySortKey &sortKey = {});

// The device number of a folder, or 0 when it cannot be read.
std::uint64_t DeviceOf(const QString &folder);

// Whether the file system a folder is on keeps stamps (device, inode, size, modification and change time) that
// tell a changed file from an unchanged one. FAT-family file systems (vfat, exFAT; USB sticks and SD cards) do
// not: their change time is the modification time and their inode numbers are positions, the same on the next
// card mounted at that place; nor do network and FUSE ones. False also when it cannot be told.
bool StampsAreTrustworthy(const QString &folder);
// Tests: `device` is taken for such a file system (0: none).
void SetUntrustedDeviceForTests(std::uint64_t device);

// The form in which two file names are equal exactly when the platform's file system treats them as the same
// name: unchanged on Linux, case-folded where names ignore case.
QByteArray FileNameKey(const QString &path);
// The same for a path already in its native bytes.
QByteArray FileNameKeyOfNative(const QByteArray &native);

} // namespace platform
