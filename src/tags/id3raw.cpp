#include "tags/id3raw.h"

#include <taglib/id3v2synchdata.h>
#include <taglib/tbytevector.h>

#include <algorithm>

namespace id3 {

TagLib::ByteVector ToBytes(const QByteArray &bytes) { return TagLib::ByteVector(bytes.constData(), uint(bytes.size())); }

QByteArray FromBytes(const TagLib::ByteVector &bytes) { return QByteArray(bytes.data(), qsizetype(bytes.size())); }

quint32 SynchsafeAt(const QByteArray &b, qsizetype at)
{
    return (quint32(uchar(b[at])) << 21) | (quint32(uchar(b[at + 1])) << 14) | (quint32(uchar(b[at + 2])) << 7) |
           quint32(uchar(b[at + 3]));
}

quint32 BigEndianAt(const QByteArray &b, qsizetype at)
{
    return (quint32(uchar(b[at])) << 24) | (quint32(uchar(b[at + 1])) << 16) | (quint32(uchar(b[at + 2])) << 8) |
           quint32(uchar(b[at + 3]));
}

namespace {

// A value in four bytes, most significant first, each holding `bits` bits (7 in a synchsafe number, 8 plain).
QByteArray FourBytes(quint32 value, int bits)
{
    QByteArray out(4, '\0');
    for (int i = 3; i >= 0; --i) {
        out[i] = char(value & ((1u << bits) - 1));
        value >>= bits;
    }
    return out;
}

} // namespace

QByteArray Synchsafe(quint32 value) { return FourBytes(value, 7); }



// Reads the ID3v2 header and, when valid, the whole tag; then the last 128 bytes. Returns 0 or an errno.
int ReadRawTags(const platform::ReadOnlyFile &file, RawTags &raw)
{
    raw.status = file.Status();
    const qint64 size = raw.status.size;
    // The first bytes hold the ID3v2 header, or tell another format (FLAC, Ogg, MP4) by its signature.
    QByteArray &header = raw.start;
    if (const int error = file.ReadAt(0, kStartBytes, header))
        return error;
    if (header.size() >= kHeaderSize && header.startsWith("ID3") && uchar(header[3]) >= 2 && uchar(header[3]) <= 4 &&
        uchar(header[4]) != 0xFF && (uchar(header[6]) | uchar(header[7]) | uchar(header[8]) | uchar(header[9])) < 0x80) {
        const bool footer = uchar(header[3]) == 4 && (uchar(header[5]) & 0x10);
        const qint64 declared = kHeaderSize + SynchsafeAt(header, 6) + (footer ? kHeaderSize : 0);
        raw.v2RunsPastEnd = declared > size;
        raw.v2End = std::min(declared, size);
        if (declared > kMaxTagSize) {
            raw.v2TooLarge = true;
            return 0;
        }
        // With the four bytes after it, which tell a FLAC stream behind the tag.
        if (const int error = file.ReadAt(0, raw.v2End + 4, raw.v2))
            return error;
        raw.afterTag = raw.v2.mid(raw.v2End);
        raw.v2.truncate(raw.v2End);
    }
    raw.v1Start = size;
    if (size - kV1Size >= raw.v2End) {
        QByteArray tail;
        if (const int error = file.ReadAt(size - kV1Size, kV1Size, tail))
            return error;
        if (tail.size() == kV1Size && tail.startsWith("TAG")) {
            raw.v1 = tail;
            raw.v1Start = size - kV1Size;
        }
    }
    return 0;
}

// The container a file's bytes after its ID3v2 tag announce, when it is not MPEG audio; empty otherwise.
// An ID3v2 tag in front of one of these makes the file unplayable, so such files are never tagged.
QString ForeignFormat(const QByteArray &b)
{
    struct Signature
    {
        qsizetype at;
        const char *bytes;
        qsizetype length;
        const char *name;
    };
    static const Signature kSignatures[] = {
        {0, "RIFF", 4, "RIFF (WAV/AVI)"}, {0, "RF64", 4, "RF64 (WAV)"},   {0, "fLaC", 4, "FLAC"},
        {0, "OggS", 4, "Ogg"},            {4, "ftyp", 4, "MP4"},          {0, "FORM", 4, "IFF (AIFF)"},
        {0, "\x1A\x45\xDF\xA3", 4, "Matroska/WebM"},
        {0, "\x30\x26\xB2\x75\x8E\x66\xCF\x11", 8, "ASF (WMA/WMV)"},
        {0, "MThd", 4, "MIDI"},           {0, "MAC ", 4, "Monkey's Audio"}, {0, "wvpk", 4, "WavPack"},
        {0, "MPCK", 4, "Musepack"},       {0, "caff", 4, "CAF"},          {0, ".snd", 4, "Sun audio"},
        {0, "#!AMR", 5, "AMR"},           {0, "PK\x03\x04", 4, "ZIP"},    {0, "%PDF", 4, "PDF"},
        {0, "DSD ", 4, "DSF (DSD audio)"}, {0, "FRM8", 4, "DSDIFF (DSD audio)"}, {0, "tBaK", 4, "TAK"},
        {0, "OFR ", 4, "OptimFROG"},      {0, "MP+", 3, "Musepack"},      {0, "TTA1", 4, "TrueAudio"},
        {0, "\x0B\x77", 2, "AC-3"},
    };
    for (const Signature &s : kSignatures) {
        if (b.size() >= s.at + s.length && b.mid(s.at, s.length) == QByteArray(s.bytes, s.length))
            return QString::fromLatin1(s.name);
    }
    return QString();
}

namespace {

// The length of the MPEG audio frame whose header starts `b` at `at` (0: no valid header there); its version,
// layer and sample rate in `kind`, so that the next frame can be matched with it.
int MpegFrameLength(const QByteArray &b, qsizetype at, int &kind)
{
    if (at + 4 > b.size() || uchar(b[at]) != 0xFF || (uchar(b[at + 1]) & 0xE0) != 0xE0)
        return 0;
    const int version = (uchar(b[at + 1]) >> 3) & 3;   // 0: 2.5, 2: 2, 3: 1
    const int layer = (uchar(b[at + 1]) >> 1) & 3;     // 1: III, 2: II, 3: I
    const int bitrateIndex = uchar(b[at + 2]) >> 4;
    const int rateIndex = (uchar(b[at + 2]) >> 2) & 3;
    const int padding = (uchar(b[at + 2]) >> 1) & 1;
    if (version == 1 || layer == 0 || bitrateIndex == 0 || bitrateIndex == 15 || rateIndex == 3)
        return 0;
    static const int kBitrates[5][15] = {
        {0, 32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448},   // MPEG-1 layer I
        {0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384},      // MPEG-1 layer II
        {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320},       // MPEG-1 layer III
        {0, 32, 48, 56, 64, 80, 96, 112, 128, 144, 160, 176, 192, 224, 256},      // MPEG-2/2.5 layer I
        {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160},           // MPEG-2/2.5 layers II, III
    };
    static const int kRates[3] = {44100, 48000, 32000};
    const bool mpeg1 = version == 3;
    const int table = mpeg1 ? 3 - layer : (layer == 3 ? 3 : 4);
    const int bitrate = kBitrates[table][bitrateIndex] * 1000;
    const int rate = kRates[rateIndex] >> (mpeg1 ? 0 : version == 2 ? 1 : 2);
    kind = (version << 4) | (layer << 2) | rateIndex;
    if (layer == 3)
        return (12 * bitrate / rate + padding) * 4;
    return (layer == 1 && !mpeg1 ? 72 : 144) * bitrate / rate + padding;
}

} // namespace

bool HoldsMpegAudio(const QByteArray &b, bool wholeAudio)
{
    constexpr qsizetype kMaxJunk = 4096;
    for (qsizetype at = 0; at <= kMaxJunk && at + 4 <= b.size(); ++at) {
        int kind = 0;
        const int length = MpegFrameLength(b, at, kind);
        if (length <= 4)
            continue;
        if (at == 0)
            return true;   // a frame right after the tag: what every MPEG stream looks like
        int nextKind = 0;
        if (MpegFrameLength(b, at + length, nextKind) > 0 && nextKind == kind)
            return true;   // after junk, two frames in a row
        const QByteArray frame = b.mid(at, std::min(length, 64));
        if (frame.contains("Xing") || frame.contains("Info") || frame.contains("VBRI"))
            return true;   // a VBR header frame opens the stream
        if (wholeAudio && at + length == b.size())
            return true;   // a single frame is all the audio there is
    }
    return false;
}

// ---- Writing: the tag as a list of raw frames -----------------------------------------------------------


bool IsFrameId(const QByteArray &id)
{
    for (const char c : id) {
        if (!((c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')))
            return false;
    }
    return id.size() == 4;
}


QByteArray WithoutTrailingZeros(QByteArray bytes)
{
    qsizetype end = bytes.size();
    while (end > 0 && bytes[end - 1] == '\0')
        --end;
    bytes.truncate(end);
    return bytes;
}

// Where the frames start: after a valid extended header, or at once when the flag is set but what follows is
// already a frame (a common fault of writers), as readers do.
qsizetype FirstFramePosition(const QByteArray &body, int major, bool extendedFlag)
{
    if (!extendedFlag || body.size() < 4 || IsFrameId(body.left(4)))
        return 0;
    if (major == 3) {
        const qint64 size = BigEndianAt(body, 0);   // excludes the size field; 6, or 10 with a CRC
        return (size == 6 || size == 10) && 4 + size <= body.size() ? qsizetype(4 + size) : 0;
    }
    const qint64 size = SynchsafeAt(body, 0);       // includes the size field
    return size >= 6 && size <= body.size() ? qsizetype(size) : 0;
}

// Splits a v2.3 or v2.4 tag into its frames, stopping where padding or something that is not a whole frame
// begins. Tag-wide unsynchronisation is undone (v2.3) or moved into each frame's own flag (v2.4).
CanonicalTag SplitTag(const QByteArray &tag)
{
    CanonicalTag result;
    const int major = uchar(tag[3]);
    const uchar flags = uchar(tag[5]);
    result.major = major;
    qsizetype bodyEnd = tag.size();
    if (major == 4 && (flags & 0x10))
        bodyEnd = std::max<qsizetype>(kHeaderSize, bodyEnd - kHeaderSize);
    QByteArray body = tag.mid(kHeaderSize, bodyEnd - kHeaderSize);
    if (major == 3 && (flags & 0x80))
        body = FromBytes(TagLib::ID3v2::SynchData::decode(ToBytes(body)));
    const bool unsynchronisedFrames = major == 4 && (flags & 0x80);
    qsizetype pos = FirstFramePosition(body, major, flags & 0x40);

    while (pos + kHeaderSize <= body.size()) {
        const QByteArray id = body.mid(pos, 4);
        if (!IsFrameId(id))
            break;   // padding, or garbage where padding should be
        qint64 size = BigEndianAt(body, pos + 4);
        if (major == 4 && (uchar(body[pos + 4]) | uchar(body[pos + 5]) | uchar(body[pos + 6]) | uchar(body[pos + 7])) < 0x80) {
            // v2.4 sizes are synchsafe, but some writers store plain numbers: take the reading that lands on
            // the next frame, the padding or the end.
            const qint64 safe = SynchsafeAt(body, pos + 4);
            auto landsWell = [&](qint64 s) {
                const qint64 next = pos + kHeaderSize + s;
                return next == body.size() || (next < body.size() && (body[next] == '\0' || IsFrameId(body.mid(next, 4))));
            };
            size = (landsWell(safe) || !landsWell(size)) ? safe : size;
        }
        if (size == 0 && pos + 2 * kHeaderSize <= body.size() && IsFrameId(body.mid(pos + kHeaderSize, 4))) {
            // A frame of size 0 holds nothing, and TagLib stops reading there: the frames behind it are read
            // (as other readers do), and a rewritten tag leaves the empty frame out.
            pos += kHeaderSize;
            continue;
        }
        if (size == 0 || pos + kHeaderSize + size > body.size())
            break;
        RawFrame frame{id, body.mid(pos, kHeaderSize + size)};
        if (unsynchronisedFrames)
            frame.bytes[9] = char(uchar(frame.bytes[9]) | 0x02);
        result.frames.append(frame);
        pos += kHeaderSize + size;
    }
    result.hidden = WithoutTrailingZeros(body.mid(pos));
    return result;
}

QList<QByteArray> FrameIdsIn(const QByteArray &bytes, int major)
{
    QList<QByteArray> ids;
    for (qsizetype pos = 0; pos + kHeaderSize <= bytes.size();) {
        const QByteArray id = bytes.mid(pos, 4);
        if (!IsFrameId(id))
            break;
        ids.append(id);
        const qint64 size = major == 4 ? SynchsafeAt(bytes, pos + 4) : BigEndianAt(bytes, pos + 4);
        pos += kHeaderSize + size;   // a frame of size 0 is passed over: readers stop there, the frames go on
    }
    return ids;
}

QByteArray BigEndian(quint32 value) { return FourBytes(value, 8); }

QByteArray CanonicalTag::Render(qint64 minimumSize) const
{
    QByteArray body;
    for (const RawFrame &frame : frames)
        body += frame.bytes;
    body += hidden;
    const qint64 size = std::max<qint64>(kHeaderSize + body.size(), minimumSize);
    body.append(QByteArray(size - kHeaderSize - body.size(), '\0'));
    return QByteArray("ID3") + char(major) + '\0' + '\0' + Synchsafe(quint32(size - kHeaderSize)) + body;
}

} // namespace id3
