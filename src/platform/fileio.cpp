#include "platform/fileio.h"

#include "platform/temporaries.h"

#include "platform/names.h"

#include <QFile>

#include <cerrno>
#include <chrono>
#include <climits>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <atomic>
#include <mutex>
#include <thread>
#include <system_error>

#include <dirent.h>

#include <fcntl.h>
#include <stdio.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

namespace {

// How long an update waits for another Tunegrove process that is writing the same file.
constexpr auto kLockWait = std::chrono::seconds(10);
constexpr auto kLockPoll = std::chrono::milliseconds(20);

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
    status.device = std::uint64_t(st.st_dev);
    status.inode = std::uint64_t(st.st_ino);
    status.regular = S_ISREG(st.st_mode);
    status.folder = S_ISDIR(st.st_mode);
    status.accessed = FromTimespec(st.st_atim);
    status.modified = FromTimespec(st.st_mtim);
    status.changed = FromTimespec(st.st_ctim);
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

int StatNative(const QByteArray &native, struct stat &st)
{
    if (native.size() < PATH_MAX)
        return ::stat(native.constData(), &st) == 0 ? 0 : errno;
    const int fd = OpenPath(native, O_PATH);
    if (fd < 0)
        return errno;
    const int result = ::fstat(fd, &st) == 0 ? 0 : errno;
    ::close(fd);
    return result;
}

struct SplitPath
{
    QByteArray folder;
    QByteArray name;
};

SplitPath Split(const QByteArray &native)
{
    const qsizetype slash = native.lastIndexOf('/');
    if (slash < 0)
        return {QByteArray("."), native};
    return {slash == 0 ? QByteArray("/") : native.left(slash), native.mid(slash + 1)};
}

// Gives a new file the group of the one it replaces when we may; a group we do not belong to is lost, which is
// no reason to fail the write.
void KeepGroupIfAllowed(int fd, std::uint32_t group)
{
    if (::fchown(fd, uid_t(-1), gid_t(group)) != 0)
        return;
}

// Renames within one open folder, failing with EEXIST when `to` is taken.
int RenameNoReplaceAt(int folder, const char *from, const char *to)
{
    if (::renameat2(folder, from, folder, to, RENAME_NOREPLACE) == 0)
        return 0;
    if (errno != EINVAL && errno != ENOSYS)
        return errno;
    if (::linkat(folder, from, folder, to, 0) != 0)
        return errno;
    ::unlinkat(folder, from, 0);
    return 0;
}

// The mode a new file gets: everything the umask allows of rw-rw-rw-.
mode_t NewFileMode()
{
    static std::mutex mutex;
    const std::lock_guard<std::mutex> lock(mutex);
    const mode_t mask = ::umask(022);
    ::umask(mask);
    return 0666 & ~mask;
}

// The file a path finally names when its last component is a symbolic link (or a chain of them); the path itself
// otherwise. A link to a file that does not exist yet gives that file's path.
QByteArray FollowNameLinks(QByteArray native)
{
    for (int depth = 0; depth < 40; ++depth) {
        struct stat st{};
        if (::lstat(native.constData(), &st) != 0 || !S_ISLNK(st.st_mode))
            return native;
        QByteArray target(PATH_MAX, Qt::Uninitialized);
        const ssize_t n = ::readlink(native.constData(), target.data(), size_t(target.size()));
        if (n <= 0)
            return native;
        target.truncate(n);
        if (!target.startsWith('/')) {
            const qsizetype slash = native.lastIndexOf('/');
            target = (slash < 0 ? QByteArray() : native.left(slash + 1)) + target;
        }
        native = target;
    }
    return native;
}

} // namespace

bool FileStatus::OwnerCanWrite() const { return (mode & S_IWUSR) != 0; }

void IgnoreFileSizeSignal() { std::signal(SIGXFSZ, SIG_IGN); }

bool StandardErrorIsTerminal() { return ::isatty(STDERR_FILENO) == 1; }

QString ErrorText(int error)
{
    switch (error) {
    case kErrorFileChanged:
        return QStringLiteral("The file changed while it was being written; it was left as it was");
    case kErrorFileBusy:
        return QStringLiteral("Another Tunegrove command is writing the file");
    default:
        return QString::fromStdString(std::system_category().message(error));
    }
}

int OpenPath(const QByteArray &native, int flags, unsigned mode)
{
    flags |= O_CLOEXEC;
    if (native.size() < PATH_MAX)
        return ::open(native.constData(), flags, mode_t(mode));
    int folder = AT_FDCWD;
    qsizetype pos = 0;
    while (native.size() - pos >= PATH_MAX) {
        const qsizetype cut = native.lastIndexOf('/', pos + PATH_MAX - 2);
        if (cut <= pos) {
            if (folder != AT_FDCWD)
                ::close(folder);
            errno = ENAMETOOLONG;
            return -1;
        }
        const QByteArray part = native.mid(pos, cut - pos);
        const int next = ::openat(folder, part.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        const int error = errno;
        if (folder != AT_FDCWD)
            ::close(folder);
        if (next < 0) {
            errno = error;
            return -1;
        }
        folder = next;
        pos = cut + 1;
    }
    const int fd = ::openat(folder, native.mid(pos).constData(), flags, mode_t(mode));
    const int error = errno;
    ::close(folder);
    errno = error;
    return fd;
}

QString ResolveLinks(const QString &path)
{
    char resolved[PATH_MAX];
    if (::realpath(EncodeName(path).constData(), resolved) == nullptr)
        return path;
    return DecodeName(QByteArray(resolved));
}

int Stat(const QString &path, FileStatus &status)
{
    struct stat st{};
    if (const int error = StatNative(EncodeName(path), st))
        return error;
    FillStatus(st, status);
    return 0;
}

int StatNoFollow(const QString &path, FileStatus &status)
{
    struct stat st{};
    if (::lstat(EncodeName(path).constData(), &st) != 0)
        return errno;
    FillStatus(st, status);
    return 0;
}

FileStamp StampOfStatus(const struct ::stat &st)
{
    FileStamp stamp;
    stamp.device = std::uint64_t(st.st_dev);
    stamp.inode = std::uint64_t(st.st_ino);
    stamp.size = std::int64_t(st.st_size);
    stamp.modifiedNs = std::int64_t(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
    stamp.changedNs = std::int64_t(st.st_ctim.tv_sec) * 1000000000 + st.st_ctim.tv_nsec;
    return stamp;
}

int StampOf(const QByteArray &native, FileStamp &stamp)
{
    struct stat st{};
    if (::stat(native.constData(), &st) != 0)
        return errno;
    stamp = StampOfStatus(st);
    return 0;
}

int RenameNoReplace(const QString &from, const QString &to)
{
    const QByteArray source = EncodeName(from);
    const QByteArray target = EncodeName(to);
    if (::renameat2(AT_FDCWD, source.constData(), AT_FDCWD, target.constData(), RENAME_NOREPLACE) == 0)
        return 0;
    if (errno == EEXIST) {
        // On a file system that ignores case, "song.mp3" -> "Song.mp3" names the file itself: apply it.
        struct stat a{}, b{};
        if (::stat(source.constData(), &a) == 0 && ::stat(target.constData(), &b) == 0 && a.st_dev == b.st_dev &&
            a.st_ino == b.st_ino && source != target && from.compare(to, Qt::CaseInsensitive) == 0)
            return ::rename(source.constData(), target.constData()) == 0 ? 0 : errno;
        return EEXIST;
    }
    if (errno != EINVAL && errno != ENOSYS)
        return errno;
    // File systems without the no-replace flag: a hard link fails on a taken name; then the old name goes.
    if (::link(source.constData(), target.constData()) != 0)
        return errno;
    if (::unlink(source.constData()) != 0) {
        const int error = errno;
        ::unlink(target.constData());
        return error;
    }
    return 0;
}

namespace {

// Writes the whole of `from` into `to` (both open), then flushes it. Returns 0 or an errno value, and in `side`
// which of the two the failing call was about.
int CopyContents(int from, int to, FileSide &side)
{
    QByteArray buffer(1 << 20, Qt::Uninitialized);
    std::int64_t offset = 0;
    for (;;) {
        const ssize_t n = ::pread(from, buffer.data(), size_t(buffer.size()), off_t(offset));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            side = FileSide::Source;
            return errno;
        }
        if (n == 0)
            break;
        if (const int error = WriteAllAt(to, buffer.constData(), n, offset)) {
            side = FileSide::Target;
            return error;
        }
        offset += n;
    }
    side = FileSide::Target;
    return ::fsync(to) == 0 ? 0 : errno;
}

} // namespace

int WriteFileAtomically(const QString &path, const QByteArray &bytes)
{
    return WriteFileAtomically(path, [&bytes](const AppendBytes &append) { return append(bytes); });
}

int WriteFileAtomically(const QString &path, const std::function<int(const AppendBytes &append)> &produce)
{
    IgnoreFileSizeSignal();
    // Saving over a symbolic link writes the file it names; the link stays.
    const QByteArray native = FollowNameLinks(EncodeName(path));
    const SplitPath parts = Split(native);
    const int folder = OpenPath(parts.folder, O_RDONLY | O_DIRECTORY);
    if (folder < 0)
        return errno;
    struct stat existing{};
    const mode_t mode =
        ::fstatat(folder, parts.name.constData(), &existing, 0) == 0 ? (existing.st_mode & 07777) : NewFileMode();
    QByteArray temporary;
    const int out = CreateTemporary(folder, temporary);
    if (out < 0) {
        const int error = errno;
        ::close(folder);
        return error;
    }
    std::int64_t written = 0;
    int result = produce([&](QByteArrayView bytes) {
        const int error = WriteAllAt(out, bytes.data(), bytes.size(), written);
        written += bytes.size();
        return error;
    });
    if (result == 0 && ::fchmod(out, mode) != 0)
        result = errno;
    if (result == 0 && ::fsync(out) != 0)
        result = errno;
    if (::close(out) != 0 && result == 0)
        result = errno;
    if (result == 0 && ::renameat(folder, temporary.constData(), folder, parts.name.constData()) != 0)
        result = errno;
    if (result != 0)
        ::unlinkat(folder, temporary.constData(), 0);
    else
        ::fsync(folder);
    ::close(folder);
    return result;
}

int CopyFileTo(const QString &source, const QString &target, bool overwrite, FileSide *failed)
{
    IgnoreFileSizeSignal();
    FileSide side = FileSide::Source;
    auto fail = [&](int error) {
        if (failed)
            *failed = side;
        return error;
    };
    const QByteArray from = EncodeName(source);
    const QByteArray to = EncodeName(target);
    const int in = OpenPath(from, O_RDONLY);
    if (in < 0)
        return fail(errno);
    struct stat st{};
    const int statError = ::fstat(in, &st) == 0 ? 0 : errno;
    if (statError != 0 || !S_ISREG(st.st_mode)) {
        ::close(in);
        return fail(statError ? statError : (S_ISDIR(st.st_mode) ? EISDIR : EINVAL));
    }
    side = FileSide::Target;
    struct stat existing{};
    if (!overwrite && ::lstat(to.constData(), &existing) == 0) {
        ::close(in);
        return fail(EEXIST);
    }
    // The bytes go to a temporary name in the target folder and reach the real name only when complete, so an
    // interrupted copy never leaves a short file that looks like the song.
    const SplitPath parts = Split(to);
    const int folder = OpenPath(parts.folder, O_RDONLY | O_DIRECTORY);
    QByteArray written;
    const int out = folder >= 0 ? CreateTemporary(folder, written) : -1;
    if (out < 0) {
        const int error = errno;
        ::close(in);
        if (folder >= 0)
            ::close(folder);
        return fail(error);
    }
    int result = CopyContents(in, out, side);
    if (result == 0 && ::fchmod(out, st.st_mode & 07777) != 0)
        result = errno;
    if (result == 0) {
        const timespec times[2] = {st.st_atim, st.st_mtim};   // a copy keeps the song's date
        ::futimens(out, times);
    }
    if (::close(out) != 0 && result == 0)
        result = errno;
    ::close(in);
    if (result == 0) {
        result = overwrite ? (::renameat(folder, written.constData(), folder, parts.name.constData()) == 0 ? 0 : errno)
                           : RenameNoReplaceAt(folder, written.constData(), parts.name.constData());
        side = FileSide::Target;
    }
    if (result != 0)
        ::unlinkat(folder, written.constData(), 0);
    else
        ::fsync(folder);
    ::close(folder);
    return result == 0 ? 0 : fail(result);
}

int MoveFileTo(const QString &source, const QString &target, bool overwrite, FileSide *failed)
{
    const QByteArray from = EncodeName(source);
    int result = overwrite ? (::rename(from.constData(), EncodeName(target).constData()) == 0 ? 0 : errno)
                           : RenameNoReplace(source, target);
    if (result != EXDEV) {
        if (result != 0 && failed) {
            // A rename names both files: the source when it is gone or its folder refuses, else the target.
            struct stat st{};
            *failed = ::lstat(from.constData(), &st) != 0 || (result != EEXIST && ::access(Split(from).folder.constData(), W_OK) != 0)
                          ? FileSide::Source
                          : FileSide::Target;
        }
        return result;
    }
    // Another file system: copy completely, then let go of the source.
    if ((result = CopyFileTo(source, target, overwrite, failed)) != 0)
        return result;
    if (::unlink(from.constData()) != 0) {
        if (failed)
            *failed = FileSide::Source;
        return errno;
    }
    return 0;
}

int DeleteFile(const QString &path)
{
    // A symbolic link is removed itself, whatever the mode of the file it names.
    const QByteArray native = EncodeName(path);
    struct stat st{};
    if (::lstat(native.constData(), &st) != 0)
        return errno;
    if (!S_ISLNK(st.st_mode) && (st.st_mode & S_IWUSR) == 0)
        return EACCES;
    return ::unlink(native.constData()) == 0 ? 0 : errno;
}

int ClearReadOnly(const QString &path)
{
    // Never through a symbolic link: the file it names is not the one being replaced or deleted.
    const QByteArray native = EncodeName(path);
    struct stat st{};
    if (::lstat(native.constData(), &st) != 0 || S_ISLNK(st.st_mode) || (st.st_mode & S_IWUSR) != 0)
        return 0;   // nothing there, a link, or writable already: nothing to clear
    return ::chmod(native.constData(), (st.st_mode & 07777) | S_IWUSR) == 0 ? 0 : errno;
}

int SetModificationTime(const QString &path, const FileTime &modified)
{
    const timespec times[2] = {{0, UTIME_OMIT}, ToTimespec(modified)};
    return ::utimensat(AT_FDCWD, EncodeName(path).constData(), times, 0) == 0 ? 0 : errno;
}

bool SameFile(const QString &a, const QString &b)
{
    FileStatus first, second;
    return Stat(a, first) == 0 && Stat(b, second) == 0 && first.device == second.device && first.inode == second.inode;
}

ReadOnlyFile::~ReadOnlyFile() { Close(); }

void ReadOnlyFile::Close()
{
    if (m_fd >= 0)
        ::close(m_fd);   // also releases the update lock
    m_fd = -1;
}

int ReadOnlyFile::Open(const QString &path) { return OpenAs(path, false); }

int ReadOnlyFile::OpenForUpdate(const QString &path, bool followLinks)
{
    // Another writer may replace the file (rename a new one over it) while we wait for its lock; then the lock
    // we get is on the old file, and we start again on the new one.
    for (int attempt = 0; attempt < 8; ++attempt) {
        if (const int error = OpenAs(path, true, followLinks))
            return error;
        if (CheckUnchanged() == 0)
            return 0;
    }
    Close();
    return kErrorFileBusy;
}

int ReadOnlyFile::OpenAs(const QString &path, bool forUpdate, bool followLinks)
{
    Close();
    m_native = EncodeName(path);
    // O_NONBLOCK keeps a FIFO from blocking the open; it has no effect on regular files.
    const int fd = OpenPath(m_native, O_RDONLY | O_NONBLOCK | (followLinks ? 0 : O_NOFOLLOW));
    if (fd < 0)
        return errno;
    struct stat st{};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        const int error = errno;
        ::close(fd);
        return S_ISDIR(st.st_mode) ? EISDIR : (S_ISREG(st.st_mode) ? error : EINVAL);
    }
    m_fd = fd;
    if (forUpdate) {
        const auto deadline = std::chrono::steady_clock::now() + kLockWait;
        while (::flock(m_fd, LOCK_EX | LOCK_NB) != 0) {
            if (errno != EWOULDBLOCK && errno != EINTR) {
                const int error = errno;
                Close();
                return error;
            }
            if (std::chrono::steady_clock::now() >= deadline) {
                Close();
                return kErrorFileBusy;
            }
            std::this_thread::sleep_for(kLockPoll);
        }
        // Measure only now: the writer we waited for may have changed the file.
        if (::fstat(m_fd, &st) != 0) {
            const int error = errno;
            Close();
            return error;
        }
    }
    FillStatus(st, m_status);
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

int ReadOnlyFile::CheckUnchanged() const
{
    struct stat now{};
    if (::fstat(m_fd, &now) != 0)
        return errno;
    if (std::int64_t(now.st_size) != m_status.size || !(FromTimespec(now.st_mtim) == m_status.modified))
        return kErrorFileChanged;
    struct stat named{};
    if (StatNative(m_native, named) != 0 || named.st_dev != now.st_dev || named.st_ino != now.st_ino)
        return kErrorFileChanged;
    return 0;
}

int ReadOnlyFile::WriteInPlace(const std::vector<std::pair<std::int64_t, QByteArray>> &pieces) const
{
    IgnoreFileSizeSignal();
    for (const auto &[offset, bytes] : pieces) {
        if (offset < 0 || offset + bytes.size() > m_status.size)
            return EINVAL;   // never grow the file from here
    }
    if (const int error = CheckUnchanged())
        return error;
    const bool wasReadOnly = !m_status.OwnerCanWrite();
    if (wasReadOnly && ::fchmod(m_fd, mode_t(m_status.mode | S_IWUSR)) != 0 && errno != EPERM)
        return errno;

    int result = 0;
    const int fd = OpenPath(m_native, O_WRONLY);
    if (fd < 0) {
        result = errno;
    } else {
        struct stat st{};
        if (::fstat(fd, &st) != 0 || st.st_dev != dev_t(m_status.device) || st.st_ino != ino_t(m_status.inode))
            result = kErrorFileChanged;
        // One write call per piece: a killed process leaves each piece old or new, not half of each.
        for (std::size_t i = 0; result == 0 && i < pieces.size(); ++i)
            result = WriteAllAt(fd, pieces[i].second.constData(), pieces[i].second.size(), pieces[i].first);
        if (result == 0)
            result = FlushWritten(fd);
        if (wasReadOnly) {
            // Put back the mode and the old times, so a protected file still looks untouched.
            ::fchmod(fd, mode_t(m_status.mode));
            const timespec times[2] = {ToTimespec(m_status.accessed), ToTimespec(m_status.modified)};
            ::futimens(fd, times);
        }
        if (::close(fd) != 0 && result == 0)
            result = errno;
    }
    if (wasReadOnly)
        ::fchmod(m_fd, mode_t(m_status.mode));
    return result;
}

ReadOnlyFile::WorkingCopy::~WorkingCopy()
{
    if (m_fd >= 0) {
        ::close(m_fd);
        ::unlinkat(m_folder, m_name.constData(), 0);
    }
    if (m_folder >= 0)
        ::close(m_folder);
}

int ReadOnlyFile::CopyToWorkingCopy(WorkingCopy &copy) const
{
    IgnoreFileSizeSignal();
    const SplitPath parts = Split(m_native);
    copy.m_folder = OpenPath(parts.folder, O_RDONLY | O_DIRECTORY);
    if (copy.m_folder < 0)
        return errno;
    copy.m_fd = CreateTemporary(copy.m_folder, copy.m_name);
    if (copy.m_fd < 0)
        return errno;
    copy.m_path = DecodeName(parts.folder + '/' + copy.m_name);
    FileSide side = FileSide::Source;
    return CopyContents(m_fd, copy.m_fd, side);
}

int ReadOnlyFile::ReplaceWith(WorkingCopy &copy) const
{
    if (copy.m_fd < 0)
        return EBADF;
    int result = 0;
    if (::fchown(copy.m_fd, uid_t(m_status.owner), gid_t(m_status.group)) != 0) {
        struct stat mine{};
        if (::fstat(copy.m_fd, &mine) != 0 || mine.st_uid != uid_t(m_status.owner))
            result = EPERM;
        else
            KeepGroupIfAllowed(copy.m_fd, m_status.group);
    }
    if (result == 0 && ::fchmod(copy.m_fd, mode_t(m_status.mode)) != 0)
        result = errno;
    if (result == 0 && ::fsync(copy.m_fd) != 0)
        result = errno;
    if (result == 0)
        result = CheckUnchanged();
    const SplitPath parts = Split(m_native);
    if (result == 0 && ::renameat(copy.m_folder, copy.m_name.constData(), copy.m_folder, parts.name.constData()) != 0)
        result = errno;
    if (result != 0)
        return result;   // the destructor removes the copy
    FlushFolder(copy.m_folder);
    ::close(copy.m_fd);
    copy.m_fd = -1;
    return 0;
}

int ReadOnlyFile::Rewrite(const QByteArray &head, std::int64_t from, std::int64_t to, const QByteArray &tail,
                          bool keepTimes) const
{
    IgnoreFileSizeSignal();
    if (from < 0 || to < from || to > m_status.size)
        return EINVAL;
    const SplitPath parts = Split(m_native);
    const int folder = OpenPath(parts.folder, O_RDONLY | O_DIRECTORY);
    if (folder < 0)
        return errno;

    QByteArray temporary;
    const int target = CreateTemporary(folder, temporary);
    if (target < 0) {
        const int error = errno;
        ::close(folder);
        return error;
    }

    int result = WriteAllAt(target, head.constData(), head.size(), 0);
    std::int64_t written = head.size();
    // Copy the audio in large blocks from the file we measured; a short read means it changed under us.
    QByteArray buffer(1 << 20, Qt::Uninitialized);
    for (std::int64_t offset = from; result == 0 && offset < to;) {
        const std::int64_t want = std::min<std::int64_t>(buffer.size(), to - offset);
        const ssize_t n = ::pread(m_fd, buffer.data(), size_t(want), off_t(offset));
        if (n < 0) {
            if (errno != EINTR)
                result = errno;
            continue;
        }
        if (n == 0) {
            result = kErrorFileChanged;
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
        if (::fchown(target, uid_t(m_status.owner), gid_t(m_status.group)) != 0) {
            struct stat mine{};
            if (::fstat(target, &mine) != 0 || mine.st_uid != uid_t(m_status.owner))
                result = EPERM;
            else
                KeepGroupIfAllowed(target, m_status.group);
        }
    }
    if (result == 0 && ::fchmod(target, mode_t(m_status.mode)) != 0)
        result = errno;
    if (result == 0 && keepTimes) {
        const timespec times[2] = {ToTimespec(m_status.accessed), ToTimespec(m_status.modified)};
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
    // The last look before the rename: another program may have appended to the file or replaced it.
    if (result == 0)
        result = CheckUnchanged();
    if (result == 0 && ::renameat(folder, temporary.constData(), folder, parts.name.constData()) != 0)
        result = errno;
    if (result != 0)
        ::unlinkat(folder, temporary.constData(), 0);
    else
        FlushFolder(folder);   // makes the rename durable; some file systems cannot, and it has happened anyway
    ::close(folder);
    return result;
}

} // namespace platform
