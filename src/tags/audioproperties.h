#pragma once

#include <QByteArrayView>
#include <QString>

class QIODevice;

// What a file's audio is, read from its headers only (never by decoding): length, average bit rate, sample rate,
// channels and the coding's name.
struct AudioProperties
{
    qint64 lengthMs = 0;
    int bitrate = 0;        // kbit/s, the average for a variable rate
    bool variable = false;  // the rate varies (MPEG: a Xing or VBRI header says so)
    int sampleRate = 0;     // Hz
    int channels = 0;
    QString format;         // "MP3", "FLAC", "Ogg Vorbis", "Opus", "WAV", ...

    // The audio of any file Tunegrove knows, by what its bytes hold (MPEG audio after an ID3v2 tag, FLAC, Ogg
    // Vorbis and Opus, MP4, WAV). False, and `out` empty, for anything else.
    static bool Read(QIODevice &file, AudioProperties &out);

    // The length as the list shows it: "m:ss", or "h:mm:ss" from an hour on; empty for none.
    static QString LengthText(qint64 lengthMs);
    // The bit rate as the list shows it: "320", "~245" for a variable rate; empty for none.
    QString BitrateText() const;

    // MPEG audio: `head` is the bytes that follow the ID3v2 tag (a few KiB is plenty) of a stream of
    // `audioBytes` bytes (the file without its tags). The first frame (checked by the header where it ends), and
    // the Xing/Info (LAME) or VBRI header a VBR encoder puts in it; without one the rate is taken as constant
    // and the length follows from the size. False when no frame is found.
    static bool ReadMpeg(QByteArrayView head, qint64 audioBytes, AudioProperties &out);
    // FLAC: STREAMINFO, and the audio's size after the metadata blocks.
    static bool ReadFlac(QIODevice &file, AudioProperties &out);
    // Ogg Vorbis and Opus: the identification header of the first page and the granule position of the last.
    static bool ReadOgg(QIODevice &file, AudioProperties &out);
    // MP4 (M4A): the first audio track's media header and sample description (AAC or ALAC), and the size of the
    // media data.
    static bool ReadMp4(QIODevice &file, AudioProperties &out);
    // RIFF WAVE: the fmt chunk and the data chunk's size.
    static bool ReadWav(QIODevice &file, AudioProperties &out);
};
