#include "fileops/renamefile.h"

#include "platform/changeobserver.h"
#include "platform/fileio.h"

#include <cerrno>

QString SafeFileName(const QString &name)
{
    QString safe = name;
    for (QChar &c : safe) {
        if (c == QLatin1Char('*') || c == QLatin1Char('?') || c == QLatin1Char(':') || c == QLatin1Char('/') ||
            c == QLatin1Char('\\'))
            c = QLatin1Char('_');
    }
    return safe;
}

QString RenameTarget(const QString &newPath)
{
    const qsizetype slash = newPath.lastIndexOf(QLatin1Char('/'));
    return newPath.left(slash + 1) + SafeFileName(newPath.mid(slash + 1));
}

int RenameFile(const QString &oldPath, const QString &newPath)
{
    const QString target = RenameTarget(newPath);
    const int error = platform::RenameNoReplace(oldPath, target);
    if (error == 0) {
        if (platform::ChangeObserver *observer = platform::CurrentObserver()) {
            platform::FileIdentity identity;
            platform::Identify(target, identity);
            observer->Renamed(oldPath, target, identity);
        }
    }
    return error;
}

bool IsAccessDenied(int error) { return error == EACCES || error == EPERM || error == EROFS || error == EEXIST; }
