#pragma once

#include "platform/changeobserver.h"

#include <QDateTime>
#include <QList>
#include <QString>
#include <QStringList>

#include <functional>

// The undo journal: one entry per command, holding what every file it changed needs to be put back. A tag change
// keeps the old and new tag regions as bytes (never audio) and is made durable before the file is written, so an
// interrupted write can be finished at the next start; a rename keeps both names. Entries live in one private
// folder shared by the window and the command line; the newest 100 (and at most 1 GiB) are kept.
namespace journal {

enum class Kind { Do = 0, Undo = 1, Redo = 2 };

// One change an entry holds.
struct Change
{
    enum class Type { Tag, Rename, Copy, Trash, Lost };
    Type type = Type::Tag;
    QString path;            // the file (a tag change, a trashed or lost file), or the old name (a rename)
    QString newPath;         // a rename's new name, a copy's name, a trashed file's place in the trash
    QString source;          // a copy's source
    bool present = true;     // a copy that was made (false: taken away), a file put in the trash (false: out)
    platform::FileIdentity before;
    platform::FileIdentity after;   // the file as the change left it
    QByteArray oldHead, oldTail, newHead, newTail;
    QByteArray trashRecord;  // a file put in the trash: what the trash's record of it says
    quint32 sequence = 0;    // the number that ties a planned change to its outcome
    bool done = false;       // a change that happened
    bool settled = false;    // a change whose outcome is recorded
};

// What the list of entries shows of one.
struct EntryInfo
{
    qint64 id = 0;
    Kind kind = Kind::Do;
    qint64 target = 0;       // the entry an undo or redo took back
    QString command;
    QDateTime time;
    int files = 0;           // changes that happened and can be read
    bool undone = false;
    qint64 bytes = 0;
    int damaged = 0;         // records that fail their check (changes that cannot be read)
    bool cutShort = false;   // the entry ends inside a record: what follows cannot be read
    bool running = false;    // its command is still running (its lock is held)
    bool incomplete = false; // the journal stopped taking the command's records while it ran

    bool Damaged() const { return damaged > 0 || cutShort; }
};

// The journal's folder: <state folder>/undo.
QString DefaultFolder();

// Records the changes of one command; installed as the thread's change observer while the command runs.
class Recorder : public platform::ChangeObserver
{
public:
    // The largest entry one command may make; past it the rest of the command is not recorded.
    static constexpr qint64 kMaxEntryBytes = qint64(1) << 30;

    explicit Recorder(QString folder = DefaultFolder(), qint64 maxEntryBytes = kMaxEntryBytes);
    ~Recorder() override;
    Recorder(const Recorder &) = delete;
    Recorder &operator=(const Recorder &) = delete;

    // Starts the entry of a command and installs this recorder as the thread's observer. False (with Error())
    // when the journal cannot be written: the command still works, but cannot be undone.
    bool Begin(const QString &command, Kind kind = Kind::Do, qint64 target = 0);
    // Makes the entry durable, lets it go and keeps the journal within its bounds; an entry without a change
    // is removed. Runs from the destructor too.
    void End();
    qint64 Id() const { return m_id; }
    int Changes() const { return m_changes; }
    // Why the journal could not be written (empty when it could); said once per command.
    QString Error() const { return m_error; }
    // The journal stopped taking records after the command began (a full disk, a write error, the entry's size
    // limit): the changes from then on are made without it and cannot be undone.
    bool FailedMidway() const { return m_midway; }
    // The files the command changed, recorded or not.
    int ChangedFiles() const { return m_changes + m_unrecorded; }
    int Unrecorded() const { return m_unrecorded; }
    // Called once, at the moment the journal stops taking records after Begin, with the reason.
    void OnFailure(std::function<void(const QString &reason)> told) { m_told = std::move(told); }

    quint64 TagsChanging(const QString &path, const platform::FileIdentity &before, const QByteArray &oldHead,
                         const QByteArray &oldTail, const QByteArray &newHead, const QByteArray &newTail) override;
    void MakeDurable() override;
    void TagsChanged(quint64 change, bool ok, const platform::FileIdentity &after) override;
    bool InPlaceAllowed() const override;
    quint64 FileChanging(platform::FileChange what, const QString &from, const QString &to,
                         const platform::FileIdentity &before, const QByteArray &trashRecord) override;
    void FileChanged(quint64 change, bool ok, const platform::FileIdentity &after) override;
    void Lost(const QString &path) override;

private:
    bool Append(char type, const QByteArray &payload, bool durable);
    void Fail(int error);
    void Fail(const QString &reason);

    QString m_folder;
    QString m_file;
    qint64 m_id = 0;
    int m_fd = -1;
    int m_lock = -1;           // the entry's lock, held to the end even when the journal stopped taking records
    quint32 m_sequence = 0;
    bool m_unsynced = false;   // records written since the last flush
    int m_changes = 0;
    int m_unrecorded = 0;      // changes made after the journal stopped taking records
    qint64 m_maxBytes = kMaxEntryBytes;
    qint64 m_written = 0;
    bool m_begun = false;
    bool m_midway = false;
    std::function<void(const QString &)> m_told;
    QString m_error;
    platform::ChangeObserver *m_previous = nullptr;
    bool m_installed = false;
    QStringList m_touched;   // the files changed, for the tag cache to forget at the end
};

// The entries, newest first. Without `verify` the large records are passed over unread (cheap, for menus); with
// it every record is checked, so `files` counts only what can really be undone.
QList<EntryInfo> ListEntries(const QString &folder = DefaultFolder(), bool verify = false);
// Whether this process began the entry (the window's own commands bring their rows up to date themselves).
bool MadeHere(const QString &folder, qint64 id);
// One entry whole; false when it is not there or its first record cannot be read.
bool ReadEntry(const QString &folder, qint64 id, EntryInfo &info, QList<Change> &changes);
// An entry's lock: held by a running command, and by an undo or redo while it takes the entry back.
class EntryLock
{
public:
    EntryLock(const QString &folder, qint64 id);   // tries once, never waits
    ~EntryLock();
    EntryLock(const EntryLock &) = delete;
    EntryLock &operator=(const EntryLock &) = delete;
    bool Held() const { return m_held; }

private:
    int m_fd = -1;
    bool m_held = false;
};
// Marks an entry as taken back (or, with false, as standing again).
void MarkUndone(const QString &folder, qint64 id, bool undone);

// Keeps the newest `maxEntries` entries and at most `maxBytes` of them, dropping the oldest first; the entries of
// running commands are never dropped.
void Trim(const QString &folder, int maxEntries = 100, qint64 maxBytes = qint64(1) << 30);

// Settles the changes of entries whose command ended without saying how they went (a crash, a kill). A tag write
// cut short in place is finished only in the file it began (same device and inode, no link, every page of its
// tag regions old or new); either tag whole is left as it is; anything else is left alone and named in
// `leftAlone`. A rename, copy or trash move is settled by where its file is now. An entry with no change left is
// dropped. Entries of commands still running are left alone. Returns the files it finished.
QStringList Recover(const QString &folder = DefaultFolder(), QStringList *leftAlone = nullptr);

} // namespace journal
