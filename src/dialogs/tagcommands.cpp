#include "dialogs/tagcommands.h"

#include "dialogs/filename2tagdlg.h"
#include "dialogs/gropeeditdlg.h"
#include "dialogs/prompter.h"
#include "dialogs/reportcommands.h"
#include "dialogs/tageditdlg.h"
#include "library/tracklistmodel.h"
#include "platform/changeobserver.h"
#include "tags/tagfile.h"
#include "tracklist/rightview.h"

#include <QCoreApplication>
#include <QHash>
#include <QStringList>

#include <algorithm>
#include <atomic>
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
    // The files are read, changed and written on another thread, so the window keeps painting whatever the disk
    // does; this thread only takes the paths before and shows the rows after, in one change. The command's
    // journal goes with the work.
    QStringList paths;
    for (const int row : rows) {
        if (IsTaggableExtension(view.Model()->Row(row)[Column::Ext]))
            paths.append(view.RowFullPath(row));
    }
    QStringList failures;
    int written = 0;
    std::vector<std::pair<QString, TagFile>> results;
    results.reserve(std::size_t(paths.size()));
    std::atomic<int> done{0};
    std::atomic<bool> cancel{false};
    platform::ChangeObserver *journal = platform::CurrentObserver();
    const bool whole = reportcommands::RunWithProgress(parent, int(paths.size()), done, cancel, [&] {
        platform::ChangeObserver *previous = platform::SetCurrentObserver(journal);
        // The files go in groups: each group's changes are made, then written with one journal flush.
        constexpr qsizetype kGroup = 64;
        for (qsizetype start = 0; start < paths.size() && !cancel.load(); start += kGroup) {
            std::vector<TagFile> records;
            for (qsizetype i = start; i < std::min(paths.size(), start + kGroup); ++i) {
                if (cancel.load())
                    break;   // the file in hand is finished; the rest stay as they are
                TagFile record;
                if (!record.Open(paths[i])) {
                    failures.append(record.ReadError());   // an unreadable file is never written
                    continue;
                }
                change(record);
                records.push_back(std::move(record));
            }
            QList<TagFile *> files;
            for (TagFile &record : records)
                files.append(&record);
            TagFile::WriteAll(files, [&](TagFile &record, bool ok, const QString &error) {
                if (!ok) {
                    failures.append(error);
                    record.Open(record.path);   // the row shows what the file really holds
                } else {
                    ++written;
                }
            });
            for (TagFile &record : records)
                results.emplace_back(record.path, std::move(record));
            done.store(int(std::min(paths.size(), start + kGroup)));
        }
        platform::SetCurrentObserver(previous);
    });
    view.Model()->FillTagCellsOfFiles(results);
    if (!whole)
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
