#include "journal/journal.h"

#include "journal/entryfile.h"

#include "library/tagcache.h"
#include "platform/names.h"
#include "platform/statefolder.h"
#include "platform/trash.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDataStream>
#include <QDir>
#include <QFile>
#include <QHash>
#include <QMutex>
#include <QSet>

#include <algorithm>
#include <cerrno>
#include <map>
#include <utility>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace journal {

namespace entryfile {

QString tr(const char *text) { return QCoreApplication::translate("journal", text); }

QString EntryPath(const QString &folder, qint64 id)
{
    return folder + QStringLiteral("/%1").arg(id, 12, 10, QLatin1Char('0')) + kSuffix;
}

void RemoveEntry(const QString &path)
{
    QFile::remove(path);
    QFile::remove(path + kUndoneSuffix);
    QFile::remove(path + kIncompleteSuffix);
}

QByteArray Digest(char type, const QByteArray &payload)
{
    QCryptographicHash hash(QCryptographicHash::Md5);
    hash.addData(QByteArrayView(&type, 1));
    hash.addData(payload);
    return hash.result();
}

void Put(QDataStream &out, const platform::FileIdentity &id)
{
    out << quint64(id.device) << quint64(id.inode) << qint64(id.size) << qint64(id.modified.seconds)
        << qint64(id.modified.nanoseconds) << qint64(id.changed.seconds) << qint64(id.changed.nanoseconds);
}

void Get(QDataStream &in, platform::FileIdentity &id, qint32 format)
{
    quint64 device = 0, inode = 0;
    qint64 size = 0, seconds = 0, nanoseconds = 0;
    in >> device >> inode >> size >> seconds >> nanoseconds;
    id.device = device;
    id.inode = inode;
    id.size = size;
    id.modified.seconds = seconds;
    id.modified.nanoseconds = long(nanoseconds);
    if (format >= 2) {
        in >> seconds >> nanoseconds;
        id.changed.seconds = seconds;
        id.changed.nanoseconds = long(nanoseconds);
    }
}

QByteArray Native(const QString &path) { return platform::EncodeName(path); }
QString FromNative(const QByteArray &bytes) { return platform::DecodeName(bytes); }

// Paths are journaled whole, so an undo run from another folder finds the same files.
QString Absolute(const QString &path)
{
    return QDir::isAbsolutePath(path) ? path : QDir::cleanPath(QDir::current().absoluteFilePath(path));
}

// A record as it is written: length, type, check, payload.
QByteArray Frame(char type, const QByteArray &payload)
{
    QByteArray frame(4, Qt::Uninitialized);
    const quint32 length = quint32(payload.size());
    frame[0] = char(length >> 24);
    frame[1] = char(length >> 16);
    frame[2] = char(length >> 8);
    frame[3] = char(length);
    frame += type;
    frame += Digest(type, payload);
    frame += payload;
    return frame;
}

// Whether an entry's last record says its command ended (read from the end, so a long entry costs one read).
bool EndsClosed(int fd)
{
    const QByteArray closed = Frame(kClosed, QByteArray());
    const off_t size = ::lseek(fd, 0, SEEK_END);
    if (size < off_t(closed.size()))
        return false;
    QByteArray tail(closed.size(), Qt::Uninitialized);
    return ::pread(fd, tail.data(), size_t(tail.size()), size - off_t(tail.size())) == ssize_t(tail.size()) &&
           tail == closed;
}

// Cuts an entry back to its whole records. A failure leaves a torn record at the end, which recovery cuts later.
void CutBack(int fd, qint64 size)
{
    if (::ftruncate(fd, off_t(size)) != 0)
        return;
}

int WriteAll(int fd, const QByteArray &bytes)
{
    const char *data = bytes.constData();
    qsizetype left = bytes.size();
    while (left > 0) {
        const ssize_t n = ::write(fd, data, size_t(left));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return errno;
        }
        data += n;
        left -= n;
    }
    return 0;
}

// Reads an entry file's records in order, each whole and checked; a record that fails its check is counted and
// passed over (its length still leads to the next), one cut short ends the reading. With `headersOnly`, the
// planned tag writes (the large records) are passed over, all but their first bytes (their number) unchecked.
template <typename Visit>
Scan ReadRecords(QFile &file, bool headersOnly, Visit visit)
{
    Scan scan;
    for (;;) {
        const qint64 at = file.pos();
        const QByteArray head = file.read(kFrameHeader);
        if (head.isEmpty())
            break;
        const quint32 length = head.size() < 4 ? 0
                                               : (quint32(uchar(head[0])) << 24) | (quint32(uchar(head[1])) << 16) |
                                                     (quint32(uchar(head[2])) << 8) | quint32(uchar(head[3]));
        if (head.size() < kFrameHeader || qint64(length) > file.size() - file.pos()) {
            scan.torn = true;
            break;
        }
        const char type = head[4];
        if (headersOnly && type == kTagPlanned) {
            const QByteArray start = file.read(std::min<quint32>(length, 4));
            file.seek(at + kFrameHeader + length);
            scan.wholeEnd = file.pos();
            visit(type, start, false);
            continue;
        }
        const QByteArray payload = file.read(length);
        scan.wholeEnd = file.pos();
        if (payload.size() != qsizetype(length) || Digest(type, payload) != head.mid(5, 16)) {
            ++scan.damaged;
            continue;
        }
        visit(type, payload, true);
    }
    return scan;
}

QList<qint64> EntryIds(const QString &folder)
{
    QList<qint64> ids;
    for (const QString &name : QDir(folder).entryList({QStringLiteral("*") + kSuffix}, QDir::Files)) {
        bool ok = false;
        const qint64 id = name.left(name.size() - kSuffix.size()).toLongLong(&ok);
        if (ok)
            ids.append(id);
    }
    std::sort(ids.begin(), ids.end());
    return ids;
}

Change::Type TypeOf(qint32 what, bool &present)
{
    present = true;
    switch (platform::FileChange(what)) {
    case platform::FileChange::Rename: return Change::Type::Rename;
    case platform::FileChange::Copy: return Change::Type::Copy;
    case platform::FileChange::Uncopy: present = false; return Change::Type::Copy;
    case platform::FileChange::Trash: return Change::Type::Trash;
    case platform::FileChange::Untrash: present = false; return Change::Type::Trash;
    }
    return Change::Type::Lost;
}

// Reads an entry; with `changes` null only what a list shows. Returns whether its header could be read.
bool ParseEntry(QFile &file, EntryInfo &info, QList<Change> *changes, bool verify, Scan *scanned)
{
    bool sawHeader = false;
    qint32 format = 1;
    std::map<quint32, int> planned;   // tag writes: sequence -> index in changes (-1: listed only)
    std::map<quint32, int> moves;     // file operations: the same
    const Scan scan = ReadRecords(file, changes == nullptr && !verify, [&](char type, const QByteArray &payload, bool whole) {
        QDataStream in(payload);
        in.setVersion(QDataStream::Qt_6_4);
        switch (type) {
        case kHeader: {
            qint32 kind = 0;
            qint64 ms = 0;
            in >> kind >> info.target >> info.command >> ms;
            if (!in.atEnd())
                in >> format;
            info.kind = Kind(kind);
            info.time = QDateTime::fromMSecsSinceEpoch(ms);
            sawHeader = true;
            break;
        }
        case kTagPlanned: {
            Change change;
            quint32 sequence = 0;
            in >> sequence;
            if (!whole || !changes) {
                planned[sequence] = -1;
                break;
            }
            QByteArray path;
            in >> path;
            Get(in, change.before, format);
            in >> change.oldHead >> change.oldTail >> change.newHead >> change.newTail;
            change.path = FromNative(path);
            change.sequence = sequence;
            planned[sequence] = int(changes->size());
            changes->append(change);
            break;
        }
        case kFilePlanned: {
            Change change;
            qint32 what = 0;
            QByteArray from, to;
            in >> change.sequence >> what >> from >> to;
            Get(in, change.before, format);
            in >> change.trashRecord;
            change.type = TypeOf(what, change.present);
            if (change.type == Change::Type::Copy)
                change.source = FromNative(from);
            else
                change.path = FromNative(from);
            change.newPath = FromNative(to);
            moves[change.sequence] = changes ? int(changes->size()) : -1;
            if (changes)
                changes->append(change);
            break;
        }
        case kTagSettled:
        case kFileSettled: {
            // The outcome of a planned tag write or file operation, tied to its plan by the number.
            quint32 sequence = 0;
            bool ok = false;
            platform::FileIdentity after;
            in >> sequence >> ok;
            Get(in, after, format);
            const std::map<quint32, int> &plans = type == kTagSettled ? planned : moves;
            const auto found = plans.find(sequence);
            if (found == plans.end())
                break;   // its plan could not be read
            if (ok)
                ++info.files;
            if (changes && found->second >= 0) {
                Change &change = (*changes)[found->second];
                change.settled = true;
                change.done = ok;
                change.after = after;
            }
            break;
        }
        case kRename: {
            Change change;
            change.type = Change::Type::Rename;
            QByteArray from, to;
            in >> from >> to;
            Get(in, change.after, format);
            change.path = FromNative(from);
            change.newPath = FromNative(to);
            change.done = change.settled = true;
            ++info.files;
            if (changes)
                changes->append(change);
            break;
        }
        case kCopy:
        case kTrash:
        case kLost: {
            Change change;
            change.type = type == kCopy ? Change::Type::Copy : type == kTrash ? Change::Type::Trash : Change::Type::Lost;
            QByteArray a, b;
            in >> a >> b >> change.present;
            Get(in, change.after, format);
            // A copy: source and new name; the trash: the file and its place there; a loss: the file.
            if (type == kCopy) {
                change.source = FromNative(a);
                change.newPath = FromNative(b);
            } else {
                change.path = FromNative(a);
                change.newPath = FromNative(b);
            }
            change.done = change.settled = true;
            ++info.files;
            if (changes)
                changes->append(change);
            break;
        }
        default:
            break;
        }
    });
    info.damaged = scan.damaged;
    info.cutShort = scan.torn;
    if (scanned)
        *scanned = scan;
    return sawHeader;
}

bool IsRunning(int fd) { return ::flock(fd, LOCK_SH | LOCK_NB) != 0 && errno == EWOULDBLOCK; }

bool OpenEntry(const QString &folder, qint64 id, QFile &file, EntryInfo &info)
{
    file.setFileName(EntryPath(folder, id));
    if (!file.open(QIODevice::ReadOnly))
        return false;
    info = EntryInfo();
    info.id = id;
    info.bytes = file.size();
    info.undone = QFile::exists(file.fileName() + kUndoneSuffix);
    info.incomplete = QFile::exists(file.fileName() + kIncompleteSuffix);
    info.running = IsRunning(file.handle());
    return true;
}

} // namespace entryfile

using namespace entryfile;

QString DefaultFolder() { return platform::StateFolder() + QStringLiteral("/undo"); }

namespace {

QMutex g_madeHereLock;
QSet<QString> g_madeHere;   // the entry files this process began

} // namespace

bool MadeHere(const QString &folder, qint64 id)
{
    const QMutexLocker locker(&g_madeHereLock);
    return g_madeHere.contains(EntryPath(folder, id));
}

Recorder::Recorder(QString folder, qint64 maxEntryBytes) : m_folder(std::move(folder)), m_maxBytes(maxEntryBytes) {}

Recorder::~Recorder() { End(); }

void Recorder::Fail(int error)
{
    Fail(QStringLiteral("%1: %2").arg(m_file.isEmpty() ? m_folder : m_file, platform::ErrorText(error)));
}

void Recorder::Fail(const QString &reason)
{
    if (m_error.isEmpty())
        m_error = reason;
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
    if (m_begun && !m_midway) {
        // The entry says it lacks the rest of the command: an empty marker beside it needs no room for data.
        m_midway = true;
        QFile(m_file + kIncompleteSuffix).open(QIODevice::WriteOnly);
        if (m_told)
            m_told(m_error);
    }
}

bool Recorder::Begin(const QString &command, Kind kind, qint64 target)
{
    m_previous = platform::SetCurrentObserver(this);
    m_installed = true;
    if (const int error = platform::MakePrivateFolder(m_folder)) {
        Fail(error);
        return false;
    }
    // The next number; another process may take it first, so the file is made exclusively.
    const QList<qint64> ids = EntryIds(m_folder);
    qint64 id = ids.isEmpty() ? 1 : ids.back() + 1;
    for (int attempt = 0; attempt < 100 && m_fd < 0; ++attempt, ++id) {
        m_file = EntryPath(m_folder, id);
        m_fd = ::open(Native(m_file).constData(), O_WRONLY | O_CREAT | O_EXCL | O_APPEND | O_CLOEXEC, 0600);
        if (m_fd < 0 && errno != EEXIST) {
            Fail(errno);
            return false;
        }
        if (m_fd < 0)
            continue;
        // Held while the command runs: recovery, undo and trimming leave the entry of a running command alone.
        // Another command's recovery may have come between the open and the lock, found the entry empty and
        // removed it as a killed command's: then the entry is made anew, under the next number.
        ::flock(m_fd, LOCK_EX);
        struct stat held, named;
        if (::fstat(m_fd, &held) != 0 || ::stat(Native(m_file).constData(), &named) != 0 ||
            held.st_dev != named.st_dev || held.st_ino != named.st_ino) {
            ::close(m_fd);
            m_fd = -1;
            continue;
        }
        m_id = id;
    }
    if (m_fd >= 0) {
        const QMutexLocker locker(&g_madeHereLock);
        g_madeHere.insert(m_file);
    }
    if (m_fd < 0) {
        Fail(EEXIST);
        return false;
    }
    // A second descriptor keeps the lock should the journal fail and its writing descriptor be closed.
    m_lock = ::fcntl(m_fd, F_DUPFD_CLOEXEC, 0);
    QByteArray payload;
    QDataStream out(&payload, QIODevice::WriteOnly);
    out.setVersion(QDataStream::Qt_6_4);
    out << qint32(kind) << qint64(target) << command << QDateTime::currentMSecsSinceEpoch() << kFormat;
    if (!Append(kHeader, payload, false))
        return false;
    m_begun = true;
    return true;
}

bool Recorder::Append(char type, const QByteArray &payload, bool durable)
{
    if (m_fd < 0)
        return false;
    const QByteArray frame = Frame(type, payload);
    platform::IgnoreFileSizeSignal();
    if (const int error = WriteAll(m_fd, frame)) {
        // A part of the record may be on disk: cut it off, so whatever is appended later starts whole (should
        // that fail too, the next start's recovery cuts the torn record).
        CutBack(m_fd, m_written);
        Fail(error);
        return false;
    }
    m_written += frame.size();
    if (durable && ::fdatasync(m_fd) != 0) {
        Fail(errno);
        return false;
    }
    return true;
}

quint64 Recorder::TagsChanging(const QString &path, const platform::FileIdentity &before, const QByteArray &oldHead,
                               const QByteArray &oldTail, const QByteArray &newHead, const QByteArray &newTail)
{
    m_touched.append(path);
    if (m_fd < 0)
        return 0;
    const qint64 size = oldHead.size() + oldTail.size() + newHead.size() + newTail.size() + 4 * path.size() + 256;
    if (m_written + size > m_maxBytes) {
        Fail(tr("the undo entry of this command would pass %1 MiB").arg(m_maxBytes >> 20));
        return 0;
    }
    QByteArray payload;
    // Room for the whole record at once: growing it step by step reallocates the tag bytes again and again.
    payload.reserve(size);
    QDataStream out(&payload, QIODevice::WriteOnly);
    out.setVersion(QDataStream::Qt_6_4);
    out << quint32(++m_sequence) << Native(Absolute(path));
    Put(out, before);
    out << oldHead << oldTail << newHead << newTail;
    if (!Append(kTagPlanned, payload, false))
        return 0;
    m_unsynced = true;
    return m_sequence;
}

void Recorder::MakeDurable()
{
    // One flush for every file announced since the last: the writer touches none of them before this.
    if (m_fd >= 0 && m_unsynced && ::fdatasync(m_fd) != 0)
        Fail(errno);
    m_unsynced = false;
}

bool Recorder::InPlaceAllowed() const { return m_fd >= 0 && !m_unsynced; }

void Recorder::TagsChanged(quint64 change, bool ok, const platform::FileIdentity &after)
{
    if (change == 0 || m_fd < 0) {
        if (ok)
            ++m_unrecorded;
        return;
    }
    QByteArray payload;
    QDataStream out(&payload, QIODevice::WriteOnly);
    out.setVersion(QDataStream::Qt_6_4);
    out << quint32(change) << ok;
    Put(out, after);
    if (Append(kTagSettled, payload, false))
        m_changes += ok ? 1 : 0;
    else if (ok)
        ++m_unrecorded;
}

quint64 Recorder::FileChanging(platform::FileChange what, const QString &from, const QString &to,
                               const platform::FileIdentity &before, const QByteArray &trashRecord)
{
    m_touched << from << to;
    if (m_fd < 0)
        return 0;
    QByteArray payload;
    QDataStream out(&payload, QIODevice::WriteOnly);
    out.setVersion(QDataStream::Qt_6_4);
    out << quint32(++m_sequence) << qint32(what) << Native(Absolute(from)) << Native(Absolute(to));
    Put(out, before);
    out << trashRecord;
    return Append(kFilePlanned, payload, false) ? m_sequence : 0;
}

void Recorder::FileChanged(quint64 change, bool ok, const platform::FileIdentity &after)
{
    if (change == 0 || m_fd < 0) {
        if (ok)
            ++m_unrecorded;
        return;
    }
    QByteArray payload;
    QDataStream out(&payload, QIODevice::WriteOnly);
    out.setVersion(QDataStream::Qt_6_4);
    out << quint32(change) << ok;
    Put(out, after);
    if (Append(kFileSettled, payload, false))
        m_changes += ok ? 1 : 0;
    else if (ok)
        ++m_unrecorded;
}

void Recorder::Lost(const QString &path)
{
    m_touched.append(path);
    QByteArray payload;
    QDataStream out(&payload, QIODevice::WriteOnly);
    out.setVersion(QDataStream::Qt_6_4);
    out << Native(Absolute(path)) << QByteArray() << false;
    Put(out, {});
    if (Append(kLost, payload, false))
        ++m_changes;
}

void Recorder::End()
{
    if (m_installed) {
        platform::SetCurrentObserver(m_previous);
        m_installed = false;
    }
    // The tag cache's entries of the files the command changed, renamed or took away go: a stamp taken now could
    // not tell the command's change from one another program made since, and the next listing reads them anew.
    if (!m_touched.isEmpty())
        TagCache::Forget(std::exchange(m_touched, QStringList()));
    if (m_fd < 0) {
        if (m_lock >= 0)
            ::close(m_lock);
        m_lock = -1;
        return;
    }
    Append(kClosed, QByteArray(), false);
    if (m_fd >= 0 && ::fdatasync(m_fd) != 0)
        Fail(errno);
    if (m_fd >= 0)
        ::close(m_fd);
    if (m_lock >= 0)
        ::close(m_lock);   // lets go of the entry's lock
    m_fd = m_lock = -1;
    if (m_changes == 0 && m_error.isEmpty())
        RemoveEntry(m_file);   // a command that changed nothing leaves nothing to undo
    else
        Trim(m_folder);
}

QList<EntryInfo> ListEntries(const QString &folder, bool verify)
{
    QList<EntryInfo> entries;
    const QList<qint64> ids = EntryIds(folder);
    for (auto it = ids.crbegin(); it != ids.crend(); ++it) {
        QFile file;
        EntryInfo info;
        if (OpenEntry(folder, *it, file, info) && ParseEntry(file, info, nullptr, verify))
            entries.append(info);
    }
    return entries;
}

bool ReadEntry(const QString &folder, qint64 id, EntryInfo &info, QList<Change> &changes)
{
    QFile file;
    changes.clear();
    return OpenEntry(folder, id, file, info) && ParseEntry(file, info, &changes, true);
}

EntryLock::EntryLock(const QString &folder, qint64 id)
{
    m_fd = ::open(Native(EntryPath(folder, id)).constData(), O_RDONLY | O_CLOEXEC);
    // A list of the entries (another window's menu) holds each lock for a moment: worth a short wait. A running
    // command holds it for as long as it runs.
    for (int attempt = 0; m_fd >= 0 && attempt < 25 && !m_held; ++attempt) {
        m_held = ::flock(m_fd, LOCK_EX | LOCK_NB) == 0;
        if (!m_held)
            ::usleep(10000);
    }
}

EntryLock::~EntryLock()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

void MarkUndone(const QString &folder, qint64 id, bool undone)
{
    const QString marker = EntryPath(folder, id) + kUndoneSuffix;
    if (!undone) {
        QFile::remove(marker);
        return;
    }
    QFile file(marker);
    if (file.open(QIODevice::WriteOnly))
        file.close();
}

void Trim(const QString &folder, int maxEntries, qint64 maxBytes)
{
    const QList<qint64> ids = EntryIds(folder);
    qint64 total = 0;
    int kept = 0;
    for (auto it = ids.crbegin(); it != ids.crend(); ++it) {
        const QString path = EntryPath(folder, *it);
        total += QFileInfo(path).size();
        if (kept < maxEntries && (kept == 0 || total <= maxBytes)) {
            ++kept;
            continue;
        }
        // A running command's entry holds its write-ahead records: it stays, whatever its age or size.
        const EntryLock lock(folder, *it);
        if (lock.Held())
            RemoveEntry(path);
    }
}

} // namespace journal
