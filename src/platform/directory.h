#pragma once

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <functional>

namespace platform {

enum class EntryKind { File, Folder, LinkToFolder, Other };

struct DirectoryEntry
{
    QString name;
    EntryKind kind = EntryKind::File;
    std::uint64_t device = 0;   // the file system the entry lives on (folders only)
};

// Calls `visit` for each entry of `folder` except "." and "..", in the order the file system returns them,
// hidden entries included. A symbolic link is reported as what it points to: File for a regular file,
// LinkToFolder for a folder, Other for anything else or nothing. The folder is read whole and closed before the
// first call, so a walk that descends from `visit` holds no folder open. `visit` returns false to stop early.
// Returns false when the folder cannot be read, with the errno value in `error` when given.
bool ListDirectory(const QString &folder, const std::function<bool(const DirectoryEntry &)> &visit,
                   int *error = nullptr);

// The device number of a folder, or 0 when it cannot be read.
std::uint64_t DeviceOf(const QString &folder);

// The form in which two file names are equal exactly when the platform's file system treats them as the same
// name: unchanged on Linux, case-folded where names ignore case.
QByteArray FileNameKey(const QString &path);

} // namespace platform
