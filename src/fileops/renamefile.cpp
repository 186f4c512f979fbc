#include "fileops/renamefile.h"

#include "platform/fileio.h"

#include <cerrno>

QString RenameTarget(const QString &newPath)
{
    QString target = newPath;
    const qsizetype slash = target.lastIndexOf(QLatin1Char('/'));
    for (qsizetype i = slash + 1; i < target.size(); ++i) {
        if (target[i] == QLatin1Char('*') || target[i] == QLatin1Char('?') || target[i] == QLatin1Char(':'))
            target[i] = QLatin1Char('_');
    }
    return target;
}

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

int RenameFile(const QString &oldPath, const QString &newPath)
{
    return platform::RenameNoReplace(oldPath, RenameTarget(newPath));
}

bool IsAccessDenied(int error) { return error == EACCES || error == EPERM || error == EROFS || error == EEXIST; }
