#include "tags/tagfile.h"

#include "platform/names.h"
#include "tags/genretable.h"
#include "tags/id3canonical.h"
#include "tags/otheraudio.h"
#include "tags/tagwrite.h"

#include <QCoreApplication>

#include <algorithm>

using namespace id3;
using namespace tagwrite;

// The writes of FLAC, Ogg Vorbis, Opus and MP4 files: TagLib makes the change in a copy (of the metadata, in
// memory, when it can be written where it stands; of the whole file otherwise), the copy is checked as it will be
// read, and the journal is told of the bytes that differ before anything is written.

namespace {

QString tr(const char *text) { return QCoreApplication::translate("TagFile", text); }

// How many bytes two files share at their start and, after that, at their end; read a piece at a time.
bool CommonEnds(const platform::ReadOnlyFile &a, const platform::ReadOnlyFile &b, qint64 &prefix, qint64 &suffix)
{
    constexpr qint64 kPiece = qint64(256) << 10;
    const qint64 sizeA = a.Status().size, sizeB = b.Status().size;
    const qint64 shortest = std::min(sizeA, sizeB);
    QByteArray x, y;
    prefix = 0;
    while (prefix < shortest) {
        const qint64 n = std::min(kPiece, shortest - prefix);
        if (a.ReadAt(prefix, n, x) != 0 || b.ReadAt(prefix, n, y) != 0 || x.size() != n || y.size() != n)
            return false;
        qsizetype same = 0;
        while (same < n && x[same] == y[same])
            ++same;
        prefix += same;
        if (same < n)
            break;
    }
    suffix = 0;
    while (suffix < shortest - prefix) {
        const qint64 n = std::min(kPiece, shortest - prefix - suffix);
        if (a.ReadAt(sizeA - suffix - n, n, x) != 0 || b.ReadAt(sizeB - suffix - n, n, y) != 0 || x.size() != n ||
            y.size() != n)
            return false;
        qsizetype same = 0;
        while (same < n && x[n - 1 - same] == y[n - 1 - same])
            ++same;
        suffix += same;
        if (same < n)
            break;
    }
    return true;
}

} // namespace

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
    unsigned bits = 0;
    if (changed & kTitle) bits |= otheraudio::kTitle;
    if (changed & kArtist) bits |= otheraudio::kArtist;
    if (changed & kAlbum) bits |= otheraudio::kAlbum;
    if (changed & kYear) bits |= otheraudio::kYear;
    if (changed & kTrack) bits |= otheraudio::kTrack;
    if (changed & kComment) bits |= otheraudio::kComment;
    if (changed & kGenre) bits |= otheraudio::kGenre;
    const otheraudio::Fields fields{title, artist, album, year, TrackText(track), comment,
                                    genre >= 0 ? GenreTable::NameOf(genre) : m_genreText};
    otheraudio::CoverChange cover;
    if (m_coverChange != CoverChange::None) {
        cover.kind = m_coverChange == CoverChange::Set ? otheraudio::CoverChange::Set : otheraudio::CoverChange::Remove;
        cover.picture = m_cover;
    }
    pending->trackChanged = (changed & kTrack) != 0;
    pending->track = fields.track;
    // FLAC metadata that keeps its room (its padding gives or takes the difference) is written where it stands:
    // a few KiB instead of a copy of the whole file.
    // So is an MP4 movie box that keeps its size, at the start or at the end of the file.
    // So is an Ogg comment packet that keeps its length (the zero bytes after the comments give or take).
    {
        QByteArray oldHead, newHead, oldTail, newTail;
        QString problem;
        if (format == otheraudio::Format::Flac) {
            problem = otheraudio::FlacInPlace(platform::EncodeName(target), fields, bits, cover, oldHead, newHead);
        } else if (format != otheraudio::Format::Mp4) {
            problem = otheraudio::OggInPlace(platform::EncodeName(target), format, fields, bits, cover, oldHead, newHead);
        } else {
            qint64 at = -1;
            QByteArray oldBox, newBox;
            problem = otheraudio::Mp4InPlace(platform::EncodeName(target), fields, bits, cover, at, oldBox, newBox);
            const qint64 size = raw.status.size;
            if (problem.isEmpty() && at >= 0 && at + oldBox.size() == size) {
                oldTail = oldBox;
                newTail = newBox;
            } else if (problem.isEmpty() && at >= 0 && at + oldBox.size() <= kMaxInPlaceWrite) {
                // A movie box near the start: the bytes before it go with it, unchanged.
                QByteArray before;
                if (file.ReadAt(0, at, before) == 0 && before.size() == at) {
                    oldHead = before + oldBox;
                    newHead = before + newBox;
                }
            }
        }
        if (!problem.isEmpty())
            return fail(tr("%1: the tags cannot be written faithfully (%2); the file was not changed").arg(path, problem));
        if (!newHead.isEmpty() || !newTail.isEmpty()) {
            pending->announced.Announce(target, platform::IdentityOf(raw.status), oldHead, oldTail, newHead, newTail);
            pending->regionInPlace = true;
            pending->headEnd = oldHead.size();
            pending->newHead = newHead;
            pending->tailStart = raw.status.size - oldTail.size();
            pending->newTail = newTail;
            AddChangedPiece(pending->changedPieces, 0, oldHead, newHead);
            AddChangedPiece(pending->changedPieces, pending->tailStart, oldTail, newTail);
            m_pending = pending;
            return true;
        }
    }
    if (raw.status.links > 1)
        return fail(tr("%1: the file has %2 hard links; writing it would separate them").arg(path).arg(raw.status.links));
    if ((status = file.CopyToWorkingCopy(pending->copy)) != 0)
        return fail(FailureText(path, status));
    const QString problem = otheraudio::WriteAndCheck(platform::EncodeName(target), platform::EncodeName(pending->copy.Path()),
                                                      format, fields, bits, cover);
    if (!problem.isEmpty())
        return fail(tr("%1: the tags cannot be written faithfully (%2); the file was not changed").arg(path, problem));

    // The journal gets the bytes that differ: everything before the audio they share at the end, or everything
    // after what they share at the start, whichever is the tag's part. Never the audio.
    // Both files are compared a piece at a time from each end, so a large file is never held in memory.
    platform::ReadOnlyFile after;
    qint64 prefix = 0, suffix = 0;
    if (after.Open(pending->copy.Path()) != 0 || !CommonEnds(file, after, prefix, suffix))
        return fail(tr("%1: the written copy cannot be read back; the file was not changed").arg(path));
    const qint64 oldSize = file.Status().size, newSize = after.Status().size;
    QByteArray oldHead, newHead, oldTail, newTail;
    bool read = true;
    if (oldSize - suffix <= kMaxTagSize) {
        read = file.ReadAt(0, oldSize - suffix, oldHead) == 0 && after.ReadAt(0, newSize - suffix, newHead) == 0;
    } else if (oldSize - prefix <= kMaxTagSize) {
        read = file.ReadAt(prefix, oldSize - prefix, oldTail) == 0 && after.ReadAt(prefix, newSize - prefix, newTail) == 0;
    } else {
        return fail(tr("%1: the write would move the audio, which the undo journal does not hold; the file was not "
                       "changed").arg(path));
    }
    if (!read)
        return fail(tr("%1: the written copy cannot be read back; the file was not changed").arg(path));
    pending->announced.Announce(target, platform::IdentityOf(raw.status), oldHead, oldTail, newHead, newTail);
    pending->replace = true;
    m_pending = pending;
    return true;
}
