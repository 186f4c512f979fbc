#include "tags/tagfile.h"

#include "platform/changeobserver.h"
#include "platform/fileio.h"
#include "platform/names.h"
#include "tags/genretable.h"
#include "tags/normalize.h"
#include "tags/otheraudio.h"

#include <QFile>

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
#include <memory>
#include <new>
#include <optional>

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

// The largest ID3v2 tag we read. Real tags with cover art stay far below it; a header announcing more is damaged
// or hostile, and reading it would cost memory for nothing.
constexpr qint64 kMaxTagSize = qint64(64) << 20;
// A tag rewritten in place is written with one call of at most this size, so a killed process leaves it whole.
constexpr qint64 kMaxInPlaceWrite = qint64(64) << 10;
// Tags up to this size keep Open's parse for the write.
constexpr qint64 kMaxKeptParse = qint64(16) << 10;
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
    };
    for (const Signature &s : kSignatures) {
        if (b.size() >= s.at + s.length && b.mid(s.at, s.length) == QByteArray(s.bytes, s.length))
            return QString::fromLatin1(s.name);
    }
    return QString();
}

// Frames are read the way TagLib reads them, except that a v2.3 year stays the text it was stored as (TagLib
// would turn TYER into TDRC and fold TDAT and TIME into it).
class ReadingFrameFactory : public TagLib::ID3v2::FrameFactory
{
public:
    static ReadingFrameFactory *Instance()
    {
        static ReadingFrameFactory factory;
        return &factory;
    }

protected:
    // Frame::Header is not a public name; take the parameter type from the function we override.
    template <typename T> struct FirstParameter;
    template <typename R, typename C, typename A> struct FirstParameter<R (C::*)(A) const> { using Type = A; };
    struct Access : TagLib::ID3v2::FrameFactory
    {
        using FrameFactory::updateFrame;
    };
    using HeaderPointer = FirstParameter<decltype(&Access::updateFrame)>::Type;

    bool updateFrame(HeaderPointer header) const override
    {
        if (header->version() == 3 && header->frameID() == "TYER")
            return true;
        return FrameFactory::updateFrame(header);
    }
};

// TagLib reads tags from a File; we hand it a small in-memory file holding just the tags (no audio), so the
// parse costs the same whatever the size of the song. Without an ID3v1 tag, 128 zero bytes stand at the end so
// the last bytes of the ID3v2 tag are never mistaken for one.
class TagView
{
public:
    TagView(const QByteArray &v2, const QByteArray &v1)
        : m_stream(ToBytes(v2 + (v1.isEmpty() ? QByteArray(kV1Size, '\0') : v1))),
          m_file(&m_stream, ReadingFrameFactory::Instance(), false)
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

// The first TCON value when it is a name the genre tables lack; a "(n)" reference or a number gives nothing.
QString FreeGenreText(const TagLib::ID3v2::Tag &tag)
{
    const TagLib::ID3v2::FrameList &frames = tag.frameList("TCON");
    if (frames.isEmpty())
        return QString();
    const auto *text = dynamic_cast<const TagLib::ID3v2::TextIdentificationFrame *>(frames.front());
    const TagLib::StringList values = text ? text->fieldList() : TagLib::StringList(frames.front()->toString());
    if (values.isEmpty())
        return QString();
    const QString value = FromTagLib(values.front()).trimmed();
    bool isNumber = false;
    value.toInt(&isNumber);
    return isNumber || value.startsWith(QLatin1Char('(')) ? QString() : value;
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

// The tag as the writer keeps it: the frames every reader sees, in order, each as raw bytes, and after them the
// bytes no reader sees (a zero-size frame where readers stop, garbage in the padding), kept verbatim. It is
// rendered with a plain header: no extended header, no tag-wide unsynchronisation, no footer. Reading and
// writing both go through it, so what a write keeps is exactly what was read.
struct CanonicalTag
{
    int major = 0;            // 0: no tag; 3 or 4 (a v2.2 tag becomes v2.3)
    QList<RawFrame> frames;
    QByteArray hidden;        // bytes after the frames that readers do not see, trailing zeros dropped

    QByteArray Render(qint64 minimumSize = 0) const
    {
        QByteArray body;
        for (const RawFrame &frame : frames)
            body += frame.bytes;
        body += hidden;
        const qint64 size = std::max<qint64>(kHeaderSize + body.size(), minimumSize);
        body.append(QByteArray(size - kHeaderSize - body.size(), '\0'));
        return QByteArray("ID3") + char(major) + '\0' + '\0' + Synchsafe(quint32(size - kHeaderSize)) + body;
    }
};

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

// The tag in the form the writer keeps, agreed with the reader, and the reader's view of it (with the ID3v1 tag
// `v1`). Frames the reader does not take as we split them (it stops at a frame it rejects, or sizes it
// differently) move into the hidden part, so the reader and the writer never disagree about which frames exist.
// Parses once in the common case, where both agree.
std::unique_ptr<TagView> ReadCanonical(const QByteArray &tag, const QByteArray &v1, CanonicalTag &result)
{
    result = CanonicalTag();
    if (tag.size() < kHeaderSize)
        return std::make_unique<TagView>(QByteArray(), v1);
    if (uchar(tag[3]) == 2) {
        // A v2.2 tag cannot be written back as it is: TagLib converts its frames to v2.3.
        TagView view(tag, QByteArray());
        if (TagLib::ID3v2::Tag *parsed = view.V2())
            result = SplitTag(FromBytes(parsed->render(TagLib::ID3v2::v3)));
        result.major = 3;
        return std::make_unique<TagView>(result.Render(), v1);
    }
    result = SplitTag(tag);
    auto view = std::make_unique<TagView>(result.Render(), v1);
    const TagLib::ID3v2::Tag *parsed = view->V2();
    const TagLib::ID3v2::FrameList empty;
    const TagLib::ID3v2::FrameList &seen = parsed ? parsed->frameList() : empty;
    qsizetype agreed = 0;
    for (const TagLib::ID3v2::Frame *frame : seen) {
        // Frame ids may differ (TagLib renames some v2.3 frames); the sizes say whether both split alike.
        if (agreed >= result.frames.size() ||
            qint64(frame->size()) != result.frames[agreed].bytes.size() - kHeaderSize)
            break;
        ++agreed;
    }
    if (agreed < result.frames.size()) {
        QByteArray hidden;
        for (qsizetype i = agreed; i < result.frames.size(); ++i)
            hidden += result.frames[i].bytes;
        result.hidden = hidden + result.hidden;
        result.frames.resize(agreed);
        view = std::make_unique<TagView>(result.Render(), v1);
    }
    return view;
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

RawFrame CommentFrame(const QString &text, int major, const QByteArray &language = QByteArray("XXX"))
{
    TagLib::ID3v2::CommentsFrame frame(EncodingFor(text, major));
    frame.setLanguage(ToBytes(language));
    frame.setDescription(TagLib::String());
    frame.setText(ToTagLib(text));
    return RawFrame{QByteArray("COMM"), Render(frame, major)};
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

// The frame ids a field lives in.
QList<QByteArray> FieldIds(unsigned field)
{
    switch (field) {
    case kTitle: return {"TIT2"};
    case kArtist: return {"TPE1"};
    case kAlbum: return {"TALB"};
    case kYear: return {"TYER", "TDRC"};
    case kTrack: return {"TRCK"};
    case kGenre: return {"TCON"};
    default: return {};
    }
}

// The frames a reader sees, as bytes, except those of the changed fields; with `skipShownComment`, also the
// shown COMM frame. The frames come from the canonical split, which ReadCanonical has matched one for one with
// the reader's frames, and the reader parses the same bytes alike: equal bytes are equal frames, so a write's
// kept frames are compared without rendering each one again.
QList<QByteArray> KeptRawFrames(const QList<RawFrame> &frames, int major, const TagLib::ID3v2::Tag *parsed,
                                unsigned changed, bool skipShownComment)
{
    QList<QByteArray> skipped;
    for (unsigned field = 1; field < kAllFields; field <<= 1) {
        if (changed & field)
            skipped += FieldIds(field);
    }
    const qsizetype shown = skipShownComment ? ShownRawComment(frames, major, parsed) : -1;
    QList<QByteArray> kept;
    kept.reserve(frames.size());
    for (qsizetype i = 0; i < frames.size(); ++i) {
        if (i != shown && !skipped.contains(frames[i].id))
            kept.append(frames[i].bytes);
    }
    return kept;
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

// The seven fields as a reader shows them. The ID3v2 tag wins; ID3v1 is read only when there is no ID3v2 tag.
struct ShownFields
{
    QString album, artist, comment, title, year, track;
    int genre = -1;
    QString genreText;   // a genre the table lacks, as the frame spells it ("J-Pop"); empty otherwise
};

// The year of an ID3v1 tag as its four characters stand ("199x" stays), without trailing blanks or zeros.
QString V1Year(const QByteArray &v1)
{
    return QString::fromLatin1(v1.mid(93, 4).replace('\0', ' ')).trimmed();
}

ShownFields ReadFields(TagView &view, const QByteArray &rawV1)
{
    ShownFields f;
    if (TagLib::ID3v2::Tag *v2 = view.V2()) {
        const TagLib::ID3v2::FrameListMap &frames = v2->frameListMap();
        f.title = FrameText(frames, "TIT2");
        f.artist = FrameText(frames, "TPE1");
        f.year = FrameText(frames, "TDRC");
        if (f.year.isEmpty())
            f.year = FrameText(frames, "TYER");
        f.album = FrameText(frames, "TALB");
        f.track = FrameText(frames, "TRCK");
        const int shown = ShownCommentIndex(*v2);
        if (shown >= 0)
            f.comment = FromTagLib(v2->frameList("COMM")[uint(shown)]->toString());
        f.genre = GenreOfFrame(*v2);
    } else if (TagLib::ID3v1::Tag *v1 = view.V1()) {
        f.title = FromTagLib(v1->title());
        f.artist = FromTagLib(v1->artist());
        f.album = FromTagLib(v1->album());
        f.comment = FromTagLib(v1->comment());
        f.year = V1Year(rawV1);
        f.track = v1->track() ? QString::number(v1->track()) : QString();
        f.genre = v1->genreNumber() < 255 ? int(v1->genreNumber()) : -1;
    }
    if (f.genre >= GenreTable::Count())
        f.genre = -1;
    if (f.genre < 0 && view.V2())
        f.genreText = FreeGenreText(*view.V2());
    return f;
}

int CountFrames(TagView &view, const QList<QByteArray> &ids)
{
    int count = 0;
    if (TagLib::ID3v2::Tag *v2 = view.V2()) {
        for (const TagLib::ID3v2::Frame *frame : v2->frameList())
            count += ids.contains(FromBytes(frame->frameID())) ? 1 : 0;
    }
    return count;
}

// Replaces the frames with one of the ids by `replacement` at the place of the first of them (so the order the
// reader sees stays), or adds it after the last frame; an empty replacement just removes them.
void PutFrame(QList<RawFrame> &frames, std::initializer_list<const char *> ids, const std::optional<RawFrame> &replacement)
{
    qsizetype place = -1;
    for (qsizetype i = 0; i < frames.size();) {
        bool match = false;
        for (const char *id : ids)
            match = match || frames[i].id == id;
        if (!match) {
            ++i;
            continue;
        }
        if (place < 0 && replacement) {
            frames[i] = *replacement;
            place = i++;
        } else {
            frames.removeAt(i);
        }
    }
    if (place < 0 && replacement)
        frames.append(*replacement);
}

} // namespace

// The parse of a tag (Open's), with the bytes it was made from.
struct TagFile::Parsed
{
    QByteArray v2;
    QByteArray v1;
    CanonicalTag canonical;
    std::unique_ptr<TagView> view;
    ShownFields fields;
};

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

bool TagFile::Open(const QString &pathToOpen)
{
    const QString fullPath = pathToOpen;   // a copy: the caller may pass this object's own `path`
    *this = TagFile();
    path = fullPath;
    try {
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
        if (raw.v2TooLarge) {
            m_writeRefusal = tr("%1: the ID3v2 tag announces more than 64 MiB; it is not read and never written")
                                 .arg(fullPath);
            m_readError = m_writeRefusal;
            return true;
        }
        // FLAC, Ogg and MP4 files carry tags of their own: their fields are read from those. A damaged file of
        // such a kind shows what ID3 tags it holds, as any other file does.
        const otheraudio::Format format = otheraudio::Detect(raw.start, raw.afterTag);
        otheraudio::Fields other;
        QString why;
        if (format != otheraudio::Format::None &&
            otheraudio::Read(platform::EncodeName(fullPath), format, other, why)) {
            sizeText = QString::number(raw.status.size / 1024);
            TakeTextFields(other);
            SetGenreText(other.genre);   // text there: a name of the table shows as its number
            m_otherFormat = int(format);
            m_opened = CurrentFields();
            return true;
        }
        if (raw.v2.isEmpty() && raw.v1.isEmpty())
            return true;

        sizeText = QString::number(raw.status.size / 1024);
        auto parsed = std::make_shared<Parsed>();
        parsed->view = ReadCanonical(raw.v2, raw.v1, parsed->canonical);
        const ShownFields f = ReadFields(*parsed->view, raw.v1);
        TakeTextFields(f);
        genre = f.genre;
        m_genreText = f.genreText;
        // Kept for the write, which then parses only the new tag; big tags (pictures) are parsed again instead
        // of being held by every opened file.
        if (raw.v2.size() + raw.v1.size() <= kMaxKeptParse) {
            parsed->v2 = raw.v2;
            parsed->v1 = raw.v1;
            parsed->fields = f;
            m_parsed = std::move(parsed);
        }
    } catch (const std::bad_alloc &) {
        *this = TagFile();
        path = fullPath;
        m_readError = tr("%1: not enough memory to read the tags").arg(fullPath);
        return false;
    }
    m_opened = CurrentFields();
    return true;
}

TagFile::Fields TagFile::CurrentFields() const
{
    return Fields{album, artist, comment, title, year, track, genre, m_genreText};
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

void TagFile::Normalize()
{
    album = NormalizeTagText(album);
    artist = NormalizeTagText(artist);
    title = NormalizeTagText(title);
    comment = NormalizeTagText(comment);
}

void TagFile::SetGenreText(const QString &text)
{
    genre = GenreTable::NumberOf(text.trimmed());
    m_genreText = genre < 0 ? text.trimmed() : QString();
}

QString TagFile::GenreName() const
{
    // A genre the table lacks shows as the file spells it, as long as no genre was chosen instead.
    if (genre < 0 && genre == m_opened.genre)
        return m_genreText;
    return GenreTable::NameOf(genre);
}

namespace {

bool Fail(QString *error, const QString &reason)
{
    if (error)
        *error = reason;
    return false;
}

} // namespace

bool TagFile::PrepareWrite(QString *error)
{
    m_pending.reset();
    try {
        return WriteChanged(error);
    } catch (const std::bad_alloc &) {
        m_pending.reset();
        return Fail(error, tr("%1: not enough memory to write the tags; the file was not changed").arg(path));
    }
}

namespace {

void MakeJournalDurable()
{
    if (platform::ChangeObserver *observer = platform::CurrentObserver())
        observer->MakeDurable();
}

} // namespace

bool TagFile::Write(QString *error)
{
    if (!PrepareWrite(error))
        return false;
    if (m_pending)
        MakeJournalDurable();
    return CommitWrite(error);
}

bool TagFile::RemoveTags(QString *error)
{
    m_pending.reset();
    try {
        if (!RemoveAll(error))
            return false;
    } catch (const std::bad_alloc &) {
        m_pending.reset();
        return Fail(error, tr("%1: not enough memory to remove the tags; the file was not changed").arg(path));
    }
    if (m_pending)
        MakeJournalDurable();
    return CommitWrite(error);
}

void TagFile::WriteAll(const QList<TagFile *> &files,
                       const std::function<void(TagFile &file, bool ok, const QString &error)> &done)
{
    // Groups small enough to hold their files open and locked, large enough that the journal's flush and the
    // files' own flush are rare: each group's journal entry is made durable before its files change, and the
    // files are made durable together (one syncfs) before any of them is reported written.
    constexpr qsizetype kGroup = 64;
    for (qsizetype start = 0; start < files.size(); start += kGroup) {
        const QList<TagFile *> group = files.mid(start, kGroup);
        QList<QString> failures(group.size());
        bool anyPrepared = false;
        for (qsizetype i = 0; i < group.size(); ++i) {
            if (!group[i]->PrepareWrite(&failures[i]) && failures[i].isEmpty())
                failures[i] = tr("%1: the tag could not be written").arg(group[i]->path);
            anyPrepared = anyPrepared || group[i]->m_pending;
        }
        if (anyPrepared)
            MakeJournalDurable();
        std::vector<bool> written(std::size_t(group.size()), false);
        platform::FlushBatch flush;
        for (qsizetype i = 0; i < group.size(); ++i) {
            if (failures[i].isEmpty())
                written[std::size_t(i)] = group[i]->CommitWrite(&failures[i]);
        }
        const int flushError = flush.Finish();
        for (qsizetype i = 0; i < group.size(); ++i) {
            if (written[std::size_t(i)] && flushError != 0) {
                done(*group[i], false,
                     tr("%1: the new tag may not have reached the disk: %2").arg(group[i]->path, platform::ErrorText(flushError)));
                continue;
            }
            done(*group[i], written[std::size_t(i)], failures[i]);
        }
    }
}

QString TagFile::WriteRefusal() const
{
    if (!m_readable)
        return m_readError.isEmpty() ? tr("%1: the file was not read").arg(path) : m_readError;
    return m_writeRefusal;
}

namespace {

// Tells the thread's change observer (the undo journal) of a tag write: the old and new regions before it, the
// outcome and the file's new identity after it.
class Announcement
{
public:
    void Announce(const QString &target, const RawTags &raw, const QByteArray &newHead, const QByteArray &newTail)
    {
        Announce(target, platform::IdentityOf(raw.status), raw.v2, raw.v1, newHead, newTail);
    }
    void Announce(const QString &target, const platform::FileIdentity &before, const QByteArray &oldHead,
                  const QByteArray &oldTail, const QByteArray &newHead, const QByteArray &newTail)
    {
        m_observer = platform::CurrentObserver();
        m_target = target;
        if (m_observer)
            m_token = m_observer->TagsChanging(target, before, oldHead, oldTail, newHead, newTail);
    }
    void Done(bool ok) const
    {
        if (!m_observer)
            return;
        platform::FileIdentity after;
        platform::Identify(m_target, after);
        m_observer->TagsChanged(m_token, ok, after);
    }

private:
    platform::ChangeObserver *m_observer = nullptr;
    QString m_target;
    quint64 m_token = 0;
};

// Opens the file a write is about to change, locked against other Tunegrove writers, and reads its tags.
// Returns an empty text, or the reason the file must not be written.
QString OpenForUpdate(const QString &path, const QString &target, platform::ReadOnlyFile &file, RawTags &raw)
{
    int status = file.OpenForUpdate(target);
    if (status == 0)
        status = ReadRawTags(file, raw);
    if (status != 0)
        return FailureText(path, status);
    if (raw.v2TooLarge)
        return tr("%1: the ID3v2 tag announces more than 64 MiB; the file was not changed").arg(path);
    if (raw.v2RunsPastEnd)
        return tr("%1: the ID3v2 tag claims to be longer than the file; writing it could lose the audio").arg(path);
    QByteArray start;
    if ((status = file.ReadAt(raw.v2End, 16, start)) != 0)
        return FailureText(path, status);
    const QString format = ForeignFormat(start);
    if (!format.isEmpty())
        return tr("%1: the file holds %2 data, not MPEG audio; an ID3 tag would damage it").arg(path, format);
    return QString();
}

} // namespace

// A write that is checked, locked and announced, waiting to be made.
struct TagFile::Pending
{
    platform::ReadOnlyFile file;
    platform::ReadOnlyFile::WorkingCopy copy;   // FLAC, Ogg, MP4: the edited copy that replaces the file
    bool replace = false;
    RawTags raw;
    QByteArray newV2;
    QByteArray newV1;
    bool inPlace = false;
    bool trackChanged = false;
    QString track;
    Announcement announced;
};

bool TagFile::WriteChanged(QString *error)
{
    auto fail = [&](const QString &reason) { return Fail(error, reason); };
    if (const QString refusal = WriteRefusal(); !refusal.isEmpty())
        return fail(refusal);

    const Fields now = CurrentFields();
    unsigned changed = 0;
    if (now.title != m_opened.title) changed |= kTitle;
    if (now.artist != m_opened.artist) changed |= kArtist;
    if (now.album != m_opened.album) changed |= kAlbum;
    if (now.year != m_opened.year) changed |= kYear;
    if (now.track != m_opened.track) changed |= kTrack;
    if (now.comment != m_opened.comment) changed |= kComment;
    if (now.genre != m_opened.genre || now.genreText != m_opened.genreText) changed |= kGenre;
    if (changed == 0)
        return true;
    if (m_otherFormat != 0)
        return WriteOtherFormat(changed, error);
    // A file named as FLAC, Ogg or MP4 audio that does not hold it whole is not MPEG audio either: no ID3 tag.
    if (const QString ext = path.mid(path.lastIndexOf(QLatin1Char('.')) + 1); otheraudio::IsOtherAudioExtension(ext))
        return fail(tr("%1: the file does not hold readable %2 audio; it was not changed").arg(path, ext.toUpper()));
    if (IsEmpty())
        return RemoveAll(error);

    // Work on the file a symbolic link names, so the link stays a link. The file stays open and locked from
    // this reading to the end of the write, and the write copies from this same open file.
    const QString target = platform::ResolveLinks(path);
    const auto pending = std::make_shared<Pending>();
    platform::ReadOnlyFile &file = pending->file;
    RawTags &raw = pending->raw;
    const QString refusal = OpenForUpdate(path, target, file, raw);
    if (!refusal.isEmpty())
        return fail(refusal);

    // One reading decides what the write keeps: the same canonical tag Open reads. When the file holds the
    // very bytes Open parsed (read again now, under the lock), that parse is it; it is used once, since the
    // write below changes its ID3v1 part.
    CanonicalTag tag;
    std::unique_ptr<TagView> beforeView;
    ShownFields old;
    if (const std::shared_ptr<Parsed> parsed = std::exchange(m_parsed, nullptr);
        parsed && parsed.use_count() == 1 && parsed->v2 == raw.v2 && parsed->v1 == raw.v1) {
        tag = std::move(parsed->canonical);
        beforeView = std::move(parsed->view);
        old = parsed->fields;
    } else {
        beforeView = ReadCanonical(raw.v2, raw.v1, tag);
        old = ReadFields(*beforeView, raw.v1);
    }
    TagView &before = *beforeView;
    if (tag.major == 0) {
        tag.major = 3;
        changed = kAllFields;   // a new tag carries every field
    }
    const int major = tag.major;
    // What the write must keep byte for byte: every frame the reader sees but those of the changed fields.
    const QList<QByteArray> keptBefore = KeptRawFrames(tag.frames, major, before.V2(), changed, changed & kComment);

    // A changed track is written as its bare number; one that is not a track number removes the frame.
    long long trackNumber = 0;
    if (changed & kTrack) {
        trackNumber = LeadingNumber(track);
        if (trackNumber <= 0 || trackNumber > 4096) {
            track.clear();
            trackNumber = 0;
        }
    }
    auto text = [&](const char *id, const QString &value) {
        return value.isEmpty() ? std::optional<RawFrame>() : std::optional<RawFrame>(TextFrame(id, value, major));
    };
    if (changed & kTitle)
        PutFrame(tag.frames, {"TIT2"}, text("TIT2", title));
    if (changed & kArtist)
        PutFrame(tag.frames, {"TPE1"}, text("TPE1", artist));
    if (changed & kAlbum)
        PutFrame(tag.frames, {"TALB"}, text("TALB", album));
    if (changed & kYear)
        PutFrame(tag.frames, {"TYER", "TDRC"}, text(major == 4 ? "TDRC" : "TYER", year));
    if (changed & kTrack)
        PutFrame(tag.frames, {"TRCK"}, text("TRCK", trackNumber > 0 ? QString::number(trackNumber) : QString()));
    if (changed & kGenre) {
        // v2.3 readers expect "(n)"; v2.4 keeps plain numbers for the standard genres.
        PutFrame(tag.frames, {"TCON"},
                 text("TCON", genre < 0 ? QString() : major == 4 ? QString::number(genre) : QStringLiteral("(%1)").arg(genre)));
    }
    if (changed & kComment) {
        const qsizetype shown = ShownRawComment(tag.frames, major, before.V2());
        // A replaced comment keeps its language ("eng"); frames we cannot look into give "XXX" (unknown).
        QByteArray language("XXX");
        if (shown >= 0) {
            const QByteArray &b = tag.frames[shown].bytes;
            const uchar flags = uchar(b[9]);
            const bool plain = major == 3 ? !(flags & 0xC0) : !(flags & 0x0F);
            const QByteArray candidate = b.mid(kHeaderSize + 1, 3);
            if (plain && candidate.size() == 3 &&
                std::all_of(candidate.begin(), candidate.end(), [](char c) { return (c | 0x20) >= 'a' && (c | 0x20) <= 'z'; }))
                language = candidate;
        }
        const RawFrame replacement = CommentFrame(comment, major, language);
        if (shown >= 0 && comment.isEmpty())
            tag.frames.removeAt(shown);
        else if (shown >= 0)
            tag.frames[shown] = replacement;
        else if (!comment.isEmpty())
            tag.frames.append(replacement);
    }

    // Reuse the old tag's space when the frames fit, so the audio does not move; otherwise leave room to grow.
    QByteArray newV2 = tag.Render();
    const qint64 tagSize = newV2.size() <= raw.v2End ? raw.v2End : newV2.size() + kNewTagPadding;
    newV2 = tag.Render(tagSize);

    // ID3v1 follows the changed fields when the file has one; a file that had no ID3v2 tag gets one too.
    QByteArray newV1;
    if (!raw.v1.isEmpty() || raw.v2.isEmpty()) {
        TagLib::ID3v1::Tag fresh;
        TagLib::ID3v1::Tag *v1 = raw.v1.isEmpty() ? &fresh : before.V1();
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
        if (!(changed & kYear) && !raw.v1.isEmpty())
            newV1.replace(93, 4, raw.v1.mid(93, 4));   // TagLib would turn a year like "199x" into "199"
    }

    // Before touching the disk, read the new tag the way Open will: every field not changed must read as
    // before, every changed one as written, and every other frame must be there unchanged, in order.
    {
        CanonicalTag reread;
        const std::unique_ptr<TagView> afterView = ReadCanonical(newV2, newV1, reread);
        TagView &after = *afterView;
        const ShownFields f = ReadFields(after, newV1);
        const ShownFields expected{
            changed & kAlbum ? album : old.album,     changed & kArtist ? artist : old.artist,
            changed & kComment ? comment : old.comment, changed & kTitle ? title : old.title,
            changed & kYear ? year : old.year,
            changed & kTrack ? (trackNumber > 0 ? QString::number(trackNumber) : QString()) : old.track,
            changed & kGenre ? genre : old.genre, QString()};
        QString mismatch;
        auto check = [&](const char *name, const QString &read, const QString &wanted) {
            if (mismatch.isEmpty() && read != wanted)
                mismatch = tr("the %1 would read \"%2\" instead of \"%3\"").arg(QLatin1String(name), read, wanted);
        };
        check("title", f.title, expected.title);
        check("artist", f.artist, expected.artist);
        check("album", f.album, expected.album);
        check("year", f.year, expected.year);
        check("track", f.track, expected.track);
        // Clearing the shown comment lets a described one show, which is no fault: the frames check covers it.
        if (!((changed & kComment) && comment.isEmpty()))
            check("comment", f.comment, expected.comment);
        check("genre", QString::number(f.genre), QString::number(expected.genre));
        // A changed field has exactly one frame when it has a value, none when it was cleared.
        auto written = [&expected](unsigned field) {
            switch (field) {
            case kTitle: return !expected.title.isEmpty();
            case kArtist: return !expected.artist.isEmpty();
            case kAlbum: return !expected.album.isEmpty();
            case kYear: return !expected.year.isEmpty();
            case kTrack: return !expected.track.isEmpty();
            case kGenre: return expected.genre >= 0;
            default: return false;
            }
        };
        for (unsigned field = 1; mismatch.isEmpty() && field < kAllFields; field <<= 1) {
            const QList<QByteArray> ids = FieldIds(field);
            if ((changed & field) && !ids.isEmpty() && CountFrames(after, ids) != (written(field) ? 1 : 0))
                mismatch = tr("a %1 frame the reader skips would stay behind").arg(QString::fromLatin1(ids.front()));
        }
        if (mismatch.isEmpty() &&
            keptBefore != KeptRawFrames(reread.frames, major, after.V2(), changed, (changed & kComment) && !comment.isEmpty()))
            mismatch = tr("frames that were not changed would not survive");
        if (!mismatch.isEmpty())
            return fail(tr("%1: the tag cannot be rewritten faithfully (%2); the file was not changed").arg(path, mismatch));
    }

    const bool fitsInPlace = tagSize == raw.v2End && (newV1.isEmpty() || !raw.v1.isEmpty()) &&
                             newV2.size() <= kMaxInPlaceWrite;
    if (!fitsInPlace && raw.status.links > 1) {
        return fail(tr("%1: the file has %2 hard links and its tag no longer fits in place; writing it would "
                       "separate the links")
                        .arg(path)
                        .arg(raw.status.links));
    }
    // The journal is told of the old and the new tag bytes (both whole regions: the ID3v2 one from the start, the
    // ID3v1 one to the end); the file changes in CommitWrite, once the journal is durable.
    pending->announced.Announce(target, raw, newV2, newV1);
    pending->newV2 = newV2;
    pending->newV1 = newV1;
    pending->inPlace = fitsInPlace;
    pending->trackChanged = (changed & kTrack) != 0;
    pending->track = trackNumber > 0 ? QString::number(trackNumber) : QString();
    m_pending = pending;
    return true;
}

bool TagFile::WriteOtherFormat(unsigned changed, QString *error)
{
    auto fail = [&](const QString &reason) { return Fail(error, reason); };
    const auto format = otheraudio::Format(m_otherFormat);
    const QString target = platform::ResolveLinks(path);
    const auto pending = std::make_shared<Pending>();
    platform::ReadOnlyFile &file = pending->file;
    RawTags &raw = pending->raw;
    int status = file.OpenForUpdate(target);
    if (status == 0)
        status = ReadRawTags(file, raw);
    if (status != 0)
        return fail(FailureText(path, status));
    // Judged by the bytes now, not by the name or by what Open saw.
    const otheraudio::Format now = otheraudio::Detect(raw.start, raw.afterTag);
    if (now != format)
        return fail(tr("%1: the file no longer holds %2 audio; it was not changed").arg(path, otheraudio::Name(format)));
    if (!otheraudio::NameFits(path.mid(path.lastIndexOf(QLatin1Char('.')) + 1), format))
        return fail(tr("%1: the file holds %2 audio, not what its name says; it was not changed")
                        .arg(path, otheraudio::Name(format)));
    if (raw.status.links > 1)
        return fail(tr("%1: the file has %2 hard links; writing it would separate them").arg(path).arg(raw.status.links));
    if ((status = file.CopyToWorkingCopy(pending->copy)) != 0)
        return fail(FailureText(path, status));

    unsigned bits = 0;
    if (changed & kTitle) bits |= otheraudio::kTitle;
    if (changed & kArtist) bits |= otheraudio::kArtist;
    if (changed & kAlbum) bits |= otheraudio::kAlbum;
    if (changed & kYear) bits |= otheraudio::kYear;
    if (changed & kTrack) bits |= otheraudio::kTrack;
    if (changed & kComment) bits |= otheraudio::kComment;
    if (changed & kGenre) bits |= otheraudio::kGenre;
    const long long trackNumber = LeadingNumber(track);
    const otheraudio::Fields fields{title, artist, album, year,
                                    trackNumber > 0 && trackNumber <= 4096 ? QString::number(trackNumber) : QString(),
                                    comment, genre >= 0 ? GenreTable::NameOf(genre) : m_genreText};
    const QString problem = otheraudio::WriteAndCheck(platform::EncodeName(target), platform::EncodeName(pending->copy.Path()),
                                                      format, fields, bits);
    if (!problem.isEmpty())
        return fail(tr("%1: the tags cannot be written faithfully (%2); the file was not changed").arg(path, problem));

    // The journal gets the bytes that differ: everything before the audio they share at the end, or everything
    // after what they share at the start, whichever is the tag's part. Never the audio.
    QByteArray a;
    QFile after(pending->copy.Path());
    if (file.ReadAt(0, raw.status.size, a) != 0 || !after.open(QIODevice::ReadOnly))
        return fail(tr("%1: the written copy cannot be read back; the file was not changed").arg(path));
    const QByteArray b = after.readAll();
    qsizetype prefix = 0;
    const qsizetype shortest = std::min(a.size(), b.size());
    while (prefix < shortest && a[prefix] == b[prefix])
        ++prefix;
    qsizetype suffix = 0;
    while (suffix < shortest - prefix && a[a.size() - 1 - suffix] == b[b.size() - 1 - suffix])
        ++suffix;
    QByteArray oldHead, newHead, oldTail, newTail;
    if (a.size() - suffix <= kMaxTagSize) {
        oldHead = a.left(a.size() - suffix);
        newHead = b.left(b.size() - suffix);
    } else if (a.size() - prefix <= kMaxTagSize) {
        oldTail = a.mid(prefix);
        newTail = b.mid(prefix);
    } else {
        return fail(tr("%1: the write would move the audio, which the undo journal does not hold; the file was not "
                       "changed").arg(path));
    }
    pending->announced.Announce(target, platform::IdentityOf(raw.status), oldHead, oldTail, newHead, newTail);
    pending->replace = true;
    pending->trackChanged = (changed & kTrack) != 0;
    pending->track = fields.track;
    m_pending = pending;
    return true;
}

bool TagFile::CommitWrite(QString *error)
{
    if (!m_pending)
        return true;   // nothing was changed
    const std::shared_ptr<Pending> pending = std::move(m_pending);
    m_pending.reset();
    const RawTags &raw = pending->raw;
    int status = 0;
    if (pending->replace) {
        status = pending->file.ReplaceWith(pending->copy);
    } else if (pending->inPlace) {
        // ID3v2 first, each tag with one write: a killed process leaves each tag whole, old or new.
        std::vector<std::pair<std::int64_t, QByteArray>> pieces;
        if (pending->newV2 != raw.v2)
            pieces.emplace_back(0, pending->newV2);
        if (!pending->newV1.isEmpty() && pending->newV1 != raw.v1)
            pieces.emplace_back(raw.v1Start, pending->newV1);
        status = pending->file.WriteInPlace(pieces);
    } else {
        status = pending->file.Rewrite(pending->newV2, raw.v2End, raw.v1Start, pending->newV1,
                                       !raw.status.OwnerCanWrite());
    }
    pending->announced.Done(status == 0);
    if (status != 0)
        return Fail(error, FailureText(path, status));
    if (pending->trackChanged)
        track = pending->track;
    m_opened = CurrentFields();
    return true;
}

bool TagFile::RemoveAll(QString *error)
{
    auto fail = [&](const QString &reason) { return Fail(error, reason); };
    if (const QString refusal = WriteRefusal(); !refusal.isEmpty())
        return fail(refusal);
    const QString target = platform::ResolveLinks(path);
    const auto pending = std::make_shared<Pending>();
    const QString refusal = OpenForUpdate(path, target, pending->file, pending->raw);
    if (!refusal.isEmpty())
        return fail(refusal);
    const RawTags &raw = pending->raw;
    if (raw.v2.isEmpty() && raw.v1.isEmpty())
        return true;
    if (raw.status.links > 1)
        return fail(tr("%1: the file has %2 hard links; removing its tags would separate them").arg(path).arg(raw.status.links));
    pending->announced.Announce(target, raw, QByteArray(), QByteArray());
    m_pending = pending;   // written by CommitWrite: the new file holds the audio alone
    return true;
}
