#pragma once

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <utility>
#include <vector>

// Low-level file access for the tag writer and the folder walk: reads at offsets, writes that never leave a
// damaged file behind, and the system's error texts. Functions return 0 or an errno value; they keep no
// thread-global "last error", so they are safe to call from any thread.
namespace platform {

struct FileTime
{
    std::int64_t seconds = 0;
    long nanoseconds = 0;
};

struct FileStatus
{
    std::int64_t size = 0;
    std::uint32_t mode = 0;      // permission bits only
    std::uint32_t owner = 0;
    std::uint32_t group = 0;
    std::uint64_t links = 1;
    bool regular = false;
    FileTime accessed;
    FileTime modified;

    bool OwnerCanWrite() const;
};

// The system's text for an error number, such as "No space left on device".
QString ErrorText(int error);

// Follows symbolic links to the file they name; returns the path unchanged when it cannot be resolved
// (the caller's next call then reports why).
QString ResolveLinks(const QString &path);

int Stat(const QString &path, FileStatus &status);

// A file opened for reading at given offsets. Opening anything but a regular file fails.
class ReadOnlyFile
{
public:
    ReadOnlyFile() = default;
    ~ReadOnlyFile();
    ReadOnlyFile(const ReadOnlyFile &) = delete;
    ReadOnlyFile &operator=(const ReadOnlyFile &) = delete;

    int Open(const QString &path);
    const FileStatus &Status() const { return m_status; }
    // Reads exactly `length` bytes (fewer only at the end of the file); returns 0 or an errno value.
    int ReadAt(std::int64_t offset, std::int64_t length, QByteArray &out) const;
    int Handle() const { return m_fd; }

private:
    int m_fd = -1;
    FileStatus m_status;
};

// Overwrites byte ranges of an existing file in place; the file's length does not change and nothing outside the
// ranges is touched. A file whose owner write bit is clear is made writable for the write and then gets back
// its mode and its access and modification times.
int WriteInPlace(const QString &path, const std::vector<std::pair<std::int64_t, QByteArray>> &pieces);

// Replaces `path` with head + bytes [from, to) of the current file + tail. The new content is written to a
// temporary file in the same folder, checked, flushed and renamed over the original, so the path names either
// the old file or the new one whatever happens. Owner, group and mode are kept; when `keepTimes` is set the
// new file also gets the old access and modification times.
int RewriteFile(const QString &path, const QByteArray &head, std::int64_t from, std::int64_t to,
                const QByteArray &tail, bool keepTimes);

} // namespace platform
