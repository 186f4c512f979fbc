// Fuzzes the tag writer: mutates seed files, then Open, change one field (or set or remove the front cover), Write,
// reopen. Fails on a crash, a hang (one round over 10 s), an untouched field or front cover that reads
// differently, a success that does not read back, a failed write that changed the file, or audio that moved. Not part of the test run; run it for minutes:
//   build/bench/tunegrove-fuzz-write SECONDS [SEED_FILE...]
// It prints its counts at the end and exits 1 when it found anything (the offending input is kept).
//   build/bench/tunegrove-fuzz-write --other SECONDS
// does the same for FLAC, Ogg Vorbis, Opus and (with ffmpeg) M4A files it makes with the encoders and tags with
// mutagen, and also checks that the decoded audio of every written file is what the input decoded to.
//   build/bench/tunegrove-fuzz-write --journal SECONDS
// writes under the undo journal, which fails at a random point of each entry (its size limit), with an undo of
// the same journal running at the same time in one round of four; every write must still read back, and an
// undo must give back the input byte for byte when the journal held the write, or leave the written file.

#include "journal/journal.h"
#include "journal/undo.h"
#include "tags/genretable.h"
#include "tags/tagfile.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QProcess>
#include <QStandardPaths>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QMap>
#include <QRandomGenerator>
#include <QTemporaryDir>

#include <csignal>
#include <cstdio>
#include <memory>
#include <thread>
#include <fcntl.h>
#include <unistd.h>

namespace {

QByteArray ReadAll(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

bool WriteAll(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(bytes) == bytes.size();
}

QByteArray Mutate(QByteArray b, QRandomGenerator &rng)
{
    const int edits = 1 + int(rng.bounded(4));
    for (int e = 0; e < edits && !b.isEmpty(); ++e) {
        // Most edits land in the tag, where the interesting faults are.
        const qsizetype span = std::min<qsizetype>(b.size(), rng.bounded(4) == 0 ? b.size() : 400);
        const qsizetype at = qsizetype(rng.bounded(quint32(span)));
        switch (rng.bounded(7)) {
        case 0: b[at] = char(uchar(b[at]) ^ (1u << rng.bounded(8))); break;
        case 1: b[at] = char(rng.bounded(256)); break;
        case 2: b.insert(at, char(rng.bounded(256))); break;
        case 3: b.remove(at, 1 + rng.bounded(8)); break;
        case 4: if (b.size() > 5) b[5] = char(rng.bounded(256)); break;                         // header flags
        case 5: if (b.size() > 9) b[6 + rng.bounded(4)] = char(rng.bounded(128)); break;       // tag size
        case 6: b.insert(at, QByteArray(int(rng.bounded(12)), '\0')); break;
        }
    }
    return b;
}

struct Fields
{
    QString title, artist, album, year, track, comment;
    int genre;
};

Fields Of(const TagFile &t) { return {t.title, t.artist, t.album, t.year, t.track, t.comment, t.genre}; }

QString Diff(const Fields &a, const Fields &b)
{
    QString out;
    auto cmp = [&](const char *n, const QString &x, const QString &y) {
        if (x != y)
            out += QStringLiteral("%1: \"%2\" -> \"%3\"; ").arg(QLatin1String(n), x, y);
    };
    cmp("title", a.title, b.title);
    cmp("artist", a.artist, b.artist);
    cmp("album", a.album, b.album);
    cmp("year", a.year, b.year);
    cmp("track", a.track, b.track);
    cmp("comment", a.comment, b.comment);
    cmp("genre", QString::number(a.genre), QString::number(b.genre));
    return out;
}

// The input of the round in hand, kept when it hangs.
QByteArray g_input;
QByteArray g_hangName("fuzz-hang.bin");

void OnAlarm(int)
{
    const int fd = ::open(g_hangName.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd >= 0) {
        if (::write(fd, g_input.constData(), size_t(g_input.size())) < 0) {
        }
        ::close(fd);
    }
    static const char kSaid[] = "a round hung for 10 s; its input is kept as fuzz-hang.*\n";
    if (::write(2, kSaid, sizeof kSaid - 1) < 0) {
    }
    std::_Exit(3);
}

// What a program prints; empty when it fails (a decoder that cannot decode its input).
QByteArray Output(const QString &program, const QStringList &args)
{
    QProcess p;
    p.start(program, args);
    if (!p.waitForFinished(60000) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0)
        return QByteArray();
    return p.readAllStandardOutput();
}

// The MD5 of a file's decoded audio, by the format's reference decoder.
QByteArray Decoded(const QString &path, const QString &ext)
{
    QByteArray pcm;
    if (ext == QLatin1String("flac"))
        pcm = Output(QStringLiteral("flac"), {QStringLiteral("-d"), QStringLiteral("-s"), QStringLiteral("-c"), path});
    else if (ext == QLatin1String("ogg"))
        pcm = Output(QStringLiteral("oggdec"), {QStringLiteral("-Q"), QStringLiteral("-o"), QStringLiteral("-"), path});
    else if (ext == QLatin1String("opus"))
        pcm = Output(QStringLiteral("opusdec"), {QStringLiteral("--quiet"), path, QStringLiteral("-")});
    else
        return Output(QStringLiteral("ffmpeg"), {QStringLiteral("-v"), QStringLiteral("quiet"), QStringLiteral("-i"), path,
                                                 QStringLiteral("-map"), QStringLiteral("0:a"), QStringLiteral("-f"),
                                                 QStringLiteral("md5"), QStringLiteral("-")});
    return pcm.isEmpty() ? QByteArray() : QCryptographicHash::hash(pcm, QCryptographicHash::Md5);
}

// Seed files of the other formats, tagged by another tool with a picture and a field Tunegrove does not show.
QMap<QString, QByteArray> OtherSeeds(const QString &folder)
{
    QMap<QString, QByteArray> seeds;
    QProcess::execute(QStringLiteral("/usr/bin/python3"), {QStringLiteral("-c"), QStringLiteral(R"(
import math, struct, sys, wave
w = wave.open(sys.argv[1] + "/tone.wav", "wb"); w.setnchannels(1); w.setsampwidth(2); w.setframerate(44100)
w.writeframes(b"".join(struct.pack("<h", int(8000 * math.sin(i * 0.05))) for i in range(11025))); w.close()
)"), folder});
    const QString wav = folder + QStringLiteral("/tone.wav");
    QProcess::execute(QStringLiteral("flac"), {QStringLiteral("-s"), QStringLiteral("-f"), QStringLiteral("-o"), folder + QStringLiteral("/s.flac"), wav});
    QProcess::execute(QStringLiteral("oggenc"), {QStringLiteral("-Q"), QStringLiteral("-o"), folder + QStringLiteral("/s.ogg"), wav});
    QProcess::execute(QStringLiteral("opusenc"), {QStringLiteral("--quiet"), wav, folder + QStringLiteral("/s.opus")});
    if (!QStandardPaths::findExecutable(QStringLiteral("ffmpeg")).isEmpty())
        QProcess::execute(QStringLiteral("ffmpeg"), {QStringLiteral("-v"), QStringLiteral("quiet"), QStringLiteral("-y"), QStringLiteral("-i"), wav,
                                                     QStringLiteral("-c:a"), QStringLiteral("aac"), folder + QStringLiteral("/s.m4a")});
    QProcess::execute(QStringLiteral("/usr/bin/python3"), {QStringLiteral("-c"), QStringLiteral(R"(
import sys, os, mutagen
from mutagen.flac import Picture
d = sys.argv[1]
for name in ("s.flac", "s.ogg", "s.opus", "s.m4a"):
    path = os.path.join(d, name)
    if not os.path.exists(path):
        continue
    f = mutagen.File(path)
    if name.endswith(".m4a"):
        from mutagen.mp4 import MP4Cover
        f["©nam"] = "Seed title"; f["©ART"] = "Seed artist"; f["----:com.example:extra"] = [b"kept"]
        f["covr"] = [MP4Cover(bytes([0x89]) + b"PNG" + bytes(300), imageformat=MP4Cover.FORMAT_PNG)]
    else:
        f["title"] = "Seed title"; f["artist"] = "Seed artist"; f["extra"] = "kept"
        if name.endswith(".flac"):
            p = Picture(); p.type = 3; p.mime = "image/png"; p.data = bytes([0x89]) + b"PNG" + bytes(300); f.add_picture(p)
    f.save()
)"), folder});
    for (const char *ext : {"flac", "ogg", "opus", "m4a"}) {
        const QByteArray bytes = ReadAll(folder + QStringLiteral("/s.") + QLatin1String(ext));
        if (!bytes.isEmpty())
            seeds.insert(QLatin1String(ext), bytes);
    }
    return seeds;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    GenreTable::Build();
    const bool other = argc > 1 && qstrcmp(argv[1], "--other") == 0;
    const bool journaled = argc > 1 && qstrcmp(argv[1], "--journal") == 0;
    const int first = other || journaled ? 2 : 1;
    long journalFailures = 0, undone = 0, concurrentUndos = 0;
    const int seconds = argc > first ? std::atoi(argv[first]) : 60;
    QTemporaryDir dir;
    QList<QByteArray> seeds;
    QStringList extensions;   // of each seed
    if (other) {
        const QMap<QString, QByteArray> made = OtherSeeds(dir.path());
        for (auto it = made.cbegin(); it != made.cend(); ++it) {
            seeds.append(it.value());
            extensions.append(it.key());
        }
        // And the damaged ones kept for the tests (a FLAC whose comments run past their block, an MP4 whose
        // chunk table runs past its box).
        const QString kept = QStringLiteral(TEST_DATA_DIR "/other");
        for (const QString &name : QDir(kept).entryList(QDir::Files)) {
            seeds.append(ReadAll(kept + QLatin1Char('/') + name));
            extensions.append(name.mid(name.lastIndexOf(QLatin1Char('.')) + 1));
        }
    } else {
        for (int i = first + 1; i < argc; ++i)
            seeds.append(ReadAll(QString::fromLocal8Bit(argv[i])));
        const QString dataDir = QStringLiteral(TEST_DATA_DIR);
        for (const QString &sub : {QStringLiteral("/malformed"), QStringLiteral("/write-integrity")}) {
            for (const QString &name : QDir(dataDir + sub).entryList(QDir::Files))
                seeds.append(ReadAll(dataDir + sub + QLatin1Char('/') + name));
        }
        seeds.removeAll(QByteArray());
        while (extensions.size() < seeds.size())
            extensions.append(QStringLiteral("mp3"));
    }
    if (seeds.isEmpty()) {
        std::fprintf(stderr, "no seed files\n");
        return 2;
    }
    long audioChecks = 0;
    QRandomGenerator rng(quint32(::getpid()) ^ quint32(QDateTime::currentMSecsSinceEpoch()));
    std::signal(SIGALRM, OnAlarm);
    QMap<QString, long> reasons;
    long rounds = 0, opened = 0, written = 0, refused = 0, failures = 0;
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < qint64(seconds) * 1000) {
        ++rounds;
        const qsizetype seed = qsizetype(rng.bounded(quint32(seeds.size())));
        const QString path = dir.filePath(QStringLiteral("fuzz.") + extensions[seed]);
        const QByteArray input = Mutate(seeds[seed], rng);
        WriteAll(path, input);
        g_input = input;
        g_hangName = (QStringLiteral("fuzz-hang.") + extensions[seed]).toLatin1();
        ::alarm(10);
        TagFile tag;
        if (!tag.Open(path)) {
            ::alarm(0);
            continue;
        }
        ++opened;
        const Fields before = Of(tag);
        Fields expected = before;
        Picture coverBefore;
        const bool hadCover = TagFile::ReadFrontCover(path, coverBefore);
        int coverChange = 0;   // 1: set, 2: removed
        static const QByteArray kImage = QByteArray("\x89PNG\r\n\x1A\n", 8) + QByteArray(700, 'p');
        switch (rng.bounded(other ? 6 : 8)) {
        case 0: tag.title = expected.title = QStringLiteral("Fuzzed title %1").arg(rounds); break;
        case 1: tag.artist = expected.artist = QStringLiteral("Ärtist ★ %1").arg(rounds); break;
        case 2: tag.album = expected.album = QString(int(rng.bounded(300)), QLatin1Char('a')); break;
        case 3: tag.comment = expected.comment = QStringLiteral("c %1").arg(rounds); break;
        case 4: tag.genre = expected.genre = int(rng.bounded(126)); break;
        case 5: tag.year = expected.year = QStringLiteral("19%1").arg(rounds % 100, 2, 10, QLatin1Char('0')); break;
        case 6: tag.SetFrontCover(Picture{kImage, QStringLiteral("image/png")}); coverChange = 1; break;
        case 7: tag.RemoveFrontCover(); coverChange = 2; break;
        }
        QString error;
        const QString journalFolder = dir.filePath(QStringLiteral("undo"));
        std::unique_ptr<journal::Recorder> recorder;
        std::thread concurrent;
        if (journaled) {
            QDir(journalFolder).removeRecursively();
            // The entry's limit falls anywhere from before the header to past the whole record.
            recorder = std::make_unique<journal::Recorder>(journalFolder, qint64(rng.bounded(2 * input.size() + 200)));
            recorder->Begin(QStringLiteral("fuzz"));
            if (rng.bounded(4) == 0) {
                ++concurrentUndos;
                concurrent = std::thread([journalFolder] { journal::Undo(journalFolder); });
            }
        }
        const bool ok = tag.Write(&error);
        bool heldByJournal = false;
        if (recorder) {
            if (concurrent.joinable())
                concurrent.join();
            journalFailures += recorder->FailedMidway() ? 1 : 0;
            heldByJournal = !recorder->FailedMidway() && recorder->Error().isEmpty() && recorder->Changes() == 1;
            recorder.reset();
        }
        QString fault;
        if (!ok) {
            ++refused;
            // Count refusals by reason, with the path and any quoted values taken out.
            QString reason = error.mid(path.size() + 2);
            reason = reason.left(reason.indexOf(QLatin1Char('"')));
            ++reasons[reason];
            if (ReadAll(path) != input)
                fault = QStringLiteral("failed write changed the file: ") + error;
        } else {
            ++written;
            TagFile again;
            if (!again.Open(path))
                fault = QStringLiteral("written file cannot be read");
            else if (!Diff(expected, Of(again)).isEmpty())
                fault = QStringLiteral("reads back wrong: ") + Diff(expected, Of(again));
            Picture coverAfter;
            const bool hasCover = TagFile::ReadFrontCover(path, coverAfter);
            if (fault.isEmpty() && coverChange == 1 && (!hasCover || coverAfter.data != kImage))
                fault = QStringLiteral("the front cover set does not read back");
            else if (fault.isEmpty() && coverChange == 2 && hasCover)
                fault = QStringLiteral("a front cover is left after its removal");
            else if (fault.isEmpty() && coverChange == 0 && !other &&
                     (hasCover != hadCover || coverAfter.data != coverBefore.data))
                fault = QStringLiteral("the front cover changed though only a field was written");
            if (fault.isEmpty() && other) {
                // The audio as a player hears it: what the input decoded to.
                ::alarm(0);
                const QString original = dir.filePath(QStringLiteral("input.") + extensions[seed]);
                WriteAll(original, input);
                // Only an input a player could decode says what the audio is.
                const QByteArray heard = Decoded(original, extensions[seed]);
                if (!heard.isEmpty()) {
                    ++audioChecks;
                    if (Decoded(path, extensions[seed]) != heard)
                        fault = QStringLiteral("decoded audio changed");
                }
            }
        }
        if (fault.isEmpty() && journaled && ok) {
            // The write is undone whole when the journal held it; otherwise the file stays as written.
            const QByteArray writtenBytes = ReadAll(path);
            const journal::Outcome outcome = journal::Undo(journalFolder);
            const QByteArray now = ReadAll(path);
            if (heldByJournal && now != input)
                fault = QStringLiteral("undo did not give back the input: ") + outcome.skipped.join(QLatin1Char(';')) +
                        outcome.error;
            else if (!heldByJournal && now != input && now != writtenBytes)
                fault = QStringLiteral("undo of an entry without the write changed the file");
            undone += now == input ? 1 : 0;
        }
        ::alarm(0);
        if (!fault.isEmpty()) {
            ++failures;
            const QString keep = QStringLiteral("fuzz-failure-%1.%2").arg(failures).arg(extensions[seed]);
            WriteAll(keep, input);
            std::fprintf(stderr, "%s: %s\n", qPrintable(keep), qPrintable(fault));
        }
    }
    std::printf("rounds %ld, opened %ld, written %ld, refused %ld, failures %ld in %d s\n", rounds, opened, written,
                refused, failures, seconds);
    if (journaled)
        std::printf("  journal failed midway in %ld writes, %ld undos ran beside a write, %ld writes undone to the "
                    "input byte for byte\n", journalFailures, concurrentUndos, undone);
    if (other)
        std::printf("  decoded audio compared after %ld writes of decodable inputs (seeds: %s)\n", audioChecks,
                    qPrintable(extensions.join(QLatin1Char(' '))));
    for (auto it = reasons.cbegin(); it != reasons.cend(); ++it)
        std::printf("  refused %ld: %s\n", it.value(), qPrintable(it.key()));
    return failures ? 1 : 0;
}
