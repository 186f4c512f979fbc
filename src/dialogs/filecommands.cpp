#include "dialogs/filecommands.h"

#include "dialogs/batchprogress.h"
#include "dialogs/prompter.h"
#include "dialogs/tag2filenamedlg.h"
#include "fileops/renamefile.h"
#include "fileops/renamepattern.h"
#include "library/tracklistmodel.h"
#include "tracklist/rightview.h"

#include <QCoreApplication>

namespace filecommands {

namespace {

QString tr(const char *text) { return QCoreApplication::translate("filecommands", text); }

} // namespace

void RenameSelection(CRightView &view, QSettings &store, QWidget *parent)
{
    CTag2FilenameDlg dialog(store, parent);
    if (dialog.exec() != QDialog::Accepted)
        return;
    RenameRows(view, dialog.Pattern(), dialog.CounterStart(), parent);
}

int RenameRows(CRightView &view, const QString &pattern, long long counter, QWidget *parent)
{
    const QList<int> rows = view.SelectedRows();
    int failed = 0;
    BatchProgress progress(parent, int(rows.size()));
    for (qsizetype i = 0; i < rows.size() && progress.Step(int(i)); ++i) {
        const int row = rows[i];
        const TrackRecord &record = view.Model()->Row(row);
        if (record[Column::Ext].compare(QLatin1String("mp3"), Qt::CaseInsensitive) != 0)
            continue;
        const QString name = ExpandRenamePattern(pattern, record, counter);
        if (name.isEmpty())
            continue;
        // The file is renamed from the name it has on disk (its extension may be "MP3"); the new one ends ".mp3".
        const QString oldName = record[Column::Filename] + QLatin1Char('.') + record[Column::Ext];
        const QString newName = name + QLatin1String(".mp3");
        if (oldName == newName)
            continue;
        const int error = RenameFile(view.RowFullPath(row), record[Column::Path] + newName);
        if (error == 0) {
            view.Model()->SetFilename(row, name);
            continue;
        }
        ++failed;
        if (IsAccessDenied(error))
            Prompter::Current().Tell(parent, tr("Can`t Rename File!"), QMessageBox::Warning);
    }
    return failed;
}

} // namespace filecommands
