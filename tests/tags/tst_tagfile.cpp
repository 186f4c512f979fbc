#include "tags/genretable.h"
#include "tags/tagfile.h"
#include "testmp3.h"

#include <QtTest>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace testmp3;

namespace {

QString DataDir()
{
    const QByteArray overridden = qgetenv("TUNEGROVE_TEST_DATA");
    return overridden.isEmpty() ? QStringLiteral(TEST_DATA_DIR) : QString::fromLocal8Bit(overridden);
}

qint64 MTimeNs(const QString &path)
{
    struct stat st{};
    ::stat(path.toUtf8().constData(), &st);
    return qint64(st.st_mtim.tv_sec) * 1000000000LL + st.st_mtim.tv_nsec;
}

void SetMTime(const QString &path, qint64 seconds)
{
    const timespec times[2] = {{time_t(seconds), 0}, {time_t(seconds), 0}};
    ::utimensat(AT_FDCWD, path.toUtf8().constData(), times, 0);
}

mode_t ModeOf(const QString &path)
{
    struct stat st{};
    ::lstat(path.toUtf8().constData(), &st);
    return st.st_mode;
}

bool Privileged() { return ::geteuid() == 0; }

} // namespace

class TestTagFile : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init();

    void genreForms_data();
    void genreForms();
    void yearIsTheTextAsStored();
    void setTrackRules_data();
    void setTrackRules();
    void trackWrites_data();
    void trackWrites();

    void readsEveryTextEncoding();
    void writesLatin1WhenItCanAndUnicodeOtherwise();
    void shownCommentPrefersEmptyDescription();
    void fieldsMissingFromId3v2ComeFromId3v1();
    void oddFilesShowWhatOtherReadersShow_data();
    void oddFilesShowWhatOtherReadersShow();
    void charactersBeyondTheBmpAreWrittenWhole();
    void changingCommentReplacesOnlyTheShownFrame();
    void editOneFieldKeepsEveryOtherFrame();
    void untouchedFieldsKeepTheirFrames();
    void unchangedWriteTouchesNothing();

    void untaggedFileOpensEmptyAndGetsBothTags();
    void v1OnlyFileReadsV1AndGainsV2();
    void sizeTextIsKibibytes();
    void clearingEveryFieldKeepsTheTag();
    void removeTagsKeepsAudio();

    void growingTagRewritesFileKeepingAudioAndMode();
    void readOnlyFileStaysReadOnlyWithOldTime();
    void writableFileGetsNewTime();
    void symlinkStaysALink();
    void hardLinkedFileIsNotSplit();
    void damagedTagSizeIsNotWritten();

    void unreadableFileIsNeverWritten();
    void fileWithoutPermission();
    void folderWithoutWriteAccess();

    void malformedFilesNeitherCrashNorHang_data();
    void malformedFilesNeitherCrashNorHang();

private:
    QString Make(const QString &name, const QByteArray &bytes);
    QTemporaryDir m_dir;
};

void TestTagFile::init() { QVERIFY(m_dir.isValid()); }

QString TestTagFile::Make(const QString &name, const QByteArray &bytes)
{
    const QString path = m_dir.filePath(name);
    QFile::remove(path);
    if (!WriteFile(path, bytes))
        qFatal("cannot write %s", qPrintable(path));
    return path;
}

void TestTagFile::genreForms_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("major");
    QTest::addColumn<int>("genre");
    QTest::addColumn<QString>("name");   // what the Genre cell shows
    QTest::newRow("(n)") << "(17)" << 3 << 17 << QStringLiteral("Rock");
    QTest::newRow("(n)Name") << "(17)Rock" << 3 << 17 << QStringLiteral("Rock");
    QTest::newRow("(n)other name") << "(9)Heavy" << 3 << 9 << QStringLiteral("Metal");
    QTest::newRow("plain number") << "17" << 3 << 17 << QStringLiteral("Rock");
    QTest::newRow("plain name") << "Rock" << 3 << 17 << QStringLiteral("Rock");
    QTest::newRow("name any case") << "rOCK & rOLL" << 3 << 78 << QStringLiteral("Rock & Roll");
    QTest::newRow("J-Pop") << "J-Pop" << 4 << -1 << QStringLiteral("J-Pop");
    QTest::newRow("unknown name") << "Vaporwave" << 3 << -1 << QStringLiteral("Vaporwave");
    QTest::newRow("(255)") << "(255)" << 3 << -1 << QStringLiteral("");
    QTest::newRow("(130)") << "(130)" << 3 << -1 << QStringLiteral("");
    QTest::newRow("(125)") << "(125)" << 3 << 125 << GenreTable::NameOf(125);
    QTest::newRow("126") << "126" << 4 << -1 << QStringLiteral("");
    QTest::newRow("v2.4 number") << "8" << 4 << 8 << QStringLiteral("Jazz");
    QTest::newRow("v2.4 name") << "Jazz" << 4 << 8 << QStringLiteral("Jazz");
    QTest::newRow("standard spelling") << "Psychedelic" << 4 << 67 << QStringLiteral("Psychadelic");
}

void TestTagFile::genreForms()
{
    QFETCH(QString, text);
    QFETCH(int, major);
    QFETCH(int, genre);
    QFETCH(QString, name);
    const QString path = Make("g.mp3", Tag(Frame("TCON", Latin1Body(text), major), major) + Audio(3));
    TagFile tag;
    QVERIFY(tag.Open(path));
    QCOMPARE(tag.genre, genre);
    QCOMPARE(tag.GenreName(), name);

    // An unmapped genre text stays in the file when another field changes.
    tag.title = QStringLiteral("x");
    QVERIFY(tag.Write());
    const auto frames = Frames(ReadFile(path));
    QCOMPARE(frames.first().second, Frame("TCON", Latin1Body(text), major));
}

void TestTagFile::yearIsTheTextAsStored()
{
    // v2.3 keeps date and time in frames of their own: the year shows alone. ID3v1 shows its four characters.
    TagFile tag;
    QVERIFY(tag.Open(Make("y3.mp3", Tag(Frame("TYER", Latin1Body("2001")) + Frame("TDAT", Latin1Body("0305")) +
                                        Frame("TIME", Latin1Body("1230"))) + Audio(2))));
    QCOMPARE(tag.year, QStringLiteral("2001"));
    QVERIFY(tag.Open(Make("y4.mp3", Tag(Frame("TDRC", Latin1Body("2001-05-03"), 4), 4) + Audio(2))));
    QCOMPARE(tag.year, QStringLiteral("2001-05-03"));
    const QString v1 = Make("y1.mp3", Audio(2) + V1("t", "", "", "199x", "", 0, 255));
    QVERIFY(tag.Open(v1));
    QCOMPARE(tag.year, QStringLiteral("199x"));
    tag.title = QStringLiteral("u");   // another field changes: the year stays as it was
    QVERIFY(tag.Write());
    QVERIFY(tag.Open(v1));
    QCOMPARE(tag.year, QStringLiteral("199x"));
}

void TestTagFile::setTrackRules_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("stored");
    QTest::newRow("7") << "7" << "7";
    QTest::newRow("07") << "07" << "07";
    QTest::newRow("3/12") << "3/12" << "3/12";
    QTest::newRow("empty") << "" << "";
    QTest::newRow("abc") << "abc" << "abc";
    QTest::newRow("4096") << "4096" << "4096";
    QTest::newRow("-3") << "-3" << "";
    QTest::newRow("5000") << "5000" << "";
    QTest::newRow("4097") << "4097" << "";
    QTest::newRow("huge") << "99999999999999999999999" << "";
}

void TestTagFile::setTrackRules()
{
    QFETCH(QString, text);
    QFETCH(QString, stored);
    TagFile tag;
    tag.SetTrack(text);
    QCOMPARE(tag.track, stored);
}

void TestTagFile::trackWrites_data()
{
    QTest::addColumn<QString>("entered");
    QTest::addColumn<QByteArray>("frame");   // TRCK text in the file, empty: no frame
    QTest::newRow("number and total") << "5/12" << QByteArray("5/12");
    QTest::newRow("blanks around the slash") << " 05 / 12 " << QByteArray("5/12");
    QTest::newRow("total zero") << "5/0" << QByteArray("5");
    QTest::newRow("total not a number") << "5/x" << QByteArray("5");
    QTest::newRow("two slashes") << "5/12/1" << QByteArray("5");
    QTest::newRow("above 255") << "300" << QByteArray("300");
    QTest::newRow("4096") << "4096" << QByteArray("4096");
    QTest::newRow("zero") << "0" << QByteArray();
    QTest::newRow("text") << "abc" << QByteArray();
    QTest::newRow("cleared") << "" << QByteArray();
}

void TestTagFile::trackWrites()
{
    QFETCH(QString, entered);
    QFETCH(QByteArray, frame);
    const QString path = Make("t.mp3", Tag(Frame("TRCK", Latin1Body("3/12"))) + Audio(3));
    TagFile tag;
    QVERIFY(tag.Open(path));
    QCOMPARE(tag.track, QStringLiteral("3/12"));
    tag.SetTrack(entered);
    QVERIFY(tag.Write());
    const auto frames = Frames(ReadFile(path));
    QByteArray written;
    for (const auto &f : frames) {
        if (f.first == "TRCK")
            written = f.second.mid(11);
    }
    QCOMPARE(written, frame);
}

void TestTagFile::readsEveryTextEncoding()
{
    const QString title = QStringLiteral("Ärger über Straße");
    const QString artist = QStringLiteral("Жанна 中文 ✓");
    const QString v23 = Make("v23.mp3", Tag(Frame("TIT2", Latin1Body(title)) + Frame("TPE1", Utf16Body(artist))) + Audio(2));
    const QString v24 = Make("v24.mp3", Tag(Frame("TIT2", Utf8Body(artist), 4) + Frame("TDRC", Utf8Body("2004"), 4), 4) + Audio(2));
    TagFile tag;
    QVERIFY(tag.Open(v23));
    QCOMPARE(tag.title, title);
    QCOMPARE(tag.artist, artist);
    QVERIFY(tag.Open(v24));
    QCOMPARE(tag.title, artist);
    QCOMPARE(tag.year, QStringLiteral("2004"));
}

void TestTagFile::writesLatin1WhenItCanAndUnicodeOtherwise()
{
    const QString path = Make("enc.mp3", Tag(Frame("TIT2", Latin1Body("a"))) + Audio(2));
    TagFile tag;
    QVERIFY(tag.Open(path));
    tag.title = QStringLiteral("Café");
    tag.artist = QStringLiteral("Пётр");
    QVERIFY(tag.Write());
    QByteArray tit2, tpe1;
    for (const auto &f : Frames(ReadFile(path))) {
        if (f.first == "TIT2") tit2 = f.second;
        if (f.first == "TPE1") tpe1 = f.second;
    }
    QCOMPARE(tit2, Frame("TIT2", Latin1Body(QStringLiteral("Café"))));
    QCOMPARE(int(tpe1[10]), 1);   // UTF-16 in a v2.3 tag
    TagFile back;
    QVERIFY(back.Open(path));
    QCOMPARE(back.title, QStringLiteral("Café"));
    QCOMPARE(back.artist, QStringLiteral("Пётр"));

    // In a v2.4 tag non-Latin-1 text goes as UTF-8.
    const QString v24 = Make("enc4.mp3", Tag(Frame("TIT2", Latin1Body("a"), 4), 4) + Audio(2));
    QVERIFY(tag.Open(v24));
    tag.artist = QStringLiteral("Пётр");
    QVERIFY(tag.Write());
    for (const auto &f : Frames(ReadFile(v24))) {
        if (f.first == "TPE1")
            QCOMPARE(f.second, Frame("TPE1", Utf8Body(QStringLiteral("Пётр")), 4));
    }
}

void TestTagFile::shownCommentPrefersEmptyDescription()
{
    const QByteArray described = Frame("COMM", CommentBody("iTunNORM", "0000 1111"));
    const QByteArray plain = Frame("COMM", CommentBody("", "hello"));
    TagFile tag;
    QVERIFY(tag.Open(Make("c1.mp3", Tag(described + plain) + Audio(2))));
    QCOMPARE(tag.comment, QStringLiteral("hello"));
    // A player's private comments are never the comment: it reads empty, a new one goes beside them, a
    // tidying leaves them alone, and clearing the comment leaves it empty (the private one is not shown then).
    const QString c2 = Make("c2.mp3", Tag(described + Frame("COMM", CommentBody("iTunSMPB", " 00000000 00000210"))) + Audio(2));
    QVERIFY(tag.Open(c2));
    QCOMPARE(tag.comment, QString());
    tag.Normalize();
    QVERIFY(tag.Write());
    QCOMPARE(Frames(ReadFile(c2)).size(), 2);
    tag.comment = QStringLiteral("mine");
    QVERIFY(tag.Write());
    auto frames = Frames(ReadFile(c2));
    QCOMPARE(frames.size(), 3);
    QCOMPARE(frames[0].second, described);
    QVERIFY(tag.Open(c2));
    QCOMPARE(tag.comment, QStringLiteral("mine"));
    tag.comment.clear();
    QVERIFY(tag.Write());
    QVERIFY(tag.Open(c2));
    QCOMPARE(tag.comment, QString());
    frames = Frames(ReadFile(c2));
    QCOMPARE(frames.size(), 2);
    QCOMPARE(frames[0].second, described);
}

void TestTagFile::fieldsMissingFromId3v2ComeFromId3v1()
{
    // Both tags: the ID3v2 one holds the title only. The other fields show from the ID3v1 tag, field by field,
    // and clearing one clears it there too (it no longer shows); a field that both hold shows the ID3v2 text.
    const QString path = Make("both.mp3", Tag(Frame("TIT2", Latin1Body("Long v2 title"))) + Audio(2) +
                                              V1("v1 title", "v1 artist", "v1 album", "1999", "v1 comment", 7, 8));
    TagFile tag;
    QVERIFY(tag.Open(path));
    QCOMPARE(tag.title, QStringLiteral("Long v2 title"));
    QCOMPARE(tag.artist, QStringLiteral("v1 artist"));
    QCOMPARE(tag.album, QStringLiteral("v1 album"));
    QCOMPARE(tag.year, QStringLiteral("1999"));
    QCOMPARE(tag.track, QStringLiteral("7"));
    QCOMPARE(tag.comment, QStringLiteral("v1 comment"));
    QCOMPARE(tag.genre, 8);
    tag.album.clear();
    QString error;
    QVERIFY2(tag.Write(&error), qPrintable(error));
    QVERIFY(tag.Open(path));
    QCOMPARE(tag.album, QString());
    QCOMPARE(tag.artist, QStringLiteral("v1 artist"));
    QVERIFY(!ReadFile(path).right(128).contains("v1 album"));
}

void TestTagFile::oddFilesShowWhatOtherReadersShow_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<QStringList>("shown");   // title, artist, album, year, comment, genre
    QTest::newRow("iTunes comments only") << "itunes-comments-only.mp3" << QStringList{"Song", "", "", "", "", ""};
    QTest::newRow("genre not in the table") << "genre-text-not-in-table.mp3" << QStringList{"Song", "", "", "", "", "Silence"};
    QTest::newRow("fields only in ID3v1")
        << "fields-only-in-v1.mp3" << QStringList{"Long v2 title", "v1 artist", "v1 album", "1999", "v1 comment", "Jazz"};
    QTest::newRow("year of a lone BOM") << "year-lone-bom.mp3" << QStringList{"Song", "", "", "", "", ""};
    QTest::newRow("two artists") << "two-artists-v24.mp3" << QStringList{"Song", "piman; jzig", "", "", "", ""};
    QTest::newRow("empty frame first")
        << "zero-size-tenc-first.mp3" << QStringList{"Hidden title", "Hidden artist", "", "", "", ""};
}

void TestTagFile::oddFilesShowWhatOtherReadersShow()
{
    // Regression files of tags other readers read differently; each then takes a write of another field that
    // leaves what it shows as it was.
    QFETCH(QString, file);
    QFETCH(QStringList, shown);
    const QString path = Make(file, ReadFile(DataDir() + QStringLiteral("/malformed/") + file));
    TagFile tag;
    QVERIFY(tag.Open(path));
    const auto fields = [](const TagFile &t) {
        return QStringList{t.title, t.artist, t.album, t.year, t.comment, t.GenreName()};
    };
    QCOMPARE(fields(tag), shown);
    tag.track = QStringLiteral("5");
    QString error;
    QVERIFY2(tag.Write(&error), qPrintable(error));
    QVERIFY(tag.Open(path));
    QCOMPARE(fields(tag), shown);
    QCOMPARE(tag.track, QStringLiteral("5"));
}

void TestTagFile::charactersBeyondTheBmpAreWrittenWhole()
{
    // Emoji and musical symbols: surrogate pairs in v2.3's UTF-16, UTF-8 in v2.4; they read back as written.
    const QString text = QStringLiteral("x\U0001F600y\U0001D11E");
    for (const int major : {3, 4}) {
        const QString path = Make(major == 3 ? "emoji3.mp3" : "emoji4.mp3", Tag(Frame("TIT2", Latin1Body("a"), major), major) + Audio(2));
        TagFile tag;
        QVERIFY(tag.Open(path));
        tag.title = text;
        tag.comment = text;
        QString error;
        QVERIFY2(tag.Write(&error), qPrintable(error));
        QVERIFY(tag.Open(path));
        QCOMPARE(tag.title, text);
        QCOMPARE(tag.comment, text);
        for (const auto &f : Frames(ReadFile(path))) {
            if (f.first == "TIT2")
                QCOMPARE(f.second, Frame("TIT2", major == 3 ? Utf16Body(text) : Utf8Body(text), major));
        }
    }
}

void TestTagFile::changingCommentReplacesOnlyTheShownFrame()
{
    const QByteArray described = Frame("COMM", CommentBody("iTunNORM", "0000 1111"));
    const QByteArray plain = Frame("COMM", CommentBody("", "hello", "deu"));
    const QString path = Make("c.mp3", Tag(described + plain) + Audio(2));
    TagFile tag;
    QVERIFY(tag.Open(path));
    tag.comment = QStringLiteral("new words");
    QString error;
    QVERIFY2(tag.Write(&error), qPrintable(error));
    auto frames = Frames(ReadFile(path));
    QCOMPARE(frames.size(), 2);
    QCOMPARE(frames[0].second, described);
    QCOMPARE(frames[1].second, Frame("COMM", CommentBody("", "new words", "deu")));   // keeps its language

    tag.comment.clear();
    QVERIFY2(tag.Write(&error), qPrintable(error));
    frames = Frames(ReadFile(path));
    QCOMPARE(frames.size(), 1);
    QCOMPARE(frames[0].second, described);
}

void TestTagFile::editOneFieldKeepsEveryOtherFrame()
{
    // A v2.4 file with cover art, TXXX and UTF-8 texts written by another tagger.
    const QByteArray original = ReadFile(DataDir() + QStringLiteral("/malformed/v24-utf8-with-cover.mp3"));
    QVERIFY(!original.isEmpty());
    const QString path = Make("cover.mp3", original);
    TagFile tag;
    QVERIFY(tag.Open(path));
    QCOMPARE(tag.title, QStringLiteral("Tïtle"));
    QCOMPARE(tag.genre, 17);
    tag.album = QStringLiteral("Another Album");
    QVERIFY(tag.Write());

    const QByteArray after = ReadFile(path);
    QCOMPARE(int(after[3]), 4);
    QCOMPARE(after.size(), original.size());   // the tag had room: written in place
    QCOMPARE(AudioOf(after), AudioOf(original));
    const auto before = Frames(original);
    const auto now = Frames(after);
    QCOMPARE(now.size(), before.size());
    for (const auto &frame : before) {
        if (frame.first == "TALB")
            continue;
        QVERIFY2(now.contains(frame), frame.first.constData());
    }
    QVERIFY(now.contains(qMakePair(QByteArray("TALB"), Frame("TALB", Latin1Body("Another Album"), 4))));
}

void TestTagFile::untouchedFieldsKeepTheirFrames()
{
    // Frames TagLib would rewrite or drop when re-rendering a v2.3 tag.
    const QByteArray keep = Frame("TYER", Latin1Body("99")) + Frame("TDAT", Latin1Body("0101")) +
                            Frame("RVAD", QByteArray::fromHex("03100000")) + Frame("TCON", Latin1Body("(17)Rock")) +
                            Frame("TPE2", Latin1Body("Band")) + Frame("TCOM", Latin1Body("Composer")) +
                            Frame("TXXX", QByteArray("\0key\0value", 10));
    const QString path = Make("keep.mp3", Tag(Frame("TPE1", Latin1Body("Old")) + keep, 3, 200) + Audio(2));
    TagFile tag;
    QVERIFY(tag.Open(path));
    QCOMPARE(tag.year, QStringLiteral("99"));
    tag.artist = QStringLiteral("New");
    QVERIFY(tag.Write());
    const auto frames = Frames(ReadFile(path));
    QByteArray rest;
    for (const auto &f : frames) {
        if (f.first != "TPE1")
            rest += f.second;
    }
    QCOMPARE(rest, keep);
    QVERIFY(frames.contains(qMakePair(QByteArray("TPE1"), Frame("TPE1", Latin1Body("New")))));
}

void TestTagFile::unchangedWriteTouchesNothing()
{
    const QByteArray bytes = Tag(Frame("TIT2", Latin1Body("Same"))) + Audio(2) + V1("Same", "", "", "", "", 0, 255);
    const QString path = Make("same.mp3", bytes);
    SetMTime(path, 1000000000);
    const qint64 before = MTimeNs(path);
    TagFile tag;
    QVERIFY(tag.Open(path));
    tag.title = QStringLiteral("Same");
    QVERIFY(tag.Write());
    QCOMPARE(ReadFile(path), bytes);
    QCOMPARE(MTimeNs(path), before);
}

void TestTagFile::untaggedFileOpensEmptyAndGetsBothTags()
{
    const QByteArray audio = Audio(4);
    const QString path = Make("plain.mp3", audio);
    TagFile tag;
    QVERIFY(tag.Open(path));
    QVERIFY(tag.IsEmpty());
    QCOMPARE(tag.sizeText, QString());
    QCOMPARE(tag.genre, -1);
    QVERIFY(tag.Write());   // nothing to write
    QCOMPARE(ReadFile(path), audio);

    tag.title = QStringLiteral("Fresh");
    tag.genre = 17;
    tag.SetTrack(QStringLiteral("4"));
    QVERIFY(tag.Write());
    const QByteArray after = ReadFile(path);
    QVERIFY(after.startsWith("ID3\x03"));
    QCOMPARE(after.right(128).left(8), QByteArray("TAGFresh"));
    QCOMPARE(uchar(after[after.size() - 2]), uchar(4));
    QCOMPARE(uchar(after[after.size() - 1]), uchar(17));
    QCOMPARE(AudioOf(after), audio);
    TagFile back;
    QVERIFY(back.Open(path));
    QCOMPARE(back.title, QStringLiteral("Fresh"));
    QCOMPARE(back.GenreName(), QStringLiteral("Rock"));
    QCOMPARE(back.track, QStringLiteral("4"));
}

void TestTagFile::v1OnlyFileReadsV1AndGainsV2()
{
    const QString path = Make("v1.mp3", Audio(3) + V1("Song", "Singer", "Record", "1987", "Note", 5, 13));
    TagFile tag;
    QVERIFY(tag.Open(path));
    QCOMPARE(tag.title, QStringLiteral("Song"));
    QCOMPARE(tag.artist, QStringLiteral("Singer"));
    QCOMPARE(tag.album, QStringLiteral("Record"));
    QCOMPARE(tag.year, QStringLiteral("1987"));
    QCOMPARE(tag.comment, QStringLiteral("Note"));
    QCOMPARE(tag.track, QStringLiteral("5"));
    QCOMPARE(tag.GenreName(), QStringLiteral("Pop"));
    tag.artist = QStringLiteral("Somebody");
    QVERIFY(tag.Write());
    const QByteArray after = ReadFile(path);
    QVERIFY(after.startsWith("ID3"));
    QCOMPARE(AudioOf(after), Audio(3));
    QCOMPARE(after.right(128), V1("Song", "Somebody", "Record", "1987", "Note", 5, 13));
    TagFile back;
    QVERIFY(back.Open(path));
    QCOMPARE(back.title, QStringLiteral("Song"));   // carried into the new ID3v2 tag
    QCOMPARE(back.artist, QStringLiteral("Somebody"));
    QCOMPARE(back.genre, 13);
}

void TestTagFile::sizeTextIsKibibytes()
{
    TagFile tag;
    QVERIFY(tag.Open(Make("s1.mp3", QByteArray(1500 - 128, 'x') + V1("a", "", "", "", "", 0, 255))));
    QCOMPARE(tag.sizeText, QStringLiteral("1"));
    QVERIFY(tag.Open(Make("s0.mp3", QByteArray(900 - 128, 'x') + V1("a", "", "", "", "", 0, 255))));
    QCOMPARE(tag.sizeText, QStringLiteral("0"));
}

void TestTagFile::clearingEveryFieldKeepsTheTag()
{
    const QString path = Make("clear.mp3", Tag(Frame("TIT2", Latin1Body("T")) + Frame("TPE2", Latin1Body("B")), 3, 64) + Audio(2));
    TagFile tag;
    QVERIFY(tag.Open(path));
    tag.title.clear();
    QVERIFY(!tag.IsEmpty());   // the size text keeps it from counting as empty
    QVERIFY(tag.Write());
    const auto frames = Frames(ReadFile(path));
    QCOMPARE(frames.size(), 1);
    QCOMPARE(frames[0].first, QByteArray("TPE2"));
}

void TestTagFile::removeTagsKeepsAudio()
{
    const QString path = Make("rm.mp3", Tag(Frame("TIT2", Latin1Body("T"))) + Audio(5) + V1("T", "", "", "", "", 0, 255));
    TagFile tag;
    QVERIFY(tag.Open(path));
    QVERIFY(tag.RemoveTags());
    QCOMPARE(ReadFile(path), Audio(5));
}

void TestTagFile::growingTagRewritesFileKeepingAudioAndMode()
{
    const QByteArray audio = Audio(50, 7);
    const QString path = Make("grow.mp3", Tag(Frame("TIT2", Latin1Body("a"))) + audio);
    ::chmod(path.toUtf8().constData(), 0640);
    TagFile tag;
    QVERIFY(tag.Open(path));
    tag.title = QString(3000, QLatin1Char('L'));
    tag.comment = QStringLiteral("comment");
    QVERIFY(tag.Write());
    const QByteArray after = ReadFile(path);
    QCOMPARE(AudioOf(after), audio);
    QCOMPARE(ModeOf(path) & 07777, mode_t(0640));
    QCOMPARE(QDir(m_dir.path()).entryList(QStringList{QStringLiteral(".grow*")}, QDir::Hidden | QDir::Files), QStringList());
    TagFile back;
    QVERIFY(back.Open(path));
    QCOMPARE(back.title.size(), 3000);

    // There is room now: a second edit is made in place.
    const qsizetype size = after.size();
    back.title = QStringLiteral("short");
    QVERIFY(back.Write());
    QCOMPARE(ReadFile(path).size(), size);
}

void TestTagFile::readOnlyFileStaysReadOnlyWithOldTime()
{
    for (const bool grows : {false, true}) {
        const QString path = Make("ro.mp3", Tag(Frame("TIT2", Latin1Body("a")), 3, 100) + Audio(2));
        SetMTime(path, 1000000000);
        ::chmod(path.toUtf8().constData(), 0444);
        const qint64 before = MTimeNs(path);
        TagFile tag;
        QVERIFY(tag.Open(path));
        tag.title = grows ? QString(500, QLatin1Char('x')) : QStringLiteral("b");
        QString error;
        QVERIFY2(tag.Write(&error), qPrintable(error));
        QCOMPARE(ModeOf(path) & 07777, mode_t(0444));
        QCOMPARE(MTimeNs(path), before);
        TagFile back;
        QVERIFY(back.Open(path));
        QCOMPARE(back.title, tag.title);
        ::chmod(path.toUtf8().constData(), 0644);
    }
}

void TestTagFile::writableFileGetsNewTime()
{
    const QString path = Make("rw.mp3", Tag(Frame("TIT2", Latin1Body("a")), 3, 100) + Audio(2));
    SetMTime(path, 1000000000);
    TagFile tag;
    QVERIFY(tag.Open(path));
    tag.title = QStringLiteral("b");
    QVERIFY(tag.Write());
    QVERIFY(MTimeNs(path) > qint64(1000000000) * 1000000000LL);
}

void TestTagFile::symlinkStaysALink()
{
    const QString target = Make("real.mp3", Tag(Frame("TIT2", Latin1Body("a"))) + Audio(2));
    const QString link = m_dir.filePath(QStringLiteral("link.mp3"));
    QFile::remove(link);
    QVERIFY(QFile::link(target, link));
    TagFile tag;
    QVERIFY(tag.Open(link));
    tag.title = QString(2000, QLatin1Char('y'));   // forces a rewrite
    QVERIFY(tag.Write());
    QVERIFY(S_ISLNK(ModeOf(link)));
    TagFile back;
    QVERIFY(back.Open(target));
    QCOMPARE(back.title.size(), 2000);
}

void TestTagFile::hardLinkedFileIsNotSplit()
{
    const QString path = Make("hard.mp3", Tag(Frame("TIT2", Latin1Body("a")), 3, 50) + Audio(2));
    const QString other = m_dir.filePath(QStringLiteral("hard2.mp3"));
    QFile::remove(other);
    QVERIFY(::link(path.toUtf8().constData(), other.toUtf8().constData()) == 0);
    TagFile tag;
    QVERIFY(tag.Open(path));
    tag.title = QStringLiteral("fits");
    QVERIFY(tag.Write());   // in place: both names see it
    TagFile viaOther;
    QVERIFY(viaOther.Open(other));
    QCOMPARE(viaOther.title, QStringLiteral("fits"));

    const QByteArray before = ReadFile(path);
    tag.title = QString(500, QLatin1Char('z'));
    QString error;
    QVERIFY(!tag.Write(&error));
    QVERIFY(error.contains(QLatin1String("hard links")));
    QCOMPARE(ReadFile(path), before);
    QCOMPARE(ReadFile(other), before);
}

void TestTagFile::damagedTagSizeIsNotWritten()
{
    // The header claims a tag far longer than the file: everything after it would count as tag.
    QByteArray bytes = Tag(Frame("TIT2", Latin1Body("a"))) + Audio(2);
    bytes.replace(6, 4, Synchsafe(1000000));
    const QString path = Make("huge.mp3", bytes);
    TagFile tag;
    QVERIFY(tag.Open(path));
    tag.title = QStringLiteral("b");
    QString error;
    QVERIFY(!tag.Write(&error));
    QVERIFY(!error.isEmpty());
    QVERIFY(!tag.RemoveTags());
    QCOMPARE(ReadFile(path), bytes);
}

void TestTagFile::unreadableFileIsNeverWritten()
{
    TagFile tag;
    QVERIFY(!tag.Open(m_dir.filePath(QStringLiteral("missing.mp3"))));
    QVERIFY(tag.ReadError().contains(QLatin1String("missing.mp3")));
    QVERIFY(tag.IsEmpty());
    tag.title = QStringLiteral("x");
    QString error;
    QVERIFY(!tag.Write(&error));
    QVERIFY(!error.isEmpty());
    QVERIFY(!QFile::exists(m_dir.filePath(QStringLiteral("missing.mp3"))));

    QVERIFY(!tag.Open(m_dir.path()));   // a folder is not a file
    QVERIFY(!tag.RemoveTags());
}

void TestTagFile::fileWithoutPermission()
{
    if (Privileged())
        QSKIP("mode bits do not stop root; the unprivileged run covers this");
    const QByteArray bytes = Tag(Frame("TIT2", Latin1Body("a"))) + Audio(2) + V1("a", "", "", "", "", 0, 255);
    const QString path = Make("locked.mp3", bytes);
    ::chmod(path.toUtf8().constData(), 0);
    TagFile tag;
    QVERIFY(!tag.Open(path));
    QVERIFY(tag.ReadError().contains(QLatin1String("Permission denied")));
    QVERIFY(!tag.RemoveTags());
    tag.title = QStringLiteral("x");
    QVERIFY(!tag.Write());
    ::chmod(path.toUtf8().constData(), 0644);
    QCOMPARE(ReadFile(path), bytes);
}

void TestTagFile::folderWithoutWriteAccess()
{
    if (Privileged())
        QSKIP("mode bits do not stop root; the unprivileged run covers this");
    QTemporaryDir locked;
    const QString path = locked.filePath(QStringLiteral("song.mp3"));
    const QByteArray bytes = Tag(Frame("TIT2", Latin1Body("a")), 3, 40) + Audio(2);
    QVERIFY(WriteFile(path, bytes));
    ::chmod(locked.path().toUtf8().constData(), 0555);
    TagFile tag;
    QVERIFY(tag.Open(path));
    tag.title = QStringLiteral("fits in place");
    QVERIFY(tag.Write());
    tag.title = QString(400, QLatin1Char('w'));   // needs a new file in the folder
    QString error;
    QVERIFY(!tag.Write(&error));
    QVERIFY(error.contains(QLatin1String("Permission denied")));
    TagFile back;
    QVERIFY(back.Open(path));
    QCOMPARE(back.title, QStringLiteral("fits in place"));
    ::chmod(locked.path().toUtf8().constData(), 0755);
}

void TestTagFile::malformedFilesNeitherCrashNorHang_data()
{
    QTest::addColumn<QString>("file");
    const QStringList files = QDir(DataDir() + QStringLiteral("/malformed")).entryList(QDir::Files);
    if (files.isEmpty())
        QTest::newRow("no data") << QString();
    for (const QString &f : files)
        QTest::newRow(qPrintable(f)) << f;
}

void TestTagFile::malformedFilesNeitherCrashNorHang()
{
    QFETCH(QString, file);
    QVERIFY2(!file.isEmpty(), "test data missing");
    const QByteArray original = ReadFile(DataDir() + QStringLiteral("/malformed/") + file);
    const QString path = Make(file, original);
    QElapsedTimer timer;
    timer.start();
    TagFile tag;
    QVERIFY(tag.Open(path));
    tag.title = QStringLiteral("Replaced");
    QString error;
    const bool written = tag.Write(&error);
    QVERIFY(timer.elapsed() < 5000);
    if (!written) {
        QVERIFY(!error.isEmpty());
        QCOMPARE(ReadFile(path), original);
        return;
    }
    TagFile back;
    QVERIFY(back.Open(path));
    QCOMPARE(back.title, QStringLiteral("Replaced"));
    // Whatever the old tag held, the bytes after it are still there.
    QCOMPARE(AudioOf(ReadFile(path)), AudioOf(original));
}

QTEST_GUILESS_MAIN(TestTagFile)
#include "tst_tagfile.moc"
