#include "platform/trash.h"

#include "platform/fileio.h"
#include "platform/names.h"

#include <QDateTime>
#include <QDir>
#include <QUrl>

#include <cerrno>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

namespace {

QString DataHome()
{
    QString base = QString::fromLocal8Bit(qgetenv("XDG_DATA_HOME"));
    if (base.isEmpty() || !QDir::isAbsolutePath(base))
        base = QDir::homePath() + QStringLiteral("/.local/share");
    return QDir::cleanPath(base);
}

QString Parent(const QString &path)
{
    const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
    return slash <= 0 ? QStringLiteral("/") : path.left(slash);
}

// Makes a folder and the missing ones above it, each private; 0 or the errno of the step that failed.
int MakeFolders(const QString &path)
{
    struct stat st{};
    const QByteArray native = EncodeName(path);
    if (::lstat(native.constData(), &st) == 0)
        return S_ISDIR(st.st_mode) ? 0 : ENOTDIR;
    if (path != QLatin1String("/")) {
        if (const int error = MakeFolders(Parent(path)))
            return error;
    }
    if (::mkdir(native.constData(), 0700) != 0 && errno != EEXIST)
        return errno;
    return 0;
}

// The device of a path, or of the nearest folder above it that exists.
int DeviceOf(QString path, dev_t &device)
{
    for (;;) {
        struct stat st{};
        if (::stat(EncodeName(path).constData(), &st) == 0) {
            device = st.st_dev;
            return 0;
        }
        if (errno != ENOENT || path == QLatin1String("/"))
            return errno;
        path = Parent(path);
    }
}

// The top directory of the file system a folder is on: the highest folder above it on the same device.
QString TopDirectory(QString folder, dev_t device)
{
    while (folder != QLatin1String("/")) {
        struct stat st{};
        const QString up = Parent(folder);
        if (::stat(EncodeName(up).constData(), &st) != 0 || st.st_dev != device)
            break;
        folder = up;
    }
    return folder;
}

// The trash folder a file on `device` belongs in, made when missing; `relativeTo` is the folder the record's path
// is relative to (empty: the record holds the absolute path).
int TrashFolderFor(const QString &folder, dev_t device, QString &trash, QString &relativeTo)
{
    const QString home = DataHome() + QStringLiteral("/Trash");
    dev_t homeDevice = 0;
    if (DeviceOf(home, homeDevice) == 0 && homeDevice == device) {
        trash = home;
        relativeTo.clear();
        return MakeFolders(home);
    }
    const QString top = TopDirectory(folder, device);
    const QString uid = QString::number(::getuid());
    // An administrator's shared .Trash (sticky, no link) holds one folder per user; else .Trash-$UID.
    const QString shared = (top == QLatin1String("/") ? QString() : top) + QStringLiteral("/.Trash");
    struct stat st{};
    if (::lstat(EncodeName(shared).constData(), &st) == 0 && S_ISDIR(st.st_mode) && (st.st_mode & S_ISVTX)) {
        trash = shared + QLatin1Char('/') + uid;
        if (MakeFolders(trash) == 0) {
            relativeTo = top;
            return 0;
        }
    }
    trash = (top == QLatin1String("/") ? QString() : top) + QStringLiteral("/.Trash-") + uid;
    if (const int error = MakeFolders(trash))
        return error;
    if (::lstat(EncodeName(trash).constData(), &st) != 0)
        return errno;
    if (!S_ISDIR(st.st_mode) || st.st_uid != ::getuid())
        return EACCES;   // someone else's folder, or a link: never put the user's files there
    relativeTo = top;
    return 0;
}

int WriteRecord(const QByteArray &native, const QByteArray &text)
{
    const int fd = ::open(native.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0)
        return errno;
    const char *data = text.constData();
    qsizetype left = text.size();
    int result = 0;
    while (left > 0 && result == 0) {
        const ssize_t n = ::write(fd, data, size_t(left));
        if (n < 0 && errno != EINTR)
            result = errno;
        else if (n > 0) {
            data += n;
            left -= n;
        }
    }
    if (::close(fd) != 0 && result == 0)
        result = errno;
    if (result != 0)
        ::unlink(native.constData());
    return result;
}

QByteArray ReadRecord(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QByteArray();
    return file.read(1 << 20);
}

} // namespace

QString TrashPlace::InfoOf(const QString &file)
{
    const qsizetype slash = file.lastIndexOf(QLatin1Char('/'));
    const QString files = file.left(slash);
    return files.left(files.lastIndexOf(QLatin1Char('/'))) + QStringLiteral("/info/") + file.mid(slash + 1) +
           QStringLiteral(".trashinfo");
}

int ReserveTrash(const QString &path, TrashPlace &place)
{
    const QString absolute = QDir::cleanPath(path);
    if (!QDir::isAbsolutePath(absolute))
        return EINVAL;
    struct stat st{};
    if (::lstat(EncodeName(absolute).constData(), &st) != 0)
        return errno;
    QString trash, relativeTo;
    if (const int error = TrashFolderFor(Parent(absolute), st.st_dev, trash, relativeTo))
        return error;
    if (const int error = MakeFolders(trash + QStringLiteral("/files")))
        return error;
    if (const int error = MakeFolders(trash + QStringLiteral("/info")))
        return error;
    const QString shownPath = relativeTo.isEmpty() ? absolute : absolute.mid(relativeTo.size() + (relativeTo == QLatin1String("/") ? 0 : 1));
    place.infoText = QByteArrayLiteral("[Trash Info]\nPath=") + QUrl::toPercentEncoding(QString::fromUtf8(EncodeName(shownPath)), "/") +
                     QByteArrayLiteral("\nDeletionDate=") +
                     QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss")).toLatin1() + '\n';
    // The name is the file's own, or NAME.2.EXT, NAME.3.EXT ... when the trash holds one already.
    const QString name = absolute.mid(absolute.lastIndexOf(QLatin1Char('/')) + 1);
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    const QString stem = dot > 0 ? name.left(dot) : name;
    const QString ext = dot > 0 ? name.mid(dot) : QString();
    for (int n = 1; n < 10000; ++n) {
        const QString candidate = n == 1 ? name : QStringLiteral("%1.%2%3").arg(stem).arg(n).arg(ext);
        place.file = trash + QStringLiteral("/files/") + candidate;
        place.info = trash + QStringLiteral("/info/") + candidate + QStringLiteral(".trashinfo");
        struct stat taken{};
        if (::lstat(EncodeName(place.file).constData(), &taken) == 0)
            continue;
        const int error = WriteRecord(EncodeName(place.info), place.infoText);
        if (error == EEXIST)
            continue;
        return error;
    }
    return EEXIST;
}

int CommitTrash(const QString &path, const TrashPlace &place)
{
    const int error = RenameNoReplace(path, place.file);
    if (error != 0)
        DropTrashReservation(place);
    return error;
}

void DropTrashReservation(const TrashPlace &place)
{
    if (ReadRecord(place.info) == place.infoText)
        ::unlink(EncodeName(place.info).constData());
}

int MoveToTrash(const QString &path, TrashPlace &place)
{
    if (const int error = ReserveTrash(path, place))
        return error;
    return CommitTrash(path, place);
}

int RestoreFromTrash(const TrashPlace &place, const QString &path)
{
    if (ReadRecord(place.info) != place.infoText)
        return kErrorFileChanged;
    if (const int error = MoveFileTo(place.file, path, false))
        return error;
    ::unlink(EncodeName(place.info).constData());
    return 0;
}

} // namespace platform
