#pragma once

#include "platform/fileio.h"
#include "tags/picture.h"

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

// Reads the fields of a file of a known format, open already (`nativePath` names it); false with a reason when
// TagLib cannot read it as that format.
bool Read(const platform::ReadOnlyFile &file, const QByteArray &nativePath, Format format, Fields &fields,
          QString &error);

// Which fields a write changes.
enum FieldBit : unsigned { kTitle = 1, kArtist = 2, kAlbum = 4, kYear = 8, kTrack = 16, kComment = 32, kGenre = 64 };

// The front cover of a file: FLAC's first PICTURE block of type 3 (front cover), the first Vorbis or Opus
// METADATA_BLOCK_PICTURE of that type, or an MP4 file's first covr image (MP4 images carry no type: the first is
// the one players show). False with an empty `error` when there is none; with the reason when the file cannot be
// read as that format.
bool ReadFrontCover(const QByteArray &nativePath, Format format, Picture &cover, QString &error);

// A change of the front cover that a write makes beside the fields.
struct CoverChange
{
    enum Kind { None, Set, Remove } kind = None;
    Picture picture;   // JPEG or PNG, for Set
};

// Writes the changed fields (an empty one removes the field) and the cover change into `copy`, a copy of
// `original`, and then checks the copy as it will be read: every field as expected, the front cover as set or
// gone, every other field and picture as in the original, the audio the same (FLAC frames and MP4 media data byte
// for byte, Ogg audio packets packet for packet). Returns an empty text, or why the copy must not replace the
// original.
//
// Setting a cover replaces every front cover (FLAC, Vorbis, Opus) or the first MP4 image; removing takes them
// (or that first image) away. Pictures of other types, and further MP4 images, stay as they are.
// `compareAudio` false leaves out the audio comparison (a copy that holds only the start of the audio).
QString WriteAndCheck(const QByteArray &original, const QByteArray &copy, Format format, const Fields &fields,
                      unsigned changed, const CoverChange &cover = CoverChange(), bool compareAudio = true);

// A FLAC write that can be made where the metadata stands: the change is made and checked (as WriteAndCheck does)
// in a copy in memory that holds only the original's metadata and the start of its audio. When the new blocks fit
// the old metadata's room, the padding is made to fill the rest, and `oldHead` and `newHead` are the bytes before
// the first audio frame, old and new (of one length); else both are empty and the file must be rewritten whole.
// Returns why the change cannot be written faithfully, or an empty text.
QString FlacInPlace(const QByteArray &original, const Fields &fields, unsigned changed, const CoverChange &cover,
                    QByteArray &oldHead, QByteArray &newHead);

// An MP4 write that can be made where the movie box stands: the change is made and checked in a copy in memory
// whose media data boxes are empty. When the movie box keeps its size (the tags take room from a free box beside
// them), `offset` is where it lies and `oldBytes`/`newBytes` are it, old and new; else `offset` is -1 and the file
// must be rewritten whole. Returns why the change cannot be written faithfully, or an empty text.
QString Mp4InPlace(const QByteArray &original, const Fields &fields, unsigned changed, const CoverChange &cover,
                   qint64 &offset, QByteArray &oldBytes, QByteArray &newBytes);

// An Ogg Vorbis or Opus write that can be made where the comment packet stands: when the new comments fit the old
// packet (zero bytes after them keep its length), the pages that hold it keep their layout and only the packet's
// bytes and the pages' checksums change; `oldHead` and `newHead` are the bytes from the start of the file to the
// end of the last such page, old and new. Else both are empty and the file must be rewritten whole (with room left
// in the packet for the next change). Returns why the change cannot be written faithfully, or an empty text.
QString OggInPlace(const QByteArray &original, Format format, const Fields &fields, unsigned changed,
                   const CoverChange &cover, QByteArray &oldHead, QByteArray &newHead);

} // namespace otheraudio
