// Writes that used to report success and lose data: odd tag layouts, other containers, concurrent writers,
// files that change during a write, system limits and names that are not UTF-8.

#include "platform/names.h"
#include "tags/id3raw.h"
#include "tags/tagfile.h"
#include "testmp3.h"

#include <QtTest>

#include <QRandomGenerator>
#include <QThread>

#include <atomic>
#include <csignal>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace testmp3;

namespace {

QString DataDir()
{
    const QByteArray overridden = qgetenv("TUNEGROVE_TEST_DATA");
    return overridden.isEmpty() ? QStringLiteral(TEST_DATA_DIR) : QString::fromLocal8Bit(overridden);
}

struct Shown
{
    QString title, artist, album, year, track, comment;
    int genre = -1;
    bool operator==(const Shown &o) const
    {
        return title == o.title && artist == o.artist && album == o.album && year == o.year && track == o.track &&
               comment == o.comment && genre == o.genre;
    }
};

Shown Fields(const TagFile &t) { return Shown{t.title, t.artist, t.album, t.year, t.track, t.comment, t.genre}; }

// Runs `body` in a child process (for limits that must not touch the test itself); returns its exit code,
// or 128 + the signal that killed it.
template <typename Body> int InChild(Body body)
{
    const pid_t pid = ::fork();
    if (pid == 0)
        ::_exit(body());
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

QStringList Entries(const QString &dir)
{
    return QDir(dir).entryList(QDir::Files | QDir::Hidden | QDir::System, QDir::Name);
}

} // namespace

class TestWriteIntegrity : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void oddLayoutsKeepEveryField_data();
    void oddLayoutsKeepEveryField();
    void otherContainersAreNeverTagged();
    void foreignContainersNamedMp3AreNamed();
    void framesBehindAnEmptyFrameAreRead();
    void id3v22FramesSurviveTheUpgrade();
    void concurrentWritersLoseNothing();
    void bytesAppendedDuringAWriteSurvive();
    void largeTagsAreCopiedSmallOnesWrittenInPlace();
    void fileSizeLimitIsAnOrdinaryFailure();
    void longNameCanGrowItsTag();
    void hugeDeclaredTagIsNotRead();
    void namesRoundTripAsBytes();

private:
    QTemporaryDir m_dir;
};

void TestWriteIntegrity::oddLayoutsKeepEveryField_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<QString>("artist");
    for (const char *name : {"ext-flag-without-header", "v23-extended-header", "v24-unsynchronised", "zero-size-frame"})
        QTest::newRow(name) << QString::fromLatin1(name) + QStringLiteral(".mp3")
                            << (QByteArray(name) == "v24-unsynchronised" ? QStringLiteral("Artíst ★")
                                                                         : QStringLiteral("The Artist"));
}

void TestWriteIntegrity::oddLayoutsKeepEveryField()
{
    QFETCH(QString, file);
    QFETCH(QString, artist);
    const QByteArray original = ReadFile(DataDir() + QStringLiteral("/write-integrity/") + file);
    QVERIFY(!original.isEmpty());
    const QString path = m_dir.filePath(file);
    QVERIFY(WriteFile(path, original));

    TagFile tag;
    QVERIFY(tag.Open(path));
    QCOMPARE(tag.title, QStringLiteral("Old title"));
    QCOMPARE(tag.artist, artist);
    Shown expected = Fields(tag);
    tag.title = QStringLiteral("A new and rather longer title than before");
    QString error;
    QVERIFY2(tag.Write(&error), qPrintable(error));
    expected.title = tag.title;

    TagFile reread;
    QVERIFY(reread.Open(path));
    QVERIFY(Fields(reread) == expected);
    QCOMPARE(AudioOf(ReadFile(path)), AudioOf(original));
    // Once more: the rewritten tag is itself written faithfully.
    reread.album = QStringLiteral("Second");
    QVERIFY2(reread.Write(&error), qPrintable(error));
    expected.album = reread.album;
    QVERIFY(tag.Open(path));
    QVERIFY(Fields(tag) == expected);
}

void TestWriteIntegrity::otherContainersAreNeverTagged()
{
    const QByteArray riff = QByteArray("RIFF") + BigEndian(100) + "WAVEfmt " + QByteArray(100, '\1');
    const QByteArray flac = QByteArray("fLaC") + QByteArray(200, '\2');
    const QByteArray ogg = QByteArray("OggS") + QByteArray(200, '\3');
    const QByteArray mp4 = QByteArray("\0\0\0\x20", 4) + "ftypM4A " + QByteArray(200, '\4');
    for (const auto &[name, bytes, format] :
         {std::tuple{"song.wav", riff, "RIFF"}, std::tuple{"really-wav.mp3", riff, "RIFF"},
          std::tuple{"song.flac", flac, "FLAC"}, std::tuple{"really-ogg.mp3", ogg, "Ogg"},
          std::tuple{"really-mp4.mp3", mp4, "MP4"},
          std::tuple{"tagged-flac.mp3", Tag(Frame("TIT2", Latin1Body("t"))) + flac, "FLAC"},
          std::tuple{"dsf.mp3", QByteArray("DSD ") + QByteArray(200, '\5'), "DSF"},
          std::tuple{"tak.mp3", QByteArray("tBaK") + QByteArray(200, '\6'), "TAK"},
          std::tuple{"ac3.mp3", QByteArray("\x0B\x77") + QByteArray(200, '\7'), "AC-3"}}) {
        const QString path = m_dir.filePath(QString::fromLatin1(name));
        QVERIFY(WriteFile(path, bytes));
        TagFile tag;
        QVERIFY(tag.Open(path));
        tag.artist = QStringLiteral("Nina");
        QString error;
        QVERIFY2(!tag.Write(&error), name);
        QVERIFY2(error.contains(QLatin1String(format)), qPrintable(error));
        QVERIFY(!tag.RemoveTags(&error));
        QCOMPARE(ReadFile(path), bytes);
    }
    // An empty file holds no audio to tag; bytes of no known kind neither, with or without a tag in front.
    for (const QByteArray &bytes : {QByteArray(), QByteArray(5000, 'q'), Tag(Frame("TIT2", Latin1Body("x"))) + QByteArray(5000, '\x11'),
                                    QByteArray(3000, '\0') + QByteArray::fromHex("fffb9064") + QByteArray(300, 'j')}) {
        const QString path = m_dir.filePath(QStringLiteral("nothing.mp3"));
        QVERIFY(WriteFile(path, bytes));
        TagFile tag;
        QVERIFY(tag.Open(path));
        tag.artist = QStringLiteral("Nina");
        QString error;
        QVERIFY(!tag.Write(&error));
        QVERIFY2(error.contains(QLatin1String("MPEG audio")), qPrintable(error));
        QCOMPARE(ReadFile(path), bytes);
    }
    // MPEG frames are tagged: right at the start, after junk (two frames in a row), or behind a tag.
    for (const QByteArray &bytes : {Audio(3), QByteArray(1000, '\0') + Audio(2), Tag(Frame("TIT2", Latin1Body("x"))) + Audio(1)}) {
        const QString path = m_dir.filePath(QStringLiteral("plain.mp3"));
        QVERIFY(WriteFile(path, bytes));
        TagFile tag;
        QVERIFY(tag.Open(path));
        tag.artist = QStringLiteral("Nina");
        QVERIFY(tag.Write());
        QVERIFY(tag.Open(path));
        QCOMPARE(tag.artist, QStringLiteral("Nina"));
    }
}

void TestWriteIntegrity::foreignContainersNamedMp3AreNamed()
{
    // Other containers under an .mp3 name, kept as regression files: never tagged, and the message names them.
    const QMap<QString, QString> kinds{{"dsf-named-mp3.mp3", "DSF"},         {"dsdiff-named-mp3.mp3", "DSDIFF"},
                                       {"tak-named-mp3.mp3", "TAK"},         {"optimfrog-named-mp3.mp3", "OptimFROG"},
                                       {"musepack7-named-mp3.mp3", "Musepack"}, {"trueaudio-named-mp3.mp3", "TrueAudio"},
                                       {"ac3-named-mp3.mp3", "AC-3"}};
    for (auto it = kinds.cbegin(); it != kinds.cend(); ++it) {
        const QByteArray original = ReadFile(DataDir() + QStringLiteral("/malformed/") + it.key());
        QVERIFY2(!original.isEmpty(), qPrintable(it.key()));
        const QString path = m_dir.filePath(it.key());
        QVERIFY(WriteFile(path, original));
        TagFile tag;
        QVERIFY(tag.Open(path));
        tag.title = QStringLiteral("x");
        QString error;
        QVERIFY(!tag.Write(&error));
        QVERIFY2(error.contains(it.value()), qPrintable(error));
        QCOMPARE(ReadFile(path), original);
    }
}

void TestWriteIntegrity::framesBehindAnEmptyFrameAreRead()
{
    // A TENC of size 0 first in the tag: TagLib stops there and showed every field empty, and a new title then
    // went in beside the old one. The frames behind it are read as other readers read them, and a write leaves
    // one title (and the empty frame out).
    const QByteArray original = ReadFile(DataDir() + QStringLiteral("/malformed/zero-size-tenc-first.mp3"));
    QVERIFY(!original.isEmpty());
    const QString path = m_dir.filePath(QStringLiteral("empty-frame-first.mp3"));
    QVERIFY(WriteFile(path, original));
    TagFile tag;
    QVERIFY(tag.Open(path));
    QCOMPARE(tag.title, QStringLiteral("Hidden title"));
    QCOMPARE(tag.artist, QStringLiteral("Hidden artist"));
    tag.title = QStringLiteral("New title");
    QString error;
    QVERIFY2(tag.Write(&error), qPrintable(error));
    int titles = 0;
    for (const auto &frame : Frames(ReadFile(path))) {
        titles += frame.first == "TIT2" ? 1 : 0;
        QVERIFY(frame.first != "TENC");
    }
    QCOMPARE(titles, 1);
    QVERIFY(tag.Open(path));
    QCOMPARE(tag.title, QStringLiteral("New title"));
    QCOMPARE(tag.artist, QStringLiteral("Hidden artist"));
    QCOMPARE(AudioOf(ReadFile(path)), AudioOf(original));
    // What lies in a part readers do not see is found past empty frames, so a write never adds a second copy.
    QCOMPARE(id3::FrameIdsIn(QByteArray("TENC\0\0\0\0\0\0TIT2\0\0\0\2\0\0\0a", 22), 3), (QList<QByteArray>{"TENC", "TIT2"}));
}

namespace {

QByteArray V22Frame(const char *id, const QByteArray &body)
{
    const int n = int(body.size());
    return QByteArray(id, 3) + char(n >> 16) + char((n >> 8) & 0xFF) + char(n & 0xFF) + body;
}

QByteArray V22Tag(const QByteArray &frames)
{
    const QByteArray body = frames + QByteArray(64, '\0');
    return QByteArray("ID3\x02\x00\x00", 6) + Synchsafe(quint32(body.size())) + body;
}

} // namespace

void TestWriteIntegrity::id3v22FramesSurviveTheUpgrade()
{
    // TagLib upgrades a v2.2 tag to v2.3 and dropped the date, the time and the volume adjustment on any write.
    // They are converted (TDA -> TDAT, TIM -> TIME, RVA -> RVAD), and a frame with no v2.3 form stops the write.
    const QByteArray rva = QByteArray::fromHex("0310") + QByteArray::fromHex("0102030400000000");
    const QByteArray frames = V22Frame("TT2", QByteArray("\0Old title", 10)) + V22Frame("TYE", QByteArray("\0" "1999", 5)) +
                              V22Frame("TDA", QByteArray("\0" "3112", 5)) + V22Frame("TIM", QByteArray("\0" "2359", 5)) +
                              V22Frame("RVA", rva) + V22Frame("COM", QByteArray("\0eng\0a comment", 15)) +
                              V22Frame("PIC", QByteArray("\0PNG\3\0", 6) + QByteArray(300, '\x42'));
    const QString path = m_dir.filePath(QStringLiteral("v22.mp3"));
    QVERIFY(WriteFile(path, V22Tag(frames) + Audio(3)));
    TagFile tag;
    QVERIFY(tag.Open(path));
    QCOMPARE(tag.title, QStringLiteral("Old title"));
    QCOMPARE(tag.year, QStringLiteral("1999"));
    tag.album = QStringLiteral("New album");
    QString error;
    QVERIFY2(tag.Write(&error), qPrintable(error));
    QMap<QByteArray, QByteArray> written;
    for (const auto &frame : Frames(ReadFile(path)))
        written[frame.first] = frame.second.mid(10);
    QCOMPARE(uchar(ReadFile(path)[3]), uchar(3));
    QCOMPARE(written.value("TDAT"), QByteArray("\0" "3112", 5));
    QCOMPARE(written.value("TIME"), QByteArray("\0" "2359", 5));
    QCOMPARE(written.value("RVAD"), rva);
    QVERIFY(written.contains("APIC") && written.contains("COMM") && written.contains("TYER") && written.contains("TIT2"));
    QVERIFY(tag.Open(path));
    QCOMPARE(tag.album, QStringLiteral("New album"));
    QCOMPARE(tag.comment, QStringLiteral("a comment"));
    // A frame v2.3 has no place for (CRM: encrypted metadata) is never lost silently.
    const QString crm = m_dir.filePath(QStringLiteral("v22-crm.mp3"));
    const QByteArray withCrm = V22Tag(frames + V22Frame("CRM", QByteArray("owner\0explanation\0data", 24))) + Audio(3);
    QVERIFY(WriteFile(crm, withCrm));
    QVERIFY(tag.Open(crm));
    tag.album = QStringLiteral("x");
    QVERIFY(!tag.Write(&error));
    QVERIFY2(error.contains(QLatin1String("CRM")), qPrintable(error));
    QCOMPARE(ReadFile(crm), withCrm);
}

void TestWriteIntegrity::concurrentWritersLoseNothing()
{
    // Two processes change different fields of one file at once, many times over: both changes arrive, or one
    // process says it failed; the audio is never damaged.
    const QString path = m_dir.filePath(QStringLiteral("shared.mp3"));
    const QByteArray audio = Audio(2000, 5);
    int both = 0;
    for (int round = 0; round < 25; ++round) {
        QVERIFY(WriteFile(path, Tag(Frame("TIT2", Latin1Body("t"))) + audio));
        QProcess a, b;
        a.start(QStringLiteral(CLI_PATH), {QStringLiteral("set"), QStringLiteral("--title"), QString(3000, QLatin1Char('T')), path});
        b.start(QStringLiteral(CLI_PATH), {QStringLiteral("set"), QStringLiteral("--artist"), QString(3000, QLatin1Char('A')), path});
        QVERIFY(a.waitForFinished(30000) && b.waitForFinished(30000));
        const QByteArray now = ReadFile(path);
        QCOMPARE(AudioOf(now), audio);
        TagFile tag;
        QVERIFY(tag.Open(path));
        QCOMPARE(tag.title == QString(3000, QLatin1Char('T')), a.exitCode() == 0);
        QCOMPARE(tag.artist == QString(3000, QLatin1Char('A')), b.exitCode() == 0);
        both += a.exitCode() == 0 && b.exitCode() == 0;
    }
    QVERIFY(both > 0);
}

void TestWriteIntegrity::bytesAppendedDuringAWriteSurvive()
{
    // A download still in progress: bytes arrive while the tag grows and the audio is copied.
    const QString path = m_dir.filePath(QStringLiteral("growing.mp3"));
    const QByteArray start = Tag(Frame("TIT2", Latin1Body("t"))) + Audio(60000, 2);
    const QByteArray more(200000, '\x55');
    QVERIFY(WriteFile(path, start));
    std::atomic<bool> appended{false};
    QThread *downloader = QThread::create([&] {
        // Append as soon as the writer's temporary file shows up, that is, in the middle of its copy.
        for (int i = 0; i < 5000 && !appended; ++i) {
            for (const QString &name : Entries(m_dir.path())) {
                if (name.startsWith(QLatin1String(".tg"))) {
                    QFile file(path);
                    if (file.open(QIODevice::Append) && file.write(more) == more.size())
                        appended = true;
                    break;
                }
            }
            QThread::usleep(100);
        }
    });
    downloader->start();
    TagFile tag;
    QVERIFY(tag.Open(path));
    tag.title = QString(5000, QLatin1Char('x'));
    QString error;
    const bool written = tag.Write(&error);
    downloader->wait();
    delete downloader;
    QVERIFY(appended);
    QVERIFY2(!written, "the write must notice the appended bytes");
    QVERIFY2(error.contains(QLatin1String("changed")), qPrintable(error));
    QCOMPARE(ReadFile(path), start + more);
    QVERIFY(!Entries(m_dir.path()).join(QLatin1Char(' ')).contains(QLatin1String(".tg")));
}

void TestWriteIntegrity::largeTagsAreCopiedSmallOnesWrittenInPlace()
{
    // In place only when each tag is one write of at most 64 KiB, so a killed writer cannot tear a tag.
    auto inode = [](const QString &p) {
        struct stat st{};
        ::stat(QFile::encodeName(p).constData(), &st);
        return st.st_ino;
    };
    const QString small = m_dir.filePath(QStringLiteral("small.mp3"));
    QVERIFY(WriteFile(small, Tag(Frame("TIT2", Latin1Body("t")), 3, 2000) + Audio(10)));
    const QString large = m_dir.filePath(QStringLiteral("large.mp3"));
    const QByteArray cover = Frame("APIC", QByteArray("\0image/jpeg\0\3\0", 14) + QByteArray(100000, '\x7f'));
    QVERIFY(WriteFile(large, Tag(Frame("TIT2", Latin1Body("t")) + cover, 3, 2000) + Audio(10)));
    for (const auto &[path, inPlace] : {std::pair{small, true}, std::pair{large, false}}) {
        const auto before = inode(path);
        const qint64 size = QFileInfo(path).size();
        TagFile tag;
        QVERIFY(tag.Open(path));
        tag.title = QStringLiteral("u");
        QVERIFY(tag.Write());
        QCOMPARE(QFileInfo(path).size(), size);   // the tag fit its old space either way
        QCOMPARE(inode(path) == before, inPlace);
    }
}

void TestWriteIntegrity::fileSizeLimitIsAnOrdinaryFailure()
{
    const QString path = m_dir.filePath(QStringLiteral("limited.mp3"));
    const QByteArray bytes = Tag(Frame("TIT2", Latin1Body("old"))) + Audio(400);
    QVERIFY(WriteFile(path, bytes));
    // The child keeps the default SIGXFSZ action, which would kill it; the writer must not let it.
    const int code = InChild([&] {
        std::signal(SIGXFSZ, SIG_DFL);
        struct rlimit limit{};
        limit.rlim_cur = limit.rlim_max = rlim_t(bytes.size() / 2);
        ::setrlimit(RLIMIT_FSIZE, &limit);
        TagFile tag;
        if (!tag.Open(path))
            return 2;
        tag.title = QString(4000, QLatin1Char('n'));
        QString error;
        return !tag.Write(&error) && error.contains(QLatin1String("File too large")) ? 0 : 3;
    });
    QCOMPARE(code, 0);
    QCOMPARE(ReadFile(path), bytes);
    QCOMPARE(Entries(m_dir.path()).filter(QStringLiteral(".tg")), QStringList());
}

void TestWriteIntegrity::longNameCanGrowItsTag()
{
    const QString path = m_dir.filePath(QString(251, QLatin1Char('n')) + QStringLiteral(".mp3"));   // 255 bytes
    QVERIFY(WriteFile(path, Tag(Frame("TIT2", Latin1Body("t"))) + Audio(5)));
    TagFile tag;
    QVERIFY(tag.Open(path));
    tag.comment = QString(5000, QLatin1Char('c'));
    QString error;
    QVERIFY2(tag.Write(&error), qPrintable(error));
    QVERIFY(tag.Open(path));
    QCOMPARE(tag.comment.size(), 5000);
}

void TestWriteIntegrity::hugeDeclaredTagIsNotRead()
{
    // A sparse 2 GB file whose header announces a 256 MB tag, read under a 600 MB address-space limit.
    const QString path = m_dir.filePath(QStringLiteral("sparse.mp3"));
    {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(QByteArray("ID3\3\0\0", 6) + Synchsafe((256u << 20) - 1) + Frame("TIT2", Latin1Body("t")));
        QVERIFY(file.resize(qint64(2) << 30));
    }
    const int code = InChild([&] {
        struct rlimit limit{};
        limit.rlim_cur = limit.rlim_max = rlim_t(600) << 20;
        ::setrlimit(RLIMIT_AS, &limit);
        TagFile tag;
        if (!tag.Open(path))
            return 2;
        if (!tag.title.isEmpty() || tag.ReadError().isEmpty())
            return 4;
        tag.title = QStringLiteral("x");
        QString error;
        return !tag.Write(&error) && error.contains(QLatin1String("64 MiB")) ? 0 : 3;
    });
    QCOMPARE(code, 0);
    QFile::remove(path);
}

void TestWriteIntegrity::namesRoundTripAsBytes()
{
    // Every byte string decodes to a text that encodes back to it, and different bytes never meet.
    QSet<QString> seen;
    for (int i = 0; i < 3000; ++i) {
        QByteArray bytes(QRandomGenerator::global()->bounded(1, 12), '\0');
        for (char &c : bytes)
            c = char(QRandomGenerator::global()->bounded(1, 256));
        const QString name = platform::DecodeName(bytes);
        QCOMPARE(platform::EncodeName(name), bytes);
    }
    QCOMPARE(platform::DecodeName(QByteArray("Caf\xc3\xa9")), QStringLiteral("Café"));
    QVERIFY(platform::DecodeName(QByteArray("Caf\xe9")) != platform::DecodeName(QByteArray("Caf\xe8")));

    // Two Latin-1 names are two files, each with its own tag.
    for (const auto &[name, title] : {std::pair{"Caf\xe9.mp3", "first"}, std::pair{"Caf\xe8.mp3", "second"}}) {
        const QByteArray native = QFile::encodeName(m_dir.path()) + '/' + name;
        const QByteArray bytes = Tag(Frame("TIT2", Latin1Body(QString::fromLatin1(title)))) + Audio(2);
        const int fd = ::open(native.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        QVERIFY(fd >= 0);
        QCOMPARE(::write(fd, bytes.constData(), size_t(bytes.size())), ssize_t(bytes.size()));
        ::close(fd);
        TagFile tag;
        QVERIFY(tag.Open(platform::DecodeName(native)));
        QCOMPARE(tag.title, QString::fromLatin1(title));
        tag.artist = QStringLiteral("Nina");
        QVERIFY(tag.Write());
        ::unlink(native.constData());   // QTemporaryDir cannot name it
    }
}

QTEST_GUILESS_MAIN(TestWriteIntegrity)
#include "tst_writeintegrity.moc"
