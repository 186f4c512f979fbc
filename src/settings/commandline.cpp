#include "settings/commandline.h"

#include <QDir>
#include <QFileInfo>
#include <QUrl>

namespace {

// Qt's own command-line options, which QApplication takes out of the line itself: those that take a value, then
// those that do not. They are accepted with one or two dashes.
const QStringList kQtValued{QStringLiteral("platform"), QStringLiteral("platformpluginpath"),
                            QStringLiteral("platformtheme"), QStringLiteral("plugin"), QStringLiteral("qwindowgeometry"),
                            QStringLiteral("qwindowtitle"), QStringLiteral("qwindowicon"), QStringLiteral("display"),
                            QStringLiteral("geometry"), QStringLiteral("style"), QStringLiteral("stylesheet"),
                            QStringLiteral("session"), QStringLiteral("name"), QStringLiteral("title"),
                            QStringLiteral("qmljsdebugger")};
const QStringList kQtFlags{QStringLiteral("reverse"), QStringLiteral("nograb"), QStringLiteral("dograb"),
                           QStringLiteral("sync"), QStringLiteral("widgetcount")};

} // namespace

QString GuiUsage()
{
    return QStringLiteral(
        "Usage: tunegrove [OPTION...] [FOLDER | FILE...]\n"
        "Keep a collection of music files in order: tags, names, reports and playlists.\n"
        "\n"
        "  FOLDER          list this folder, as a click on it in the folder tree would\n"
        "  FILE...         list the files' folder and select the files\n"
        "  StartUp         start in the system tray (when the tray icon is switched on)\n"
        "  --help          show this text and exit\n"
        "  --version       show the version and exit\n"
        "\n"
        "Qt's own options (-style NAME, -platform NAME, -reverse, ...) are taken as Qt takes them.\n"
        "tunegrove-cli does the same work from the command line: see tunegrove-cli --help.\n");
}

GuiCommandLine ParseGuiCommandLine(const QStringList &arguments)
{
    GuiCommandLine result;
    QStringList operands;
    bool optionsEnded = false;
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        const QString &arg = arguments[i];
        if (optionsEnded || !arg.startsWith(QLatin1Char('-')) || arg == QLatin1String("-")) {
            if (arg == QLatin1String("StartUp") && !optionsEnded) {
                result.words.append(arg);   // a word, not a path
                continue;
            }
            operands.append(arg);
            continue;
        }
        if (arg == QLatin1String("--")) {
            optionsEnded = true;
            continue;
        }
        if (arg == QLatin1String("--help") || arg == QLatin1String("-h") || arg == QLatin1String("-help")) {
            result.action = GuiCommandLine::Action::Help;
            return result;
        }
        if (arg == QLatin1String("--version") || arg == QLatin1String("-version")) {
            result.action = GuiCommandLine::Action::Version;
            return result;
        }
        result.words.append(arg);
        QString name = arg.mid(arg.startsWith(QLatin1String("--")) ? 2 : 1);
        const qsizetype eq = name.indexOf(QLatin1Char('='));
        if (eq >= 0)
            name.truncate(eq);
        if (kQtValued.contains(name)) {
            if (eq < 0 && ++i < arguments.size())
                result.words.append(arguments[i]);   // the value follows
            if (i >= arguments.size()) {
                result.action = GuiCommandLine::Action::Error;
                result.error = QStringLiteral("option %1 needs a value").arg(arg);
                return result;
            }
            continue;
        }
        if (kQtFlags.contains(name) && eq < 0)
            continue;
        result.action = GuiCommandLine::Action::Error;
        result.error = QStringLiteral("unknown option %1").arg(arg);
        return result;
    }

    for (const QString &operand : operands) {
        // A file manager may hand over file:// addresses; anything else is a path, relative to where we started.
        const QUrl url(operand);
        const QString path = url.isLocalFile() && operand.startsWith(QLatin1String("file:"))
                                 ? url.toLocalFile()
                                 : operand;
        const QFileInfo info(QDir::current().absoluteFilePath(path));
        if (!info.exists()) {
            result.missing.append(operand);
            continue;
        }
        const QString absolute = QDir::cleanPath(info.absoluteFilePath());
        if (info.isDir()) {
            if (result.folder.isEmpty())
                result.folder = absolute;   // the first folder given is listed; later ones are not
            continue;
        }
        result.files.append(absolute);
    }
    // With no folder given, the first file's folder is listed.
    if (result.folder.isEmpty() && !result.files.isEmpty())
        result.folder = QFileInfo(result.files.front()).absolutePath();
    return result;
}
