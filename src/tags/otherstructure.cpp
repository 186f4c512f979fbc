#include "tags/otherstructure.h"

#include "platform/names.h"

#include <QCoreApplication>
#include <QCryptographicHash>

#include <algorithm>
#include <numeric>

namespace otheraudio {

namespace {

QString tr(const char *text) { return QCoreApplication::translate("otheraudio", text); }

// Whether two files hold the same bytes in their ranges, compared a megabyte at a time.
bool SameRanges(QIODevice &a, const QList<QPair<qint64, qint64>> &ra, QIODevice &b, const QList<QPair<qint64, qint64>> &rb)
{
    if (ra.size() != rb.size())
        return false;
    constexpr qint64 kChunk = qint64(1) << 20;
    for (qsizetype i = 0; i < ra.size(); ++i) {
        if (ra[i].second != rb[i].second)
            return false;
        for (qint64 done = 0; done < ra[i].second; done += kChunk) {
            const qint64 n = std::min(kChunk, ra[i].second - done);
            const QByteArray x = ReadAt(a, ra[i].first + done, n);
            if (x.size() != n || x != ReadAt(b, rb[i].first + done, n))
                return false;
        }
    }
    return true;
}

// An Ogg file's audio packets (all but the header packets, which hold the tags), as a digest of each packet's
// bytes and length in order, read a page at a time. Empty when the file holds no audio packet.
QByteArray OggAudioDigest(QIODevice &file, Format format)
{
    const int headers = format == Format::OggVorbis ? 3 : 2;
    QCryptographicHash hash(QCryptographicHash::Sha1);
    qint64 packets = 0, packetLength = 0;
    const qint64 size = file.size();
    for (qint64 at = 0; at + 27 <= size;) {
        const QByteArray page = ReadAt(file, at, 27);
        if (!page.startsWith("OggS"))
            break;
        const int segments = uchar(page[26]);
        const QByteArray table = file.read(segments);
        const QByteArray body = file.read(std::accumulate(table.begin(), table.end(), 0,
                                                          [](int sum, char c) { return sum + uchar(c); }));
        qsizetype from = 0;
        for (int i = 0; i < table.size(); ++i) {
            const int length = uchar(table[i]);
            if (packets >= headers && from < body.size())
                hash.addData(QByteArrayView(body.constData() + from, std::min<qsizetype>(length, body.size() - from)));
            from += length;
            packetLength += length;
            if (length < 255) {
                if (packets >= headers)
                    hash.addData(QByteArray::number(packetLength) + '\n');
                ++packets;
                packetLength = 0;
            }
        }
        at += 27 + segments + body.size();
    }
    if (packetLength > 0 && packets >= headers) {
        hash.addData(QByteArray::number(packetLength) + '\n');
        ++packets;
    }
    return packets > headers ? hash.result() : QByteArray();
}

quint64 BigEndian(const QByteArray &b, qsizetype at, int bytes)
{
    quint64 value = 0;
    for (int i = 0; i < bytes; ++i)
        value = (value << 8) | uchar(b[at + i]);
    return value;
}

// Whether the boxes of an MP4 file between `from` and `to` hold together: each box within its parent, and each
// chunk offset table (stco, co64) no longer than its box says. TagLib rewrites those tables when the tags grow and
// loops for ages over one whose entry count is damaged.
bool Mp4BoxesHold(const QByteArray &bytes, qsizetype from, qsizetype to, int depth = 0)
{
    static const QList<QByteArray> kContainers{"moov", "trak", "mdia", "minf", "stbl", "moof", "traf", "udta", "edts"};
    if (depth > 16)
        return false;
    for (qsizetype at = from; at + 8 <= to;) {
        quint64 size = BigEndian(bytes, at, 4);
        qsizetype header = 8;
        if (size == 1) {
            if (at + 16 > to)
                return false;
            size = BigEndian(bytes, at + 8, 8);
            header = 16;
        } else if (size == 0) {
            size = quint64(to - at);
        }
        if (size < quint64(header) || size > quint64(to - at))
            return false;
        const QByteArray type = bytes.mid(at + 4, 4);
        const qsizetype payload = at + header;
        const qsizetype end = at + qsizetype(size);
        if (type == "stco" || type == "co64") {
            if (payload + 8 > end)
                return false;
            const quint64 count = BigEndian(bytes, payload + 4, 4);
            if (quint64(payload + 8) + count * (type == "stco" ? 4 : 8) > quint64(end))
                return false;
        } else if (kContainers.contains(type) && !Mp4BoxesHold(bytes, payload, end, depth + 1)) {
            return false;
        }
        at = end;
    }
    return true;
}

} // namespace

// Reads exactly `length` bytes at `offset` (fewer only at the end of the file).
QByteArray ReadAt(QIODevice &file, qint64 offset, qint64 length)
{
    return file.seek(offset) ? file.read(length) : QByteArray();
}

quint32 LittleEndian32(const QByteArray &bytes, qsizetype at)
{
    return quint32(uchar(bytes[at])) | (quint32(uchar(bytes[at + 1])) << 8) | (quint32(uchar(bytes[at + 2])) << 16) |
           (quint32(uchar(bytes[at + 3])) << 24);
}

quint64 BigEndianAt(QIODevice &file, qint64 offset, int bytes, bool &ok)
{
    const QByteArray b = ReadAt(file, offset, bytes);
    ok = b.size() == bytes;
    quint64 value = 0;
    for (int i = 0; ok && i < bytes; ++i)
        value = (value << 8) | uchar(b[i]);
    return value;
}

// Where a FLAC file's first metadata block starts (after an ID3v2 tag, if any, and "fLaC"); -1 when it is no FLAC.
qint64 FlacBlocksStart(QIODevice &file)
{
    qint64 at = 0;
    const QByteArray id3 = ReadAt(file, 0, 10);
    if (id3.startsWith("ID3") && id3.size() == 10)
        at = 10 + ((qint64(uchar(id3[6])) << 21) | (qint64(uchar(id3[7])) << 14) | (qint64(uchar(id3[8])) << 7) |
                   qint64(uchar(id3[9])));
    return ReadAt(file, at, 4) == "fLaC" ? at + 4 : -1;
}

bool Mp4TopBoxes(QIODevice &file, QList<Mp4Box> &boxes)
{
    boxes.clear();
    const qint64 size = file.size();
    bool ok = true;
    for (qint64 at = 0; at + 8 <= size;) {
        quint64 boxSize = BigEndianAt(file, at, 4, ok);
        qint64 header = 8;
        if (boxSize == 1) {
            if (at + 16 > size)
                return false;
            boxSize = BigEndianAt(file, at + 8, 8, ok);
            header = 16;
        } else if (boxSize == 0) {
            boxSize = quint64(size - at);   // to the end of the file
        }
        if (!ok || boxSize < quint64(header) || boxSize > quint64(size - at))
            return false;
        boxes.append(Mp4Box{at, qint64(boxSize), header, ReadAt(file, at + 4, 4)});
        at += qint64(boxSize);
    }
    return true;
}

// Where a FLAC or MP4 file's audio lies, as byte ranges (offset, length): the FLAC frames after the metadata, the
// MP4 media data boxes. Read by seeking through the headers; the audio itself is never read here.
QList<QPair<qint64, qint64>> AudioRanges(QIODevice &file, Format format)
{
    QList<QPair<qint64, qint64>> ranges;
    const qint64 size = file.size();
    if (format == Format::Flac) {
        qint64 at = FlacBlocksStart(file);
        if (at < 0)
            return {};
        for (bool last = false; !last && at + 4 <= size;) {
            const QByteArray head = ReadAt(file, at, 4);
            last = uchar(head[0]) & 0x80;
            at += 4 + ((qint64(uchar(head[1])) << 16) | (qint64(uchar(head[2])) << 8) | qint64(uchar(head[3])));
        }
        if (at < size)
            ranges.append({at, size - at});
    } else if (format == Format::Mp4) {
        QList<Mp4Box> boxes;
        Mp4TopBoxes(file, boxes);   // the media data before a damaged box still count
        for (const Mp4Box &box : boxes) {
            if (box.type == "mdat")
                ranges.append({box.at + box.header, box.size - box.header});
        }
    }
    return ranges;
}

// Why the copy does not hold the very audio of the original (empty when it does); read in pieces, never whole.
QString AudioProblem(const QByteArray &original, const QByteArray &copy, Format format)
{
    const QString differs = QCoreApplication::translate("otheraudio", "the audio would not stay the same");
    QFile a(platform::DecodeName(original)), b(platform::DecodeName(copy));
    if (!a.open(QIODevice::ReadOnly) || !b.open(QIODevice::ReadOnly))
        return differs;
    const QString none = QCoreApplication::translate("otheraudio", "the file holds no audio");
    if (format == Format::Flac || format == Format::Mp4) {
        const auto ra = AudioRanges(a, format);
        if (ra.isEmpty())
            return none;
        return SameRanges(a, ra, b, AudioRanges(b, format)) ? QString() : differs;
    }
    const QByteArray digest = OggAudioDigest(a, format);
    if (digest.isEmpty())
        return none;
    return digest == OggAudioDigest(b, format) ? QString() : differs;
}

// Whether an MP4 file's boxes hold together (Mp4BoxesHold), read a top-level box at a time: the media data are
// passed over, the rest (the movie box and its tables) is small.
bool Mp4FileHolds(QIODevice &file)
{
    static const QList<QByteArray> kContainers{"moov", "moof", "udta"};
    constexpr qint64 kMaxBox = qint64(256) << 20;
    QList<Mp4Box> boxes;
    if (!Mp4TopBoxes(file, boxes))
        return false;
    for (const Mp4Box &box : boxes) {
        if (!kContainers.contains(box.type))
            continue;
        if (box.size > kMaxBox)
            return false;
        const QByteArray bytes = ReadAt(file, box.at, box.size);
        if (bytes.size() != box.size || !Mp4BoxesHold(bytes, 0, bytes.size()))
            return false;
    }
    return true;
}

QString FlacMetadataProblem(QIODevice &file)
{
    const qint64 size = file.size();
    qint64 at = FlacBlocksStart(file);
    if (at < 0)
        return tr("the FLAC data cannot be read");
    for (bool last = false; !last;) {
        const QByteArray head = ReadAt(file, at, 4);
        if (head.size() < 4)
            return tr("the FLAC metadata blocks run past the end of the file");
        last = uchar(head[0]) & 0x80;
        const int type = uchar(head[0]) & 0x7F;
        const qint64 length = (qint64(uchar(head[1])) << 16) | (qint64(uchar(head[2])) << 8) | qint64(uchar(head[3]));
        if (at + 4 + length > size)
            return tr("the FLAC metadata blocks run past the end of the file");
        if (type == 4) {
            // The comment block: vendor string, count, then each comment; all within the length it declares.
            const QByteArray block = ReadAt(file, at + 4, length);
            const QString cut = tr("the FLAC comment block holds more than its declared length, so other readers "
                                   "may see comments TagLib does not");
            if (block.size() < 8)
                return cut;
            qint64 i = 4 + qint64(LittleEndian32(block, 0));
            if (i + 4 > block.size())
                return cut;
            const quint32 count = LittleEndian32(block, i);
            i += 4;
            for (quint32 n = 0; n < count; ++n) {
                if (i + 4 > block.size())
                    return cut;
                i += 4 + qint64(LittleEndian32(block, i));
                if (i > block.size())
                    return cut;
            }
        }
        at += 4 + length;
    }
    // The last block is followed by the first audio frame: its 14-bit sync code.
    const QByteArray sync = ReadAt(file, at, 2);
    if (sync.size() < 2 || uchar(sync[0]) != 0xFF || (uchar(sync[1]) & 0xFE) != 0xF8)
        return tr("the FLAC metadata blocks do not lead to the audio (a block's declared length is wrong)");
    return QString();
}

} // namespace otheraudio
