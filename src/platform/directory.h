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
// hidden entries included. Symbolic links are reported as what they point to, except that a link to a folder
// is LinkToFolder. `visit` returns false to stop early. Returns false when the folder cannot be read.
bool ListDirectory(const QString &folder, const std::function<bool(const DirectoryEntry &)> &visit);

// The device number of a folder, or 0 when it cannot be read.
std::uint64_t DeviceOf(const QString &folder);

// The form in which two file names are equal exactly when the platform's file system treats them as the same
// name: unchanged on Linux, case-folded where names ignore case.
QByteArray FileNameKey(const QString &path);

} // namespace platform
