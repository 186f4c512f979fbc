#include "dialogs/filecommands.h"

#include "dialogs/batchprogress.h"
#include "dialogs/folderdlg.h"
#include "fileops/fileoperations.h"
#include "platform/fileio.h"
#include "platform/names.h"
#include "settings/appsettings.h"
#include "dialogs/prompter.h"
#include "dialogs/tag2filenamedlg.h"
#include "fileops/renamefile.h"
#include "fileops/renamepattern.h"
#include "tags/tagfile.h"
#include "library/tracklistmodel.h"
#include "tracklist/rightview.h"

#include <QApplication>
#include <QClipboard>
#include <QGuiApplication>
#include <QMimeData>
#include <QCoreApplication>
#include <QItemSelectionModel>

namespace filecommands {

namespace {

QString tr(const char *text) { return QCoreApplication::translate("filecommands", text); }

using fileops::Answer;
using fileops::Outcome;

// The questions of the per-file steps, asked through the prompt interface.
class PromptUi : public fileops::FileOpsUi
{
public:
    PromptUi(QWidget *parent, const CRightView &view) : m_parent(parent), m_useTrash(view.Settings().useTrash != 0) {}

    bool UseTrash() override { return m_useTrash; }

    Answer AskOverwrite(const QString &target) override
    {
        return Map(Prompter::Current().Choose(m_parent, tr("File already exist"), tr("Copy/Move warning : File already exist."),
                                              target, {tr("Overwrite"), tr("Overwrite All"), tr("Skip"), tr("Skip All")}));
    }
    Answer AskDeleteReadOnly(const QString &path) override
    {
        return Map(Prompter::Current().Choose(m_parent, tr("File Deleting"), tr("You try to delete file that is read only."),
                                              path, {tr("Delete"), tr("Delete All"), tr("Skip"), tr("Skip All")}));
    }
    void CopyToItself() override { Prompter::Current().Tell(m_parent, tr("Can not copy file to itself")); }
    void ShowError(const QString &path, int error) override
    {
        Prompter::Current().Ask(nullptr, tr("Error"), QStringLiteral("%1\n\n%2").arg(platform::ErrorText(error), path),
                                QMessageBox::Ok, QMessageBox::Information);
    }

private:
    // Closing the question without a button counts as Skip.
    static Answer Map(int chosen)
    {
        switch (chosen) {
        case 0: return Answer::Yes;
        case 1: return Answer::YesToAll;
        case 3: return Answer::SkipAll;
        default: return Answer::Skip;
        }
    }

    QWidget *m_parent;
    bool m_useTrash;
};

// Works through the selection, the first selected row each time, until it is empty: `step` does one row's file
// and says what became of it. Done removes the row (`removeDone`) or deselects it; Skipped deselects; Stop and
// Failed clear the selection (Failed also lists the folder again).
void ForEachSelected(CRightView &view, bool removeDone, const std::function<void()> &refresh, QWidget *parent,
                     const std::function<Outcome(int row, bool ask)> &step)
{
    const int total = int(view.SelectedRows().size());
    bool ask = true;
    BatchProgress progress(parent, total);
    for (int done = 0;; ++done) {
        const QList<int> rows = view.SelectedRows();
        if (rows.isEmpty())
            break;
        if (!progress.Step(std::min(done, total - 1))) {
            view.clearSelection();
            break;
        }
        const int row = rows.front();
        const Outcome outcome = step(row, ask);
        if (outcome == Outcome::DoneStopAsking)
            ask = false;
        if (outcome == Outcome::Done || outcome == Outcome::DoneStopAsking) {
            if (removeDone)
                view.Model()->RemoveRows({row});
            else
                view.selectionModel()->select(view.Model()->index(row, 0), QItemSelectionModel::Deselect | QItemSelectionModel::Rows);
        } else if (outcome == Outcome::Skipped) {
            view.selectionModel()->select(view.Model()->index(row, 0), QItemSelectionModel::Deselect | QItemSelectionModel::Rows);
        } else {
            view.clearSelection();
            if (outcome == Outcome::Failed && refresh) {
                progress.Finish();
                refresh();
            }
            break;
        }
    }
}

} // namespace

void CopyMoveSelection(CRightView &view, AppSettings &settings, ScanState &state, bool move,
                       const std::function<void()> &refresh, QWidget *parent)
{
    const QList<int> selected = view.SelectedRows();
    CFolderDlg dialog(settings, state, parent,
                      selected.isEmpty() ? view.CurrentFolder() : view.Model()->Row(selected.front())[Column::Path]);
    if (dialog.exec() != QDialog::Accepted || dialog.Folder().isEmpty())
        return;
    CopyMoveRows(view, dialog.Folder(), move, refresh, parent);
}

void CopyMoveRows(CRightView &view, const QString &folder, bool move, const std::function<void()> &refresh,
                  QWidget *parent)
{
    PromptUi ui(parent, view);
    const QString prefix = folder.endsWith(QLatin1Char('/')) ? folder : folder + QLatin1Char('/');
    ForEachSelected(view, move, refresh, parent, [&](int row, bool ask) {
        const TrackRecord &record = view.Model()->Row(row);
        const QString target = prefix + record[Column::Filename] + QLatin1Char('.') + record[Column::Ext];
        return move ? fileops::MoveOneFile(view.RowFullPath(row), target, ask, ui)
                    : fileops::CopyOneFile(view.RowFullPath(row), target, ask, ui);
    });
}

void CommitCellEdit(CRightView &view, const QString &path, int column, const QString &text, QWidget *parent)
{
    TrackRecord record;
    if (!SplitFullPath(path, record) || column < 0 || column >= kColumnCount)
        return;
    const int row = view.Model()->RowOfFile(path);   // -1: the row left the list; the file still gets its edit
    QApplication::setOverrideCursor(Qt::WaitCursor);
    QString failure;
    if (column == int(Column::Filename)) {
        const QString newName = SafeFileName(text);   // the name stays in its folder
        if (!newName.isEmpty() && newName != record[Column::Filename]) {
            const QString suffix = QLatin1Char('.') + record[Column::Ext];
            const QString newPath = record[Column::Path] + newName + suffix;
            const int error = RenameFile(path, newPath);
            if (error == 0 && row >= 0)
                view.Model()->SetFilename(row, newName);
            if (error == 0)
                view.FileRenamed(path, newPath);
            else
                failure = (IsAccessDenied(error) ? tr("Can`t Rename File!") + QStringLiteral("\n\n") : QString()) +
                          QStringLiteral("%1: %2").arg(path, platform::ErrorText(error));
        }
    } else if (IsTaggableExtension(record[Column::Ext]) && !view.Columns()[std::size_t(column)].readOnly) {
        TagFile tag;
        if (!tag.Open(path)) {
            failure = tag.ReadError();
        } else {
            switch (Column(column)) {
            case Column::Title: tag.title = text; break;
            case Column::Artist: tag.artist = text; break;
            case Column::Year: tag.year = text; break;
            case Column::Album: tag.album = text; break;
            case Column::Track: tag.SetTrack(text); break;
            case Column::Comment: tag.comment = text; break;
            default: break;
            }
            if (!tag.Write(&failure))
                tag.Open(path);
            if (row >= 0)
                view.FillTagCells(row, &tag);   // what the file holds now: 5000 as a track shows empty
        }
    }
    QApplication::restoreOverrideCursor();
    if (!failure.isEmpty())
        Prompter::Current().Tell(parent, failure, QMessageBox::Warning);
}

void RemoveSelection(CRightView &view, const std::function<void()> &refresh, QWidget *parent)
{
    if (!view.HasSelection())
        return;
    // Only Yes deletes: a question closed without an answer deletes nothing.
    if (Prompter::Current().Ask(parent, QString(), tr("You try to delete files. Are you sure?"),
                                QMessageBox::Yes | QMessageBox::No, QMessageBox::Question) != QMessageBox::Yes)
        return;
    PromptUi ui(parent, view);
    ForEachSelected(view, true, refresh, parent,
                    [&](int row, bool ask) { return fileops::DeleteOneFile(view.RowFullPath(row), ask, ui); });
}

void RenameSelection(CRightView &view, QSettings &store, QWidget *parent)
{
    CTag2FilenameDlg dialog(store, parent);
    QList<TrackRecord> preview;
    QStringList extensions;
    for (const int row : view.SelectedRows()) {
        const QString &ext = view.Model()->Row(row)[Column::Ext];
        if (!IsTaggableExtension(ext))
            continue;
        if (preview.size() < CTag2FilenameDlg::kPreviewRows)
            preview.append(view.Model()->Row(row));
        if (!extensions.contains(ext, Qt::CaseInsensitive))
            extensions.append(ext);
    }
    dialog.SetPreviewRows(preview);
    dialog.SetExtensions(extensions);
    if (dialog.exec() != QDialog::Accepted)
        return;
    RenameRows(view, dialog.Pattern(), dialog.CounterStart(), parent);
}

int RenameRows(CRightView &view, const QString &pattern, long long counter, QWidget *parent)
{
    const QList<int> rows = view.SelectedRows();
    QStringList failures;   // failures other than access denied, which is told at once
    int failed = 0;
    BatchProgress progress(parent, int(rows.size()));
    int renamed = 0;
    bool cancelled = false;
    for (qsizetype i = 0; i < rows.size(); ++i) {
        if (!progress.Step(int(i))) {
            cancelled = true;
            break;
        }
        const int row = rows[i];
        const TrackRecord &record = view.Model()->Row(row);
        if (!IsTaggableExtension(record[Column::Ext]))
            continue;
        // The file is renamed from the name it has on disk (its extension may be "MP3"); an MP3 file's new name
        // ends ".mp3", any other keeps its own extension, and the row shows the name and extension it has then.
        const bool noTagText = GivesNoTagText(pattern, record, counter);
        const QString newName = RenamedFileName(pattern, record, counter);
        const QString oldName = record[Column::Filename] + QLatin1Char('.') + record[Column::Ext];
        if (noTagText) {
            failures.append(tr("%1: its tags give the pattern no text; it keeps its name").arg(view.RowFullPath(row)));
            continue;
        }
        if (newName.isEmpty() || oldName == newName)
            continue;
        const qsizetype dot = newName.lastIndexOf(QLatin1Char('.'));
        const QString name = newName.left(dot);
        const QString extension = newName.mid(dot + 1);
        const QString oldPath = view.RowFullPath(row);
        const int error = RenameFile(oldPath, record[Column::Path] + newName);
        if (error == 0) {
            view.Model()->SetFilename(row, name, extension);
            ++renamed;
            continue;
        }
        ++failed;
        if (IsAccessDenied(error))
            Prompter::Current().Tell(parent, tr("Can`t Rename File!"), QMessageBox::Warning);
        else
            failures.append(QStringLiteral("%1: %2").arg(oldPath, platform::ErrorText(error)));
    }
    progress.Finish();
    if (cancelled)
        TellStopped(parent, renamed, int(rows.size()), tr("renamed"));
    TellFailures(parent, QCoreApplication::translate("filecommands", "%n file(s) could not be renamed:", nullptr,
                                                     int(failures.size())),
                 failures);
    return failed;
}

void FileClipboard::Clear()
{
    m_pending.clear();
    m_cutPending = false;
}

void FileClipboard::Copy(const CRightView &view)
{
    Clear();
    QGuiApplication::clipboard()->setMimeData(view.SelectedFilesData());
}

void FileClipboard::Cut(const CRightView &view)
{
    Clear();
    m_cutSourceFolder = view.CurrentFolder();
    QMimeData *data = view.SelectedFilesData();
    for (const QUrl &url : data->urls())
        m_pending.append(platform::PathOfFileUrl(url));
    QGuiApplication::clipboard()->setMimeData(data);
    m_cutPending = true;
}

namespace {

// The files a clipboard holds: its URL list, or else the file managers' "copied files" list ("copy" or "cut",
// then one URL a line).
QList<QUrl> FilesOf(const QMimeData *data)
{
    if (!data)
        return {};
    if (data->hasUrls())
        return data->urls();
    QList<QUrl> urls;
    const QList<QByteArray> lines = data->data(QStringLiteral("x-special/gnome-copied-files")).split('\n');
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const QUrl url = QUrl::fromEncoded(lines[i].trimmed());
        if (url.isValid() && !url.isEmpty())
            urls.append(url);
    }
    return urls;
}

// Whether a path's extension is one the list takes.
bool IsAcceptedFile(const CRightView &view, const QString &path)
{
    const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
    const qsizetype dot = path.lastIndexOf(QLatin1Char('.'));
    return dot > slash && view.IsExtensionAccepted(path.mid(dot + 1));
}

} // namespace

bool FileClipboard::CanPaste()
{
    // Asked by the enable rules ten times a second: the answer is kept from the clipboard's change signal, so a
    // clipboard owner that does not answer can never freeze the window.
    static int holdsFiles = -1;
    if (holdsFiles < 0) {
        QClipboard *clipboard = QGuiApplication::clipboard();
        auto update = [clipboard] {
            const QMimeData *data = clipboard->mimeData();
            holdsFiles = data && (data->hasUrls() || data->hasFormat(QStringLiteral("x-special/gnome-copied-files"))) ? 1 : 0;
        };
        QObject::connect(clipboard, &QClipboard::dataChanged, clipboard, update);
        update();
    }
    return holdsFiles == 1;
}

void FileClipboard::Collect(const CRightView &view, const QList<QUrl> &urls, QWidget *parent)
{
    for (const QUrl &url : urls) {
        if (!url.isLocalFile())
            continue;
        const QString path = platform::PathOfFileUrl(url);
        // Only files: a folder or a FIFO named "x.mp3" is not a song.
        platform::FileStatus status;
        if (IsAcceptedFile(view, path) && platform::Stat(path, status) == 0 && status.regular)
            m_pending.append(path);
        else
            Prompter::Current().Tell(parent, tr("File %1 has wrong type. The command is ignored.").arg(path));
    }
}

void FileClipboard::Paste(CRightView &view, const std::function<void()> &refresh, QWidget *parent)
{
    if (m_cutPending && (m_cutSourceFolder == view.CurrentFolder() || platform::SameFile(m_cutSourceFolder, view.CurrentFolder())))
        return;   // cut and pasted into the same folder: nothing to do
    const QList<QUrl> files = FilesOf(QGuiApplication::clipboard()->mimeData());
    if (!m_cutPending && files.isEmpty())
        return;
    if (!m_cutPending) {
        m_pending.clear();
        Collect(view, files, parent);
    }
    Process(view, m_cutPending, refresh, parent);
    Clear();
}

void FileClipboard::Drop(CRightView &view, const QList<QUrl> &urls, bool copy, const std::function<void()> &refresh,
                         QWidget *parent)
{
    Clear();
    Collect(view, urls, parent);
    Process(view, !copy || m_pending.isEmpty(), refresh, parent);
    Clear();
}

void FileClipboard::Process(CRightView &view, bool move, const std::function<void()> &refresh, QWidget *parent)
{
    if (m_pending.isEmpty())
        return;
    const QString folder = view.CurrentFolder();
    if (folder.isEmpty()) {
        // After Scan All the list has no folder of its own: nothing is written anywhere.
        Prompter::Current().Tell(parent, tr("There is no current folder to put the files in: choose a folder in the tree first."));
        return;
    }
    const QString prefix = folder.endsWith(QLatin1Char('/')) ? folder : folder + QLatin1Char('/');
    PromptUi ui(parent, view);
    bool ask = true;
    BatchProgress progress(parent, int(m_pending.size()));
    for (qsizetype i = 0; i < m_pending.size() && progress.Step(int(i)); ++i) {
        const QString &path = m_pending[i];
        const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
        const QString sourceFolder = path.left(slash + 1);
        if (sourceFolder == prefix || platform::SameFile(sourceFolder, folder)) {
            progress.Finish();
            Prompter::Current().Tell(parent, tr("%1 copy to itself. Ignore").arg(path));
            return;
        }
        const QString target = prefix + path.mid(slash + 1);
        const Outcome outcome = move ? fileops::MoveOneFile(path, target, ask, ui) : fileops::CopyOneFile(path, target, ask, ui);
        switch (outcome) {
        case Outcome::DoneStopAsking:
            ask = false;
            [[fallthrough]];
        case Outcome::Done:
        case Outcome::Skipped:
            view.AddFile(target);
            break;
        case Outcome::Stop:
            return;
        case Outcome::Failed:
            view.clearSelection();
            if (refresh)
                refresh();
            break;
        }
    }
}

} // namespace filecommands
