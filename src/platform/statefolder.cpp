#include "platform/statefolder.h"

#include "platform/names.h"

#include <QDir>

#include <cerrno>

#include <sys/stat.h>

namespace platform {

QString StateFolder()
{
    QString base = QString::fromLocal8Bit(qgetenv("XDG_STATE_HOME"));
    if (base.isEmpty() || !QDir::isAbsolutePath(base))
        base = QDir::homePath() + QStringLiteral("/.local/state");
    return base + QStringLiteral("/Kestrine/Tunegrove");
}

QString CacheFolder()
{
    QString base = QString::fromLocal8Bit(qgetenv("XDG_CACHE_HOME"));
    if (base.isEmpty() || !QDir::isAbsolutePath(base))
        base = QDir::homePath() + QStringLiteral("/.cache");
    return base + QStringLiteral("/Kestrine/Tunegrove");
}

namespace {

// Makes the folders above `path` that are missing; 0 or the errno of the step that failed (a file in the way is
// "Not a directory", not a refusal).
int MakeParents(const QString &path)
{
    const QString parent = path.left(path.lastIndexOf(QLatin1Char('/')));
    if (parent.isEmpty())
        return 0;
    struct stat st{};
    if (::stat(EncodeName(parent).constData(), &st) == 0)
        return S_ISDIR(st.st_mode) ? 0 : ENOTDIR;
    if (errno != ENOENT)
        return errno;
    if (const int error = MakeParents(parent))
        return error;
    return ::mkdir(EncodeName(parent).constData(), 0777) == 0 || errno == EEXIST ? 0 : errno;
}

} // namespace

int MakePrivateFolder(const QString &path)
{
    if (const int error = MakeParents(path))
        return error;
    const QByteArray native = EncodeName(path);
    if (::mkdir(native.constData(), 0700) != 0 && errno != EEXIST)
        return errno;
    struct stat st{};
    if (::stat(native.constData(), &st) != 0)
        return errno;
    if (!S_ISDIR(st.st_mode))
        return ENOTDIR;
    if ((st.st_mode & 0077) != 0 && ::chmod(native.constData(), 0700) != 0)
        return errno;
    return 0;
}

} // namespace platform
