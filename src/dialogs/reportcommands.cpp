#include "dialogs/reportcommands.h"

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

#include <memory>
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

// The wait cursor while a big list is sorted and its report built.
struct WaitCursor
{
    WaitCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
    ~WaitCursor() { QApplication::restoreOverrideCursor(); }
};

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
    auto failedToStart = [&](const QString &what) {
        Prompter::Current().Tell(parent, tr("The player could not be started:\n%1").arg(what));
    };
    if (!settings.useDefaultPlayer && !settings.pathToPlayer.isEmpty() && QFileInfo(settings.pathToPlayer).isFile()) {
        if (!platform::StartProgram(settings.pathToPlayer, playlist))
            failedToStart(settings.pathToPlayer);
        return;
    }
    // The desktop's program for playlists, asked once.
    const QString exec = platform::ExecLineForFile(QFileInfo(playlist).fileName());
    if (settings.useDefaultPlayer) {
        settings.pathToPlayer = platform::ProgramOfExecLine(exec);
        if (!settings.pathToPlayer.isEmpty()) {
            // Its whole command line runs ("env VAR=1 player", "flatpak run ID %U", "player --enqueue %F").
            if (!platform::StartCommand(platform::ExecArguments(exec, playlist)))
                failedToStart(exec);
            return;
        }
    }
    // The desktop opens the playlist itself. It reports success even when nothing can open it, so nothing
    // associated counts as a failure too.
    if (platform::ProgramOfExecLine(exec).isEmpty() || !platform::OpenWithDesktop(QUrl::fromLocalFile(playlist)))
        Prompter::Current().Tell(parent, tr("Failed to found Default Player."));
}

namespace {

// Sorts the list by the report's group column, ascending, as a header click would (the user sees it afterwards),
// then builds the report over the rows and the selection in that order. Under a filter the report holds the
// rows the filter shows.
struct SortedReport
{
    SortedReport(CRightView &view, const ReportChoice &choice)
    {
        const int column = ReportWriter::GroupColumn(choice.group);
        view.SetColumnSortAscending(column, false);
        view.SortColumn(column, false);
        rows = view.Model()->ShownRows();
        writer = std::make_unique<ReportWriter>(rows, view.SelectedRows());
        writer->Build(choice);
    }
    ReportWriter *operator->() const { return writer.get(); }

    std::vector<TrackRecord> rows;
    std::unique_ptr<ReportWriter> writer;
};

} // namespace

bool WriteReport(CRightView &view, const AppSettings &settings, int format, int group, bool tags, bool onlySelected,
                 const QString &path, QWidget *parent)
{
    std::unique_ptr<WaitCursor> wait = std::make_unique<WaitCursor>();
    const int error = platform::WriteFileAtomically(
        path, SortedReport(view, {format, group, tags, onlySelected, settings.encoding})->Encode());
    wait.reset();
    if (error != 0) {
        Prompter::Current().Tell(parent, tr("File %1 open error!").arg(path) + QStringLiteral("\n\n") +
                                             platform::ErrorText(error));
        return false;
    }
    return true;
}

QList<ReportLine> PrintLines(CRightView &view, const AppSettings &settings, QWidget *parent, bool askOptions)
{
    CPrintOptionsDlg options(parent);
    if (askOptions && options.exec() != QDialog::Accepted) {
        // Cancel still prints, with the choices the dialog opened with.
        options.Groups()->button(ReportWriter::ByPath)->setChecked(true);
        options.TagsBox()->setChecked(false);
        options.SelectedBox()->setChecked(false);
    }
    const WaitCursor wait;
    return SortedReport(view, {ReportWriter::Txt, options.GroupChoice(), options.IncludeTags(), options.OnlySelected(),
                               settings.encoding})
        ->Lines();
}

void Print(CRightView &view, const AppSettings &settings, QPrinter &printer, QWidget *parent)
{
    QPrintDialog dialog(&printer, parent);
    if (dialog.exec() != QDialog::Accepted)
        return;
    const QList<ReportLine> lines = PrintLines(view, settings, parent);
    ReportPrinter layout(printer);
    layout.Prepare(lines);
    layout.Print();
}


void PrintPreview(CRightView &view, const AppSettings &settings, QPrinter &printer, QWidget *parent)
{
    const QList<ReportLine> lines = PrintLines(view, settings, parent);
    QPrintPreviewDialog preview(&printer, parent);
    QObject::connect(&preview, &QPrintPreviewDialog::paintRequested, &preview, [&lines](QPrinter *target) {
        ReportPrinter layout(*target);
        layout.Prepare(lines);
        layout.Print();
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
