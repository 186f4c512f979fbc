// Audio read from its headers: MP3 files made by ffmpeg (LAME) at constant and variable rates, MPEG-1, 2 and 2.5,
// with and without a Xing/Info header, and WAV, FLAC, Ogg Vorbis and Opus files agree with ffprobe; a VBRI header;
// stray sync bytes.

#include "tags/audioproperties.h"
#include "testmp3.h"

#include <QBuffer>
#include <QDirIterator>
#include <QFile>
#include <QRandomGenerator>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

namespace {

bool Run(const QString &program, const QStringList &args, QByteArray *out = nullptr)
{
    QProcess p;
    p.start(program, args);
    const bool ok = p.waitForFinished(60000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
    if (out)
        *out = p.readAllStandardOutput();
    return ok;
}

// The header of a 128 kbit/s, 44.1 kHz, stereo MPEG-1 layer III frame of 417 bytes.
const QByteArray kFrameHeader = QByteArray::fromHex("fffb9000");

// The bytes after an ID3v2 tag, and the size of the audio without the tags.
QByteArray AfterTag(const QByteArray &file, qint64 &audioBytes)
{
    qsizetype start = 0;
    if (file.startsWith("ID3") && file.size() >= 10) {
        const auto b = [&](int i) { return qsizetype(static_cast<unsigned char>(file[i]) & 0x7F); };
        start = 10 + (b(6) << 21 | b(7) << 14 | b(8) << 7 | b(9));
    }
    audioBytes = file.size() - start - (file.size() >= 128 && file.mid(file.size() - 128, 3) == "TAG" ? 128 : 0);
    return file.mid(start, 16384);
}

// What ffprobe says of a file's first audio stream (duration, bit_rate, sample_rate, channels) and of the whole
// file (format_bit_rate).
QMap<QString, double> Probe(const QString &path)
{
    QByteArray probe;
    Run(QStringLiteral("ffprobe"), {"-v", "quiet", "-select_streams", "a:0", "-show_entries",
                                    "stream=duration,bit_rate,sample_rate,channels:format=bit_rate", "-of",
                                    "ini", path}, &probe);
    QMap<QString, double> found;
    QByteArray section;
    for (const QByteArray &line : probe.split('\n')) {
        if (line.startsWith('['))
            section = line;
        const qsizetype eq = line.indexOf('=');
        if (eq > 0) {
            const QString key = QString::fromLatin1(line.left(eq));
            found[section.startsWith("[format") ? QStringLiteral("format_") + key : key] = line.mid(eq + 1).toDouble();
        }
    }
    return found;
}

} // namespace

class TestAudioProperties : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void agreesWithFfprobe_data();
    void agreesWithFfprobe();
    void otherFormatsAgreeWithFfprobe_data();
    void otherFormatsAgreeWithFfprobe();
    void vbriHeader();
    void textForms();
    void oddFilesAreReadOrRefused();
    void strayBytesAreNoFrame();

private:
    QTemporaryDir m_dir;
};

void TestAudioProperties::agreesWithFfprobe_data()
{
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<bool>("variable");
    QTest::addColumn<int>("channels");
    QTest::newRow("CBR 128k, Info header") << QStringList{"-ac", "2", "-b:a", "128k"} << false << 2;
    QTest::newRow("CBR 192k, no header") << QStringList{"-ac", "2", "-b:a", "192k", "-write_xing", "0"} << false << 2;
    QTest::newRow("VBR, Xing header") << QStringList{"-ac", "2", "-q:a", "4"} << true << 2;
    QTest::newRow("MPEG-2 mono 32k, no header")
        << QStringList{"-ar", "22050", "-ac", "1", "-b:a", "32k", "-write_xing", "0"} << false << 1;
    QTest::newRow("mono VBR, Xing header") << QStringList{"-q:a", "2"} << true << 1;
    QTest::newRow("MPEG-2.5 8 kHz VBR") << QStringList{"-ar", "8000", "-ac", "1", "-q:a", "6"} << true << 1;
    QTest::newRow("ID3v1 at the end") << QStringList{"-ac", "2", "-b:a", "96k", "-write_id3v1", "1", "-metadata", "title=t"}
                                      << false << 2;
}

void TestAudioProperties::agreesWithFfprobe()
{
    QFETCH(QStringList, options);
    QFETCH(bool, variable);
    QFETCH(int, channels);
    if (QStandardPaths::findExecutable(QStringLiteral("ffmpeg")).isEmpty())
        QSKIP("no ffmpeg");
    // 7.3 seconds of a rising tone (noise would make every VBR frame the largest).
    const QString path = m_dir.filePath(QString::fromLatin1(QTest::currentDataTag()).replace(' ', '_') + ".mp3");
    QVERIFY(Run(QStringLiteral("ffmpeg"), QStringList{"-v", "quiet", "-y", "-f", "lavfi", "-i",
                                                      "sine=frequency=220:beep_factor=4:duration=7.3", "-c:a",
                                                      "libmp3lame"} + options + QStringList{path}));
    const QMap<QString, double> expected = Probe(path);
    qint64 audioBytes = 0;
    const QByteArray head = AfterTag(testmp3::ReadFile(path), audioBytes);
    AudioProperties audio;
    QVERIFY(AudioProperties::ReadMpeg(head, audioBytes, audio));
    QCOMPARE(audio.format, QStringLiteral("MP3"));
    QCOMPARE(audio.variable, variable);
    QCOMPARE(audio.channels, channels);
    QCOMPARE(audio.channels, int(expected.value("channels")));
    QCOMPARE(audio.sampleRate, int(expected.value("sample_rate")));
    QVERIFY2(qAbs(audio.lengthMs / 1000.0 - expected.value("duration")) <= 0.1,
             qPrintable(QStringLiteral("%1 ms against %2 s").arg(audio.lengthMs).arg(expected.value("duration"))));
    QVERIFY2(qAbs(audio.bitrate - expected.value("bit_rate") / 1000) <= 1,
             qPrintable(QStringLiteral("%1 kbit/s against %2").arg(audio.bitrate).arg(expected.value("bit_rate"))));
    // The same from the file, its tags found by the reader; an APEv2 tag appended changes nothing.
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadWrite));
    AudioProperties whole;
    QVERIFY(AudioProperties::Read(file, whole));
    QCOMPARE(whole.lengthMs, audio.lengthMs);
    QCOMPARE(whole.bitrate, audio.bitrate);
    // Items, then the footer: "APETAGEX", version 2000, the tag's size with the footer (4,000), no items
    // counted, no flags, 8 reserved bytes.
    const QByteArray footer = QByteArray("APETAGEX") + QByteArray("\xD0\x07\0\0", 4) + QByteArray("\xA0\x0F\0\0", 4) +
                              QByteArray(16, '\0');
    const QByteArray ape = QByteArray(4000 - 32, 'a') + footer;
    QVERIFY(file.seek(file.size()) && file.write(ape) == ape.size());
    AudioProperties withApe;
    QVERIFY(AudioProperties::Read(file, withApe));
    if (!variable)
        QCOMPARE(withApe.lengthMs, audio.lengthMs);
}

void TestAudioProperties::otherFormatsAgreeWithFfprobe_data()
{
    QTest::addColumn<QString>("ext");
    QTest::addColumn<QString>("format");
    QTest::newRow("wav") << "wav" << "WAV";
    QTest::newRow("flac") << "flac" << "FLAC";
    QTest::newRow("vorbis") << "ogg" << "Ogg Vorbis";
    QTest::newRow("opus") << "opus" << "Opus";
    QTest::newRow("aac") << "m4a" << "AAC";
    QTest::newRow("alac") << "alac.m4a" << "ALAC";
}

void TestAudioProperties::otherFormatsAgreeWithFfprobe()
{
    QFETCH(QString, ext);
    QFETCH(QString, format);
    if (QStandardPaths::findExecutable(QStringLiteral("ffmpeg")).isEmpty())
        QSKIP("no ffmpeg");
    const QString wav = m_dir.filePath(QStringLiteral("tone.wav"));
    if (!QFile::exists(wav))
        QVERIFY(Run(QStringLiteral("ffmpeg"), {"-v", "quiet", "-y", "-f", "lavfi", "-i",
                                               "sine=frequency=330:beep_factor=4:duration=6.7", "-ac", "2", "-ar",
                                               "44100", "-c:a", "pcm_s16le", wav}));
    const QString path = m_dir.filePath(QStringLiteral("tone.") + ext);
    if (ext == QLatin1String("flac"))
        QVERIFY(Run(QStringLiteral("flac"), {"-s", "-f", "--no-padding", "-o", path, wav}));
    else if (ext == QLatin1String("ogg"))
        QVERIFY(Run(QStringLiteral("oggenc"), {"-Q", "-o", path, wav}));
    else if (ext == QLatin1String("opus"))
        QVERIFY(Run(QStringLiteral("opusenc"), {"--quiet", wav, path}));
    else if (ext.endsWith(QLatin1String("m4a")))
        QVERIFY(Run(QStringLiteral("ffmpeg"), {"-v", "quiet", "-y", "-i", wav, "-c:a",
                                               ext == QLatin1String("m4a") ? "aac" : "alac", path}));
    const QMap<QString, double> expected = Probe(path);
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    AudioProperties audio;
    const bool read = ext == QLatin1String("wav")          ? AudioProperties::ReadWav(file, audio)
                      : ext == QLatin1String("flac")       ? AudioProperties::ReadFlac(file, audio)
                      : ext.endsWith(QLatin1String("m4a")) ? AudioProperties::ReadMp4(file, audio)
                                                           : AudioProperties::ReadOgg(file, audio);
    QVERIFY(read);
    QCOMPARE(audio.format, format);
    AudioProperties any;
    QVERIFY(AudioProperties::Read(file, any));
    QCOMPARE(any.format, format);
    QCOMPARE(any.lengthMs, audio.lengthMs);
    QCOMPARE(audio.channels, int(expected.value("channels")));
    QCOMPARE(audio.sampleRate, int(expected.value("sample_rate")));
    QVERIFY2(qAbs(audio.lengthMs / 1000.0 - expected.value("duration")) <= 0.1,
             qPrintable(QStringLiteral("%1 ms against %2 s").arg(audio.lengthMs).arg(expected.value("duration"))));
    // The whole file's average for Ogg and FLAC (the stream's figure is a nominal one for Vorbis, and none for
    // FLAC); the stream's, from its packets, for WAV and MP4.
    const bool streamFigure = ext == QLatin1String("wav") || ext.endsWith(QLatin1String("m4a"));
    const double kbits = expected.value(streamFigure ? "bit_rate" : "format_bit_rate") / 1000;
    QVERIFY2(qAbs(audio.bitrate - kbits) <= 1, qPrintable(QStringLiteral("%1 kbit/s against %2").arg(audio.bitrate).arg(kbits)));
    // Not another format's file.
    AudioProperties other;
    QFile again(path);
    QVERIFY(again.open(QIODevice::ReadOnly));
    if (ext != QLatin1String("wav"))
        QVERIFY(!AudioProperties::ReadWav(again, other));
    if (ext != QLatin1String("flac"))
        QVERIFY(!AudioProperties::ReadFlac(again, other));
    // Cut short anywhere, or with bytes of its headers damaged, the file is read or refused, never read past.
    const QByteArray whole = testmp3::ReadFile(path);
    QRandomGenerator random(11);
    for (int round = 0; round < 300; ++round) {
        QByteArray bytes = whole.left(round < 100 ? round * 97 : whole.size());
        for (int flip = 0; round >= 100 && flip < 8; ++flip)
            bytes[random.bounded(int(std::min<qsizetype>(bytes.size(), 8192)))] = char(random.bounded(256));
        QBuffer buffer(&bytes);
        QVERIFY(buffer.open(QIODevice::ReadOnly));
        AudioProperties damaged;
        AudioProperties::ReadWav(buffer, damaged);
        AudioProperties::ReadFlac(buffer, damaged);
        AudioProperties::ReadOgg(buffer, damaged);
        AudioProperties::ReadMp4(buffer, damaged);
        AudioProperties::ReadMpeg(QByteArrayView(bytes.constData(), std::min<qsizetype>(bytes.size(), 16384)), bytes.size(), damaged);
    }
}

void TestAudioProperties::vbriHeader()
{
    // A 128 kbit/s MPEG-1 layer III frame carrying a VBRI header: 1,000 frames in 3,000,000 bytes, followed by an
    // ordinary frame.
    QByteArray frame = kFrameHeader + QByteArray(413, '\0');
    QByteArray vbri("VBRI\0\1\0\0\0\x4b", 10);
    const auto put = [&](quint32 v) {
        for (int shift = 24; shift >= 0; shift -= 8)
            vbri += char(v >> shift);
    };
    put(3000000);
    put(1000);
    frame.replace(36, vbri.size(), vbri);
    QByteArray next = frame.left(4) + QByteArray(413, '\0');
    AudioProperties audio;
    QVERIFY(AudioProperties::ReadMpeg(frame + next, 3000000, audio));
    QVERIFY(audio.variable);
    QCOMPARE(audio.lengthMs, qint64(1000) * 1152 * 1000 / 44100);   // 26.1 s
    QCOMPARE(audio.bitrate, int((3000000LL * 8 + audio.lengthMs / 2) / audio.lengthMs));
    QCOMPARE(audio.sampleRate, 44100);
    QCOMPARE(audio.channels, 2);
}

void TestAudioProperties::strayBytesAreNoFrame()
{
    // A sync pattern in other data is passed over unless another header stands where its frame would end.
    QByteArray junk(600, 'x');
    junk.replace(10, kFrameHeader.size(), kFrameHeader);
    AudioProperties audio;
    QVERIFY(!AudioProperties::ReadMpeg(junk, junk.size(), audio));
    QVERIFY(!AudioProperties::ReadMpeg(QByteArray(), 0, audio));
    QVERIFY(!AudioProperties::ReadMpeg(QByteArray(5000, char(0xFF)), 5000, audio));   // bit rate index 15: never valid
    // The same header with a frame after it is found, after the junk before it.
    QByteArray stream = junk.left(10) + junk.mid(10, 4) + QByteArray(413, '\0') + junk.mid(10, 4) + QByteArray(413, '\0');
    QVERIFY(AudioProperties::ReadMpeg(stream, stream.size(), audio));
    QCOMPARE(audio.bitrate, 128);
    QCOMPARE(audio.lengthMs, qint64(stream.size() - 10) * 8 / 128);
}

void TestAudioProperties::textForms()
{
    QCOMPARE(AudioProperties::LengthText(0), QString());
    QCOMPARE(AudioProperties::LengthText(59499), QStringLiteral("0:59"));
    QCOMPARE(AudioProperties::LengthText(59500), QStringLiteral("1:00"));
    QCOMPARE(AudioProperties::LengthText(3599000), QStringLiteral("59:59"));
    QCOMPARE(AudioProperties::LengthText(3600000), QStringLiteral("1:00:00"));
    QCOMPARE(AudioProperties::LengthText(3723000), QStringLiteral("1:02:03"));
    AudioProperties audio;
    QCOMPARE(audio.BitrateText(), QString());
    audio.bitrate = 320;
    QCOMPARE(audio.BitrateText(), QStringLiteral("320"));
    audio.variable = true;
    audio.bitrate = 245;
    QCOMPARE(audio.BitrateText(), QStringLiteral("~245"));
    // Nothing Tunegrove knows: no properties.
    QByteArray text("just some text, no audio at all");
    QBuffer buffer(&text);
    QVERIFY(buffer.open(QIODevice::ReadOnly));
    QVERIFY(!AudioProperties::Read(buffer, audio));
    QCOMPARE(audio.lengthMs, qint64(0));
}

void TestAudioProperties::oddFilesAreReadOrRefused()
{
    // Every damaged and odd file of the test data, whole and cut at its middle: read or refused, and what is read
    // is sane.
    QDirIterator files(QStringLiteral(TEST_DATA_DIR), QDir::Files, QDirIterator::Subdirectories);
    int read = 0, seen = 0;
    while (files.hasNext()) {
        const QByteArray whole = testmp3::ReadFile(files.next());
        for (const QByteArray &bytes : {whole, whole.left(whole.size() / 2)}) {
            QByteArray copy = bytes;
            QBuffer buffer(&copy);
            QVERIFY(buffer.open(QIODevice::ReadOnly));
            AudioProperties audio;
            ++seen;
            if (!AudioProperties::Read(buffer, audio))
                continue;
            ++read;
            QVERIFY2(audio.lengthMs >= 0 && audio.bitrate >= 0 && audio.sampleRate > 0 && audio.channels > 0 &&
                         !audio.format.isEmpty(),
                     qPrintable(files.filePath()));
        }
    }
    QVERIFY(seen >= 2 * 20);
    QVERIFY(read > 0);
}

QTEST_GUILESS_MAIN(TestAudioProperties)
#include "tst_audioproperties.moc"
