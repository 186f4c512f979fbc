#include "dialogs/tagcommands.h"

#include "dialogs/batchprogress.h"
#include "dialogs/gropeeditdlg.h"
#include "dialogs/prompter.h"
#include "dialogs/tageditdlg.h"
#include "library/tracklistmodel.h"
#include "tags/tagfile.h"
#include "tracklist/rightview.h"

#include <QCoreApplication>
#include <QStringList>

namespace tagcommands {

namespace {

} // namespace

bool CanEditTag(const CRightView &view)
{
    return view.AnySelectedRow([](const TrackRecord &row) { return IsMp3Extension(row[Column::Ext]); });
}

void EditTag(CRightView &view, QWidget *parent)
{
    const QList<int> rows = view.SelectedRows();
    if (rows.isEmpty())
        return;
    if (rows.size() == 1) {
        // A file that cannot be read (it vanished, say) gets no dialog: the user is told why, the row stays.
        TagFile probe;
        if (!probe.Open(view.RowFullPath(rows.front()))) {
            Prompter::Current().Tell(parent, probe.ReadError(), QMessageBox::Warning);
            return;
        }
        CTagEditDlg dialog(view, rows.front(), parent);
        dialog.exec();
        return;
    }
    CGropeEditDlg dialog(parent);
    if (dialog.exec() != QDialog::Accepted)
        return;
    ApplyToSelection(view, parent, [&dialog](TagFile &record) { dialog.ApplyTo(record); });
}

void NormalizeSelection(CRightView &view, QWidget *parent)
{
    ApplyToSelection(view, parent, [](TagFile &record) { record.Normalize(); });
}

int ApplyToSelection(CRightView &view, QWidget *parent, const std::function<void(TagFile &)> &change)
{
    const QList<int> rows = view.SelectedRows();
    QStringList failures;
    BatchProgress progress(parent, int(rows.size()));
    for (qsizetype i = 0; i < rows.size() && progress.Step(int(i)); ++i) {
        const int row = rows[i];
        const QString path = view.RowFullPath(row);
        if (!IsMp3Extension(view.Model()->Row(row)[Column::Ext]))
            continue;
        TagFile record;
        if (!record.Open(path)) {
            failures.append(record.ReadError());   // an unreadable file is never written
            continue;
        }
        change(record);
        QString error;
        if (!record.Write(&error)) {
            failures.append(error);
            record.Open(path);   // the row shows what the file really holds
        }
        view.FillTagCells(row, &record);
    }
    progress.Finish();
    ReportFailures(parent, failures);
    return int(failures.size());
}

void ReportFailures(QWidget *parent, const QStringList &failures)
{
    TellFailures(parent,
                 QCoreApplication::translate("tagcommands", "%n file(s) could not be written:", nullptr, int(failures.size())),
                 failures);
}

} // namespace tagcommands
