#pragma once

#include "tags/otheraudio.h"

#include <QByteArray>
#include <QString>

#include <taglib/tbytevector.h>
#include <taglib/tbytevectorstream.h>
#include <taglib/tfile.h>
#include <taglib/xiphcomment.h>

#include <memory>

// What the writers of FLAC, Ogg and MP4 files share inside the tags folder: bytes held in memory under a name of
// their own (a scratch copy of a file's metadata), TagLib files opened on a name, a change applied to an open
// file, and the check of a written copy.
namespace otheraudio {

// Holds bytes under a name while it lives, on this thread: OpenAs, WriteAndCheck and CheckCopy read and write them
// there instead of a file of that name, so checking a change in place touches no disk.
class HeldInMemory
{
public:
    HeldInMemory(const QByteArray &name, const QByteArray &bytes);
    ~HeldInMemory();
    HeldInMemory(const HeldInMemory &) = delete;
    HeldInMemory &operator=(const HeldInMemory &) = delete;

    QByteArray Bytes() const;
    void Replace(const QByteArray &bytes);

private:
    QByteArray m_name;
    TagLib::ByteVectorStream m_stream;
};

// A file of the format (read-write, without audio properties) of that name, held or on disk; nullptr for None.
std::unique_ptr<TagLib::File> OpenAs(const QByteArray &path, Format format);
// The Vorbis comments of a FLAC, Vorbis or Opus file (made for a FLAC file that has none); nullptr for MP4.
TagLib::Ogg::XiphComment *XiphOf(TagLib::File &file, Format format);
// Makes the field and cover changes in an open file's tags (not saved); empty, or why they cannot be made.
QString ApplyChanges(TagLib::File &file, Format format, const Fields &fields, unsigned changed, const CoverChange &cover);
// An Ogg file's comment packet as it is written: the codec's header and the rendered comments.
TagLib::ByteVector OggCommentPacket(TagLib::Ogg::XiphComment &comment, Format format);
// WriteAndCheck without the check: the structure checks of the original, the change saved into the copy, and the
// original as TagLib read it (`before`), for CheckCopy.
QString WriteUnchecked(const QByteArray &original, const QByteArray &copy, Format format, const Fields &fields,
                       unsigned changed, const CoverChange &cover, std::unique_ptr<TagLib::File> &before);
// Checks a written copy as it will be read (`originalFile`: the original, open already, or nullptr to open it).
QString CheckCopy(const QByteArray &original, const QByteArray &copy, Format format, const Fields &fields,
                  unsigned changed, const CoverChange &cover, bool compareAudio, TagLib::File *originalFile = nullptr);

// Zero bytes left after the comments of an Ogg comment packet that is rewritten whole, for the next change.
constexpr unsigned kOggPadding = 1024;

} // namespace otheraudio
