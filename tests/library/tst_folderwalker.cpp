#include "settings/appsettings.h"
#include "library/tracklistmodel.h"
#include "library/folderwalker.h"
#include "library/scanstate.h"
#include "library/walkworker.h"
#include "testmp3.h"

#include <QtTest>

#include <sys/stat.h>
#include <unistd.h>

namespace {

ExtensionSet Extensions(bool all = false)
{
    AppSettings s;
    s.aviExt = s.mp3Ext = s.wavExt = 1;
    s.allExt = all;
    ExtensionSet set;
    set.Build(s);
    return set;
}

QStringList Names(const std::vector<TrackRecord> &rows)
{
    QStringList out;
    for (const auto &r : rows)
        out << r[Column::Filename] + QLatin1Char('.') + r[Column::Ext];
    return out;
}

} // namespace

class TestFolderWalker : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void walkListsAcceptedFilesOnce();
    void duplicatesAcrossListings();
    void forgettingWalksListAgain();
    void notRecursingTreatsFoldersAsFiles();
    void stopMidWalkKeepsRows();
    void rowsAlikeOnAnyNumberOfThreads();
    void symlinkLoopEnds();
    void walksBelowPathMax();
    void progressTickWraps();
    void workerDeliversBatchesInWalkOrder();
    void workerStopsAndClearsFlags();
    void modelKeepsCounterAfterRemovals();
    void acceptedDrives();

private:
    QTemporaryDir m_dir;
    QString m_root;
};

void TestFolderWalker::initTestCase()
{
    using namespace testmp3;
    m_root = m_dir.path() + QStringLiteral("/lib");
    QDir().mkpath(m_root + QStringLiteral("/Artist/Album"));
    QDir().mkpath(m_root + QStringLiteral("/folder.mp3"));
    WriteFile(m_root + QStringLiteral("/a.b.mp3"), Tag(Frame("TIT2", Latin1Body("AB"))) + Audio(1));
    WriteFile(m_root + QStringLiteral("/SONG.MP3"), Tag(Frame("TIT2", Latin1Body("Loud"))) + Audio(1));
    WriteFile(m_root + QStringLiteral("/clip.wav"), Audio(1));
    WriteFile(m_root + QStringLiteral("/notes.txt"), "x");
    WriteFile(m_root + QStringLiteral("/README"), "x");
    WriteFile(m_root + QStringLiteral("/.hidden.mp3"), Audio(1));
    WriteFile(m_root + QStringLiteral("/Artist/Album/01.mp3"), Tag(Frame("TIT2", Latin1Body("One"))) + Audio(1));
    WriteFile(m_root + QStringLiteral("/Artist/Album/02.mp3"), Audio(1));
}

void TestFolderWalker::walkListsAcceptedFilesOnce()
{
    ScanState state;
    std::vector<TrackRecord> rows;
    FolderWalker walker(state, Extensions(), [&](TrackRecord &&r) { rows.push_back(std::move(r)); });
    QVERIFY(walker.WalkFolder(m_root, true));
    QStringList names = Names(rows);
    names.sort();
    QCOMPARE(names, (QStringList{".hidden.mp3", "01.mp3", "02.mp3", "SONG.MP3", "a.b.mp3", "clip.wav"}));
    for (const auto &r : rows) {
        if (r[Column::Filename] == QLatin1String("SONG"))
            QCOMPARE(r[Column::Title], QStringLiteral("Loud"));
        if (r[Column::Ext] == QLatin1String("wav"))
            QCOMPARE(r[Column::Title], QStringLiteral("Non"));
    }
    QVERIFY(!walker.WalkFolder(QString(), true));
    QVERIFY(walker.WalkFolder(m_root + QStringLiteral("/missing"), true));   // unreadable: no rows, no failure
}

void TestFolderWalker::duplicatesAcrossListings()
{
    ScanState state;
    std::vector<TrackRecord> rows;
    FolderWalker walker(state, Extensions(), [&](TrackRecord &&r) { rows.push_back(std::move(r)); });
    walker.WalkFolder(m_root + QStringLiteral("/Artist/Album"), false);
    walker.WalkFolder(m_root + QStringLiteral("/Artist/Album/"), false);   // same folder again, with a slash
    QCOMPARE(rows.size(), std::size_t(2));

    // The same names in another folder are other files.
    QTemporaryDir other;
    QFile::copy(m_root + QStringLiteral("/Artist/Album/01.mp3"), other.filePath(QStringLiteral("01.mp3")));
    walker.WalkFolder(other.path(), false);
    QCOMPARE(rows.size(), std::size_t(3));

    // The model's own test agrees with the walker's.
    TrackListModel model;
    QCOMPARE(model.AppendRows(std::vector<TrackRecord>(rows)), 3);
    QCOMPARE(model.AppendRows(std::vector<TrackRecord>(rows)), 0);
    QVERIFY(!model.AddFile(RowFullPath(rows.front())));
    QCOMPARE(model.rowCount(), 3);
}

void TestFolderWalker::forgettingWalksListAgain()
{
    // A walker told that its walk is the last does not remember the files; what it was given still counts.
    ScanState state;
    std::vector<TrackRecord> rows;
    FolderWalker walker(state, Extensions(), [&](TrackRecord &&r) { rows.push_back(std::move(r)); });
    walker.SetListed({QSet<QByteArray>{platform::FileNameKey(m_root + QStringLiteral("/Artist/Album/01.mp3"))}});
    walker.SetRemembersFiles(false);
    walker.WalkFolder(m_root, true);
    QCOMPARE(rows.size(), std::size_t(5));
    walker.WalkFolder(m_root, true);
    QCOMPARE(rows.size(), std::size_t(10));
    walker.SetRemembersFiles(true);
    walker.WalkFolder(m_root, true);
    walker.WalkFolder(m_root, true);
    QCOMPARE(rows.size(), std::size_t(15));
}

void TestFolderWalker::notRecursingTreatsFoldersAsFiles()
{
    ScanState state;
    std::vector<TrackRecord> rows;
    FolderWalker walker(state, Extensions(), [&](TrackRecord &&r) { rows.push_back(std::move(r)); });
    walker.WalkFolder(m_root, false);
    QVERIFY(Names(rows).contains(QStringLiteral("folder.mp3")));
    QVERIFY(!Names(rows).contains(QStringLiteral("01.mp3")));
    QVERIFY(!Names(rows).contains(QStringLiteral("README")));
}

void TestFolderWalker::stopMidWalkKeepsRows()
{
    QTemporaryDir many;
    for (int d = 0; d < 5; ++d) {
        QDir().mkpath(many.filePath(QString::number(d)));
        for (int f = 0; f < 20; ++f)
            testmp3::WriteFile(many.filePath(QStringLiteral("%1/%2.wav").arg(d).arg(f)), "x");
    }
    ScanState state;
    std::vector<TrackRecord> rows;
    FolderWalker walker(state, Extensions(), [&](TrackRecord &&r) {
        rows.push_back(std::move(r));
        if (rows.size() == 30)
            state.stop.store(1);
    });
    QVERIFY(!walker.WalkFolder(many.path(), true));
    QCOMPARE(rows.size(), std::size_t(30));
}

void TestFolderWalker::rowsAlikeOnAnyNumberOfThreads()
{
    // Tagged files of many sizes in nested folders: the rows, cell for cell and in order, do not depend on how
    // many threads read the tags; a stop with many readers still hands on exactly the rows before it.
    using namespace testmp3;
    QTemporaryDir many;
    for (int d = 0; d < 6; ++d) {
        for (int f = 0; f < 60; ++f) {
            const QString path = many.filePath(QStringLiteral("%1/%2/%3.mp3").arg(d % 2).arg(d).arg(f));
            QDir().mkpath(QFileInfo(path).path());
            WriteFile(path, Tag(Frame("TIT2", Utf16Body(QStringLiteral("Tïtle %1-%2").arg(d).arg(f))) +
                                Frame("TPE1", Latin1Body(QByteArray::number(f % 7)))) +
                                Audio(1 + (f * 7) % 40));
        }
    }
    // A sink that copies the rows leaves them to the readers to free, one that moves them leaves nothing.
    auto walk = [&](int threads, int stopAt, bool copy = false) {
        ScanState state;
        std::vector<TrackRecord> rows;
        FolderWalker walker(state, Extensions(), [&](TrackRecord &&r) {
            if (copy)
                rows.push_back(r);
            else
                rows.push_back(std::move(r));
            if (int(rows.size()) == stopAt)
                state.stop.store(1);
        });
        walker.SetReaderThreads(threads);
        walker.WalkFolder(many.path(), true);
        return rows;
    };
    const std::vector<TrackRecord> one = walk(1, -1);
    QCOMPARE(one.size(), std::size_t(360));
    QVERIFY(std::all_of(one.begin(), one.end(), [](const TrackRecord &r) { return r[Column::Title].startsWith(u"Tïtle"); }));
    for (const int threads : {2, 4, 8}) {
        const std::vector<TrackRecord> all = walk(threads, -1);
        QCOMPARE(all.size(), one.size());
        for (std::size_t i = 0; i < one.size(); ++i)
            QVERIFY2(all[i].cells == one[i].cells, qPrintable(RowFullPath(one[i])));
        const std::vector<TrackRecord> copied = walk(threads, -1, true);
        QCOMPARE(copied.size(), one.size());
        for (std::size_t i = 0; i < one.size(); ++i)
            QVERIFY(copied[i].cells == one[i].cells);
        const std::vector<TrackRecord> stopped = walk(threads, 100);
        QCOMPARE(stopped.size(), std::size_t(100));
        for (std::size_t i = 0; i < stopped.size(); ++i)
            QVERIFY(stopped[i].cells == one[i].cells);
    }
}

void TestFolderWalker::symlinkLoopEnds()
{
    QTemporaryDir loop;
    QDir().mkpath(loop.filePath(QStringLiteral("a/b")));
    testmp3::WriteFile(loop.filePath(QStringLiteral("a/b/x.mp3")), testmp3::Audio(1));
    QVERIFY(QFile::link(loop.filePath(QStringLiteral("a")), loop.filePath(QStringLiteral("a/b/up"))));
    QVERIFY(QFile::link(loop.filePath(QStringLiteral("a/b/x.mp3")), loop.filePath(QStringLiteral("a/linked.mp3"))));
    ScanState state;
    std::vector<TrackRecord> rows;
    FolderWalker walker(state, Extensions(), [&](TrackRecord &&r) { rows.push_back(std::move(r)); });
    QVERIFY(walker.WalkFolder(loop.path(), true));
    QStringList names = Names(rows);
    names.sort();
    QCOMPARE(names, (QStringList{"linked.mp3", "x.mp3"}));   // a link to a file is a file; a link to a folder is not followed
}

void TestFolderWalker::progressTickWraps()
{
    QTemporaryDir many;
    for (int f = 0; f < 150; ++f)
        testmp3::WriteFile(many.filePath(QStringLiteral("%1.txt").arg(f)), "x");
    ScanState state;
    state.progressTick.store(-1);
    FolderWalker walker(state, Extensions(), [](TrackRecord &&) {});
    walker.WalkFolder(many.path(), false);
    QCOMPARE(state.progressTick.load(), 49);   // 150 entries from -1: 0..99, then 0..49
}

void TestFolderWalker::workerDeliversBatchesInWalkOrder()
{
    QTemporaryDir many;
    for (int f = 0; f < 500; ++f)
        testmp3::WriteFile(many.filePath(QStringLiteral("%1.wav").arg(f, 4, 10, QLatin1Char('0'))), "x");
    std::vector<TrackRecord> direct;
    {
        ScanState state;
        FolderWalker walker(state, Extensions(), [&](TrackRecord &&r) { direct.push_back(std::move(r)); });
        walker.WalkFolder(many.path(), false);
    }
    ScanState state;
    state.scanning.store(1);
    ListingWorker worker(state, Extensions(), {}, many.path(), false);
    std::vector<TrackRecord> received;
    connect(&worker, &WalkWorker::RowsReady, this, [&] {
        for (auto &r : worker.TakeRows())
            received.push_back(std::move(r));
    });
    QSignalSpy finished(&worker, &QThread::finished);
    worker.start();
    // The thread may end before a wait() would start listening: poll the spy instead.
    QTRY_VERIFY_WITH_TIMEOUT(!finished.isEmpty(), 10000);
    for (auto &r : worker.TakeRows())
        received.push_back(std::move(r));
    QCOMPARE(Names(received), Names(direct));
    QCOMPARE(state.scanning.load(), 0);
    QCOMPARE(state.progressTick.load(), -1);
}

void TestFolderWalker::workerStopsAndClearsFlags()
{
    ScanState state;
    state.scanning.store(1);
    state.stop.store(1);   // a stale stop request never reaches a new worker
    ListingWorker worker(state, Extensions(), {}, m_root, true);
    worker.start();
    QVERIFY(worker.wait(10000));
    QCOMPARE(worker.TakeRows().size(), std::size_t(6));
    QCOMPARE(state.stop.load(), 0);
    QCOMPARE(state.scanning.load(), 0);
}

void TestFolderWalker::modelKeepsCounterAfterRemovals()
{
    ScanState state;
    std::vector<TrackRecord> rows;
    FolderWalker walker(state, Extensions(), [&](TrackRecord &&r) { rows.push_back(std::move(r)); });
    walker.WalkFolder(m_root, true);
    TrackListModel model;
    model.AppendRows(std::move(rows));
    QCOMPARE(model.RowCounter(), 6);
    const QString removed = model.RowFullPath(1);
    model.RemoveRows({1, 3, 1});
    QCOMPARE(model.rowCount(), 4);
    QCOMPARE(model.RowCounter(), 6);
    QVERIFY(model.AddFile(removed));   // a removed file can be listed again
    QCOMPARE(model.RowCounter(), 7);
    model.Clear();
    QCOMPARE(model.RowCounter(), 0);
}

void TestFolderWalker::acceptedDrives()
{
    using platform::Drive;
    using platform::DriveKind;
    const std::vector<Drive> drives{{"/", "", "", DriveKind::Fixed},
                                    {"/media/stick", "", "", DriveKind::Removable},
                                    {"/media/cd", "", "", DriveKind::CdRom},
                                    {"/net", "", "", DriveKind::Network}};
    auto roots = [](const std::vector<Drive> &list) {
        QStringList out;
        for (const auto &d : list)
            out << d.root;
        return out;
    };
    QCOMPARE(roots(ScanWorker::AcceptedDrives(drives, false, true)), (QStringList{"/", "/media/cd", "/net"}));
    QCOMPARE(roots(ScanWorker::AcceptedDrives(drives, true, false)), (QStringList{"/", "/media/stick", "/net"}));
}

void TestFolderWalker::walksBelowPathMax()
{
    // Forty levels of 120-character names: the deepest paths are longer than the system accepts in one piece.
    QTemporaryDir dir;
    const QByteArray cwd = QDir::currentPath().toUtf8();
    QCOMPARE(::chdir(QFile::encodeName(dir.path()).constData()), 0);
    const QByteArray name(120, 'd');
    for (int i = 0; i < 40; ++i) {
        QCOMPARE(::mkdir(name.constData(), 0755), 0);
        QCOMPARE(::chdir(name.constData()), 0);
    }
    QVERIFY(testmp3::WriteFile(QStringLiteral("deep.mp3"), testmp3::Tag(testmp3::Frame("TIT2", testmp3::Latin1Body("Deep"))) +
                                                                 testmp3::Audio(1)));
    QCOMPARE(::chdir(cwd.constData()), 0);

    ScanState state;
    std::vector<TrackRecord> rows;
    int errors = 0;
    FolderWalker walker(state, Extensions(), [&](TrackRecord &&r) { rows.push_back(std::move(r)); });
    walker.SetErrorSink([&](const QString &, int) { ++errors; });
    QVERIFY(walker.WalkFolder(dir.path(), true));
    QCOMPARE(errors, 0);
    QCOMPARE(rows.size(), std::size_t(1));
    QVERIFY(rows[0][Column::Path].size() > 4096);
    QCOMPARE(rows[0][Column::Title], QStringLiteral("Deep"));
    QProcess::execute(QStringLiteral("rm"), {QStringLiteral("-rf"), dir.path()});
}

QTEST_GUILESS_MAIN(TestFolderWalker)
#include "tst_folderwalker.moc"
