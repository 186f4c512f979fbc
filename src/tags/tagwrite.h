#pragma once

#include <cstdint>
#include <utility>
#include <vector>

// What the tag writers of TagFile share: the pending write, the journal's announcement of it, failures in words.

#include "platform/changeobserver.h"
#include "platform/fileio.h"
#include "tags/id3raw.h"
#include "tags/tagfile.h"

#include <QCoreApplication>
#include <QString>

namespace tagwrite {

// A tag rewritten in place is written with one call of at most this size, so a killed process leaves it whole.
constexpr qint64 kMaxInPlaceWrite = qint64(64) << 10;

inline bool Fail(QString *error, const QString &reason)
{
    if (error)
        *error = reason;
    return false;
}

inline QString FailureText(const QString &path, int error)
{
    return QCoreApplication::translate("TagFile", "%1: %2").arg(path, platform::ErrorText(error));
}

// How many bytes two regions of one length share at their start, and (before `floor`) at their end.
inline qsizetype SharedStart(const QByteArray &a, const QByteArray &b)
{
    qsizetype n = 0;
    while (n < a.size() && a.constData()[n] == b.constData()[n])
        ++n;
    return n;
}

inline qsizetype SharedEnd(const QByteArray &a, const QByteArray &b, qsizetype floor = 0)
{
    qsizetype end = a.size();
    while (end > floor && a.constData()[end - 1] == b.constData()[end - 1])
        --end;
    return a.size() - end;
}

// Tells the thread's change observer (the undo journal) of a tag write: the old and new regions before it, the
// outcome and the file's new identity after it.
class Announcement
{
public:
    void Announce(const QString &target, const id3::RawTags &raw, const QByteArray &newHead, const QByteArray &newTail)
    {
        Announce(target, platform::IdentityOf(raw.status), raw.v2, raw.v1, newHead, newTail);
    }
    // Regions of equal size are told without the bytes they share at their far end (a head's padding, a tail's
    // start): writing either side's shorter region over the other gives the same file, so undo and recovery lose
    // nothing, and the journal holds and hashes only what differs.
    void Announce(const QString &target, const platform::FileIdentity &before, QByteArray oldHead, QByteArray oldTail,
                  QByteArray newHead, QByteArray newTail)
    {
        m_observer = platform::CurrentObserver();
        m_target = target;
        if (!m_observer)
            return;
        if (oldHead.size() == newHead.size()) {
            const qsizetype n = oldHead.size() - SharedEnd(oldHead, newHead);
            oldHead.truncate(n);
            newHead.truncate(n);
        }
        if (oldTail.size() == newTail.size()) {
            const qsizetype n = SharedStart(oldTail, newTail);
            oldTail.remove(0, n);
            newTail.remove(0, n);
        }
        m_token = m_observer->TagsChanging(target, before, oldHead, oldTail, newHead, newTail);
    }
    // Whether the journal (if any) holds the write durably, so it may be made in place.
    bool InPlaceAllowed() const { return !m_observer || m_observer->InPlaceAllowed(); }
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

// Adds the part of `now` that differs from `before` (of one length) as one piece, from the first to the last byte
// that differs, placed at `at` plus where it starts; nothing when the two are the same. An in-place write then
// touches only those bytes (often one page instead of a whole padded tag). Of another length, `now` goes whole.
inline void AddChangedPiece(std::vector<std::pair<std::int64_t, QByteArray>> &pieces, std::int64_t at,
                            const QByteArray &before, const QByteArray &now)
{
    if (before.size() != now.size()) {
        if (!now.isEmpty())
            pieces.emplace_back(at, now);
        return;
    }
    const qsizetype first = SharedStart(before, now);
    const qsizetype end = now.size() - SharedEnd(before, now, first);
    if (first < end)
        pieces.emplace_back(at + first, now.mid(first, end - first));
}

} // namespace tagwrite

// A write that is checked, locked and announced, waiting to be made.
struct TagFile::Pending
{
    platform::ReadOnlyFile file;
    platform::ReadOnlyFile::WorkingCopy copy;   // FLAC, Ogg, MP4: the edited copy that replaces the file
    bool replace = false;
    id3::RawTags raw;
    QByteArray newV2;
    QByteArray newV1;
    bool inPlace = false;
    // FLAC metadata or an MP4 movie box rewritten where it stands: `newHead` replaces the first `headEnd` bytes,
    // `newTail` the bytes from `tailStart` to the end; each is as long as what it replaces.
    bool regionInPlace = false;
    QByteArray newHead, newTail;
    qint64 headEnd = 0, tailStart = 0;
    std::vector<std::pair<std::int64_t, QByteArray>> changedPieces;   // of the region written in place
    bool trackChanged = false;
    QString track;
    tagwrite::Announcement announced;
};
