// tunegrove-cli: the track library's core from the command line, for scripts and batch work.

#include "settings/appsettings.h"
#include "cli/clioptions.h"
#include "cli/clicommon.h"
#include "cli/listcommands.h"
#include "cli/progressmeter.h"
#include "fileops/namepattern.h"
#include "fileops/renamefile.h"
#include "fileops/renamepattern.h"
#include "journal/journal.h"
#include "journal/undo.h"
#include "platform/fileio.h"
#include "platform/names.h"
#include "tags/audioproperties.h"
#include "tags/genretable.h"
#include "tags/normalize.h"
#include "tags/picture.h"
#include "tags/tagfile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QSaveFile>

#include <QCoreApplication>
#include <QSettings>

#include <cerrno>
#include <cstdio>
#include <memory>
#include <vector>

using namespace cli;

namespace {

const char kUsage[] =
    "Usage: tunegrove-cli COMMAND [OPTIONS] [FILE...]\n"
    "\n"
    "Commands:\n"
    "  show FILE...          print the tag fields of each file, tab-separated:\n"
    "                        path, title, artist, year, album, track, comment,\n"
    "                        genre number, genre name, size in KiB, length (m:ss),\n"
    "                        bit rate in kbit/s (~ for a variable one), sample rate,\n"
    "                        channels, format (MP3, FLAC, Ogg Vorbis, Opus, AAC, ...)\n"
    "  set [FIELDS] FILE...  change tag fields; FIELDS are --title T, --artist A,\n"
    "                        --album B, --year Y, --track K (3, or 3/12 with the\n"
    "                        total), --comment C and\n"
    "                        --genre TEXT|NUMBER|none (a name of the genre table is\n"
    "                        its number, other text is written as it stands);\n"
    "                        --cover IMAGE sets the front\n"
    "                        cover (JPEG or PNG, at most 16 MiB): an MP3's APIC\n"
    "                        frame, a FLAC PICTURE block, an Ogg Vorbis or Opus\n"
    "                        METADATA_BLOCK_PICTURE (each of type 3, front cover),\n"
    "                        an M4A file's first covr image; --cover none removes\n"
    "                        front covers (other pictures and further covr images\n"
    "                        stay)\n"
    "  cover FILE -o IMAGE   write the bytes of a file's front cover to IMAGE\n"
    "                        (- for standard output); exit 1 when it has none\n"
    "  fromname --pattern P [--dry-run] FILE...\n"
    "                        set tag fields from the file names: the codes $A $T $B\n"
    "                        $Y $K $G ($$ a dollar sign) take text, any other\n"
    "                        character must stand in the name; \"/\" reaches into\n"
    "                        the folder above (\"$A/$B/$K - $T\"); $K and $Y take\n"
    "                        digits; prints path<TAB>field=value...; --dry-run\n"
    "                        changes nothing; a name that does not fit is named on\n"
    "                        stderr and left alone (exit 1)\n"
    "  list [-r] [--sort COL[,COL...]] [--filter EXPR] [--no-cache] FOLDER...\n"
    "                        print the rows that listing the folders gives, one per\n"
    "                        line, the ten cells tab-separated; -r walks subfolders;\n"
    "                        --sort clicks the named column headers in turn (a name\n"
    "                        or number 0-9; a leading + is a Ctrl+click); a folder\n"
    "                        that cannot be read is named on stderr (exit 1)\n"
    "                        --filter keeps the rows every term of EXPR matches:\n"
    "                        word (any column), field:word, field: (empty),\n"
    "                        \"a phrase\", -term (leave out), field:A..B (numbers);\n"
    "                        fields: filename ext path title artist year album\n"
    "                        track comment genre; case and accents are ignored\n"
    "                        --no-cache reads every file's tags (the tag cache in\n"
    "                        ~/.cache/Kestrine/Tunegrove is neither read nor written)\n"
    "  normalize FILE...     tidy the album, artist, title and comment of each file\n"
    "                        (MP3, FLAC, Ogg, Opus, M4A): blanks trimmed and thinned,\n"
    "                        each word capitalised\n"
    "  normalize --text TEXT print what the tidying makes of TEXT\n"
    "  rename --pattern P [--counter N] FILE...\n"
    "                        rename MP3, FLAC, Ogg, Opus and M4A files from their\n"
    "                        tags: $A artist, $T title,\n"
    "                        $B album, $Y year, $G genre, $F old name, $K track,\n"
    "                        $# counter (from N, 0-999999, across the files), $$ $;\n"
    "                        prints old<TAB>new; never replaces an existing file\n"
    "  report --format html|xml|m3u|txt [--group path|artist|genre|year] [--tags]\n"
    "         [-r] [--filter EXPR] [--no-cache] [-o FILE] FOLDER...\n"
    "                        list the folders as list does (--filter and\n"
    "                        --no-cache as there),\n"
    "                        sort by the group and write the report to FILE\n"
    "                        (replaced only when complete) or to standard output\n"
    "                        (no -o, or -o -)\n"
    "  settings              print the stored preferences as Name=value lines\n"
    "  undo [ID]             take back the newest command not yet undone (or entry\n"
    "                        ID): its tags and names byte for byte; a file changed\n"
    "                        since is skipped and named (exit 1)\n"
    "  undo --list           the journal, newest first: id, time, command, files,\n"
    "                        done or undone\n"
    "  redo                  do again what the newest undo took back\n"
    "\n"
    "Options:\n"
    "  --settings-file PATH  use this INI file instead of the user's settings\n"
    "  --help                show this text\n"
    "  --version             show the version\n";

// Set when the undo journal stopped taking a command's records while it ran: the command then fails.
bool g_journalFailed = false;

// Records the changes of a command in the undo journal for as long as it lives; says once when it cannot. When
// the journal stops taking records midway, that is said at once (the rest is written without it, never in
// place) and again at the end with what the command changed, and the command fails.
class Journaled
{
public:
    explicit Journaled(const QString &command)
    {
        m_recorder.OnFailure([](const QString &reason) {
            Complain(QStringLiteral("the undo journal stopped taking records (%1); the rest of this command cannot be "
                                    "undone").arg(reason));
        });
        if (!m_recorder.Begin(QStringLiteral("tunegrove-cli ") + command))
            Complain(QStringLiteral("the undo journal cannot be written (%1); these changes cannot be undone")
                         .arg(m_recorder.Error()));
    }
    ~Journaled()
    {
        m_recorder.End();
        if (!m_recorder.FailedMidway())
            return;
        g_journalFailed = true;
        Complain(QStringLiteral("this command changed %1 file(s) and can no longer be undone whole (%2 of them cannot "
                                "be undone)").arg(m_recorder.ChangedFiles()).arg(m_recorder.Unrecorded()));
    }
    Journaled(const Journaled &) = delete;
    Journaled &operator=(const Journaled &) = delete;

private:
    journal::Recorder m_recorder;
};

// Writes the changed tags in groups (one journal flush a group); each failure named. Returns 0 or kExitFailed.
int WriteTags(std::vector<TagFile> &tags)
{
    QList<TagFile *> files;
    for (TagFile &tag : tags)
        files.append(&tag);
    int status = 0;
    TagFile::WriteAll(files, [&](TagFile &, bool ok, const QString &error) {
        if (!ok) {
            Complain(error);
            status = kExitFailed;
        }
    });
    return status;
}

// Opens a file whose tags the command may change: MP3, FLAC, Ogg, Opus or M4A, as in the window. Another name is
// named on stderr (and fails the command when `strict`); a file that cannot be read fails it.
bool OpenTaggable(const QString &file, TagFile &tag, int &status, bool strict)
{
    if (!IsTaggableExtension(QFileInfo(file).suffix())) {
        Complain(QStringLiteral("%1: not an MP3, FLAC, Ogg, Opus or M4A file; %2")
                     .arg(file, strict ? QStringLiteral("left as it is") : QStringLiteral("skipped")));
        if (strict)
            status = kExitFailed;
        return false;
    }
    if (!tag.Open(file)) {
        Complain(tag.ReadError());
        status = kExitFailed;
        return false;
    }
    return true;
}

// Opens the files a group at a time, changes each tag and writes the group (so a long list never holds more
// than a group of opened tags). Returns 0, or kExitFailed when a file could not be read or written.
int ChangeTags(const QStringList &paths, bool strict, const std::function<void(TagFile &)> &change)
{
    constexpr qsizetype kGroup = 64;
    int status = 0;
    ProgressMeter meter(g_commandName, paths.size());
    for (qsizetype start = 0; start < paths.size(); start += kGroup) {
        meter.Step(start);
        std::vector<TagFile> changed;
        for (const QString &file : paths.mid(start, kGroup)) {
            TagFile tag;
            if (!OpenTaggable(file, tag, status, strict))
                continue;
            change(tag);
            changed.push_back(std::move(tag));
        }
        if (WriteTags(changed) != 0)
            status = kExitFailed;
    }
    return status;
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
        // What the audio is, read from its headers (empty for a file whose audio is not known).
        AudioProperties audio;
        QFile stream(file);
        if (stream.open(QIODevice::ReadOnly))
            AudioProperties::Read(stream, audio);
        const QStringList fields{tag.path,  tag.title,   tag.artist,   tag.year, tag.album, tag.track, tag.comment,
                                 QString::number(tag.genre), tag.GenreName(), tag.sizeText,
                                 AudioProperties::LengthText(audio.lengthMs), audio.BitrateText(),
                                 audio.sampleRate > 0 ? QString::number(audio.sampleRate) : QString(),
                                 audio.channels > 0 ? QString::number(audio.channels) : QString(), audio.format};
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
    // A number is an entry of the table; "none" (or nothing) clears the genre; any other text is taken: a name
    // of the table becomes its number, the rest is written as the genre's text.
    const bool setGenre = args.values.contains(QStringLiteral("genre"));
    const QString genreText = args.values.value(QStringLiteral("genre")).trimmed();
    int genre = -1;
    if (setGenre) {
        bool isNumber = false;
        const int number = genreText.toInt(&isNumber);
        if (isNumber && (number < 0 || number >= GenreTable::Count()))
            return UsageError(QStringLiteral("set: genre numbers run from 0 to %1; not %2").arg(GenreTable::Count() - 1).arg(number));
        genre = isNumber ? number : -1;
    }

    if (args.values.contains(QStringLiteral("track"))) {
        // A track is a number 0-4096, with a total if wanted ("3/12"), or empty to remove it; "x" or "3 of 12"
        // would silently become something else.
        const QString text = args.values.value(QStringLiteral("track"));
        bool isNumber = false;
        const int number = text.toInt(&isNumber);
        const bool withTotal = text.count(QLatin1Char('/')) == 1 && TagFile::TrackText(text) == text;
        if (!text.isEmpty() && !withTotal && (!isNumber || number < 0 || number > 4096 || text.trimmed() != text))
            return UsageError(QStringLiteral("set: the track must be a number from 0 to 4096 with a total if wanted "
                                             "(3/12), or empty; not \"%1\"").arg(text));
    }

    // The year field holds four characters, as the tag dialog allows.
    if (args.values.value(QStringLiteral("year")).size() > 4)
        return UsageError(QStringLiteral("set: the year is at most 4 characters; not \"%1\"").arg(args.values.value(QStringLiteral("year"))));

    Picture cover;
    bool removeCover = false;
    if (args.values.contains(QStringLiteral("cover"))) {
        const QString image = args.values.value(QStringLiteral("cover"));
        QString error;
        if (image == QLatin1String("none"))
            removeCover = true;
        else if (!LoadPicture(image, cover, error))
            return UsageError(QStringLiteral("set: --cover: %1").arg(error));
    }

    const Journaled journaled(QStringLiteral("set"));
    return ChangeTags(args.operands, true, [&](TagFile &tag) {
        if (!cover.IsEmpty())
            tag.SetFrontCover(cover);
        else if (removeCover)
            tag.RemoveFrontCover();
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
        if (!setGenre)
            return;
        if (genre >= 0) {
            tag.ClearGenre();
            tag.genre = genre;
        } else if (genreText.isEmpty() || genreText.compare(QLatin1String("none"), Qt::CaseInsensitive) == 0) {
            tag.ClearGenre();
        } else {
            tag.SetGenreText(genreText);
        }
    });
}

int Normalize(const CliArguments &args)
{
    if (args.values.contains(QStringLiteral("text"))) {
        if (!args.operands.isEmpty())
            return UsageError(QStringLiteral("normalize: give --text or files, not both"));
        Print(stdout, EscapeField(NormalizeTagText(args.values.value(QStringLiteral("text")))) + QLatin1Char('\n'));
        return 0;
    }
    if (args.operands.isEmpty())
        return UsageError(QStringLiteral("normalize: no file given"));
    const Journaled journaled(QStringLiteral("normalize"));
    // One rule for every command: a file that could not be changed (not taggable, say) makes the exit code 1.
    return ChangeTags(args.operands, true, [](TagFile &tag) { tag.Normalize(); });
}

int Rename(const CliArguments &args)
{
    const QString pattern = args.values.value(QStringLiteral("pattern"));
    if (pattern.isEmpty())
        return UsageError(QStringLiteral("rename: --pattern is needed"));
    long long counter = 0;
    if (args.values.contains(QStringLiteral("counter"))) {
        bool ok = false;
        counter = args.values.value(QStringLiteral("counter")).toLongLong(&ok);
        if (!ok || counter < 0 || counter > kMaxRenameCounter)
            return UsageError(QStringLiteral("rename: the counter must be an integer between 0 and %1").arg(kMaxRenameCounter));
    }
    if (args.operands.isEmpty())
        return UsageError(QStringLiteral("rename: no file given"));
    const Journaled journaled(QStringLiteral("rename"));
    // Unknown codes give nothing; say once which, so a typing slip does not go unseen.
    const QStringList unknown = UnknownRenameCodes(pattern);
    if (!unknown.isEmpty())
        Complain(QStringLiteral("rename: unknown code%1 %2 in the pattern give%3 nothing")
                     .arg(unknown.size() > 1 ? QStringLiteral("s") : QString(), unknown.join(QStringLiteral(", ")),
                          unknown.size() > 1 ? QString() : QStringLiteral("s")));
    int status = 0;
    ProgressMeter meter(QStringLiteral("rename"), args.operands.size());
    qint64 done = 0;
    for (const QString &file : args.operands) {
        meter.Step(done++);
        // The cells the list would show for the file.
        const QString path = QDir::cleanPath(QDir::current().absoluteFilePath(file));
        TrackRecord row;
        SplitFullPath(path, row);
        if (!IsTaggableExtension(row[Column::Ext])) {
            Complain(QStringLiteral("%1: not an MP3, FLAC, Ogg, Opus or M4A file; left as it is").arg(file));
            status = kExitFailed;
            continue;
        }
        // A missing or unreadable file is a failure, not a file whose tag happens to be empty.
        TagFile tag;
        if (!tag.Open(path)) {
            Complain(tag.ReadError());
            status = kExitFailed;
            continue;
        }
        FillTagCells(row, &tag);
        const bool noTagText = GivesNoTagText(pattern, row, counter);
        const QString newName = RenamedFileName(pattern, row, counter);
        const QString oldName = row[Column::Filename] + QLatin1String(".") + row[Column::Ext];
        if (noTagText) {
            Complain(QStringLiteral("%1: its tags give the pattern no text; it keeps its name").arg(file));
            status = kExitFailed;
            continue;
        }
        if (newName.isEmpty() || oldName == newName)
            continue;
        const QString target = row[Column::Path] + newName;
        if (const int error = RenameFile(path, target)) {
            Complain(QStringLiteral("%1: cannot rename to %2: %3").arg(file, newName, platform::ErrorText(error)));
            status = kExitFailed;
            continue;
        }
        // The new name in the form the old one was given (relative stays relative).
        const QString shown = file.left(file.lastIndexOf(QLatin1Char('/')) + 1) + target.mid(target.lastIndexOf(QLatin1Char('/')) + 1);
        Print(stdout, EscapeField(file) + QLatin1Char('\t') + EscapeField(shown) + QLatin1Char('\n'));
    }
    return status;
}

int Cover(const CliArguments &args)
{
    if (args.operands.size() != 1)
        return UsageError(QStringLiteral("cover: give one file"));
    const QString output = args.values.value(QStringLiteral("o"));
    if (output.isEmpty())
        return UsageError(QStringLiteral("cover: -o IMAGE is needed"));
    const QString &file = args.operands.front();
    Picture picture;
    QString error;
    if (!TagFile::ReadFrontCover(file, picture, &error)) {
        Complain(error.isEmpty() ? QStringLiteral("%1: no front cover").arg(file) : error);
        return kExitFailed;
    }
    if (output == QLatin1String("-")) {
        Write(stdout, picture.data);
        return 0;
    }
    // Written whole or not at all: a failed write leaves no half image behind.
    QSaveFile out(output);
    if (!out.open(QIODevice::WriteOnly) || out.write(picture.data) != picture.data.size() || !out.commit()) {
        Complain(QStringLiteral("%1: %2").arg(output, out.errorString()));
        return kExitFailed;
    }
    return 0;
}

int FromName(const CliArguments &args)
{
    NamePattern pattern;
    QString error;
    if (!args.values.contains(QStringLiteral("pattern")))
        return UsageError(QStringLiteral("fromname: --pattern is needed"));
    if (!pattern.Parse(args.values.value(QStringLiteral("pattern")), &error))
        return UsageError(QStringLiteral("fromname: %1").arg(error));
    if (args.operands.isEmpty())
        return UsageError(QStringLiteral("fromname: no file given"));
    const bool dryRun = args.switches.contains(QStringLiteral("dry-run"));
    int status = 0;
    QStringList fitting;
    QList<NamePattern::Fields> found;
    for (const QString &file : args.operands) {
        NamePattern::Fields fields;
        // Folder names are taken from the absolute path, so "$A/$T" works on a bare file name too.
        if (!pattern.Match(QDir::cleanPath(QDir::current().absoluteFilePath(file)), fields)) {
            Complain(QStringLiteral("%1: the name does not fit the pattern; left as it is").arg(file));
            status = kExitFailed;
            continue;
        }
        QString line = EscapeField(file);
        for (const auto &[column, text] : fields)
            line += QLatin1Char('\t') + FieldName(column) + QLatin1Char('=') + EscapeField(text);
        Print(stdout, line + QLatin1Char('\n'));
        fitting.append(file);
        found.append(fields);
    }
    if (dryRun || fitting.isEmpty())
        return status;
    const Journaled journaled(QStringLiteral("fromname"));
    QHash<QString, qsizetype> index;   // a tag's path is the name it was given as
    for (qsizetype i = 0; i < fitting.size(); ++i)
        index.insert(fitting[i], i);
    const int written =
        ChangeTags(fitting, true, [&](TagFile &tag) { ApplyNameFields(found[index.value(tag.path)], tag); });
    return written != 0 ? written : status;
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

// The outcome of an undo or redo: what was put back on standard output, each skipped file on stderr.
// An undo's or redo's steps, shown on the meter (whose total the first step gives).
journal::Progress MeterSteps(ProgressMeter &meter)
{
    return [&meter](int index, int total) {
        meter.SetTotal(total);
        meter.Step(index);
        return true;
    };
}

int TellOutcome(const journal::Outcome &outcome, const char *verb)
{
    if (!outcome.found) {
        Complain(QStringLiteral("%1: %2").arg(QLatin1String(verb), outcome.error));
        return kExitFailed;
    }
    if (!outcome.journalError.isEmpty())
        Complain(QStringLiteral("the undo journal cannot be written (%1); this %2 cannot be taken back")
                     .arg(outcome.journalError, QLatin1String(verb)));
    if (outcome.damaged > 0 || outcome.cutShort)
        Complain(QStringLiteral("entry %1 is damaged: %2 of its changes%3 could not be read and stay as they are; the "
                                "entry stays to be undone")
                     .arg(outcome.id)
                     .arg(outcome.damaged)
                     .arg(outcome.cutShort ? QStringLiteral(" and the end of it") : QString()));
    if (outcome.incomplete)
        Complain(QStringLiteral("entry %1 is incomplete: the journal stopped taking its records while it ran, so the "
                                "files it changed after that stay as they are").arg(outcome.id));
    Print(stdout, QStringLiteral("%1 %2: %3 (%4 file(s) %5)\n")
                      .arg(QLatin1String(verb))
                      .arg(outcome.id)
                      .arg(EscapeField(outcome.command))
                      .arg(outcome.restored)
                      .arg(qstrcmp(verb, "undo") == 0 ? QStringLiteral("put back") : QStringLiteral("changed again")));
    for (const QString &skipped : outcome.skipped)
        Complain(QStringLiteral("skipped %1").arg(skipped));
    return outcome.Whole() ? 0 : kExitFailed;
}

int Undo(const CliArguments &args)
{
    if (args.switches.contains(QStringLiteral("list"))) {
        if (!args.operands.isEmpty())
            return UsageError(QStringLiteral("undo: give --list or an entry, not both"));
        static const char *const kKinds[] = {"done", "undo", "redo"};
        // Every record checked, so the count is what can really be undone.
        for (const journal::EntryInfo &entry : journal::ListEntries(journal::DefaultFolder(), true)) {
            QString state = entry.running ? QStringLiteral("running")
                            : entry.undone ? QStringLiteral("undone")
                                           : QStringLiteral("done");
            if (!entry.running && entry.Damaged())
                state += QStringLiteral(", damaged");
            if (entry.incomplete)
                state += QStringLiteral(", incomplete");
            Print(stdout, QStringLiteral("%1\t%2\t%3%4\t%5\t%6\n")
                              .arg(entry.id)
                              .arg(entry.time.toString(Qt::ISODate))
                              .arg(entry.kind == journal::Kind::Do ? QString() : QString::fromLatin1(kKinds[int(entry.kind)]) + QLatin1Char(' '))
                              .arg(EscapeField(entry.command))
                              .arg(entry.files)
                              .arg(state));
        }
        return 0;
    }
    if (args.operands.size() > 1)
        return UsageError(QStringLiteral("undo: one entry at a time"));
    qint64 id = 0;
    if (!args.operands.isEmpty()) {
        bool ok = false;
        id = args.operands.front().toLongLong(&ok);
        if (!ok || id <= 0)
            return UsageError(QStringLiteral("undo: \"%1\" is no entry number").arg(args.operands.front()));
    }
    if (id == 0) {
        // The newest command first: while it runs, undo waits rather than take back an older one.
        journal::Recover();
        if (const qint64 running = journal::RunningNewest(); running != 0 && running > journal::NextUndo()) {
            Complain(QStringLiteral("undo: the newest command (entry %1) is still running; undo it when it has ended")
                         .arg(running));
            return kExitFailed;
        }
    }
    ProgressMeter meter(QStringLiteral("undo"), 0);
    const journal::Outcome outcome = journal::Undo(journal::DefaultFolder(), id, MeterSteps(meter));
    meter.Clear();
    return TellOutcome(outcome, "undo");
}

int Redo(const CliArguments &args)
{
    if (!args.operands.isEmpty())
        return UsageError(QStringLiteral("redo: unexpected argument %1").arg(args.operands.front()));
    ProgressMeter meter(QStringLiteral("redo"), 0);
    const journal::Outcome outcome = journal::Redo(journal::DefaultFolder(), MeterSteps(meter));
    meter.Clear();
    return TellOutcome(outcome, "redo");
}

int Run(const CliArguments &args)
{
    static const std::pair<const char *, int (*)(const CliArguments &)> kCommands[] = {
        {"normalize", Normalize}, {"rename", Rename}, {"report", Report}, {"show", Show},
        {"set", Set},             {"settings", Settings}, {"list", List}, {"undo", Undo},
        {"redo", Redo},           {"cover", Cover},       {"fromname", FromName}};
    for (const auto &[name, command] : kCommands) {
        if (args.command == QLatin1String(name)) {
            g_commandName = args.command;
            return command(args);
        }
    }
    if (args.command.isEmpty())
        return UsageError(QStringLiteral("no command given"));
    return UsageError(QStringLiteral("unknown command \"%1\"").arg(args.command));
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
                             QStringLiteral("comment"), QStringLiteral("genre"), QStringLiteral("sort"),
                             QStringLiteral("text"), QStringLiteral("pattern"), QStringLiteral("counter"),
                             QStringLiteral("format"), QStringLiteral("group"), QStringLiteral("o"),
                             QStringLiteral("filter"), QStringLiteral("cover")};
    const QStringList flags{QStringLiteral("help"), QStringLiteral("version"), QStringLiteral("h"), QStringLiteral("r"),
                            QStringLiteral("tags"), QStringLiteral("list"), QStringLiteral("no-cache"),
                            QStringLiteral("dry-run")};
    // Arguments are taken as the bytes they are, so a file name that is not UTF-8 still reaches its file.
    QStringList arguments;
    for (int i = 1; i < argc; ++i)
        arguments.append(platform::DecodeName(QByteArray(argv[i])));
    const CliArguments args = ParseCli(arguments, valued, flags);
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
    if (args.command != QLatin1String("undo") && args.switches.contains(QStringLiteral("list")))
        return UsageError(QStringLiteral("--list belongs to the undo command"));
    if (args.command != QLatin1String("list") && args.values.contains(QStringLiteral("sort")))
        return UsageError(QStringLiteral("--sort belongs to the list command"));
    if (args.command != QLatin1String("list") && args.command != QLatin1String("report") &&
        args.switches.contains(QStringLiteral("r")))
        return UsageError(QStringLiteral("-r belongs to the list and report commands"));
    if (args.command != QLatin1String("list") && args.command != QLatin1String("report") &&
        args.values.contains(QStringLiteral("filter")))
        return UsageError(QStringLiteral("--filter belongs to the list and report commands"));
    if (args.command != QLatin1String("list") && args.command != QLatin1String("report") &&
        args.switches.contains(QStringLiteral("no-cache")))
        return UsageError(QStringLiteral("--no-cache belongs to the list and report commands"));
    if (args.command != QLatin1String("report") &&
        (args.values.contains(QStringLiteral("format")) || args.values.contains(QStringLiteral("group")) ||
         args.switches.contains(QStringLiteral("tags"))))
        return UsageError(QStringLiteral("--format, --group and --tags belong to the report command"));
    if (args.command != QLatin1String("report") && args.command != QLatin1String("cover") &&
        args.values.contains(QStringLiteral("o")))
        return UsageError(QStringLiteral("-o belongs to the report and cover commands"));
    if (args.command != QLatin1String("set") && args.values.contains(QStringLiteral("cover")))
        return UsageError(QStringLiteral("--cover belongs to the set command"));
    if (args.command != QLatin1String("fromname") && args.switches.contains(QStringLiteral("dry-run")))
        return UsageError(QStringLiteral("--dry-run belongs to the fromname command"));
    if (args.command != QLatin1String("set")) {
        for (const QString &option : kFieldOptions) {
            if (args.values.contains(option))
                return UsageError(QStringLiteral("--%1 belongs to the set command").arg(option));
        }
    }
    if (args.command != QLatin1String("normalize") && args.values.contains(QStringLiteral("text")))
        return UsageError(QStringLiteral("--text belongs to the normalize command"));
    if (args.command != QLatin1String("rename") && args.values.contains(QStringLiteral("counter")))
        return UsageError(QStringLiteral("--counter belongs to the rename command"));
    if (args.command != QLatin1String("rename") && args.command != QLatin1String("fromname") &&
        args.values.contains(QStringLiteral("pattern")))
        return UsageError(QStringLiteral("--pattern belongs to the rename and fromname commands"));
    // Tag writes a killed command left half done are finished before anything else reads or writes.
    if (!args.command.isEmpty()) {
        QStringList leftAlone;
        journal::Recover(journal::DefaultFolder(), &leftAlone);
        for (const QString &file : leftAlone)
            Complain(file);
    }
    int status = Run(args);
    if (g_journalFailed)
        status = kExitFailed;
    // Output that never reached its file (a full disk behind a redirect, a closed pipe) is a failure.
    if (std::fflush(stdout) != 0 && g_outputError == 0)
        g_outputError = errno ? errno : EIO;
    if (g_outputError != 0) {
        Complain(QStringLiteral("standard output: %1").arg(platform::ErrorText(g_outputError)));
        return kExitFailed;
    }
    return status;
}
