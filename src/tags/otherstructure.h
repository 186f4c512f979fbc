#pragma once

#include "tags/otheraudio.h"

#include <QByteArray>
#include <QFile>
#include <QIODevice>
#include <QList>
#include <QPair>

// How FLAC, Ogg and MP4 files are laid out, read from their bytes without TagLib: where the metadata ends and the
// audio lies, whether the structure holds together, whether two files hold the same audio. The tag writers rely
// on these before and after every write; the audio itself is read only to compare it, a piece at a time.
namespace otheraudio {

// Reads exactly `length` bytes at `offset` (fewer only at the end of the file).
QByteArray ReadAt(QIODevice &file, qint64 offset, qint64 length);
// The little-endian 32-bit number at `at` of `bytes` (which holds it).
quint32 LittleEndian32(const QByteArray &bytes, qsizetype at);
// A big-endian number of `bytes` bytes at `offset`; `ok` false when the file ends before it.
quint64 BigEndianAt(QIODevice &file, qint64 offset, int bytes, bool &ok);

// Where a FLAC file's first metadata block starts (after an ID3v2 tag, if any, and "fLaC"); -1 when it is no FLAC.
qint64 FlacBlocksStart(QIODevice &file);

// A top-level box of an MP4 file: where it starts, its whole size, its header's size and its type.
struct Mp4Box
{
    qint64 at = 0, size = 0, header = 8;
    QByteArray type;
};
// The top-level boxes of an MP4 file, in order. False when one runs past the file or its size cannot be read
// (the boxes before it are listed).
bool Mp4TopBoxes(QIODevice &file, QList<Mp4Box> &boxes);
// Whether an MP4 file's boxes hold together: each box within its parent, each chunk offset table within its box.
bool Mp4FileHolds(QIODevice &file);

// Why a FLAC file's metadata cannot be trusted for a write (empty when it can): a comment block whose count or
// lengths run past its end (another reader may take comments from beyond it, which a rewrite from TagLib's view
// would lose), or a block chain that does not reach an audio frame. Read from an open file, or from a file's
// first bytes held in memory (its metadata and the start of its audio).
QString FlacMetadataProblem(QIODevice &file);

// Where a FLAC or MP4 file's audio lies, as byte ranges (offset, length): the FLAC frames after the metadata, the
// MP4 media data boxes. Read by seeking through the headers; the audio itself is never read here.
QList<QPair<qint64, qint64>> AudioRanges(QIODevice &file, Format format);
// Why the copy does not hold the very audio of the original (empty when it does): FLAC frames and MP4 media data
// byte for byte, Ogg audio packets packet for packet; read in pieces, never whole.
QString AudioProblem(const QByteArray &original, const QByteArray &copy, Format format);

} // namespace otheraudio
