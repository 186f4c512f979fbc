#pragma once

#include "tags/picture.h"

#include <QList>
#include <QString>

#include <functional>
#include <memory>

// The ID3 fields of one music file: read with Open, changed by the caller, written back with Write.
// A short-lived value: make one per file and operation. Objects share nothing, so reading on a worker thread
// while another thread writes a different file is safe.
//
// Write changes only the frames of fields that differ from what Open read; every other frame, the audio and
// the file's owner, group and mode stay as they were. A file that could not be read is never written.
class TagFile
{
public:
    QString path;
    QString album;
    QString artist;
    QString comment;
    QString title;
    QString year;
    QString sizeText;   // file size in KiB as text; empty for an untagged or unreadable file
    QString track;
    int genre = -1;     // index into GenreTable, -1 for no genre

    // Reads the tags of the file. Returns false when the file could not be read (missing, no permission,
    // not a regular file); the fields are then empty and ReadError() says why.
    bool Open(const QString &fullPath);
    // Writes the changed fields. On failure returns false with a reason in `error`; the file is unchanged.
    bool Write(QString *error = nullptr);
    // Write in two steps, so a batch makes the undo journal durable once for many files: PrepareWrite reads,
    // checks and locks the file and announces the change; CommitWrite writes it. Write does both, with the
    // journal made durable between.
    bool PrepareWrite(QString *error = nullptr);
    bool CommitWrite(QString *error = nullptr);
    // Writes many files in groups: each group prepared, the journal made durable once, then written. `done` is
    // told of each file in order, with the reason when it failed.
    static void WriteAll(const QList<TagFile *> &files,
                         const std::function<void(TagFile &file, bool ok, const QString &error)> &done);
    // Removes the ID3v1 and ID3v2 tags; the audio stays as it is.
    bool RemoveTags(QString *error = nullptr);

    // Tidies album, artist, title and comment with NormalizeTagText; the other fields stay as they are.
    void Normalize();

    bool IsEmpty() const;
    // Stores the text as the track unless it reads as a number below 0 or above 4096 (then the track is cleared).
    void SetTrack(const QString &text);
    // The genre's name in the table; for a genre the table lacks ("J-Pop"), the frame's own text.
    QString GenreName() const;
    // Sets the genre by its text: a name of the table becomes its number, any other text is kept as it is (FLAC,
    // Ogg and MP4 genres are text).
    void SetGenreText(const QString &text);
    // No genre at all: a genre the table lacks ("Silence") is cleared as well as a numbered one.
    void ClearGenre();

    // The front cover, read on demand (Open never keeps pictures): an MP3's APIC frame of picture type 3, a FLAC,
    // Vorbis or Opus picture of that type, an MP4 file's first covr image. False with an empty `error` when the
    // file has none; with the reason when it cannot be read.
    static bool ReadFrontCover(const QString &fullPath, Picture &cover, QString *error = nullptr);
    // The next write replaces every front cover by `picture` (or adds it), or removes them; pictures of other
    // types stay as they are (an MP4 file's further images too: only its first is replaced or removed).
    void SetFrontCover(const Picture &picture);
    void RemoveFrontCover();
    void KeepFrontCover();   // forgets a cover change not yet written
    bool HasCoverChange() const { return m_coverChange != CoverChange::None; }

    bool IsReadable() const { return m_readable; }
    QString ReadError() const { return m_readError; }

    // C's atoi on a text: leading blanks, an optional sign, digits up to the first non-digit, 0 without digits.
    static long long LeadingNumber(const QString &text);
    // The form a changed track is written in: "N/M" for a number, a slash and a number (blanks around them
    // dropped, both 1-4096), else the bare number that leads the text; empty when no number 1-4096 leads it.
    static QString TrackText(const QString &text);

private:
    struct Fields
    {
        QString album, artist, comment, title, year, track;
        int genre = -1;
        QString genreText;
    };
    Fields CurrentFields() const;
    // The six text fields from whatever reading holds them under the same names.
    template <typename Read> void TakeTextFields(const Read &f)
    {
        title = f.title;
        artist = f.artist;
        album = f.album;
        year = f.year;
        track = f.track;
        comment = f.comment;
    }
    bool WriteChanged(QString *error);
    bool WriteOtherFormat(unsigned changed, QString *error);
    bool RemoveAll(QString *error);
    QString WriteRefusal() const;   // why this file must not be written, or empty

    struct Pending;
    std::shared_ptr<Pending> m_pending;   // a prepared write (shared so that the object stays copyable)
    struct Parsed;
    std::shared_ptr<Parsed> m_parsed;     // what Open parsed, for a write that finds the same tag bytes

    enum class CoverChange { None, Set, Remove };
    CoverChange m_coverChange = CoverChange::None;
    Picture m_cover;

    Fields m_opened;
    int m_otherFormat = 0;   // otheraudio::Format of a FLAC, Ogg or MP4 file (0: MPEG audio or anything else)
    bool m_readable = false;
    QString m_readError;
    QString m_writeRefusal;
    QString m_genreText;      // the TCON text of a genre the table lacks   // why this file must never be written, though it was read
};
