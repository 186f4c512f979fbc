// Other taggers must read what we write, and we must read what they write. Uses Debian's python3-mutagen when
// it is installed; skipped otherwise.

#include "tags/tagfile.h"
#include "testmp3.h"

#include <QtTest>

namespace {

const char kPython[] = "/usr/bin/python3";

bool HaveMutagen()
{
    QProcess p;
    p.start(QString::fromLatin1(kPython), {QStringLiteral("-c"), QStringLiteral("import mutagen")});
    return p.waitForFinished(20000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
}

QByteArray RunPython(const QString &script, const QStringList &args)
{
    QProcess p;
    p.start(QString::fromLatin1(kPython), QStringList{QStringLiteral("-c"), script} + args);
    if (!p.waitForFinished(30000) || p.exitCode() != 0) {
        qWarning("%s", p.readAllStandardError().constData());
        return QByteArray();
    }
    return p.readAllStandardOutput();
}

} // namespace

class TestInterop : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void weReadWhatMutagenWrote_data();
    void weReadWhatMutagenWrote();
    void mutagenReadsWhatWeWrote_data();
    void mutagenReadsWhatWeWrote();
    void oddLayoutsKeepFramesForMutagen();

private:
    QTemporaryDir m_dir;
};

void TestInterop::initTestCase()
{
    if (!HaveMutagen())
        QSKIP("python3-mutagen is not installed");
}

void TestInterop::weReadWhatMutagenWrote_data()
{
    QTest::addColumn<int>("version");
    QTest::addColumn<int>("encoding");   // mutagen's: 0 Latin-1, 1 UTF-16, 3 UTF-8
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("genreText");
    QTest::addColumn<int>("genre");
    QTest::newRow("v2.3 Latin-1") << 3 << 0 << QStringLiteral("Café crème") << QStringLiteral("(17)Rock") << 17;
    QTest::newRow("v2.3 UTF-16") << 3 << 1 << QStringLiteral("Ночь 夜 ✓") << QStringLiteral("Jazz") << 8;
    QTest::newRow("v2.4 UTF-8") << 4 << 3 << QStringLiteral("Ωmega — “quoted”") << QStringLiteral("Dance Hall") << 125;
    QTest::newRow("v2.4 UTF-16") << 4 << 1 << QStringLiteral("Łódź") << QStringLiteral("32") << 32;
}

void TestInterop::weReadWhatMutagenWrote()
{
    QFETCH(int, version);
    QFETCH(int, encoding);
    QFETCH(QString, title);
    QFETCH(QString, genreText);
    QFETCH(int, genre);
    const QString path = m_dir.filePath(QStringLiteral("m%1%2.mp3").arg(version).arg(encoding));
    QVERIFY(testmp3::WriteFile(path, testmp3::Audio(4)));
    const QString script = QStringLiteral(
        "import sys\n"
        "from mutagen.id3 import ID3, TIT2, TPE1, TALB, TDRC, TRCK, COMM, TCON\n"
        "p, v, e, title, genre = sys.argv[1], int(sys.argv[2]), int(sys.argv[3]), sys.argv[4], sys.argv[5]\n"
        "t = ID3()\n"
        "t.add(TIT2(encoding=e, text=title))\n"
        "t.add(TPE1(encoding=e, text=title + ' artist'))\n"
        "t.add(TALB(encoding=e, text='Album'))\n"
        "t.add(TDRC(encoding=0, text='2001'))\n"
        "t.add(TRCK(encoding=0, text='4/9'))\n"
        "t.add(COMM(encoding=0, lang='eng', desc='iTunNORM', text='00 11'))\n"
        "t.add(COMM(encoding=e, lang='eng', desc='', text=title + ' note'))\n"
        "t.add(TCON(encoding=0, text=genre))\n"
        "t.save(p, v2_version=v)\n");
    RunPython(script, {path, QString::number(version), QString::number(encoding), title, genreText});
    TagFile tag;
    QVERIFY(tag.Open(path));
    QCOMPARE(tag.title, title);
    QCOMPARE(tag.artist, title + QStringLiteral(" artist"));
    QCOMPARE(tag.album, QStringLiteral("Album"));
    QCOMPARE(tag.year, QStringLiteral("2001"));
    QCOMPARE(tag.track, QStringLiteral("4/9"));
    QCOMPARE(tag.comment, title + QStringLiteral(" note"));
    QCOMPARE(tag.genre, genre);
}

void TestInterop::mutagenReadsWhatWeWrote_data()
{
    QTest::addColumn<QByteArray>("start");   // the file before we write
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("genre");
    QTest::addColumn<QString>("genreName");
    const QByteArray audio = testmp3::Audio(4);
    QTest::newRow("untagged, Latin-1") << audio << QStringLiteral("Bäume") << 17 << QStringLiteral("Rock");
    QTest::newRow("untagged, Unicode") << audio << QStringLiteral("Дождь 雨") << 8 << QStringLiteral("Jazz");
    QTest::newRow("v2.4 tag") << testmp3::Tag(testmp3::Frame("TIT2", testmp3::Latin1Body("x"), 4), 4) + audio
                              << QStringLiteral("Ünïcödé ✓") << 32 << QStringLiteral("Classical");
}

void TestInterop::mutagenReadsWhatWeWrote()
{
    QFETCH(QByteArray, start);
    QFETCH(QString, text);
    QFETCH(int, genre);
    QFETCH(QString, genreName);
    const QString path = m_dir.filePath(QStringLiteral("ours.mp3"));
    QFile::remove(path);
    QVERIFY(testmp3::WriteFile(path, start));
    TagFile tag;
    QVERIFY(tag.Open(path));
    tag.title = text;
    tag.artist = text + QStringLiteral("!");
    tag.album = QStringLiteral("LP");
    tag.year = QStringLiteral("1999");
    tag.SetTrack(QStringLiteral("7"));
    tag.comment = text + QStringLiteral(" c");
    tag.genre = genre;
    QVERIFY(tag.Write());

    const QString script = QStringLiteral(
        "import sys, json\n"
        "from mutagen.id3 import ID3\n"
        "t = ID3(sys.argv[1])\n"
        "c = [f.text[0] for f in t.getall('COMM') if f.desc == '']\n"
        "print(json.dumps({'title': str(t['TIT2']), 'artist': str(t['TPE1']), 'album': str(t['TALB']),\n"
        "  'year': str(t['TDRC']), 'track': str(t['TRCK']), 'comment': c[0] if c else '',\n"
        "  'genre': t['TCON'].genres[0], 'version': t.version[1]}))\n");
    const QJsonObject seen = QJsonDocument::fromJson(RunPython(script, {path})).object();
    QCOMPARE(seen.value(QLatin1String("title")).toString(), text);
    QCOMPARE(seen.value(QLatin1String("artist")).toString(), text + QStringLiteral("!"));
    QCOMPARE(seen.value(QLatin1String("album")).toString(), QStringLiteral("LP"));
    QCOMPARE(seen.value(QLatin1String("year")).toString(), QStringLiteral("1999"));
    QCOMPARE(seen.value(QLatin1String("track")).toString(), QStringLiteral("7"));
    QCOMPARE(seen.value(QLatin1String("comment")).toString(), text + QStringLiteral(" c"));
    QCOMPARE(seen.value(QLatin1String("genre")).toString(), genreName);
    QCOMPARE(seen.value(QLatin1String("version")).toInt(), start.startsWith("ID3\x04") ? 4 : 3);
}

void TestInterop::oddLayoutsKeepFramesForMutagen()
{
    // Mutagen sees every frame of these damaged-looking tags unchanged after we write the title (content
    // compared through a digest of each frame).
    const QString script = QStringLiteral(
        "import sys, hashlib, mutagen.id3\n"
        "t = mutagen.id3.ID3(sys.argv[1])\n"
        "for k in sorted(t.keys()):\n"
        "    print(k, hashlib.sha1(repr(t[k]).encode()).hexdigest() if k != 'TIT2' else str(t[k]))\n");
    for (const char *name : {"ext-flag-without-header", "v23-extended-header", "v24-unsynchronised", "zero-size-frame"}) {
        const QString path = m_dir.filePath(QString::fromLatin1(name) + QStringLiteral(".mp3"));
        QVERIFY(testmp3::WriteFile(path, testmp3::ReadFile(QStringLiteral(TEST_DATA_DIR "/write-integrity/") +
                                                          QString::fromLatin1(name) + QStringLiteral(".mp3"))));
        const QByteArray before = RunPython(script, {path});
        QVERIFY(before.contains("TIT2 Old title"));
        TagFile tag;
        QVERIFY(tag.Open(path));
        tag.title = QStringLiteral("New title");
        QVERIFY(tag.Write());
        QByteArray expected = before;
        expected.replace("TIT2 Old title", "TIT2 New title");
        QCOMPARE(RunPython(script, {path}), expected);
    }
}

QTEST_GUILESS_MAIN(TestInterop)
#include "tst_interop.moc"
