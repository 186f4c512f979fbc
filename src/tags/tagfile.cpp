#include "tags/tagfile.h"

#include "platform/fileio.h"
#include "tags/genretable.h"

#include <taglib/commentsframe.h>
#include <taglib/id3v1genres.h>
#include <taglib/id3v1tag.h>
#include <taglib/id3v2framefactory.h>
#include <taglib/id3v2synchdata.h>
#include <taglib/id3v2tag.h>
#include <taglib/mpegfile.h>
#include <taglib/tbytevectorstream.h>
#include <taglib/textidentificationframe.h>

#include <QCoreApplication>

#include <cerrno>
#include <climits>

// All ID3 parsing and frame rendering goes through TagLib, and only here. TagLib parses the tags for reading.
// For writing we do not let TagLib re-render the whole tag: it drops or rewrites frames it does not model
// (RVAD, TDAT, TIME in v2.3; "(17)Rock" becomes "Rock"; short years vanish), and it writes files in place.
// Instead the tag's frames are kept as raw bytes, the frames of changed fields are replaced by frames TagLib
// renders, and the file is assembled here, so every untouched frame stays byte for byte.

namespace {

constexpr qint64 kHeaderSize = 10;
constexpr qint64 kV1Size = 128;
constexpr int kNewTagPadding = 1024;

enum Field : unsigned {
    kTitle = 1u << 0,
    kArtist = 1u << 1,
    kAlbum = 1u << 2,
    kYear = 1u << 3,
    kTrack = 1u << 4,
    kComment = 1u << 5,
    kGenre = 1u << 6,
    kAllFields = (1u << 7) - 1,
};

QString tr(const char *text) { return QCoreApplication::translate("TagFile", text); }

QString FromTagLib(const TagLib::String &text) { return QString::fromStdWString(text.toWString()); }

TagLib::String ToTagLib(const QString &text) { return TagLib::String(text.toStdWString()); }

TagLib::ByteVector ToBytes(const QByteArray &bytes) { return TagLib::ByteVector(bytes.constData(), uint(bytes.size())); }

QByteArray FromBytes(const TagLib::ByteVector &bytes) { return QByteArray(bytes.data(), qsizetype(bytes.size())); }

bool IsLatin1(const QString &text)
{
    for (const QChar c : text) {
        if (c.unicode() > 0xFF)
            return false;
    }
    return true;
}

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

QByteArray Synchsafe(quint32 value)
{
    QByteArray out(4, '\0');
    for (int i = 3; i >= 0; --i) {
        out[i] = char(value & 0x7F);
        value >>= 7;
    }
    return out;
}

// The tags of one file as raw bytes, located the way every ID3 reader does: ID3v2 at the start, ID3v1 in the
// last 128 bytes.
struct RawTags
{
    QByteArray v2;            // the ID3v2 tag, header included, as far as the file holds it
    qint64 v2End = 0;         // offset of the first byte after the ID3v2 tag (0: no tag)
    bool v2RunsPastEnd = false;
    QByteArray v1;            // the 128-byte ID3v1 tag, or empty
    qint64 v1Start = 0;       // offset of the ID3v1 tag, or the file size when there is none
    platform::FileStatus status;

    int Major() const { return v2.isEmpty() ? 0 : uchar(v2[3]); }
};

// Reads the ID3v2 header and, when valid, the whole tag; then the last 128 bytes. Returns 0 or an errno.
int ReadRawTags(const platform::ReadOnlyFile &file, RawTags &raw)
{
    raw.status = file.Status();
    const qint64 size = raw.status.size;
    QByteArray header;
    if (const int error = file.ReadAt(0, kHeaderSize, header))
        return error;
    if (header.size() == kHeaderSize && header.startsWith("ID3") && uchar(header[3]) >= 2 && uchar(header[3]) <= 4 &&
        uchar(header[4]) != 0xFF && (uchar(header[6]) | uchar(header[7]) | uchar(header[8]) | uchar(header[9])) < 0x80) {
        const bool footer = uchar(header[3]) == 4 && (uchar(header[5]) & 0x10);
        const qint64 declared = kHeaderSize + SynchsafeAt(header, 6) + (footer ? kHeaderSize : 0);
        raw.v2RunsPastEnd = declared > size;
        raw.v2End = std::min(declared, size);
        if (const int error = file.ReadAt(0, raw.v2End, raw.v2))
            return error;
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

// TagLib reads tags from a File; we hand it a small in-memory file holding just the tags (no audio), so the
// parse costs the same whatever the size of the song. Without an ID3v1 tag, 128 zero bytes stand at the end so
// the last bytes of the ID3v2 tag are never mistaken for one.
class TagView
{
public:
    explicit TagView(const RawTags &raw)
        : m_stream(ToBytes(raw.v2 + (raw.v1.isEmpty() ? QByteArray(kV1Size, '\0') : raw.v1))),
          m_file(&m_stream, TagLib::ID3v2::FrameFactory::instance(), false)
    {
    }
    TagLib::ID3v2::Tag *V2() { return m_file.hasID3v2Tag() ? m_file.ID3v2Tag() : nullptr; }
    TagLib::ID3v1::Tag *V1() { return m_file.hasID3v1Tag() ? m_file.ID3v1Tag() : nullptr; }

private:
    TagLib::ByteVectorStream m_stream;
    TagLib::MPEG::File m_file;
};

QString FrameText(const TagLib::ID3v2::FrameListMap &map, const char *id)
{
    const auto found = map.find(TagLib::ByteVector(id, 4));
    if (found == map.end() || found->second.isEmpty())
        return QString();
    const TagLib::ID3v2::FrameList &frames = found->second;
    if (const auto *text = dynamic_cast<const TagLib::ID3v2::TextIdentificationFrame *>(frames.front()))
        return FromTagLib(text->fieldList().toString(" / "));
    return FromTagLib(frames.front()->toString());
}

// The comment a user means: the first COMM frame without a description, else the first COMM frame (players
// keep private data such as "iTunNORM" in described comments). Returns its index among the COMM frames, or -1.
int ShownCommentIndex(const TagLib::ID3v2::Tag &tag)
{
    const TagLib::ID3v2::FrameList &frames = tag.frameList("COMM");
    int index = 0;
    for (const TagLib::ID3v2::Frame *frame : frames) {
        const auto *comment = dynamic_cast<const TagLib::ID3v2::CommentsFrame *>(frame);
        if (comment && comment->description().isEmpty())
            return index;
        ++index;
    }
    return frames.isEmpty() ? -1 : 0;
}

// Genre number of one TCON value: "(n)", "(n)Name" and "n" give n; a name gives its number in our table, or in
// the standard ID3v1 list (spellings differ slightly); anything else -1.
int GenreOfText(const QString &text)
{
    const QString value = text.trimmed();
    if (value.isEmpty())
        return -1;
    bool ok = false;
    if (value.startsWith(QLatin1Char('('))) {
        const qsizetype close = value.indexOf(QLatin1Char(')'));
        if (close > 1) {
            const int number = value.mid(1, close - 1).toInt(&ok);
            if (ok)
                return number;
        }
    }
    const int number = value.toInt(&ok);
    if (ok)
        return number;
    const int ours = GenreTable::NumberOf(value);
    if (ours >= 0)
        return ours;
    const int standard = int(TagLib::ID3v1::genreIndex(ToTagLib(value)));
    return standard < 255 ? standard : -1;
}

int GenreOfFrame(const TagLib::ID3v2::Tag &tag)
{
    const TagLib::ID3v2::FrameList &frames = tag.frameList("TCON");
    if (frames.isEmpty())
        return -1;
    const auto *text = dynamic_cast<const TagLib::ID3v2::TextIdentificationFrame *>(frames.front());
    const TagLib::StringList values = text ? text->fieldList() : TagLib::StringList(frames.front()->toString());
    for (const TagLib::String &value : values) {
        const int number = GenreOfText(FromTagLib(value));
        if (number >= 0)
            return number;
    }
    return -1;
}

// ---- Writing: the tag as a list of raw frames -----------------------------------------------------------

struct RawFrame
{
    QByteArray id;
    QByteArray bytes;   // header and body, exactly as in the file
};

bool IsFrameId(const QByteArray &id)
{
    for (const char c : id) {
        if (!((c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')))
            return false;
    }
    return id.size() == 4;
}

// Splits a v2.3 or v2.4 tag into its frames. Tag-wide unsynchronisation is undone and an extended header is
// dropped, since the new header sets neither. A frame that runs past the tag's end is damaged and dropped.
QList<RawFrame> SplitFrames(const QByteArray &tag)
{
    const int major = uchar(tag[3]);
    const uchar flags = uchar(tag[5]);
    qsizetype bodyEnd = tag.size();
    if (major == 4 && (flags & 0x10))
        bodyEnd = std::max<qsizetype>(kHeaderSize, bodyEnd - kHeaderSize);
    QByteArray body = tag.mid(kHeaderSize, bodyEnd - kHeaderSize);
    if (major == 3 && (flags & 0x80))
        body = FromBytes(TagLib::ID3v2::SynchData::decode(ToBytes(body)));
    qsizetype pos = 0;
    if ((flags & 0x40) && body.size() >= 4)
        pos = major == 3 ? 4 + qsizetype(BigEndianAt(body, 0)) : qsizetype(SynchsafeAt(body, 0));

    QList<RawFrame> frames;
    while (pos >= 0 && pos + kHeaderSize <= body.size()) {
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
        if (pos + kHeaderSize + size > body.size())
            break;
        frames.append(RawFrame{id, body.mid(pos, kHeaderSize + size)});
        pos += kHeaderSize + size;
    }
    return frames;
}

TagLib::String::Type EncodingFor(const QString &text, int major)
{
    if (IsLatin1(text))
        return TagLib::String::Latin1;
    return major == 4 ? TagLib::String::UTF8 : TagLib::String::UTF16;
}

QByteArray BigEndian(quint32 value)
{
    QByteArray out(4, '\0');
    for (int i = 3; i >= 0; --i) {
        out[i] = char(value & 0xFF);
        value >>= 8;
    }
    return out;
}

// TagLib renders frames with a v2.4 header. The body is the same in v2.3 for the encodings we choose (never
// UTF-8 there), so only the size field differs: a v2.3 header holds a plain number, not a synchsafe one.
QByteArray Render(const TagLib::ID3v2::Frame &frame, int major)
{
    const QByteArray bytes = FromBytes(frame.render());
    const QByteArray body = bytes.mid(kHeaderSize);
    const QByteArray size = major == 4 ? Synchsafe(quint32(body.size())) : BigEndian(quint32(body.size()));
    return bytes.left(4) + size + QByteArray(2, '\0') + body;
}

RawFrame TextFrame(const char *id, const QString &text, int major)
{
    TagLib::ID3v2::TextIdentificationFrame frame(TagLib::ByteVector(id, 4), EncodingFor(text, major));
    frame.setText(ToTagLib(text));
    return RawFrame{QByteArray(id, 4), Render(frame, major)};
}

RawFrame CommentFrame(const QString &text, int major)
{
    TagLib::ID3v2::CommentsFrame frame(EncodingFor(text, major));
    frame.setLanguage("XXX");
    frame.setDescription(TagLib::String());
    frame.setText(ToTagLib(text));
    return RawFrame{QByteArray("COMM"), Render(frame, major)};
}

void RemoveFrames(QList<RawFrame> &frames, std::initializer_list<const char *> ids)
{
    frames.removeIf([&](const RawFrame &f) {
        for (const char *id : ids) {
            if (f.id == id)
                return true;
        }
        return false;
    });
}

// Whether a raw COMM frame has an empty description. Frames we cannot look into (compressed, encrypted)
// count as described.
bool CommentHasNoDescription(const RawFrame &frame, int major)
{
    const QByteArray &b = frame.bytes;
    const uchar formatFlags = uchar(b[9]);
    if ((major == 3 && (formatFlags & 0xC0)) || (major == 4 && (formatFlags & 0x0F)) || b.size() < kHeaderSize + 6)
        return false;
    const uchar encoding = uchar(b[kHeaderSize]);
    const qsizetype at = kHeaderSize + 4;
    if (encoding == 0 || encoding == 3)
        return b[at] == '\0';
    if (b[at] == '\0' && b[at + 1] == '\0')
        return true;
    const bool bom = (uchar(b[at]) == 0xFF && uchar(b[at + 1]) == 0xFE) || (uchar(b[at]) == 0xFE && uchar(b[at + 1]) == 0xFF);
    return bom && b.size() >= at + 4 && b[at + 2] == '\0' && b[at + 3] == '\0';
}

// Which raw COMM frame is the one shown: TagLib's choice when both see the same COMM frames, else our own look.
qsizetype ShownRawComment(const QList<RawFrame> &frames, int major, const TagLib::ID3v2::Tag *parsed)
{
    QList<qsizetype> comments;
    for (qsizetype i = 0; i < frames.size(); ++i) {
        if (frames[i].id == "COMM")
            comments.append(i);
    }
    if (comments.isEmpty())
        return -1;
    if (parsed && qsizetype(parsed->frameList("COMM").size()) == comments.size()) {
        const int shown = ShownCommentIndex(*parsed);
        return shown >= 0 ? comments[shown] : -1;
    }
    for (const qsizetype i : comments) {
        if (CommentHasNoDescription(frames[i], major))
            return i;
    }
    return comments.front();
}

QString Latin1Only(const QString &text)
{
    QString out = text;
    for (QChar &c : out) {
        if (c.unicode() > 0xFF)
            c = QLatin1Char('?');
    }
    return out;
}

QString FailureText(const QString &path, int error)
{
    return tr("%1: %2").arg(path, platform::ErrorText(error));
}

} // namespace

long long TagFile::LeadingNumber(const QString &text)
{
    qsizetype i = 0;
    while (i < text.size() && (text[i] == QLatin1Char(' ') || (text[i].unicode() >= 9 && text[i].unicode() <= 13)))
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == QLatin1Char('+') || text[i] == QLatin1Char('-')))
        negative = text[i++] == QLatin1Char('-');
    long long value = 0;
    for (; i < text.size() && text[i] >= QLatin1Char('0') && text[i] <= QLatin1Char('9'); ++i) {
        if (value < LLONG_MAX / 20)
            value = value * 10 + (text[i].unicode() - '0');
    }
    return negative ? -value : value;
}

bool TagFile::Open(const QString &fullPath)
{
    *this = TagFile();
    path = fullPath;

    platform::ReadOnlyFile file;
    RawTags raw;
    int error = file.Open(fullPath);
    if (error == 0)
        error = ReadRawTags(file, raw);
    if (error != 0) {
        m_readError = FailureText(fullPath, error);
        return false;
    }
    m_readable = true;
    if (raw.v2.isEmpty() && raw.v1.isEmpty())
        return true;

    sizeText = QString::number(raw.status.size / 1024);
    TagView view(raw);
    if (TagLib::ID3v2::Tag *v2 = view.V2()) {
        const TagLib::ID3v2::FrameListMap &frames = v2->frameListMap();
        title = FrameText(frames, "TIT2");
        artist = FrameText(frames, "TPE1");
        year = FrameText(frames, "TDRC");
        if (year.isEmpty())
            year = FrameText(frames, "TYER");
        album = FrameText(frames, "TALB");
        track = FrameText(frames, "TRCK");
        const int shown = ShownCommentIndex(*v2);
        if (shown >= 0)
            comment = FromTagLib(v2->frameList("COMM")[uint(shown)]->toString());
        genre = GenreOfFrame(*v2);
    } else if (TagLib::ID3v1::Tag *v1 = view.V1()) {
        title = FromTagLib(v1->title());
        artist = FromTagLib(v1->artist());
        album = FromTagLib(v1->album());
        comment = FromTagLib(v1->comment());
        year = v1->year() ? QString::number(v1->year()) : QString();
        track = v1->track() ? QString::number(v1->track()) : QString();
        genre = v1->genreNumber() < 255 ? int(v1->genreNumber()) : -1;
    }
    if (genre >= GenreTable::Count())
        genre = -1;
    m_opened = CurrentFields();
    return true;
}

TagFile::Fields TagFile::CurrentFields() const
{
    return Fields{album, artist, comment, title, year, track, genre};
}

bool TagFile::IsEmpty() const
{
    return album.isEmpty() && artist.isEmpty() && comment.isEmpty() && title.isEmpty() && year.isEmpty() &&
           sizeText.isEmpty() && track.isEmpty() && genre == -1;
}

void TagFile::SetTrack(const QString &text)
{
    const long long n = LeadingNumber(text);
    track = (n < 0 || n > 4096) ? QString() : text;
}

QString TagFile::GenreName() const { return GenreTable::NameOf(genre); }

bool TagFile::Write(QString *error)
{
    auto fail = [&](const QString &reason) {
        if (error)
            *error = reason;
        return false;
    };
    if (!m_readable)
        return fail(m_readError.isEmpty() ? tr("%1: the file was not read").arg(path) : m_readError);

    const Fields now = CurrentFields();
    unsigned changed = 0;
    if (now.title != m_opened.title) changed |= kTitle;
    if (now.artist != m_opened.artist) changed |= kArtist;
    if (now.album != m_opened.album) changed |= kAlbum;
    if (now.year != m_opened.year) changed |= kYear;
    if (now.track != m_opened.track) changed |= kTrack;
    if (now.comment != m_opened.comment) changed |= kComment;
    if (now.genre != m_opened.genre) changed |= kGenre;
    if (changed == 0)
        return true;
    if (IsEmpty())
        return RemoveTags(error);

    // Work on the file a symbolic link names, so the link stays a link.
    const QString target = platform::ResolveLinks(path);
    platform::ReadOnlyFile file;
    RawTags raw;
    int status = file.Open(target);
    if (status == 0)
        status = ReadRawTags(file, raw);
    if (status != 0)
        return fail(FailureText(path, status));
    if (raw.v2RunsPastEnd)
        return fail(tr("%1: the ID3v2 tag claims to be longer than the file; writing it could lose the audio")
                        .arg(path));

    // The frames to keep. A v2.2 tag cannot be written back as it is: TagLib converts it to v2.3 first.
    TagView view(raw);
    TagLib::ID3v2::Tag *parsed = view.V2();
    int major = raw.Major();
    QList<RawFrame> frames;
    if (major == 2) {
        major = 3;
        if (parsed) {
            const QByteArray converted = FromBytes(parsed->render(TagLib::ID3v2::v3));
            frames = SplitFrames(converted);
        }
        parsed = nullptr;
    } else if (major != 0) {
        frames = SplitFrames(raw.v2);
    } else {
        major = 3;
        changed = kAllFields;   // a new tag carries every field
    }

    // A changed track is written as its bare number; one that is not a track number removes the frame.
    long long trackNumber = 0;
    if (changed & kTrack) {
        trackNumber = LeadingNumber(track);
        if (trackNumber <= 0 || trackNumber > 4096) {
            track.clear();
            trackNumber = 0;
        }
    }

    if (changed & kTitle) {
        RemoveFrames(frames, {"TIT2"});
        if (!title.isEmpty()) frames.append(TextFrame("TIT2", title, major));
    }
    if (changed & kArtist) {
        RemoveFrames(frames, {"TPE1"});
        if (!artist.isEmpty()) frames.append(TextFrame("TPE1", artist, major));
    }
    if (changed & kAlbum) {
        RemoveFrames(frames, {"TALB"});
        if (!album.isEmpty()) frames.append(TextFrame("TALB", album, major));
    }
    if (changed & kYear) {
        RemoveFrames(frames, {"TYER", "TDRC"});
        if (!year.isEmpty()) frames.append(TextFrame(major == 4 ? "TDRC" : "TYER", year, major));
    }
    if (changed & kTrack) {
        RemoveFrames(frames, {"TRCK"});
        if (trackNumber > 0) frames.append(TextFrame("TRCK", QString::number(trackNumber), major));
    }
    if (changed & kGenre) {
        RemoveFrames(frames, {"TCON"});
        // v2.3 readers expect "(n)"; v2.4 keeps plain numbers for the standard genres.
        if (genre >= 0)
            frames.append(TextFrame("TCON", major == 4 ? QString::number(genre) : QStringLiteral("(%1)").arg(genre), major));
    }
    if (changed & kComment) {
        const qsizetype shown = ShownRawComment(frames, major, parsed);
        const RawFrame replacement = CommentFrame(comment, major);
        if (shown >= 0 && comment.isEmpty())
            frames.removeAt(shown);
        else if (shown >= 0)
            frames[shown] = replacement;
        else if (!comment.isEmpty())
            frames.append(replacement);
    }

    QByteArray body;
    for (const RawFrame &frame : frames)
        body += frame.bytes;
    // Reuse the old tag's space when the frames fit, so the audio does not move; otherwise leave room to grow.
    const qint64 needed = kHeaderSize + body.size();
    const qint64 tagSize = needed <= raw.v2End ? raw.v2End : needed + kNewTagPadding;
    body.append(QByteArray(tagSize - needed, '\0'));
    const QByteArray newV2 = QByteArray("ID3") + char(major) + '\0' + '\0' + Synchsafe(quint32(tagSize - kHeaderSize)) + body;

    // ID3v1 follows the changed fields when the file has one; a file that had no ID3v2 tag gets one too.
    QByteArray newV1;
    if (!raw.v1.isEmpty() || raw.v2.isEmpty()) {
        TagLib::ID3v1::Tag fresh;
        TagLib::ID3v1::Tag *v1 = raw.v1.isEmpty() ? &fresh : view.V1();
        if (!v1)
            v1 = &fresh;
        if (changed & kTitle) v1->setTitle(ToTagLib(Latin1Only(title)));
        if (changed & kArtist) v1->setArtist(ToTagLib(Latin1Only(artist)));
        if (changed & kAlbum) v1->setAlbum(ToTagLib(Latin1Only(album)));
        if (changed & kComment) v1->setComment(ToTagLib(Latin1Only(comment)));
        if (changed & kYear) v1->setYear(uint(std::clamp<long long>(LeadingNumber(year), 0, 9999)));
        if (changed & kTrack) v1->setTrack(trackNumber > 0 && trackNumber < 256 ? uint(trackNumber) : 0u);
        if (changed & kGenre) v1->setGenreNumber(genre >= 0 && genre < 255 ? uint(genre) : 255u);
        newV1 = FromBytes(v1->render());
    }

    const bool keepTimes = !raw.status.OwnerCanWrite();
    const bool fitsInPlace = tagSize == raw.v2End && (newV1.isEmpty() || !raw.v1.isEmpty());
    if (fitsInPlace) {
        std::vector<std::pair<std::int64_t, QByteArray>> pieces{{0, newV2}};
        if (!newV1.isEmpty())
            pieces.emplace_back(raw.v1Start, newV1);
        status = platform::WriteInPlace(target, pieces);
    } else if (raw.status.links > 1) {
        return fail(tr("%1: the file has %2 hard links and its tag no longer fits in place; writing it would "
                       "separate the links")
                        .arg(path)
                        .arg(raw.status.links));
    } else {
        status = platform::RewriteFile(target, newV2, raw.v2End, raw.v1Start, newV1, keepTimes);
    }
    if (status != 0)
        return fail(FailureText(path, status));
    m_opened = CurrentFields();
    return true;
}

bool TagFile::RemoveTags(QString *error)
{
    auto fail = [&](const QString &reason) {
        if (error)
            *error = reason;
        return false;
    };
    if (!m_readable)
        return fail(m_readError.isEmpty() ? tr("%1: the file was not read").arg(path) : m_readError);
    const QString target = platform::ResolveLinks(path);
    platform::ReadOnlyFile file;
    RawTags raw;
    int status = file.Open(target);
    if (status == 0)
        status = ReadRawTags(file, raw);
    if (status != 0)
        return fail(FailureText(path, status));
    if (raw.v2RunsPastEnd)
        return fail(tr("%1: the ID3v2 tag claims to be longer than the file; removing it could lose the audio")
                        .arg(path));
    if (raw.v2.isEmpty() && raw.v1.isEmpty())
        return true;
    if (raw.status.links > 1)
        return fail(tr("%1: the file has %2 hard links; removing its tags would separate them").arg(path).arg(raw.status.links));
    status = platform::RewriteFile(target, QByteArray(), raw.v2End, raw.v1Start, QByteArray(), !raw.status.OwnerCanWrite());
    if (status != 0)
        return fail(FailureText(path, status));
    return true;
}
