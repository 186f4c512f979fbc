#include "journal/undo.h"

#include "platform/fileio.h"

#include <QCoreApplication>
#include <QHash>

#include <algorithm>

#include <cerrno>

namespace journal {

namespace {

QString tr(const char *text) { return QCoreApplication::translate("journal", text); }

// A tag region rewritten in place with one write each is whole, old or new, if the process is killed; larger ones
// go through a new file renamed over the old.
constexpr qsizetype kMaxInPlace = qsizetype(64) << 10;

// The identity each file was last given by a recorded change (renames under their new names).
using Identities = QHash<QString, platform::FileIdentity>;

// Whether a file is still as `change` left it: untouched since, or changed only by recorded changes that were
// taken back since (then its tag bytes and size are those the change left, and nothing else touched it after).
bool AsLeft(const Change &change, platform::ReadOnlyFile &file, const Identities &later)
{
    const platform::FileIdentity now = platform::IdentityOf(file.Status());
    if (now == change.after)
        return true;
    const auto known = later.constFind(change.path);
    if (known == later.constEnd() || *known != now || now.size != change.after.size)
        return false;
    QByteArray head, tail;
    return file.ReadAt(0, change.newHead.size(), head) == 0 && head == change.newHead &&
           file.ReadAt(now.size - change.newTail.size(), change.newTail.size(), tail) == 0 && tail == change.newTail;
}

// Puts one tag change back: the file must be as the change left it. Returns an empty text or why it was skipped.
QString RestoreTags(const Change &change, Recorder &recorder, const Identities &later)
{
    platform::ReadOnlyFile file;
    if (const int error = file.OpenForUpdate(change.path))
        return platform::ErrorText(error);
    if (!AsLeft(change, file, later))
        return tr("changed since; left as it is");
    const platform::FileIdentity current = platform::IdentityOf(file.Status());
    const std::int64_t size = current.size;
    const quint64 token =
        recorder.TagsChanging(change.path, current, change.newHead, change.newTail, change.oldHead, change.oldTail);
    recorder.MakeDurable();
    int status = 0;
    if (change.oldHead.size() == change.newHead.size() && change.oldTail.size() == change.newTail.size() &&
        change.oldHead.size() <= kMaxInPlace) {
        std::vector<std::pair<std::int64_t, QByteArray>> pieces;
        if (!change.oldHead.isEmpty())
            pieces.emplace_back(0, change.oldHead);
        if (!change.oldTail.isEmpty())
            pieces.emplace_back(size - change.oldTail.size(), change.oldTail);
        status = file.WriteInPlace(pieces);
    } else {
        status = file.Rewrite(change.oldHead, change.newHead.size(), size - change.newTail.size(), change.oldTail,
                              false);
    }
    // The file gets back the time it had, too: as far as anyone can tell, the change never happened.
    if (status == 0)
        platform::SetModificationTime(change.path, change.before.modified);
    platform::FileIdentity after;
    platform::Identify(change.path, after);
    recorder.TagsChanged(token, status == 0, after);
    return status == 0 ? QString() : platform::ErrorText(status);
}

QString RestoreName(const Change &change, Recorder &recorder)
{
    platform::FileIdentity now;
    if (platform::Identify(change.newPath, now) != 0)
        return tr("no longer there");
    if (now.device != change.after.device || now.inode != change.after.inode)
        return tr("another file has its name now; left as it is");
    // Never over another file; across disks (a move) the file is copied back whole, then let go.
    if (const int error = platform::MoveFileTo(change.newPath, change.path, false))
        return error == EEXIST ? tr("its old name is taken; left as it is") : platform::ErrorText(error);
    platform::Identify(change.path, now);
    recorder.Renamed(change.newPath, change.path, now);
    return QString();
}

// A copy is taken away again when it is still as it was made; one that was taken away is made again.
QString RestoreCopy(const Change &change, Recorder &recorder, Outcome &outcome)
{
    if (change.present) {
        platform::FileIdentity now;
        if (platform::Identify(change.newPath, now) != 0)
            return tr("no longer there");
        if (now != change.after)
            return tr("changed since; left as it is");
        platform::ClearReadOnly(change.newPath);   // the copy is ours to take away, read-only or not
        if (const int error = platform::DeleteFile(change.newPath))
            return platform::ErrorText(error);
        recorder.Uncopied(change.source, change.newPath);
        outcome.removed.append(change.newPath);
        return QString();
    }
    if (const int error = platform::CopyFileTo(change.source, change.newPath, false))
        return error == EEXIST ? tr("its name is taken; left as it is") : platform::ErrorText(error);
    platform::FileIdentity made;
    platform::Identify(change.newPath, made);
    recorder.Copied(change.source, change.newPath, made);
    outcome.added.append(change.newPath);
    return QString();
}

// A file put in the trash comes back out (never over a file that took its name); one brought out goes back in.
QString RestoreTrash(const Change &change, Recorder &recorder, Outcome &outcome)
{
    if (change.present) {
        if (const int error = platform::RestoreFromTrash(change.newPath, change.path))
            return error == EEXIST ? tr("its name is taken; left in the trash") : platform::ErrorText(error);
        recorder.Untrashed(change.path, change.newPath);
        outcome.added.append(change.path);
        return QString();
    }
    platform::FileIdentity now;
    if (platform::Identify(change.path, now) != 0)
        return tr("no longer there");
    if (now != change.after)
        return tr("changed since; left as it is");
    QString trashed;
    if (const int error = platform::MoveToTrash(change.path, trashed))
        return platform::ErrorText(error);
    recorder.Trashed(change.path, trashed);
    outcome.removed.append(change.path);
    return QString();
}

// Takes back every change of entry `id`, newest first, recorded as an entry of `kind`.
Outcome Reverse(const QString &folder, qint64 id, Kind kind, const Progress &progress)
{
    Outcome outcome;
    EntryInfo info;
    QList<Change> changes;
    if (!ReadEntry(folder, id, info, changes)) {
        outcome.error = tr("entry %1 cannot be read").arg(id);
        return outcome;
    }
    outcome.found = true;
    outcome.id = id;
    outcome.command = info.command;
    outcome.kind = info.kind;
    // What later entries (taken back since, or the file would not qualify) left each file as.
    Identities later;
    for (const EntryInfo &newer : ListEntries(folder)) {
        if (newer.id <= id)
            break;
        EntryInfo unused;
        QList<Change> their;
        ReadEntry(folder, newer.id, unused, their);
        for (auto change = their.crbegin(); change != their.crend(); ++change) {
            if (change->done && !later.contains(change->type == Change::Type::Tag ? change->path : change->newPath))
                later.insert(change->type == Change::Type::Tag ? change->path : change->newPath, change->after);
        }
    }
    Recorder recorder(folder);
    if (!recorder.Begin(info.command, kind, id))
        outcome.journalError = recorder.Error();
    const int total = int(std::count_if(changes.cbegin(), changes.cend(), [](const Change &c) { return c.done; }));
    int index = 0;
    // The files put back are made durable together, before the journal records the undo as done.
    platform::FlushBatch flush;
    for (auto it = changes.crbegin(); it != changes.crend(); ++it) {
        if (!it->done)
            continue;
        if (progress && !progress(index, total)) {
            outcome.cancelled = true;
            outcome.notReached = total - index;
            break;
        }
        ++index;
        QString why;
        QString shown = it->path;
        switch (it->type) {
        case Change::Type::Tag:
            why = RestoreTags(*it, recorder, later);
            if (why.isEmpty())
                outcome.retagged.append(it->path);
            break;
        case Change::Type::Rename:
            shown = it->newPath;
            why = RestoreName(*it, recorder);
            if (why.isEmpty())
                outcome.renamed.append({it->newPath, it->path});
            break;
        case Change::Type::Copy:
            shown = it->newPath;
            why = RestoreCopy(*it, recorder, outcome);
            break;
        case Change::Type::Trash:
            why = RestoreTrash(*it, recorder, outcome);
            break;
        case Change::Type::Lost:
            why = tr("deleted or replaced for good (the trash was off); it cannot come back");
            break;
        }
        if (why.isEmpty())
            ++outcome.restored;
        else
            outcome.skipped.append(QStringLiteral("%1: %2").arg(shown, why));
    }
    if (const int error = flush.Finish())
        outcome.skipped.append(tr("the files put back may not have reached the disk: %1").arg(platform::ErrorText(error)));
    recorder.End();
    MarkUndone(folder, id, true);
    return outcome;
}

} // namespace

qint64 NextUndo(const QString &folder)
{
    for (const EntryInfo &entry : ListEntries(folder)) {
        if (entry.kind != Kind::Undo && !entry.undone)
            return entry.id;
    }
    return 0;
}

qint64 NextRedo(const QString &folder)
{
    // The newest undo still standing, unless a new command came after it.
    for (const EntryInfo &entry : ListEntries(folder)) {
        if (entry.kind == Kind::Do)
            return 0;
        if (entry.kind == Kind::Undo && !entry.undone)
            return entry.id;
    }
    return 0;
}

Outcome Undo(const QString &folder, qint64 id, const Progress &progress)
{
    Recover(folder);
    if (id == 0)
        id = NextUndo(folder);
    if (id == 0) {
        Outcome nothing;
        nothing.error = tr("nothing to undo");
        return nothing;
    }
    EntryInfo info;
    QList<Change> changes;
    if (!ReadEntry(folder, id, info, changes)) {
        Outcome missing;
        missing.error = tr("there is no entry %1").arg(id);
        return missing;
    }
    if (info.kind == Kind::Undo || info.undone) {
        Outcome refused;
        refused.error = info.undone ? tr("entry %1 is undone already").arg(id)
                                    : tr("entry %1 is an undo; redo does it again").arg(id);
        return refused;
    }
    return Reverse(folder, id, Kind::Undo, progress);
}

Outcome Redo(const QString &folder, const Progress &progress)
{
    Recover(folder);
    const qint64 id = NextRedo(folder);
    if (id == 0) {
        Outcome nothing;
        nothing.error = tr("nothing to redo");
        return nothing;
    }
    return Reverse(folder, id, Kind::Redo, progress);
}

} // namespace journal
