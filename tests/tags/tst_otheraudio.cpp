// FLAC, Ogg Vorbis and Opus files (made at run time by the reference encoders, tagged by mutagen): their format
// judged by content, their fields read, and the list's cells with the "other audio" setting on and off.

#include "library/extensionset.h"
#include "library/trackrecord.h"
#include "settings/appsettings.h"
#include "tags/genretable.h"
#include "tags/otheraudio.h"
#include "tags/tagfile.h"
#include "testmp3.h"

#include <QtTest>

class TestOtherAudio : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void formatsByContent();
    void fieldsRead_data();
    void fieldsRead();
    void listingFollowsTheSetting();

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
    settings.mp3Ext = 1;
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

QTEST_GUILESS_MAIN(TestOtherAudio)
#include "tst_otheraudio.moc"
