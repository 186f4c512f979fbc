#pragma once

// A desktop of the test's own: its shared data holds the MIME database and nothing else, so no player installed on
// the machine (mpv claims playlists) and no association of the user's is seen.

#include <QDir>
#include <QFile>
#include <QString>

namespace testdesktop {

inline void UseOwnDesktop(const QString &folder)
{
    QDir().mkpath(folder + QStringLiteral("/applications"));
    QDir().mkpath(folder + QStringLiteral("/config"));
    if (!QFileInfo::exists(folder + QStringLiteral("/mime")))
        QFile::link(QStringLiteral("/usr/share/mime"), folder + QStringLiteral("/mime"));
    qputenv("XDG_DATA_DIRS", QFile::encodeName(folder));
    qputenv("XDG_CONFIG_DIRS", QFile::encodeName(folder + QStringLiteral("/config")));
}

} // namespace testdesktop
