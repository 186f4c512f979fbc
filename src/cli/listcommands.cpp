#include "cli/listcommands.h"

#include "cli/clicommon.h"
#include "cli/progressmeter.h"
#include "library/extensionset.h"
#include "library/folderwalker.h"
#include "library/scanstate.h"
#include "library/tagcache.h"
#include "library/trackfilter.h"
#include "library/tracksort.h"
#include "platform/fileio.h"
#include "reports/reportwriter.h"
#include "settings/appsettings.h"

#include <QDir>

#include <functional>
#include <memory>
#include <vector>

namespace cli {

namespace {

// Prints rows as `list` does, a line each, in pieces of about 64 KiB.
class RowPrinter
{
public:
    ~RowPrinter() { Print(stdout, m_out); }

    void Add(const TrackRecord &row)
    {
        for (int c = 0; c < kColumnCount; ++c) {
            if (c > 0)
                m_out += QLatin1Char('\t');
            m_out += EscapeField(row.cells[std::size_t(c)]);
        }
        m_out += QLatin1Char('\n');
        if (m_out.size() > 1 << 16) {
            Print(stdout, m_out);
            m_out.truncate(0);   // keeps its room for the next piece
        }
    }

private:
    QString m_out;
};

// The --filter expression of list and report; false (with the usage error told) when it does not parse.
bool ReadFilter(const CliArguments &args, TrackFilter &filter)
{
    QString error;
    if (filter.Parse(args.values.value(QStringLiteral("filter")), &error))
        return true;
    UsageError(QStringLiteral("%1: --filter: %2").arg(args.command, error));
    return false;
}

// The rows listing the folders gives (several folders: one list, no file twice), as `list` prints them, less
// those the filter leaves out. Returns 0, or kExitFailed when a folder could not be read (each is named on
// stderr).
int CollectRows(const CliArguments &args, const TrackFilter &filter, const std::function<void(TrackRecord &&)> &take)
{
    const std::unique_ptr<QSettings> store = OpenSettings(args);
    AppSettings settings;
    settings.Load(*store);
    ExtensionSet extensions;
    extensions.Build(settings);

    ScanState state;
    ProgressMeter meter(g_commandName, 0);
    qint64 seen = 0;
    FolderWalker walker(state, extensions, [&](TrackRecord &&row) {
        meter.Step(++seen);
        if (filter.Matches(row))
            take(std::move(row));
    });
    std::unique_ptr<TagCache> cache;
    if (!args.switches.contains(QStringLiteral("no-cache"))) {
        cache = std::make_unique<TagCache>();
        cache->Prune(90);
        walker.SetCache(cache.get());
    }
    int status = 0;
    walker.SetErrorSink([&](const QString &folder, int error) {
        Complain(QStringLiteral("%1: %2").arg(folder, platform::ErrorText(error)));
        status = kExitFailed;
    });
    for (const QString &folder : args.operands) {
        // Files only need remembering for the folders after them.
        walker.SetRemembersFiles(&folder != &args.operands.last());
        platform::FileStatus info;
        if (const int error = platform::Stat(folder, info)) {
            Complain(QStringLiteral("%1: %2").arg(folder, platform::ErrorText(error)));
            status = kExitFailed;
            continue;
        }
        if (!info.folder) {
            Complain(QStringLiteral("%1: Not a folder").arg(folder));
            status = kExitFailed;
            continue;
        }
        walker.WalkFolder(QDir::cleanPath(QDir::current().absoluteFilePath(folder)), args.switches.contains(QStringLiteral("r")));
    }
    return status;
}

} // namespace

int List(const CliArguments &args)
{
    if (args.operands.isEmpty())
        return UsageError(QStringLiteral("list: no folder given"));
    std::vector<std::pair<int, bool>> clicks;   // column, Ctrl held
    if (args.values.contains(QStringLiteral("sort"))) {
        for (QString name : args.values.value(QStringLiteral("sort")).split(QLatin1Char(','))) {
            const bool multi = name.startsWith(QLatin1Char('+'));
            if (multi)
                name.remove(0, 1);
            const int column = ColumnFromName(name.trimmed());
            if (column < 0)
                return UsageError(QStringLiteral("list: unknown column \"%1\"").arg(name));
            clicks.emplace_back(column, multi);
        }
    }
    TrackFilter filter;
    if (!ReadFilter(args, filter))
        return kExitUsage;
    RowPrinter printer;
    if (clicks.empty())   // walk order: each row is printed as it comes
        return CollectRows(args, filter, [&](TrackRecord &&row) { printer.Add(row); });
    std::vector<TrackRecord> rows;
    const int status = CollectRows(args, filter, [&](TrackRecord &&row) { rows.push_back(std::move(row)); });
    SortKeys keys;
    for (const auto &[column, multi] : clicks)
        ApplySortPasses(rows, keys.Click(column, multi));
    for (const TrackRecord &row : rows)
        printer.Add(row);
    return status;
}

int Report(const CliArguments &args)
{
    static const QStringList kFormats{QStringLiteral("html"), QStringLiteral("xml"), QStringLiteral("m3u"), QStringLiteral("txt")};
    static const QStringList kGroups{QStringLiteral("path"), QStringLiteral("artist"), QStringLiteral("genre"), QStringLiteral("year")};
    const int format = int(kFormats.indexOf(args.values.value(QStringLiteral("format")).toLower()));
    if (format < 0)
        return UsageError(QStringLiteral("report: --format must be html, xml, m3u or txt"));
    // XML and M3U reports name the files only: tags asked for there would be dropped without a word.
    if (args.switches.contains(QStringLiteral("tags")) && (format == 1 || format == 2))
        return UsageError(QStringLiteral("report: --tags belongs to html and txt reports; %1 reports name the files only")
                              .arg(kFormats[format]));
    const int group = int(kGroups.indexOf(args.values.value(QStringLiteral("group"), QStringLiteral("path")).toLower()));
    if (group < 0)
        return UsageError(QStringLiteral("report: --group must be path, artist, genre or year"));
    if (args.operands.isEmpty())
        return UsageError(QStringLiteral("report: no folder given"));

    TrackFilter filter;
    if (!ReadFilter(args, filter))
        return kExitUsage;
    std::vector<TrackRecord> rows;
    int status = CollectRows(args, filter, [&](TrackRecord &&row) { rows.push_back(std::move(row)); });
    // The list is sorted by the group column, ascending, as a header click sorts it.
    SortKeys keys;
    keys.SetColumnSortAscending(ReportWriter::GroupColumn(group), false);
    ApplySortPasses(rows, keys.Click(ReportWriter::GroupColumn(group), false));

    const std::unique_ptr<QSettings> store = OpenSettings(args);
    AppSettings settings;
    settings.Load(*store);
    // The report goes out as it is made: its text is never held whole.
    ReportWriter writer(rows, {});
    const ReportChoice choice{format, group, args.switches.contains(QStringLiteral("tags")), false, settings.encoding};
    if (!args.values.contains(QStringLiteral("o")) || args.values.value(QStringLiteral("o")) == QLatin1String("-")) {
        writer.Stream(choice, [](const QByteArray &piece) {
            Write(stdout, piece);
            return true;
        });
        return status;
    }
    const QString output = args.values.value(QStringLiteral("o"));
    const int error = platform::WriteFileAtomically(output, [&](const platform::AppendBytes &append) {
        int failed = 0;
        writer.Stream(choice, [&](const QByteArray &piece) { return (failed = append(piece)) == 0; });
        return failed;
    });
    if (error) {
        Complain(QStringLiteral("%1: %2").arg(output, platform::ErrorText(error)));
        return kExitFailed;
    }
    return status;
}

} // namespace cli
