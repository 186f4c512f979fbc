#include "tags/otheraudio.h"

#include "tags/filereadstream.h"
#include "tags/otherinternal.h"
#include "tags/otherstructure.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QCryptographicHash>
#include <QStringList>

#include "platform/names.h"

#include <QFile>

#include <taglib/flacfile.h>
#include <taglib/flacpicture.h>
#include <taglib/id3v2framefactory.h>
#include <taglib/mp4file.h>
#include <taglib/oggfile.h>
#include <taglib/opusfile.h>
#include <taglib/tbytevectorstream.h>
#include <taglib/tpropertymap.h>
#include <taglib/vorbisfile.h>
#include <taglib/xiphcomment.h>

#include <map>
#include <memory>

namespace otheraudio {

namespace {

QString tr(const char *text) { return QCoreApplication::translate("otheraudio", text); }

QString FromTagLib(const TagLib::String &text) { return QString::fromStdString(text.to8Bit(true)); }

// The values of a property (two ARTIST comments, say), joined with "; "; empty when there is none.
QString Joined(const TagLib::PropertyMap &map, const char *key)
{
    const auto found = map.find(key);
    if (found == map.end())
        return QString();
    QStringList values;
    for (const TagLib::String &value : found->second)
        values.append(FromTagLib(value));
    return values.join(QStringLiteral("; "));
}

TagLib::String ToTagLib(const QString &text) { return TagLib::String(text.toStdString(), TagLib::String::UTF8); }

thread_local std::map<QByteArray, TagLib::ByteVectorStream *> t_inMemory;

const char *const kXiphKeys[] = {"TITLE", "ARTIST", "ALBUM", "DATE", "TRACKNUMBER", "COMMENT", "GENRE"};
const char *const kMp4Atoms[] = {"\251nam", "\251ART", "\251alb", "\251day", "trkn", "\251cmt", "\251gen"};

QString ValueOf(const Fields &f, int index)
{
    const QString *values[] = {&f.title, &f.artist, &f.album, &f.year, &f.track, &f.comment, &f.genre};
    return *values[index];
}

// The seven fields of an open file, through TagLib's property names.
Fields FieldsOf(TagLib::File &file)
{
    const TagLib::PropertyMap map = file.properties();
    Fields fields;
    fields.title = Joined(map, "TITLE");
    fields.artist = Joined(map, "ARTIST");
    fields.album = Joined(map, "ALBUM");
    fields.year = Joined(map, "DATE");
    fields.track = Joined(map, "TRACKNUMBER");
    // Vorbis comments keep a track's total in a field of its own, under one of two names.
    if (!fields.track.isEmpty() && !fields.track.contains(QLatin1Char('/'))) {
        QString total = Joined(map, "TRACKTOTAL");
        if (total.isEmpty())
            total = Joined(map, "TOTALTRACKS");
        if (!total.isEmpty())
            fields.track += QLatin1Char('/') + total;
    }
    fields.comment = Joined(map, "COMMENT");
    fields.genre = Joined(map, "GENRE");
    return fields;
}

// The FLAC pictures of a file: FLAC's PICTURE blocks, or the METADATA_BLOCK_PICTURE comments of Vorbis and Opus.
TagLib::List<TagLib::FLAC::Picture *> PicturesOf(TagLib::File &file, Format format)
{
    if (format == Format::Flac)
        return static_cast<TagLib::FLAC::File &>(file).pictureList();
    if (format == Format::OggVorbis || format == Format::OggOpus)
        return XiphOf(file, format)->pictureList();
    return {};
}

TagLib::MP4::CoverArtList Mp4Covers(TagLib::MP4::Tag *tag)
{
    return tag && tag->contains("covr") ? tag->item("covr").toCoverArtList() : TagLib::MP4::CoverArtList();
}

QByteArray FromBytes(const TagLib::ByteVector &data) { return QByteArray(data.data(), qsizetype(data.size())); }

// A picture as comparable text: its type and the digest and size of all it holds.
QString PictureText(const TagLib::ByteVector &whole, int type)
{
    return QStringLiteral("picture %1 %2 %3")
        .arg(type)
        .arg(QString::fromLatin1(QCryptographicHash::hash(FromBytes(whole), QCryptographicHash::Sha1).toHex()))
        .arg(whole.size());
}

// Everything of a file's tags that a write of the seven fields and the front cover must leave alone: the other
// fields and the pictures, as comparable text. With `coverChanged`, front covers are no part of it: FLAC, Vorbis
// and Opus pictures of type 3, and the first MP4 image unless `mp4FirstKept` (a copy whose first image was removed
// keeps the images behind it).
QStringList KeptData(TagLib::File &file, Format format, bool coverChanged = false, bool mp4FirstKept = false)
{
    QStringList kept;
    TagLib::PropertyMap map = file.properties();
    for (const char *key : kXiphKeys)
        map.erase(key);
    map.erase("TRACKTOTAL");   // read as part of the track
    map.erase("TOTALTRACKS");
    for (const auto &[key, values] : map) {
        QStringList texts;
        for (const TagLib::String &value : values)
            texts << FromTagLib(value);
        kept << FromTagLib(key) + QLatin1Char('=') + texts.join(QLatin1Char('\x1f'));
    }
    if (format == Format::Mp4) {
        const TagLib::MP4::CoverArtList covers = Mp4Covers(static_cast<TagLib::MP4::File &>(file).tag());
        int index = 0;
        for (const TagLib::MP4::CoverArt &art : covers) {
            if (index++ == 0 && coverChanged && !mp4FirstKept)
                continue;
            kept << PictureText(art.data(), int(art.format()));
        }
    } else {
        for (TagLib::FLAC::Picture *p : PicturesOf(file, format)) {
            if (!(coverChanged && p->type() == TagLib::FLAC::Picture::FrontCover))
                kept << PictureText(p->render(), int(p->type()));
        }
    }
    return kept;
}

// Makes the cover change in an open file's tags; empty, or why it cannot be made.
QString ApplyCover(TagLib::File &file, Format format, const CoverChange &cover)
{
    const TagLib::ByteVector bytes(cover.picture.data.constData(), uint(cover.picture.data.size()));
    if (format == Format::Mp4) {
        TagLib::MP4::Tag *tag = static_cast<TagLib::MP4::File &>(file).tag();
        if (!tag)
            return tr("the MP4 file has no place for tags");
        TagLib::MP4::CoverArtList covers = Mp4Covers(tag);
        if (!covers.isEmpty())
            covers.erase(covers.begin());
        if (cover.kind == CoverChange::Set) {
            const QString mime = cover.picture.mime;
            if (mime != QLatin1String("image/jpeg") && mime != QLatin1String("image/png"))
                return tr("MP4 covers are JPEG or PNG images");
            covers.prepend(TagLib::MP4::CoverArt(
                mime == QLatin1String("image/png") ? TagLib::MP4::CoverArt::PNG : TagLib::MP4::CoverArt::JPEG, bytes));
        }
        if (covers.isEmpty())
            tag->removeItem("covr");
        else
            tag->setItem("covr", TagLib::MP4::Item(covers));
        return QString();
    }
    for (TagLib::FLAC::Picture *p : PicturesOf(file, format)) {
        if (p->type() != TagLib::FLAC::Picture::FrontCover)
            continue;
        if (format == Format::Flac)
            static_cast<TagLib::FLAC::File &>(file).removePicture(p, true);
        else
            XiphOf(file, format)->removePicture(p, true);
    }
    if (cover.kind == CoverChange::Set) {
        auto picture = std::make_unique<TagLib::FLAC::Picture>();
        picture->setType(TagLib::FLAC::Picture::FrontCover);
        picture->setMimeType(ToTagLib(cover.picture.mime));
        picture->setData(bytes);
        if (format == Format::Flac)
            static_cast<TagLib::FLAC::File &>(file).addPicture(picture.release());
        else
            XiphOf(file, format)->addPicture(picture.release());
    }
    return QString();
}

} // namespace

HeldInMemory::HeldInMemory(const QByteArray &name, const QByteArray &bytes)
    : m_name(name), m_stream(TagLib::ByteVector(bytes.constData(), uint(bytes.size())))
{
    t_inMemory[m_name] = &m_stream;
}

HeldInMemory::~HeldInMemory() { t_inMemory.erase(m_name); }

QByteArray HeldInMemory::Bytes() const
{
    const TagLib::ByteVector *data = const_cast<TagLib::ByteVectorStream &>(m_stream).data();
    return QByteArray(data->data(), qsizetype(data->size()));
}

void HeldInMemory::Replace(const QByteArray &bytes)
{
    m_stream.seek(0);
    m_stream.truncate(0);
    m_stream.writeBlock(TagLib::ByteVector(bytes.constData(), uint(bytes.size())));
}

// The bytes of a file, or of one held in memory, for the structure checks.
std::unique_ptr<QIODevice> OpenBytes(const QByteArray &path)
{
    std::unique_ptr<QIODevice> device;
    if (const auto held = t_inMemory.find(path); held != t_inMemory.end()) {
        const TagLib::ByteVector *bytes = held->second->data();
        auto buffer = std::make_unique<QBuffer>();
        buffer->setData(QByteArray::fromRawData(bytes->data(), qsizetype(bytes->size())));
        device = std::move(buffer);
    } else {
        device = std::make_unique<QFile>(platform::DecodeName(path));
    }
    return device->open(QIODevice::ReadOnly) ? std::move(device) : nullptr;
}

// A file of the format read from a stream (which outlives it), without audio properties.
std::unique_ptr<TagLib::File> OpenOn(TagLib::IOStream *stream, Format format)
{
    switch (format) {
    case Format::Flac: return std::make_unique<TagLib::FLAC::File>(stream, TagLib::ID3v2::FrameFactory::instance(), false);
    case Format::OggVorbis: return std::make_unique<TagLib::Ogg::Vorbis::File>(stream, false);
    case Format::OggOpus: return std::make_unique<TagLib::Ogg::Opus::File>(stream, false);
    case Format::Mp4: return std::make_unique<TagLib::MP4::File>(stream, false);
    case Format::None: break;
    }
    return nullptr;
}

std::unique_ptr<TagLib::File> OpenAs(const QByteArray &path, Format format)
{
    if (const auto held = t_inMemory.find(path); held != t_inMemory.end()) {
        held->second->seek(0);
        return OpenOn(held->second, format);
    }
    switch (format) {
    case Format::Flac: return std::make_unique<TagLib::FLAC::File>(path.constData(), false);
    case Format::OggVorbis: return std::make_unique<TagLib::Ogg::Vorbis::File>(path.constData(), false);
    case Format::OggOpus: return std::make_unique<TagLib::Ogg::Opus::File>(path.constData(), false);
    case Format::Mp4: return std::make_unique<TagLib::MP4::File>(path.constData(), false);
    case Format::None: break;
    }
    return nullptr;
}

// The keys of the seven fields, in FieldBit order: Vorbis comment names and MP4 atoms.
TagLib::Ogg::XiphComment *XiphOf(TagLib::File &file, Format format)
{
    switch (format) {
    case Format::Flac: return static_cast<TagLib::FLAC::File &>(file).xiphComment(true);
    case Format::OggVorbis: return static_cast<TagLib::Ogg::Vorbis::File &>(file).tag();
    case Format::OggOpus: return static_cast<TagLib::Ogg::Opus::File &>(file).tag();
    default: return nullptr;
    }
}


bool ReadFrontCover(const QByteArray &nativePath, Format format, Picture &cover, QString &error)
{
    cover = Picture();
    error.clear();
    const std::unique_ptr<TagLib::File> file = OpenAs(nativePath, format);
    if (!file || !file->isValid()) {
        error = tr("the %1 data cannot be read").arg(Name(format));
        return false;
    }
    if (format == Format::Mp4) {
        const TagLib::MP4::CoverArtList covers = Mp4Covers(static_cast<TagLib::MP4::File &>(*file).tag());
        if (covers.isEmpty())
            return false;
        cover.data = FromBytes(covers.front().data());
        switch (covers.front().format()) {
        case TagLib::MP4::CoverArt::JPEG: cover.mime = QStringLiteral("image/jpeg"); break;
        case TagLib::MP4::CoverArt::PNG: cover.mime = QStringLiteral("image/png"); break;
        default: cover.mime = ImageMimeType(cover.data); break;
        }
        return true;
    }
    for (TagLib::FLAC::Picture *p : PicturesOf(*file, format)) {
        if (p->type() != TagLib::FLAC::Picture::FrontCover)
            continue;
        cover.data = FromBytes(p->data());
        cover.mime = FromTagLib(p->mimeType());
        if (!cover.mime.contains(QLatin1Char('/')))
            cover.mime = ImageMimeType(cover.data);
        return true;
    }
    return false;
}

QString ApplyChanges(TagLib::File &file, Format format, const Fields &fields, unsigned changed,
                     const CoverChange &cover)
{
    for (int i = 0; i < 7; ++i) {
        if (!(changed & (1u << i)))
            continue;
        const QString value = ValueOf(fields, i);
        if (TagLib::Ogg::XiphComment *xiph = XiphOf(file, format)) {
            xiph->removeFields(kXiphKeys[i]);
            if (i == 4) {
                // "3/12": the number in TRACKNUMBER, the total in TRACKTOTAL.
                xiph->removeFields("TRACKTOTAL");
                xiph->removeFields("TOTALTRACKS");
                const QString total = value.section(QLatin1Char('/'), 1, 1);
                if (!value.isEmpty())
                    xiph->addField("TRACKNUMBER", ToTagLib(value.section(QLatin1Char('/'), 0, 0)), true);
                if (!total.isEmpty())
                    xiph->addField("TRACKTOTAL", ToTagLib(total), true);
            } else if (!value.isEmpty()) {
                xiph->addField(kXiphKeys[i], ToTagLib(value), true);
            }
        } else if (format == Format::Mp4) {
            TagLib::MP4::Tag *tag = static_cast<TagLib::MP4::File &>(file).tag();
            if (!tag)
                return tr("the MP4 file has no place for tags");
            if (i == 6)
                tag->removeItem("gnre");   // a numbered genre would hide the text one
            if (value.isEmpty()) {
                tag->removeItem(kMp4Atoms[i]);
            } else if (i == 4) {
                const int number = value.section(QLatin1Char('/'), 0, 0).trimmed().toInt();
                const int total = value.section(QLatin1Char('/'), 1, 1).trimmed().toInt();
                tag->setItem("trkn", TagLib::MP4::Item(number, total));
            } else {
                tag->setItem(kMp4Atoms[i], TagLib::StringList(ToTagLib(value)));
            }
        }
    }
    if (cover.kind != CoverChange::None)
        return ApplyCover(file, format, cover);
    return QString();
}

TagLib::ByteVector OggCommentPacket(TagLib::Ogg::XiphComment &comment, Format format)
{
    // Vorbis: its packet type and name, and a framing bit after the comments; Opus: "OpusTags", without one.
    TagLib::ByteVector packet(format == Format::OggOpus ? "OpusTags" : "\x03vorbis");
    packet.append(comment.render(format != Format::OggOpus));
    return packet;
}

QString WriteAndCheck(const QByteArray &original, const QByteArray &copy, Format format, const Fields &fields,
                      unsigned changed, const CoverChange &cover, bool compareAudio)
{
    std::unique_ptr<TagLib::File> before;
    if (const QString why = WriteUnchecked(original, copy, format, fields, changed, cover, before); !why.isEmpty())
        return why;
    return CheckCopy(original, copy, format, fields, changed, cover, compareAudio, before.get());
}

QString WriteUnchecked(const QByteArray &original, const QByteArray &copy, Format format, const Fields &fields,
                       unsigned changed, const CoverChange &cover, std::unique_ptr<TagLib::File> &before)
{
    if (format == Format::Flac || format == Format::Mp4) {
        const std::unique_ptr<QIODevice> bytes = OpenBytes(original);
        if (!bytes)
            return tr("the %1 data cannot be read").arg(Name(format));
        if (format == Format::Flac) {
            if (const QString problem = FlacMetadataProblem(*bytes); !problem.isEmpty())
                return problem;
        } else if (!Mp4FileHolds(*bytes)) {
            return tr("the MP4 boxes are damaged (a box runs past its parent, or a chunk table past its box)");
        }
    }
    before = OpenAs(original, format);
    std::unique_ptr<TagLib::File> file = OpenAs(copy, format);
    if (!before || !before->isValid() || !file || !file->isValid())
        return tr("the %1 data cannot be read").arg(Name(format));
    if (const QString why = ApplyChanges(*file, format, fields, changed, cover); !why.isEmpty())
        return why;
    if (format == Format::OggVorbis || format == Format::OggOpus) {
        // The comment packet leaves room for the next change (zero bytes after the comments, which readers pass
        // over), so that one can be written where the packet stands.
        TagLib::ByteVector packet = OggCommentPacket(*XiphOf(*file, format), format);
        packet.resize(packet.size() + kOggPadding, '\0');
        auto &ogg = static_cast<TagLib::Ogg::File &>(*file);
        ogg.setPacket(1, packet);
        if (!ogg.TagLib::Ogg::File::save())
            return tr("TagLib could not write the %1 tags").arg(Name(format));
    } else if (!file->save()) {
        return tr("TagLib could not write the %1 tags").arg(Name(format));
    }
    return QString();
}

QString CheckCopy(const QByteArray &original, const QByteArray &copy, Format format, const Fields &fields,
                  unsigned changed, const CoverChange &cover, bool compareAudio, TagLib::File *originalFile)
{
    std::unique_ptr<TagLib::File> ownOriginal;
    if (!originalFile) {
        ownOriginal = OpenAs(original, format);
        originalFile = ownOriginal.get();
    }
    // The copy as the next reading will see it.
    const std::unique_ptr<TagLib::File> after = OpenAs(copy, format);
    if (!originalFile || !originalFile->isValid() || !after || !after->isValid())
        return tr("the %1 data cannot be read").arg(Name(format));
    TagLib::File &before = *originalFile;
    const Fields read = FieldsOf(*after);
    const Fields opened = FieldsOf(before);
    QString why;
    for (int i = 0; i < 7; ++i) {
        QString expected = (changed & (1u << i)) ? ValueOf(fields, i) : ValueOf(opened, i);
        QString got = ValueOf(read, i);
        if (i == 4 && format == Format::Mp4 && (changed & kTrack)) {
            expected = expected.section(QLatin1Char('/'), 0, 0).trimmed();
            got = got.section(QLatin1Char('/'), 0, 0).trimmed();
        }
        if (got != expected)
            return tr("a field would read \"%1\" instead of \"%2\"").arg(got, expected);
    }
    const bool coverChanged = cover.kind != CoverChange::None;
    if (KeptData(*after, format, coverChanged, cover.kind == CoverChange::Remove) != KeptData(before, format, coverChanged))
        return tr("fields or pictures that were not changed would not survive");
    if (coverChanged) {
        Picture got;
        ReadFrontCover(copy, format, got, why);
        if (!why.isEmpty())
            return why;
        const bool flacPictures = format != Format::Mp4;
        if (cover.kind == CoverChange::Set ? (got.data != cover.picture.data || got.mime != cover.picture.mime)
                                           : (flacPictures && !got.IsEmpty()))
            return tr("the front cover would not read back as written");
    }
    if (compareAudio) {
        if (const QString problem = AudioProblem(original, copy, format); !problem.isEmpty())
            return problem;
    }
    return QString();
}

Format Detect(const QByteArray &start, const QByteArray &afterTag)
{
    if (start.startsWith("fLaC") || (start.startsWith("ID3") && afterTag.startsWith("fLaC")))
        return Format::Flac;
    if (start.size() >= 12 && start.mid(4, 4) == "ftyp")
        return Format::Mp4;
    // An Ogg page: the codec's first packet starts after the header and its segment table.
    if (start.startsWith("OggS") && start.size() > 27) {
        const qsizetype packet = 27 + uchar(start[26]);
        const QByteArray first = start.mid(packet, 8);
        if (first.startsWith("\x01vorbis"))
            return Format::OggVorbis;
        if (first == "OpusHead")
            return Format::OggOpus;
    }
    return Format::None;
}

QString Name(Format format)
{
    switch (format) {
    case Format::Flac: return QStringLiteral("FLAC");
    case Format::OggVorbis: return QStringLiteral("Ogg Vorbis");
    case Format::OggOpus: return QStringLiteral("Ogg Opus");
    case Format::Mp4: return QStringLiteral("MP4");
    case Format::None: break;
    }
    return QString();
}

QString OggKind(const QByteArray &start)
{
    if (!start.startsWith("OggS") || start.size() < 28)
        return QString();
    const int segments = uchar(start[26]);
    const QByteArray first = start.mid(27 + segments, 8);
    // A second page that also begins a stream: several streams multiplexed (audio beside video, say).
    qsizetype next = 27 + segments;
    for (int i = 0; i < segments && 27 + i < start.size(); ++i)
        next += uchar(start[27 + i]);
    if (start.size() >= next + 6 && start.mid(next, 4) == "OggS" && (uchar(start[next + 5]) & 0x02))
        return tr("several streams in one file");
    if (first.startsWith("\x7F" "FLAC"))
        return tr("Ogg FLAC");
    if (first.startsWith("Speex"))
        return tr("Speex");
    if (first.startsWith("\x80theora"))
        return tr("Theora video");
    if (first.startsWith("\x01vorbis") || first.startsWith("OpusHead"))
        return tr("a damaged stream");
    return tr("an unknown codec");
}

bool IsOtherAudioExtension(QStringView extension)
{
    static const QStringList kExtensions{QStringLiteral("flac"), QStringLiteral("ogg"), QStringLiteral("oga"),
                                         QStringLiteral("opus"), QStringLiteral("m4a")};
    return kExtensions.contains(extension, Qt::CaseInsensitive);
}

bool NameFits(const QString &extension, Format format)
{
    const QString ext = extension.toLower();
    switch (format) {
    case Format::Flac: return ext == QLatin1String("flac");
    case Format::OggVorbis:
    case Format::OggOpus:
        return ext == QLatin1String("ogg") || ext == QLatin1String("oga") ||
               (format == Format::OggOpus && ext == QLatin1String("opus"));
    case Format::Mp4: return ext == QLatin1String("m4a");
    case Format::None: break;
    }
    return false;
}

bool Read(const platform::ReadOnlyFile &open, const QByteArray &nativePath, Format format, Fields &fields,
          QString &error)
{
    // Without audio properties: only the tags are parsed.
    FileReadStream stream(open, nativePath);
    const std::unique_ptr<TagLib::File> file = OpenOn(&stream, format);
    if (!file || !file->isValid()) {
        error = tr("the %1 data cannot be read").arg(Name(format));
        return false;
    }
    fields = FieldsOf(*file);
    return true;
}

} // namespace otheraudio
