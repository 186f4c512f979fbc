#include "journal/journal.h"

#include "journal/entryfile.h"
#include "platform/fileio.h"
#include "platform/trash.h"

#include <QDataStream>
#include <QFile>

#include <algorithm>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace journal {

using namespace entryfile;

namespace {

// Whether the bytes of a tag region a write was cut short in are, piece by piece as the system and the disk write
// them (pages, and the 512-byte sectors of a page on a power cut), the old bytes or the new: anything else was
// written by someone else.
bool PagesOldOrNew(const platform::ReadOnlyFile &file, std::int64_t offset, const QByteArray &old, const QByteArray &fresh)
{
    constexpr std::int64_t kPage = 512;
    QByteArray now;
    if (old.size() != fresh.size() || file.ReadAt(offset, old.size(), now) != 0 || now.size() != old.size())
        return false;
    for (std::int64_t at = offset; at < offset + old.size();) {
        const std::int64_t end = std::min<std::int64_t>((at / kPage + 1) * kPage, offset + old.size());
        const qsizetype from = qsizetype(at - offset), length = qsizetype(end - at);
        const QByteArrayView piece(now.constData() + from, length);
        if (piece != QByteArrayView(old.constData() + from, length) &&
            piece != QByteArrayView(fresh.constData() + from, length))
            return false;
        at = end;
    }
    return true;
}

// Settles a tag write whose outcome was never recorded; `why` says why the file was left alone.
bool SettleTags(const Change &change, QStringList &finished, QString &why)
{
    // The write's temporary file, if any, goes too.
    platform::RemoveStaleTemporariesIn(change.path.left(change.path.lastIndexOf(QLatin1Char('/'))));
    const QString changedSince = tr("%1: changed since the interrupted write; left as it is").arg(change.path);
    platform::ReadOnlyFile file;
    if (const int error = file.OpenForUpdate(change.path, false)) {
        // Gone: the write never reached it, or another program took it away. A link in its place is not it.
        if (error != ENOENT)
            why = error == ELOOP ? changedSince : QStringLiteral("%1: %2").arg(change.path, platform::ErrorText(error));
        return false;
    }
    const std::int64_t size = file.Status().size;
    auto holds = [&](const QByteArray &head, const QByteArray &tail) {
        QByteArray a, b;
        return file.ReadAt(0, head.size(), a) == 0 && a == head &&
               file.ReadAt(size - tail.size(), tail.size(), b) == 0 && b == tail;
    };
    const std::int64_t newSize = change.before.size - change.oldHead.size() - change.oldTail.size() +
                                 change.newHead.size() + change.newTail.size();
    if (size == newSize && holds(change.newHead, change.newTail))
        return true;
    if (size == change.before.size && holds(change.oldHead, change.oldTail))
        return false;
    // Torn in the middle of an in-place write: finished only in the very file it began in, whose tag regions
    // hold nothing but old and new pages.
    const bool inPlace = size == change.before.size && size == newSize &&
                         change.oldHead.size() == change.newHead.size() && change.oldTail.size() == change.newTail.size();
    if (!inPlace || !platform::IdentityOf(file.Status()).SameFile(change.before) ||
        !PagesOldOrNew(file, 0, change.oldHead, change.newHead) ||
        !PagesOldOrNew(file, size - change.oldTail.size(), change.oldTail, change.newTail)) {
        why = changedSince;
        return false;
    }
    std::vector<std::pair<std::int64_t, QByteArray>> pieces{{0, change.newHead}};
    if (!change.newTail.isEmpty())
        pieces.emplace_back(size - change.newTail.size(), change.newTail);
    if (const int error = file.WriteInPlace(pieces)) {
        why = QStringLiteral("%1: %2").arg(change.path, platform::ErrorText(error));
        return false;
    }
    finished.append(change.path);
    return true;
}

// Settles a file operation whose outcome was never recorded, by where its file is now. `after` is the file it
// left; a move across disks cut short after its copy becomes a copy (`asCopy`), which undo can take away.
bool SettleFile(const Change &change, platform::FileIdentity &after, bool &asCopy)
{
    asCopy = false;
    platform::FileIdentity from, to;
    const QString origin = change.type == Change::Type::Copy ? change.source : change.path;
    const bool fromThere = platform::Identify(origin, from) == 0;
    const bool toThere = platform::Identify(change.newPath, to) == 0;
    switch (change.type) {
    case Change::Type::Rename:
    case Change::Type::Trash:
        if (!change.present) {   // out of the trash: the file is back at its own place
            after = from;
            return fromThere && from.SameFile(change.before) && !(toThere && to.SameFile(change.before));
        }
        after = to;
        if (toThere && to.SameFile(change.before))
            return true;
        if (change.type == Change::Type::Rename && toThere && to.size == change.before.size) {
            if (!fromThere)
                return true;   // moved to another disk: copied, then the source let go
            asCopy = from.SameFile(change.before);
        }
        if (change.type == Change::Type::Trash && fromThere)
            platform::DropTrashReservation({change.newPath, platform::TrashPlace::InfoOf(change.newPath), change.trashRecord});
        return false;
    case Change::Type::Copy:
        after = to;
        if (!change.present)
            return !toThere;   // the copy taken away
        return toThere && to.size == change.before.size && !to.SameFile(change.before);
    default:
        return false;
    }
}

QByteArray Settled(quint32 sequence, bool ok, const platform::FileIdentity &after)
{
    QByteArray payload;
    QDataStream out(&payload, QIODevice::WriteOnly);
    out.setVersion(QDataStream::Qt_6_4);
    out << sequence << ok;
    Put(out, after);
    return payload;
}

} // namespace

QStringList Recover(const QString &folder, QStringList *leftAlone)
{
    QStringList finished;
    for (const qint64 id : EntryIds(folder)) {
        const QString path = EntryPath(folder, id);
        const int fd = ::open(Native(path).constData(), O_RDWR | O_APPEND | O_CLOEXEC);   // EndsClosed reads it
        if (fd < 0)
            continue;
        if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
            ::close(fd);   // its command is still running
            continue;
        }
        if (EndsClosed(fd)) {
            ::close(fd);   // its command ended: nothing to look at (every run of every command comes here)
            continue;
        }
        QFile file;
        EntryInfo info;
        QList<Change> changes;
        Scan scan;
        const bool readable = OpenEntry(folder, id, file, info) && ParseEntry(file, info, &changes, true, &scan);
        file.close();
        if (!readable && scan.damaged == 0) {
            // Killed before its first record was whole: nothing was changed under it.
            RemoveEntry(path);
            ::close(fd);
            continue;
        }
        // A record the kill cut short is cut off, so the records appended now are read after the whole ones.
        if (scan.torn && ::ftruncate(fd, off_t(scan.wholeEnd)) != 0) {
            ::close(fd);
            continue;
        }
        bool anyDone = false;
        bool appended = true;
        quint32 nextSequence = 0;
        for (const Change &change : changes)
            nextSequence = std::max(nextSequence, change.sequence);
        for (const Change &change : changes) {
            if (change.settled) {
                anyDone = anyDone || change.done;
                continue;
            }
            QByteArray record;
            char type = kTagSettled;
            if (change.type == Change::Type::Tag) {
                QString why;
                const bool ok = SettleTags(change, finished, why);
                if (!why.isEmpty() && leftAlone)
                    leftAlone->append(why);
                platform::FileIdentity after;
                platform::Identify(change.path, after);
                record = Settled(change.sequence, ok, after);
                anyDone = anyDone || ok;
            } else {
                platform::FileIdentity after;
                bool asCopy = false;
                const bool ok = SettleFile(change, after, asCopy);
                type = kFileSettled;
                record = Settled(change.sequence, ok, after);
                anyDone = anyDone || ok || asCopy;
                if (asCopy) {
                    // The source stayed: what the move left is a copy.
                    appended = WriteAll(fd, Frame(type, record)) == 0 && appended;
                    QByteArray plan;
                    QDataStream out(&plan, QIODevice::WriteOnly);
                    out.setVersion(QDataStream::Qt_6_4);
                    out << ++nextSequence << qint32(platform::FileChange::Copy) << Native(change.path)
                        << Native(change.newPath);
                    Put(out, change.before);
                    out << QByteArray();
                    appended = WriteAll(fd, Frame(kFilePlanned, plan)) == 0 && appended;
                    record = Settled(nextSequence, true, after);
                }
            }
            appended = WriteAll(fd, Frame(type, record)) == 0 && appended;
        }
        if (!anyDone && !info.Damaged() && !info.incomplete) {
            RemoveEntry(path);   // nothing of it happened: nothing to undo
            ::close(fd);
            continue;
        }
        if (appended)
            appended = WriteAll(fd, Frame(kClosed, QByteArray())) == 0;
        ::fdatasync(fd);
        if (!appended)
            CutBack(fd, scan.wholeEnd);   // tried again at the next start
        ::close(fd);
    }
    return finished;
}

} // namespace journal
