#include "platform/directory.h"

#include <algorithm>

#include "platform/fileio.h"
#include "platform/names.h"

#include <atomic>
#include <vector>

#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>

namespace platform {

namespace {

EntryKind KindOfLinkTarget(int folderFd, const char *name)
{
    struct stat target{};
    if (::fstatat(folderFd, name, &target, 0) != 0)
        return EntryKind::Other;   // dangling
    if (S_ISDIR(target.st_mode))
        return EntryKind::LinkToFolder;
    return S_ISREG(target.st_mode) ? EntryKind::File : EntryKind::Other;
}

} // namespace

bool ListDirectory(const QString &folder, const std::function<bool(DirectoryEntry &)> &visit, int *error,
                   bool stampFiles, bool folderDevices, const EntrySortKey &sortKey)
{
    const QByteArray native = EncodeName(folder);
    const int fd = OpenPath(native.isEmpty() ? QByteArray(".") : native, O_RDONLY | O_DIRECTORY);
    DIR *dir = fd >= 0 ? ::fdopendir(fd) : nullptr;
    if (!dir) {
        if (error)
            *error = errno;
        if (fd >= 0)
            ::close(fd);
        return false;
    }
    std::vector<DirectoryEntry> entries;
    int readError = 0;
    for (;;) {
        errno = 0;
        const dirent *d = ::readdir(dir);
        if (!d) {
            readError = errno;
            break;
        }
        const char *name = d->d_name;
        if (name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0')))
            continue;
        DirectoryEntry entry;
        entry.nativeName = QByteArray(name);
        entry.name = DecodeName(entry.nativeName);
        const unsigned char type = d->d_type;
        if (type == DT_REG) {
            entry.kind = EntryKind::File;
        } else if (type == DT_LNK) {
            entry.kind = KindOfLinkTarget(fd, name);
        } else if (type == DT_DIR && !folderDevices) {
            entry.kind = EntryKind::Folder;
        } else if (type == DT_DIR || type == DT_UNKNOWN) {
            // Folders need their device (so a walk can stay on one file system); unknown entries a look.
            struct stat st{};
            if (::fstatat(fd, name, &st, AT_SYMLINK_NOFOLLOW) != 0) {
                entry.kind = EntryKind::Other;
            } else if (S_ISLNK(st.st_mode)) {
                entry.kind = KindOfLinkTarget(fd, name);
            } else if (S_ISDIR(st.st_mode)) {
                entry.kind = EntryKind::Folder;
                entry.device = std::uint64_t(st.st_dev);
            } else {
                entry.kind = S_ISREG(st.st_mode) ? EntryKind::File : EntryKind::Other;
            }
        } else {
            entry.kind = EntryKind::Other;   // FIFO, socket, device
        }
        if (stampFiles && entry.kind == EntryKind::File) {
            struct stat st{};
            entry.stamped = ::fstatat(fd, name, &st, 0) == 0;
            if (entry.stamped)
                entry.stamp = StampOfStatus(st);
        }
        entries.push_back(std::move(entry));
    }
    ::closedir(dir);
    if (sortKey) {
        std::vector<std::pair<QString, std::size_t>> keys;
        keys.reserve(entries.size());
        for (std::size_t i = 0; i < entries.size(); ++i)
            keys.emplace_back(sortKey(entries[i].name), i);
        std::stable_sort(keys.begin(), keys.end(), [](const auto &a, const auto &b) { return a.first < b.first; });
        for (const auto &key : keys) {
            if (!visit(entries[key.second]))
                break;
        }
    } else {
        for (DirectoryEntry &entry : entries) {
            if (!visit(entry))
                break;
        }
    }
    if (readError != 0 && error)
        *error = readError;
    return readError == 0;
}

std::uint64_t DeviceOf(const QString &folder)
{
    FileStatus status;
    return Stat(folder, status) == 0 ? status.device : 0;
}

namespace {
std::atomic<std::uint64_t> g_untrustedDevice{0};
}

void SetUntrustedDeviceForTests(std::uint64_t device) { g_untrustedDevice.store(device); }

bool StampsAreTrustworthy(const QString &folder)
{
    if (const std::uint64_t untrusted = g_untrustedDevice.load(); untrusted != 0 && DeviceOf(folder) == untrusted)
        return false;
#ifdef __linux__
    struct statfs fs{};
    if (::statfs(EncodeName(folder).constData(), &fs) != 0)
        return false;
    switch (static_cast<unsigned long>(fs.f_type)) {
    case 0x4d44UL:       // msdos, vfat
    case 0x2011BAB0UL:   // exfat
    case 0x65735546UL:   // fuseblk: exfat-fuse, ntfs-3g and the like
    case 0x65735543UL:   // fusectl
    case 0xFF534D42UL:   // cifs
    case 0xFE534D42UL:   // smb2
    case 0x6969UL:       // nfs
        return false;
    default:
        return true;
    }
#else
    return true;
#endif
}

QByteArray FileNameKey(const QString &path) { return EncodeName(path); }

QByteArray FileNameKeyOfNative(const QByteArray &native) { return native; }

} // namespace platform
