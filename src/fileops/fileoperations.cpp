#include "fileops/fileoperations.h"

#include "platform/changeobserver.h"
#include "platform/fileio.h"

#include <cerrno>

namespace fileops {

namespace {

// Copy or move, one shape: the attempt without replacing, the question on a conflict, the overwrite.
Outcome Transfer(const QString &source, const QString &target, bool ask, FileOpsUi &ui, bool move)
{
    // The same file under another name (a link, a path spelt differently) is "itself", and so is the same path.
    if (source == target || platform::SameFile(source, target)) {
        ui.CopyToItself();
        return Outcome::Stop;
    }
    platform::FileSide side = platform::FileSide::Target;
    auto transfer = [&](bool overwrite) {
        if (overwrite)
            platform::ClearReadOnly(target);
        return move ? platform::MoveFileTo(source, target, overwrite, &side)
                    : platform::CopyFileTo(source, target, overwrite, &side);
    };
    // The message names the file the failing call was about.
    auto report = [&](int error, Outcome success) {
        if (error == 0) {
            // A move is a change of name the journal can take back.
            if (platform::ChangeObserver *observer = move ? platform::CurrentObserver() : nullptr) {
                platform::FileIdentity identity;
                platform::Identify(target, identity);
                observer->Renamed(source, target, identity);
            }
            return success;
        }
        ui.ShowError(side == platform::FileSide::Source ? source : target, error);
        return Outcome::Failed;
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
    auto remove = [&](bool clear, Outcome success) {
        if (clear)
            platform::ClearReadOnly(path);
        const int error = platform::DeleteFile(path);
        if (error == 0)
            return success;
        ui.ShowError(path, error);
        return Outcome::Failed;
    };
    if (!ask)
        return remove(true, Outcome::Done);
    const int error = platform::DeleteFile(path);
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
