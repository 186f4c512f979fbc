#include "platform/userfolders.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

namespace platform {

namespace {

QString ExistingFolder(const QString &path) { return !path.isEmpty() && QFileInfo(path).isDir() ? path : QString(); }

} // namespace

TopFolder UserTopFolder()
{
#ifdef Q_OS_WIN
    const QString path = ExistingFolder(QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation));
    return TopFolder{path, QFileInfo(path).fileName()};
#else
    return TopFolder{ExistingFolder(QDir::homePath()), QStringLiteral("Home")};
#endif
}

QString UserMusicFolder() { return ExistingFolder(QStandardPaths::writableLocation(QStandardPaths::MusicLocation)); }

} // namespace platform
