#pragma once

#include "platform/changeobserver.h"

#include <QDateTime>
#include <QList>
#include <QString>
#include <QStringList>

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
    bool done = false;       // a tag write that happened (a rename always did)
    bool settled = false;    // a tag write whose outcome is recorded
};

// What the list of entries shows of one.
struct EntryInfo
{
    qint64 id = 0;
    Kind kind = Kind::Do;
    qint64 target = 0;       // the entry an undo or redo took back
    QString command;
    QDateTime time;
    int files = 0;           // changes that happened
    bool undone = false;
    qint64 bytes = 0;
};

// The journal's folder: <state folder>/undo.
QString DefaultFolder();

// Records the changes of one command; installed as the thread's change observer while the command runs.
class Recorder : public platform::ChangeObserver
{
public:
    explicit Recorder(QString folder = DefaultFolder());
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

    quint64 TagsChanging(const QString &path, const platform::FileIdentity &before, const QByteArray &oldHead,
                         const QByteArray &oldTail, const QByteArray &newHead, const QByteArray &newTail) override;
    void MakeDurable() override;
    void TagsChanged(quint64 change, bool ok, const platform::FileIdentity &after) override;
    void Renamed(const QString &from, const QString &to, const platform::FileIdentity &identity) override;
    void Copied(const QString &source, const QString &target, const platform::FileIdentity &identity) override;
    void Trashed(const QString &path, const QString &trashPath) override;
    void Lost(const QString &path) override;
    // The other halves, made by undo: a copy taken away again, a file brought back from the trash.
    void Uncopied(const QString &source, const QString &target);
    void Untrashed(const QString &path, const QString &trashPath);

private:
    bool Append(char type, const QByteArray &payload, bool durable);
    void Note(char type, const QString &a, const QString &b, bool flag, const platform::FileIdentity &identity);
    void Fail(int error);

    QString m_folder;
    QString m_file;
    qint64 m_id = 0;
    int m_fd = -1;
    quint32 m_sequence = 0;
    bool m_unsynced = false;   // records written since the last flush
    int m_changes = 0;
    QString m_error;
    platform::ChangeObserver *m_previous = nullptr;
    bool m_installed = false;
    QStringList m_touched;   // the files changed, for the tag cache to forget at the end
};

// The entries, newest first.
QList<EntryInfo> ListEntries(const QString &folder = DefaultFolder());
// One entry whole; false when it is not there or cannot be read.
bool ReadEntry(const QString &folder, qint64 id, EntryInfo &info, QList<Change> &changes);
// Marks an entry as taken back (or, with false, as standing again).
void MarkUndone(const QString &folder, qint64 id, bool undone);

// Keeps the newest `maxEntries` entries and at most `maxBytes` of them, dropping the oldest first.
void Trim(const QString &folder, int maxEntries = 100, qint64 maxBytes = qint64(1) << 30);

// Settles the tag writes of entries whose command ended without saying how they went (a crash, a kill): a file
// that holds neither its old nor its new tag whole is given the new one; either one whole is left as it is.
// Entries of commands still running are left alone. Returns the files it finished.
QStringList Recover(const QString &folder = DefaultFolder());

} // namespace journal
