#include "tags/otherinternal.h"
#include "tags/otherstructure.h"

#include "platform/names.h"

#include <QFile>

#include <algorithm>
#include <array>
#include <memory>

// The writes of FLAC, Ogg and MP4 metadata where it stands: the change is made and checked in a copy in memory of
// the part of the file that holds the metadata, and only when the result keeps the size of that part are its
// bytes written over the old ones; otherwise the file is rewritten whole.

namespace otheraudio {

namespace {

// The Ogg page checksum: CRC-32 of polynomial 0x04C11DB7, most significant bit first, starting from 0, over the
// page with its checksum field zeroed.
quint32 OggChecksum(const char *data, qsizetype size)
{
    static const auto table = [] {
        std::array<quint32, 256> t{};
        for (quint32 i = 0; i < 256; ++i) {
            quint32 r = i << 24;
            for (int bit = 0; bit < 8; ++bit)
                r = (r & 0x80000000u) ? (r << 1) ^ 0x04C11DB7u : r << 1;
            t[i] = r;
        }
        return t;
    }();
    quint32 crc = 0;
    for (qsizetype i = 0; i < size; ++i)
        crc = (crc << 8) ^ table[((crc >> 24) ^ uchar(data[i])) & 0xFF];
    return crc;
}

} // namespace

QString FlacInPlace(const QByteArray &original, const Fields &fields, unsigned changed, const CoverChange &cover,
                    QByteArray &oldHead, QByteArray &newHead)
{
    oldHead.clear();
    newHead.clear();
    QFile file(platform::DecodeName(original));
    if (!file.open(QIODevice::ReadOnly))
        return QString();
    const QList<QPair<qint64, qint64>> audio = AudioRanges(file, Format::Flac);
    if (audio.isEmpty())
        return QString();
    const qint64 audioStart = audio.front().first, size = file.size();
    // The scratch copy is the original's metadata and the start of its audio, in memory: TagLib reads nothing
    // past the metadata, and moves no more than this when the metadata changes size.
    constexpr qint64 kAudioKept = qint64(16) << 10;
    const QByteArray head = ReadAt(file, 0, std::min(size, audioStart + kAudioKept));
    if (head.size() < audioStart)
        return QString();
    // The original is read from a second copy of those bytes: what TagLib sees of it is what it edits.
    static const QByteArray kScratch(":tunegrove-flac-scratch:"), kBefore(":tunegrove-flac-before:");
    HeldInMemory scratch(kScratch, head), before(kBefore, head);
    std::unique_ptr<TagLib::File> opened;
    if (const QString problem = WriteUnchecked(kBefore, kScratch, Format::Flac, fields, changed, cover, opened);
        !problem.isEmpty())
        return problem;
    const QByteArray edited = scratch.Bytes();
    QByteArray after = edited;
    if (edited.size() != head.size()) {
        // TagLib sized the padding by its own rule (it trims padding past 1% of the file, and this one is short):
        // when the blocks before the padding fit the old room, the padding is made to fill it. The blocks run from
        // after "fLaC" (and an ID3v2 tag before it) to the last one.
        qint64 at = head.startsWith("ID3") || edited.startsWith("ID3") ? -1 : 4;
        if (at < 0 || !edited.startsWith("fLaC"))
            return QString();
        qint64 paddingAt = -1, editedStart = -1;
        for (bool last = false; !last && at + 4 <= edited.size();) {
            last = uchar(edited[at]) & 0x80;
            if (last && (uchar(edited[at]) & 0x7F) == 1)
                paddingAt = at;
            at += 4 + ((qint64(uchar(edited[at + 1])) << 16) | (qint64(uchar(edited[at + 2])) << 8) |
                       qint64(uchar(edited[at + 3])));
            if (last)
                editedStart = at;
        }
        const qint64 room = audioStart - paddingAt - 4;
        if (paddingAt < 0 || editedStart < 0 || room < 0 || room > 0xFFFFFF ||
            QByteArrayView(edited).sliced(std::min<qint64>(editedStart, edited.size())) !=
                QByteArrayView(head).sliced(audioStart))
            return QString();
        after = edited.left(paddingAt);
        after += char(0x81);   // the last block, padding
        after += char((room >> 16) & 0xFF);
        after += char((room >> 8) & 0xFF);
        after += char(room & 0xFF);
        after += QByteArray(room, '\0');
        after += QByteArrayView(head).sliced(audioStart);
        scratch.Replace(after);
    }
    if (after.size() != head.size() || QByteArrayView(after).sliced(audioStart) != QByteArrayView(head).sliced(audioStart))
        return QString();
    // The result checked as it will be read, once.
    if (const QString problem = CheckCopy(kBefore, kScratch, Format::Flac, fields, changed, cover, false, opened.get());
        !problem.isEmpty())
        return problem;
    oldHead = head.left(audioStart);
    newHead = after.left(audioStart);
    return QString();
}

QString Mp4InPlace(const QByteArray &original, const Fields &fields, unsigned changed, const CoverChange &cover,
                   qint64 &offset, QByteArray &oldBytes, QByteArray &newBytes)
{
    offset = -1;
    oldBytes.clear();
    newBytes.clear();
    QFile file(platform::DecodeName(original));
    if (!file.open(QIODevice::ReadOnly))
        return QString();
    // The scratch copy is the file with every media data box emptied: the boxes TagLib reads and writes (the
    // movie box with the tags) whole, at most a few MiB, the audio never.
    constexpr qint64 kMaxKept = qint64(32) << 20;
    QList<Mp4Box> boxes;
    if (!Mp4TopBoxes(file, boxes))
        return QString();   // damaged: the whole-file path says why
    QByteArray scratch;
    qint64 moovAt = -1, moovSize = 0, scratchMoovAt = -1;
    bool audio = false;
    for (const Mp4Box &box : boxes) {
        if (box.type == "mdat") {
            scratch += QByteArray("\0\0\0\x08mdat", 8);
            audio = audio || box.size > box.header;
            continue;
        }
        if (box.size > kMaxKept || (box.type == "moov" && moovAt >= 0))
            return QString();
        if (box.type == "moov") {
            moovAt = box.at;
            moovSize = box.size;
            scratchMoovAt = scratch.size();
        }
        const QByteArray bytes = ReadAt(file, box.at, box.size);
        if (bytes.size() != box.size)
            return QString();
        scratch += bytes;
    }
    if (moovAt < 0 || !audio)
        return QString();   // no audio: the whole-file path says so
    static const QByteArray kScratch(":tunegrove-mp4-scratch:"), kBefore(":tunegrove-mp4-before:");
    HeldInMemory held(kScratch, scratch), before(kBefore, scratch);
    if (const QString problem = WriteAndCheck(kBefore, kScratch, Format::Mp4, fields, changed, cover, false);
        !problem.isEmpty())
        return problem;
    const QByteArray edited = held.Bytes();
    // It fits when the movie box kept its size (the tags took room of a free box beside them) and nothing else
    // changed.
    if (edited.size() != scratch.size() ||
        QByteArrayView(edited).first(scratchMoovAt) != QByteArrayView(scratch).first(scratchMoovAt) ||
        QByteArrayView(edited).sliced(scratchMoovAt + moovSize) != QByteArrayView(scratch).sliced(scratchMoovAt + moovSize))
        return QString();
    offset = moovAt;
    oldBytes = scratch.mid(scratchMoovAt, moovSize);
    newBytes = edited.mid(scratchMoovAt, moovSize);
    return QString();
}

QString OggInPlace(const QByteArray &original, Format format, const Fields &fields, unsigned changed,
                   const CoverChange &cover, QByteArray &oldHead, QByteArray &newHead)
{
    oldHead.clear();
    newHead.clear();
    QFile file(platform::DecodeName(original));
    if (!file.open(QIODevice::ReadOnly))
        return QString();
    // The pages from the start of the file to the one where the comment packet (the stream's second) ends, and
    // where that packet's bytes lie in them. Anything unusual (another stream's page, a damaged page, a packet past
    // a few MiB) goes to the whole-file path, which says what is wrong.
    constexpr qint64 kMaxHead = qint64(16) << 20;
    struct Page
    {
        qint64 at, size;
    };
    QList<Page> pages;
    QList<QPair<qint64, qint64>> pieces;   // offset and length of each piece of the comment packet
    qint64 at = 0, packet = 0;
    quint32 serial = 0;
    while (packet < 2) {
        const QByteArray header = ReadAt(file, at, 27);
        if (header.size() < 27 || !header.startsWith("OggS") || header[4] != 0)
            return QString();
        const quint32 pageSerial = LittleEndian32(header, 14);
        if (!pages.isEmpty() && pageSerial != serial)
            return QString();
        serial = pageSerial;
        const int segments = uchar(header[26]);
        const QByteArray lacing = ReadAt(file, at + 27, segments);
        if (lacing.size() != segments)
            return QString();
        qint64 offset = at + 27 + segments;
        for (int i = 0; i < segments; ++i) {
            const int length = uchar(lacing[i]);
            if (packet == 1 && length > 0)
                pieces.append({offset, length});
            offset += length;
            if (length < 255)
                ++packet;
        }
        pages.append({at, offset - at});
        at = offset;
        if (at > kMaxHead)
            return QString();
    }
    const QByteArray head = ReadAt(file, 0, at);
    if (head.size() != at || pieces.isEmpty())
        return QString();
    QByteArray oldPacket;
    for (const auto &piece : pieces)
        oldPacket += QByteArrayView(head).sliced(piece.first, piece.second);

    // TagLib makes the change in a copy of those pages; the new comment packet, with zero bytes after the comments
    // to keep its length, goes into the same bytes of the same pages, and only their checksums change.
    static const QByteArray kScratch(":tunegrove-ogg-scratch:"), kBefore(":tunegrove-ogg-before:");
    HeldInMemory scratch(kScratch, head), before(kBefore, head);
    QByteArray newPacket;
    {
        const std::unique_ptr<TagLib::File> edited = OpenAs(kScratch, format);
        if (!edited || !edited->isValid())
            return QString();
        if (const QString why = ApplyChanges(*edited, format, fields, changed, cover); !why.isEmpty())
            return why;
        const TagLib::ByteVector rendered = OggCommentPacket(*XiphOf(*edited, format), format);
        newPacket = QByteArray(rendered.data(), qsizetype(rendered.size()));
    }
    if (newPacket.size() > oldPacket.size())
        return QString();
    newPacket.append(QByteArray(oldPacket.size() - newPacket.size(), '\0'));
    QByteArray after = head;
    qint64 taken = 0;
    for (const auto &piece : pieces) {
        after.replace(piece.first, piece.second, newPacket.mid(taken, piece.second));
        taken += piece.second;
    }
    for (const Page &page : pages) {
        const bool holdsComments = std::any_of(pieces.cbegin(), pieces.cend(), [&page](const auto &piece) {
            return piece.first >= page.at && piece.first < page.at + page.size;
        });
        if (!holdsComments)
            continue;
        char *bytes = after.data() + page.at;
        std::fill(bytes + 22, bytes + 26, '\0');
        const quint32 crc = OggChecksum(bytes, page.size);
        for (int i = 0; i < 4; ++i)
            bytes[22 + i] = char((crc >> (8 * i)) & 0xFF);
    }
    scratch.Replace(after);
    if (const QString why = CheckCopy(kBefore, kScratch, format, fields, changed, cover, false); !why.isEmpty())
        return why;
    oldHead = head;
    newHead = after;
    return QString();
}

} // namespace otheraudio
