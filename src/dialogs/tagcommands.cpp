#include "dialogs/tagcommands.h"

#include "dialogs/batchprogress.h"
#include "dialogs/filename2tagdlg.h"
#include "dialogs/gropeeditdlg.h"
#include "dialogs/prompter.h"
#include "dialogs/tageditdlg.h"
#include "library/tracklistmodel.h"
#include "tags/tagfile.h"
#include "tracklist/rightview.h"

#include <QCoreApplication>
#include <QHash>
#include <QStringList>

#include <algorithm>
#include <vector>

namespace tagcommands {

bool CanEditTag(const CRightView &view)
{
    return view.AnySelectedRow([](const TrackRecord &row) { return IsTaggableExtension(row[Column::Ext]); });
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
    dialog.SetCoverFolder(view.Model()->Row(rows.front())[Column::Path]);
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
    return ApplyToRows(view, view.SelectedRows(), parent, change);
}

void TagFromFileNames(CRightView &view, QSettings &store, QWidget *parent)
{
    QList<int> rows;
    QStringList paths;
    for (const int row : view.SelectedRows()) {
        if (IsTaggableExtension(view.Model()->Row(row)[Column::Ext])) {
            rows.append(row);
            paths.append(view.RowFullPath(row));
        }
    }
    if (rows.isEmpty())
        return;
    CFilename2TagDlg dialog(store, paths, parent);
    if (dialog.exec() != QDialog::Accepted)
        return;
    QList<int> fitting;
    QHash<QString, NamePattern::Fields> found;
    for (qsizetype i = 0; i < rows.size(); ++i) {
        NamePattern::Fields fields;
        if (dialog.Parsed().Match(paths[i], fields) && !fields.isEmpty()) {
            fitting.append(rows[i]);
            found.insert(paths[i], fields);
        }
    }
    ApplyToRows(view, fitting, parent, [&found](TagFile &record) { ApplyNameFields(found.value(record.path), record); });
}

int ApplyToRows(CRightView &view, const QList<int> &rows, QWidget *parent, const std::function<void(TagFile &)> &change)
{
    QStringList failures;
    BatchProgress progress(parent, int(rows.size()));
    // The files go in groups: each group's changes are made, then written with one journal flush.
    constexpr qsizetype kGroup = 64;
    bool cancelled = false;
    int written = 0;
    for (qsizetype start = 0; start < rows.size() && !cancelled; start += kGroup) {
        std::vector<TagFile> records;
        QList<int> recordRows;
        for (qsizetype i = start; i < std::min(rows.size(), start + kGroup); ++i) {
            if (!progress.Step(int(i))) {
                cancelled = true;
                break;
            }
            const int row = rows[i];
            if (!IsTaggableExtension(view.Model()->Row(row)[Column::Ext]))
                continue;
            TagFile record;
            if (!record.Open(view.RowFullPath(row))) {
                failures.append(record.ReadError());   // an unreadable file is never written
                continue;
            }
            change(record);
            records.push_back(std::move(record));
            recordRows.append(row);
        }
        QList<TagFile *> files;
        for (TagFile &record : records)
            files.append(&record);
        qsizetype next = 0;
        TagFile::WriteAll(files, [&](TagFile &record, bool ok, const QString &error) {
            if (!ok) {
                failures.append(error);
                record.Open(record.path);   // the row shows what the file really holds
            } else {
                ++written;
            }
            view.FillTagCells(recordRows[next++], &record);
        });
    }
    progress.Finish();
    if (cancelled)
        TellStopped(parent, written, int(rows.size()), QCoreApplication::translate("tagcommands", "written"));
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
