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
    // Recorded before it is made: a kill between the two leaves a rename the next start can settle.
    platform::FileChangeNote note(platform::FileChange::Rename, oldPath, target, oldPath);
    const int error = platform::RenameNoReplace(oldPath, target);
    note.Done(error == 0, target);
    return error;
}

bool IsAccessDenied(int error) { return error == EACCES || error == EPERM || error == EROFS || error == EEXIST; }
