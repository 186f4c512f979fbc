#pragma once

// Audio files of other formats for tests, made by the reference encoders at run time.

#include <QByteArray>
#include <QProcess>
#include <QStandardPaths>
#include <QString>

namespace testaudio {

// A FLAC file of `samples` 16-bit mono samples at 8 kHz (a pattern, not silence, so the encoder has frames to
// write), made by the flac encoder with its usual padding. False when flac is missing or fails.
inline bool MakeFlac(const QString &path, int samples)
{
    if (QStandardPaths::findExecutable(QStringLiteral("flac")).isEmpty())
        return false;
    QProcess encode;
    encode.start(QStringLiteral("flac"), {QStringLiteral("-s"), QStringLiteral("-f"), QStringLiteral("--force-raw-format"),
                                          QStringLiteral("--endian=little"), QStringLiteral("--sign=signed"),
                                          QStringLiteral("--channels=1"), QStringLiteral("--bps=16"),
                                          QStringLiteral("--sample-rate=8000"), QStringLiteral("-o"), path, QStringLiteral("-")});
    if (!encode.waitForStarted())
        return false;
    QByteArray pcm;
    pcm.reserve(2 * samples);
    for (int i = 0; i < samples; ++i) {
        pcm += char(i * 13);
        pcm += char(i % 7);
    }
    encode.write(pcm);
    encode.closeWriteChannel();
    return encode.waitForFinished(30000) && encode.exitStatus() == QProcess::NormalExit && encode.exitCode() == 0;
}

// An Ogg Vorbis file of `samples` 16-bit mono samples at 8 kHz, made by oggenc from raw PCM. False when oggenc is
// missing or fails.
inline bool MakeVorbis(const QString &path, int samples)
{
    if (QStandardPaths::findExecutable(QStringLiteral("oggenc")).isEmpty())
        return false;
    QProcess encode;
    encode.start(QStringLiteral("oggenc"), {QStringLiteral("-Q"), QStringLiteral("-r"), QStringLiteral("-B"), QStringLiteral("16"),
                                            QStringLiteral("-C"), QStringLiteral("1"), QStringLiteral("-R"), QStringLiteral("8000"),
                                            QStringLiteral("-o"), path, QStringLiteral("-")});
    if (!encode.waitForStarted())
        return false;
    QByteArray pcm;
    pcm.reserve(2 * samples);
    for (int i = 0; i < samples; ++i) {
        const int v = (i * 37) % 2000 - 1000;
        pcm += char(v & 0xFF);
        pcm += char((v >> 8) & 0xFF);
    }
    encode.write(pcm);
    encode.closeWriteChannel();
    return encode.waitForFinished(30000) && encode.exitStatus() == QProcess::NormalExit && encode.exitCode() == 0;
}

} // namespace testaudio
