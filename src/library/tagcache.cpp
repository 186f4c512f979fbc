#include "library/tagcache.h"

#include "platform/fileio.h"
#include "platform/names.h"
#include "platform/statefolder.h"

#include <QDateTime>
#include <QDir>
#include <QFile>

#include <sqlite3.h>

#include <algorithm>
#include <array>
#include <utility>

namespace {

// A folder's key: the bytes of its absolute name, whatever form a caller gave it in ("music/" from the command
// line), so one folder has one row and a change recorded by its absolute name finds it.
QByteArray FolderKey(QStringView folder)
{
    if (folder.startsWith(QLatin1Char('/')) || QDir::isAbsolutePath(folder.toString()))
        return platform::EncodeName(folder);
    QString absolute = QDir::cleanPath(QDir::currentPath() + QLatin1Char('/') + folder.toString());
    if (!absolute.endsWith(QLatin1Char('/')) && (folder.isEmpty() || folder.endsWith(QLatin1Char('/'))))
        absolute += QLatin1Char('/');
    return platform::EncodeName(absolute);
}

// Raised whenever the cells a file gives change meaning (a reader that reads a field differently) or the rows
// change their form: an older cache is then emptied instead of trusted.
constexpr int kSchemaVersion = 4;   // 3: a described comment (iTunNORM) is never the comment; 4: one row per folder
// Changes kept before they are written in one transaction.
constexpr int kCommitEvery = 4096;

constexpr int kFirstTagCell = int(Column::Title);

// The row of one folder, read by Load.
constexpr char kSelectFolder[] = "SELECT entries, seen FROM folders WHERE folder = ?1";

// A cell the same as the entry's before it, in a folder's encoded entries.
constexpr quint32 kSameAsBefore = 0xFFFFFFFFu;

void PutNumber(QByteArray &out, quint64 value, int bytes)
{
    for (int i = 0; i < bytes; ++i)
        out += char((value >> (8 * i)) & 0xFF);
}

// Reads what PutNumber wrote, within `end`; false when it runs past.
bool TakeNumber(const uchar *&at, const uchar *end, quint64 &value, int bytes)
{
    if (end - at < bytes)
        return false;
    value = 0;
    for (int i = 0; i < bytes; ++i)
        value |= quint64(at[i]) << (8 * i);
    at += bytes;
    return true;
}

void BindBytes(sqlite3_stmt *statement, int index, const QByteArray &bytes)
{
    sqlite3_bind_blob(statement, index, bytes.constData(), int(bytes.size()), SQLITE_TRANSIENT);
}

} // namespace

bool TagCache::Folder::Find(const QString &name, const platform::FileStamp &stamp, TrackRecord &record)
{
    return FindNative(platform::EncodeName(name), stamp, record);
}

bool TagCache::Folder::FindNative(const QByteArray &nativeName, const platform::FileStamp &stamp, TrackRecord &record)
{
    const auto found = m_entries.find(nativeName);
    if (found == m_entries.end())
        return false;
    found->asked = true;
    if (!(found->stamp == stamp))
        return false;
    for (int i = 0; i < 7; ++i)
        record.cells[std::size_t(kFirstTagCell + i)] = found->cells[std::size_t(i)];
    return true;
}

void TagCache::Folder::Keep(const QString &name) { KeepNative(platform::EncodeName(name)); }

bool TagCache::Folder::Holds(const QString &name) const { return m_entries.contains(platform::EncodeName(name)); }

void TagCache::Folder::KeepNative(const QByteArray &nativeName)
{
    const auto found = m_entries.find(nativeName);
    if (found != m_entries.end())
        found->asked = true;
}

TagCache::TagCache(const QString &file) : m_file(file)
{
    // SQLite counts its memory under one lock for the whole process, which threads loading folders at once
    // would fight over; the counts are never asked for. (Refused, harmlessly, once SQLite has started.)
    static const int kNoMemoryCount = sqlite3_config(SQLITE_CONFIG_MEMSTATUS, 0);
    Q_UNUSED(kNoMemoryCount);
    m_today = QDateTime::currentSecsSinceEpoch() / 86400;
    const QString folder = file.left(file.lastIndexOf(QLatin1Char('/')));
    if (!folder.isEmpty() && platform::MakePrivateFolder(folder) != 0)
        return;
    Open(file);
}

TagCache::TagCache(const QString &file, ReaderTag) : m_file(file), m_writable(false), m_rebuilt(true)
{
    const QByteArray native = platform::EncodeName(file);
    if (sqlite3_open_v2(native.constData(), &m_db, SQLITE_OPEN_READONLY | SQLITE_OPEN_NOMUTEX | SQLITE_OPEN_NOFOLLOW, nullptr) != SQLITE_OK) {
        Close();
        return;
    }
    sqlite3_busy_timeout(m_db, 250);
    // Pages are read with read calls, not mapped: a mapped page counts in the process's memory once for every
    // connection that maps it (a listing of a million files took 460 MB more that way), and reads cost the
    // same there (a relist of 1,000,000 files 0.86x the walk floor with reads, 0.91x mapped).
    m_select = Prepare(kSelectFolder);
    sqlite3_stmt *version = Prepare("PRAGMA user_version");
    const bool current = version && sqlite3_step(version) == SQLITE_ROW && sqlite3_column_int(version, 0) == kSchemaVersion;
    sqlite3_finalize(version);
    if (!current || !m_select)
        Close();
}

std::unique_ptr<TagCache> TagCache::OpenReader() const
{
    if (!m_db)
        return nullptr;
    std::unique_ptr<TagCache> reader(new TagCache(m_file, ReaderTag()));
    if (!reader->IsOpen())
        return nullptr;
    return reader;
}

TagCache::~TagCache()
{
    Commit();
    Close();
}

QString TagCache::DefaultFile() { return platform::CacheFolder() + QStringLiteral("/tags.sqlite"); }

bool TagCache::Open(const QString &file)
{
    const QByteArray native = platform::EncodeName(file);
    // A link in the cache's place (or its journal's) leads to someone else's file: no cache then, and nothing
    // of that file is touched.
    for (const char *suffix : {"", "-wal", "-shm"}) {
        platform::FileStatus status;
        if (platform::StatNoFollow(file + QLatin1String(suffix), status) == 0 && !status.regular)
            return false;
    }
    if (sqlite3_open_v2(native.constData(), &m_db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX | SQLITE_OPEN_NOFOLLOW,
                        nullptr) != SQLITE_OK) {
        Close();
        return false;
    }
    sqlite3_busy_timeout(m_db, 250);
    // Whose file it is is read before anything is written to it.
    sqlite3_stmt *version = Prepare("PRAGMA user_version");
    int found = -1;
    if (version && sqlite3_step(version) == SQLITE_ROW)
        found = sqlite3_column_int(version, 0);
    sqlite3_finalize(version);
    // A cache: losing its last changes in a crash costs a re-read, so it never waits for the disk.
    if (found == kSchemaVersion)
        sqlite3_exec(m_db, "PRAGMA journal_mode=WAL; PRAGMA synchronous=OFF", nullptr, nullptr, nullptr);
    if (!m_db || m_select)
        return m_db != nullptr;   // the file was damaged, and Check has made it anew (or could not)
    if (found != kSchemaVersion) {
        // Made by another version (or new): start from an empty file, whose text is stored as UTF-16 like
        // QString's, so cells are read without conversion.
        Close();
        for (const char *suffix : {"", "-wal", "-shm"})
            QFile::remove(file + QLatin1String(suffix));
        if (sqlite3_open_v2(native.constData(), &m_db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX | SQLITE_OPEN_NOFOLLOW,
                            nullptr) != SQLITE_OK) {
            Close();
            return false;
        }
        sqlite3_busy_timeout(m_db, 250);
        const QByteArray schema = QByteArray("PRAGMA encoding='UTF-16le'; PRAGMA journal_mode=WAL; "
                                             "PRAGMA synchronous=OFF;"
                                             "CREATE TABLE folders(folder BLOB NOT NULL PRIMARY KEY, seen INTEGER, "
                                             "entries BLOB) WITHOUT ROWID;"
                                             "PRAGMA user_version=") + QByteArray::number(kSchemaVersion);
        if (sqlite3_exec(m_db, schema.constData(), nullptr, nullptr, nullptr) != SQLITE_OK) {
            Close();   // no cache this time
            return false;
        }
    }
    if (!Check(sqlite3_exec(m_db, "CREATE TABLE IF NOT EXISTS meta(key TEXT PRIMARY KEY, value INTEGER)", nullptr,
                            nullptr, nullptr)) && !m_select) {
        Close();
        return false;
    }
    if (m_select)
        return true;   // made anew by Check
    m_select = Prepare(kSelectFolder);
    m_insert = Prepare("INSERT OR REPLACE INTO folders VALUES(?1, ?2, ?3)");
    m_delete = Prepare("DELETE FROM folders WHERE folder = ?1");
    m_touch = Prepare("UPDATE folders SET seen = ?2 WHERE folder = ?1");
    if (!m_select || !m_insert || !m_delete || !m_touch) {
        Close();
        return false;
    }
    return true;
}

void TagCache::Close()
{
    for (sqlite3_stmt *statement : {m_select, m_insert, m_delete, m_touch})
        sqlite3_finalize(statement);
    m_select = m_insert = m_delete = m_touch = nullptr;
    if (m_db)
        sqlite3_close_v2(m_db);
    m_db = nullptr;
    m_inTransaction = false;
}

sqlite3_stmt *TagCache::Prepare(const char *sql)
{
    if (!m_db)
        return nullptr;
    sqlite3_stmt *statement = nullptr;
    if (!Check(sqlite3_prepare_v2(m_db, sql, -1, &statement, nullptr)))
        return nullptr;
    return statement;
}

bool TagCache::Check(int result)
{
    if (result == SQLITE_OK || result == SQLITE_ROW || result == SQLITE_DONE)
        return true;
    const int primary = result & 0xFF;
    if ((primary == SQLITE_CORRUPT || primary == SQLITE_NOTADB) && !m_rebuilt) {
        // Damaged, or not a cache of ours: start again with an empty one (once; a second failure closes it).
        m_rebuilt = true;
        Close();
        for (const char *suffix : {"", "-wal", "-shm"})
            QFile::remove(m_file + QLatin1String(suffix));
        Open(m_file);
        return false;
    }
    m_writable = false;
    return false;
}

QByteArray TagCache::Encode(const Entries &entries)
{
    QByteArray out;
    const Folder::Entry *before = nullptr;
    for (auto it = entries.cbegin(); it != entries.cend(); ++it) {
        const Folder::Entry &entry = it.value();
        PutNumber(out, quint64(it.key().size()), 2);
        out += it.key();
        PutNumber(out, entry.stamp.device, 8);
        PutNumber(out, entry.stamp.inode, 8);
        PutNumber(out, quint64(entry.stamp.size), 8);
        PutNumber(out, quint64(entry.stamp.modifiedNs), 8);
        PutNumber(out, quint64(entry.stamp.changedNs), 8);
        for (int i = 0; i < 7; ++i) {
            const QString &cell = entry.cells[std::size_t(i)];
            if (before && before->cells[std::size_t(i)] == cell) {
                PutNumber(out, kSameAsBefore, 4);
                continue;
            }
            PutNumber(out, quint64(cell.size()), 4);
            out.append(reinterpret_cast<const char *>(cell.utf16()), cell.size() * 2);
        }
        before = &entry;
    }
    return out;
}

bool TagCache::Decode(const void *data, qsizetype size, qint64 seen, Entries &entries)
{
    entries.clear();
    const uchar *at = static_cast<const uchar *>(data), *end = at + size;
    std::array<QString, 7> before;   // the cells of the entry before
    bool first = true;
    quint64 n = 0;
    while (at < end) {
        if (!TakeNumber(at, end, n, 2) || quint64(end - at) < n)
            break;
        const QByteArray name(reinterpret_cast<const char *>(at), qsizetype(n));
        at += n;
        Folder::Entry entry;
        quint64 number[5];
        bool ok = true;
        for (quint64 &value : number)
            ok = ok && TakeNumber(at, end, value, 8);
        if (!ok)
            break;
        entry.stamp.device = number[0];
        entry.stamp.inode = number[1];
        entry.stamp.size = qint64(number[2]);
        entry.stamp.modifiedNs = qint64(number[3]);
        entry.stamp.changedNs = qint64(number[4]);
        entry.seen = seen;
        for (int i = 0; ok && i < 7; ++i) {
            ok = TakeNumber(at, end, n, 4);
            if (ok && n == kSameAsBefore) {
                ok = !first;
                entry.cells[std::size_t(i)] = before[std::size_t(i)];
            } else if (ok) {
                ok = quint64(end - at) / 2 >= n;
                if (ok && n > 0)
                    entry.cells[std::size_t(i)] = QString(reinterpret_cast<const QChar *>(at), qsizetype(n));
                at += 2 * n;
            }
        }
        if (!ok)
            break;
        before = entry.cells;
        first = false;
        entries.insert(name, std::move(entry));
    }
    if (at != end) {
        entries.clear();   // not what Encode made: the folder is read from its files
        return false;
    }
    return true;
}

TagCache::Entries TagCache::Stored(const QByteArray &folder, qint64 *seen)
{
    Entries entries;
    if (!m_db || !m_select)
        return entries;
    BindBytes(m_select, 1, folder);
    const int result = sqlite3_step(m_select);
    if (result == SQLITE_ROW) {
        const qint64 when = sqlite3_column_int64(m_select, 1);
        Decode(sqlite3_column_blob(m_select, 0), sqlite3_column_bytes(m_select, 0), when, entries);
        if (seen)
            *seen = when;
    }
    if (m_select)
        sqlite3_reset(m_select);
    if (result != SQLITE_ROW && result != SQLITE_DONE)
        Check(result);
    return entries;
}

bool TagCache::Write(const QByteArray &folder, const Entries &entries)
{
    sqlite3_stmt *statement = entries.isEmpty() ? m_delete : m_insert;
    if (!statement)
        return false;
    BindBytes(statement, 1, folder);
    QByteArray encoded;
    if (!entries.isEmpty()) {
        encoded = Encode(entries);
        sqlite3_bind_int64(statement, 2, m_today);
        sqlite3_bind_blob(statement, 3, encoded.constData(), int(encoded.size()), SQLITE_STATIC);
    }
    const bool ok = Check(sqlite3_step(statement));
    if (ok)
        sqlite3_reset(statement);
    return ok;
}

TagCache::Folder TagCache::Load(const QString &folder)
{
    // A reader's loads share one read transaction (one snapshot of the file), so each is not a locking of its own.
    if (!m_writable && !m_inTransaction && m_db)
        m_inTransaction = sqlite3_exec(m_db, "BEGIN", nullptr, nullptr, nullptr) == SQLITE_OK;
    Folder loaded;
    loaded.m_folder = FolderKey(folder);
    loaded.m_entries = Stored(loaded.m_folder, &loaded.m_seen);
    return loaded;
}

bool TagCache::Begin()
{
    if (!m_db || !m_writable)
        return false;
    if (!m_inTransaction)
        m_inTransaction = Check(sqlite3_exec(m_db, "BEGIN", nullptr, nullptr, nullptr));
    return m_inTransaction;
}

void TagCache::Counted()
{
    if (++m_pending >= kCommitEvery)
        Commit();
}

void TagCache::Store(const QString &folder, const QString &name, const platform::FileStamp &stamp,
                     const TrackRecord &record)
{
    if (!m_db || !m_writable)
        return;
    Folder::Entry entry;
    entry.stamp = stamp;
    entry.seen = m_today;
    for (int i = 0; i < 7; ++i)
        entry.cells[std::size_t(i)] = record.cells[std::size_t(kFirstTagCell + i)];
    m_changed[FolderKey(folder)].entries.insert(platform::EncodeName(name), std::move(entry));
    Counted();
}

void TagCache::Settle(const Folder &folder)
{
    if (!m_db || !m_writable)
        return;
    const auto changed = m_changed.find(folder.m_folder);
    const bool dropped = std::any_of(folder.m_entries.cbegin(), folder.m_entries.cend(),
                                     [](const Folder::Entry &entry) { return !entry.asked; });
    if (changed == m_changed.end() && !dropped) {
        // Nothing new: the folder only gets today's date, once a day.
        if (!folder.m_entries.isEmpty() && folder.m_seen < m_today && Begin() && m_touch) {
            BindBytes(m_touch, 1, folder.m_folder);
            sqlite3_bind_int64(m_touch, 2, m_today);
            if (Check(sqlite3_step(m_touch)))
                sqlite3_reset(m_touch);
            Counted();
        }
        return;
    }
    // The folder read whole: the entries found, and what was read from the files over them.
    Changed &whole = m_changed[folder.m_folder];
    whole.whole = true;
    for (auto it = folder.m_entries.cbegin(); it != folder.m_entries.cend(); ++it) {
        if (it->asked && !whole.entries.contains(it.key()))
            whole.entries.insert(it.key(), it.value());
    }
    Counted();
}

void TagCache::Commit()
{
    m_pending = 0;
    if (!m_changed.isEmpty()) {
        const QHash<QByteArray, Changed> changed = std::exchange(m_changed, {});
        if (Begin()) {
            for (auto it = changed.cbegin(); it != changed.cend() && m_db; ++it) {
                Entries entries = it->entries;
                if (!it->whole) {
                    // Stored, but the folder not settled (yet): over what the file holds.
                    Entries held = Stored(it.key());
                    for (auto e = entries.cbegin(); e != entries.cend(); ++e)
                        held.insert(e.key(), e.value());
                    entries = std::move(held);
                }
                if (!Write(it.key(), entries))
                    break;
            }
        }
    }
    if (m_db && m_inTransaction) {
        m_inTransaction = false;
        if (sqlite3_exec(m_db, "COMMIT", nullptr, nullptr, nullptr) != SQLITE_OK) {
            sqlite3_exec(m_db, "ROLLBACK", nullptr, nullptr, nullptr);
            m_writable = false;
        }
    }
}

qint64 TagCache::EntryCount()
{
    Commit();
    qint64 count = 0;
    sqlite3_stmt *all = Prepare("SELECT entries FROM folders");
    Entries entries;
    while (all && sqlite3_step(all) == SQLITE_ROW) {
        Decode(sqlite3_column_blob(all, 0), sqlite3_column_bytes(all, 0), 0, entries);
        count += entries.size();
    }
    sqlite3_finalize(all);
    return count;
}

void TagCache::Prune(int days)
{
    // Once a day: the look at every entry is not paid by every listing.
    sqlite3_stmt *last = Prepare("SELECT value FROM meta WHERE key = 'pruned'");
    const bool done = last && sqlite3_step(last) == SQLITE_ROW && sqlite3_column_int64(last, 0) >= m_today;
    sqlite3_finalize(last);
    if (done || !Begin())
        return;
    sqlite3_stmt *prune = Prepare("DELETE FROM folders WHERE seen < ?1");
    sqlite3_stmt *mark = Prepare("INSERT OR REPLACE INTO meta VALUES('pruned', ?1)");
    if (prune && mark) {
        sqlite3_bind_int64(prune, 1, m_today - days);
        sqlite3_bind_int64(mark, 1, m_today);
        if (Check(sqlite3_step(prune)))
            Check(sqlite3_step(mark));
    }
    sqlite3_finalize(prune);
    sqlite3_finalize(mark);
    Commit();
}

void TagCache::Forget(const QStringList &paths, const QString &file)
{
    if (!QFile::exists(file))
        return;
    TagCache cache(file);
    if (!cache.Begin())
        return;
    // A folder's row, and those of every folder below it, have keys from "F/" up to (not including) "F0" ('0'
    // follows '/'), which an index range finds. A file's entry goes from its folder's row.
    sqlite3_stmt *below = cache.Prepare("DELETE FROM folders WHERE folder >= ?1 AND folder < ?2");
    QHash<QByteArray, QList<QByteArray>> files;
    for (const QString &path : paths) {
        const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
        if (slash < 0 || !below)
            continue;
        files[FolderKey(QStringView(path).left(slash + 1))].append(platform::EncodeName(QStringView(path).mid(slash + 1)));
        QByteArray from = FolderKey(path);
        while (from.endsWith('/'))
            from.chop(1);
        BindBytes(below, 1, from + '/');
        BindBytes(below, 2, from + '0');
        const bool deletedBelow = cache.Check(sqlite3_step(below));
        if (!deletedBelow)
            break;   // a damaged file was made anew (empty), or the cache cannot be written: nothing more to do
        sqlite3_reset(below);
    }
    sqlite3_finalize(below);
    for (auto it = files.cbegin(); it != files.cend() && cache.m_db; ++it) {
        Entries entries = cache.Stored(it.key());
        qsizetype before = entries.size();
        for (const QByteArray &name : it.value())
            entries.remove(name);
        if (entries.size() != before && !cache.Write(it.key(), entries))
            break;
    }
    cache.Commit();
}
