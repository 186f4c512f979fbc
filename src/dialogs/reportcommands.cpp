#include "dialogs/reportcommands.h"

#include "dialogs/prompter.h"
#include "library/tracklistmodel.h"
#include "platform/associations.h"
#include "platform/desktop.h"
#include "platform/fileio.h"
#include "reports/reportwriter.h"
#include "settings/appsettings.h"
#include "tracklist/rightview.h"

#include <QCoreApplication>
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
    ReportWriter writer(view.Model()->Rows(), rows);
    writer.format = ReportWriter::M3u;
    writer.onlySelected = true;
    writer.AddHeader();
    writer.AddRows();
    const QString playlist = platform::PlaylistPath();
    if (platform::WriteFileAtomically(playlist, writer.Encode()) != 0) {
        // A player started now would play an old playlist: stop here.
        Prompter::Current().Tell(parent, tr("File %1 open error!").arg(playlist));
        return;
    }
    if (settings.useDefaultPlayer)
        settings.pathToPlayer = platform::ProgramForFile(QFileInfo(playlist).fileName());
    const bool haveProgram = !settings.pathToPlayer.isEmpty() &&
                             (settings.useDefaultPlayer || QFileInfo(settings.pathToPlayer).isFile());
    if (haveProgram) {
        platform::StartProgram(settings.pathToPlayer, playlist);   // a failing start shows nothing
        return;
    }
    // The desktop opens the playlist itself. It reports success even when nothing can open it, so nothing
    // associated counts as a failure too.
    if (platform::ProgramForFile(QFileInfo(playlist).fileName()).isEmpty() ||
        !platform::OpenWithDesktop(QUrl::fromLocalFile(playlist)))
        Prompter::Current().Tell(parent, tr("Failed to found Default Player."));
}

} // namespace reportcommands
