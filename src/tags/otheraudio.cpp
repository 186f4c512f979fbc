#include "tags/otheraudio.h"

#include <QCoreApplication>
#include <QStringList>

#include <taglib/flacfile.h>
#include <taglib/mp4file.h>
#include <taglib/opusfile.h>
#include <taglib/tpropertymap.h>
#include <taglib/vorbisfile.h>

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

} // namespace

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

bool IsOtherAudioExtension(const QString &extension)
{
    static const QStringList kExtensions{QStringLiteral("flac"), QStringLiteral("ogg"), QStringLiteral("oga"),
                                         QStringLiteral("opus"), QStringLiteral("m4a")};
    return kExtensions.contains(extension, Qt::CaseInsensitive);
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
