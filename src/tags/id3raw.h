#pragma once

#include "platform/fileio.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <taglib/tbytevector.h>

// ID3 tags as bytes: where a file's ID3v2 and ID3v1 tags lie, the frames of an ID3v2 tag split the way readers
// split them, and the canonical form the writer keeps a tag in. Nothing here parses frame contents (that is
// TagLib's work, in id3canonical).
namespace id3 {

constexpr qint64 kHeaderSize = 10;
constexpr qint64 kV1Size = 128;

// The largest ID3v2 tag we read. Real tags with cover art stay far below it; a header announcing more is damaged
// or hostile, and reading it would cost memory for nothing.
constexpr qint64 kMaxTagSize = qint64(64) << 20;
// How much of a file's start is read at once: the ID3v2 header, or another format's signature.
constexpr qint64 kStartBytes = 64;

// The tags of one file as raw bytes, located the way every ID3 reader does: ID3v2 at the start, ID3v1 in the
// last 128 bytes.
struct RawTags
{
    QByteArray v2;            // the ID3v2 tag, header included, as far as the file holds it
    qint64 v2End = 0;         // offset of the first byte after the ID3v2 tag (0: no tag)
    bool v2RunsPastEnd = false;
    bool v2TooLarge = false;  // the header announces more than kMaxTagSize: not read, never written
    QByteArray start;         // the file's first bytes (up to kStartBytes)
    QByteArray afterTag;      // the four bytes after the ID3v2 tag
    QByteArray v1;            // the 128-byte ID3v1 tag, or empty
    qint64 v1Start = 0;       // offset of the ID3v1 tag, or the file size when there is none
    platform::FileStatus status;
};

struct RawFrame
{
    QByteArray id;
    QByteArray bytes;   // header and body, exactly as in the file
};

// The tag as the writer keeps it: the frames every reader sees, in order, each as raw bytes, and after them the
// bytes no reader sees (a zero-size frame where readers stop, garbage in the padding), kept verbatim. It is
// rendered with a plain header: no extended header, no tag-wide unsynchronisation, no footer. Reading and
// writing both go through it, so what a write keeps is exactly what was read.
struct CanonicalTag
{
    int major = 0;            // 0: no tag; 3 or 4 (a v2.2 tag becomes v2.3)
    QList<RawFrame> frames;
    QByteArray hidden;        // bytes after the frames that readers do not see, trailing zeros dropped
    QList<QByteArray> lost;   // frames of a v2.2 tag that the conversion to v2.3 cannot keep: never written

    // The tag with a plain header, padded with zeros to `minimumSize` bytes when it is shorter.
    QByteArray Render(qint64 minimumSize = 0) const;
};

// TagLib's byte vectors and ours.
TagLib::ByteVector ToBytes(const QByteArray &bytes);
QByteArray FromBytes(const TagLib::ByteVector &bytes);

quint32 SynchsafeAt(const QByteArray &b, qsizetype at);

quint32 BigEndianAt(const QByteArray &b, qsizetype at);
// The ids of the frames in bytes that readers do not see (a tag's hidden part): frames behind one of size 0, or
// behind one a reader rejects, walked as far as they look like frames.
QList<QByteArray> FrameIdsIn(const QByteArray &bytes, int major);

QByteArray Synchsafe(quint32 value);

// Reads the ID3v2 header and, when valid, the whole tag; then the last 128 bytes. Returns 0 or an errno.
int ReadRawTags(const platform::ReadOnlyFile &file, RawTags &raw);

// The container a file's bytes after its ID3v2 tag announce, when it is not MPEG audio; empty otherwise.
// An ID3v2 tag in front of one of these makes the file unplayable, so such files are never tagged.
QString ForeignFormat(const QByteArray &b);
// Whether `b` (the bytes after the ID3v2 tag, at most 16 KiB; `wholeAudio`: all of them up to the ID3v1 tag) is
// MPEG audio: a valid frame header right at its start, or, after at most 4 KiB of junk, two frame headers in a
// row that agree, or one frame that opens with a VBR header (or is all the audio). What a positive test of MP3 looks like: a list of other formats' magics can
// never be complete.
bool HoldsMpegAudio(const QByteArray &b, bool wholeAudio);

bool IsFrameId(const QByteArray &id);

QByteArray WithoutTrailingZeros(QByteArray bytes);

// Where the frames start: after a valid extended header, or at once when the flag is set but what follows is
// already a frame (a common fault of writers), as readers do.
qsizetype FirstFramePosition(const QByteArray &body, int major, bool extendedFlag);

// Splits a v2.3 or v2.4 tag into its frames, stopping where padding or something that is not a whole frame
// begins. Tag-wide unsynchronisation is undone (v2.3) or moved into each frame's own flag (v2.4).
CanonicalTag SplitTag(const QByteArray &tag);

QByteArray BigEndian(quint32 value);

} // namespace id3
