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

// The first answer of `xdg-mime ARGS` (up to a ';'), or empty when xdg-mime is missing or fails.
QString AskXdgMime(const QStringList &args)
{
    const QString xdgMime = QStandardPaths::findExecutable(QStringLiteral("xdg-mime"));
    if (xdgMime.isEmpty())
        return QString();
    QProcess query;
    query.start(xdgMime, args);
    if (!query.waitForFinished(kQueryTimeoutMs) || query.exitCode() != 0)
        return QString();
    return QString::fromUtf8(query.readAllStandardOutput()).section(QLatin1Char(';'), 0, 0).trimmed();
}

QString DefaultDesktopFile(const QString &mimeType)
{
    return AskXdgMime({QStringLiteral("query"), QStringLiteral("default"), mimeType});
}

// The MIME type `xdg-mime query filetype` gives an existing file; empty for a missing file or without xdg-mime.
QString FileTypeOf(const QString &file)
{
    return QFileInfo(file).isFile() ? AskXdgMime({QStringLiteral("query"), QStringLiteral("filetype"), file}) : QString();
}

// The values of a key in a group of a desktop-entry style file (.desktop, mimeapps.list), in file order, as they
// stand (escapes not undone).
QStringList GroupValues(const QString &path, QLatin1String group, const QString &key)
{
    QStringList values;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return values;
    bool inGroup = false;
    while (!file.atEnd()) {
        const QString line = QString::fromUtf8(file.readLine()).trimmed();
        if (line.startsWith(QLatin1Char('['))) {
            inGroup = line.size() == group.size() + 2 && QStringView(line).mid(1, group.size()) == group &&
                      line.endsWith(QLatin1Char(']'));
            continue;
        }
        const qsizetype equals = line.indexOf(QLatin1Char('='));
        if (inGroup && equals > 0 && QStringView(line).left(equals).trimmed() == key)
            values.append(line.mid(equals + 1).trimmed());
    }
    return values;
}

// The value of the Exec key of a .desktop file's main group, its string escapes (\s \n \t \r \\) undone.
QString ExecOfDesktopFile(const QString &path)
{
    const QString raw = GroupValues(path, QLatin1String("Desktop Entry"), QStringLiteral("Exec")).value(0);
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

// The desktop files the user's own mimeapps.list files name as the default for a type, in the order the
// desktop reads them: the desktop's own list, then the general one, in the config home and then the data home.
QStringList UserDefaults(const QString &type)
{
    const QString config = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
    const QString data = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    QStringList lists;
    const QStringList desktops = qEnvironmentVariable("XDG_CURRENT_DESKTOP").toLower().split(QLatin1Char(':'), Qt::SkipEmptyParts);
    for (const QString &folder : {config, data + QStringLiteral("/applications")}) {
        for (const QString &desktop : desktops)
            lists << folder + QLatin1Char('/') + desktop + QStringLiteral("-mimeapps.list");
        lists << folder + QStringLiteral("/mimeapps.list");
    }
    QStringList found;
    for (const QString &list : lists) {
        for (const QString &value : GroupValues(list, QLatin1String("Default Applications"), type)) {
            for (const QString &entry : value.split(QLatin1Char(';'), Qt::SkipEmptyParts))
                found << entry.trimmed();
        }
    }
    return found;
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

namespace {

// The Exec line of the first usable handler of the types, in their order: the user's own defaults for every
// type first (what the user chose stands before what some installed program claims for another of the types),
// then xdg-mime's answer for each.
QString ExecLineForTypes(const QStringList &types)
{
    auto usable = [](const QString &desktopFile) {
        if (desktopFile.isEmpty())
            return QString();
        const QString path = QStandardPaths::locate(QStandardPaths::ApplicationsLocation, desktopFile);
        const QString exec = path.isEmpty() ? QString() : ExecOfDesktopFile(path);
        const QString program = ProgramOfExecLine(exec);
        return !program.isEmpty() && !IsThisProgram(program) ? exec : QString();
    };
    for (const QString &type : types) {
        for (const QString &desktopFile : UserDefaults(type)) {
            if (const QString exec = usable(desktopFile); !exec.isEmpty())
                return exec;
        }
    }
    for (const QString &type : types) {
        if (const QString exec = usable(DefaultDesktopFile(type)); !exec.isEmpty())
            return exec;
    }
    return QString();
}

} // namespace

QString ExecLineForFile(const QString &file)
{
    const QMimeDatabase database;
    QStringList types;
    for (const QMimeType &type : database.mimeTypesForFileName(QFileInfo(file).fileName()))
        types << type.name() << type.aliases();
    types.removeDuplicates();
    // The type the desktop itself gives the file goes first, when it is one the name allows: "temp.m3u" is
    // audio/x-mpegurl and application/vnd.apple.mpegurl by name, and a bare desktop's xdg-mime, which asks
    // file(1), calls its contents text/plain (a text editor is no player).
    if (const QString own = FileTypeOf(file); types.contains(own)) {
        types.removeAll(own);
        types.prepend(own);
    }
    return ExecLineForTypes(types);
}

QString ExecLineForScheme(const QString &scheme)
{
    return ExecLineForTypes({QStringLiteral("x-scheme-handler/") + scheme});
}

bool CanAskDesktop() { return !QStandardPaths::findExecutable(QStringLiteral("xdg-mime")).isEmpty(); }

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

bool StartCommand(const QStringList &command, QString *why)
{
    auto fail = [why](const QString &reason) {
        if (why)
            *why = reason;
        return false;
    };
    if (command.isEmpty() || command.front().isEmpty())
        return fail(QCoreApplication::translate("platform", "no program is named"));
    const QString &name = command.front();
    const QString program = name.contains(QLatin1Char('/')) ? name : QStandardPaths::findExecutable(name);
    const QFileInfo info(program);
    if (program.isEmpty() || !info.exists())
        return fail(QCoreApplication::translate("platform", "%1: no such program").arg(name));
    if (!info.isFile() || !info.isExecutable())
        return fail(QCoreApplication::translate("platform", "%1: not a program this user may run").arg(program));
    if (!QProcess::startDetached(program, command.mid(1)))
        return fail(QCoreApplication::translate("platform", "%1: the system could not run it (a script's interpreter "
                                                            "may be missing)").arg(program));
    return true;
}

QString PlaylistPath()
{
    return QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation) + QStringLiteral("/temp.m3u");
}

} // namespace platform
