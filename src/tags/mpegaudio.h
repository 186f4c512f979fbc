#pragma once

#include <QByteArrayView>
#include <QString>

// What an MPEG audio stream is, read from its headers only: the first frame, and the Xing/Info (LAME) or VBRI
// header a VBR encoder puts in it; without one the stream is taken as constant bit rate and its length follows
// from its size.
struct MpegAudio
{
    qint64 lengthMs = 0;
    int bitrate = 0;        // kbit/s, the average for a variable rate
    bool variable = false;  // a Xing or VBRI header says the rate varies
    int sampleRate = 0;     // Hz
    int channels = 0;
    QString format;         // "MP3", "MP2" or "MP1"

    // Reads `head`, the bytes that follow the ID3v2 tag (a few KiB is plenty), of a stream of `audioBytes` bytes
    // (the file without its tags). False when no two consecutive valid frame headers are found in it.
    static bool Read(QByteArrayView head, qint64 audioBytes, MpegAudio &out);
};
