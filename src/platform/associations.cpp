#include "platform/associations.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
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

// The value of the Exec key of a .desktop file's main group, its string escapes (\s \n \t \r \\) undone.
QString ExecOfDesktopFile(const QString &path)
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
        if (!inEntry || !line.startsWith(QLatin1String("Exec")))
            continue;
        const qsizetype equals = line.indexOf(QLatin1Char('='));
        if (equals < 0 || line.left(equals).trimmed() != QLatin1String("Exec"))
            continue;
        const QString raw = line.mid(equals + 1).trimmed();
        QString value;
        for (qsizetype i = 0; i < raw.size(); ++i) {
            if (raw[i] != QLatin1Char('\\') || i + 1 >= raw.size()) {
                value += raw[i];
                continue;
            }
            switch (raw[++i].unicode()) {
            case 's': value += QLatin1Char(' '); break;
            case 'n': value += QLatin1Char('\n'); break;
            case 't': value += QLatin1Char('\t'); break;
            case 'r': value += QLatin1Char('\r'); break;
            case '\\': value += QLatin1Char('\\'); break;
            default: value += QLatin1Char('\\'); value += raw[i]; break;
            }
        }
        return value;
    }
    return QString();
}

} // namespace

namespace {

// Whether a program is this one: Tunegrove opens music files too (its desktop entry says so), and must never be
// taken for the player it hands them to.
bool IsThisProgram(const QString &program)
{
    const QString self = QFileInfo(QCoreApplication::applicationFilePath()).canonicalFilePath();
    const QString other = QFileInfo(program).canonicalFilePath();
    return (!self.isEmpty() && other == self) || QFileInfo(program).fileName() == QLatin1String("tunegrove");
}

} // namespace

QString ExecLineForFile(const QString &fileName)
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
        const QString exec = path.isEmpty() ? QString() : ExecOfDesktopFile(path);
        const QString program = ProgramOfExecLine(exec);
        if (!program.isEmpty() && !IsThisProgram(program))
            return exec;
    }
    return QString();
}

QString ProgramOfExecLine(const QString &exec)
{
    const QStringList words = ExecArguments(exec, QString());
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

QString ProgramForFile(const QString &fileName) { return ProgramOfExecLine(ExecLineForFile(fileName)); }

QStringList ExecArguments(const QString &exec, const QString &file)
{
    QStringList words;
    QString word;
    bool inWord = false;
    bool quoted = false;
    bool fileGiven = false;
    for (qsizetype i = 0; i < exec.size(); ++i) {
        const QChar c = exec[i];
        if (quoted) {
            if (c == QLatin1Char('"')) {
                quoted = false;
            } else if (c == QLatin1Char('\\') && i + 1 < exec.size() &&
                       QStringLiteral("\"`$\\").contains(exec[i + 1])) {
                word += exec[++i];
            } else {
                word += c;
            }
            continue;
        }
        if (c == QLatin1Char(' ') || c == QLatin1Char('\t') || c == QLatin1Char('\n')) {
            if (inWord)
                words.append(word);
            word.clear();
            inWord = false;
            continue;
        }
        inWord = true;
        if (c == QLatin1Char('"')) {
            quoted = true;
        } else if (c == QLatin1Char('%') && i + 1 < exec.size()) {
            const QChar code = exec[++i];
            if (code == QLatin1Char('%')) {
                word += QLatin1Char('%');
            } else if (QStringLiteral("fFuU").contains(code)) {
                word += file;
                fileGiven = true;
            }
            // Every other field code (%i %c %k and the deprecated ones) gives nothing.
        } else {
            word += c;
        }
    }
    if (inWord)
        words.append(word);
    // A word that was only a dropped field code is no argument at all.
    words.removeAll(QString());
    if (!fileGiven && !file.isEmpty() && !words.isEmpty())
        words.append(file);
    return words;
}

bool StartCommand(const QStringList &command)
{
    if (command.isEmpty())
        return false;
    return QProcess::startDetached(command.front(), command.mid(1));
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
