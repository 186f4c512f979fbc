#include "platform/temporaries.h"

#include "platform/fileio.h"
#include "platform/names.h"

#include <QRandomGenerator>

#include <cerrno>
#include <cstring>
#include <ctime>
#include <map>
#include <mutex>
#include <utility>
#include <vector>

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

namespace {

// A temporary file untouched this long whose lock nobody holds is left over from an interrupted write.
constexpr time_t kStaleTemporaryAge = 2;

// A short random name for a temporary file, so that even a 255-byte file name can be rewritten beside itself.
QByteArray TemporaryName()
{
    static const char kChars[] = "abcdefghijklmnopqrstuvwxyz0123456789";
    QByteArray name(".tg");
    for (int i = 0; i < 8; ++i)
        name += kChars[QRandomGenerator::global()->bounded(int(sizeof kChars - 1))];
    return name;
}

bool IsTemporaryName(const char *name)
{
    if (std::strncmp(name, ".tg", 3) != 0 || std::strlen(name) != 11)
        return false;
    for (const char *c = name + 3; *c; ++c) {
        if (!((*c >= 'a' && *c <= 'z') || (*c >= '0' && *c <= '9')))
            return false;
    }
    return true;
}

// Whether this process swept an open folder for stale temporaries less than a minute ago (and notes a sweep now
// when not). Reading a folder of 100,000 names before each of 5,000 writes into it would cost more than the writes:
// a folder is swept once per command, not once per file; temporaries go stale only when a writer died.
bool SweptRecently(int folder)
{
    constexpr time_t kSweepEvery = 60;
    struct stat st{};
    if (::fstat(folder, &st) != 0)
        return false;
    static std::mutex mutex;
    static std::map<std::pair<dev_t, ino_t>, time_t> swept;
    const std::lock_guard<std::mutex> lock(mutex);
    const time_t now = ::time(nullptr);
    time_t &last = swept[{st.st_dev, st.st_ino}];
    if (last != 0 && now - last < kSweepEvery && now >= last)
        return true;
    last = now;
    if (swept.size() > 4096)
        swept.clear();   // a long-running window: forget old folders now and then
    return false;
}

} // namespace

// Removes the temporary files that an interrupted copy or tag write left in a folder. A temporary file is locked
// by its writer for as long as it is written, so one whose lock can be taken has no writer any more; the age
// test covers the moment between a writer creating its file and locking it. Reading the folder's names costs
// little beside the flushed write that follows.
void RemoveStaleTemporaries(int folder)
{
    const int copy = ::openat(folder, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (copy < 0)
        return;
    DIR *listing = ::fdopendir(copy);
    if (!listing) {
        ::close(copy);
        return;
    }
    std::vector<QByteArray> candidates;
    while (const dirent *entry = ::readdir(listing)) {
        if (IsTemporaryName(entry->d_name))
            candidates.emplace_back(entry->d_name);
    }
    ::closedir(listing);
    const time_t now = ::time(nullptr);
    for (const QByteArray &name : candidates) {
        const int fd = ::openat(folder, name.constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0)
            continue;
        struct stat st{};
        if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && now - st.st_mtim.tv_sec >= kStaleTemporaryAge &&
            ::flock(fd, LOCK_EX | LOCK_NB) == 0) {
            struct stat named{};
            // Still the same file under that name: remove it while holding its lock.
            if (::fstatat(folder, name.constData(), &named, AT_SYMLINK_NOFOLLOW) == 0 && named.st_ino == st.st_ino &&
                named.st_dev == st.st_dev)
                ::unlinkat(folder, name.constData(), 0);
        }
        ::close(fd);
    }
}

// Creates a new temporary file in an open folder under a fresh short name (set in `name`) and locks it for as long
// as it stays open; returns its descriptor, or -1 with errno set. Stale ones of earlier writers are removed first
// (once a minute per folder).
int CreateTemporary(int folder, QByteArray &name)
{
    if (!SweptRecently(folder))
        RemoveStaleTemporaries(folder);
    for (int attempt = 0; attempt < 100; ++attempt) {
        name = TemporaryName();
        const int fd = ::openat(folder, name.constData(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (fd >= 0) {
            ::flock(fd, LOCK_EX | LOCK_NB);   // a file nobody else has opened yet: never refused
            return fd;
        }
        if (errno != EEXIST)
            return fd;
    }
    return -1;
}

void RemoveStaleTemporariesIn(const QString &folder)
{
    const int fd = OpenPath(EncodeName(folder), O_RDONLY | O_DIRECTORY);
    if (fd < 0)
        return;
    RemoveStaleTemporaries(fd);
    ::close(fd);
}

} // namespace platform
