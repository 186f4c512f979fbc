#include "fileops/renamefile.h"

#include "platform/fileio.h"

#include <cerrno>

int RenameFile(const QString &oldPath, const QString &newPath)
{
    QString target = newPath;
    const qsizetype slash = target.lastIndexOf(QLatin1Char('/'));
    for (qsizetype i = slash + 1; i < target.size(); ++i) {
        if (target[i] == QLatin1Char('*') || target[i] == QLatin1Char('?') || target[i] == QLatin1Char(':'))
            target[i] = QLatin1Char('_');
    }
    return platform::RenameNoReplace(oldPath, target);
}

bool IsAccessDenied(int error) { return error == EACCES || error == EPERM || error == EROFS || error == EEXIST; }
