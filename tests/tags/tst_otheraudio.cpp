// FLAC, Ogg Vorbis and Opus files (made at run time by the reference encoders, tagged by mutagen): their format
// judged by content, their fields read, and the list's cells with the "other audio" setting on and off.

#include "journal/journal.h"
#include "journal/undo.h"
#include "library/extensionset.h"
#include "library/trackrecord.h"
#include "settings/appsettings.h"
#include "tags/filereadstream.h"
#include "tags/genretable.h"
#include "tags/otheraudio.h"
#include "tags/tagfile.h"
#include "testmp3.h"

#include <QtTest>

#include <sys/stat.h>
#include <unistd.h>

class TestOtherAudio : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void formatsByContent();
    void fieldsRead_data();
    void fieldsRead();
    void listingFollowsTheSetting();
    void writesKeepEverythingElse_data();
    void writesKeepEverythingElse();
    void refusalsChangeNothing();
    void writesAreUndone();
    void genresAreText();
    void tracksKeepTheirTotal_data();
    void tracksKeepTheirTotal();
    void damagedFlacMetadataIsRefused();
    void refusalsSayWhatTheFileHolds();
    void severalValuesShowJoinedAndStay();
    void damagedMp4IsRefusedAtOnce();
    void metadataIsWrittenWhereItStands_data();
    void metadataIsWrittenWhereItStands();
    void coversOfEveryFormat_data();
    void coversOfEveryFormat();
    void readStreamServesTheFileBytes();

private:
    QString P(const char *name) const { return m_dir.filePath(QString::fromLatin1(name)); }
    QTemporaryDir m_dir;
};

namespace {

bool Run(const QString &program, const QStringList &args)
{
    QProcess p;
    p.start(program, args);
    return p.waitForFinished(60000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
}

// A fresh writable copy of a test file (an earlier copy of that name goes first).
bool FreshCopy(const QString &from, const QString &to)
{
    QFile::remove(to);
    return QFile::copy(from, to) && QFile(to).setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
}

// A quarter second of a 16-bit mono tone.
QByteArray Wave()
{
    QByteArray samples;
    for (int i = 0; i < 11025; ++i) {
        const qint16 v = qint16(8000 * std::sin(i * 0.05));
        samples += char(v & 0xFF);
        samples += char((v >> 8) & 0xFF);
    }
    auto le32 = [](quint32 v) {
        const char bytes[] = {char(v), char(v >> 8), char(v >> 16), char(v >> 24)};
        return QByteArray(bytes, 4);
    };
    auto le16 = [](quint16 v) {
        const char bytes[] = {char(v), char(v >> 8)};
        return QByteArray(bytes, 2);
    };
    return QByteArray("RIFF") + le32(quint32(36 + samples.size())) + "WAVEfmt " + le32(16) + le16(1) + le16(1) + le32(44100) +
           le32(88200) + le16(2) + le16(16) + "data" + le32(quint32(samples.size())) + samples;
}

} // namespace

void TestOtherAudio::initTestCase()
{
    GenreTable::Build();
    for (const char *tool : {"flac", "oggenc", "opusenc"}) {
        if (QStandardPaths::findExecutable(QString::fromLatin1(tool)).isEmpty())
            QSKIP("flac, vorbis-tools and opus-tools make the test files; one is not installed");
    }
    QVERIFY(testmp3::WriteFile(P("tone.wav"), Wave()));
    QVERIFY(Run(QStringLiteral("flac"), {QStringLiteral("-s"), QStringLiteral("-o"), P("a.flac"), P("tone.wav")}));
    QVERIFY(Run(QStringLiteral("oggenc"), {QStringLiteral("-Q"), QStringLiteral("-o"), P("b.ogg"), P("tone.wav")}));
    QVERIFY(Run(QStringLiteral("opusenc"), {QStringLiteral("--quiet"), P("tone.wav"), P("c.opus")}));
    QVERIFY(QFile::copy(P("a.flac"), P("flac-named.ogg")));
    if (!QStandardPaths::findExecutable(QStringLiteral("ffmpeg")).isEmpty())
        QVERIFY(Run(QStringLiteral("ffmpeg"), {QStringLiteral("-v"), QStringLiteral("quiet"), QStringLiteral("-i"), P("tone.wav"),
                                               QStringLiteral("-c:a"), QStringLiteral("aac"), P("d.m4a")}));
    // Tags written by another tool, with a picture and a field Tunegrove does not show.
    const QString script = QStringLiteral(R"(
import sys
from mutagen.flac import FLAC, Picture
from mutagen.oggvorbis import OggVorbis
from mutagen.oggopus import OggOpus
d = sys.argv[1]
f = FLAC(d + "/a.flac")
f.update({"title": "Flac ★ Title", "artist": "Ann", "album": "Alpha", "date": "1999", "tracknumber": "3/12",
          "comment": "first", "genre": "Jazz", "custom": "kept"})
p = Picture(); p.type = 3; p.mime = "image/png"; p.data = b"\x89PNG" + bytes(2000); f.add_picture(p); f.save()
o = OggVorbis(d + "/b.ogg"); o.update({"title": "Ogg Title", "genre": "J-Pop", "date": "2001"}); o.save()
o = OggOpus(d + "/c.opus"); o.update({"title": "Opus Title", "artist": "Zed", "comment": "hi"}); o.save()
import os
if os.path.exists(d + "/d.m4a"):
    from mutagen.mp4 import MP4, MP4Cover
    m = MP4(d + "/d.m4a")
    m["\xa9nam"] = "M4A Title"; m["\xa9ART"] = "Amy"; m["trkn"] = [(2, 9)]; m["----:com.example:extra"] = [b"kept"]
    m["covr"] = [MP4Cover(b"PNGDATA" * 50, imageformat=MP4Cover.FORMAT_PNG)]
    m.save()
)");
    QVERIFY(Run(QStringLiteral("/usr/bin/python3"), {QStringLiteral("-c"), script, m_dir.path()}));
}

void TestOtherAudio::formatsByContent()
{
    using otheraudio::Format;
    auto detect = [this](const char *name) {
        const QByteArray bytes = testmp3::ReadFile(P(name));
        return otheraudio::Detect(bytes.left(64));
    };
    QCOMPARE(detect("a.flac"), Format::Flac);
    QCOMPARE(detect("b.ogg"), Format::OggVorbis);
    QCOMPARE(detect("c.opus"), Format::OggOpus);
    QCOMPARE(detect("flac-named.ogg"), Format::Flac);   // the name does not decide
    QCOMPARE(detect("tone.wav"), Format::None);
    QCOMPARE(otheraudio::Detect(QByteArray("ID3\x04\0\0\0\0\0\0", 10), QByteArray("fLaC")), Format::Flac);
    QCOMPARE(otheraudio::Detect(QByteArray(8, '\0') + "ftypM4A " + QByteArray(8, '\0')), Format::None);
    QCOMPARE(otheraudio::Detect(QByteArray(4, '\0') + "ftypM4A " + QByteArray(8, '\0')), Format::Mp4);
    // A damaged file of a known kind shows no fields and is never written; the refusal names what it holds.
    QVERIFY(testmp3::WriteFile(P("broken.flac"), "fLaC" + QByteArray(20, '\xff')));
    TagFile tag;
    QVERIFY(tag.Open(P("broken.flac")));
    QCOMPARE(tag.title, QString());
    tag.title = QStringLiteral("x");
    QString error;
    QVERIFY(!tag.Write(&error));
    QVERIFY2(error.contains(QLatin1String("FLAC")), qPrintable(error));
    QCOMPARE(testmp3::ReadFile(P("broken.flac")), "fLaC" + QByteArray(20, '\xff'));
}

void TestOtherAudio::fieldsRead_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<QStringList>("fields");   // title, artist, album, year, track, comment, genre name
    QTest::newRow("flac") << "a.flac" << QStringList{"Flac ★ Title", "Ann", "Alpha", "1999", "3/12", "first", "Jazz"};
    QTest::newRow("vorbis") << "b.ogg" << QStringList{"Ogg Title", "", "", "2001", "", "", "J-Pop"};
    QTest::newRow("opus") << "c.opus" << QStringList{"Opus Title", "Zed", "", "", "", "hi", ""};
    QTest::newRow("flac named .ogg") << "flac-named.ogg" << QStringList{"", "", "", "", "", "", ""};
}

void TestOtherAudio::fieldsRead()
{
    QFETCH(QString, file);
    QFETCH(QStringList, fields);
    TagFile tag;
    QVERIFY(tag.Open(m_dir.filePath(file)));
    QCOMPARE((QStringList{tag.title, tag.artist, tag.album, tag.year, tag.track, tag.comment, tag.GenreName()}), fields);
    QVERIFY(!tag.sizeText.isEmpty());
}

void TestOtherAudio::listingFollowsTheSetting()
{
    AppSettings settings;
    QCOMPARE(settings.otherAudio, 1);   // on unless turned off: a mixed collection shows whole at first contact
    settings.mp3Ext = 1;
    settings.otherAudio = 0;
    ExtensionSet extensions;
    extensions.Build(settings);
    QVERIFY(!extensions.IsAccepted(u"flac"));
    settings.otherAudio = 1;
    extensions.Build(settings);
    for (const char16_t *ext : {u"flac", u"ogg", u"oga", u"opus", u"M4A", u"mp3"})
        QVERIFY(extensions.IsAccepted(QStringView(ext)));
    // A listed FLAC file shows its tags, not "Non"; a WAV still shows "Non".
    const TrackRecord flac = MakeTrackRecord(P("a.flac"));
    QCOMPARE(flac[Column::Title], QStringLiteral("Flac ★ Title"));
    QCOMPARE(flac[Column::Genre], QStringLiteral("Jazz"));
    QCOMPARE(MakeTrackRecord(P("tone.wav"))[Column::Title], QStringLiteral("Non"));
}

namespace {

// What another tool sees of a file beside the seven fields: its other fields and its pictures.
QString Elsewhere(const QString &path)
{
    QProcess p;
    p.start(QStringLiteral("/usr/bin/python3"), {QStringLiteral("-c"), QStringLiteral(R"(
import sys, mutagen
f = mutagen.File(sys.argv[1])
keys = sorted(k for k in f.keys() if k.lower() in ("custom", "----:com.example:extra", "covr"))
pictures = [len(p.data) for p in getattr(f, "pictures", [])]
print(keys, [str(f[k])[:40] for k in keys], pictures)
)"), path});
    p.waitForFinished(30000);
    return QString::fromUtf8(p.readAllStandardOutput());
}

// The MD5 of the decoded audio, by the format's reference decoder.
QByteArray Decoded(const QString &path)
{
    QProcess p;
    const QString ext = QFileInfo(path).suffix();
    if (ext == QLatin1String("flac"))
        p.start(QStringLiteral("flac"), {QStringLiteral("-d"), QStringLiteral("-s"), QStringLiteral("-c"), path});
    else if (ext == QLatin1String("ogg"))
        p.start(QStringLiteral("oggdec"), {QStringLiteral("-Q"), QStringLiteral("-o"), QStringLiteral("-"), path});
    else if (ext == QLatin1String("opus"))
        p.start(QStringLiteral("opusdec"), {QStringLiteral("--quiet"), path, QStringLiteral("-")});
    else
        p.start(QStringLiteral("ffmpeg"), {QStringLiteral("-v"), QStringLiteral("quiet"), QStringLiteral("-i"), path,
                                           QStringLiteral("-map"), QStringLiteral("0:a"), QStringLiteral("-f"),
                                                 QStringLiteral("md5"), QStringLiteral("-")});
    p.waitForFinished(60000);
    return QCryptographicHash::hash(p.readAllStandardOutput(), QCryptographicHash::Md5);
}

} // namespace

void TestOtherAudio::writesKeepEverythingElse_data()
{
    QTest::addColumn<QString>("file");
    QTest::newRow("flac") << "a.flac";
    QTest::newRow("vorbis") << "b.ogg";
    QTest::newRow("opus") << "c.opus";
    QTest::newRow("m4a") << "d.m4a";
}

void TestOtherAudio::writesKeepEverythingElse()
{
    QFETCH(QString, file);
    const QString path = m_dir.filePath(file);
    if (!QFile::exists(path))
        QSKIP("ffmpeg (which makes the M4A file) is not installed");
    const QString copy = m_dir.filePath(QStringLiteral("w-") + file);
    QVERIFY(FreshCopy(path, copy));
    const QString elsewhere = Elsewhere(copy);
    const QByteArray audio = Decoded(copy);
    QVERIFY(!audio.isEmpty());
    // A write that changes nothing changes no byte.
    TagFile tag;
    QVERIFY(tag.Open(copy));
    const QByteArray untouched = testmp3::ReadFile(copy);
    QVERIFY(tag.Write());
    QCOMPARE(testmp3::ReadFile(copy), untouched);
    // Every field, in any script; the file's other fields, its pictures and its audio stay.
    tag.title = QStringLiteral("Титул ★ 題名");
    tag.artist = QStringLiteral("Ärtist");
    tag.album = QStringLiteral("Album");
    tag.year = QStringLiteral("2024");
    tag.SetTrack(QStringLiteral("11"));
    tag.comment = QStringLiteral("a comment");
    tag.genre = GenreTable::NumberOf(QStringLiteral("Rock"));
    QString error;
    QVERIFY2(tag.Write(&error), qPrintable(error));
    TagFile again;
    QVERIFY(again.Open(copy));
    // (An MP4 track keeps its total: "11/9".)
    QCOMPARE((QStringList{again.title, again.artist, again.album, again.year, again.track.section(QLatin1Char('/'), 0, 0),
                          again.comment, again.GenreName()}),
             (QStringList{"Титул ★ 題名", "Ärtist", "Album", "2024", "11", "a comment", "Rock"}));
    QCOMPARE(Elsewhere(copy), elsewhere);
    QCOMPARE(Decoded(copy), audio);
    // Clearing a field removes it.
    again.comment.clear();
    QVERIFY(again.Write());
    QVERIFY(again.Open(copy));
    QCOMPARE(again.comment, QString());
    QCOMPARE(again.title, QStringLiteral("Титул ★ 題名"));
}

void TestOtherAudio::refusalsChangeNothing()
{
    // A FLAC file named .ogg: read by its content, but never written under a name that says something else.
    const QByteArray before = testmp3::ReadFile(P("flac-named.ogg"));
    TagFile tag;
    QVERIFY(tag.Open(P("flac-named.ogg")));
    tag.title = QStringLiteral("x");
    QString error;
    QVERIFY(!tag.Write(&error));
    QVERIFY2(error.contains(QLatin1String("FLAC")), qPrintable(error));
    QCOMPARE(testmp3::ReadFile(P("flac-named.ogg")), before);
    // Neither is a file named .opus that holds no Opus audio.
    QVERIFY(testmp3::WriteFile(P("nothing.opus"), QByteArray(400, 'z')));
    QVERIFY(tag.Open(P("nothing.opus")));
    tag.title = QStringLiteral("x");
    QVERIFY(!tag.Write(&error));
    QCOMPARE(testmp3::ReadFile(P("nothing.opus")), QByteArray(400, 'z'));
}

void TestOtherAudio::writesAreUndone()
{
    const QString copy = P("undo.flac");
    QVERIFY(FreshCopy(P("a.flac"), copy));
    const QByteArray before = testmp3::ReadFile(copy);
    const QString journalFolder = m_dir.filePath(QStringLiteral("journal"));
    {
        journal::Recorder recorder(journalFolder);
        QVERIFY(recorder.Begin(QStringLiteral("Edit Tag")));
        TagFile tag;
        QVERIFY(tag.Open(copy));
        tag.album = QString(3000, QLatin1Char('x'));   // the metadata grows
        QVERIFY(tag.Write());
    }
    QVERIFY(testmp3::ReadFile(copy) != before);
    const QList<journal::EntryInfo> entries = journal::ListEntries(journalFolder);
    QCOMPARE(entries.size(), 1);
    QVERIFY(entries[0].bytes < 30000);   // the metadata, not the audio
    QCOMPARE(journal::Undo(journalFolder).restored, 1);
    QCOMPARE(testmp3::ReadFile(copy), before);
}

void TestOtherAudio::tracksKeepTheirTotal_data() { writesKeepEverythingElse_data(); }

void TestOtherAudio::tracksKeepTheirTotal()
{
    // "5/14" is written as another tool reads a track with its total (Vorbis TRACKNUMBER and TRACKTOTAL, MP4 trkn);
    // a total written by it (TOTALTRACKS) shows with the number; a track without a total drops the old total.
    QFETCH(QString, file);
    if (!QFile::exists(P(file.toLatin1().constData())))
        QSKIP("no ffmpeg for the M4A file");
    const QString copy = m_dir.filePath(QStringLiteral("total-") + file);
    QVERIFY(FreshCopy(P(file.toLatin1().constData()), copy));
    auto theirs = [&](const char *action) {
        QProcess p;
        p.start(QStringLiteral("/usr/bin/python3"), {QStringLiteral("-c"), QStringLiteral(R"(
import sys, mutagen
f = mutagen.File(sys.argv[1])
mp4 = sys.argv[1].endswith(".m4a")
if sys.argv[2] == "write":
    if mp4: f["trkn"] = [(7, 20)]
    else: f["tracknumber"] = "7"; f["totaltracks"] = "20"; f.pop("tracktotal", None)
    f.save()
elif mp4: print(f.get("trkn"))
else: print(f.get("tracknumber"), f.get("tracktotal"), f.get("totaltracks"))
)"), copy, QLatin1String(action)});
        p.waitForFinished(30000);
        return QString::fromUtf8(p.readAllStandardOutput()).trimmed();
    };
    const bool mp4 = file.endsWith(QLatin1String(".m4a"));
    const QByteArray audio = Decoded(copy);
    TagFile tag;
    QVERIFY(tag.Open(copy));
    QString error;
    tag.SetTrack(QStringLiteral("5/14"));
    QVERIFY2(tag.Write(&error), qPrintable(error));
    QCOMPARE(tag.track, QStringLiteral("5/14"));
    QCOMPARE(theirs("read"), mp4 ? QStringLiteral("[(5, 14)]") : QStringLiteral("['5'] ['14'] None"));
    theirs("write");
    QVERIFY(tag.Open(copy));
    QCOMPARE(tag.track, QStringLiteral("7/20"));
    tag.SetTrack(QStringLiteral("8"));
    QVERIFY2(tag.Write(&error), qPrintable(error));
    QCOMPARE(theirs("read"), mp4 ? QStringLiteral("[(8, 0)]") : QStringLiteral("['8'] None None"));
    QVERIFY(tag.Open(copy));
    QCOMPARE(tag.track, QStringLiteral("8"));
    QCOMPARE(Decoded(copy), audio);
}

void TestOtherAudio::genresAreText()
{
    // b.ogg's genre "J-Pop" is no entry of the table: it survives a write of another field, and any text is taken.
    const QString copy = P("genre.ogg");
    QVERIFY(FreshCopy(P("b.ogg"), copy));
    TagFile tag;
    QVERIFY(tag.Open(copy));
    QCOMPARE(tag.GenreName(), QStringLiteral("J-Pop"));
    tag.title = QStringLiteral("Changed");
    QVERIFY(tag.Write());
    QVERIFY(tag.Open(copy));
    QCOMPARE(tag.GenreName(), QStringLiteral("J-Pop"));
    tag.SetGenreText(QStringLiteral("Shoegaze"));
    QVERIFY(tag.Write());
    QVERIFY(tag.Open(copy));
    QCOMPARE(tag.GenreName(), QStringLiteral("Shoegaze"));
    tag.SetGenreText(QStringLiteral("jazz"));   // a name of the table, in any case, is that genre
    QVERIFY(tag.Write());
    QVERIFY(tag.Open(copy));
    QCOMPARE(tag.GenreName(), QStringLiteral("Jazz"));
}

void TestOtherAudio::damagedFlacMetadataIsRefused()
{
    // Written by an old encoder: the comment block declares only its vendor string and count, its six comments
    // run past it. TagLib sees none, mutagen six: a write from TagLib's view would lose them. Refused, unchanged;
    // and a block chain that does not reach the audio is refused too.
    const QString path = P("hidden-comments.flac");
    QVERIFY(FreshCopy(QStringLiteral(TEST_DATA_DIR "/other/flac-comments-past-block.flac"), path));
    QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner);
    const QByteArray before = testmp3::ReadFile(path);
    for (int round = 0; round < 2; ++round) {
        TagFile tag;
        QVERIFY(tag.Open(path));
        tag.title = QStringLiteral("x");
        QString error;
        QVERIFY(!tag.Write(&error));
        QVERIFY2(error.contains(round == 0 ? QLatin1String("comment block holds more than its declared length")
                                           : QLatin1String("do not lead to the audio")), qPrintable(error));
        QCOMPARE(testmp3::ReadFile(path), round == 0 ? before : testmp3::ReadFile(path));
        // The second round: a good FLAC whose last block says it is longer than it is.
        QByteArray good = testmp3::ReadFile(P("a.flac"));
        qsizetype at = 4;
        while (!(uchar(good[at]) & 0x80))
            at += 4 + ((qsizetype(uchar(good[at + 1])) << 16) | (qsizetype(uchar(good[at + 2])) << 8) | uchar(good[at + 3]));
        good[at + 3] = char(uchar(good[at + 3]) + 1);
        QVERIFY(testmp3::WriteFile(path, good));
    }
}

void TestOtherAudio::severalValuesShowJoinedAndStay()
{
    // Two ARTIST comments (FLAC) and a v2.4 TPE1 of two values: both show, joined with "; "; a write of another
    // field leaves them as they were.
    QVERIFY(QFile::copy(P("a.flac"), P("two-artists.flac")));
    QVERIFY(testmp3::WriteFile(P("two-artists.mp3"), testmp3::Tag(testmp3::Frame("TPE1", QByteArray("\3piman\0jzig", 11), 4), 4) +
                                                          testmp3::Audio(2)));
    QVERIFY(Run(QStringLiteral("/usr/bin/python3"), {QStringLiteral("-c"), QStringLiteral(R"(
import sys
from mutagen.flac import FLAC
f = FLAC(sys.argv[1]); f["artist"] = ["piman", "jzig"]; f.save()
)"), P("two-artists.flac")}));
    for (const char *name : {"two-artists.flac", "two-artists.mp3"}) {
        TagFile tag;
        QVERIFY(tag.Open(P(name)));
        QCOMPARE(tag.artist, QStringLiteral("piman; jzig"));
        tag.title = QStringLiteral("only the title");
        QString error;
        QVERIFY2(tag.Write(&error), qPrintable(error));
        QVERIFY(tag.Open(P(name)));
        QCOMPARE(tag.artist, QStringLiteral("piman; jzig"));
        QCOMPARE(tag.title, QStringLiteral("only the title"));
    }
    QProcess check;
    check.start(QStringLiteral("/usr/bin/python3"), {QStringLiteral("-c"), QStringLiteral(R"(
import sys
from mutagen.flac import FLAC
from mutagen.id3 import ID3
print(FLAC(sys.argv[1])["artist"], ID3(sys.argv[2])["TPE1"].text)
)"), P("two-artists.flac"), P("two-artists.mp3")});
    QVERIFY(check.waitForFinished(30000));
    QCOMPARE(QString::fromUtf8(check.readAllStandardOutput()).trimmed(), QStringLiteral("['piman', 'jzig'] ['piman', 'jzig']"));
}

void TestOtherAudio::refusalsSayWhatTheFileHolds()
{
    // An Ogg FLAC file and two streams in one Ogg file are Ogg streams Tunegrove does not write, and say so.
    QVERIFY(Run(QStringLiteral("flac"), {QStringLiteral("-s"), QStringLiteral("-f"), QStringLiteral("--ogg"), QStringLiteral("-o"),
                                         P("oggflac.ogg"), P("tone.wav")}));
    QByteArray twoStreams = testmp3::ReadFile(P("b.ogg"));
    QByteArray second = testmp3::ReadFile(P("b.ogg"));
    second[14] = char(second[14] ^ 0x55);   // another serial number: a second stream beginning beside the first
    const qsizetype firstPage = 27 + uchar(twoStreams[26]) + [&] {
        int body = 0;
        for (int i = 0; i < uchar(twoStreams[26]); ++i)
            body += uchar(twoStreams[27 + i]);
        return body;
    }();
    twoStreams.insert(firstPage, second.left(firstPage));
    QVERIFY(testmp3::WriteFile(P("two.ogg"), twoStreams));
    for (const auto &[name, kind] : {std::pair{"oggflac.ogg", "Ogg FLAC"}, std::pair{"two.ogg", "several streams"}}) {
        const QByteArray before = testmp3::ReadFile(P(name));
        TagFile tag;
        QVERIFY(tag.Open(P(name)));
        tag.title = QStringLiteral("x");
        QString error;
        QVERIFY(!tag.Write(&error));
        QVERIFY2(error.contains(QStringLiteral("an Ogg stream Tunegrove does not write: ") + QLatin1String(kind)), qPrintable(error));
        QCOMPARE(testmp3::ReadFile(P(name)), before);
    }
    // An MP4 whose media data box is gone holds no audio, and is told so.
    if (QFile::exists(P("d.m4a"))) {
        QByteArray m4a = testmp3::ReadFile(P("d.m4a"));
        const qsizetype mdat = m4a.indexOf("mdat");
        QVERIFY(mdat > 0);
        m4a.replace(mdat, 4, "free");
        QVERIFY(testmp3::WriteFile(P("silent.m4a"), m4a));
        TagFile tag;
        QVERIFY(tag.Open(P("silent.m4a")));
        tag.title = QStringLiteral("x");
        QString error;
        QVERIFY(!tag.Write(&error));
        QVERIFY2(error.contains(QLatin1String("holds no audio")), qPrintable(error));
    }
}

void TestOtherAudio::damagedMp4IsRefusedAtOnce()
{
    // A fuzzed M4A whose chunk offset table claims more entries than its box holds: TagLib would loop for ages
    // rewriting it. The write is refused at once and the file left as it was.
    const QString path = P("damaged.m4a");
    QVERIFY(FreshCopy(QStringLiteral(TEST_DATA_DIR "/other/stco-count-past-box.m4a"), path));
    QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner);
    const QByteArray before = testmp3::ReadFile(path);
    TagFile tag;
    QVERIFY(tag.Open(path));
    tag.title = QStringLiteral("x");
    QElapsedTimer clock;
    clock.start();
    QString error;
    QVERIFY(!tag.Write(&error));
    QVERIFY(clock.elapsed() < 5000);
    QVERIFY2(error.contains(QLatin1String("MP4 boxes are damaged")), qPrintable(error));
    QCOMPARE(testmp3::ReadFile(path), before);
}

namespace {

// Every picture another tool sees in a file, one line each: FLAC/Xiph "type mime md5", MP4 "covr format md5".
QStringList PicturesSeen(const QString &path)
{
    QProcess p;
    p.start(QStringLiteral("/usr/bin/python3"), {QStringLiteral("-c"), QStringLiteral(R"(
import sys, base64, hashlib, mutagen
from mutagen.flac import Picture
f = mutagen.File(sys.argv[1])
md5 = lambda b: hashlib.md5(b).hexdigest()
if hasattr(f, "pictures"):
    for p in f.pictures: print(p.type, p.mime, md5(p.data))
elif sys.argv[1].endswith(".m4a"):
    for c in f.get("covr", []): print("covr", c.imageformat, md5(bytes(c)))
else:
    for b in f.get("metadata_block_picture", []):
        p = Picture(base64.b64decode(b)); print(p.type, p.mime, md5(p.data))
)"), path});
    p.waitForFinished(30000);
    return QString::fromUtf8(p.readAllStandardOutput()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

QString Md5(const QByteArray &bytes) { return QString::fromLatin1(QCryptographicHash::hash(bytes, QCryptographicHash::Md5).toHex()); }

} // namespace

void TestOtherAudio::metadataIsWrittenWhereItStands_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<QString>("title");
    QTest::newRow("flac") << "a.flac" << QStringLiteral("Flac ★ Title");
    QTest::newRow("m4a") << "d.m4a" << QStringLiteral("M4A Title");
    QTest::newRow("vorbis") << "b.ogg" << QStringLiteral("Ogg Title");
    QTest::newRow("opus") << "c.opus" << QStringLiteral("Opus Title");
}

void TestOtherAudio::metadataIsWrittenWhereItStands()
{
    // Padding left (by the encoder, by another tool, by the first write): a change that fits rewrites the
    // metadata (FLAC blocks, the MP4 movie box, the Ogg comment pages) in the file itself (the same inode, hard
    // links kept, the audio bytes untouched), through the journal, and is undone byte for byte.
    QFETCH(QString, file);
    QFETCH(QString, title);
    if (!QFile::exists(P(qPrintable(file))))
        QSKIP("ffmpeg (which makes the M4A file) is not installed");
    const QString path = m_dir.filePath(QStringLiteral("inplace.") + QFileInfo(file).suffix());
    QVERIFY(FreshCopy(P(qPrintable(file)), path));
    {
        // The first write makes room where there was little (TagLib adds padding when a tag grows past it).
        TagFile first;
        QVERIFY(first.Open(path));
        first.album = QStringLiteral("Alpha, trimmed");
        QVERIFY(first.Write());
    }
    const QString link = path + QStringLiteral("-link");
    QFile::remove(link);
    QVERIFY(::link(QFile::encodeName(path).constData(), QFile::encodeName(link).constData()) == 0);
    const QByteArray before = testmp3::ReadFile(path);
    const QByteArray audio = Decoded(path);
    struct stat st{};
    QCOMPARE(::stat(QFile::encodeName(path).constData(), &st), 0);
    const ino_t inode = st.st_ino;
    const QString journalFolder = m_dir.filePath(QStringLiteral("inplace-journal-") + QFileInfo(file).suffix());
    {
        journal::Recorder recorder(journalFolder);
        QVERIFY(recorder.Begin(QStringLiteral("Edit Tag")));
        TagFile tag;
        QVERIFY(tag.Open(path));
        tag.album = QStringLiteral("An album that still fits the padding");
        tag.comment.clear();
        QString error;
        QVERIFY2(tag.Write(&error), qPrintable(error));
    }
    QCOMPARE(::stat(QFile::encodeName(path).constData(), &st), 0);
    QCOMPARE(st.st_ino, inode);
    QCOMPARE(qint64(st.st_size), qint64(before.size()));
    QCOMPARE(testmp3::ReadFile(link), testmp3::ReadFile(path));   // still one file
    QCOMPARE(Decoded(path), audio);
    TagFile again;
    QVERIFY(again.Open(path));
    QCOMPARE(again.album, QStringLiteral("An album that still fits the padding"));
    QCOMPARE(again.comment, QString());
    QCOMPARE(again.title, title);
    QCOMPARE(Elsewhere(path), Elsewhere(P(qPrintable(file))));   // pictures and other fields, as another tool sees them
    const QList<journal::EntryInfo> entries = journal::ListEntries(journalFolder);
    QCOMPARE(entries.size(), 1);
    // The bytes that differ, old and new: not the padding both share.
    QVERIFY2(entries[0].bytes < 6000, qPrintable(QString::number(entries[0].bytes)));
    QCOMPARE(journal::Undo(journalFolder).restored, 1);
    QCOMPARE(testmp3::ReadFile(path), before);

    // Past the padding the file is rewritten whole (and gets new padding), the audio still the same.
    QFile::remove(link);
    TagFile big;
    QVERIFY(big.Open(path));
    big.comment = QString(20000, QLatin1Char('c'));
    QVERIFY(big.Write());
    QVERIFY(big.Open(path));
    QCOMPARE(big.comment.size(), 20000);
    QCOMPARE(Decoded(path), audio);
}

void TestOtherAudio::coversOfEveryFormat_data()
{
    QTest::addColumn<QString>("file");
    QTest::newRow("flac") << "a.flac";
    QTest::newRow("vorbis") << "b.ogg";
    QTest::newRow("opus") << "c.opus";
    QTest::newRow("m4a") << "d.m4a";
}

void TestOtherAudio::coversOfEveryFormat()
{
    QFETCH(QString, file);
    if (!QFile::exists(P(qPrintable(file))))
        QSKIP("ffmpeg (which makes the M4A file) is not installed");
    const bool mp4 = file.endsWith(QLatin1String(".m4a"));
    const QString path = m_dir.filePath(QStringLiteral("cover-") + file);
    QVERIFY(FreshCopy(P(qPrintable(file)), path));
    // Another tool gives the file a back cover (FLAC and Ogg) or a second image (M4A), which must stay.
    const QString script = QStringLiteral(R"(
import sys, base64, mutagen
from mutagen.flac import Picture
from mutagen.mp4 import MP4Cover
path = sys.argv[1]
f = mutagen.File(path)
back = Picture(); back.type = 4; back.mime = "image/jpeg"; back.data = b"\xff\xd8back" + bytes(300)
if hasattr(f, "add_picture"):
    f.add_picture(back)
elif path.endswith(".m4a"):
    f["covr"] = list(f.get("covr", [])) + [MP4Cover(b"\xff\xd8second" + bytes(100), imageformat=MP4Cover.FORMAT_JPEG)]
else:
    f["metadata_block_picture"] = [base64.b64encode(back.write()).decode("ascii")]
f.save()
)");
    QVERIFY(Run(QStringLiteral("/usr/bin/python3"), {QStringLiteral("-c"), script, path}));
    const QStringList seenBefore = PicturesSeen(path);
    const QByteArray audio = Decoded(path);
    const QByteArray before = testmp3::ReadFile(path);

    // What another tool wrote reads as the front cover: FLAC's and the M4A's own image; none in the Ogg files.
    Picture cover;
    QString error;
    const bool had = TagFile::ReadFrontCover(path, cover, &error);
    QCOMPARE(error, QString());
    QCOMPARE(had, file == QLatin1String("a.flac") || mp4);
    if (had)
        QCOMPARE(cover.mime, QStringLiteral("image/png"));

    // Set: the one front cover is the new image, under a journal entry that takes it back byte for byte.
    const Picture jpeg{QByteArray("\xff\xd8\xff\xe0new cover", 13) + QByteArray(5000, 'j'), QStringLiteral("image/jpeg")};
    const QString journalFolder = m_dir.filePath(QStringLiteral("cover-journal-") + file);
    {
        journal::Recorder recorder(journalFolder);
        QVERIFY(recorder.Begin(QStringLiteral("Edit Tag")));
        TagFile tag;
        QVERIFY(tag.Open(path));
        tag.title = QStringLiteral("Covered");
        tag.SetFrontCover(jpeg);
        QVERIFY2(tag.Write(&error), qPrintable(error));
    }
    QVERIFY(TagFile::ReadFrontCover(path, cover, &error));
    QCOMPARE(cover.data, jpeg.data);
    QCOMPARE(cover.mime, jpeg.mime);
    const QStringList seenSet = PicturesSeen(path);
    const QString newLine = mp4 ? QStringLiteral("covr 13 ") + Md5(jpeg.data) : QStringLiteral("3 image/jpeg ") + Md5(jpeg.data);
    QVERIFY2(seenSet.count(newLine) == 1, qPrintable(seenSet.join(QLatin1Char('|'))));
    if (mp4)
        QCOMPARE(seenSet.front(), newLine);   // the first image is the one players show
    // The pictures that are no front cover: an M4A's images after its first, the other types elsewhere.
    QStringList othersBefore = seenBefore, othersSet = seenSet;
    othersSet.removeAll(newLine);
    if (mp4)
        othersBefore.removeFirst();
    else
        othersBefore.erase(std::remove_if(othersBefore.begin(), othersBefore.end(),
                                          [](const QString &l) { return l.startsWith(QLatin1String("3 ")); }),
                           othersBefore.end());
    QCOMPARE(othersSet, othersBefore);
    QVERIFY(!othersSet.isEmpty());
    QCOMPARE(Decoded(path), audio);
    QCOMPARE(journal::Undo(journalFolder).restored, 1);
    QCOMPARE(testmp3::ReadFile(path), before);

    // Remove: no front cover is left (an M4A loses its first image only); every other picture stays.
    TagFile tag;
    QVERIFY(tag.Open(path));
    tag.RemoveFrontCover();
    QVERIFY2(tag.Write(&error), qPrintable(error));
    QVERIFY(tag.Open(path));
    QVERIFY(tag.title != QStringLiteral("Covered"));   // the undone title stays undone
    QCOMPARE(PicturesSeen(path), othersBefore);
    QCOMPARE(TagFile::ReadFrontCover(path, cover, &error), mp4);   // the M4A's second image now comes first
    QCOMPARE(Decoded(path), audio);
}


void TestOtherAudio::readStreamServesTheFileBytes()
{
    // TagLib reads through the held windows: small pieces at the start and the end, pieces across a window's edge,
    // blocks larger than a window, reads past the end, seeks from every origin; each must give the file's bytes.
    QByteArray bytes(200000, Qt::Uninitialized);
    quint32 x = 12345;
    for (char &c : bytes) {
        x = x * 1103515245u + 12345u;
        c = char(x >> 24);
    }
    const QString path = P("stream.bin");
    QVERIFY(testmp3::WriteFile(path, bytes));
    platform::ReadOnlyFile file;
    QCOMPARE(file.Open(path), 0);
    FileReadStream stream(file, QFile::encodeName(path));
    QCOMPARE(stream.length(), long(bytes.size()));
    auto read = [&stream](unsigned long n) {
        const TagLib::ByteVector v = stream.readBlock(n);
        return QByteArray(v.data(), qsizetype(v.size()));
    };
    struct Step
    {
        long offset;
        TagLib::IOStream::Position from;
        unsigned long length;
    };
    const Step steps[] = {
        {0, TagLib::IOStream::Beginning, 4},          {-128, TagLib::IOStream::End, 3},
        {10, TagLib::IOStream::Beginning, 1024},      {16380, TagLib::IOStream::Beginning, 10},   // across the edge
        {-32, TagLib::IOStream::End, 32},             {100, TagLib::IOStream::Current, 100},      // past the end: none
        {5000, TagLib::IOStream::Beginning, 40000},   {-10, TagLib::IOStream::Current, 20},
        {-100, TagLib::IOStream::End, 1000},          {150000, TagLib::IOStream::Beginning, 60000},
        {-5000, TagLib::IOStream::End, 4999},         {2, TagLib::IOStream::Beginning, 16384 * 3},
    };
    long at = 0;
    for (const Step &step : steps) {
        stream.seek(step.offset, step.from);
        at = step.from == TagLib::IOStream::Beginning ? step.offset
             : step.from == TagLib::IOStream::Current ? at + step.offset
                                                      : long(bytes.size()) + step.offset;
        QCOMPARE(stream.tell(), at);
        const QByteArray expected = at < bytes.size() ? bytes.mid(at, qsizetype(step.length)) : QByteArray();
        QCOMPARE(read(step.length), expected);
        at += long(expected.size());
        QCOMPARE(stream.tell(), at);
    }
}

QTEST_GUILESS_MAIN(TestOtherAudio)
#include "tst_otheraudio.moc"
