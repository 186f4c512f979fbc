#include "tags/tagfile.h"

#include "tags/tagwrite.h"

#include "platform/changeobserver.h"
#include "platform/fileio.h"
#include "platform/names.h"
#include "tags/genretable.h"
#include "tags/normalize.h"
#include "tags/id3canonical.h"
#include "tags/id3raw.h"
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
#include <numeric>
#include <optional>

// All ID3 parsing and frame rendering goes through TagLib, and only in tags/ (id3raw: the bytes and frames,
// id3canonical: TagLib's reading and rendering; this file: opening and writing files). TagLib parses the tags
// for reading. For writing we do not let TagLib re-render the whole tag: it drops or rewrites frames it does not
// model (RVAD, TDAT, TIME in v2.3; "(17)Rock" becomes "Rock"; short years vanish), and it writes files in place.
// Instead the tag's frames are kept as raw bytes, the frames of changed fields are replaced by frames TagLib
// renders, and the file is assembled here, so every untouched frame stays byte for byte.

using namespace id3;
using namespace tagwrite;

namespace {

constexpr int kNewTagPadding = 1024;

QString tr(const char *text) { return QCoreApplication::translate("TagFile", text); }

// Tags up to this size keep Open's parse for the write.
constexpr qint64 kMaxKeptParse = qint64(16) << 10;

// Opens a file for reading and reads where its tags lie. Returns 0 or an errno value.
int ReadTagsOf(const QString &path, platform::ReadOnlyFile &file, RawTags &raw)
{
    const int error = file.Open(path);
    return error != 0 ? error : ReadRawTags(file, raw);
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

QString TagFile::TrackText(const QString &text)
{
    const long long number = LeadingNumber(text);
    if (number <= 0 || number > 4096)
        return QString();
    const QStringList parts = text.split(QLatin1Char('/'));
    if (parts.size() == 2) {
        bool numberOk = false, totalOk = false;
        parts[0].trimmed().toInt(&numberOk);
        const int total = parts[1].trimmed().toInt(&totalOk);
        if (numberOk && totalOk && total > 0 && total <= 4096 && !parts[1].trimmed().startsWith(QLatin1Char('+')))
            return QStringLiteral("%1/%2").arg(number).arg(total);
    }
    return QString::number(number);
}

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
        if (const int error = ReadTagsOf(fullPath, file, raw); error != 0) {
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
            otheraudio::Read(file, platform::EncodeName(fullPath), format, other, why)) {
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

bool TagFile::ReadFrontCover(const QString &fullPath, Picture &cover, QString *error)
{
    cover = Picture();
    if (error)
        error->clear();
    try {
        platform::ReadOnlyFile file;
        RawTags raw;
        if (const int status = ReadTagsOf(fullPath, file, raw); status != 0) {
            if (error)
                *error = FailureText(fullPath, status);
            return false;
        }
        if (const otheraudio::Format other = otheraudio::Detect(raw.start, raw.afterTag);
            other != otheraudio::Format::None) {
            QString why;
            const bool found = otheraudio::ReadFrontCover(platform::EncodeName(fullPath), other, cover, why);
            if (!why.isEmpty() && error)
                *error = tr("%1: %2").arg(fullPath, why);
            return found;
        }
        if (raw.v2.isEmpty())
            return false;
        CanonicalTag tag;
        const std::unique_ptr<TagView> view = ReadCanonical(raw.v2, raw.v1, tag);
        const auto covers = FrontCovers(view->V2());
        if (covers.isEmpty())
            return false;
        cover.data = FromBytes(covers.front()->picture());
        cover.mime = FromTagLib(covers.front()->mimeType());
        if (cover.mime.isEmpty() || !cover.mime.contains(QLatin1Char('/')))
            cover.mime = ImageMimeType(cover.data);   // "JPG", "PNG" and nothing are common in old tags
        return true;
    } catch (const std::bad_alloc &) {
        cover = Picture();
        if (error)
            *error = tr("%1: not enough memory to read the cover").arg(fullPath);
        return false;
    }
}

void TagFile::SetFrontCover(const Picture &picture)
{
    m_cover = picture;
    m_coverChange = CoverChange::Set;
}

void TagFile::RemoveFrontCover()
{
    m_cover = Picture();
    m_coverChange = CoverChange::Remove;
}

void TagFile::KeepFrontCover()
{
    m_cover = Picture();
    m_coverChange = CoverChange::None;
}

bool TagFile::IsEmpty() const
{
    return album.isEmpty() && artist.isEmpty() && comment.isEmpty() && title.isEmpty() && year.isEmpty() &&
           sizeText.isEmpty() && track.isEmpty() && genre == -1 && m_genreText.isEmpty();
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

void TagFile::ClearGenre()
{
    genre = -1;
    m_genreText.clear();
}

QString TagFile::GenreName() const
{
    // A genre the table lacks shows as the file spells it, as long as no genre was chosen instead.
    if (genre < 0 && genre == m_opened.genre)
        return m_genreText;
    return GenreTable::NameOf(genre);
}

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
    // files are made durable together (FlushBatch) before any of them is reported written.
    constexpr qsizetype kGroup = 64;
    // A group's files are flushed while the next group is prepared (reading and checking is most of a write's
    // work); the flush ends before the next group's journal records are made durable, so the journal never holds
    // a write as done before its file is on disk.
    struct Written
    {
        QList<TagFile *> group;
        QList<QString> failures;
        std::vector<bool> written;
        std::unique_ptr<platform::FlushBatch> flush;
    };
    std::optional<Written> flushing;
    auto report = [&done](Written &w) {
        const int flushError = w.flush->Finish();
        for (qsizetype i = 0; i < w.group.size(); ++i) {
            if (w.written[std::size_t(i)] && flushError != 0) {
                done(*w.group[i], false,
                     tr("%1: the new tag may not have reached the disk: %2").arg(w.group[i]->path, platform::ErrorText(flushError)));
                continue;
            }
            done(*w.group[i], w.written[std::size_t(i)], w.failures[i]);
        }
    };
    for (qsizetype start = 0; start < files.size(); start += kGroup) {
        const QList<TagFile *> group = files.mid(start, kGroup);
        QList<QString> failures(group.size());
        bool anyPrepared = false;
        // Each file stays locked from its preparation to its write. Two commands on the same files lock them in
        // one order (by path), so neither waits for a lock the other holds while it waits for one of its own.
        std::vector<qsizetype> order(std::size_t(group.size()));
        std::iota(order.begin(), order.end(), 0);
        std::sort(order.begin(), order.end(), [&](qsizetype a, qsizetype b) { return group[a]->path < group[b]->path; });
        for (const qsizetype i : order) {
            if (!group[i]->PrepareWrite(&failures[i]) && failures[i].isEmpty())
                failures[i] = tr("%1: the tag could not be written").arg(group[i]->path);
            anyPrepared = anyPrepared || group[i]->m_pending;
        }
        if (flushing) {
            report(*flushing);
            flushing.reset();
        }
        if (anyPrepared)
            MakeJournalDurable();
        Written w{group, failures, std::vector<bool>(std::size_t(group.size()), false),
                  std::make_unique<platform::FlushBatch>()};
        for (const qsizetype i : order) {
            if (w.failures[i].isEmpty())
                w.written[std::size_t(i)] = group[i]->CommitWrite(&w.failures[i]);
        }
        w.flush->FinishInBackground();
        flushing = std::move(w);
    }
    if (flushing)
        report(*flushing);
}

QString TagFile::WriteRefusal() const
{
    if (!m_readable)
        return m_readError.isEmpty() ? tr("%1: the file was not read").arg(path) : m_readError;
    return m_writeRefusal;
}

namespace {

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
    // MPEG audio must follow, found by its frames: anything else (an empty file, a container of a kind no list
    // names) is not tagged.
    const qint64 audioSize = raw.v1Start - raw.v2End;
    if (raw.status.size == 0)
        return tr("%1: the file is empty; it holds no MPEG audio to tag").arg(path);
    QByteArray audio;
    if ((status = file.ReadAt(raw.v2End, std::min<qint64>(audioSize, 16 << 10), audio)) != 0)
        return FailureText(path, status);
    if (audioSize <= 0 || !HoldsMpegAudio(audio, audio.size() == audioSize))
        return tr("%1: no MPEG audio follows the tag; an ID3 tag could damage what the file holds, so it was not "
                  "changed").arg(path);
    return QString();
}

} // namespace

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
    if (m_coverChange != CoverChange::None) changed |= kCover;
    if (changed == 0)
        return true;
    if (m_otherFormat != 0)
        return WriteOtherFormat(changed, error);
    // A file named as FLAC, Ogg or MP4 audio that does not hold it whole is not MPEG audio either: no ID3 tag.
    if (const QString ext = path.mid(path.lastIndexOf(QLatin1Char('.')) + 1); otheraudio::IsOtherAudioExtension(ext)) {
        platform::ReadOnlyFile file;
        QByteArray start;
        if (file.Open(path) == 0)
            file.ReadAt(0, 8192, start);
        if (const QString kind = otheraudio::OggKind(start); !kind.isEmpty())
            return fail(tr("%1: an Ogg stream Tunegrove does not write: %2; it was not changed").arg(path, kind));
        return fail(tr("%1: the file does not hold readable %2 audio; it was not changed").arg(path, ext.toUpper()));
    }
    if (IsEmpty() && m_coverChange != CoverChange::Set)
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
        changed = kAllFields | (changed & kCover);   // a new tag carries every field
    }
    const int major = tag.major;
    if (!tag.lost.isEmpty())
        return fail(tr("%1: the ID3v2.2 tag's frame %2 has no place in an ID3v2.3 tag; writing would lose it, so the "
                       "file was not changed").arg(path, QString::fromLatin1(tag.lost.join(", "))));
    // Frames behind one where readers stop (a TENC of size 0, say) are not seen: a changed field whose frame also
    // lies there would be written a second time, and another reader would show both.
    if (!tag.hidden.isEmpty()) {
        const QList<QByteArray> behind = FrameIdsIn(tag.hidden, major);
        for (unsigned field = 1; field < kAllFields; field <<= 1) {
            for (const QByteArray &id : FieldIds(field)) {
                if ((changed & field) && behind.contains(id))
                    return fail(tr("%1: a %2 frame lies behind a frame that readers stop at; writing the field would "
                                   "leave two, so the file was not changed").arg(path, QString::fromLatin1(id)));
            }
        }
    }
    // What the write must keep byte for byte: every frame the reader sees but those of the changed fields.
    // Equal bytes are equal frames only when the reader reads each frame from its own bytes: no hidden part, and
    // no frame whose flags (a data length, compression) let the reader take bytes beyond the frame's end.
    const bool compareBytes = tag.hidden.isEmpty() && SelfContainedFrames(tag.frames, major);
    const QList<QByteArray> keptBefore =
        compareBytes ? KeptRawFrames(tag.frames, major, before.V2(), changed, changed & kComment) : QList<QByteArray>();

    // A changed track is written as its number, with its total when it has one ("3/12"); one that is not a
    // track number removes the frame.
    long long trackNumber = 0;
    QString trackText;
    if (changed & kTrack) {
        trackText = TrackText(track);
        trackNumber = LeadingNumber(trackText);
        if (trackText.isEmpty())
            track.clear();
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
        PutFrame(tag.frames, {"TRCK"}, text("TRCK", trackText));
    if (changed & kGenre) {
        // v2.3 readers expect "(n)"; v2.4 keeps plain numbers for the standard genres. A genre the table lacks
        // is written as its text.
        PutFrame(tag.frames, {"TCON"},
                 text("TCON", genre < 0 ? m_genreText : major == 4 ? QString::number(genre) : QStringLiteral("(%1)").arg(genre)));
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

    if (changed & kCover) {
        // Every front cover goes; the new one takes the first one's place. A picture frame we cannot look into
        // might be a front cover that would stay beside the new one: such a tag is not changed.
        QList<qsizetype> covers;
        if (!FrontCoverFrames(tag.frames, major, before.V2(), covers))
            return fail(tr("%1: a picture frame of the tag cannot be read, so its front cover cannot be replaced; the "
                           "file was not changed").arg(path));
        for (auto i = covers.rbegin(); i != covers.rend(); ++i)
            tag.frames.removeAt(*i);
        if (m_coverChange == CoverChange::Set) {
            const RawFrame frame = PictureFrame(m_cover, major);
            if (covers.isEmpty())
                tag.frames.append(frame);
            else
                tag.frames.insert(covers.front(), frame);
        }
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
            changed & kTrack ? trackText : old.track,
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
        if ((changed & kGenre) && genre < 0)
            check("genre", f.genreText, m_genreText);
        // A changed field has exactly one frame when it has a value, none when it was cleared.
        auto written = [&expected, this](unsigned field) {
            switch (field) {
            case kTitle: return !expected.title.isEmpty();
            case kArtist: return !expected.artist.isEmpty();
            case kAlbum: return !expected.album.isEmpty();
            case kYear: return !expected.year.isEmpty();
            case kTrack: return !expected.track.isEmpty();
            case kGenre: return expected.genre >= 0 || !m_genreText.isEmpty();
            default: return false;
            }
        };
        for (unsigned field = 1; mismatch.isEmpty() && field < kAllFields; field <<= 1) {
            const QList<QByteArray> ids = FieldIds(field);
            if ((changed & field) && !ids.isEmpty() && CountFrames(after, ids) != (written(field) ? 1 : 0))
                mismatch = tr("a %1 frame the reader skips would stay behind").arg(QString::fromLatin1(ids.front()));
        }
        // With nothing hidden on either side the reader sees exactly the split frames, and equal bytes are equal
        // frames; otherwise (junk a reader may take for frames) the reader's own frames are compared.
        const bool keptAlike =
            compareBytes && reread.hidden.isEmpty() && SelfContainedFrames(reread.frames, major)
                ? keptBefore == KeptRawFrames(reread.frames, major, after.V2(), changed, (changed & kComment) && !comment.isEmpty())
                : KeptFrames(before, changed, changed & kComment) ==
                      KeptFrames(after, changed, (changed & kComment) && !comment.isEmpty());
        if (mismatch.isEmpty() && !keptAlike)
            mismatch = tr("frames that were not changed would not survive");
        if (mismatch.isEmpty() && (changed & kCover)) {
            const auto covers = FrontCovers(after.V2());
            const bool wanted = m_coverChange == CoverChange::Set;
            if (covers.size() != (wanted ? 1 : 0) ||
                (wanted && (FromBytes(covers.front()->picture()) != m_cover.data ||
                            FromTagLib(covers.front()->mimeType()) != m_cover.mime)))
                mismatch = tr("the front cover would not read back as written");
        }
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
    pending->track = trackText;
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
    } else if (pending->regionInPlace) {
        if (pending->newHead.size() <= kMaxInPlaceWrite && pending->newTail.size() <= kMaxInPlaceWrite &&
            pending->announced.InPlaceAllowed()) {
            status = pending->file.WriteInPlace(pending->changedPieces);
        } else if (raw.status.links > 1) {
            pending->announced.Done(false);
            return Fail(error, tr("%1: the file has %2 hard links and its metadata cannot be written in place; writing "
                                  "it would separate them").arg(path).arg(raw.status.links));
        } else {
            // Too big for one write, or no journal to finish a write cut short: a new file, renamed over the old.
            status = pending->file.Rewrite(pending->newHead, pending->headEnd, pending->tailStart, pending->newTail,
                                           !raw.status.OwnerCanWrite());
        }
    } else if (pending->inPlace && !pending->announced.InPlaceAllowed() && raw.status.links > 1) {
        // Without the journal's record an in-place write cut short could not be finished; a new file would
        // separate the links.
        pending->announced.Done(false);
        return Fail(error, tr("%1: the undo journal cannot be written and the file has %2 hard links; it was not "
                              "changed").arg(path).arg(raw.status.links));
    } else if (pending->inPlace && pending->announced.InPlaceAllowed()) {
        // ID3v2 first, each tag with one write: a killed process leaves each tag whole, old or new.
        std::vector<std::pair<std::int64_t, QByteArray>> pieces;
        AddChangedPiece(pieces, 0, raw.v2, pending->newV2);
        if (!pending->newV1.isEmpty())
            AddChangedPiece(pieces, raw.v1Start, raw.v1, pending->newV1);
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
    KeepFrontCover();
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
