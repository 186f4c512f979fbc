#pragma once

#include "platform/fileio.h"

#include <QByteArray>
#include <QString>

// Every change Tunegrove makes to a file is announced here, before and after, so that a journal can record what
// it needs to take the change back. The observer belongs to the thread that makes the changes (one command at a
// time); without one, changes go unrecorded.
namespace platform {

// What a file is now: a later change by another program (or the file's disappearance) shows as a difference.
struct FileIdentity
{
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
    std::int64_t size = -1;
    FileTime modified;

    bool operator==(const FileIdentity &other) const
    {
        return device == other.device && inode == other.inode && size == other.size && modified == other.modified;
    }
    bool operator!=(const FileIdentity &other) const { return !(*this == other); }
};

FileIdentity IdentityOf(const FileStatus &status);
// The identity of the file a path names (links followed); 0 or an errno.
int Identify(const QString &path, FileIdentity &identity);

class ChangeObserver
{
public:
    virtual ~ChangeObserver() = default;
    // The tag regions of `path` will be replaced: the ID3v2 region at the start and the tail from the ID3v1 tag
    // on (either may be empty). Returns a number for TagsChanged. The record is durable only after MakeDurable,
    // which the writer calls before it touches any file it announced (once for a whole group of files).
    virtual quint64 TagsChanging(const QString &path, const FileIdentity &before, const QByteArray &oldHead,
                                 const QByteArray &oldTail, const QByteArray &newHead, const QByteArray &newTail) = 0;
    // Everything announced so far is on the disk: an interrupted write can be finished or taken back.
    virtual void MakeDurable() = 0;
    // Announced write `change` is done (ok) or did not happen; `after` is the file as the write left it.
    virtual void TagsChanged(quint64 change, bool ok, const FileIdentity &after) = 0;
    // A file was renamed or moved (never over another file).
    virtual void Renamed(const QString &from, const QString &to, const FileIdentity &identity) = 0;
    // A file was copied to a new name.
    virtual void Copied(const QString &source, const QString &target, const FileIdentity &identity) = 0;
    // A file went to the desktop's trash, where it now is `trashPath`.
    virtual void Trashed(const QString &path, const QString &trashPath) = 0;
    // A file was deleted or replaced for good (the trash was not used).
    virtual void Lost(const QString &path) = 0;
};

ChangeObserver *CurrentObserver();
// Installs the observer of the calling thread (nullptr: none); returns the one it replaces.
ChangeObserver *SetCurrentObserver(ChangeObserver *observer);

} // namespace platform
