#include "tags/id3canonical.h"

#include "tags/genretable.h"

#include <QHash>

#include <taglib/commentsframe.h>
#include <taglib/id3v1genres.h>
#include <taglib/id3v2framefactory.h>
#include <taglib/id3v2synchdata.h>
#include <taglib/textidentificationframe.h>

#include <algorithm>

namespace id3 {

namespace {

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

} // namespace

TagView::TagView(const QByteArray &v2, const QByteArray &v1)
    : m_stream(ToBytes(v2 + (v1.isEmpty() ? QByteArray(kV1Size, '\0') : v1))),
      m_file(&m_stream, ReadingFrameFactory::Instance(), false)
{
}

// TagLib keeps a text as UTF-16 code units, one to a wchar_t, and converts from and to UTF-8 and UTF-16 on that
// understanding: a character beyond the Basic Multilingual Plane is a surrogate pair there, as in QString. Given
// it as one UCS-4 value (what toStdWString makes on Linux), TagLib cut it to 16 bits when it wrote a tag.
QString FromTagLib(const TagLib::String &text)
{
    const std::wstring units = text.toWString();
    QString out(qsizetype(units.size()), Qt::Uninitialized);
    for (std::size_t i = 0; i < units.size(); ++i)
        out[qsizetype(i)] = QChar(char16_t(units[i]));
    return out;
}

TagLib::String ToTagLib(const QString &text)
{
    std::wstring units;
    units.reserve(std::size_t(text.size()));
    for (const QChar c : text)
        units.push_back(wchar_t(c.unicode()));
    return TagLib::String(units);
}

bool IsLatin1(const QString &text)
{
    for (const QChar c : text) {
        if (c.unicode() > 0xFF)
            return false;
    }
    return true;
}

namespace {

// A text that holds nothing but a byte-order mark is empty: a UTF-16 BOM left alone (FF FE), read as Latin-1
// "ÿþ" or kept as U+FEFF.
QString WithoutLoneBom(QString text)
{
    if (text == QStringLiteral("\u00FF\u00FE") || text == QStringLiteral("\u00FE\u00FF"))
        return QString();
    while (text.startsWith(QChar(0xFEFF)) || text.startsWith(QChar(0xFFFE)))
        text.remove(0, 1);
    return text;
}

} // namespace

QString FrameText(const TagLib::ID3v2::FrameListMap &map, const char *id)
{
    const auto found = map.find(TagLib::ByteVector(id, 4));
    if (found == map.end() || found->second.isEmpty())
        return QString();
    const TagLib::ID3v2::FrameList &frames = found->second;
    if (const auto *text = dynamic_cast<const TagLib::ID3v2::TextIdentificationFrame *>(frames.front()))
        return WithoutLoneBom(FromTagLib(text->fieldList().toString("; ")));   // several values: all of them
    return WithoutLoneBom(FromTagLib(frames.front()->toString()));
}

// The comment a user means: the first COMM frame without a description, in any language. Described ones are
// players' private data ("iTunNORM", "iTunSMPB" hold numbers) or notes of their own: never the comment, so a
// cleared comment reads empty. Returns its index among the COMM frames, or -1.
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
    return -1;
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

namespace {

// The v2.3 frame each v2.2 frame becomes; empty for those with no counterpart (CRM, encrypted metadata).
QByteArray V23IdOf(const QByteArray &id)
{
    static const QHash<QByteArray, QByteArray> kIds{
        {"BUF", "RBUF"}, {"CNT", "PCNT"}, {"COM", "COMM"}, {"CRA", "AENC"}, {"ETC", "ETCO"}, {"EQU", "EQUA"},
        {"GEO", "GEOB"}, {"IPL", "IPLS"}, {"LNK", "LINK"}, {"MCI", "MCDI"}, {"MLL", "MLLT"}, {"PIC", "APIC"},
        {"POP", "POPM"}, {"REV", "RVRB"}, {"RVA", "RVAD"}, {"SLT", "SYLT"}, {"STC", "SYTC"}, {"TAL", "TALB"},
        {"TBP", "TBPM"}, {"TCM", "TCOM"}, {"TCO", "TCON"}, {"TCR", "TCOP"}, {"TDA", "TDAT"}, {"TDY", "TDLY"},
        {"TEN", "TENC"}, {"TFT", "TFLT"}, {"TIM", "TIME"}, {"TKE", "TKEY"}, {"TLA", "TLAN"}, {"TLE", "TLEN"},
        {"TMT", "TMED"}, {"TOA", "TOPE"}, {"TOF", "TOFN"}, {"TOL", "TOLY"}, {"TOR", "TORY"}, {"TOT", "TOAL"},
        {"TP1", "TPE1"}, {"TP2", "TPE2"}, {"TP3", "TPE3"}, {"TP4", "TPE4"}, {"TPA", "TPOS"}, {"TPB", "TPUB"},
        {"TRC", "TSRC"}, {"TRD", "TRDA"}, {"TRK", "TRCK"}, {"TSI", "TSIZ"}, {"TSS", "TSSE"}, {"TT1", "TIT1"},
        {"TT2", "TIT2"}, {"TT3", "TIT3"}, {"TXT", "TEXT"}, {"TXX", "TXXX"}, {"TYE", "TYER"}, {"UFI", "UFID"},
        {"ULT", "USLT"}, {"WAF", "WOAF"}, {"WAR", "WOAR"}, {"WAS", "WOAS"}, {"WCM", "WCOM"}, {"WCP", "WCOP"},
        {"WPB", "WPUB"}, {"WXX", "WXXX"}};
    return kIds.value(id);
}

// Frames whose body is the same in v2.2 and v2.3: the texts, the date and time, the volume adjustment.
bool SameBodyInV23(const QByteArray &id)
{
    return (id.startsWith('T') && id != "TXX") || id == "RVA" || id == "CNT" || id == "MCI";
}

} // namespace

void UpgradeV22Frames(const QByteArray &tag, CanonicalTag &result)
{
    if (tag.size() < kHeaderSize || (uchar(tag[5]) & 0x40))
        return;   // a compressed v2.2 tag: TagLib does not read it either
    QByteArray body = tag.mid(kHeaderSize, qsizetype(SynchsafeAt(tag, 6)));
    if (uchar(tag[5]) & 0x80)
        body = FromBytes(TagLib::ID3v2::SynchData::decode(ToBytes(body)));
    QHash<QByteArray, int> present;
    for (const RawFrame &frame : result.frames)
        ++present[frame.id];
    for (qsizetype pos = 0; pos + 6 <= body.size();) {
        const QByteArray id = body.mid(pos, 3);
        if (!IsFrameId(id + "0"))
            break;
        const qsizetype size = (qsizetype(uchar(body[pos + 3])) << 16) | (qsizetype(uchar(body[pos + 4])) << 8) |
                               qsizetype(uchar(body[pos + 5]));
        if (size == 0 || pos + 6 + size > body.size())
            break;
        const QByteArray upgraded = V23IdOf(id);
        if (!upgraded.isEmpty() && present.value(upgraded) > 0) {
            --present[upgraded];   // converted by TagLib
        } else if (!upgraded.isEmpty() && SameBodyInV23(id)) {
            const QByteArray frameBody = body.mid(pos + 6, size);
            result.frames.append(RawFrame{upgraded, upgraded + BigEndian(quint32(size)) + QByteArray(2, '\0') + frameBody});
        } else {
            result.lost.append(id);
        }
        pos += 6 + size;
    }
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
        // A v2.2 tag cannot be written back as it is: TagLib converts its frames to v2.3, and what it drops
        // (TDA, TIM, RVA) is converted here; a frame that still has no place is named, and the tag not written.
        TagView view(tag, QByteArray());
        if (TagLib::ID3v2::Tag *parsed = view.V2())
            result = SplitTag(FromBytes(parsed->render(TagLib::ID3v2::v3)));
        result.major = 3;
        UpgradeV22Frames(tag, result);
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
    const TagLib::String::Type encoding = EncodingFor(text, major);
    TagLib::ID3v2::TextIdentificationFrame frame(TagLib::ByteVector(id, 4), encoding);
    frame.setText(ToTagLib(text));
    return RawFrame{QByteArray(id, 4), Render(frame, major)};
}

RawFrame CommentFrame(const QString &text, int major, const QByteArray &language)
{
    const TagLib::String::Type encoding = EncodingFor(text, major);
    TagLib::ID3v2::CommentsFrame frame(encoding);
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
    return -1;
}

namespace {

bool IsFrontCover(const TagLib::ID3v2::Frame *frame)
{
    const auto *picture = dynamic_cast<const TagLib::ID3v2::AttachedPictureFrame *>(frame);
    return picture && picture->type() == TagLib::ID3v2::AttachedPictureFrame::FrontCover;
}

} // namespace

bool FrontCoverFrames(const QList<RawFrame> &frames, int major, const TagLib::ID3v2::Tag *parsed,
                      QList<qsizetype> &places)
{
    places.clear();
    QList<qsizetype> pictures;
    for (qsizetype i = 0; i < frames.size(); ++i) {
        if (frames[i].id == "APIC")
            pictures.append(i);
    }
    if (pictures.isEmpty())
        return true;
    if (parsed && qsizetype(parsed->frameList("APIC").size()) == pictures.size()) {
        qsizetype n = 0;
        for (const TagLib::ID3v2::Frame *frame : parsed->frameList("APIC")) {
            if (!dynamic_cast<const TagLib::ID3v2::AttachedPictureFrame *>(frame))
                return false;   // kept unparsed (compressed, encrypted): its type is unknown
            if (IsFrontCover(frame))
                places.append(pictures[n]);
            ++n;
        }
        return true;
    }
    // Our own look: encoding, MIME type up to its terminating zero, then the picture type.
    for (const qsizetype i : pictures) {
        const QByteArray &b = frames[i].bytes;
        if (!SelfContainedFrames({frames[i]}, major))
            return false;   // compressed, encrypted, grouped or unsynchronised: its type cannot be read here
        const qsizetype zero = b.indexOf('\0', kHeaderSize + 1);
        if (zero < 0 || zero + 1 >= b.size())
            continue;   // no picture type: readers skip it too
        if (uchar(b[zero + 1]) == TagLib::ID3v2::AttachedPictureFrame::FrontCover)
            places.append(i);
    }
    return true;
}

QList<const TagLib::ID3v2::AttachedPictureFrame *> FrontCovers(const TagLib::ID3v2::Tag *tag)
{
    QList<const TagLib::ID3v2::AttachedPictureFrame *> covers;
    if (!tag)
        return covers;
    for (const TagLib::ID3v2::Frame *frame : tag->frameList("APIC")) {
        if (IsFrontCover(frame))
            covers.append(static_cast<const TagLib::ID3v2::AttachedPictureFrame *>(frame));
    }
    return covers;
}

RawFrame PictureFrame(const Picture &picture, int major)
{
    TagLib::ID3v2::AttachedPictureFrame frame;
    frame.setTextEncoding(TagLib::String::Latin1);
    frame.setMimeType(ToTagLib(picture.mime));
    frame.setType(TagLib::ID3v2::AttachedPictureFrame::FrontCover);
    frame.setPicture(ToBytes(picture.data));
    return RawFrame{QByteArray("APIC"), Render(frame, major)};
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

namespace {

// What a frame holds, independent of its header: the same bytes mean the same frame, content and encoding.
QByteArray FrameContent(const TagLib::ID3v2::Frame *frame)
{
    return FromBytes(frame->frameID()) + '\0' + FromBytes(frame->render()).mid(kHeaderSize);
}

} // namespace

QList<QByteArray> KeptFrames(TagView &view, unsigned changed, bool skipShownComment)
{
    QList<QByteArray> kept;
    TagLib::ID3v2::Tag *v2 = view.V2();
    if (!v2)
        return kept;
    QList<QByteArray> skipped;
    for (unsigned field = 1; field < kAllFields; field <<= 1) {
        if (changed & field)
            skipped += FieldIds(field);
    }
    const TagLib::ID3v2::Frame *shownComment = nullptr;
    if (skipShownComment) {
        const int shown = ShownCommentIndex(*v2);
        if (shown >= 0)
            shownComment = v2->frameList("COMM")[uint(shown)];
    }
    for (const TagLib::ID3v2::Frame *frame : v2->frameList()) {
        if (frame == shownComment || skipped.contains(FromBytes(frame->frameID())) ||
            ((changed & kCover) && IsFrontCover(frame)))
            continue;
        kept.append(FrameContent(frame));
    }
    return kept;
}

bool SelfContainedFrames(const QList<RawFrame> &frames, int major)
{
    return std::none_of(frames.begin(), frames.end(), [major](const RawFrame &frame) {
        const uchar flags = frame.bytes.size() > 9 ? uchar(frame.bytes[9]) : 0;
        return major == 3 ? (flags & 0xE0) != 0 : (flags & 0x4F) != 0;
    });
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
    QList<qsizetype> covers;
    if (changed & kCover)
        FrontCoverFrames(frames, major, parsed, covers);
    QList<QByteArray> kept;
    kept.reserve(frames.size());
    for (qsizetype i = 0; i < frames.size(); ++i) {
        if (i != shown && !skipped.contains(frames[i].id) && !covers.contains(i))
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
    }
    // Field by field, what the ID3v2 tag lacks is taken from the ID3v1 tag, as other readers do.
    if (TagLib::ID3v1::Tag *v1 = view.V1()) {
        auto fill = [](QString &field, const QString &value) {
            if (field.isEmpty())
                field = value;
        };
        fill(f.title, FromTagLib(v1->title()));
        fill(f.artist, FromTagLib(v1->artist()));
        fill(f.album, FromTagLib(v1->album()));
        fill(f.comment, FromTagLib(v1->comment()));
        fill(f.year, V1Year(rawV1));
        fill(f.track, v1->track() ? QString::number(v1->track()) : QString());
        if (f.genre < 0 && (!view.V2() || FreeGenreText(*view.V2()).isEmpty()))
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

} // namespace id3
