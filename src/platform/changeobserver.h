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
    FileTime changed;   // the inode's change time: an edit that puts the size and modification time back moves it

    bool operator==(const FileIdentity &other) const
    {
        return device == other.device && inode == other.inode && size == other.size && modified == other.modified &&
               changed == other.changed;
    }
    bool SameFile(const FileIdentity &other) const { return device == other.device && inode == other.inode; }
    bool operator!=(const FileIdentity &other) const { return !(*this == other); }
};

FileIdentity IdentityOf(const FileStatus &status);
// The identity of the file a path names (links followed); 0 or an errno.
int Identify(const QString &path, FileIdentity &identity);

// What a file operation does to a file, as an observer is told of it.
enum class FileChange {
    Rename,   // renamed or moved (never over another file): from -> to
    Copy,     // copied to a new name: from (the source) -> to (the copy)
    Uncopy,   // a copy taken away again: from (the source), to (the copy)
    Trash,    // put in the desktop's trash: from -> to (its place there)
    Untrash,  // brought back out of the trash: from (the file's own place) <- to (its place there)
};

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
    // Whether a tag region may be rewritten in place: only while the journal holds every announced write durably
    // (an in-place write cut short is finished from there). False: write through a new file renamed over the old.
    virtual bool InPlaceAllowed() const { return true; }
    // A file operation is about to be made (recorded first, so a kill between the two is settled at the next
    // start); `before` is the file it moves or copies, `trashRecord` the trash's record of a file put there.
    // Returns a number for FileChanged.
    virtual quint64 FileChanging(FileChange what, const QString &from, const QString &to, const FileIdentity &before,
                                 const QByteArray &trashRecord = QByteArray()) = 0;
    // Announced operation `change` was made (ok) or not; `after` is the file it left (at `to`, or at `from` for
    // Untrash).
    virtual void FileChanged(quint64 change, bool ok, const FileIdentity &after) = 0;
    // A file was deleted or replaced for good (the trash was not used).
    virtual void Lost(const QString &path) = 0;
};

// Tells the thread's observer (if any) of one file operation: before it is made, and how it went.
class FileChangeNote
{
public:
    // `subject` is the file the operation acts on, identified now.
    FileChangeNote(FileChange what, const QString &from, const QString &to, const QString &subject,
                   const QByteArray &trashRecord = QByteArray());
    // The operation was made (ok) or not; `result` is the file it left, identified now.
    void Done(bool ok, const QString &result);

private:
    ChangeObserver *m_observer = nullptr;
    quint64 m_token = 0;
};

ChangeObserver *CurrentObserver();
// Installs the observer of the calling thread (nullptr: none); returns the one it replaces.
ChangeObserver *SetCurrentObserver(ChangeObserver *observer);

} // namespace platform
