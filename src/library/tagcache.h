#pragma once

#include "library/trackrecord.h"
#include "platform/fileio.h"

#include <QByteArray>
#include <QHash>
#include <QString>
#include <QStringList>

#include <memory>

struct sqlite3;
struct sqlite3_stmt;

// The tag cells of files listed before, so that a listing opens only the files that changed since. An SQLite
// file in the cache folder with one row per folder (keyed by the bytes of its name) holding the entries of its
// files, so a relist reads a folder with one lookup. Each entry is checked against its file's stamp (device,
// inode, size, modification and change time): a file retagged behind our back, even one whose size and
// modification time were put back, has a new change time and is read again. The cache only ever costs speed: a
// damaged file is replaced by an empty cache without a word, and one that cannot be opened or written leaves the
// listing to read every file. Used by one thread at a time; other processes may use the same file.
class TagCache
{
public:
    // The entries of one folder, loaded with one query when a walk enters it.
    class Folder
    {
    public:
        // The tag cells (Title to Genre) of `name` when its entry matches `stamp`.
        bool Find(const QString &name, const platform::FileStamp &stamp, TrackRecord &record);
        // The same by the name's bytes on disk.
        bool FindNative(const QByteArray &nativeName, const platform::FileStamp &stamp, TrackRecord &record);
        // Keeps the entry of a file the walk passed over (listed already), so Settle does not drop it.
        void Keep(const QString &name);
        void KeepNative(const QByteArray &nativeName);
        // How many entries the folder has, and whether `name` is one.
        qsizetype Size() const { return m_entries.size(); }
        bool Holds(const QString &name) const;

    private:
        friend class TagCache;
        struct Entry
        {
            platform::FileStamp stamp;
            std::array<QString, 7> cells;
            qint64 seen = 0;
            bool asked = false;
        };
        QByteArray m_folder;
        QHash<QByteArray, Entry> m_entries;
        qint64 m_seen = 0;
    };

    // Opens the cache at `file` (its folder made private to the user when missing).
    explicit TagCache(const QString &file = DefaultFile());
    ~TagCache();
    TagCache(const TagCache &) = delete;
    TagCache &operator=(const TagCache &) = delete;

    // tags.sqlite in platform::CacheFolder().
    static QString DefaultFile();
    bool IsOpen() const { return m_db != nullptr; }

    // Another connection to the same file, for another thread, that only loads folders: it never writes, and
    // it neither makes nor mends the file (nullptr when this cache is not open, or the file cannot be read).
    std::unique_ptr<TagCache> OpenReader() const;

    // `folder` ends in a separator.
    Folder Load(const QString &folder);
    // Keeps the cells a file was read as, with the stamp it had before it was read.
    void Store(const QString &folder, const QString &name, const platform::FileStamp &stamp, const TrackRecord &record);
    // A folder walked whole: its entries not asked for are files that are gone (or no longer listed); the
    // entries found get today's date.
    void Settle(const Folder &folder);
    // Writes what was stored (also done every few thousand changes, and at the end).
    void Commit();
    // Removes the entries no listing has seen for `days` days.
    void Prune(int days);
    // How many files the cache holds entries of (what was stored and not yet written counts once written).
    qint64 EntryCount();
    // Removes the entries of `paths` (files, or folders with all below them) from the cache in `file`, in one
    // transaction. Without a cache file there is nothing to do, and none is made.
    static void Forget(const QStringList &paths, const QString &file = DefaultFile());

private:
    struct ReaderTag
    {
    };
    TagCache(const QString &file, ReaderTag);
    bool Open(const QString &file);
    void Close();
    // Acts on an SQLite result: a damaged or foreign file is replaced by an empty cache; other failures (busy,
    // read-only, full) stop storing. Returns whether the result was a success.
    bool Check(int result);
    bool Begin();
    void Counted();
    sqlite3_stmt *Prepare(const char *sql);

    using Entries = QHash<QByteArray, Folder::Entry>;
    // A folder's entries as one value: for each, its name, its stamp and its cells, a cell equal to the one of the
    // entry before given as a mark, so the strings are shared again when read. Decode takes what Encode made, and
    // is false (with no entries) for anything else.
    static QByteArray Encode(const Entries &entries);
    static bool Decode(const void *data, qsizetype size, qint64 seen, Entries &entries);
    // The entries the file holds of a folder (by the bytes of its name); none when it holds none.
    Entries Stored(const QByteArray &folder, qint64 *seen = nullptr);
    // Writes a folder's entries (or drops its row when there are none).
    bool Write(const QByteArray &folder, const Entries &entries);

    // Changes not yet written, by folder: entries stored, and whether they are the whole folder (after Settle)
    // or only go over what the file holds.
    struct Changed
    {
        Entries entries;
        bool whole = false;
    };

    QString m_file;
    sqlite3 *m_db = nullptr;
    sqlite3_stmt *m_select = nullptr;
    sqlite3_stmt *m_insert = nullptr;
    sqlite3_stmt *m_delete = nullptr;
    sqlite3_stmt *m_touch = nullptr;
    QHash<QByteArray, Changed> m_changed;
    bool m_inTransaction = false;
    bool m_writable = true;
    bool m_rebuilt = false;
    int m_pending = 0;
    qint64 m_today = 0;
};
