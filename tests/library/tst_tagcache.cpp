// The tag cache must never change what a listing shows: every change behind its back is seen, and a damaged
// or unusable cache only costs speed.

#include "journal/journal.h"
#include "library/folderwalker.h"
#include "library/scanstate.h"
#include "library/tagcache.h"
#include "platform/directory.h"
#include "settings/appsettings.h"
#include "tags/tagfile.h"
#include "testmp3.h"

#include <QtTest>

#include <sqlite3.h>
#include <fcntl.h>
#include <sys/stat.h>

using namespace testmp3;

namespace {

ExtensionSet Extensions()
{
    AppSettings s;
    s.mp3Ext = 1;
    ExtensionSet set;
    set.Build(s);
    return set;
}

// The rows of a recursive walk, sorted by path so walks compare whatever the directory order.
std::vector<TrackRecord> Walk(const QString &folder, TagCache *cache)
{
    ScanState state;
    std::vector<TrackRecord> rows;
    FolderWalker walker(state, Extensions(), [&](TrackRecord &&r) { rows.push_back(std::move(r)); });
    walker.SetCache(cache);
    walker.WalkFolder(folder, true);
    std::sort(rows.begin(), rows.end(), [](const TrackRecord &a, const TrackRecord &b) { return RowFullPath(a) < RowFullPath(b); });
    return rows;
}

std::vector<TrackRecord> WalkCached(const QString &folder, const QString &cacheFile)
{
    TagCache cache(cacheFile);
    return Walk(folder, &cache);
}

bool Same(const std::vector<TrackRecord> &a, const std::vector<TrackRecord> &b)
{
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (a[i].cells != b[i].cells)
            return false;
    }
    return true;
}

// The number the query `select` (a SELECT count) gives on the cache file, or -1.
QString TitleOf(const std::vector<TrackRecord> &rows, const QString &root, const QString &relative)
{
    for (const TrackRecord &r : rows) {
        if (RowFullPath(r) == root + QLatin1Char('/') + relative)
            return r[Column::Title];
    }
    return QStringLiteral("<no row>");
}

// Runs SQL on the cache file. Folder and name keys are the bytes of the path: the statements match them by their
// hex form ("/a/" is 2F612F, "3.mp3" 332E6D7033), whatever the database's text encoding.
void Sql(const QString &file, const char *statement)
{
    sqlite3 *db = nullptr;
    QCOMPARE(sqlite3_open(QFile::encodeName(file).constData(), &db), SQLITE_OK);
    char *error = nullptr;
    const int result = sqlite3_exec(db, statement, nullptr, nullptr, &error);
    const QString text = QString::fromUtf8(error ? error : "");
    sqlite3_free(error);
    sqlite3_close(db);
    QVERIFY2(result == SQLITE_OK, qPrintable(text));
}

// Gives the cache's entry of a file (stamped as the file is now) another title, as if the file had been read so:
// a listing that shows it took the entry and left the file unopened.
void CacheTitle(const QString &cacheFile, const QString &path, const QString &title)
{
    const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
    const QString folder = path.left(slash + 1), name = path.mid(slash + 1);
    platform::FileStamp stamp;
    QCOMPARE(platform::StampOf(QFile::encodeName(path), stamp), 0);
    TagCache cache(cacheFile);
    TrackRecord record;
    QVERIFY(cache.Load(folder).Find(name, stamp, record));
    record.cells[std::size_t(Column::Title)] = title;
    cache.Store(folder, name, stamp, record);
}

// How many entries the cache holds of a folder.
qsizetype EntriesOf(const QString &cacheFile, const QString &folder)
{
    TagCache cache(cacheFile);
    return cache.Load(folder).Size();
}

QByteArray Song(const QString &title) { return Tag(Frame("TIT2", Utf16Body(title)), 3, 64) + Audio(2); }

} // namespace

class TestTagCache : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init();
    void unchangedFilesComeFromTheCache();
    void changesBehindItsBackAreSeen();
    void damagedOrUnusableCacheOnlyCostsSpeed();
    void oldEntriesArePruned();
    void cachedWalksKeepWalkOrderOnAnyNumberOfThreads();
    void ownChangesAreForgotten();
    void relativeNamesShareTheAbsoluteRows();
    void fatCardsAreNeverCached();

private:
    std::unique_ptr<QTemporaryDir> m_dir;
    QString m_music;
    QString m_cache;
};

void TestTagCache::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    m_music = m_dir->filePath(QStringLiteral("music"));
    m_cache = m_dir->filePath(QStringLiteral("cache/tags.sqlite"));
    for (const char *folder : {"a", "a/deep", "b"})
        QDir().mkpath(m_music + QLatin1Char('/') + QLatin1String(folder));
    for (int i = 0; i < 5; ++i) {
        QVERIFY(WriteFile(QStringLiteral("%1/a/%2.mp3").arg(m_music).arg(i), Song(QStringLiteral("A %1 é").arg(i))));
        QVERIFY(WriteFile(QStringLiteral("%1/a/deep/%2.mp3").arg(m_music).arg(i), Song(QStringLiteral("D %1").arg(i))));
        QVERIFY(WriteFile(QStringLiteral("%1/b/%2.mp3").arg(m_music).arg(i), Song(QStringLiteral("B %1").arg(i))));
    }
    QVERIFY(WriteFile(m_music + QStringLiteral("/b/empty.mp3"), Audio(1)));   // no tag: empty cells, cached too
}

void TestTagCache::unchangedFilesComeFromTheCache()
{
    const std::vector<TrackRecord> plain = Walk(m_music, nullptr);
    QCOMPARE(plain.size(), std::size_t(16));
    QVERIFY(Same(WalkCached(m_music, m_cache), plain));   // fills the cache
    QVERIFY(Same(WalkCached(m_music, m_cache), plain));   // read from it
    // Proof that a matching entry is taken and its file left unopened: an entry changed in the cache shows.
    CacheTitle(m_cache, m_music + QStringLiteral("/a/3.mp3"), QStringLiteral("from the cache"));
    const std::vector<TrackRecord> cached = WalkCached(m_music, m_cache);
    QCOMPARE(TitleOf(cached, m_music, QStringLiteral("a/3.mp3")), QStringLiteral("from the cache"));
    QCOMPARE(TitleOf(cached, m_music, QStringLiteral("a/2.mp3")), TitleOf(plain, m_music, QStringLiteral("a/2.mp3")));

    // A walk that passes over files listed already (add-list mode, the same folder again) keeps their entries.
    {
        TagCache cache(m_cache);
        ScanState state;
        std::vector<TrackRecord> rows;
        FolderWalker walker(state, Extensions(), [&](TrackRecord &&r) { rows.push_back(std::move(r)); });
        walker.SetCache(&cache);
        walker.WalkFolder(m_music, true);
        walker.WalkFolder(m_music, true);
        QCOMPARE(rows.size(), plain.size());
    }
    QCOMPARE(TitleOf(WalkCached(m_music, m_cache), m_music, QStringLiteral("a/3.mp3")), QStringLiteral("from the cache"));
}

void TestTagCache::changesBehindItsBackAreSeen()
{
    WalkCached(m_music, m_cache);
    // A retag by another program.
    QVERIFY(WriteFile(m_music + QStringLiteral("/a/0.mp3"), Song(QStringLiteral("retagged"))));
    // A retag of the same size that puts the old modification time back: the change time tells.
    const QByteArray native = QFile::encodeName(m_music + QStringLiteral("/a/1.mp3"));
    struct stat before{};
    QCOMPARE(::stat(native.constData(), &before), 0);
    QVERIFY(WriteFile(m_music + QStringLiteral("/a/1.mp3"), Song(QStringLiteral("A 9 é"))));
    const timespec times[2] = {before.st_atim, before.st_mtim};
    QCOMPARE(::utimensat(AT_FDCWD, native.constData(), times, 0), 0);
    struct stat after{};
    QCOMPARE(::stat(native.constData(), &after), 0);
    QCOMPARE(after.st_size, before.st_size);
    QCOMPARE(after.st_mtim.tv_nsec, before.st_mtim.tv_nsec);
    // A new file, a removed one, a renamed one, and a folder replaced by another with the same names.
    QVERIFY(WriteFile(m_music + QStringLiteral("/a/new.mp3"), Song(QStringLiteral("new"))));
    QVERIFY(QFile::remove(m_music + QStringLiteral("/a/2.mp3")));
    QVERIFY(QFile::rename(m_music + QStringLiteral("/a/3.mp3"), m_music + QStringLiteral("/a/renamed.mp3")));
    QVERIFY(QDir(m_music + QStringLiteral("/b")).removeRecursively());
    QDir().mkpath(m_music + QStringLiteral("/b"));
    for (int i = 0; i < 5; ++i)
        QVERIFY(WriteFile(QStringLiteral("%1/b/%2.mp3").arg(m_music).arg(i), Song(QStringLiteral("C %1").arg(i))));

    const std::vector<TrackRecord> cached = WalkCached(m_music, m_cache);
    QVERIFY(Same(cached, Walk(m_music, nullptr)));
    QCOMPARE(TitleOf(cached, m_music, QStringLiteral("a/0.mp3")), QStringLiteral("retagged"));
    QCOMPARE(TitleOf(cached, m_music, QStringLiteral("a/1.mp3")), QStringLiteral("A 9 é"));
    QCOMPARE(TitleOf(cached, m_music, QStringLiteral("a/renamed.mp3")), QStringLiteral("A 3 é"));
    QCOMPARE(TitleOf(cached, m_music, QStringLiteral("a/new.mp3")), QStringLiteral("new"));
    QCOMPARE(TitleOf(cached, m_music, QStringLiteral("a/2.mp3")), QStringLiteral("<no row>"));
    // The entries of the files that went are gone from the cache too.
    TagCache cache(m_cache);
    const TagCache::Folder a = cache.Load(m_music + QStringLiteral("/a/"));
    QVERIFY(!a.Holds(QStringLiteral("2.mp3")) && !a.Holds(QStringLiteral("3.mp3")));
    QVERIFY(a.Holds(QStringLiteral("renamed.mp3")) && a.Holds(QStringLiteral("new.mp3")));
}

void TestTagCache::damagedOrUnusableCacheOnlyCostsSpeed()
{
    const std::vector<TrackRecord> plain = Walk(m_music, nullptr);
    WalkCached(m_music, m_cache);
    // Garbage over the cache: the listing is right, and the cache is made anew.
    QFile::remove(m_cache + QStringLiteral("-wal"));
    QFile::remove(m_cache + QStringLiteral("-shm"));
    QVERIFY(WriteFile(m_cache, QByteArray(8192, 'x')));
    QVERIFY(Same(WalkCached(m_music, m_cache), plain));
    QVERIFY(ReadFile(m_cache).startsWith("SQLite format 3"));
    QVERIFY(Same(WalkCached(m_music, m_cache), plain));
    // A cache from an older version of the rows is emptied, not trusted.
    CacheTitle(m_cache, m_music + QStringLiteral("/a/3.mp3"), QStringLiteral("stale"));
    Sql(m_cache, "PRAGMA user_version = 0");
    QVERIFY(Same(WalkCached(m_music, m_cache), plain));
    // A folder's row cut short or filled with other bytes: that folder is read from its files, and stored again.
    Sql(m_cache, "UPDATE folders SET entries = substr(entries, 1, 30) WHERE hex(folder) LIKE '%2F612F'; "
                 "UPDATE folders SET entries = x'FFFF0102' WHERE hex(folder) LIKE '%2F622F'");
    QVERIFY(Same(WalkCached(m_music, m_cache), plain));
    QCOMPARE(EntriesOf(m_cache, m_music + QStringLiteral("/a/")), 5);
    // A folder that cannot be made (a file in its place): no cache, the same rows.
    const QString blocked = m_dir->filePath(QStringLiteral("blocked"));
    QVERIFY(WriteFile(blocked, "a file"));
    TagCache none(blocked + QStringLiteral("/tags.sqlite"));
    QVERIFY(!none.IsOpen());
    QVERIFY(Same(Walk(m_music, &none), plain));
    // The cache's place is a link to another program's database: no cache, and that database is not touched
    // (no journal mode switched, no table made), nor are links in the place of the cache's journal files.
    const QString theirs = m_dir->filePath(QStringLiteral("theirs.sqlite"));
    Sql(theirs, "CREATE TABLE notes(text TEXT); INSERT INTO notes VALUES('keep me')");
    const QByteArray before = ReadFile(theirs);
    for (const char *suffix : {"", "-wal"}) {
        const QString linked = m_dir->filePath(QStringLiteral("linked/tags.sqlite"));
        QVERIFY(QDir().mkpath(m_dir->filePath(QStringLiteral("linked"))));
        QVERIFY(QFile::link(theirs, linked + QLatin1String(suffix)));
        TagCache link(linked);
        QVERIFY(!link.IsOpen());
        QVERIFY(Same(Walk(m_music, &link), plain));
        QCOMPARE(ReadFile(theirs), before);
        QVERIFY(!QFile::exists(theirs + QStringLiteral("-wal")));
        QVERIFY(QDir(m_dir->filePath(QStringLiteral("linked"))).removeRecursively());
    }
}

void TestTagCache::oldEntriesArePruned()
{
    WalkCached(m_music, m_cache);
    // Entries last seen 100 days ago go; those seen 10 days ago stay.
    Sql(m_cache, "UPDATE folders SET seen = seen - 100 WHERE hex(folder) LIKE '%2F622F'; UPDATE folders SET seen = seen - 10 "
                 "WHERE hex(folder) LIKE '%2F612F'; DELETE FROM meta");
    TagCache cache(m_cache);
    cache.Prune(90);
    QCOMPARE(cache.Load(m_music + QStringLiteral("/b/")).Size(), 0);
    QCOMPARE(cache.EntryCount(), 10);   // a/ and a/deep/
}

void TestTagCache::cachedWalksKeepWalkOrderOnAnyNumberOfThreads()
{
    // A tree of many folders (files beside subfolders, empty folders, folders of only subfolders) and songs
    // whose cells repeat from file to file: the rows of a walk, in their order, are those of a plain walk on one
    // thread whether the cells come from the files or from the cache, and however many threads read the folders.
    for (int artist = 0; artist < 6; ++artist) {
        for (int album = 0; album < 4; ++album) {
            const QString folder = QStringLiteral("%1/t/%2/%3").arg(m_music).arg(artist).arg(album);
            QDir().mkpath(folder + QStringLiteral("/empty"));
            for (int track = 0; track < 7; ++track)
                QVERIFY(WriteFile(QStringLiteral("%1/%2.mp3").arg(folder).arg(track),
                                  Tag(Frame("TIT2", Utf16Body(QStringLiteral("Tïtle %1").arg(track))) +
                                      Frame("TPE1", Latin1Body(QByteArray::number(artist))) +
                                      Frame("TALB", Latin1Body(track % 3 ? "same" : "other"))) + Audio(1)));
        }
        QVERIFY(WriteFile(QStringLiteral("%1/t/%2/loose.mp3").arg(m_music).arg(artist), Song(QStringLiteral("loose"))));
    }
    auto walk = [&](int threads, TagCache *cache, int stopAt = -1) {
        ScanState state;
        std::vector<TrackRecord> rows;
        FolderWalker walker(state, Extensions(), [&](TrackRecord &&r) {
            rows.push_back(std::move(r));
            if (int(rows.size()) == stopAt)
                state.stop.store(1);
        });
        walker.SetReaderThreads(threads);
        walker.SetCache(cache);
        walker.WalkFolder(m_music, true);
        return rows;
    };
    const std::vector<TrackRecord> plain = walk(1, nullptr);
    QCOMPARE(plain.size(), std::size_t(16 + 6 * 4 * 7 + 6));
    for (const int threads : {1, 2, 4, 8}) {
        QFile::remove(m_cache);
        TagCache cache(m_cache);
        QVERIFY(Same(walk(threads, &cache), plain));   // fills the cache
        QVERIFY(Same(walk(threads, &cache), plain));   // from it
        const std::vector<TrackRecord> stopped = walk(threads, &cache, 50);
        QCOMPARE(stopped.size(), std::size_t(50));
        QVERIFY(Same(stopped, std::vector<TrackRecord>(plain.begin(), plain.begin() + 50)));
    }
    // The proof that the last walks came from the cache, and that folders other threads read are settled: an
    // entry changed in the cache shows, and the entry of a file removed meanwhile is gone.
    for (int artist = 0; artist < 6; ++artist) {
        for (int album = 0; album < 4; ++album)
            CacheTitle(m_cache, QStringLiteral("%1/t/%2/%3/6.mp3").arg(m_music).arg(artist).arg(album),
                       QStringLiteral("from the cache"));
    }
    QVERIFY(QFile::remove(m_music + QStringLiteral("/t/5/3/0.mp3")));
    {
        TagCache cache(m_cache);
        const std::vector<TrackRecord> rows = walk(4, &cache);
        QCOMPARE(rows.size(), plain.size() - 1);
        QCOMPARE(std::count_if(rows.begin(), rows.end(), [](const TrackRecord &r) {
                     return r[Column::Title] == QLatin1String("from the cache");
                 }), 24);
    }
    QCOMPARE(TagCache(m_cache).EntryCount(), qint64(plain.size()) - 1);
}

void TestTagCache::relativeNamesShareTheAbsoluteRows()
{
    // A folder named relative to the working folder (a command line's "music") uses the rows of its absolute
    // name: a listing by either name takes the entries the other stored, and the folder is not kept twice.
    WalkCached(m_music, m_cache);
    CacheTitle(m_cache, m_music + QStringLiteral("/a/0.mp3"), QStringLiteral("from the cache"));
    const QString before = QDir::currentPath();
    QVERIFY(QDir::setCurrent(m_dir->path()));
    const auto restore = qScopeGuard([&] { QDir::setCurrent(before); });
    const std::vector<TrackRecord> rows = WalkCached(QStringLiteral("music"), m_cache);
    QCOMPARE(TitleOf(rows, QStringLiteral("music"), QStringLiteral("a/0.mp3")), QStringLiteral("from the cache"));
    CacheTitle(m_cache, QStringLiteral("music/a/1.mp3"), QStringLiteral("stored by the relative name"));
    QCOMPARE(TitleOf(WalkCached(m_music, m_cache), m_music, QStringLiteral("a/1.mp3")),
             QStringLiteral("stored by the relative name"));
    QCOMPARE(EntriesOf(m_cache, QStringLiteral("music/a/")), EntriesOf(m_cache, m_music + QStringLiteral("/a/")));
}

void TestTagCache::ownChangesAreForgotten()
{
    // The entries of files Tunegrove writes, renames or takes away go when the command ends (the journal tells
    // the cache); neighbours keep theirs, even folders whose names begin alike.
    qputenv("XDG_CACHE_HOME", QFile::encodeName(m_dir->filePath(QStringLiteral("xdg"))));
    const QString file = TagCache::DefaultFile();
    QVERIFY(file.startsWith(m_dir->path()));
    for (const char *folder : {"b-x", "b0"}) {
        QDir().mkpath(m_music + QLatin1Char('/') + QLatin1String(folder));
        QVERIFY(WriteFile(m_music + QLatin1Char('/') + QLatin1String(folder) + QStringLiteral("/0.mp3"), Song(QStringLiteral("n"))));
    }
    // Without a cache file, a command makes none.
    {
        journal::Recorder recorder(m_dir->filePath(QStringLiteral("undo")));
        QVERIFY(recorder.Begin(QStringLiteral("rename")));
        recorder.Lost(m_music + QStringLiteral("/b/0.mp3"));
    }
    QVERIFY(!QFile::exists(file));
    const std::vector<TrackRecord> before = WalkCached(m_music, file);
    QCOMPARE(before.size(), std::size_t(18));
    auto entries = [&](const char *folder) { return EntriesOf(file, m_music + QLatin1String(folder)); };
    QCOMPARE(entries("/a/"), 5);
    {
        journal::Recorder recorder(m_dir->filePath(QStringLiteral("undo")));
        QVERIFY(recorder.Begin(QStringLiteral("edit")));
        TagFile tag;   // a real write, told to the journal by the writer
        QVERIFY(tag.Open(m_music + QStringLiteral("/a/0.mp3")));
        tag.title = QStringLiteral("written");
        QVERIFY(tag.Write());
        const quint64 rename = recorder.FileChanging(platform::FileChange::Rename, m_music + QStringLiteral("/a/1.mp3"),
                                                     m_music + QStringLiteral("/a/one.mp3"), {}, {});
        QVERIFY(QFile::rename(m_music + QStringLiteral("/a/1.mp3"), m_music + QStringLiteral("/a/one.mp3")));
        recorder.FileChanged(rename, true, {});
        QVERIFY(QDir(m_music + QStringLiteral("/b")).removeRecursively());
        recorder.Lost(m_music + QStringLiteral("/b"));
        QCOMPARE(entries("/a/"), 5);   // not before the command ends
    }
    QCOMPARE(entries("/a/"), 3);   // a/0.mp3 and a/1.mp3 went
    QCOMPARE(entries("/b/"), 0);
    QCOMPARE(entries("/b-x/"), 1);
    QCOMPARE(entries("/b0/"), 1);
    QCOMPARE(entries("/a/deep/"), 5);
    const std::vector<TrackRecord> after = WalkCached(m_music, file);
    QVERIFY(Same(after, Walk(m_music, nullptr)));
    QCOMPARE(TitleOf(after, m_music, QStringLiteral("a/0.mp3")), QStringLiteral("written"));
    qunsetenv("XDG_CACHE_HOME");
}

void TestTagCache::fatCardsAreNeverCached()
{
    // On a FAT card (here: the test's file system taken for one) a retag of the same size with the time put back
    // leaves the stamp as it was, and the next card at the same place has the same inode numbers: its files are
    // read on every listing and never stored.
    QVERIFY(platform::StampsAreTrustworthy(m_music));
    platform::SetUntrustedDeviceForTests(platform::DeviceOf(m_music));
    QVERIFY(!platform::StampsAreTrustworthy(m_music));
    const std::vector<TrackRecord> first = WalkCached(m_music, m_cache);
    QCOMPARE(TagCache(m_cache).EntryCount(), 0);
    QVERIFY(WriteFile(m_music + QStringLiteral("/a/1.mp3"), Song(QStringLiteral("card two"))));
    const std::vector<TrackRecord> second = WalkCached(m_music, m_cache);
    platform::SetUntrustedDeviceForTests(0);
    QCOMPARE(TitleOf(second, m_music, QStringLiteral("a/1.mp3")), QStringLiteral("card two"));
    QVERIFY(Same(second, Walk(m_music, nullptr)));
    QCOMPARE(first.size(), second.size());
}

QTEST_GUILESS_MAIN(TestTagCache)
#include "tst_tagcache.moc"
