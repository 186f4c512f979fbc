#include "platform/associations.h"

#include <QFile>
#include <QMimeDatabase>
#include <QProcess>
#include <QStandardPaths>
#include <QStringList>

namespace platform {

namespace {

constexpr int kQueryTimeoutMs = 3000;

QString DefaultDesktopFile(const QString &mimeType)
{
    const QString xdgMime = QStandardPaths::findExecutable(QStringLiteral("xdg-mime"));
    if (xdgMime.isEmpty())
        return QString();
    QProcess query;
    query.start(xdgMime, {QStringLiteral("query"), QStringLiteral("default"), mimeType});
    if (!query.waitForFinished(kQueryTimeoutMs) || query.exitCode() != 0)
        return QString();
    return QString::fromUtf8(query.readAllStandardOutput()).split(QLatin1Char(';')).value(0).trimmed();
}

// The program of a .desktop file's Exec line: its first word (quotes honoured), past an "env VAR=value" prefix.
QString ProgramOfDesktopFile(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return QString();
    bool inEntry = false;
    while (!file.atEnd()) {
        const QString line = QString::fromUtf8(file.readLine()).trimmed();
        if (line.startsWith(QLatin1Char('['))) {
            inEntry = line == QLatin1String("[Desktop Entry]");
            continue;
        }
        if (!inEntry || !line.startsWith(QLatin1String("Exec=")))
            continue;
        const QStringList words = QProcess::splitCommand(line.mid(5));
        qsizetype i = 0;
        if (!words.isEmpty() && words[0] == QLatin1String("env")) {
            for (i = 1; i < words.size() && words[i].contains(QLatin1Char('=')); ++i) {
            }
        }
        if (i >= words.size())
            return QString();
        const QString &program = words[i];
        return program.startsWith(QLatin1Char('/')) ? program : QStandardPaths::findExecutable(program);
    }
    return QString();
}

} // namespace

QString ProgramForFile(const QString &fileName)
{
    const QMimeDatabase database;
    QStringList types;
    for (const QMimeType &type : database.mimeTypesForFileName(fileName))
        types << type.name() << type.aliases();
    types.removeDuplicates();
    for (const QString &type : types) {
        const QString desktopFile = DefaultDesktopFile(type);
        if (desktopFile.isEmpty())
            continue;
        const QString path = QStandardPaths::locate(QStandardPaths::ApplicationsLocation, desktopFile);
        const QString program = path.isEmpty() ? QString() : ProgramOfDesktopFile(path);
        if (!program.isEmpty())
            return program;
    }
    return QString();
}

QString PlaylistPath()
{
    return QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation) + QStringLiteral("/temp.m3u");
}

bool StartProgram(const QString &program, const QString &argument)
{
    return QProcess::startDetached(program, {argument});
}

} // namespace platform
