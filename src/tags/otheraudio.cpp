#include "tags/otheraudio.h"

#include <QCoreApplication>
#include <QStringList>

#include "platform/names.h"

#include <QFile>

#include <taglib/flacfile.h>
#include <taglib/flacpicture.h>
#include <taglib/mp4file.h>
#include <taglib/opusfile.h>
#include <taglib/tpropertymap.h>
#include <taglib/vorbisfile.h>
#include <taglib/xiphcomment.h>

#include <memory>

namespace otheraudio {

namespace {

QString tr(const char *text) { return QCoreApplication::translate("otheraudio", text); }

QString FromTagLib(const TagLib::String &text) { return QString::fromStdString(text.to8Bit(true)); }

// The first value of a property, or empty.
QString First(const TagLib::PropertyMap &map, const char *key)
{
    const auto found = map.find(key);
    return found == map.end() || found->second.isEmpty() ? QString() : FromTagLib(found->second.front());
}

TagLib::String ToTagLib(const QString &text) { return TagLib::String(text.toStdString(), TagLib::String::UTF8); }

std::unique_ptr<TagLib::File> OpenAs(const QByteArray &path, Format format)
{
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
const char *const kXiphKeys[] = {"TITLE", "ARTIST", "ALBUM", "DATE", "TRACKNUMBER", "COMMENT", "GENRE"};
const char *const kMp4Atoms[] = {"\251nam", "\251ART", "\251alb", "\251day", "trkn", "\251cmt", "\251gen"};

QString ValueOf(const Fields &f, int index)
{
    const QString *values[] = {&f.title, &f.artist, &f.album, &f.year, &f.track, &f.comment, &f.genre};
    return *values[index];
}

TagLib::Ogg::XiphComment *XiphOf(TagLib::File &file, Format format)
{
    switch (format) {
    case Format::Flac: return static_cast<TagLib::FLAC::File &>(file).xiphComment(true);
    case Format::OggVorbis: return static_cast<TagLib::Ogg::Vorbis::File &>(file).tag();
    case Format::OggOpus: return static_cast<TagLib::Ogg::Opus::File &>(file).tag();
    default: return nullptr;
    }
}

// Everything of a file's tags that a write of the seven fields must leave alone: the other fields and the
// pictures, as comparable text.
QStringList KeptData(TagLib::File &file, Format format)
{
    QStringList kept;
    TagLib::PropertyMap map = file.properties();
    for (const char *key : kXiphKeys)
        map.erase(key);
    for (const auto &[key, values] : map) {
        QStringList texts;
        for (const TagLib::String &value : values)
            texts << FromTagLib(value);
        kept << FromTagLib(key) + QLatin1Char('=') + texts.join(QLatin1Char('\x1f'));
    }
    auto picture = [&kept](const TagLib::ByteVector &data) {
        kept << QStringLiteral("picture ") + QString::fromLatin1(QByteArray(data.data(), int(data.size())).toBase64().left(64)) +
                    QString::number(data.size());
    };
    if (format == Format::Flac) {
        for (TagLib::FLAC::Picture *p : static_cast<TagLib::FLAC::File &>(file).pictureList())
            picture(p->render());
    } else if (TagLib::Ogg::XiphComment *xiph = XiphOf(file, format)) {
        for (TagLib::FLAC::Picture *p : xiph->pictureList())
            picture(p->render());
    } else if (format == Format::Mp4) {
        TagLib::MP4::Tag *tag = static_cast<TagLib::MP4::File &>(file).tag();
        if (tag && tag->contains("covr")) {
            for (const TagLib::MP4::CoverArt &art : tag->item("covr").toCoverArtList()) {
                picture(art.data());
                kept << QStringLiteral("picture format %1").arg(int(art.format()));
            }
        }
    }
    return kept;
}

// The audio of a file, to compare: FLAC frames after the metadata, MP4 media data, Ogg audio packets.
QList<QByteArray> Audio(const QByteArray &bytes, Format format)
{
    QList<QByteArray> audio;
    if (format == Format::Flac) {
        qsizetype at = 0;
        if (bytes.startsWith("ID3") && bytes.size() >= 10)
            at = 10 + ((qsizetype(uchar(bytes[6])) << 21) | (qsizetype(uchar(bytes[7])) << 14) |
                       (qsizetype(uchar(bytes[8])) << 7) | qsizetype(uchar(bytes[9])));
        if (bytes.mid(at, 4) != "fLaC")
            return {};
        at += 4;
        for (bool last = false; !last && at + 4 <= bytes.size();) {
            last = uchar(bytes[at]) & 0x80;
            at += 4 + ((qsizetype(uchar(bytes[at + 1])) << 16) | (qsizetype(uchar(bytes[at + 2])) << 8) |
                       qsizetype(uchar(bytes[at + 3])));
        }
        audio << bytes.mid(at);
    } else if (format == Format::Mp4) {
        for (qsizetype at = 0; at + 8 <= bytes.size();) {
            quint64 size = (quint64(uchar(bytes[at])) << 24) | (quint64(uchar(bytes[at + 1])) << 16) |
                           (quint64(uchar(bytes[at + 2])) << 8) | quint64(uchar(bytes[at + 3]));
            qsizetype header = 8;
            if (size == 1 && at + 16 <= bytes.size()) {
                size = 0;
                for (int i = 8; i < 16; ++i)
                    size = (size << 8) | uchar(bytes[at + i]);
                header = 16;
            } else if (size == 0) {
                size = quint64(bytes.size() - at);
            }
            if (size < quint64(header))
                break;
            if (bytes.mid(at + 4, 4) == "mdat")
                audio << bytes.mid(at + header, qsizetype(size) - header);
            at += qsizetype(size);
        }
    } else {
        // Ogg: pages of segments; a segment shorter than 255 bytes ends a packet.
        QByteArray packet;
        for (qsizetype at = 0; at + 27 <= bytes.size() && bytes.mid(at, 4) == "OggS";) {
            const int segments = uchar(bytes[at + 26]);
            qsizetype body = at + 27 + segments;
            for (int i = 0; i < segments && at + 27 + i < bytes.size(); ++i) {
                const int length = uchar(bytes[at + 27 + i]);
                packet += bytes.mid(body, length);
                body += length;
                if (length < 255) {
                    audio << packet;
                    packet.clear();
                }
            }
            at = body;
        }
        if (!packet.isEmpty())
            audio << packet;
        audio = audio.mid(format == Format::OggVorbis ? 3 : 2);   // the header packets hold the tags
    }
    return audio;
}

quint64 BigEndian(const QByteArray &b, qsizetype at, int bytes)
{
    quint64 value = 0;
    for (int i = 0; i < bytes; ++i)
        value = (value << 8) | uchar(b[at + i]);
    return value;
}

// Whether the boxes of an MP4 file between `from` and `to` hold together: each box within its parent, and each
// chunk offset table (stco, co64) no longer than its box says. TagLib rewrites those tables when the tags grow and
// loops for ages over one whose entry count is damaged.
bool Mp4BoxesHold(const QByteArray &bytes, qsizetype from, qsizetype to, int depth = 0)
{
    static const QList<QByteArray> kContainers{"moov", "trak", "mdia", "minf", "stbl", "moof", "traf", "udta", "edts"};
    if (depth > 16)
        return false;
    for (qsizetype at = from; at + 8 <= to;) {
        quint64 size = BigEndian(bytes, at, 4);
        qsizetype header = 8;
        if (size == 1) {
            if (at + 16 > to)
                return false;
            size = BigEndian(bytes, at + 8, 8);
            header = 16;
        } else if (size == 0) {
            size = quint64(to - at);
        }
        if (size < quint64(header) || size > quint64(to - at))
            return false;
        const QByteArray type = bytes.mid(at + 4, 4);
        const qsizetype payload = at + header;
        const qsizetype end = at + qsizetype(size);
        if (type == "stco" || type == "co64") {
            if (payload + 8 > end)
                return false;
            const quint64 count = BigEndian(bytes, payload + 4, 4);
            if (quint64(payload + 8) + count * (type == "stco" ? 4 : 8) > quint64(end))
                return false;
        } else if (kContainers.contains(type) && !Mp4BoxesHold(bytes, payload, end, depth + 1)) {
            return false;
        }
        at = end;
    }
    return true;
}

QByteArray ReadAll(const QByteArray &path)
{
    QFile file(platform::DecodeName(path));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

QString WriteAndCheck(const QByteArray &original, const QByteArray &copy, Format format, const Fields &fields,
                      unsigned changed)
{
    if (format == Format::Mp4) {
        const QByteArray bytes = ReadAll(original);
        if (!Mp4BoxesHold(bytes, 0, bytes.size()))
            return tr("the MP4 boxes are damaged (a box runs past its parent, or a chunk table past its box)");
    }
    const std::unique_ptr<TagLib::File> before = OpenAs(original, format);
    std::unique_ptr<TagLib::File> file = OpenAs(copy, format);
    if (!before || !before->isValid() || !file || !file->isValid())
        return tr("the %1 data cannot be read").arg(Name(format));
    for (int i = 0; i < 7; ++i) {
        if (!(changed & (1u << i)))
            continue;
        const QString value = ValueOf(fields, i);
        if (TagLib::Ogg::XiphComment *xiph = XiphOf(*file, format)) {
            xiph->removeFields(kXiphKeys[i]);
            if (!value.isEmpty())
                xiph->addField(kXiphKeys[i], ToTagLib(value), true);
        } else if (format == Format::Mp4) {
            TagLib::MP4::Tag *tag = static_cast<TagLib::MP4::File &>(*file).tag();
            if (!tag)
                return tr("the MP4 file has no place for tags");
            if (i == 6)
                tag->removeItem("gnre");   // a numbered genre would hide the text one
            if (value.isEmpty()) {
                tag->removeItem(kMp4Atoms[i]);
            } else if (i == 4) {
                const int number = value.section(QLatin1Char('/'), 0, 0).trimmed().toInt();
                const int total = tag->contains("trkn") ? tag->item("trkn").toIntPair().second : 0;
                tag->setItem("trkn", TagLib::MP4::Item(number, total));
            } else {
                tag->setItem(kMp4Atoms[i], TagLib::StringList(ToTagLib(value)));
            }
        }
    }
    if (!file->save())
        return tr("TagLib could not write the %1 tags").arg(Name(format));
    file.reset();

    // The copy as the next reading will see it.
    Fields read;
    QString why;
    if (!Read(copy, format, read, why))
        return why;
    Fields opened;
    if (!Read(original, format, opened, why))
        return why;
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
    const std::unique_ptr<TagLib::File> after = OpenAs(copy, format);
    if (!after || KeptData(*after, format) != KeptData(*before, format))
        return tr("fields or pictures that were not changed would not survive");
    const QList<QByteArray> audioBefore = Audio(ReadAll(original), format);
    if (audioBefore.isEmpty() || Audio(ReadAll(copy), format) != audioBefore)
        return tr("the audio would not stay the same");
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

bool Read(const QByteArray &nativePath, Format format, Fields &fields, QString &error)
{
    // Read-only, without audio properties: only the tags are parsed.
    std::unique_ptr<TagLib::File> file;
    switch (format) {
    case Format::Flac: file = std::make_unique<TagLib::FLAC::File>(nativePath.constData(), false); break;
    case Format::OggVorbis: file = std::make_unique<TagLib::Ogg::Vorbis::File>(nativePath.constData(), false); break;
    case Format::OggOpus: file = std::make_unique<TagLib::Ogg::Opus::File>(nativePath.constData(), false); break;
    case Format::Mp4: file = std::make_unique<TagLib::MP4::File>(nativePath.constData(), false); break;
    case Format::None: break;
    }
    if (!file || !file->isValid()) {
        error = tr("the %1 data cannot be read").arg(Name(format));
        return false;
    }
    const TagLib::PropertyMap map = file->properties();
    fields.title = First(map, "TITLE");
    fields.artist = First(map, "ARTIST");
    fields.album = First(map, "ALBUM");
    fields.year = First(map, "DATE");
    fields.track = First(map, "TRACKNUMBER");
    fields.comment = First(map, "COMMENT");
    fields.genre = First(map, "GENRE");
    return true;
}

} // namespace otheraudio
