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

int MakePrivateFolder(const QString &path)
{
    const QString parent = path.left(path.lastIndexOf(QLatin1Char('/')));
    if (!parent.isEmpty() && !QDir().mkpath(parent))
        return EACCES;
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
