#include "fileops/fileoperations.h"

#include "platform/changeobserver.h"
#include "platform/fileio.h"
#include "platform/trash.h"

#include <QDir>

#include <cerrno>

namespace fileops {

namespace {

// Copy or move, one shape: the attempt without replacing, the question on a conflict, the overwrite.
// Makes room for an overwrite: with the trash on, the file in the way goes there (and can come back).
// Returns 0 or an errno; `lost` is set when the file will be replaced for good.
// Puts a file in the desktop's trash and tells the journal where it went; 0 or an errno.
int Trash(const QString &path)
{
    // The place in the trash is taken (its record made) and journaled before the file moves there.
    const QString absolute = QDir::cleanPath(QDir::current().absoluteFilePath(path));
    platform::TrashPlace place;
    if (const int error = platform::ReserveTrash(absolute, place))
        return error;
    platform::FileChangeNote note(platform::FileChange::Trash, absolute, place.file, absolute, place.infoText);
    const int error = platform::CommitTrash(absolute, place);
    note.Done(error == 0, place.file);
    return error;
}

int ClearTheWay(const QString &target, FileOpsUi &ui, bool &lost)
{
    lost = false;
    platform::FileStatus status;
    if (platform::Stat(target, status) != 0)
        return 0;   // nothing in the way
    if (!ui.UseTrash()) {
        lost = true;
        return 0;
    }
    return Trash(target);
}

// Copy or move, one shape: the attempt without replacing, the question on a conflict, the overwrite.
Outcome Transfer(const QString &source, const QString &target, bool ask, FileOpsUi &ui, bool move)
{
    // The same file under another name (a link, a path spelt differently) is "itself", and so is the same path.
    if (source == target || platform::SameFile(source, target)) {
        ui.CopyToItself();
        return Outcome::Stop;
    }
    platform::FileSide side = platform::FileSide::Target;
    bool lost = false;
    auto transfer = [&](bool overwrite) {
        if (overwrite) {
            if (const int error = ClearTheWay(target, ui, lost))
                return error;
            if (!lost)
                overwrite = false;   // the way is clear: nothing is replaced
            else
                platform::ClearReadOnly(target);
        }
        // Recorded before it is made, settled after: a kill between the two is settled at the next start.
        platform::FileChangeNote note(move ? platform::FileChange::Rename : platform::FileChange::Copy, source,
                                      target, source);
        const int error = move ? platform::MoveFileTo(source, target, overwrite, &side)
                               : platform::CopyFileTo(source, target, overwrite, &side);
        note.Done(error == 0, target);
        return error;
    };
    // The message names the file the failing call was about.
    auto report = [&](int error, Outcome success) {
        if (error != 0) {
            ui.ShowError(side == platform::FileSide::Source ? source : target, error);
            return Outcome::Failed;
        }
        // The journal learns what was replaced for good.
        if (lost)
            if (platform::ChangeObserver *observer = platform::CurrentObserver())
                observer->Lost(target);
        return success;
    };
    if (!ask)
        return report(transfer(true), Outcome::Done);
    const int error = transfer(false);
    if (error != EEXIST)
        return report(error, Outcome::Done);
    switch (ui.AskOverwrite(target)) {
    case Answer::Yes:
        return report(transfer(true), Outcome::Done);
    case Answer::YesToAll:
        return report(transfer(true), Outcome::DoneStopAsking);
    case Answer::Skip:
        return Outcome::Skipped;
    case Answer::SkipAll:
        return Outcome::Stop;
    }
    return Outcome::Skipped;
}

} // namespace

Outcome CopyOneFile(const QString &source, const QString &target, bool ask, FileOpsUi &ui)
{
    return Transfer(source, target, ask, ui, false);
}

Outcome MoveOneFile(const QString &source, const QString &target, bool ask, FileOpsUi &ui)
{
    return Transfer(source, target, ask, ui, true);
}

Outcome DeleteOneFile(const QString &path, bool ask, FileOpsUi &ui)
{
    // With the trash on, a file goes there (read-only ones still asked about first); otherwise it is gone for good.
    auto erase = [&]() -> int {
        if (!ui.UseTrash()) {
            const int error = platform::DeleteFile(path);
            if (error == 0)
                if (platform::ChangeObserver *observer = platform::CurrentObserver())
                    observer->Lost(path);
            return error;
        }
        platform::FileStatus status;
        if (const int error = platform::Stat(path, status))
            return error;
        if (!status.OwnerCanWrite() && ask)
            return EACCES;
        return Trash(path);
    };
    auto remove = [&](bool clear, Outcome success) {
        if (clear && !ui.UseTrash())
            platform::ClearReadOnly(path);
        ask = false;   // the user agreed
        const int error = erase();
        if (error == 0)
            return success;
        ui.ShowError(path, error);
        return Outcome::Failed;
    };
    if (!ask)
        return remove(true, Outcome::Done);
    const int error = erase();
    if (error == 0)
        return Outcome::Done;
    if (error != EACCES && error != EPERM) {
        ui.ShowError(path, error);
        return Outcome::Failed;
    }
    switch (ui.AskDeleteReadOnly(path)) {
    case Answer::Yes:
        return remove(true, Outcome::Done);
    case Answer::YesToAll:
        return remove(true, Outcome::DoneStopAsking);
    case Answer::Skip:
        return Outcome::Skipped;
    case Answer::SkipAll:
        return Outcome::Stop;
    }
    return Outcome::Skipped;
}

} // namespace fileops
