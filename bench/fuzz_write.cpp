// Fuzzes the tag writer: mutates seed files, then Open, change one field, Write, reopen. Fails on a crash, a
// hang (one round over 10 s), an untouched field that reads differently, a success that does not read back, a
// failed write that changed the file, or audio that moved. Not part of the test run; run it for minutes:
//   build/bench/tunegrove-fuzz-write SECONDS [SEED_FILE...]
// It prints its counts at the end and exits 1 when it found anything (the offending input is kept).

#include "tags/genretable.h"
#include "tags/tagfile.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QMap>
#include <QRandomGenerator>
#include <QTemporaryDir>

#include <csignal>
#include <cstdio>
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

void OnAlarm(int) { std::_Exit(3); }

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    GenreTable::Build();
    const int seconds = argc > 1 ? std::atoi(argv[1]) : 60;
    QList<QByteArray> seeds;
    for (int i = 2; i < argc; ++i)
        seeds.append(ReadAll(QString::fromLocal8Bit(argv[i])));
    const QString dataDir = QStringLiteral(TEST_DATA_DIR);
    for (const QString &sub : {QStringLiteral("/malformed"), QStringLiteral("/write-integrity")}) {
        for (const QString &name : QDir(dataDir + sub).entryList(QDir::Files))
            seeds.append(ReadAll(dataDir + sub + QLatin1Char('/') + name));
    }
    seeds.removeAll(QByteArray());
    if (seeds.isEmpty()) {
        std::fprintf(stderr, "no seed files\n");
        return 2;
    }

    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("fuzz.mp3"));
    QRandomGenerator rng(quint32(::getpid()) ^ quint32(QDateTime::currentMSecsSinceEpoch()));
    std::signal(SIGALRM, OnAlarm);
    QMap<QString, long> reasons;
    long rounds = 0, opened = 0, written = 0, refused = 0, failures = 0;
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < qint64(seconds) * 1000) {
        ++rounds;
        const QByteArray input = Mutate(seeds[qsizetype(rng.bounded(quint32(seeds.size())))], rng);
        WriteAll(path, input);
        ::alarm(10);
        TagFile tag;
        if (!tag.Open(path)) {
            ::alarm(0);
            continue;
        }
        ++opened;
        const Fields before = Of(tag);
        Fields expected = before;
        switch (rng.bounded(6)) {
        case 0: tag.title = expected.title = QStringLiteral("Fuzzed title %1").arg(rounds); break;
        case 1: tag.artist = expected.artist = QStringLiteral("Ärtist ★ %1").arg(rounds); break;
        case 2: tag.album = expected.album = QString(int(rng.bounded(300)), QLatin1Char('a')); break;
        case 3: tag.comment = expected.comment = QStringLiteral("c %1").arg(rounds); break;
        case 4: tag.genre = expected.genre = int(rng.bounded(126)); break;
        case 5: tag.year = expected.year = QStringLiteral("19%1").arg(rounds % 100, 2, 10, QLatin1Char('0')); break;
        }
        QString error;
        const bool ok = tag.Write(&error);
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
        }
        ::alarm(0);
        if (!fault.isEmpty()) {
            ++failures;
            const QString keep = QStringLiteral("fuzz-failure-%1.mp3").arg(failures);
            WriteAll(keep, input);
            std::fprintf(stderr, "%s: %s\n", qPrintable(keep), qPrintable(fault));
        }
    }
    std::printf("rounds %ld, opened %ld, written %ld, refused %ld, failures %ld in %d s\n", rounds, opened, written,
                refused, failures, seconds);
    for (auto it = reasons.cbegin(); it != reasons.cend(); ++it)
        std::printf("  refused %ld: %s\n", it.value(), qPrintable(it.key()));
    return failures ? 1 : 0;
}
