#include "tags/picture.h"
#include "tags/tagfile.h"
#include "testmp3.h"

#include <QtTest>

#include <sys/stat.h>

using namespace testmp3;

namespace {

QString DataDir() { return QStringLiteral(TEST_DATA_DIR); }

// Signatures are all a picture's type is told by; the rest need not be a decodable image here.
const QByteArray kPng = testmp3::PngImage(20, '\xff');
const QByteArray kJpeg = testmp3::JpegImage(3000);

// An APIC body: Latin-1, MIME type, picture type, empty description.
QByteArray PictureBody(const char *mime, int type, const QByteArray &data, const char *description = "")
{
    return QByteArray(1, '\0') + mime + '\0' + char(type) + description + '\0' + data;
}

QList<QByteArray> Ids(const QByteArray &file)
{
    QList<QByteArray> ids;
    for (const auto &frame : Frames(file))
        ids.append(frame.first);
    return ids;
}

} // namespace

class TestCover : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init() { QVERIFY(m_dir.isValid()); }
    void picturesAreToldByTheirBytes();
    void loadPictureRefusesWhatIsNoCover();
    void setReplaceRemoveKeepOtherPictures_data();
    void setReplaceRemoveKeepOtherPictures();
    void coverAloneOnAnUntaggedFile();
    void coverChangesGoWithTheWriteTheyBelongTo();
    void otherTaggersCoversAreRead();
    void pictureWeCannotLookIntoStopsTheWrite();
    void freeGenreTextIsWritten();
    void frameReadPastItsEndStaysAsItWasRead();

private:
    QString Make(const QString &name, const QByteArray &bytes)
    {
        const QString path = m_dir.filePath(name);
        QFile::remove(path);
        if (!WriteFile(path, bytes))
            qFatal("cannot write %s", qPrintable(path));
        return path;
    }
    QTemporaryDir m_dir;
};

void TestCover::picturesAreToldByTheirBytes()
{
    QCOMPARE(ImageMimeType(kPng), QStringLiteral("image/png"));
    QCOMPARE(ImageMimeType(kJpeg), QStringLiteral("image/jpeg"));
    QCOMPARE(ImageMimeType(QByteArray("GIF89a....")), QString());
    QCOMPARE(ImageMimeType(QByteArray("\x89PNG", 4)), QString());   // cut short
    QCOMPARE(ImageMimeType(QByteArray()), QString());
    QCOMPARE(PictureExtension(QStringLiteral("image/jpeg")), QStringLiteral("jpg"));
    QCOMPARE(PictureExtension(QStringLiteral("image/png")), QStringLiteral("png"));
}

void TestCover::loadPictureRefusesWhatIsNoCover()
{
    Picture picture;
    QString error;
    // A PNG named .jpg is a PNG; a text named .png is refused.
    QVERIFY(LoadPicture(Make(QStringLiteral("really-png.jpg"), kPng), picture, error));
    QCOMPARE(picture.mime, QStringLiteral("image/png"));
    QCOMPARE(picture.data, kPng);
    QVERIFY(!LoadPicture(Make(QStringLiteral("text.png"), "hello"), picture, error));
    QVERIFY2(error.contains(QStringLiteral("not a JPEG or PNG")), qPrintable(error));
    QVERIFY(picture.IsEmpty());
    QVERIFY(!LoadPicture(m_dir.filePath(QStringLiteral("missing.png")), picture, error));
    QVERIFY(error.contains(QStringLiteral("missing.png")));
    // One byte over 16 MiB is refused before anything else is looked at.
    QByteArray big = kJpeg;
    big.resize(kMaxPictureSize + 1, 'x');
    QVERIFY(!LoadPicture(Make(QStringLiteral("big.jpg"), big), picture, error));
    QVERIFY2(error.contains(QStringLiteral("16 MiB")), qPrintable(error));
    big.resize(kMaxPictureSize);
    QVERIFY(LoadPicture(Make(QStringLiteral("big.jpg"), big), picture, error));
    // Magic bytes alone are no image: a JPEG or PNG cut short, or with a damaged header, is refused.
    for (const QByteArray &fake : {QByteArray("\xFF\xD8\xFF\xE0", 4) + QByteArray(3000, 'j'), kJpeg.left(30),
                                   QByteArray("\x89PNG\r\n\x1A\n", 8) + QByteArray(500, 'p'), kPng.left(40)}) {
        QVERIFY(!LoadPicture(Make(QStringLiteral("fake.jpg"), fake), picture, error));
        QVERIFY2(error.contains(QStringLiteral("not a JPEG or PNG")), qPrintable(error));
    }
    QByteArray damaged = kPng;
    damaged[20] = char(damaged[20] ^ 1);   // the header's size, whose check then fails
    QVERIFY(!LoadPicture(Make(QStringLiteral("damaged.png"), damaged), picture, error));
    // A FIFO is refused at once, never waited on.
    const QString fifo = m_dir.filePath(QStringLiteral("cover.fifo"));
    QCOMPARE(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    QVERIFY(!LoadPicture(fifo, picture, error));
    QVERIFY2(error.contains(QStringLiteral("not a regular file")), qPrintable(error));
}

void TestCover::setReplaceRemoveKeepOtherPictures_data()
{
    QTest::addColumn<int>("major");
    QTest::addColumn<bool>("hadFront");
    QTest::addColumn<bool>("remove");
    QTest::newRow("v2.3 add") << 3 << false << false;
    QTest::newRow("v2.3 replace") << 3 << true << false;
    QTest::newRow("v2.3 remove") << 3 << true << true;
    QTest::newRow("v2.4 add") << 4 << false << false;
    QTest::newRow("v2.4 replace") << 4 << true << false;
    QTest::newRow("v2.4 remove") << 4 << true << true;
    QTest::newRow("v2.4 remove none there") << 4 << false << true;
}

void TestCover::setReplaceRemoveKeepOtherPictures()
{
    QFETCH(int, major);
    QFETCH(bool, hadFront);
    QFETCH(bool, remove);
    const QByteArray back = Frame("APIC", PictureBody("image/jpeg", 4, kJpeg, "back"), major);
    const QByteArray oldFront = Frame("APIC", PictureBody("image/jpeg", 3, QByteArray("\xFF\xD8\xFF old", 8)), major);
    const QByteArray title = Frame("TIT2", Latin1Body(QStringLiteral("Song")), major);
    const QByteArray comment = Frame("COMM", CommentBody("", "kept"), major);
    const QByteArray audio = Audio(4);
    const QString path = Make(QStringLiteral("c.mp3"),
                              Tag(title + (hadFront ? oldFront : QByteArray()) + back + comment, major, 64) + audio);

    TagFile tag;
    QVERIFY(tag.Open(path));
    Picture cover;
    QCOMPARE(TagFile::ReadFrontCover(path, cover), hadFront);
    if (remove)
        tag.RemoveFrontCover();
    else
        tag.SetFrontCover(Picture{kPng, QStringLiteral("image/png")});
    QVERIFY(tag.HasCoverChange());
    QString error;
    QVERIFY2(tag.Write(&error), qPrintable(error));
    QVERIFY(!tag.HasCoverChange());

    const QByteArray after = ReadFile(path);
    QVERIFY(after.endsWith(audio));
    const auto frames = Frames(after);
    // The text frames and the back cover stay byte for byte, in order; the new front cover takes the old one's
    // place or comes last.
    QVERIFY(frames.contains(qMakePair(QByteArray("TIT2"), title)));
    QVERIFY(frames.contains(qMakePair(QByteArray("APIC"), back)));
    QVERIFY(frames.contains(qMakePair(QByteArray("COMM"), comment)));
    QCOMPARE(frames.count(qMakePair(QByteArray("APIC"), oldFront)), 0);
    if (remove) {
        QCOMPARE(Ids(after), (QList<QByteArray>{"TIT2", "APIC", "COMM"}));
        QVERIFY(!TagFile::ReadFrontCover(path, cover, &error));
        QCOMPARE(error, QString());   // none, which is no error
    } else {
        QCOMPARE(Ids(after), hadFront ? (QList<QByteArray>{"TIT2", "APIC", "APIC", "COMM"})
                                      : (QList<QByteArray>{"TIT2", "APIC", "COMM", "APIC"}));
        QVERIFY(TagFile::ReadFrontCover(path, cover, &error));
        QCOMPARE(cover.data, kPng);
        QCOMPARE(cover.mime, QStringLiteral("image/png"));
    }
    QVERIFY(tag.Open(path));
    QCOMPARE(tag.title, QStringLiteral("Song"));
    QCOMPARE(tag.comment, QStringLiteral("kept"));
}

void TestCover::coverAloneOnAnUntaggedFile()
{
    const QByteArray audio = Audio(3);
    const QString path = Make(QStringLiteral("bare.mp3"), audio);
    TagFile tag;
    QVERIFY(tag.Open(path));
    QVERIFY(tag.IsEmpty());
    tag.SetFrontCover(Picture{kJpeg, QStringLiteral("image/jpeg")});
    QString error;
    QVERIFY2(tag.Write(&error), qPrintable(error));   // an empty record with a cover is not a removal
    Picture cover;
    QVERIFY(TagFile::ReadFrontCover(path, cover));
    QCOMPARE(cover.data, kJpeg);
    QVERIFY(ReadFile(path).contains(audio));

    // Removing the cover of a file without tags has nothing to do.
    const QString plain = Make(QStringLiteral("plain.mp3"), audio);
    QVERIFY(tag.Open(plain));
    tag.RemoveFrontCover();
    QVERIFY(tag.Write());
    QCOMPARE(ReadFile(plain), audio);
}

void TestCover::coverChangesGoWithTheWriteTheyBelongTo()
{
    // One write changes a field and the cover; a cover change alone keeps every text frame.
    const QString path = Make(QStringLiteral("both.mp3"), Tag(Frame("TPE1", Latin1Body(QStringLiteral("Old")))) + Audio(2));
    TagFile tag;
    QVERIFY(tag.Open(path));
    tag.artist = QStringLiteral("New");
    tag.SetFrontCover(Picture{kPng, QStringLiteral("image/png")});
    QVERIFY(tag.Write());
    QVERIFY(tag.Open(path));
    QCOMPARE(tag.artist, QStringLiteral("New"));
    Picture cover;
    QVERIFY(TagFile::ReadFrontCover(path, cover));
    QCOMPARE(cover.data, kPng);
    // Open does not bring a cover change along; a write without one leaves the picture alone.
    tag.title = QStringLiteral("T");
    QVERIFY(tag.Write());
    QVERIFY(TagFile::ReadFrontCover(path, cover));
    QCOMPARE(cover.data, kPng);
    // A change forgotten before the write is not made.
    QVERIFY(tag.Open(path));
    tag.RemoveFrontCover();
    tag.KeepFrontCover();
    QVERIFY(tag.Write());
    QVERIFY(TagFile::ReadFrontCover(path, cover));
}

void TestCover::otherTaggersCoversAreRead()
{
    // A v2.4 file with UTF-8 texts and a front cover written by another tagger: read, extracted byte for byte.
    const QString path = Make(QStringLiteral("v24.mp3"), ReadFile(DataDir() + QStringLiteral("/malformed/v24-utf8-with-cover.mp3")));
    Picture cover;
    QString error;
    QVERIFY2(TagFile::ReadFrontCover(path, cover, &error), qPrintable(error));
    QVERIFY(!cover.data.isEmpty());
    const QByteArray file = ReadFile(path);
    QVERIFY(file.contains(cover.data));
    // Not a file at all: an error, not "no cover".
    QVERIFY(!TagFile::ReadFrontCover(m_dir.filePath(QStringLiteral("nothing.mp3")), cover, &error));
    QVERIFY(!error.isEmpty());
}

void TestCover::pictureWeCannotLookIntoStopsTheWrite()
{
    // An encrypted APIC frame (v2.3 flag 0x40) is kept by TagLib unparsed: it might be a front cover, and
    // replacing the cover could leave two, so nothing is written.
    QByteArray hidden = Frame("APIC", QByteArray("\x80", 1) + QByteArray("sealed picture bytes"));
    hidden[9] = char(0x40);
    const QString path = Make(QStringLiteral("packed.mp3"), Tag(Frame("TIT2", Latin1Body(QStringLiteral("x"))) + hidden) + Audio(2));
    const QByteArray before = ReadFile(path);
    TagFile tag;
    QVERIFY(tag.Open(path));
    tag.SetFrontCover(Picture{kPng, QStringLiteral("image/png")});
    QString error;
    QVERIFY(!tag.Write(&error));
    QVERIFY2(error.contains(QStringLiteral("picture frame")), qPrintable(error));
    QCOMPARE(ReadFile(path), before);
    // The same tag takes a text change: the frame is kept as it is.
    QVERIFY(tag.Open(path));
    tag.title = QStringLiteral("y");
    QVERIFY2(tag.Write(&error), qPrintable(error));
    QVERIFY(Frames(ReadFile(path)).contains(qMakePair(QByteArray("APIC"), hidden)));
}

void TestCover::freeGenreTextIsWritten()
{
    const QString path = Make(QStringLiteral("genre.mp3"), Tag(Frame("TCON", Latin1Body(QStringLiteral("(17)")))) + Audio(2));
    TagFile tag;
    QVERIFY(tag.Open(path));
    tag.SetGenreText(QStringLiteral("Nu Bossa"));
    QString error;
    QVERIFY2(tag.Write(&error), qPrintable(error));
    QVERIFY(tag.Open(path));
    QCOMPARE(tag.genre, -1);
    QCOMPARE(tag.GenreName(), QStringLiteral("Nu Bossa"));
    tag.SetGenreText(QStringLiteral("jazz"));
    QVERIFY(tag.Write());
    QVERIFY(tag.Open(path));
    QCOMPARE(tag.GenreName(), QStringLiteral("Jazz"));
}

void TestCover::frameReadPastItsEndStaysAsItWasRead()
{
    // A v2.4 tag (found by the fuzzer) whose picture frame is flagged with a data length it does not hold: the
    // reader's picture depends on the bytes after the frame. Its bytes alone cannot tell whether a write keeps it
    // as it reads, so the reader's own view decides: a write that would change the picture as read is refused.
    const QByteArray original = ReadFile(DataDir() + QStringLiteral("/malformed/v24-apic-data-length-reads-on.mp3"));
    QVERIFY(!original.isEmpty());
    const QString path = Make(QStringLiteral("reads-on.mp3"), original);
    Picture before;
    QVERIFY(TagFile::ReadFrontCover(path, before));
    for (int change = 0; change < 3; ++change) {
        Make(QStringLiteral("reads-on.mp3"), original);
        TagFile tag;
        QVERIFY(tag.Open(path));
        if (change == 0)
            tag.comment = QStringLiteral("a comment after the picture");
        else if (change == 1)
            tag.year = QStringLiteral("1999");
        else
            tag.title = QStringLiteral("title in place");
        QString error;
        const bool ok = tag.Write(&error);
        Picture after;
        QVERIFY(TagFile::ReadFrontCover(path, after));
        QCOMPARE(after.data, before.data);
        if (!ok)
            QCOMPARE(ReadFile(path), original);
    }
}

QTEST_GUILESS_MAIN(TestCover)
#include "tst_cover.moc"
