#include "tags/audioproperties.h"

#include "tags/id3raw.h"
#include "tags/otherstructure.h"

#include <QIODevice>

#include <algorithm>
#include <cstdint>

namespace {

// One frame header's fields.
struct Header
{
    int version = 0;      // 1: MPEG-1, 2: MPEG-2, 25: MPEG-2.5
    int layer = 0;        // 1, 2 or 3
    int bitrate = 0;      // kbit/s
    int sampleRate = 0;
    int padding = 0;
    bool mono = false;
    int frameBytes = 0;
    int samples = 0;      // per frame
};

// The bit rates (kbit/s) by index: MPEG-1 layers I, II, III, then MPEG-2/2.5 layer I, and layers II and III.
constexpr int kBitrates[5][15] = {
    {0, 32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448},
    {0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384},
    {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320},
    {0, 32, 48, 56, 64, 80, 96, 112, 128, 144, 160, 176, 192, 224, 256},
    {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160},
};
constexpr int kSampleRates[3][3] = {{44100, 48000, 32000}, {22050, 24000, 16000}, {11025, 12000, 8000}};

std::uint32_t BigEndian(const char *at)
{
    const auto *b = reinterpret_cast<const unsigned char *>(at);
    return std::uint32_t(b[0]) << 24 | std::uint32_t(b[1]) << 16 | std::uint32_t(b[2]) << 8 | b[3];
}

// The header at `at`, when it is a valid one (free-format streams, whose frame size the header does not give,
// are not read).
bool ParseHeader(const char *at, Header &h)
{
    const std::uint32_t word = BigEndian(at);
    if ((word & 0xFFE00000u) != 0xFFE00000u)
        return false;
    const int versionBits = int(word >> 19) & 3, layerBits = int(word >> 17) & 3;
    const int bitrateIndex = int(word >> 12) & 15, rateIndex = int(word >> 10) & 3;
    if (versionBits == 1 || layerBits == 0 || bitrateIndex == 0 || bitrateIndex == 15 || rateIndex == 3)
        return false;
    h.version = versionBits == 3 ? 1 : versionBits == 2 ? 2 : 25;
    h.layer = 4 - layerBits;
    const int table = h.version == 1 ? h.layer - 1 : h.layer == 1 ? 3 : 4;
    h.bitrate = kBitrates[table][bitrateIndex];
    h.sampleRate = kSampleRates[h.version == 1 ? 0 : h.version == 2 ? 1 : 2][rateIndex];
    h.padding = int(word >> 9) & 1;
    h.mono = ((word >> 6) & 3) == 3;
    if (h.layer == 1) {
        h.samples = 384;
        h.frameBytes = (12 * h.bitrate * 1000 / h.sampleRate + h.padding) * 4;
    } else {
        h.samples = h.layer == 3 && h.version != 1 ? 576 : 1152;
        h.frameBytes = h.samples / 8 * h.bitrate * 1000 / h.sampleRate + h.padding;
    }
    return h.frameBytes >= 4;
}

bool SameStream(const Header &a, const Header &b)
{
    return a.version == b.version && a.layer == b.layer && a.sampleRate == b.sampleRate;
}

} // namespace

bool AudioProperties::ReadMpeg(QByteArrayView head, qint64 audioBytes, AudioProperties &out)
{
    const char *data = head.data();
    const qsizetype size = head.size();
    for (qsizetype at = 0; at + 4 <= size; ++at) {
        Header h;
        if (static_cast<unsigned char>(data[at]) != 0xFF || !ParseHeader(data + at, h))
            continue;
        // A second header where this frame ends tells a frame from a stray 0xFF in the data (a frame that ends
        // past what was read is taken on its own word).
        const qsizetype next = at + h.frameBytes;
        Header following;
        if (next + 4 <= size && !(ParseHeader(data + next, following) && SameStream(h, following)))
            continue;

        out = AudioProperties();
        out.sampleRate = h.sampleRate;
        out.channels = h.mono ? 1 : 2;
        out.format = QStringLiteral("MP%1").arg(h.layer);
        const qint64 streamBytes = std::max<qint64>(0, audioBytes - at);
        qint64 frames = 0, bytes = 0;
        // Xing/Info after the side information; VBRI 32 bytes after the header.
        const int sideInfo = h.version == 1 ? (h.mono ? 17 : 32) : (h.mono ? 9 : 17);
        const qsizetype xing = at + 4 + sideInfo;
        const qsizetype vbri = at + 4 + 32;
        if (h.layer == 3 && xing + 16 <= size &&
            (QByteArrayView(data + xing, 4) == "Xing" || QByteArrayView(data + xing, 4) == "Info")) {
            out.variable = QByteArrayView(data + xing, 4) == "Xing";
            const std::uint32_t flags = BigEndian(data + xing + 4);
            qsizetype field = xing + 8;
            if (flags & 1) {
                frames = BigEndian(data + field);
                field += 4;
            }
            if ((flags & 2) && field + 4 <= size)
                bytes = BigEndian(data + field);
        } else if (vbri + 18 <= size && QByteArrayView(data + vbri, 4) == "VBRI") {
            out.variable = true;
            bytes = BigEndian(data + vbri + 10);
            frames = BigEndian(data + vbri + 14);
        }
        if (frames > 0) {
            // The header frame holds no audio; the count is of the frames after it.
            out.lengthMs = frames * h.samples * 1000 / h.sampleRate;
            const qint64 audio = bytes > 0 ? bytes : streamBytes;
            out.bitrate = out.lengthMs > 0 ? int((audio * 8 + out.lengthMs / 2) / out.lengthMs) : h.bitrate;
            if (!out.variable)
                out.bitrate = h.bitrate;   // an Info header: constant rate, its own figure
        } else {
            out.variable = false;
            out.bitrate = h.bitrate;
            out.lengthMs = streamBytes * 8 / h.bitrate;
        }
        return true;
    }
    return false;
}

namespace {

// A little-endian number of `bytes` bytes at `at` of `data` (which holds it).
quint64 LittleEndian(const QByteArray &data, qsizetype at, int bytes)
{
    quint64 value = 0;
    for (int i = bytes - 1; i >= 0; --i)
        value = value << 8 | static_cast<unsigned char>(data[at + i]);
    return value;
}

// The average bit rate of `bytes` bytes played in `lengthMs`.
int AverageKbits(qint64 bytes, qint64 lengthMs) { return lengthMs > 0 ? int((bytes * 8 + lengthMs / 2) / lengthMs) : 0; }

} // namespace

bool AudioProperties::ReadFlac(QIODevice &file, AudioProperties &out)
{
    qint64 at = otheraudio::FlacBlocksStart(file);
    if (at < 0)
        return false;
    out = AudioProperties();
    out.format = QStringLiteral("FLAC");
    quint64 samples = 0;
    bool last = false, found = false;
    for (int block = 0; !last && block < 4096; ++block) {
        const QByteArray header = otheraudio::ReadAt(file, at, 4);
        if (header.size() < 4)
            return false;
        last = (static_cast<unsigned char>(header[0]) & 0x80) != 0;
        const qint64 length = qint64(static_cast<unsigned char>(header[1])) << 16 |
                              qint64(static_cast<unsigned char>(header[2])) << 8 | static_cast<unsigned char>(header[3]);
        if ((header[0] & 0x7F) == 0 && length >= 34) {
            const QByteArray info = otheraudio::ReadAt(file, at + 4, 34);
            if (info.size() < 34)
                return false;
            const auto b = [&](int i) { return quint64(static_cast<unsigned char>(info[i])); };
            out.sampleRate = int(b(10) << 12 | b(11) << 4 | b(12) >> 4);
            out.channels = int((b(12) >> 1) & 7) + 1;
            samples = (b(13) & 0x0F) << 32 | b(14) << 24 | b(15) << 16 | b(16) << 8 | b(17);
            found = true;
        }
        at += 4 + length;
    }
    if (!found || out.sampleRate == 0)
        return false;
    out.lengthMs = qint64(samples * 1000 / quint64(out.sampleRate));
    out.bitrate = AverageKbits(std::max<qint64>(0, file.size() - at), out.lengthMs);
    return true;
}

bool AudioProperties::ReadOgg(QIODevice &file, AudioProperties &out)
{
    const QByteArray first = otheraudio::ReadAt(file, 0, 27 + 255 + 64);
    if (first.size() < 28 || !first.startsWith("OggS"))
        return false;
    const int segments = static_cast<unsigned char>(first[26]);
    const qsizetype packet = 27 + segments;
    const QByteArray serial = first.mid(14, 4);
    out = AudioProperties();
    qint64 preSkip = 0, rate = 0;
    if (first.size() >= packet + 16 && first.mid(packet, 7) == "\x01vorbis") {
        out.format = QStringLiteral("Ogg Vorbis");
        out.channels = static_cast<unsigned char>(first[packet + 11]);
        rate = qint64(LittleEndian(first, packet + 12, 4));
        out.sampleRate = int(rate);
    } else if (first.size() >= packet + 16 && first.mid(packet, 8) == "OpusHead") {
        // Opus always decodes at 48 kHz; its granule counts 48 kHz samples from before the pre-skip.
        out.format = QStringLiteral("Opus");
        out.channels = static_cast<unsigned char>(first[packet + 9]);
        preSkip = qint64(LittleEndian(first, packet + 10, 2));
        rate = 48000;
        out.sampleRate = 48000;
    } else {
        return false;
    }
    if (rate <= 0)
        return false;
    // The last page of the stream, found from the end: a page is at most 65,307 bytes.
    const qint64 size = file.size();
    const qint64 from = std::max<qint64>(0, size - 65536 - 27);
    const QByteArray tail = otheraudio::ReadAt(file, from, size - from);
    for (qsizetype at = tail.lastIndexOf("OggS"); at >= 0; at = at > 0 ? tail.lastIndexOf("OggS", at - 1) : -1) {
        if (at + 27 > tail.size() || tail[at + 4] != 0 || tail.mid(at + 14, 4) != serial)
            continue;
        const qint64 granule = qint64(LittleEndian(tail, at + 6, 8));
        if (granule < 0)
            continue;   // -1: no packet ends on this page
        out.lengthMs = std::max<qint64>(0, granule - preSkip) * 1000 / rate;
        out.bitrate = AverageKbits(size, out.lengthMs);
        return true;
    }
    return false;
}

namespace {

// A box inside `data` between `from` and `end`: where its contents start and end. False when there is none of
// that type, or a box runs past `end`.
bool ChildBox(const QByteArray &data, qsizetype from, qsizetype end, QByteArrayView type, qsizetype &contents,
              qsizetype &contentsEnd)
{
    for (qsizetype at = from; at + 8 <= end;) {
        qint64 size = qint64(BigEndian(data.constData() + at));
        qsizetype header = 8;
        if (size == 1 && at + 16 <= end) {
            size = qint64(quint64(BigEndian(data.constData() + at + 8)) << 32 | BigEndian(data.constData() + at + 12));
            header = 16;
        } else if (size == 0) {
            size = end - at;
        }
        if (size < header || at + size > end)
            return false;
        if (QByteArrayView(data.constData() + at + 4, 4) == type) {
            contents = at + header;
            contentsEnd = at + qsizetype(size);
            return true;
        }
        at += qsizetype(size);
    }
    return false;
}

} // namespace

bool AudioProperties::ReadMp4(QIODevice &file, AudioProperties &out)
{
    QList<otheraudio::Mp4Box> boxes;
    otheraudio::Mp4TopBoxes(file, boxes);
    qint64 mediaBytes = 0;
    const otheraudio::Mp4Box *movie = nullptr;
    for (const otheraudio::Mp4Box &box : boxes) {
        if (box.type == "mdat")
            mediaBytes += box.size - box.header;
        else if (box.type == "moov")
            movie = &box;
    }
    if (!movie || movie->size > (64 << 20))
        return false;
    const QByteArray moov = otheraudio::ReadAt(file, movie->at + movie->header, movie->size - movie->header);
    // The first track whose handler is "soun".
    for (qsizetype at = 0, trak = 0, trakEnd = 0; ChildBox(moov, at, moov.size(), "trak", trak, trakEnd); at = trakEnd) {
        qsizetype mdia, mdiaEnd, box, boxEnd;
        if (!ChildBox(moov, trak, trakEnd, "mdia", mdia, mdiaEnd) || !ChildBox(moov, mdia, mdiaEnd, "hdlr", box, boxEnd) ||
            boxEnd - box < 12 || QByteArrayView(moov.constData() + box + 8, 4) != "soun")
            continue;
        if (!ChildBox(moov, mdia, mdiaEnd, "mdhd", box, boxEnd) || boxEnd - box < 24)
            return false;
        const bool wide = moov[box] == 1;   // version 1: 64-bit times and duration
        if (wide && boxEnd - box < 36)
            return false;
        const quint32 timescale = BigEndian(moov.constData() + box + (wide ? 20 : 12));
        const quint64 duration = wide ? quint64(BigEndian(moov.constData() + box + 24)) << 32 |
                                            BigEndian(moov.constData() + box + 28)
                                      : BigEndian(moov.constData() + box + 16);
        qsizetype minf, minfEnd, stbl, stblEnd, stsd, stsdEnd;
        if (timescale == 0 || !ChildBox(moov, mdia, mdiaEnd, "minf", minf, minfEnd) ||
            !ChildBox(moov, minf, minfEnd, "stbl", stbl, stblEnd) || !ChildBox(moov, stbl, stblEnd, "stsd", stsd, stsdEnd) ||
            stsdEnd - stsd < 8 + 36)
            return false;
        // The first sample entry: its size and type, 6 reserved bytes, a reference index, 8 more, then the
        // channels, the sample size, 4 bytes and the rate as 16.16.
        const qsizetype entry = stsd + 8;
        const QByteArrayView coding(moov.constData() + entry + 4, 4);
        out = AudioProperties();
        out.format = coding == "mp4a" ? QStringLiteral("AAC") : coding == "alac" ? QStringLiteral("ALAC")
                                                                              : QString::fromLatin1(coding.toByteArray());
        out.channels = int(BigEndian(moov.constData() + entry + 24) >> 16);
        out.sampleRate = int(BigEndian(moov.constData() + entry + 32) >> 16);
        out.lengthMs = qint64(duration * 1000 / timescale);
        out.bitrate = AverageKbits(mediaBytes, out.lengthMs);
        return out.lengthMs > 0;
    }
    return false;
}

bool AudioProperties::ReadWav(QIODevice &file, AudioProperties &out)
{
    const QByteArray riff = otheraudio::ReadAt(file, 0, 12);
    if (riff.size() < 12 || !riff.startsWith("RIFF") || riff.mid(8, 4) != "WAVE")
        return false;
    out = AudioProperties();
    out.format = QStringLiteral("WAV");
    qint64 byteRate = 0, dataBytes = -1;
    qint64 at = 12;
    for (int chunk = 0; chunk < 1024 && (byteRate == 0 || dataBytes < 0); ++chunk) {
        const QByteArray header = otheraudio::ReadAt(file, at, 8);
        if (header.size() < 8)
            break;
        const qint64 length = qint64(LittleEndian(header, 4, 4));
        if (header.startsWith("fmt ") && length >= 16) {
            const QByteArray fmt = otheraudio::ReadAt(file, at + 8, 16);
            if (fmt.size() < 16)
                return false;
            out.channels = int(LittleEndian(fmt, 2, 2));
            out.sampleRate = int(LittleEndian(fmt, 4, 4));
            byteRate = qint64(LittleEndian(fmt, 8, 4));
        } else if (header.startsWith("data")) {
            // A data chunk still being written may say 0 or too much: the file's end bounds it.
            dataBytes = std::min(length, file.size() - at - 8);
            if (length == 0 || length == 0xFFFFFFFF)
                dataBytes = file.size() - at - 8;
        }
        at += 8 + length + (length & 1);
    }
    if (byteRate <= 0 || dataBytes < 0)
        return false;
    out.lengthMs = dataBytes * 1000 / byteRate;
    out.bitrate = int(byteRate * 8 / 1000);
    return true;
}

bool AudioProperties::Read(QIODevice &file, AudioProperties &out)
{
    out = AudioProperties();
    const QByteArray start = otheraudio::ReadAt(file, 0, 64);
    if (start.startsWith("RIFF"))
        return ReadWav(file, out);
    if (start.startsWith("OggS"))
        return ReadOgg(file, out);
    // An ID3v2 tag (with its footer) before the audio; an ID3v1 tag and an APEv2 tag after it.
    qint64 audioStart = 0;
    if (start.size() >= id3::kHeaderSize && start.startsWith("ID3"))
        audioStart = id3::kHeaderSize + id3::SynchsafeAt(start, 6) + ((start[5] & 0x10) ? id3::kHeaderSize : 0);
    const QByteArray afterTag = otheraudio::ReadAt(file, audioStart, 16384);
    if (afterTag.startsWith("fLaC"))
        return ReadFlac(file, out);
    if (audioStart == 0 && start.mid(4, 4) == "ftyp")
        return ReadMp4(file, out);
    qint64 audioEnd = file.size();
    if (audioEnd - 128 >= audioStart && otheraudio::ReadAt(file, audioEnd - 128, 3) == "TAG")
        audioEnd -= 128;
    const QByteArray ape = otheraudio::ReadAt(file, audioEnd - 32, 32);
    if (audioEnd - 32 >= audioStart && ape.startsWith("APETAGEX")) {
        const qint64 apeSize = qint64(LittleEndian(ape, 12, 4)) + ((LittleEndian(ape, 20, 4) & 0x80000000u) ? 32 : 0);
        if (apeSize <= audioEnd - audioStart)
            audioEnd -= apeSize;
    }
    if (ReadMpeg(afterTag, audioEnd - audioStart, out))
        return true;
    out = AudioProperties();
    return false;
}

QString AudioProperties::LengthText(qint64 lengthMs)
{
    if (lengthMs <= 0)
        return QString();
    const qint64 seconds = (lengthMs + 500) / 1000;
    const QLatin1Char zero('0');
    if (seconds < 3600)
        return QStringLiteral("%1:%2").arg(seconds / 60).arg(seconds % 60, 2, 10, zero);
    return QStringLiteral("%1:%2:%3").arg(seconds / 3600).arg(seconds / 60 % 60, 2, 10, zero).arg(seconds % 60, 2, 10, zero);
}

QString AudioProperties::BitrateText() const
{
    if (bitrate <= 0)
        return QString();
    return variable ? QStringLiteral("~%1").arg(bitrate) : QString::number(bitrate);
}
