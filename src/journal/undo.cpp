#include "journal/undo.h"

#include "platform/fileio.h"
#include "platform/trash.h"

#include <QCoreApplication>
#include <QHash>

#include <algorithm>
#include <memory>
#include <vector>

#include <cerrno>

namespace journal {

namespace {

QString tr(const char *text) { return QCoreApplication::translate("journal", text); }

// A tag region rewritten in place with one write each is whole, old or new, if the process is killed; larger ones
// go through a new file renamed over the old.
constexpr qsizetype kMaxInPlace = qsizetype(64) << 10;

// The identity each file was last given by a recorded change (renames under their new names).
using Identities = QHash<QString, platform::FileIdentity>;

// What putting one change back came to: done (empty `why`), as before already, or skipped with a reason.
struct Step
{
    QString why;
    bool already = false;
};

Step Skip(const QString &why) { return Step{why, false}; }
Step Already() { return Step{QString(), true}; }

bool Holds(const platform::ReadOnlyFile &file, std::int64_t size, const QByteArray &head, const QByteArray &tail)
{
    QByteArray a, b;
    return file.ReadAt(0, head.size(), a) == 0 && a == head && file.ReadAt(size - tail.size(), tail.size(), b) == 0 &&
           b == tail;
}

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
    return Holds(file, now.size, change.newHead, change.newTail);
}

// One tag change being put back, in two steps, so that a group of them makes the journal durable once: Prepare
// checks and opens the file and records the change; Commit writes it.
struct TagRestore
{
    const Change *change = nullptr;
    platform::ReadOnlyFile file;
    std::int64_t size = 0;
    quint64 token = 0;
    bool prepared = false;   // recorded: Commit writes
    Step early;              // the step, when Prepare already knows it (skipped, or as before already)
};

// The file must be as the change left it.
void PrepareTagRestore(TagRestore &restore, Recorder &recorder, const Identities &later)
{
    const Change &change = *restore.change;
    platform::ReadOnlyFile &file = restore.file;
    if (const int error = file.OpenForUpdate(change.path)) {
        restore.early = Skip(platform::ErrorText(error));
        return;
    }
    const platform::FileIdentity current = platform::IdentityOf(file.Status());
    restore.size = current.size;
    // Put back already by an earlier run of this undo that was cut short or cancelled.
    if (restore.size == change.before.size && Holds(file, restore.size, change.oldHead, change.oldTail) &&
        (change.oldHead != change.newHead || change.oldTail != change.newTail)) {
        restore.early = Already();
        return;
    }
    if (!AsLeft(change, file, later)) {
        restore.early = Skip(tr("changed since; left as it is"));
        return;
    }
    restore.token =
        recorder.TagsChanging(change.path, current, change.newHead, change.newTail, change.oldHead, change.oldTail);
    restore.prepared = true;
}

// Writes a prepared restore (the journal holds its record durably by now).
Step CommitTagRestore(TagRestore &restore, Recorder &recorder)
{
    if (!restore.prepared)
        return restore.early;
    const Change &change = *restore.change;
    platform::ReadOnlyFile &file = restore.file;
    const std::int64_t size = restore.size;
    int status = 0;
    // In place only while the journal holds the write durably; else through a new file, which needs no journal.
    if (change.oldHead.size() == change.newHead.size() && change.oldTail.size() == change.newTail.size() &&
        change.oldHead.size() <= kMaxInPlace && recorder.InPlaceAllowed()) {
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
    recorder.TagsChanged(restore.token, status == 0, after);
    return status == 0 ? Step() : Skip(platform::ErrorText(status));
}

Step RestoreName(const Change &change)
{
    platform::FileIdentity now, back;
    const bool there = platform::Identify(change.newPath, now) == 0;
    if (!there || !now.SameFile(change.after)) {
        // Back under its old name already (a run cut short put it there)?
        if (platform::Identify(change.path, back) == 0 && back.SameFile(change.after))
            return Already();
        return Skip(there ? tr("another file has its name now; left as it is") : tr("no longer there"));
    }
    // Never over another file; across disks (a move) the file is copied back whole, then let go.
    platform::FileChangeNote note(platform::FileChange::Rename, change.newPath, change.path, change.newPath);
    const int error = platform::MoveFileTo(change.newPath, change.path, false);
    note.Done(error == 0, change.path);
    if (error)
        return Skip(error == EEXIST ? tr("its old name is taken; left as it is") : platform::ErrorText(error));
    return Step();
}

// A copy is taken away again when it is still as it was made; one that was taken away is made again.
Step RestoreCopy(const Change &change, Outcome &outcome)
{
    if (change.present) {
        platform::FileIdentity now;
        if (platform::Identify(change.newPath, now) != 0)
            return Already();   // gone: as before the copy
        if (now != change.after)
            return Skip(tr("changed since; left as it is"));
        platform::ClearReadOnly(change.newPath);   // the copy is ours to take away, read-only or not
        platform::FileChangeNote note(platform::FileChange::Uncopy, change.source, change.newPath, change.newPath);
        const int error = platform::DeleteFile(change.newPath);
        note.Done(error == 0, change.newPath);
        if (error)
            return Skip(platform::ErrorText(error));
        outcome.removed.append(change.newPath);
        return Step();
    }
    platform::FileChangeNote note(platform::FileChange::Copy, change.source, change.newPath, change.source);
    const int error = platform::CopyFileTo(change.source, change.newPath, false);
    note.Done(error == 0, change.newPath);
    if (error)
        return Skip(error == EEXIST ? tr("its name is taken; left as it is") : platform::ErrorText(error));
    outcome.added.append(change.newPath);
    return Step();
}

// A file put in the trash comes back out (never over a file that took its name, and only the very file that was
// put there); one brought out goes back in.
Step RestoreTrash(const Change &change, Outcome &outcome)
{
    if (change.present) {
        platform::FileIdentity inTrash, back;
        const bool there = platform::Identify(change.newPath, inTrash) == 0;
        if (!there || (change.after.size >= 0 && inTrash != change.after)) {
            if (platform::Identify(change.path, back) == 0 && change.after.size >= 0 && back.SameFile(change.after))
                return Already();
            return Skip(there ? tr("another file is in its place in the trash; left as it is")
                              : tr("no longer in the trash"));
        }
        const platform::TrashPlace place{change.newPath, platform::TrashPlace::InfoOf(change.newPath), change.trashRecord};
        platform::FileChangeNote note(platform::FileChange::Untrash, change.path, change.newPath, change.newPath,
                                      change.trashRecord);
        const int error = platform::RestoreFromTrash(place, change.path);
        note.Done(error == 0, change.path);
        if (error == EEXIST)
            return Skip(tr("its name is taken; left in the trash"));
        if (error == platform::kErrorFileChanged)
            return Skip(tr("the trash's record of it changed; left in the trash"));
        if (error)
            return Skip(platform::ErrorText(error));
        outcome.added.append(change.path);
        return Step();
    }
    platform::FileIdentity now;
    if (platform::Identify(change.path, now) != 0)
        return Skip(tr("no longer there"));
    if (now != change.after)
        return Skip(tr("changed since; left as it is"));
    platform::TrashPlace place;
    if (const int error = platform::ReserveTrash(change.path, place))
        return Skip(platform::ErrorText(error));
    platform::FileChangeNote note(platform::FileChange::Trash, change.path, place.file, change.path, place.infoText);
    const int error = platform::CommitTrash(change.path, place);
    note.Done(error == 0, place.file);
    if (error)
        return Skip(platform::ErrorText(error));
    outcome.removed.append(change.path);
    return Step();
}

// Takes back every change of entry `id`, newest first, recorded as an entry of `kind`.
Outcome Reverse(const QString &folder, qint64 id, Kind kind, const Progress &progress)
{
    Outcome outcome;
    // Held while it is taken back: a second undo of the same entry (another process) waits its turn.
    const EntryLock lock(folder, id);
    if (!lock.Held()) {
        outcome.error = tr("entry %1 is in use by another Tunegrove command; try again when it has ended").arg(id);
        return outcome;
    }
    EntryInfo info;
    QList<Change> changes;
    if (!ReadEntry(folder, id, info, changes)) {
        outcome.error = tr("entry %1 cannot be read").arg(id);
        return outcome;
    }
    if (info.undone) {
        outcome.error = tr("entry %1 is undone already").arg(id);   // by another process, just now
        return outcome;
    }
    outcome.found = true;
    outcome.id = id;
    outcome.command = info.command;
    outcome.kind = info.kind;
    outcome.damaged = info.damaged;
    outcome.cutShort = info.cutShort;
    outcome.incomplete = info.incomplete;
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
    // The files put back are made durable together, before the journal records the undo as done: a group's
    // files are flushed while the next group is read, and that flush ends before the next group's records are
    // made durable (with them the records that say the group before is back).
    auto flush = std::make_unique<platform::FlushBatch>();
    std::unique_ptr<platform::FlushBatch> flushing;
    int flushError = 0;
    auto settleFlush = [&](std::unique_ptr<platform::FlushBatch> &batch) {
        if (!batch)
            return;
        if (const int error = batch->Finish(); error != 0 && flushError == 0)
            flushError = error;
        batch.reset();
    };
    auto settle = [&](const Step &step, const QString &shown) {
        if (!step.why.isEmpty()) {
            outcome.skipped.append(QStringLiteral("%1: %2").arg(shown, step.why));
            return;
        }
        ++outcome.restored;
        if (step.already)
            ++outcome.already;
    };
    // Tag changes go in groups, as a command writes them: each group's records are made durable with one flush,
    // then its files are written.
    constexpr std::size_t kGroup = 64;
    std::vector<std::unique_ptr<TagRestore>> group;
    auto writeGroup = [&] {
        if (group.empty())
            return;
        settleFlush(flushing);
        recorder.MakeDurable();
        for (const std::unique_ptr<TagRestore> &restore : group) {
            const Step step = CommitTagRestore(*restore, recorder);
            if (step.why.isEmpty() && !step.already)
                outcome.retagged.append(restore->change->path);
            settle(step, restore->change->path);
        }
        group.clear();
        flush->FinishInBackground();
        flushing = std::move(flush);
        flush = std::make_unique<platform::FlushBatch>();
    };
    for (auto it = changes.crbegin(); it != changes.crend(); ++it) {
        if (!it->done)
            continue;
        if (progress && !progress(index, total)) {
            outcome.cancelled = true;
            outcome.notReached = total - index;
            break;
        }
        ++index;
        if (it->type == Change::Type::Tag) {
            // A file that comes twice in a group is written once its first change is in.
            if (std::any_of(group.begin(), group.end(), [&](const auto &r) { return r->change->path == it->path; }))
                writeGroup();
            auto restore = std::make_unique<TagRestore>();
            restore->change = &*it;
            PrepareTagRestore(*restore, recorder, later);
            group.push_back(std::move(restore));
            if (group.size() >= kGroup)
                writeGroup();
            continue;
        }
        writeGroup();   // the tags before a rename or copy are back before it
        Step step;
        QString shown = it->path;
        switch (it->type) {
        case Change::Type::Tag:
            break;
        case Change::Type::Rename:
            shown = it->newPath;
            step = RestoreName(*it);
            if (step.why.isEmpty() && !step.already)
                outcome.renamed.append({it->newPath, it->path});
            break;
        case Change::Type::Copy:
            shown = it->newPath;
            step = RestoreCopy(*it, outcome);
            break;
        case Change::Type::Trash:
            step = RestoreTrash(*it, outcome);
            break;
        case Change::Type::Lost:
            step = Skip(tr("deleted or replaced for good (the trash was off); it cannot come back"));
            break;
        }
        settle(step, shown);
    }
    writeGroup();
    settleFlush(flushing);
    settleFlush(flush);
    if (flushError != 0)
        outcome.skipped.append(tr("the files put back may not have reached the disk: %1").arg(platform::ErrorText(flushError)));
    if (recorder.FailedMidway())
        outcome.journalError = recorder.Error();
    recorder.End();
    // What could not be reached (cancelled) or read (damage) stays to be taken back by the next undo.
    if (!outcome.cancelled && outcome.damaged == 0 && !outcome.cutShort)
        MarkUndone(folder, id, true);
    return outcome;
}

// The newest entry of `kind`'s stack that is not taken back, passing over running commands.
qint64 Newest(const QString &folder, bool wantRunning)
{
    for (const EntryInfo &entry : ListEntries(folder)) {
        if (entry.kind == Kind::Undo || entry.undone)
            continue;
        if (entry.running) {
            if (wantRunning)
                return entry.id;
            continue;
        }
        return wantRunning ? 0 : entry.id;
    }
    return 0;
}

} // namespace

qint64 NextUndo(const QString &folder) { return Newest(folder, false); }

qint64 RunningNewest(const QString &folder) { return Newest(folder, true); }

qint64 NextRedo(const QString &folder)
{
    // The newest undo still standing, unless a new command came after it.
    for (const EntryInfo &entry : ListEntries(folder)) {
        if (entry.kind == Kind::Do)
            return 0;   // a new command (running or not) ends what can be redone
        if (entry.running)
            continue;
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
    if (info.kind == Kind::Undo || info.undone || info.running) {
        Outcome refused;
        refused.error = info.running ? tr("entry %1 (\"%2\") is still running; undo it when it has ended").arg(id).arg(info.command)
                        : info.undone ? tr("entry %1 is undone already").arg(id)
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

Outcome ChangesOf(const QString &folder, qint64 id)
{
    Outcome outcome;
    EntryInfo info;
    QList<Change> changes;
    if (!ReadEntry(folder, id, info, changes))
        return outcome;
    outcome.found = true;
    outcome.id = id;
    outcome.command = info.command;
    outcome.kind = info.kind;
    for (const Change &change : changes) {
        if (!change.done)
            continue;
        switch (change.type) {
        case Change::Type::Tag: outcome.retagged.append(change.path); break;
        case Change::Type::Rename: outcome.renamed.append({change.path, change.newPath}); break;
        case Change::Type::Copy: (change.present ? outcome.added : outcome.removed).append(change.newPath); break;
        case Change::Type::Trash: (change.present ? outcome.removed : outcome.added).append(change.path); break;
        case Change::Type::Lost: outcome.removed.append(change.path); break;
        }
    }
    outcome.retagged.removeDuplicates();
    return outcome;
}

} // namespace journal
