#pragma once

#include "platform/flushbatch.h"
#include "platform/temporaries.h"

#include <QByteArray>
#include <QString>

#include <functional>

#include <cstdint>
#include <utility>
#include <vector>

struct stat;

// Low-level file access for the tag writer and the folder walk: reads at offsets, writes that never leave a
// damaged file behind, and the system's error texts. Functions return 0 or an errno value (or one of the codes
// below); they keep no thread-global "last error", so they are safe to call from any thread.
namespace platform {

// Error codes of our own, beside the errno values; ErrorText knows their texts.
constexpr int kErrorFileChanged = -1001;   // the file changed, or was replaced, while it was being updated
constexpr int kErrorFileBusy = -1002;      // another program holds the file's update lock

struct FileTime
{
    std::int64_t seconds = 0;
    long nanoseconds = 0;

    bool operator==(const FileTime &other) const { return seconds == other.seconds && nanoseconds == other.nanoseconds; }
};

struct FileStatus
{
    std::int64_t size = 0;
    std::uint32_t mode = 0;      // permission bits only
    std::uint32_t owner = 0;
    std::uint32_t group = 0;
    std::uint64_t links = 1;
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
    bool regular = false;
    bool folder = false;
    FileTime accessed;
    FileTime modified;
    FileTime changed;            // the inode's change time: moves with every write, even one that puts mtime back

    bool OwnerCanWrite() const;
};

// A file-size limit must fail a write with EFBIG, not kill the process and leave a temporary file or a half
// record behind. Called before every write, since other code of the process may have put the default action back.
void IgnoreFileSizeSignal();

// The system's text for an error number, such as "No space left on device".
QString ErrorText(int error);

// Whether standard error is a terminal (a person watching), not a pipe or a file.
bool StandardErrorIsTerminal();

// Follows symbolic links to the file they name; returns the path unchanged when it cannot be resolved
// (the caller's next call then reports why).
QString ResolveLinks(const QString &path);

int Stat(const QString &path, FileStatus &status);
// The same for the path itself: a symbolic link is not followed (neither `regular` nor `folder` then).
int StatNoFollow(const QString &path, FileStatus &status);

// What tells a file's contents apart without reading them: where it lives (device, inode), its size, and its
// modification and change times to the nanosecond (the change time moves with every write, even one that puts
// the old size and modification time back).
struct FileStamp
{
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
    std::int64_t size = -1;
    std::int64_t modifiedNs = 0;
    std::int64_t changedNs = 0;

    bool operator==(const FileStamp &other) const
    {
        return device == other.device && inode == other.inode && size == other.size &&
               modifiedNs == other.modifiedNs && changedNs == other.changedNs;
    }
};

// The stamp of the file a path names (links followed); 0 or an errno.
int StampOf(const QByteArray &native, FileStamp &stamp);
// The stamp a stat result gives.
FileStamp StampOfStatus(const struct ::stat &status);

// Renames a file, failing with EEXIST when the new name is taken (never replacing it). A new name that differs
// only in letter case is applied.
int RenameNoReplace(const QString &from, const QString &to);

// Opens a path of any length: one longer than the system allows is opened folder by folder, relative to the
// folder before it. Returns a file descriptor, or -1 with errno set.
int OpenPath(const QByteArray &native, int flags, unsigned mode = 0);

// Writes `bytes` as the whole content of `path`: to a temporary file in the same folder, flushed, then renamed over
// the path, so an earlier file of that name stays as it was until the new one is complete. A new file gets the
// mode the umask allows, a replaced one keeps its mode; a path that is a symbolic link writes the file it names.
int WriteFileAtomically(const QString &path, const QByteArray &bytes);
// The same for content made as it is written: `produce` is called once with a function that appends bytes to the
// new file (it returns 0 or an errno); what `produce` returns (0 or an errno) decides whether the file replaces
// the old one.
using AppendBytes = std::function<int(QByteArrayView bytes)>;
int WriteFileAtomically(const QString &path, const std::function<int(const AppendBytes &append)> &produce);

// Which file a failed copy or move was about: the one read from or the one written.
enum class FileSide { Source, Target };

// Copies a file's bytes, mode and modification time. The bytes are written under a temporary name in the target
// folder, flushed, and only then given the target's name, so an interrupted or failed copy never leaves a short
// file under the real name. Without `overwrite` the copy fails with EEXIST when the target exists (nothing is
// touched); with it the target is replaced whole. On failure `failed` says which file the error was about.
int CopyFileTo(const QString &source, const QString &target, bool overwrite, FileSide *failed = nullptr);
// Moves a file: a rename within a file system, else a complete, flushed copy and then the source deleted. Without
// `overwrite` an existing target fails with EEXIST. When the source cannot be deleted after its copy, the copy
// stays.
int MoveFileTo(const QString &source, const QString &target, bool overwrite, FileSide *failed = nullptr);
// Deletes a file. A file whose owner write bit is clear counts as read-only and is refused with EACCES, as the
// owner (or root) could otherwise delete it without a word. A symbolic link is removed itself, never its file.
int DeleteFile(const QString &path);
// Sets the owner write bit of a file that exists; the other bits and the times stay. A symbolic link is left
// alone, and so is the file it names.
int ClearReadOnly(const QString &path);

// Sets a file's modification time (the access time stays); 0 or an errno.
int SetModificationTime(const QString &path, const FileTime &modified);
// Whether two paths name the same file (device and inode); false when either does not exist.
bool SameFile(const QString &a, const QString &b);

// A regular file opened for reading at given offsets; for an update it is also locked against other Tunegrove
// processes and written through the same open file it was measured from.
class ReadOnlyFile
{
public:
    ReadOnlyFile() = default;
    ~ReadOnlyFile();
    ReadOnlyFile(const ReadOnlyFile &) = delete;
    ReadOnlyFile &operator=(const ReadOnlyFile &) = delete;

    // Opens for reading. Opening anything but a regular file fails.
    int Open(const QString &path);
    // Opens for an update: takes the exclusive update lock (waiting a few seconds for another writer) and makes
    // sure the path still names the locked file, reopening when another writer replaced it meanwhile. Without
    // `followLinks` a path whose last part is a symbolic link is refused (ELOOP).
    int OpenForUpdate(const QString &path, bool followLinks = true);
    const FileStatus &Status() const { return m_status; }
    // Reads exactly `length` bytes (fewer only at the end of the file); returns 0 or an errno value.
    int ReadAt(std::int64_t offset, std::int64_t length, QByteArray &out) const;
    int Handle() const { return m_fd; }

    // 0 when the path still names this file and its size and modification time are as measured at open;
    // kErrorFileChanged otherwise.
    int CheckUnchanged() const;

    // Overwrites byte ranges in place, each with one write call; the length does not change and nothing outside
    // the ranges is touched. A file whose owner write bit is clear is made writable for the write and then gets
    // back its mode and its times.
    int WriteInPlace(const std::vector<std::pair<std::int64_t, QByteArray>> &pieces) const;

    // Replaces the file with head + bytes [from, to) of this open file + tail. The new content goes to a
    // temporary file in the same folder, is checked and flushed, and is renamed over the path only when the
    // file is still unchanged, so the path names either the old file or the new one whatever happens. Owner,
    // group and mode are kept; with `keepTimes` the access and modification times too.
    int Rewrite(const QByteArray &head, std::int64_t from, std::int64_t to, const QByteArray &tail,
                bool keepTimes) const;

    // A working copy of the whole file under a temporary name in its folder, for a library that edits files by
    // name. It stays locked (no sweep of stale temporary files takes it) and is removed unless ReplaceWith put it
    // in the file's place: owner, group and mode kept, flushed, renamed over the path only while the file is
    // still unchanged.
    class WorkingCopy
    {
    public:
        WorkingCopy() = default;
        ~WorkingCopy();
        WorkingCopy(const WorkingCopy &) = delete;
        WorkingCopy &operator=(const WorkingCopy &) = delete;
        QString Path() const { return m_path; }

    private:
        friend class ReadOnlyFile;
        int m_fd = -1;
        int m_folder = -1;
        QByteArray m_name;
        QString m_path;
    };
    int CopyToWorkingCopy(WorkingCopy &copy) const;
    int ReplaceWith(WorkingCopy &copy) const;

private:
    int OpenAs(const QString &path, bool forUpdate, bool followLinks = true);
    void Close();

    int m_fd = -1;
    QByteArray m_native;
    FileStatus m_status;
};

} // namespace platform
