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
bool IsOtherAudioExtension(const QString &extension);

struct Fields
{
    QString title, artist, album, year, track, comment, genre;
};

// Reads the fields of a file of a known format; false with a reason when TagLib cannot read it as that format.
bool Read(const QByteArray &nativePath, Format format, Fields &fields, QString &error);

} // namespace otheraudio
