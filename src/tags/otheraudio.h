#pragma once

#include <QByteArray>
#include <QString>

// FLAC, Ogg Vorbis, Ogg Opus and MP4 (M4A) audio: which of them a file is, judged by its bytes and never by its
// name, and the seven fields of its tags, read through TagLib's property names (TITLE, ARTIST, ALBUM, DATE,
// TRACKNUMBER, COMMENT, GENRE; MP4's ©nam, ©ART, ©alb, ©day, trkn, ©cmt and ©gen map to them).
namespace otheraudio {

enum class Format { None, Flac, OggVorbis, OggOpus, Mp4 };

// The format the bytes at the start of a file announce; FLAC may stand behind an ID3v2 tag (`afterTag`: the bytes
// that follow it). None for anything else.
Format Detect(const QByteArray &start, const QByteArray &afterTag = QByteArray());
QString Name(Format format);

// Whether a file name extension is one of these formats' ("flac", "ogg", "oga", "opus", "m4a"; any case).
bool IsOtherAudioExtension(QStringView extension);
// What an Ogg file that Tunegrove does not write holds, from its first bytes (a few KiB: "Ogg FLAC", "Speex",
// "Theora video", several streams); empty when they are no Ogg page.
QString OggKind(const QByteArray &start);
// Whether a file of this name may hold this format: what the name says and what the bytes hold must agree
// before a file is written (".ogg" and ".oga" hold Vorbis or Opus).
bool NameFits(const QString &extension, Format format);

struct Fields
{
    QString title, artist, album, year, track, comment, genre;
};

// Reads the fields of a file of a known format; false with a reason when TagLib cannot read it as that format.
bool Read(const QByteArray &nativePath, Format format, Fields &fields, QString &error);

// Which fields a write changes.
enum FieldBit : unsigned { kTitle = 1, kArtist = 2, kAlbum = 4, kYear = 8, kTrack = 16, kComment = 32, kGenre = 64 };

// Why a FLAC file's metadata cannot be trusted for a write (empty when it can): a comment block whose count or
// lengths run past its end (another reader may take comments from beyond it, which a rewrite from TagLib's view
// would lose), or a block chain that does not reach an audio frame.
QString FlacMetadataProblem(const QByteArray &path);

// Writes the changed fields (an empty one removes the field) into `copy`, a copy of `original`, and then checks
// the copy as it will be read: every field as expected, every other field and picture as in the original, the
// audio the same (FLAC frames and MP4 media data byte for byte, Ogg audio packets packet for packet). Returns an
// empty text, or why the copy must not replace the original.
QString WriteAndCheck(const QByteArray &original, const QByteArray &copy, Format format, const Fields &fields,
                      unsigned changed);

} // namespace otheraudio
