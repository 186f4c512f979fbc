#include "platform/directory.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

bool ListDirectory(const QString &folder, const std::function<bool(const DirectoryEntry &)> &visit)
{
    const QByteArray native = folder.toUtf8();
    DIR *dir = ::opendir(native.isEmpty() ? "." : native.constData());
    if (!dir)
        return false;
    const int dirFd = ::dirfd(dir);
    DirectoryEntry entry;
    while (const dirent *d = ::readdir(dir)) {
        const char *name = d->d_name;
        if (name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0')))
            continue;
        entry.name = QString::fromUtf8(name);
        entry.device = 0;
        unsigned char type = d->d_type;
        struct stat st{};
        if (type == DT_UNKNOWN || type == DT_LNK || type == DT_DIR) {
            // Folders need their device (so a walk can stay on one file system); links and unknown entries
            // need a look at what they are.
            if (::fstatat(dirFd, name, &st, AT_SYMLINK_NOFOLLOW) != 0) {
                entry.kind = EntryKind::Other;
            } else if (S_ISLNK(st.st_mode)) {
                struct stat target{};
                if (::fstatat(dirFd, name, &target, 0) == 0 && S_ISDIR(target.st_mode))
                    entry.kind = EntryKind::LinkToFolder;
                else
                    entry.kind = EntryKind::File;
            } else if (S_ISDIR(st.st_mode)) {
                entry.kind = EntryKind::Folder;
                entry.device = std::uint64_t(st.st_dev);
            } else {
                entry.kind = S_ISREG(st.st_mode) ? EntryKind::File : EntryKind::Other;
            }
        } else {
            entry.kind = type == DT_REG ? EntryKind::File : EntryKind::Other;
        }
        if (!visit(entry))
            break;
    }
    ::closedir(dir);
    return true;
}

std::uint64_t DeviceOf(const QString &folder)
{
    struct stat st{};
    return ::stat(folder.toUtf8().constData(), &st) == 0 ? std::uint64_t(st.st_dev) : 0;
}

QByteArray FileNameKey(const QString &path) { return path.toUtf8(); }

} // namespace platform
