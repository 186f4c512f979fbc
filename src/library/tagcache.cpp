#include "library/tagcache.h"

#include "platform/fileio.h"
#include "platform/names.h"
#include "platform/statefolder.h"

#include <QDateTime>
#include <QFile>

#include <sqlite3.h>

#include <cstring>

namespace {

// Raised whenever the cells a file gives change meaning (a reader that reads a field differently): an older
// cache is then emptied instead of trusted.
constexpr int kSchemaVersion = 3;   // 3: a described comment (iTunNORM) is never the comment; a lone BOM is empty; several values joined with "; "
// Changes written in one transaction.
constexpr int kCommitEvery = 4096;

constexpr int kFirstTagCell = int(Column::Title);

// The entries of one folder, read by ReadEntry.
constexpr char kSelectFolder[] = "SELECT folder, name, device, inode, size, modified, changed, seen, title, artist, "
                                 "year, album, track, comment, genre FROM tags WHERE folder = ?1";

QString CellText(sqlite3_stmt *statement, int column)
{
    const int bytes = sqlite3_column_bytes16(statement, column);
    if (bytes == 0)
        return QString();
    return QString(reinterpret_cast<const QChar *>(sqlite3_column_text16(statement, column)), bytes / 2);
}

// Whether column `column` holds the text of `text`.
bool SameText(sqlite3_stmt *statement, int column, const QString &text)
{
    const int bytes = sqlite3_column_bytes16(statement, column);
    return bytes == text.size() * 2 &&
           (bytes == 0 || std::memcmp(sqlite3_column_text16(statement, column), text.utf16(), std::size_t(bytes)) == 0);
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
                                             "CREATE TABLE tags(folder BLOB NOT NULL, name BLOB NOT NULL, device INTEGER, "
                                             "inode INTEGER, size INTEGER, modified INTEGER, changed INTEGER, seen INTEGER, "
                                             "title TEXT, artist TEXT, year TEXT, album TEXT, track TEXT, comment TEXT, "
                                             "genre TEXT, PRIMARY KEY(folder, name)) WITHOUT ROWID;"
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
    m_insert = Prepare("INSERT OR REPLACE INTO tags VALUES(?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10, ?11, ?12, ?13, "
                       "?14, ?15)");
    m_delete = Prepare("DELETE FROM tags WHERE folder = ?1 AND name = ?2");
    m_touch = Prepare("UPDATE tags SET seen = ?3 WHERE folder = ?1 AND name = ?2");
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

void TagCache::ReadEntry(sqlite3_stmt *statement, Folder &folder, std::array<QString, 7> &previous)
{
    Folder::Entry entry;
    entry.stamp.device = std::uint64_t(sqlite3_column_int64(statement, 2));
    entry.stamp.inode = std::uint64_t(sqlite3_column_int64(statement, 3));
    entry.stamp.size = sqlite3_column_int64(statement, 4);
    entry.stamp.modifiedNs = sqlite3_column_int64(statement, 5);
    entry.stamp.changedNs = sqlite3_column_int64(statement, 6);
    entry.seen = sqlite3_column_int64(statement, 7);
    // The files of a folder often share an artist, an album, a year: such cells share one string.
    for (int i = 0; i < 7; ++i) {
        QString &cell = entry.cells[std::size_t(i)];
        QString &before = previous[std::size_t(i)];
        if (!SameText(statement, 8 + i, before))
            before = CellText(statement, 8 + i);
        cell = before;
    }
    const QByteArray name(static_cast<const char *>(sqlite3_column_blob(statement, 1)), sqlite3_column_bytes(statement, 1));
    folder.m_entries.insert(name, std::move(entry));
}

TagCache::Folder TagCache::Load(const QString &folder)
{
    Folder loaded;
    loaded.m_folder = platform::EncodeName(folder);
    if (!m_db)
        return loaded;
    BindBytes(m_select, 1, loaded.m_folder);
    int result;
    std::array<QString, 7> previous;
    while ((result = sqlite3_step(m_select)) == SQLITE_ROW)
        ReadEntry(m_select, loaded, previous);
    sqlite3_reset(m_select);
    if (result != SQLITE_DONE) {
        Check(result);
        loaded.m_entries.clear();
    }
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
    if (!Begin())
        return;
    BindBytes(m_insert, 1, platform::EncodeName(folder));
    BindBytes(m_insert, 2, platform::EncodeName(name));
    sqlite3_bind_int64(m_insert, 3, sqlite3_int64(stamp.device));
    sqlite3_bind_int64(m_insert, 4, sqlite3_int64(stamp.inode));
    sqlite3_bind_int64(m_insert, 5, stamp.size);
    sqlite3_bind_int64(m_insert, 6, stamp.modifiedNs);
    sqlite3_bind_int64(m_insert, 7, stamp.changedNs);
    sqlite3_bind_int64(m_insert, 8, m_today);
    for (int i = 0; i < 7; ++i) {
        const QString &cell = record.cells[std::size_t(kFirstTagCell + i)];
        sqlite3_bind_text16(m_insert, 9 + i, cell.utf16(), int(cell.size() * 2), SQLITE_TRANSIENT);
    }
    Check(sqlite3_step(m_insert));
    if (m_insert)
        sqlite3_reset(m_insert);
    Counted();
}

void TagCache::Settle(const Folder &folder)
{
    if (folder.m_entries.isEmpty() || !Begin())
        return;
    for (auto it = folder.m_entries.cbegin(); it != folder.m_entries.cend() && m_db; ++it) {
        if (!it->asked) {
            BindBytes(m_delete, 1, folder.m_folder);
            BindBytes(m_delete, 2, it.key());
            Check(sqlite3_step(m_delete));
            if (m_delete)
                sqlite3_reset(m_delete);
            Counted();
        } else if (it->seen < m_today) {
            BindBytes(m_touch, 1, folder.m_folder);
            BindBytes(m_touch, 2, it.key());
            sqlite3_bind_int64(m_touch, 3, m_today);
            Check(sqlite3_step(m_touch));
            if (m_touch)
                sqlite3_reset(m_touch);
            Counted();
        }
    }
}

void TagCache::Commit()
{
    m_pending = 0;
    if (m_db && m_inTransaction) {
        m_inTransaction = false;
        if (sqlite3_exec(m_db, "COMMIT", nullptr, nullptr, nullptr) != SQLITE_OK) {
            sqlite3_exec(m_db, "ROLLBACK", nullptr, nullptr, nullptr);
            m_writable = false;
        }
    }
}

void TagCache::Prune(int days)
{
    // Once a day: the look at every entry is not paid by every listing.
    sqlite3_stmt *last = Prepare("SELECT value FROM meta WHERE key = 'pruned'");
    const bool done = last && sqlite3_step(last) == SQLITE_ROW && sqlite3_column_int64(last, 0) >= m_today;
    sqlite3_finalize(last);
    if (done || !Begin())
        return;
    sqlite3_stmt *prune = Prepare("DELETE FROM tags WHERE seen < ?1");
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
    // A folder's entries, and those of every folder below it, have folder keys from "F/" up to (not including)
    // "F0" ('0' follows '/'), which an index range finds.
    sqlite3_stmt *below = cache.Prepare("DELETE FROM tags WHERE folder >= ?1 AND folder < ?2");
    for (const QString &path : paths) {
        const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
        if (slash < 0 || !cache.m_delete || !below)
            continue;
        BindBytes(cache.m_delete, 1, platform::EncodeName(QStringView(path).left(slash + 1)));
        BindBytes(cache.m_delete, 2, platform::EncodeName(QStringView(path).mid(slash + 1)));
        const bool deleted = cache.Check(sqlite3_step(cache.m_delete));
        if (!deleted)
            break;   // a damaged file was made anew (empty), or the cache cannot be written: nothing more to do
        sqlite3_reset(cache.m_delete);
        QByteArray from = platform::EncodeName(path);
        while (from.endsWith('/'))
            from.chop(1);
        BindBytes(below, 1, from + '/');
        BindBytes(below, 2, from + '0');
        const bool deletedBelow = cache.Check(sqlite3_step(below));
        sqlite3_reset(below);
        if (!deletedBelow)
            break;
    }
    sqlite3_finalize(below);
    cache.Commit();
}
