#include "dialogs/reportcommands.h"

#include "dialogs/batchprogress.h"
#include "dialogs/prompter.h"
#include "dialogs/reportoptionsdlg.h"
#include "dialogs/reportprinter.h"
#include "library/tracklistmodel.h"
#include "platform/associations.h"
#include "platform/desktop.h"
#include "platform/fileio.h"
#include "reports/reportwriter.h"
#include "settings/appsettings.h"
#include "tracklist/rightview.h"

#include <QApplication>
#include <QCoreApplication>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <memory>
#include <thread>
#include <QButtonGroup>
#include <QCheckBox>
#include <QFileDialog>
#include <QAbstractButton>
#include <QPageSetupDialog>
#include <QPrintDialog>
#include <QPrintPreviewDialog>
#include <QPrinter>
#include <QFileInfo>
#include <QUrl>

namespace reportcommands {

namespace {

QString tr(const char *text) { return QCoreApplication::translate("reportcommands", text); }


} // namespace

void Play(CRightView &view, AppSettings &settings, QWidget *parent)
{
    const QList<int> rows = view.SelectedRows();
    if (rows.isEmpty())
        return;
    // The playlist holds the selected rows alone: no need to copy the whole list for it.
    std::vector<TrackRecord> selected;
    selected.reserve(std::size_t(rows.size()));
    QList<int> all;
    for (const int row : rows) {
        all.append(int(selected.size()));
        selected.push_back(view.Model()->Row(row));
    }
    ReportWriter writer(selected, all);
    const QString playlist = platform::PlaylistPath();
    if (writer.WritePlaylist(playlist) != 0) {
        // A player started now would play an old playlist: stop here.
        Prompter::Current().Tell(parent, tr("File %1 open error!").arg(playlist));
        return;
    }
    auto failedToStart = [&](const QString &what, const QString &why) {
        Prompter::Current().Tell(parent, tr("The player could not be started:\n%1\n%2").arg(what, why));
    };
    if (!settings.useDefaultPlayer && !settings.pathToPlayer.isEmpty()) {
        // The chosen player: a program's path (blanks and all), or a command line with arguments
        // ("/usr/bin/player --enqueue"), the playlist added at the end or where a %f/%U code stands.
        const QStringList command = QFileInfo(settings.pathToPlayer).isFile()
                                        ? QStringList{settings.pathToPlayer, playlist}
                                        : platform::ExecArguments(settings.pathToPlayer, playlist);
        QString why;
        if (!platform::StartCommand(command, &why))
            failedToStart(settings.pathToPlayer, why);
        return;
    }
    // The desktop's program for playlists, asked once.
    const QString exec = platform::ExecLineForFile(playlist);
    if (settings.useDefaultPlayer) {
        settings.pathToPlayer = platform::ProgramOfExecLine(exec);
        if (!settings.pathToPlayer.isEmpty()) {
            // Its whole command line runs ("env VAR=1 player", "flatpak run ID %U", "player --enqueue %F").
            QString why;
            if (!platform::StartCommand(platform::ExecArguments(exec, playlist), &why))
                failedToStart(exec, why);
            return;
        }
    }
    // The desktop opens the playlist itself. It reports success even when nothing can open it, so nothing
    // associated counts as a failure too.
    if (platform::ProgramOfExecLine(exec).isEmpty() || !platform::OpenWithDesktop(QUrl::fromLocalFile(playlist)))
        Prompter::Current().Tell(parent, tr("Failed to found Default Player."));
}

bool RunWithProgress(QWidget *parent, int total, std::atomic<int> &done, std::atomic<bool> &cancel,
                     const std::function<void()> &work, const std::atomic<int> *liveTotal)
{
    std::atomic<bool> finished{false};
    std::thread worker([&] {
        work();
        finished = true;
    });
    {
        BatchProgress progress(parent, std::max(1, total));
        while (!finished.load()) {
            if (liveTotal && liveTotal->load() > 0 && liveTotal->load() != total) {
                total = liveTotal->load();
                progress.SetTotal(total);
            }
            if (!progress.Step(std::clamp(done.load(), 0, std::max(0, total - 1))))
                cancel = true;
            // The window keeps painting before the dialog shows too; clicks and keys wait for the end.
            QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
            std::this_thread::sleep_for(std::chrono::milliseconds(15));
        }
    }
    worker.join();
    return !cancel.load();
}

namespace {

// Sorts the list by the report's group column, ascending, as a header click would (the user sees it afterwards),
// and takes the rows and the selection in that order (under a filter, the rows the filter shows). The report is
// built from this copy off the GUI thread.
struct SortedRows
{
    SortedRows(CRightView &view, const ReportChoice &reportChoice, QWidget *parent) : choice(reportChoice)
    {
        const int column = ReportWriter::GroupColumn(choice.group);
        view.SetColumnSortAscending(column, false);
        // The order of a long list is worked out off this thread, behind the same progress as the report.
        view.SortColumn(column, false, [&](const std::function<std::vector<int>()> &work) {
            std::vector<int> order;
            std::atomic<int> done{0};
            std::atomic<bool> cancel{false};
            RunWithProgress(parent, 1, done, cancel, [&] { order = work(); });
            return order;
        });
        rows = view.Model()->ShownRows();
        selected = view.SelectedRows();
    }
    // The report built (and `after` run on it) on another thread with progress; false when cancelled.
    bool Build(QWidget *parent, const std::function<void(ReportWriter &)> &after)
    {
        std::atomic<int> done{0};
        std::atomic<bool> cancel{false};
        return RunWithProgress(parent, int(rows.size()), done, cancel, [&] {
            ReportWriter writer(rows, selected);
            writer.keepGoing = [&](int count) {
                done = count;
                return !cancel.load();
            };
            writer.Build(choice);
            if (!writer.Cancelled())
                after(writer);
        });
    }

    ReportChoice choice;
    std::vector<TrackRecord> rows;
    QList<int> selected;
};

} // namespace

bool WriteReport(CRightView &view, const AppSettings &settings, int format, int group, bool tags, bool onlySelected,
                 const QString &path, QWidget *parent)
{
    SortedRows sorted(view, {format, group, tags, onlySelected, settings.encoding}, parent);
    // Written as it is made, on another thread: the report's text is never held whole. A Cancel leaves the old
    // file of that name as it was.
    int error = 0;
    std::atomic<int> done{0};
    std::atomic<bool> cancel{false};
    RunWithProgress(parent, int(sorted.rows.size()), done, cancel, [&] {
        ReportWriter writer(sorted.rows, sorted.selected);
        writer.keepGoing = [&](int count) {
            done = count;
            return !cancel.load();
        };
        error = platform::WriteFileAtomically(path, [&](const platform::AppendBytes &append) {
            int failed = 0;
            const bool whole =
                writer.Stream(sorted.choice, [&](const QByteArray &piece) { return (failed = append(piece)) == 0; });
            return failed != 0 ? failed : whole ? 0 : ECANCELED;
        });
    });
    if (cancel.load() || error == ECANCELED)
        return false;   // cancelled: nothing written
    if (error != 0) {
        Prompter::Current().Tell(parent, tr("File %1 open error!").arg(path) + QStringLiteral("\n\n") +
                                             platform::ErrorText(error));
        return false;
    }
    return true;
}

QList<ReportLine> PrintLines(CRightView &view, const AppSettings &settings, QWidget *parent, bool askOptions,
                             bool *cancelled)
{
    CPrintOptionsDlg options(parent);
    if (askOptions && options.exec() != QDialog::Accepted) {
        // Cancel still prints, with the choices the dialog opened with.
        options.Groups()->button(ReportWriter::ByPath)->setChecked(true);
        options.TagsBox()->setChecked(false);
        options.SelectedBox()->setChecked(false);
    }
    SortedRows sorted(view, {ReportWriter::Txt, options.GroupChoice(), options.IncludeTags(), options.OnlySelected(),
                             settings.encoding},
                      parent);
    QList<ReportLine> lines;
    const bool built = sorted.Build(parent, [&](ReportWriter &writer) { lines = writer.Lines(); });
    if (cancelled)
        *cancelled = !built;
    return lines;
}

void Print(CRightView &view, const AppSettings &settings, QPrinter &printer, QWidget *parent)
{
    QPrintDialog dialog(&printer, parent);
    if (dialog.exec() != QDialog::Accepted)
        return;
    bool cancelled = false;
    const QList<ReportLine> lines = PrintLines(view, settings, parent, true, &cancelled);
    if (cancelled)
        return;
    // Laid out and painted on another thread (QPainter may paint on a printer there), page by page.
    std::atomic<int> done{0};
    std::atomic<bool> cancel{false};
    RunWithProgress(parent, int(lines.size()), done, cancel, [&] {
        ReportPrinter layout(printer);
        layout.Prepare(lines);
        layout.Print([&](int page, int pages) {
            done = int(qint64(lines.size()) * page / std::max(1, pages));
            return !cancel.load();
        });
    });
}

int PaintWithProgress(const QList<ReportLine> &lines, QPrinter &printer, QWidget *parent)
{
    ReportPrinter layout(printer);
    {
        BatchProgress measuring(parent, int(lines.size()));
        layout.Prepare(lines, [&](int line, int) {
            measuring.Step(line);
            QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);   // the window keeps painting
        });
    }
    BatchProgress painting(parent, layout.PageCount());
    layout.Print([&](int page, int) {
        painting.Step(page);
        QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
        return true;
    });
    return layout.PageCount();
}

void PrintPreview(CRightView &view, const AppSettings &settings, QPrinter &printer, QWidget *parent)
{
    bool cancelled = false;
    const QList<ReportLine> lines = PrintLines(view, settings, parent, true, &cancelled);
    if (cancelled)
        return;
    QPrintPreviewDialog preview(&printer, parent);
    QObject::connect(&preview, &QPrintPreviewDialog::paintRequested, &preview, [&lines, &preview](QPrinter *target) {
        // The preview paints on this thread: a progress steps page by page, so a long report keeps the window
        // painted. The preview needs every page, so it runs to its end.
        PaintWithProgress(lines, *target, &preview);
    });
    preview.exec();
}

void PrintSetup(QPrinter &printer, QWidget *parent)
{
    QPageSetupDialog dialog(&printer, parent);
    dialog.exec();
}

void CreateReport(CRightView &view, const AppSettings &settings, QWidget *parent,
                  const std::function<QString(int format)> &askPath)
{
    CReportOptionsDlg options(parent);
    if (options.exec() != QDialog::Accepted)
        return;
    const int format = options.Format();
    QString path;
    if (askPath) {
        path = askPath(format);
    } else {
        const QString extension = ReportWriter::Extension(format);
        QFileDialog dialog(parent, QString(), QStringLiteral("List_of_mp3.%1").arg(extension),
                           ReportWriter::Filter(format));
        dialog.setAcceptMode(QFileDialog::AcceptSave);
        dialog.setDefaultSuffix(extension);
        if (dialog.exec() == QDialog::Accepted && !dialog.selectedFiles().isEmpty())
            path = dialog.selectedFiles().front();
    }
    if (path.isEmpty())
        return;   // nothing sorted, nothing built
    WriteReport(view, settings, format, options.GroupChoice(), options.IncludeTags(), options.OnlySelected(), path, parent);
}

} // namespace reportcommands
