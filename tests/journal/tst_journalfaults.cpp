// The undo journal against its seams: another program between a kill and the next start, a journal that stops
// taking records, damaged entries, commands still running, a cancelled undo, renames cut short, edits that put
// the modification time back, and the trash.

#include "fileops/fileoperations.h"
#include "fileops/renamefile.h"
#include "journal/journal.h"
#include "journal/undo.h"
#include "platform/changeobserver.h"
#include "platform/fileio.h"
#include "platform/trash.h"
#include "tags/tagfile.h"
#include "testmp3.h"

#include <QtTest>

#include <sys/stat.h>
#include <unistd.h>

using namespace testmp3;

namespace {

constexpr int kFrameHeader = 4 + 1 + 16;

// The records of an entry file: type and whole frame, in order.
QList<QPair<char, QByteArray>> Records(const QByteArray &entry)
{
    QList<QPair<char, QByteArray>> records;
    for (qsizetype at = 0; at + kFrameHeader <= entry.size();) {
        const quint32 length = (quint32(uchar(entry[at])) << 24) | (quint32(uchar(entry[at + 1])) << 16) |
                               (quint32(uchar(entry[at + 2])) << 8) | quint32(uchar(entry[at + 3]));
        records.append({entry[at + 4], entry.mid(at, kFrameHeader + length)});
        at += kFrameHeader + length;
    }
    return records;
}

// The entry as a kill would have left it: without the records of the given types (outcomes, the closing one).
QByteArray Without(const QByteArray &entry, const QByteArray &types)
{
    QByteArray kept;
    for (const auto &[type, frame] : Records(entry)) {
        if (!types.contains(type))
            kept += frame;
    }
    return kept;
}

qint64 Inode(const QString &path)
{
    struct stat st{};
    return ::stat(QFile::encodeName(path).constData(), &st) == 0 ? qint64(st.st_ino) : -1;
}

// Answers every question Yes, with the trash on.
class TrashUi : public fileops::FileOpsUi
{
public:
    QStringList errors;
    fileops::Answer AskOverwrite(const QString &) override { return fileops::Answer::Yes; }
    fileops::Answer AskDeleteReadOnly(const QString &) override { return fileops::Answer::Yes; }
    void CopyToItself() override {}
    void ShowError(const QString &path, int error) override { errors << path + QLatin1Char(' ') + platform::ErrorText(error); }
    bool UseTrash() override { return true; }
};

} // namespace

class TestJournalFaults : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init();
    void recoveryWritesOnlyTheFileItBegan();
    void journalFailingMidwayStopsInPlaceWrites();
    void cliSaysWhenTheJournalFails();
    void damagedEntriesAreToldAndKept();
    void runningEntriesArePassedOver();
    void cancelledUndoLeavesTheRest();
    void renamesAreRecordedBeforeTheyAreMade();
    void anEditThatPutsTheTimeBackIsSeen();
    void trashIsTheDesktopsAndBringsBackOnlyItsFile();
    void busyAndBlockedAreToldAsTheyAre();
    void cliUndoWaitsForARunningCommand();
    void twoCommandsOnTheSameFilesNeverWaitOnEachOther();

private:
    QString P(const QString &name) const { return m_dir->filePath(name); }
    QString Journal() const { return m_dir->filePath(QStringLiteral("state/undo")); }
    QString EntryFile(qint64 id) const { return Journal() + QStringLiteral("/%1.tgj").arg(id, 12, 10, QLatin1Char('0')); }
    // Writes `title` into each file as one journaled command; returns the entry's id.
    qint64 Edit(const QStringList &names, const QString &title);
    std::unique_ptr<QTemporaryDir> m_dir;
};

void TestJournalFaults::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    const QByteArray cover = Frame("APIC", QByteArray("\0image/png\0\3\0", 13) + QByteArray(6000, '\x89'));
    for (int i = 0; i < 6; ++i)
        QVERIFY(WriteFile(P(QStringLiteral("%1.mp3").arg(i)),
                          Tag(Frame("TIT2", Latin1Body(QStringLiteral("song %1").arg(i))) + cover, 3, 256) + Audio(3, i)));
}

qint64 TestJournalFaults::Edit(const QStringList &names, const QString &title)
{
    journal::Recorder recorder(Journal());
    if (!recorder.Begin(QStringLiteral("Edit")))
        return 0;
    for (const QString &name : names) {
        TagFile tag;
        if (!tag.Open(P(name)))
            return 0;
        tag.title = title;
        if (!tag.Write())
            return 0;
    }
    return recorder.Id();
}

void TestJournalFaults::recoveryWritesOnlyTheFileItBegan()
{
    QMap<QString, QByteArray> old;
    const QStringList names{"0.mp3", "1.mp3", "2.mp3", "3.mp3"};
    for (const QString &name : names)
        old[name] = ReadFile(P(name));
    const qint64 id = Edit(names, QStringLiteral("new"));
    QVERIFY(id > 0);
    QMap<QString, QByteArray> written;
    for (const QString &name : names) {
        written[name] = ReadFile(P(name));
        QCOMPARE(written[name].size(), old[name].size());   // in place
    }
    // Killed with every write announced and none settled.
    QVERIFY(WriteFile(EntryFile(id), Without(ReadFile(EntryFile(id)), "DE")));
    // 0: torn by the kill, in the file it began; 1: another program edited its tag in place since (same size);
    // 2: replaced by a link to a text file of that size; 3: torn bytes, but in a new file put in its place.
    const QByteArray torn0 = written["0.mp3"].left(2048) + old["0.mp3"].mid(2048);
    QVERIFY(WriteFile(P("0.mp3"), torn0));
    QByteArray edited = old["1.mp3"];
    edited[40] = char(edited[40] ^ 0x20);
    QVERIFY(WriteFile(P("1.mp3"), edited));
    const QByteArray text(old["2.mp3"].size(), 'x');
    QVERIFY(WriteFile(P("notes.txt"), text));
    QVERIFY(QFile::remove(P("2.mp3")));
    QVERIFY(QFile::link(P("notes.txt"), P("2.mp3")));
    const QByteArray torn3 = written["3.mp3"].left(1024) + old["3.mp3"].mid(1024);
    QVERIFY(WriteFile(P("3.tmp"), torn3));
    const qint64 inode3 = Inode(P("3.mp3"));
    QVERIFY(QFile::remove(P("3.mp3")));
    QVERIFY(QFile::rename(P("3.tmp"), P("3.mp3")));
    QVERIFY(Inode(P("3.mp3")) != inode3);

    QStringList leftAlone;
    QCOMPARE(journal::Recover(Journal(), &leftAlone), QStringList{P("0.mp3")});
    QCOMPARE(ReadFile(P("0.mp3")), written["0.mp3"]);
    QCOMPARE(ReadFile(P("1.mp3")), edited);
    QCOMPARE(ReadFile(P("notes.txt")), text);
    QVERIFY(QFileInfo(P("2.mp3")).isSymLink());
    QCOMPARE(ReadFile(P("3.mp3")), torn3);
    QCOMPARE(leftAlone.size(), 3);
    for (const char *name : {"1.mp3", "2.mp3", "3.mp3"})
        QVERIFY2(leftAlone.contains(P(QLatin1String(name)) + QStringLiteral(": changed since the interrupted write; left as it is")),
                 qPrintable(leftAlone.join(QLatin1Char('\n'))));
    // Named once: the entry is settled now.
    leftAlone.clear();
    QCOMPARE(journal::Recover(Journal(), &leftAlone), QStringList());
    QCOMPARE(leftAlone, QStringList());
    // Undo puts back only the finished file; the others are named and stay.
    const journal::Outcome undone = journal::Undo(Journal());
    QCOMPARE(undone.restored, 1);
    QCOMPARE(ReadFile(P("0.mp3")), old["0.mp3"]);
    QCOMPARE(ReadFile(P("1.mp3")), edited);
}

void TestJournalFaults::journalFailingMidwayStopsInPlaceWrites()
{
    // The entry may hold about two of these files' records: the rest of the command is written without the
    // journal, through new files (never in place), and the command says what it changed.
    QMap<QString, QByteArray> old;
    QMap<QString, qint64> inodes;
    QStringList names;
    for (int i = 0; i < 6; ++i) {
        const QString name = QStringLiteral("%1.mp3").arg(i);
        names << name;
        old[name] = ReadFile(P(name));
        inodes[name] = Inode(P(name));
    }
    QString told;
    int toldTimes = 0;
    {
        journal::Recorder recorder(Journal(), 30000);
        recorder.OnFailure([&](const QString &reason) {
            told = reason;
            ++toldTimes;
        });
        QVERIFY(recorder.Begin(QStringLiteral("Grope Edit")));
        std::vector<TagFile> tags(std::size_t(names.size()));
        QList<TagFile *> files;
        for (qsizetype i = 0; i < names.size(); ++i) {
            QVERIFY(tags[std::size_t(i)].Open(P(names[i])));
            tags[std::size_t(i)].album = QStringLiteral("written");
            files << &tags[std::size_t(i)];
        }
        int failed = 0;
        TagFile::WriteAll(files, [&](TagFile &, bool ok, const QString &) { failed += ok ? 0 : 1; });
        QCOMPARE(failed, 0);
        QVERIFY(recorder.FailedMidway());
        QCOMPARE(recorder.ChangedFiles(), 6);
        QVERIFY(recorder.Unrecorded() > 0);
        QCOMPARE(recorder.Changes() + recorder.Unrecorded(), 6);
        // Still its command's while it runs: no recovery or undo of another process takes it meanwhile.
        QVERIFY(journal::ListEntries(Journal()).front().running);
        QStringList leftAlone;
        journal::Recover(Journal(), &leftAlone);
        QCOMPARE(leftAlone, QStringList());
    }
    QCOMPARE(toldTimes, 1);
    QVERIFY2(told.contains(QLatin1String("MiB")), qPrintable(told));
    int rewritten = 0;
    for (const QString &name : names) {
        TagFile tag;
        QVERIFY(tag.Open(P(name)));
        QCOMPARE(tag.album, QStringLiteral("written"));
        rewritten += Inode(P(name)) != inodes[name] ? 1 : 0;
    }
    QCOMPARE(rewritten, 6);   // the group's records never became durable: no file of it was written in place
    const QList<journal::EntryInfo> entries = journal::ListEntries(Journal());
    QCOMPARE(entries.size(), 1);
    QVERIFY(entries[0].incomplete);
    // Undo puts back what the journal holds and says the rest stays; the entry is not taken for whole.
    const journal::Outcome undone = journal::Undo(Journal());
    QVERIFY(undone.incomplete);
    QVERIFY(!undone.Whole());
    int back = 0;
    for (const QString &name : names)
        back += ReadFile(P(name)) == old[name] ? 1 : 0;
    QCOMPARE(back, undone.restored);
    QVERIFY(back < 6);
}

void TestJournalFaults::cliSaysWhenTheJournalFails()
{
    // A file-size limit makes the journal's writes fail (EFBIG) once its entry passes 60 KB, as a full disk
    // would; the songs (rewritten at their own size) stay below it.
    const QString prlimit = QStandardPaths::findExecutable(QStringLiteral("prlimit"));
    if (prlimit.isEmpty())
        QSKIP("prlimit (util-linux) is not installed");
    QStringList files;
    QMap<QString, QByteArray> old;
    for (int i = 0; i < 6; ++i) {
        files << P(QStringLiteral("%1.mp3").arg(i));
        old[files.back()] = ReadFile(files.back());
    }
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("XDG_STATE_HOME"), P(QStringLiteral("state")));
    env.insert(QStringLiteral("XDG_CACHE_HOME"), P(QStringLiteral("cache")));
    QProcess cli;
    cli.setProcessEnvironment(env);
    cli.start(prlimit, QStringList{QStringLiteral("--fsize=60000"), QStringLiteral(CLI_PATH), QStringLiteral("set"),
                                   QStringLiteral("--album"), QStringLiteral("over the limit")} + files);
    QVERIFY(cli.waitForFinished(30000));
    const QString err = QString::fromUtf8(cli.readAllStandardError());
    QCOMPARE(cli.exitCode(), 1);
    QCOMPARE(err.count(QLatin1String("stopped taking records")), 1);
    QVERIFY2(err.contains(QLatin1String("this command changed 6 file(s) and can no longer be undone whole")), qPrintable(err));
    for (const QString &file : files) {
        TagFile tag;
        QVERIFY(tag.Open(file));
        QCOMPARE(tag.album, QStringLiteral("over the limit"));
    }
    // Undo says that the entry is incomplete and fails; what it holds comes back.
    QProcess undo;
    undo.setProcessEnvironment(env);
    undo.start(QStringLiteral(CLI_PATH), {QStringLiteral("undo")});
    QVERIFY(undo.waitForFinished(30000));
    QCOMPARE(undo.exitCode(), 1);
    QVERIFY(QString::fromUtf8(undo.readAllStandardError()).contains(QLatin1String("is incomplete")));
    QVERIFY(ReadFile(files.front()) == old[files.front()]);
}

void TestJournalFaults::damagedEntriesAreToldAndKept()
{
    QMap<QString, QByteArray> old;
    const QStringList names{"0.mp3", "1.mp3", "2.mp3"};
    for (const QString &name : names)
        old[name] = ReadFile(P(name));
    const qint64 id = Edit(names, QStringLiteral("damaged"));
    QVERIFY(id > 0);
    // A byte of the second file's planned write flipped (its path, say, edited by hand).
    QByteArray entry = ReadFile(EntryFile(id));
    const auto records = Records(entry);
    qsizetype at = 0;
    int planned = 0;
    for (const auto &[type, frame] : records) {
        if (type == 'T' && ++planned == 2) {
            entry[at + kFrameHeader + 10] = char(entry[at + kFrameHeader + 10] ^ 1);
            break;
        }
        at += frame.size();
    }
    QVERIFY(WriteFile(EntryFile(id), entry));
    const QList<journal::EntryInfo> listed = journal::ListEntries(Journal(), true);
    QCOMPARE(listed.size(), 1);
    QCOMPARE(listed[0].files, 2);   // what can really be undone
    QCOMPARE(listed[0].damaged, 1);

    const journal::Outcome undone = journal::Undo(Journal());
    QCOMPARE(undone.restored, 2);
    QCOMPARE(undone.damaged, 1);
    QVERIFY(!undone.Whole());
    QCOMPARE(ReadFile(P("0.mp3")), old["0.mp3"]);
    QCOMPARE(ReadFile(P("2.mp3")), old["2.mp3"]);
    QVERIFY(ReadFile(P("1.mp3")) != old["1.mp3"]);
    QCOMPARE(journal::NextUndo(Journal()), id);   // not marked undone: it stays

    // A kill cut the last record short: recovery cuts the entry back to its last whole record before it appends,
    // so what it appends reads.
    const qint64 second = Edit({"3.mp3"}, QStringLiteral("cut"));
    QByteArray cut = Without(ReadFile(EntryFile(second)), "DE");
    cut += QByteArray::fromHex("0000ffff44");   // the start of a record
    QVERIFY(WriteFile(EntryFile(second), cut));
    journal::Recover(Journal());
    journal::EntryInfo info;
    QList<journal::Change> changes;
    QVERIFY(journal::ReadEntry(Journal(), second, info, changes));
    QVERIFY(!info.Damaged());
    QCOMPARE(info.files, 1);
    QCOMPARE(journal::Undo(Journal(), second).restored, 1);
}

void TestJournalFaults::runningEntriesArePassedOver()
{
    const QByteArray old = ReadFile(P("0.mp3"));
    const qint64 first = Edit({"0.mp3"}, QStringLiteral("first"));
    QVERIFY(first > 0);
    const QByteArray afterFirst = ReadFile(P("0.mp3"));
    journal::Recorder running(Journal());
    QVERIFY(running.Begin(QStringLiteral("long set")));
    TagFile tag;
    QVERIFY(tag.Open(P("1.mp3")));
    tag.title = QStringLiteral("still running");
    QVERIFY(tag.Write());
    // The running entry is listed as running, passed over by Undo, refused by number and never trimmed.
    const QList<journal::EntryInfo> entries = journal::ListEntries(Journal());
    QCOMPARE(entries.size(), 2);
    QVERIFY(entries[0].running);
    QVERIFY(!entries[1].running);
    QCOMPARE(journal::NextUndo(Journal()), first);
    QCOMPARE(journal::RunningNewest(Journal()), running.Id());
    const journal::Outcome refused = journal::Undo(Journal(), running.Id());
    QVERIFY(!refused.found);
    QVERIFY2(refused.error.contains(QLatin1String("still running")), qPrintable(refused.error));
    // A newer command ends while it runs; trimming to one entry keeps the running one too.
    const qint64 third = Edit({"2.mp3"}, QStringLiteral("third"));
    journal::Trim(Journal(), 1);
    QVERIFY(QFile::exists(EntryFile(running.Id())));
    QVERIFY(QFile::exists(EntryFile(third)));
    QVERIFY(!QFile::exists(EntryFile(first)));
    running.End();
    QCOMPARE(journal::Undo(Journal()).id, third);
    const journal::Outcome ended = journal::Undo(Journal());   // once it ended, it is taken back like any other
    QCOMPARE(ended.id, running.Id());
    QCOMPARE(ended.restored, 1);
    QCOMPARE(ReadFile(P("0.mp3")), afterFirst);
    QVERIFY(ReadFile(P("0.mp3")) != old);
}

void TestJournalFaults::cancelledUndoLeavesTheRest()
{
    QMap<QString, QByteArray> old;
    QStringList names;
    for (int i = 0; i < 5; ++i) {
        names << QStringLiteral("%1.mp3").arg(i);
        old[names.back()] = ReadFile(P(names.back()));
    }
    const qint64 id = Edit(names, QStringLiteral("five"));
    // Cancelled after two files: those two are back, the entry stays to be undone.
    const journal::Outcome first = journal::Undo(Journal(), 0, [](int index, int) { return index < 2; });
    QVERIFY(first.cancelled);
    QCOMPARE(first.restored, 2);
    QCOMPARE(first.notReached, 3);
    QCOMPARE(journal::NextUndo(Journal()), id);
    // The next undo takes the rest; the two put back already count as back, not as "changed since".
    const journal::Outcome rest = journal::Undo(Journal());
    QCOMPARE(rest.id, id);
    QCOMPARE(rest.skipped, QStringList());
    QCOMPARE(rest.restored, 5);
    QCOMPARE(rest.already, 2);
    QVERIFY(rest.Whole());
    for (const QString &name : names)
        QCOMPARE(ReadFile(P(name)), old[name]);
    QCOMPARE(journal::NextUndo(Journal()), qint64(0));
    // Redo does again what each undo put back.
    QCOMPARE(journal::Redo(Journal()).restored, 3);
    QCOMPARE(journal::Redo(Journal()).restored, 2);
    for (const QString &name : names) {
        TagFile tag;
        QVERIFY(tag.Open(P(name)));
        QCOMPARE(tag.title, QStringLiteral("five"));
    }
}

void TestJournalFaults::renamesAreRecordedBeforeTheyAreMade()
{
    // Killed between the rename and its outcome: the next start finds the file under its new name and settles the
    // rename as made, so undo gives the old name back.
    qint64 id = 0;
    {
        journal::Recorder recorder(Journal());
        QVERIFY(recorder.Begin(QStringLiteral("Rename")));
        id = recorder.Id();
        QCOMPARE(RenameFile(P("0.mp3"), P("zero.mp3")), 0);
        QCOMPARE(RenameFile(P("1.mp3"), P("one.mp3")), 0);
    }
    QVERIFY(WriteFile(EntryFile(id), Without(ReadFile(EntryFile(id)), "SE")));
    journal::Recover(Journal());
    const journal::Outcome undone = journal::Undo(Journal());
    QCOMPARE(undone.restored, 2);
    QVERIFY(QFile::exists(P("0.mp3")) && QFile::exists(P("1.mp3")));
    QVERIFY(!QFile::exists(P("zero.mp3")) && !QFile::exists(P("one.mp3")));

    // Killed after the record and before the rename: nothing happened, and the entry goes.
    {
        journal::Recorder recorder(Journal());
        QVERIFY(recorder.Begin(QStringLiteral("Rename")));
        id = recorder.Id();
        QCOMPARE(RenameFile(P("2.mp3"), P("two.mp3")), 0);
    }
    QVERIFY(QFile::rename(P("two.mp3"), P("2.mp3")));   // as if the rename had never been made
    QVERIFY(WriteFile(EntryFile(id), Without(ReadFile(EntryFile(id)), "SE")));
    journal::Recover(Journal());
    QVERIFY(!QFile::exists(EntryFile(id)));
}

void TestJournalFaults::anEditThatPutsTheTimeBackIsSeen()
{
    const qint64 id = Edit({"0.mp3"}, QStringLiteral("mine"));
    QVERIFY(id > 0);
    // Another program edits the file in place, same size, and puts its modification time back.
    const QFileInfo info(P("0.mp3"));
    const QDateTime modified = info.lastModified();
    QByteArray bytes = ReadFile(P("0.mp3"));
    bytes[bytes.size() - 10] = char(bytes[bytes.size() - 10] ^ 0x55);
    QVERIFY(WriteFile(P("0.mp3"), bytes));
    QFile file(P("0.mp3"));
    QVERIFY(file.open(QIODevice::ReadWrite));
    QVERIFY(file.setFileTime(modified, QFileDevice::FileModificationTime));
    file.close();
    const journal::Outcome undone = journal::Undo(Journal());
    QCOMPARE(undone.restored, 0);
    QCOMPARE(undone.skipped.size(), 1);
    QCOMPARE(ReadFile(P("0.mp3")), bytes);
}

void TestJournalFaults::trashIsTheDesktopsAndBringsBackOnlyItsFile()
{
    // A fresh account: no ~/.local/share yet. The trash is made there, never in the current folder, and the
    // journal holds absolute paths, so undo works from anywhere.
    const QString data = P(QStringLiteral("home/.local/share"));
    qputenv("XDG_DATA_HOME", QFile::encodeName(data));
    QVERIFY(QDir().mkpath(P(QStringLiteral("A"))) && QDir().mkpath(P(QStringLiteral("B"))) && QDir().mkpath(P(QStringLiteral("cwd"))));
    QVERIFY(QFile::rename(P("0.mp3"), P("A/song.mp3")));
    QVERIFY(QFile::rename(P("1.mp3"), P("B/song.mp3")));
    const QByteArray a = ReadFile(P("A/song.mp3"));
    const QByteArray b = ReadFile(P("B/song.mp3"));
    const QString before = QDir::currentPath();
    QVERIFY(QDir::setCurrent(P(QStringLiteral("A"))));
    TrashUi ui;
    {
        journal::Recorder recorder(Journal());
        QVERIFY(recorder.Begin(QStringLiteral("Delete")));
        QCOMPARE(fileops::DeleteOneFile(QStringLiteral("song.mp3"), true, ui), fileops::Outcome::Done);
    }
    QVERIFY(QDir::setCurrent(P(QStringLiteral("cwd"))));
    QVERIFY(!QFile::exists(P("A/song.mp3")));
    QCOMPARE(ReadFile(data + QStringLiteral("/Trash/files/song.mp3")), a);
    const QByteArray info = ReadFile(data + QStringLiteral("/Trash/info/song.mp3.trashinfo"));
    QVERIFY2(info.startsWith("[Trash Info]\nPath=" + QUrl::toPercentEncoding(P("A/song.mp3"), "/")), info.constData());
    QVERIFY(!QFileInfo::exists(P("A/files")) && !QFileInfo::exists(P("A/info")));
    // Undo from another folder brings it back.
    QCOMPARE(journal::Undo(Journal()).restored, 1);
    QCOMPARE(ReadFile(P("A/song.mp3")), a);
    QVERIFY(!QFile::exists(data + QStringLiteral("/Trash/info/song.mp3.trashinfo")));
    QCOMPARE(journal::Redo(Journal()).restored, 1);   // and back into the trash
    QVERIFY(!QFile::exists(P("A/song.mp3")));

    // The trash is emptied, and a file manager trashes B's song under the same name: undo brings back neither.
    const journal::Outcome undoRedo = journal::Undo(Journal());   // takes back the redo: A's song out again
    QCOMPARE(undoRedo.restored, 1);
    {
        journal::Recorder recorder(Journal());
        QVERIFY(recorder.Begin(QStringLiteral("Delete")));
        QCOMPARE(fileops::DeleteOneFile(P("A/song.mp3"), true, ui), fileops::Outcome::Done);
    }
    QVERIFY(QDir(data + QStringLiteral("/Trash")).removeRecursively());
    platform::TrashPlace other;
    QCOMPARE(platform::MoveToTrash(P("B/song.mp3"), other), 0);
    QCOMPARE(other.file, data + QStringLiteral("/Trash/files/song.mp3"));
    const journal::Outcome wrong = journal::Undo(Journal());
    QCOMPARE(wrong.restored, 0);
    QCOMPARE(wrong.skipped.size(), 1);
    QVERIFY(!QFile::exists(P("A/song.mp3")));
    QCOMPARE(ReadFile(other.file), b);
    QVERIFY(QFile::exists(other.info));
    QVERIFY(QDir::setCurrent(before));
    QCOMPARE(ui.errors, QStringList());
}

void TestJournalFaults::busyAndBlockedAreToldAsTheyAre()
{
    // Another Tunegrove command holds a file's update lock: the message says so.
    QVERIFY(platform::ErrorText(platform::kErrorFileBusy).contains(QLatin1String("Tunegrove")));
    // A file where the journal's folder (or one above it) should be is "Not a directory".
    QVERIFY(WriteFile(P("state"), "a file"));
    journal::Recorder recorder(Journal());
    QVERIFY(!recorder.Begin(QStringLiteral("Edit")));
    QVERIFY2(recorder.Error().contains(platform::ErrorText(ENOTDIR)), qPrintable(recorder.Error()));
}

void TestJournalFaults::cliUndoWaitsForARunningCommand()
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("XDG_STATE_HOME"), P(QStringLiteral("state")));
    env.insert(QStringLiteral("XDG_CACHE_HOME"), P(QStringLiteral("cache")));
    QProcess older;
    older.setProcessEnvironment(env);
    older.start(QStringLiteral(CLI_PATH), {QStringLiteral("set"), QStringLiteral("--title"), QStringLiteral("older"), P("0.mp3")});
    QVERIFY(older.waitForFinished(30000) && older.exitCode() == 0);
    journal::Recorder running(P(QStringLiteral("state/Kestrine/Tunegrove/undo")));
    QVERIFY(running.Begin(QStringLiteral("tunegrove-cli set")));
    QProcess undo;
    undo.setProcessEnvironment(env);
    undo.start(QStringLiteral(CLI_PATH), {QStringLiteral("undo")});
    QVERIFY(undo.waitForFinished(30000));
    QCOMPARE(undo.exitCode(), 1);
    const QString err = QString::fromUtf8(undo.readAllStandardError());
    QVERIFY2(err.contains(QLatin1String("is still running")), qPrintable(err));
    QProcess list;
    list.setProcessEnvironment(env);
    list.start(QStringLiteral(CLI_PATH), {QStringLiteral("undo"), QStringLiteral("--list")});
    QVERIFY(list.waitForFinished(30000));
    QVERIFY(QString::fromUtf8(list.readAllStandardOutput()).contains(QLatin1String("\trunning\n")));
    TagFile tag;
    QVERIFY(tag.Open(P("0.mp3")));
    QCOMPARE(tag.title, QStringLiteral("older"));   // the older command was not taken back instead
}

void TestJournalFaults::twoCommandsOnTheSameFilesNeverWaitOnEachOther()
{
    // Two commands over the same files, given in opposite orders, each holding a group's locks while it writes:
    // the locks are taken in one order, so neither waits out the other's lock and both changes arrive.
    QStringList files;
    for (int i = 0; i < 60; ++i) {
        files << P(QStringLiteral("many%1.mp3").arg(i, 2, 10, QLatin1Char('0')));
        QVERIFY(WriteFile(files.back(), Tag(Frame("TIT2", Latin1Body("t")), 3, 512) + Audio(2, i)));
    }
    QStringList reversed = files;
    std::reverse(reversed.begin(), reversed.end());
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("XDG_STATE_HOME"), P(QStringLiteral("state")));
    env.insert(QStringLiteral("XDG_CACHE_HOME"), P(QStringLiteral("cache")));
    QElapsedTimer clock;
    clock.start();
    for (int round = 0; round < 5; ++round) {
        QProcess a, b;
        a.setProcessEnvironment(env);
        b.setProcessEnvironment(env);
        a.start(QStringLiteral(CLI_PATH), QStringList{QStringLiteral("set"), QStringLiteral("--album"), QStringLiteral("A%1").arg(round)} + files);
        b.start(QStringLiteral(CLI_PATH), QStringList{QStringLiteral("set"), QStringLiteral("--artist"), QStringLiteral("B%1").arg(round)} + reversed);
        QVERIFY(a.waitForFinished(60000) && b.waitForFinished(60000));
        QCOMPARE(a.exitCode(), 0);
        QCOMPARE(b.exitCode(), 0);
        for (const QString &file : files) {
            TagFile tag;
            QVERIFY(tag.Open(file));
            QCOMPARE(tag.album, QStringLiteral("A%1").arg(round));
            QCOMPARE(tag.artist, QStringLiteral("B%1").arg(round));
        }
    }
    QVERIFY2(clock.elapsed() < 30000, "the commands waited on each other's locks");
}

QTEST_GUILESS_MAIN(TestJournalFaults)
#include "tst_journalfaults.moc"
