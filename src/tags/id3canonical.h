#pragma once

#include "tags/id3raw.h"
#include "tags/picture.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <taglib/attachedpictureframe.h>
#include <taglib/id3v1tag.h>
#include <taglib/id3v2frame.h>
#include <taglib/id3v2tag.h>
#include <taglib/mpegfile.h>
#include <taglib/tbytevectorstream.h>

#include <initializer_list>
#include <memory>
#include <optional>

// The reader's side of an ID3 tag and the frames the writer renders: TagLib parses a canonical tag (kept apart
// from the song, in memory), the seven fields are read from it as every reader shows them, and new text and
// comment frames are rendered for a given tag version.
namespace id3 {

// The seven fields a write may change, as bits.
enum Field : unsigned {
    kTitle = 1u << 0,
    kArtist = 1u << 1,
    kAlbum = 1u << 2,
    kYear = 1u << 3,
    kTrack = 1u << 4,
    kComment = 1u << 5,
    kGenre = 1u << 6,
    kAllFields = (1u << 7) - 1,
    // The front cover: a change of its own, not among the fields every new tag carries.
    kCover = 1u << 7,
};

// TagLib reads tags from a File; we hand it a small in-memory file holding just the tags (no audio), so the
// parse costs the same whatever the size of the song. Without an ID3v1 tag, 128 zero bytes stand at the end so
// the last bytes of the ID3v2 tag are never mistaken for one.
class TagView
{
public:
    TagView(const QByteArray &v2, const QByteArray &v1);
    TagLib::ID3v2::Tag *V2() { return m_file.hasID3v2Tag() ? m_file.ID3v2Tag() : nullptr; }
    TagLib::ID3v1::Tag *V1() { return m_file.hasID3v1Tag() ? m_file.ID3v1Tag() : nullptr; }

private:
    TagLib::ByteVectorStream m_stream;
    TagLib::MPEG::File m_file;
};

// The seven fields as a reader shows them. The ID3v2 tag wins; ID3v1 is read only when there is no ID3v2 tag.
struct ShownFields
{
    QString album, artist, comment, title, year, track;
    int genre = -1;
    QString genreText;   // a genre the table lacks, as the frame spells it ("J-Pop"); empty otherwise
};

QString FromTagLib(const TagLib::String &text);

TagLib::String ToTagLib(const QString &text);

bool IsLatin1(const QString &text);

QString FrameText(const TagLib::ID3v2::FrameListMap &map, const char *id);

// The comment a user means: the first COMM frame without a description, else the first COMM frame (players
// keep private data such as "iTunNORM" in described comments). Returns its index among the COMM frames, or -1.
int ShownCommentIndex(const TagLib::ID3v2::Tag &tag);

// Genre number of one TCON value: "(n)", "(n)Name" and "n" give n; a name gives its number in our table, or in
// the standard ID3v1 list (spellings differ slightly); anything else -1.
int GenreOfText(const QString &text);

int GenreOfFrame(const TagLib::ID3v2::Tag &tag);

// The first TCON value when it is a name the genre tables lack; a "(n)" reference or a number gives nothing.
QString FreeGenreText(const TagLib::ID3v2::Tag &tag);

// A v2.2 tag converted by TagLib to v2.3 in `result`: the v2.2 frames it dropped are added in their v2.3 form
// (TDA -> TDAT, TIM -> TIME, RVA -> RVAD and the other frames whose body did not change); those that have no
// form there go to `result.lost`, so the tag is never written without them.
void UpgradeV22Frames(const QByteArray &tag, CanonicalTag &result);

// The tag in the form the writer keeps, agreed with the reader, and the reader's view of it (with the ID3v1 tag
// `v1`). Frames the reader does not take as we split them (it stops at a frame it rejects, or sizes it
// differently) move into the hidden part, so the reader and the writer never disagree about which frames exist.
// Parses once in the common case, where both agree.
std::unique_ptr<TagView> ReadCanonical(const QByteArray &tag, const QByteArray &v1, CanonicalTag &result);

TagLib::String::Type EncodingFor(const QString &text, int major);

// TagLib renders frames with a v2.4 header. The body is the same in v2.3 for the encodings we choose (never
// UTF-8 there), so only the size field differs: a v2.3 header holds a plain number, not a synchsafe one.
QByteArray Render(const TagLib::ID3v2::Frame &frame, int major);

RawFrame TextFrame(const char *id, const QString &text, int major);

RawFrame CommentFrame(const QString &text, int major, const QByteArray &language = QByteArray("XXX"));

// Whether a raw COMM frame has an empty description. Frames we cannot look into (compressed, encrypted)
// count as described.
bool CommentHasNoDescription(const RawFrame &frame, int major);

// Which raw COMM frame is the one shown: TagLib's choice when both see the same COMM frames, else our own look.
qsizetype ShownRawComment(const QList<RawFrame> &frames, int major, const TagLib::ID3v2::Tag *parsed);

// The places of the raw APIC frames that hold a front cover (picture type 3). Each is judged by TagLib's parse
// when both see the same APIC frames, else by its own bytes. False when an APIC frame cannot be looked into
// (compressed, encrypted) and so might be a front cover.
bool FrontCoverFrames(const QList<RawFrame> &frames, int major, const TagLib::ID3v2::Tag *parsed,
                      QList<qsizetype> &places);

// The front covers a reader sees, in order.
QList<const TagLib::ID3v2::AttachedPictureFrame *> FrontCovers(const TagLib::ID3v2::Tag *tag);

// A front cover frame holding `picture`, with no description.
RawFrame PictureFrame(const Picture &picture, int major);

// The frame ids a field lives in.
QList<QByteArray> FieldIds(unsigned field);

// Every frame the reader of `view` sees, by its content, except those of the changed fields (for kCover, the
// front covers); with `skipShownComment`, also the shown COMM frame. Renders each frame: the slow, general comparison.
QList<QByteArray> KeptFrames(TagView &view, unsigned changed, bool skipShownComment);

// Whether every frame is read from its own bytes alone: none carries a format flag (compression, encryption,
// grouping, unsynchronisation, a data length) under which a reader may take bytes beyond the frame's end.
bool SelfContainedFrames(const QList<RawFrame> &frames, int major);

// The same from the split frames, as bytes, for a tag with no hidden part (whose reader sees exactly the split
// frames, so equal bytes are equal frames).
QList<QByteArray> KeptRawFrames(const QList<RawFrame> &frames, int major, const TagLib::ID3v2::Tag *parsed,
                                unsigned changed, bool skipShownComment);

QString Latin1Only(const QString &text);

// The year of an ID3v1 tag as its four characters stand ("199x" stays), without trailing blanks or zeros.
QString V1Year(const QByteArray &v1);

ShownFields ReadFields(TagView &view, const QByteArray &rawV1);

int CountFrames(TagView &view, const QList<QByteArray> &ids);

// Replaces the frames with one of the ids by `replacement` at the place of the first of them (so the order the
// reader sees stays), or adds it after the last frame; an empty replacement just removes them.
void PutFrame(QList<RawFrame> &frames, std::initializer_list<const char *> ids, const std::optional<RawFrame> &replacement);

} // namespace id3
