#include "journal/journal.h"

#include "library/tagcache.h"
#include "platform/names.h"
#include "platform/statefolder.h"

#include <QCryptographicHash>
#include <QDataStream>
#include <QDir>
#include <QFile>
#include <QHash>

#include <algorithm>
#include <cerrno>
#include <map>
#include <utility>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace journal {

namespace {

// A record on disk: its length (4 bytes, big-endian), its type (1 byte), an MD5 of type and payload (16 bytes),
// then the payload. A record cut short by a crash fails its check and ends the entry there.
constexpr int kFrameHeader = 4 + 1 + 16;
constexpr char kHeader = 'H';
constexpr char kTagPlanned = 'T';
constexpr char kTagSettled = 'D';
constexpr char kRename = 'R';
constexpr char kCopy = 'C';
constexpr char kTrash = 'X';
constexpr char kLost = 'L';
constexpr char kClosed = 'E';   // the last record of an entry whose command ended: nothing in it to recover
const QString kSuffix = QStringLiteral(".tgj");
const QString kUndoneSuffix = QStringLiteral(".undone");

QString EntryPath(const QString &folder, qint64 id)
{
    return folder + QStringLiteral("/%1").arg(id, 12, 10, QLatin1Char('0')) + kSuffix;
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
        << qint64(id.modified.nanoseconds);
}

void Get(QDataStream &in, platform::FileIdentity &id)
{
    quint64 device = 0, inode = 0;
    qint64 size = 0, seconds = 0, nanoseconds = 0;
    in >> device >> inode >> size >> seconds >> nanoseconds;
    id.device = device;
    id.inode = inode;
    id.size = size;
    id.modified.seconds = seconds;
    id.modified.nanoseconds = long(nanoseconds);
}

QByteArray Native(const QString &path) { return platform::EncodeName(path); }
QString FromNative(const QByteArray &bytes) { return platform::DecodeName(bytes); }

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

// Reads an entry file's records in order, each whole and checked; stops at the first that is not. With
// `headersOnly`, the planned tag writes (the large records) are passed over unread.
template <typename Visit>
void ReadRecords(QFile &file, bool headersOnly, Visit visit)
{
    for (;;) {
        const QByteArray head = file.read(kFrameHeader);
        if (head.size() < kFrameHeader)
            return;
        const quint32 length = (quint32(uchar(head[0])) << 24) | (quint32(uchar(head[1])) << 16) |
                               (quint32(uchar(head[2])) << 8) | quint32(uchar(head[3]));
        const char type = head[4];
        if (qint64(length) > file.size() - file.pos())
            return;
        if (headersOnly && type == kTagPlanned) {
            file.seek(file.pos() + length);
            continue;
        }
        const QByteArray payload = file.read(length);
        if (payload.size() != qsizetype(length) || Digest(type, payload) != head.mid(5, 16))
            return;
        visit(type, payload);
    }
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

bool ParseEntry(QFile &file, EntryInfo &info, QList<Change> *changes)
{
    bool sawHeader = false;
    std::map<quint32, int> planned;   // sequence -> index in changes
    ReadRecords(file, changes == nullptr, [&](char type, const QByteArray &payload) {
        QDataStream in(payload);
        in.setVersion(QDataStream::Qt_6_4);
        switch (type) {
        case kHeader: {
            qint32 kind = 0;
            qint64 ms = 0;
            in >> kind >> info.target >> info.command >> ms;
            info.kind = Kind(kind);
            info.time = QDateTime::fromMSecsSinceEpoch(ms);
            sawHeader = true;
            break;
        }
        case kTagPlanned: {
            Change change;
            quint32 sequence = 0;
            QByteArray path;
            in >> sequence >> path;
            Get(in, change.before);
            in >> change.oldHead >> change.oldTail >> change.newHead >> change.newTail;
            change.path = FromNative(path);
            if (changes) {
                planned[sequence] = int(changes->size());
                changes->append(change);
            }
            break;
        }
        case kTagSettled: {
            quint32 sequence = 0;
            bool ok = false;
            platform::FileIdentity after;
            in >> sequence >> ok;
            Get(in, after);
            if (ok)
                ++info.files;
            if (changes) {
                const auto found = planned.find(sequence);
                if (found != planned.end()) {
                    Change &change = (*changes)[found->second];
                    change.settled = true;
                    change.done = ok;
                    change.after = after;
                }
            }
            break;
        }
        case kRename: {
            Change change;
            change.type = Change::Type::Rename;
            QByteArray from, to;
            in >> from >> to;
            Get(in, change.after);
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
            Get(in, change.after);
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
    return sawHeader;
}

} // namespace

QString DefaultFolder() { return platform::StateFolder() + QStringLiteral("/undo"); }

Recorder::Recorder(QString folder) : m_folder(std::move(folder)) {}

Recorder::~Recorder() { End(); }

void Recorder::Fail(int error)
{
    if (m_error.isEmpty())
        m_error = QStringLiteral("%1: %2").arg(m_file.isEmpty() ? m_folder : m_file, platform::ErrorText(error));
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
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
        if (m_fd >= 0)
            m_id = id;
    }
    if (m_fd < 0) {
        Fail(EEXIST);
        return false;
    }
    // Held while the command runs: recovery leaves the entry of a running command alone.
    ::flock(m_fd, LOCK_EX);
    QByteArray payload;
    QDataStream out(&payload, QIODevice::WriteOnly);
    out.setVersion(QDataStream::Qt_6_4);
    out << qint32(kind) << qint64(target) << command << QDateTime::currentMSecsSinceEpoch();
    return Append(kHeader, payload, false);
}

bool Recorder::Append(char type, const QByteArray &payload, bool durable)
{
    if (m_fd < 0)
        return false;
    if (const int error = WriteAll(m_fd, Frame(type, payload))) {
        Fail(error);
        return false;
    }
    if (durable && ::fdatasync(m_fd) != 0) {
        Fail(errno);
        return false;
    }
    return true;
}

quint64 Recorder::TagsChanging(const QString &path, const platform::FileIdentity &before, const QByteArray &oldHead,
                               const QByteArray &oldTail, const QByteArray &newHead, const QByteArray &newTail)
{
    QByteArray payload;
    // Room for the whole record at once: growing it step by step reallocates the tag bytes again and again.
    payload.reserve(oldHead.size() + oldTail.size() + newHead.size() + newTail.size() + 4 * path.size() + 256);
    QDataStream out(&payload, QIODevice::WriteOnly);
    out.setVersion(QDataStream::Qt_6_4);
    m_touched.append(path);
    out << quint32(++m_sequence) << Native(path);
    Put(out, before);
    out << oldHead << oldTail << newHead << newTail;
    if (Append(kTagPlanned, payload, false))
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

void Recorder::TagsChanged(quint64 change, bool ok, const platform::FileIdentity &after)
{
    QByteArray payload;
    QDataStream out(&payload, QIODevice::WriteOnly);
    out.setVersion(QDataStream::Qt_6_4);
    out << quint32(change) << ok;
    Put(out, after);
    if (Append(kTagSettled, payload, false) && ok)
        ++m_changes;
}

void Recorder::Renamed(const QString &from, const QString &to, const platform::FileIdentity &identity)
{
    QByteArray payload;
    QDataStream out(&payload, QIODevice::WriteOnly);
    out.setVersion(QDataStream::Qt_6_4);
    m_touched << from << to;
    out << Native(from) << Native(to);
    Put(out, identity);
    if (Append(kRename, payload, false))
        ++m_changes;
}

void Recorder::Note(char type, const QString &a, const QString &b, bool flag, const platform::FileIdentity &identity)
{
    QByteArray payload;
    QDataStream out(&payload, QIODevice::WriteOnly);
    out.setVersion(QDataStream::Qt_6_4);
    out << Native(a) << Native(b) << flag;
    Put(out, identity);
    if (Append(type, payload, false))
        ++m_changes;
}

void Recorder::Copied(const QString &source, const QString &target, const platform::FileIdentity &identity)
{
    m_touched.append(target);
    Note(kCopy, source, target, true, identity);
}

void Recorder::Uncopied(const QString &source, const QString &target)
{
    m_touched.append(target);
    Note(kCopy, source, target, false, {});
}

void Recorder::Trashed(const QString &path, const QString &trashPath)
{
    m_touched.append(path);
    Note(kTrash, path, trashPath, true, {});
}

void Recorder::Untrashed(const QString &path, const QString &trashPath)
{
    m_touched.append(path);
    platform::FileIdentity identity;
    platform::Identify(path, identity);
    Note(kTrash, path, trashPath, false, identity);
}

void Recorder::Lost(const QString &path)
{
    m_touched.append(path);
    Note(kLost, path, QString(), false, {});
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
    if (m_fd < 0)
        return;
    Append(kClosed, QByteArray(), false);
    if (::fdatasync(m_fd) != 0)
        Fail(errno);
    if (m_fd >= 0)
        ::close(m_fd);   // also lets go of the entry's lock
    m_fd = -1;
    if (m_changes == 0 && m_error.isEmpty())
        QFile::remove(m_file);   // a command that changed nothing leaves nothing to undo
    else
        Trim(m_folder);
}

QList<EntryInfo> ListEntries(const QString &folder)
{
    QList<EntryInfo> entries;
    const QList<qint64> ids = EntryIds(folder);
    for (auto it = ids.crbegin(); it != ids.crend(); ++it) {
        QFile file(EntryPath(folder, *it));
        if (!file.open(QIODevice::ReadOnly))
            continue;
        EntryInfo info;
        info.id = *it;
        info.bytes = file.size();
        info.undone = QFile::exists(EntryPath(folder, *it) + kUndoneSuffix);
        if (ParseEntry(file, info, nullptr))
            entries.append(info);
    }
    return entries;
}

bool ReadEntry(const QString &folder, qint64 id, EntryInfo &info, QList<Change> &changes)
{
    QFile file(EntryPath(folder, id));
    if (!file.open(QIODevice::ReadOnly))
        return false;
    info = EntryInfo();
    info.id = id;
    info.bytes = file.size();
    info.undone = QFile::exists(EntryPath(folder, id) + kUndoneSuffix);
    changes.clear();
    return ParseEntry(file, info, &changes);
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
        QFile::remove(path);
        QFile::remove(path + kUndoneSuffix);
    }
}

QStringList Recover(const QString &folder)
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
        EntryInfo info;
        QList<Change> changes;
        ReadEntry(folder, id, info, changes);
        quint32 sequence = 0;
        for (const Change &change : changes) {
            if (change.type != Change::Type::Tag)
                continue;
            ++sequence;
            if (change.settled)
                continue;
            // The write was announced and its outcome never recorded; its temporary file, if any, goes too.
            platform::RemoveStaleTemporariesIn(change.path.left(change.path.lastIndexOf(QLatin1Char('/'))));
            platform::ReadOnlyFile file;
            bool ok = false;
            if (file.OpenForUpdate(change.path) == 0) {
                const std::int64_t size = file.Status().size;
                auto holds = [&](const QByteArray &head, const QByteArray &tail) {
                    QByteArray a, b;
                    return file.ReadAt(0, head.size(), a) == 0 && a == head &&
                           file.ReadAt(size - tail.size(), tail.size(), b) == 0 && b == tail;
                };
                const std::int64_t newSize = change.before.size - change.oldHead.size() - change.oldTail.size() +
                                             change.newHead.size() + change.newTail.size();
                if (size == newSize && holds(change.newHead, change.newTail)) {
                    ok = true;
                } else if (size == change.before.size && holds(change.oldHead, change.oldTail)) {
                    ok = false;
                } else if (size == change.before.size && size == newSize &&
                           change.oldHead.size() == change.newHead.size()) {
                    // Torn in the middle of an in-place write: finish it.
                    std::vector<std::pair<std::int64_t, QByteArray>> pieces{{0, change.newHead}};
                    if (!change.newTail.isEmpty())
                        pieces.emplace_back(size - change.newTail.size(), change.newTail);
                    ok = file.WriteInPlace(pieces) == 0;
                    if (ok)
                        finished.append(change.path);
                }
            }
            platform::FileIdentity after;
            platform::Identify(change.path, after);
            QByteArray payload;
            QDataStream out(&payload, QIODevice::WriteOnly);
            out.setVersion(QDataStream::Qt_6_4);
            out << sequence << ok;
            Put(out, after);
            WriteAll(fd, Frame(kTagSettled, payload));
        }
        WriteAll(fd, Frame(kClosed, QByteArray()));
        ::fdatasync(fd);
        ::close(fd);
    }
    return finished;
}

} // namespace journal
