#include "tags/mpegaudio.h"

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

bool MpegAudio::Read(QByteArrayView head, qint64 audioBytes, MpegAudio &out)
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

        out = MpegAudio();
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
