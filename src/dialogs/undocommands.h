#pragma once

#include <QSet>
#include <QString>

class CRightView;
class QWidget;

// Edit > Undo and Redo over the journal the window and the command line share, and the journaling of the
// commands that change files.
namespace undocommands {

// What Undo or Redo would act on now: the command's name and how many files it changed (0 files: nothing).
struct Next
{
    qint64 id = 0;
    QString command;
    int files = 0;
};

// Reads the journal's state (cheap: the entries' small records only).
Next NextUndo();
Next NextRedo();

// Takes back the newest command (or does again what the newest undo took back), with progress and Cancel; one
// message names the files skipped; the list's rows then show what the files hold and are called.
void Undo(CRightView &view, QWidget *parent);
void Redo(CRightView &view, QWidget *parent);

// Brings the list's rows up to date with the commands other processes (the command line) ran, as their journal
// entries tell: tags read again, renamed files under their new names, rows of files gone removed, files that
// came back into the listed folder listed. The entries there when it is made count as seen.
class OutsideCommands
{
public:
    OutsideCommands();
    // Follows the finished entries not seen yet that this process did not make. True when an entry is still
    // being written (a command still running): call again later.
    bool Follow(CRightView &view);

private:
    QSet<QString> m_seen;   // "id time" of the entries seen
};

// Records the changes a command makes while it lives; when the journal cannot be written, the user is told
// once that this command cannot be undone (the command still runs).
class Scope
{
public:
    Scope(const QString &command, QWidget *parent);
    ~Scope();
    Scope(const Scope &) = delete;
    Scope &operator=(const Scope &) = delete;

private:
    struct Private;
    Private *d;
};

} // namespace undocommands
