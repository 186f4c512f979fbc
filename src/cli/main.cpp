// tunegrove-cli: the track library's core from the command line, for scripts and batch work.

#include "app/appsettings.h"
#include "cli/clioptions.h"
#include "tags/genretable.h"
#include "tags/tagfile.h"

#include <QCoreApplication>
#include <QSettings>

#include <cstdio>
#include <memory>

namespace {

constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;

const char kUsage[] =
    "Usage: tunegrove-cli COMMAND [OPTIONS] [FILE...]\n"
    "\n"
    "Commands:\n"
    "  show FILE...          print the tag fields of each file, tab-separated:\n"
    "                        path, title, artist, year, album, track, comment,\n"
    "                        genre number, genre name, size in KiB\n"
    "  set [FIELDS] FILE...  change tag fields; FIELDS are --title T, --artist A,\n"
    "                        --album B, --year Y, --track K, --comment C and\n"
    "                        --genre NAME|NUMBER|none\n"
    "  settings              print the stored preferences as Name=value lines\n"
    "\n"
    "Options:\n"
    "  --settings-file PATH  use this INI file instead of the user's settings\n"
    "  --help                show this text\n"
    "  --version             show the version\n";

void Print(FILE *stream, const QString &text)
{
    const QByteArray bytes = text.toUtf8();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stream);
}

void Complain(const QString &text) { Print(stderr, QStringLiteral("tunegrove-cli: %1\n").arg(text)); }

int UsageError(const QString &text)
{
    Complain(text);
    Print(stderr, QStringLiteral("Try 'tunegrove-cli --help'.\n"));
    return kExitUsage;
}

std::unique_ptr<QSettings> OpenSettings(const CliArguments &args)
{
    std::unique_ptr<QSettings> store;
    if (args.values.contains(QStringLiteral("settings-file")))
        store = std::make_unique<QSettings>(args.values.value(QStringLiteral("settings-file")), QSettings::IniFormat);
    else
        store = std::make_unique<QSettings>(QStringLiteral("Kestrine"), QStringLiteral("Tunegrove"));
    store->setFallbacksEnabled(false);
    return store;
}

int Show(const CliArguments &args)
{
    if (args.operands.isEmpty())
        return UsageError(QStringLiteral("show: no file given"));
    int status = 0;
    for (const QString &file : args.operands) {
        TagFile tag;
        if (!tag.Open(file)) {
            Complain(tag.ReadError());
            status = kExitFailed;
            continue;
        }
        const QStringList fields{tag.path,  tag.title,   tag.artist,   tag.year, tag.album, tag.track, tag.comment,
                                 QString::number(tag.genre), tag.GenreName(), tag.sizeText};
        QStringList escaped;
        for (const QString &field : fields)
            escaped.append(EscapeField(field));
        Print(stdout, escaped.join(QLatin1Char('\t')) + QLatin1Char('\n'));
    }
    return status;
}

int Set(const CliArguments &args)
{
    if (args.operands.isEmpty())
        return UsageError(QStringLiteral("set: no file given"));
    int genre = -2;   // -2: leave the genre alone
    if (args.values.contains(QStringLiteral("genre"))) {
        const QString text = args.values.value(QStringLiteral("genre"));
        bool isNumber = false;
        const int number = text.toInt(&isNumber);
        if (text.compare(QLatin1String("none"), Qt::CaseInsensitive) == 0)
            genre = -1;
        else if (isNumber && number >= 0 && number < GenreTable::Count())
            genre = number;
        else if (!isNumber && GenreTable::NumberOf(text) >= 0)
            genre = GenreTable::NumberOf(text);
        else
            return UsageError(QStringLiteral("set: unknown genre \"%1\"").arg(text));
    }

    int status = 0;
    for (const QString &file : args.operands) {
        TagFile tag;
        if (!tag.Open(file)) {
            Complain(tag.ReadError());
            status = kExitFailed;
            continue;
        }
        auto take = [&](const char *name, QString &field) {
            if (args.values.contains(QLatin1String(name)))
                field = args.values.value(QLatin1String(name));
        };
        take("title", tag.title);
        take("artist", tag.artist);
        take("album", tag.album);
        take("year", tag.year);
        take("comment", tag.comment);
        if (args.values.contains(QStringLiteral("track")))
            tag.SetTrack(args.values.value(QStringLiteral("track")));
        if (genre != -2)
            tag.genre = genre;
        QString error;
        if (!tag.Write(&error)) {
            Complain(error);
            status = kExitFailed;
        }
    }
    return status;
}

int Settings(const CliArguments &args)
{
    if (!args.operands.isEmpty())
        return UsageError(QStringLiteral("settings: unexpected argument %1").arg(args.operands.first()));
    const std::unique_ptr<QSettings> store = OpenSettings(args);
    AppSettings settings;
    settings.Load(*store);
    for (const auto &[name, value] : settings.Values())
        Print(stdout, name + QLatin1Char('=') + value + QLatin1Char('\n'));
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setOrganizationName(QStringLiteral("Kestrine"));
    QCoreApplication::setApplicationName(QStringLiteral("Tunegrove"));
    QCoreApplication::setApplicationVersion(QStringLiteral(TUNEGROVE_VERSION));
    GenreTable::Build();

    const QStringList valued{QStringLiteral("settings-file"), QStringLiteral("title"), QStringLiteral("artist"),
                             QStringLiteral("album"), QStringLiteral("year"), QStringLiteral("track"),
                             QStringLiteral("comment"), QStringLiteral("genre")};
    const QStringList flags{QStringLiteral("help"), QStringLiteral("version"), QStringLiteral("h")};
    const CliArguments args = ParseCli(app.arguments().mid(1), valued, flags);
    if (!args.error.isEmpty())
        return UsageError(args.error);
    if (args.Has(QStringLiteral("help")) || args.Has(QStringLiteral("h"))) {
        Print(stdout, QString::fromLatin1(kUsage));
        return 0;
    }
    if (args.Has(QStringLiteral("version"))) {
        Print(stdout, QStringLiteral("tunegrove-cli %1\n").arg(QStringLiteral(TUNEGROVE_VERSION)));
        return 0;
    }

    static const QStringList kFieldOptions{QStringLiteral("title"), QStringLiteral("artist"), QStringLiteral("album"),
                                           QStringLiteral("year"), QStringLiteral("track"), QStringLiteral("comment"),
                                           QStringLiteral("genre")};
    if (args.command != QLatin1String("set")) {
        for (const QString &option : kFieldOptions) {
            if (args.values.contains(option))
                return UsageError(QStringLiteral("--%1 belongs to the set command").arg(option));
        }
    }
    if (args.command == QLatin1String("show"))
        return Show(args);
    if (args.command == QLatin1String("set"))
        return Set(args);
    if (args.command == QLatin1String("settings"))
        return Settings(args);
    if (args.command.isEmpty())
        return UsageError(QStringLiteral("no command given"));
    return UsageError(QStringLiteral("unknown command \"%1\"").arg(args.command));
}
