// A tag write must never damage the song: not when the disk fills up, not when the process dies half-way.

#include "tags/tagfile.h"
#include "platform/fileio.h"
#include "testmp3.h"

#include <QtTest>

#include <QThread>

#include <atomic>
#include <csignal>
#include <sys/resource.h>

using namespace testmp3;

class TestSafeWrite : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void fullDiskLeavesFileAsItWas();
    void killedWriterLeavesOldOrNewFile();
    void readingWhileAnotherThreadWrites();
    void batchFlushFailureIsAFailure();
};

void TestSafeWrite::fullDiskLeavesFileAsItWas()
{
    // A file-size limit makes every write past it fail with EFBIG, as a full disk fails with ENOSPC.
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("song.mp3"));
    const QByteArray bytes = Tag(Frame("TIT2", Latin1Body("old"))) + Audio(200) + V1("old", "", "", "", "", 0, 255);
    QVERIFY(WriteFile(path, bytes));

    struct rlimit saved{};
    ::getrlimit(RLIMIT_FSIZE, &saved);
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit limit = saved;
    limit.rlim_cur = rlim_t(bytes.size() / 2);
    QCOMPARE(::setrlimit(RLIMIT_FSIZE, &limit), 0);

    TagFile tag;
    QVERIFY(tag.Open(path));
    tag.title = QString(4000, QLatin1Char('n'));
    QString error;
    const bool written = tag.Write(&error);
    ::setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, oldHandler);

    QVERIFY(!written);
    QVERIFY2(error.contains(QLatin1String("song.mp3")), qPrintable(error));
    QCOMPARE(ReadFile(path), bytes);
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{QStringLiteral("song.mp3")});
}

void TestSafeWrite::killedWriterLeavesOldOrNewFile()
{
    // A large song whose tag must grow, so every write copies the audio; the writer is killed at varying moments.
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("big.mp3"));
    const QByteArray audio = Audio(60000, 3);   // about 25 MB
    const QByteArray original = Tag(Frame("TIT2", Latin1Body("old"))) + audio;
    const QString newTitle = QString(3000, QLatin1Char('k'));
    int sawOld = 0, sawNew = 0;
    for (int round = 0; round < 12; ++round) {
        QVERIFY(WriteFile(path, original));
        QProcess writer;
        writer.start(QStringLiteral(CLI_PATH), {QStringLiteral("set"), QStringLiteral("--title"), newTitle, path});
        QVERIFY(writer.waitForStarted());
        QTest::qSleep(5 + round * 9);
        ::kill(pid_t(writer.processId()), SIGKILL);
        writer.waitForFinished();

        const QByteArray now = ReadFile(path);
        QCOMPARE(AudioOf(now), audio);
        TagFile tag;
        QVERIFY(tag.Open(path));
        if (tag.title == QLatin1String("old"))
            ++sawOld;
        else if (tag.title == newTitle)
            ++sawNew;
        else
            QFAIL("the file is neither the old nor the new one");
    }
    qInfo("killed writes left %d old and %d new files", sawOld, sawNew);
}

void TestSafeWrite::readingWhileAnotherThreadWrites()
{
    // A listing reads tags on its own thread while the window writes other files; nothing is shared.
    QTemporaryDir dir;
    QStringList readPaths, writePaths;
    for (int i = 0; i < 40; ++i) {
        readPaths << dir.filePath(QStringLiteral("r%1.mp3").arg(i));
        writePaths << dir.filePath(QStringLiteral("w%1.mp3").arg(i));
        const QByteArray bytes = Tag(Frame("TIT2", Utf16Body(QStringLiteral("Тема %1").arg(i))) + Frame("TCON", Latin1Body("(17)Rock"))) + Audio(2);
        QVERIFY(WriteFile(readPaths.last(), bytes));
        QVERIFY(WriteFile(writePaths.last(), bytes));
    }
    std::atomic<int> mismatches{0};
    std::atomic<bool> done{false};
    QThread *reader = QThread::create([&] {
        while (!done.load()) {
            for (int i = 0; i < readPaths.size(); ++i) {
                TagFile tag;
                if (!tag.Open(readPaths[i]) || tag.title != QStringLiteral("Тема %1").arg(i) || tag.genre != 17)
                    ++mismatches;
            }
        }
    });
    reader->start();
    for (int round = 0; round < 5; ++round) {
        for (int i = 0; i < writePaths.size(); ++i) {
            TagFile tag;
            QVERIFY(tag.Open(writePaths[i]));
            tag.title = QStringLiteral("Round %1 ✓").arg(round);
            tag.genre = round;
            QVERIFY(tag.Write());
        }
    }
    done = true;
    reader->wait();
    delete reader;
    QCOMPARE(mismatches.load(), 0);
    TagFile last;
    QVERIFY(last.Open(writePaths.first()));
    QCOMPARE(last.title, QStringLiteral("Round 4 ✓"));
}

void TestSafeWrite::batchFlushFailureIsAFailure()
{
    // A batch flushes its files once, at the end of each group; when that flush fails (a write-back error
    // reaches us there, like EIO from a dying disk), no file of the group is reported written. Outside a batch a
    // write flushes its own file and never runs the batch flush.
    QTemporaryDir dir;
    static std::atomic<int> flushes{0};
    static std::atomic<int> answer{0};
    platform::FlushBatch::SetFlushForTests([](int) {
        ++flushes;
        return answer.load();
    });
    const auto restore = qScopeGuard([] { platform::FlushBatch::SetFlushForTests(nullptr); });
    std::vector<TagFile> tags(70);   // two groups: 64 and 6
    QList<TagFile *> files;
    for (std::size_t i = 0; i < tags.size(); ++i) {
        const QString path = dir.filePath(QStringLiteral("%1.mp3").arg(i));
        QVERIFY(WriteFile(path, Tag(Frame("TIT2", Latin1Body("old")), 3, 256) + Audio(2)));
        QVERIFY(tags[i].Open(path));
        tags[i].title = QStringLiteral("new");
        files.append(&tags[i]);
    }
    answer = EIO;
    QStringList failures;
    int written = 0;
    TagFile::WriteAll(files, [&](TagFile &, bool ok, const QString &error) {
        written += ok ? 1 : 0;
        if (!ok)
            failures.append(error);
    });
    QCOMPARE(flushes.load(), 2);   // once a group, not once a file
    QCOMPARE(written, 0);
    QCOMPARE(failures.size(), 70);
    QVERIFY2(failures[0].contains(QLatin1String("may not have reached the disk")) &&
                 failures[0].contains(QLatin1String("0.mp3")),
             qPrintable(failures[0]));
    TagFile reread;
    QVERIFY(reread.Open(dir.filePath(QStringLiteral("69.mp3"))));
    QCOMPARE(reread.title, QStringLiteral("new"));   // the bytes were written; only their durability is in doubt

    // A flush that works: every file reported written, still one flush a group.
    flushes = 0;
    answer = 0;
    for (TagFile &tag : tags) {
        QVERIFY(tag.Open(tag.path));
        tag.title = QStringLiteral("newer");
    }
    // A group is flushed while the next is prepared, but the next is written only once that flush is over, and
    // no file is reported before its own group's flush.
    static QString laterFile;
    static std::atomic<bool> laterWrittenDuringFlush{false};
    laterFile = tags[69].path;
    platform::FlushBatch::SetFlushForTests([](int) {
        if (++flushes == 1) {
            QThread::msleep(100);
            TagFile later;
            laterWrittenDuringFlush = !later.Open(laterFile) || later.title != QStringLiteral("new");
        }
        return answer.load();
    });
    written = 0;
    int flushedWhenReported = 0;
    TagFile::WriteAll(files, [&](TagFile &file, bool ok, const QString &) {
        written += ok ? 1 : 0;
        if (&file == files[0])
            flushedWhenReported = flushes.load();
    });
    QCOMPARE(written, 70);
    QCOMPARE(flushes.load(), 2);
    QCOMPARE(flushedWhenReported, 1);
    QVERIFY(!laterWrittenDuringFlush.load());

    // A single write outside a batch flushes its own file.
    flushes = 0;
    tags[0].title = QStringLiteral("single");
    QVERIFY(tags[0].Write());
    QCOMPARE(flushes.load(), 0);
}

QTEST_GUILESS_MAIN(TestSafeWrite)
#include "tst_safewrite.moc"
