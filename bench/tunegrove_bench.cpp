// Measures what a script cannot: sort time on 100,000 rows, memory per row, and the longest time the GUI
// event loop stays blocked while a listing runs. Prints "name value" lines for list_bench.py.

#include "settings/appsettings.h"
#include "res/resources.h"
#include "tracklist/rightview.h"
#include "library/tracklistmodel.h"
#include "library/tracksort.h"
#include "library/folderwalker.h"
#include "library/scanstate.h"
#include "library/trackfilter.h"
#include "tracklist/filterbox.h"
#include "dialogs/batchprogress.h"
#include "dialogs/prompter.h"
#include "dialogs/tagcommands.h"
#include "dialogs/undocommands.h"
#include "tags/tagfile.h"
#include "dialogs/reportcommands.h"
#include "dialogs/reportprinter.h"
#include "reports/reportwriter.h"

#include <QApplication>
#include <QElapsedTimer>

#include <sqlite3.h>
#include <QFile>
#include <QLineEdit>
#include <QPrinter>
#include <QSettings>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <dlfcn.h>
#include <malloc.h>
#include <functional>
#include <numeric>
#include <random>

#include <ctime>
#include <unistd.h>

namespace {

double Median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

AppSettings Defaults()
{
    QTemporaryDir dir;
    QSettings store(dir.filePath(QStringLiteral("s.ini")), QSettings::IniFormat);
    AppSettings s;
    s.Load(store);
    return s;
}

int Sort(int rows)
{
    std::mt19937 random(42);
    auto word = [&](int minLen, int maxLen) {
        QString w;
        const int n = minLen + int(random() % unsigned(maxLen - minLen + 1));
        for (int i = 0; i < n; ++i)
            w += QChar(i == 0 ? 'A' + int(random() % 26) : 'a' + int(random() % 26));
        return w;
    };
    std::vector<TrackRecord> base(static_cast<std::size_t>(rows));
    for (auto &r : base) {
        r[Column::Filename] = word(5, 20);
        r[Column::Ext] = QStringLiteral("mp3");
        r[Column::Path] = QStringLiteral("/music/") + word(4, 12) + QLatin1Char('/');
        r[Column::Title] = word(3, 25);
        r[Column::Artist] = word(3, 8);   // few distinct artists: many ties
        r[Column::Album] = word(3, 5);
        r[Column::Year] = QString::number(1960 + random() % 60);
        r[Column::Track] = QString::number(1 + random() % 15);
    }
    for (const auto &[name, passes] : std::vector<std::pair<const char *, std::vector<SortKeys::Pass>>>{
             {"sort_1col_ms", {{int(Column::Title), true}}},
             {"sort_3col_ms", {{int(Column::Track), true}, {int(Column::Album), true}, {int(Column::Artist), true}}}}) {
        std::vector<double> times;
        for (int run = 0; run < 5; ++run) {
            TrackListModel model;
            model.AppendRows(std::vector<TrackRecord>(base));
            QElapsedTimer t;
            t.start();
            model.Sort(passes);
            times.push_back(double(t.nsecsElapsed()) / 1e6);
        }
        std::printf("%s %.1f\n", name, Median(times));
    }
    // Side by side, on the same rows: a pass that only folds case and compares code points (byte order, blind
    // to accents), the floor the language-aware pass is measured against.
    auto foldOnly = [&](std::vector<int> &order, int column) {
        std::vector<QString> keys;
        keys.reserve(base.size());
        for (const TrackRecord &r : base)
            keys.push_back(r.cells[std::size_t(column)].toCaseFolded());
        std::stable_sort(order.begin(), order.end(), [&](int a, int b) { return keys[std::size_t(a)] < keys[std::size_t(b)]; });
    };
    auto collated = [&](std::vector<int> &order, int column) { SortOrder(base, order, column, true); };
    for (const auto &[name, pass] : {std::pair<const char *, std::function<void(std::vector<int> &, int)>>{"fold_only", foldOnly},
                                     {"collated", collated}}) {
        for (const int column : {int(Column::Title), int(Column::Artist)}) {
            std::vector<double> times;
            for (int run = 0; run < 5; ++run) {
                std::vector<int> order(base.size());
                std::iota(order.begin(), order.end(), 0);
                QElapsedTimer t;
                t.start();
                pass(order, column);
                times.push_back(double(t.nsecsElapsed()) / 1e6);
            }
            std::printf("%s_%s_ms %.1f\n", name, column == int(Column::Title) ? "title" : "artist", Median(times));
        }
    }
    return 0;
}

// The bytes the program's allocator has handed out and not taken back: jemalloc's count when the program runs on
// it, else glibc's.
size_t AllocatedBytes()
{
    using Mallctl = int (*)(const char *, void *, size_t *, void *, size_t);
    if (const auto mallctl = reinterpret_cast<Mallctl>(dlsym(RTLD_DEFAULT, "mallctl"))) {
        uint64_t epoch = 1;
        size_t size = sizeof epoch;
        mallctl("epoch", &epoch, &size, &epoch, size);   // refreshes the statistics
        size_t allocated = 0;
        size = sizeof allocated;
        if (mallctl("stats.allocated", &allocated, &size, nullptr, 0) == 0)
            return allocated;
    }
    malloc_trim(0);
    return mallinfo2().uordblks;
}

// The most resident memory the program has had, in MiB (VmHWM of /proc/self/status).
double PeakResidentMiB()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').value(0).toDouble() / 1024.0;
    }
    return 0;
}

// The program's resident memory (whatever the allocator), from /proc/self/statm.
size_t ResidentBytes()
{
    QFile statm(QStringLiteral("/proc/self/statm"));
    if (!statm.open(QIODevice::ReadOnly))
        return 0;
    const QList<QByteArray> fields = statm.readAll().split(' ');
    return fields.size() > 1 ? size_t(fields[1].toULongLong()) * size_t(sysconf(_SC_PAGESIZE)) : 0;
}

int Memory(const QString &folder)
{
    const AppSettings settings = Defaults();
    ExtensionSet extensions;
    extensions.Build(settings);
    const size_t before = AllocatedBytes();
    const size_t residentBefore = ResidentBytes();
    auto *model = new TrackListModel;
    {
        ScanState state;
        std::vector<TrackRecord> batch;
        FolderWalker walker(state, extensions, [&](TrackRecord &&r) {
            batch.push_back(std::move(r));
            if (batch.size() == 4096) {
                model->AppendRows(std::move(batch));
                batch.clear();
            }
        });
        walker.WalkFolder(folder, true);
        model->AppendRows(std::move(batch));
    }
    const size_t after = AllocatedBytes();
    const size_t residentAfter = ResidentBytes();
    // What the allocator counts (sizes rounded as it rounds them), and what the system gives the process.
    std::printf("rows %d\nbytes_per_row %.0f\nresident_bytes_per_row %.0f\n", model->rowCount(),
                double(after - before) / std::max(1, model->rowCount()),
                double(residentAfter - residentBefore) / std::max(1, model->rowCount()));
    delete model;
    return 0;
}

// The longest the event loop goes without running a timer that fires every `intervalMs` (from Start).
class StallProbe
{
public:
    explicit StallProbe(int intervalMs)
    {
        m_timer.setInterval(intervalMs);
        QObject::connect(&m_timer, &QTimer::timeout, [this] {
            const qint64 now = m_clock.nsecsElapsed();
            m_worst = std::max(m_worst, now - m_last);
            m_last = now;
        });
    }
    void Start()
    {
        m_worst = m_last = 0;
        m_clock.start();
        m_timer.start();
    }
    void Stop() { m_timer.stop(); }
    qint64 ElapsedNs() const { return m_clock.nsecsElapsed(); }
    double WorstMs() const { return double(m_worst) / 1e6; }

private:
    QElapsedTimer m_clock;
    QTimer m_timer;
    qint64 m_last = 0, m_worst = 0;
};

int Gui(const QString &folder)
{
    InitGuiResources();
    AppSettings settings = Defaults();
    ScanState &state = ScanState::Instance();
    CRightView view(settings, state);
    view.resize(1000, 700);
    view.show();
    StallProbe probe(2);
    qint64 firstRows = -1;
    QObject::connect(view.Model(), &QAbstractItemModel::rowsInserted, [&] {
        if (firstRows < 0)
            firstRows = probe.ElapsedNs();
    });
    QObject::connect(&view, &CRightView::WalkFinished, qApp, &QCoreApplication::quit, Qt::QueuedConnection);
    QTimer::singleShot(0, [&] {
        state.subfolderMode = 1;
        probe.Start();
        view.ListFolder(folder);
    });
    QApplication::exec();
    std::printf("gui_rows %d\ngui_seconds %.2f\ngui_first_rows_ms %.1f\ngui_max_gap_ms %.1f\ngui_peak_rss_mb %.0f\n",
                view.Model()->rowCount(), double(probe.ElapsedNs()) / 1e9, double(firstRows) / 1e6, probe.WorstMs(),
                PeakResidentMiB());
    return 0;
}

// The CPU time this thread has used, in seconds.
double ThreadCpuSeconds()
{
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) / 1e9;
}

// Messages are counted, never shown: a batch bench must not wait for a click.
class SilentPrompter : public Prompter
{
public:
    QMessageBox::StandardButton Ask(QWidget *, const QString &, const QString &text, QMessageBox::StandardButtons,
                                    QMessageBox::Icon) override
    {
        std::fprintf(stderr, "message: %s\n", qPrintable(text.left(200)));
        return QMessageBox::Ok;
    }
    int Choose(QWidget *, const QString &, const QString &text, const QString &, const QStringList &) override
    {
        std::fprintf(stderr, "question: %s\n", qPrintable(text.left(200)));
        return -1;
    }
};

// A group edit of `count` of the rows of a listed folder (every n-th row), then Edit > Undo of it, as the window
// runs them: wall time, the longest the event loop went without a 2 ms timer, and the GUI thread's CPU time.
int Batch(const QString &folder, int count)
{
    InitGuiResources();
    SilentPrompter prompter;
    Prompter::SetCurrent(&prompter);
    AppSettings settings = Defaults();
    ScanState &state = ScanState::Instance();
    CRightView view(settings, state);
    view.resize(1000, 700);
    view.show();
    QObject::connect(&view, &CRightView::WalkFinished, qApp, &QCoreApplication::quit, Qt::QueuedConnection);
    QTimer::singleShot(0, [&] {
        state.subfolderMode = 1;
        view.ListFolder(folder);
    });
    QApplication::exec();
    const int rows = view.Model()->rowCount();
    const int step = std::max(1, rows / std::max(1, count));
    QItemSelection selection;
    for (int row = 0, picked = 0; row < rows && picked < count; row += step, ++picked)
        selection.select(view.Model()->index(row, 0), view.Model()->index(row, kColumnCount - 1));
    view.selectionModel()->select(selection, QItemSelectionModel::ClearAndSelect);
    const int selected = int(view.SelectedRows().size());
    StallProbe probe(2);
    auto measure = [&](const char *name, const std::function<void()> &work) {
        QTimer::singleShot(0, [&] {
            probe.Start();
            const double cpu = ThreadCpuSeconds();
            work();
            const double used = ThreadCpuSeconds() - cpu;
            probe.Stop();
            std::printf("%s_seconds %.2f\n%s_max_gap_ms %.1f\n%s_gui_cpu_seconds %.2f\n", name,
                        double(probe.ElapsedNs()) / 1e9, name, probe.WorstMs(), name, used);
            QCoreApplication::quit();
        });
        QApplication::exec();
    };
    measure("edit", [&] {
        const undocommands::Scope journaled(QStringLiteral("Edit Tag"), nullptr);
        tagcommands::ApplyToSelection(view, nullptr, [](TagFile &tag) { tag.comment = QStringLiteral("bench batch"); });
    });
    measure("undo", [&] { undocommands::Undo(view, nullptr); });
    std::printf("batch_rows %d\nbatch_files %d\n", rows, selected);
    Prompter::SetCurrent(nullptr);
    return 0;
}

// `rows` made-up rows of a music list, the same on every run, twenty to a folder; one in ten has accented or
// Cyrillic text.
std::vector<TrackRecord> TestRows(int rows)
{
    std::mt19937 random(7);
    const QStringList artists{QStringLiteral("Nina Simone"), QStringLiteral("Zoé Léger"), QStringLiteral("ЖАННА"),
                              QStringLiteral("Miles Davis"), QStringLiteral("Björk"), QStringLiteral("The Band")};
    auto word = [&](int length) {
        QString w;
        for (int i = 0; i < length; ++i)
            w += QChar('a' + int(random() % 26));
        return w;
    };
    std::vector<TrackRecord> base(static_cast<std::size_t>(rows));
    for (std::size_t i = 0; i < base.size(); ++i) {
        TrackRecord &r = base[i];
        r[Column::Filename] = QStringLiteral("%1 %2").arg(i % 20 + 1, 2, 10, QLatin1Char('0')).arg(word(12));
        r[Column::Ext] = QStringLiteral("mp3");
        // Twenty files to a folder, which share its text as a listing's rows do.
        r[Column::Path] = i % 20 == 0 ? QStringLiteral("/music/%1/%2/").arg(word(8), word(6)) : base[i - 1][Column::Path];
        r[Column::Title] = word(4) + QLatin1Char(' ') + word(9) + (i % 10 == 0 ? QStringLiteral(" café") : QString());
        r[Column::Artist] = i % 10 == 0 ? artists[int(random() % 6)] : word(5) + QLatin1Char(' ') + word(7);
        r[Column::Year] = i % 7 == 0 ? QString() : QString::number(1960 + random() % 60);
        r[Column::Album] = i % 9 == 0 ? QString() : word(10);
        r[Column::Track] = QString::number(1 + random() % 15);
        r[Column::Comment] = i % 3 == 0 ? word(20) : QString();
        r[Column::Genre] = QStringLiteral("Rock");
    }
    return base;
}

// What a keystroke in the filter box costs over `rows` rows shown in a real list view: from the text changing to
// the view painted, with every `step`-th row selected (1: Select All; the selection is carried over on every key,
// and scattered rows cost the most). One row in ten has accented or Cyrillic text. The first key also folds
// every row's text, so it is reported apart.
int Filter(int rows, int step)
{
    InitGuiResources();
    AppSettings settings = Defaults();
    ScanState &state = ScanState::Instance();
    CRightView view(settings, state);
    CFilterBox box;
    QObject::connect(&box, &CFilterBox::FilterChanged, &view, &CRightView::SetFilter);
    view.resize(1000, 700);
    view.show();
    {
        // In pieces of 1,024 rows, as the window takes a listing's rows.
        std::vector<TrackRecord> all = TestRows(rows);
        for (std::size_t first = 0; first < all.size(); first += 1024) {
            const std::size_t last = std::min(all.size(), first + 1024);
            view.Model()->AppendRows(std::vector<TrackRecord>(std::make_move_iterator(all.begin() + qsizetype(first)),
                                                              std::make_move_iterator(all.begin() + qsizetype(last))));
        }
    }
    if (step == 1) {
        view.selectAll();
    } else {
        QItemSelection selection;
        for (int row = 0; row < rows; row += step)
            selection.select(view.Model()->index(row, 0), view.Model()->index(row, kColumnCount - 1));
        view.selectionModel()->select(selection, QItemSelectionModel::Select);
    }
    QApplication::processEvents();

    auto keystroke = [&](const QString &text) {
        QElapsedTimer t;
        t.start();
        box.Edit()->setText(text);
        QApplication::sendPostedEvents();
        QApplication::processEvents();
        view.viewport()->repaint();
        return double(t.nsecsElapsed()) / 1e6;
    };
    std::printf("filter_rows %d\nfilter_selected %d\n", rows, int(view.SelectedRows().size()));
    std::printf("filter_first_key_ms %.1f\n", keystroke(QStringLiteral("n")));
    const QStringList typed{QStringLiteral("ni"), QStringLiteral("nin"), QStringLiteral("nina"),
                            QStringLiteral("nina "), QStringLiteral("nina s"), QStringLiteral("nina"),
                            QStringLiteral("n"), QString(), QStringLiteral("z"), QStringLiteral("zo"),
                            QStringLiteral("zoe"), QString(), QStringLiteral("album:"),
                            QStringLiteral("album: year:1990..1999"), QStringLiteral("album: year:1990..1999 -cafe"),
                            QStringLiteral("ж"), QStringLiteral("жа"), QString(), QStringLiteral("e"),
                            QStringLiteral("-e"), QString()};
    std::vector<double> times;
    for (const QString &text : typed)
        times.push_back(keystroke(text));
    std::printf("filter_key_median_ms %.1f\nfilter_key_max_ms %.1f\nfilter_peak_rss_mb %.0f\n", Median(times),
                *std::max_element(times.begin(), times.end()), PeakResidentMiB());
    return 0;
}

// The longest the event loop stays blocked while Save As writes an HTML report of `rows` rows, and while the
// print preview lays out and paints the text report; whether a progress dialog showed.
int Report(int rows)
{
    InitGuiResources();
    AppSettings settings = Defaults();
    ScanState &state = ScanState::Instance();
    CRightView view(settings, state);
    view.resize(1000, 700);
    view.show();
    view.Model()->AppendRows(TestRows(rows));
    QApplication::processEvents();

    StallProbe probe(5);
    bool dialogShown = false;
    QTimer watch;
    watch.setInterval(50);
    QObject::connect(&watch, &QTimer::timeout, [&] {
        for (QWidget *w : QApplication::topLevelWidgets())
            dialogShown = dialogShown || (w->isVisible() && w->inherits("QProgressDialog"));
    });
    QTemporaryDir dir;
    auto measure = [&](const char *name, const std::function<void()> &work) {
        dialogShown = false;
        probe.Start();
        watch.start();
        QElapsedTimer total;
        total.start();
        work();
        probe.Stop();
        watch.stop();
        std::printf("%s_seconds %.2f\n%s_max_stall_ms %.1f\n%s_progress_shown %d\n", name, double(total.nsecsElapsed()) / 1e9,
                    name, probe.WorstMs(), name, dialogShown ? 1 : 0);
    };
    measure("save_html", [&] {
        reportcommands::WriteReport(view, settings, ReportWriter::Html, ReportWriter::ByArtist, false, false,
                                    dir.filePath(QStringLiteral("r.html")), &view);
    });
    // What the print preview does when it paints: the text report built, laid out and painted page by page on
    // this thread with the progress stepping (onto a PDF here, which costs the same drawing).
    measure("preview_paint", [&] {
        const QList<ReportLine> lines = reportcommands::PrintLines(view, settings, &view, false);
        QPrinter printer(QPrinter::HighResolution);
        printer.setOutputFormat(QPrinter::PdfFormat);
        printer.setOutputFileName(dir.filePath(QStringLiteral("preview.pdf")));
        const int pages = reportcommands::PaintWithProgress(lines, printer, &view);
        std::printf("preview_pages %d\n", pages);
    });
    return 0;
}

// What the tag cache's file costs alone: every folder's rows read with the query a relist runs, each column
// taken as the cache takes it, nothing built from them. The least a relist from this cache can spend in SQLite.
int CacheScan(const QString &file, const QString &under)
{
    sqlite3 *db = nullptr;
    if (sqlite3_open_v2(QFile::encodeName(file).constData(), &db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
        std::fprintf(stderr, "cannot open %s\n", qPrintable(file));
        return 1;
    }
    std::vector<QByteArray> folders;
    sqlite3_stmt *list = nullptr;
    sqlite3_prepare_v2(db, "SELECT folder FROM folders", -1, &list, nullptr);
    // Only the folders a listing of `under` reads (the cache file may hold other listings too).
    const QByteArray prefix = under.isEmpty() ? QByteArray() : QFile::encodeName(QDir::cleanPath(under)) + '/';
    while (list && sqlite3_step(list) == SQLITE_ROW) {
        QByteArray folder(static_cast<const char *>(sqlite3_column_blob(list, 0)), sqlite3_column_bytes(list, 0));
        if (folder.startsWith(prefix))
            folders.push_back(std::move(folder));
    }
    sqlite3_finalize(list);
    sqlite3_stmt *select = nullptr;
    sqlite3_prepare_v2(db, "SELECT entries, seen FROM folders WHERE folder = ?1", -1, &select, nullptr);
    std::vector<double> times;
    long rows = 0;
    long long sum = 0;
    for (int pass = 0; pass < 5; ++pass) {
        QElapsedTimer clock;
        clock.start();
        rows = 0;
        for (const QByteArray &folder : folders) {
            sqlite3_bind_blob(select, 1, folder.constData(), int(folder.size()), SQLITE_STATIC);
            while (sqlite3_step(select) == SQLITE_ROW) {
                ++rows;
                sum += (sqlite3_column_blob(select, 0) != nullptr) + sqlite3_column_bytes(select, 0) +
                       sqlite3_column_int64(select, 1);
            }
            sqlite3_reset(select);
        }
        times.push_back(clock.nsecsElapsed() / 1e9);
    }
    sqlite3_finalize(select);
    sqlite3_close(db);
    std::sort(times.begin(), times.end());
    std::printf("folders %zu\nrows %ld\ncache_scan_s %.3f\n", folders.size(), rows, times[times.size() / 2]);
    return sum == 42 ? 3 : 0;   // the sum only keeps the reads from being optimised away
}

} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() >= 3 && args[1] == QLatin1String("sort"))
        return Sort(args[2].toInt());
    if (args.size() >= 3 && args[1] == QLatin1String("memory"))
        return Memory(args[2]);
    if (args.size() >= 3 && args[1] == QLatin1String("gui"))
        return Gui(args[2]);
    if (args.size() >= 4 && args[1] == QLatin1String("batch"))
        return Batch(args[2], args[3].toInt());
    if (args.size() >= 3 && args[1] == QLatin1String("report"))
        return Report(args[2].toInt());
    if (args.size() >= 3 && args[1] == QLatin1String("filter"))
        return Filter(args[2].toInt(), args.size() >= 4 ? std::max(1, args[3].toInt()) : 1);
    if (args.size() >= 3 && args[1] == QLatin1String("cachescan"))
        return CacheScan(args[2], args.size() >= 4 ? args[3] : QString());
    std::fprintf(stderr, "usage: tunegrove-bench sort ROWS | memory FOLDER | gui FOLDER | batch FOLDER COUNT | filter ROWS [STEP] | report ROWS | "
                         "cachescan FILE [FOLDER]\n");
    return 2;
}
