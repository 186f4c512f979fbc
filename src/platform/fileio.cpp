#include "platform/fileio.h"

#include <QFileInfo>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <system_error>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

namespace {

QByteArray Native(const QString &path) { return path.toUtf8(); }

FileTime FromTimespec(const timespec &t) { return FileTime{std::int64_t(t.tv_sec), t.tv_nsec}; }

timespec ToTimespec(const FileTime &t)
{
    timespec result{};
    result.tv_sec = time_t(t.seconds);
    result.tv_nsec = t.nanoseconds;
    return result;
}

void FillStatus(const struct stat &st, FileStatus &status)
{
    status.size = std::int64_t(st.st_size);
    status.mode = std::uint32_t(st.st_mode & 07777);
    status.owner = std::uint32_t(st.st_uid);
    status.group = std::uint32_t(st.st_gid);
    status.links = std::uint64_t(st.st_nlink);
    status.regular = S_ISREG(st.st_mode);
    status.accessed = FromTimespec(st.st_atim);
    status.modified = FromTimespec(st.st_mtim);
}

// Writes all of `data` at `offset`, retrying short writes and interrupted calls.
int WriteAllAt(int fd, const char *data, std::int64_t length, std::int64_t offset)
{
    while (length > 0) {
        const ssize_t n = ::pwrite(fd, data, size_t(length), off_t(offset));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return errno;
        }
        if (n == 0)
            return EIO;
        data += n;
        length -= n;
        offset += n;
    }
    return 0;
}

// Makes a rename in the folder durable. Some file systems cannot sync a folder; the rename has happened anyway.
void SyncFolderOf(const QString &path)
{
    const QByteArray folder = Native(QFileInfo(path).absolutePath());
    const int fd = ::open(folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return;
    ::fsync(fd);
    ::close(fd);
}

} // namespace

bool FileStatus::OwnerCanWrite() const { return (mode & S_IWUSR) != 0; }

QString ErrorText(int error) { return QString::fromStdString(std::system_category().message(error)); }

QString ResolveLinks(const QString &path)
{
    char resolved[PATH_MAX];
    if (::realpath(Native(path).constData(), resolved) == nullptr)
        return path;
    return QString::fromUtf8(resolved);
}

int Stat(const QString &path, FileStatus &status)
{
    struct stat st{};
    if (::stat(Native(path).constData(), &st) != 0)
        return errno;
    FillStatus(st, status);
    return 0;
}

ReadOnlyFile::~ReadOnlyFile()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

int ReadOnlyFile::Open(const QString &path)
{
    if (m_fd >= 0) {
        ::close(m_fd);
        m_fd = -1;
    }
    // O_NONBLOCK keeps a FIFO from blocking the open; it has no effect on regular files.
    const int fd = ::open(Native(path).constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        return errno;
    struct stat st{};
    if (::fstat(fd, &st) != 0) {
        const int error = errno;
        ::close(fd);
        return error;
    }
    FillStatus(st, m_status);
    if (!m_status.regular) {
        ::close(fd);
        return S_ISDIR(st.st_mode) ? EISDIR : EINVAL;
    }
    m_fd = fd;
    return 0;
}

int ReadOnlyFile::ReadAt(std::int64_t offset, std::int64_t length, QByteArray &out) const
{
    out.resize(qsizetype(length));
    std::int64_t done = 0;
    while (done < length) {
        const ssize_t n = ::pread(m_fd, out.data() + done, size_t(length - done), off_t(offset + done));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            out.clear();
            return errno;
        }
        if (n == 0)
            break;
        done += n;
    }
    out.resize(qsizetype(done));
    return 0;
}

int WriteInPlace(const QString &path, const std::vector<std::pair<std::int64_t, QByteArray>> &pieces)
{
    const QByteArray native = Native(path);
    FileStatus before;
    if (const int error = Stat(path, before))
        return error;
    const bool wasReadOnly = !before.OwnerCanWrite();
    if (wasReadOnly && ::chmod(native.constData(), mode_t(before.mode | S_IWUSR)) != 0 && errno != EPERM)
        return errno;

    int result = 0;
    const int fd = ::open(native.constData(), O_WRONLY | O_CLOEXEC);
    if (fd < 0) {
        result = errno;
    } else {
        for (const auto &[offset, bytes] : pieces) {
            if (offset < 0 || offset + bytes.size() > before.size) {
                result = EINVAL;   // never grow the file from here
                break;
            }
            if ((result = WriteAllAt(fd, bytes.constData(), bytes.size(), offset)) != 0)
                break;
        }
        if (result == 0 && ::fsync(fd) != 0)
            result = errno;
        if (wasReadOnly) {
            // Put back the mode and the old times, so a protected file still looks untouched.
            ::fchmod(fd, mode_t(before.mode));
            const timespec times[2] = {ToTimespec(before.accessed), ToTimespec(before.modified)};
            ::futimens(fd, times);
        }
        if (::close(fd) != 0 && result == 0)
            result = errno;
    }
    if (wasReadOnly)
        ::chmod(native.constData(), mode_t(before.mode));
    return result;
}

int RewriteFile(const QString &path, const QByteArray &head, std::int64_t from, std::int64_t to,
                const QByteArray &tail, bool keepTimes)
{
    const QByteArray native = Native(path);
    const int source = ::open(native.constData(), O_RDONLY | O_CLOEXEC);
    if (source < 0)
        return errno;
    struct stat st{};
    int error = 0;
    if (::fstat(source, &st) != 0)
        error = errno;
    else if (!S_ISREG(st.st_mode) || from < 0 || to < from || to > st.st_size)
        error = EINVAL;
    if (error != 0) {
        ::close(source);
        return error;
    }

    const QFileInfo info(path);
    QByteArray pattern = Native(info.absolutePath() + QLatin1String("/.") + info.fileName() +
                                QLatin1String(".tunegrove-XXXXXX"));
    const int target = ::mkostemp(pattern.data(), O_CLOEXEC);
    if (target < 0) {
        error = errno;
        ::close(source);
        return error;
    }

    int result = WriteAllAt(target, head.constData(), head.size(), 0);
    std::int64_t written = head.size();
    // Copy the audio in large blocks; a short read means the file changed under us, which we refuse.
    QByteArray buffer(1 << 20, Qt::Uninitialized);
    for (std::int64_t offset = from; result == 0 && offset < to;) {
        const std::int64_t want = std::min<std::int64_t>(buffer.size(), to - offset);
        const ssize_t n = ::pread(source, buffer.data(), size_t(want), off_t(offset));
        if (n < 0) {
            if (errno != EINTR)
                result = errno;
            continue;
        }
        if (n == 0) {
            result = EIO;
            break;
        }
        result = WriteAllAt(target, buffer.constData(), n, written);
        offset += n;
        written += n;
    }
    if (result == 0)
        result = WriteAllAt(target, tail.constData(), tail.size(), written);
    written += tail.size();

    if (result == 0) {
        // Keep who owns the file and who may use it. When the owner cannot be kept (another user's file in a
        // folder we may write), give up rather than hand the file to us.
        if (::fchown(target, st.st_uid, st.st_gid) != 0) {
            struct stat mine{};
            if (::fstat(target, &mine) != 0 || mine.st_uid != st.st_uid)
                result = EPERM;
            else
                ::fchown(target, uid_t(-1), st.st_gid);   // a group we do not belong to is lost, not fatal
        }
    }
    if (result == 0 && ::fchmod(target, st.st_mode & 07777) != 0)
        result = errno;
    if (result == 0 && keepTimes) {
        const timespec times[2] = {st.st_atim, st.st_mtim};
        if (::futimens(target, times) != 0)
            result = errno;
    }
    if (result == 0 && ::fsync(target) != 0)
        result = errno;
    if (result == 0) {
        struct stat check{};
        if (::fstat(target, &check) != 0)
            result = errno;
        else if (check.st_size != written)
            result = EIO;
    }
    if (::close(target) != 0 && result == 0)
        result = errno;
    ::close(source);

    if (result == 0 && ::rename(pattern.constData(), native.constData()) != 0)
        result = errno;
    if (result != 0) {
        ::unlink(pattern.constData());
        return result;
    }
    SyncFolderOf(path);
    return 0;
}

} // namespace platform
