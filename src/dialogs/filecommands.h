#pragma once

#include <QList>
#include <QString>
#include <QStringList>
#include <QUrl>

class CRightView;
class QSettings;
class QWidget;

#include <functional>

class AppSettings;
struct ScanState;

// The file commands of the track list.
namespace filecommands {

// Copy File(s) to / Move File(s) to: a folder is chosen, then every selected row's file goes there, the first
// selected row each time; conflicts are asked about ("File already exist"). After a failure the selection is
// cleared and `refresh` lists the folder again.
void CopyMoveSelection(CRightView &view, AppSettings &settings, ScanState &state, bool move,
                       const std::function<void()> &refresh, QWidget *parent);
// Copies or moves the selected rows' files into `folder` (the part after the folder dialog).
void CopyMoveRows(CRightView &view, const QString &folder, bool move, const std::function<void()> &refresh,
                  QWidget *parent);
// Commits an in-place edit to the file it was opened on: the Filename cell renames the file (never over another,
// never out of its folder), a tag cell of an MP3 file writes that field. The file's row, wherever it is now, then
// shows what the file holds; a failure is shown with the file and the reason.
void CommitCellEdit(CRightView &view, const QString &path, int column, const QString &text, QWidget *parent);
// Remove File(s): asks once, then deletes the selected rows' files (a read-only one is asked about) and their rows.
void RemoveSelection(CRightView &view, const std::function<void()> &refresh, QWidget *parent);

// Rename File(s) using tag: the pattern dialog, then every selected MP3 row renamed in list order, the counter
// running across them. Never replaces an existing file.
void RenameSelection(CRightView &view, QSettings &store, QWidget *parent);
// Renames the selected MP3 rows by `pattern`; returns how many files failed.
int RenameRows(CRightView &view, const QString &pattern, long long counter, QWidget *parent);

// Copy, Cut and Paste of files through the clipboard, and files dropped onto the list. The clipboard holds a URL
// list and the file managers' "copied files" marker, so files copied here paste in a file manager and the other
// way round. A Cut stays inside the program: its files move only when pasted here.
class FileClipboard
{
public:
    void Copy(const CRightView &view);
    void Cut(const CRightView &view);
    // Copies (or, after a Cut, moves) the files into the list's current folder and adds them as rows.
    void Paste(CRightView &view, const std::function<void()> &refresh, QWidget *parent);
    // Files dropped from elsewhere: moved, or copied when `copy`.
    void Drop(CRightView &view, const QList<QUrl> &urls, bool copy, const std::function<void()> &refresh,
              QWidget *parent);
    static bool CanPaste();
    // A pending Cut is dropped (files were dragged out of the list meanwhile).
    void ForgetCut() { Clear(); }

private:
    void Clear();
    // The files of a URL list whose extensions the list accepts; each other file is reported.
    void Collect(const CRightView &view, const QList<QUrl> &urls, QWidget *parent);
    void Process(CRightView &view, bool move, const std::function<void()> &refresh, QWidget *parent);

    QStringList m_pending;
    bool m_cutPending = false;
    QString m_cutSourceFolder;
};

} // namespace filecommands
