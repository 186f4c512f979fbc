// The undo journal: commands recorded, undone byte for byte and redone; files changed since are skipped; the
// bounds; a journal that cannot be written; interrupted writes finished at the next start.

#include "fileops/fileoperations.h"
#include "fileops/renamefile.h"
#include "journal/journal.h"
#include "journal/undo.h"
#include "platform/fileio.h"
#include "platform/flushbatch.h"
#include "tags/normalize.h"
#include "tags/tagfile.h"
#include "testaudio.h"
#include "testmp3.h"

#include <QtTest>

#include <csignal>
#include <sys/stat.h>
#include <sys/types.h>

using namespace testmp3;

namespace {

// Files of every kind a tag write meets: cover art and TXXX (v2.3), v2.4, v1 only, untagged, and a tag over 64 KiB.
QMap<QString, QByteArray> Corpus()
{
    const QByteArray cover = Frame("APIC", QByteArray("\0image/png\0\3\0", 13) + QByteArray(3000, '\x89'));
    const QByteArray txxx = Frame("TXXX", QByteArray("\0key\0value", 10));
    return {
        {"cover.mp3", Tag(Frame("TIT2", Latin1Body("the BEST song")) + cover + txxx) + Audio(3, 1)},
        {"v24.mp3", Tag(Frame("TIT2", Utf8Body(QStringLiteral("Été")), 4) + Frame("TPE1", Utf8Body("ann"), 4), 4) + Audio(3, 2)},
        {"v1.mp3", Audio(3, 3) + V1("old title", "someone", "album", "1999", "", 3, 17)},
        {"plain.mp3", Audio(3, 4)},
        {"big.mp3", Tag(Frame("TIT2", Latin1Body("big")) + Frame("APIC", QByteArray("\0image/png\0\3\0", 13) +
                                                                       QByteArray(90000, '\x42'))) + Audio(3, 5)},
    };
}

struct Snapshot
{
    QByteArray bytes;
    qint64 modified = 0;
};

Snapshot Take(const QString &path)
{
    return {ReadFile(path), QFileInfo(path).lastModified().toMSecsSinceEpoch()};
}

} // namespace

class TestJournal : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init();
    void tagChangesUndoByteForByte();
    void renamesUndoAndRedo();
    void filesChangedSinceAreSkipped();
    void undoOrderAndRedoStack();
    void boundsDropTheOldest();
    void unwritableJournalStillChanges();
    void interruptedWriteIsFinished();
    void closedEntriesAreLeftAlone();
    void killedBatchesLeaveOldOrNewTags();
    void killedWritesInPlaceLeaveOldOrNew_data();
    void killedWritesInPlaceLeaveOldOrNew();
    void fileOperationsComeBack();
    void undoGroupsWaitForTheFlushBefore();
    void recoveryBesideABeginningCommand();

private:
    QString P(const QString &name) const { return m_dir->filePath(name); }
    QString Journal() const { return m_dir->filePath(QStringLiteral("state/undo")); }
    std::unique_ptr<QTemporaryDir> m_dir;
};

void TestJournal::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    const auto corpus = Corpus();
    for (auto it = corpus.cbegin(); it != corpus.cend(); ++it)
        QVERIFY(WriteFile(P(it.key()), it.value()));
    // Times in the past, so a put-back time is told apart from "now".
    for (const QString &name : corpus.keys()) {
        QFile file(P(name));
        QVERIFY(file.open(QIODevice::ReadWrite));
        QVERIFY(file.setFileTime(QDateTime(QDate(2011, 3, 4), QTime(5, 6, 7)), QFileDevice::FileModificationTime));
    }
}

void TestJournal::tagChangesUndoByteForByte()
{
    QMap<QString, Snapshot> before;
    for (const QString &name : Corpus().keys())
        before[name] = Take(P(name));
    {
        journal::Recorder recorder(Journal());
        QVERIFY(recorder.Begin(QStringLiteral("Grope Edit")));
        for (const QString &name : before.keys()) {
            TagFile tag;
            QVERIFY(tag.Open(P(name)));
            tag.Normalize();
            tag.album = QStringLiteral("A new album with a name long enough to make every tag grow a little");
            QString error;
            QVERIFY2(tag.Write(&error), qPrintable(error));
        }
        QCOMPARE(recorder.Changes(), 5);
    }
    for (const QString &name : before.keys())
        QVERIFY(ReadFile(P(name)) != before[name].bytes);
    const QList<journal::EntryInfo> entries = journal::ListEntries(Journal());
    QCOMPARE(entries.size(), 1);
    QCOMPARE(entries[0].command, QStringLiteral("Grope Edit"));
    QCOMPARE(entries[0].files, 5);
    QVERIFY(entries[0].bytes < 200000);   // tag bytes only, never audio

    const journal::Outcome undone = journal::Undo(Journal());
    QVERIFY(undone.found);
    QCOMPARE(undone.restored, 5);
    QCOMPARE(undone.skipped, QStringList());
    for (const QString &name : before.keys()) {
        QVERIFY2(ReadFile(P(name)) == before[name].bytes, qPrintable(name));
        QCOMPARE(QFileInfo(P(name)).lastModified().toMSecsSinceEpoch(), before[name].modified);
    }
    QVERIFY(!journal::Undo(Journal()).found);   // nothing left to undo
}

void TestJournal::renamesUndoAndRedo()
{
    {
        journal::Recorder recorder(Journal());
        QVERIFY(recorder.Begin(QStringLiteral("Rename File(s) using tag")));
        QCOMPARE(RenameFile(P("cover.mp3"), P("Ann - Song.mp3")), 0);
        QCOMPARE(RenameFile(P("plain.mp3"), P("x?.mp3")), 0);   // the name the file really gets: "x_.mp3"
    }
    QVERIFY(QFile::exists(P("Ann - Song.mp3")) && QFile::exists(P("x_.mp3")));
    // What the entry did, as a window that did not run it reads it: the names the files really got.
    const qint64 id = journal::ListEntries(Journal()).front().id;
    const journal::Outcome did = journal::ChangesOf(Journal(), id);
    QVERIFY(did.found);
    QCOMPARE(did.renamed, (QList<QPair<QString, QString>>{{P("cover.mp3"), P("Ann - Song.mp3")}, {P("plain.mp3"), P("x_.mp3")}}));
    QVERIFY(did.retagged.isEmpty() && did.added.isEmpty() && did.removed.isEmpty());
    QVERIFY(journal::MadeHere(Journal(), id));
    QVERIFY(!journal::MadeHere(Journal(), id + 1));
    QCOMPARE(journal::Undo(Journal()).restored, 2);
    QVERIFY(QFile::exists(P("cover.mp3")) && QFile::exists(P("plain.mp3")));
    QVERIFY(!QFile::exists(P("Ann - Song.mp3")) && !QFile::exists(P("x_.mp3")));
    QCOMPARE(journal::Redo(Journal()).restored, 2);
    QVERIFY(QFile::exists(P("Ann - Song.mp3")) && QFile::exists(P("x_.mp3")));
    // A rename back never replaces a file that took the old name meanwhile.
    QVERIFY(WriteFile(P("cover.mp3"), "someone else"));
    const journal::Outcome outcome = journal::Undo(Journal());
    QCOMPARE(outcome.restored, 1);
    QCOMPARE(outcome.skipped.size(), 1);
    QVERIFY2(outcome.skipped[0].startsWith(P("Ann - Song.mp3")), qPrintable(outcome.skipped[0]));
    QCOMPARE(ReadFile(P("cover.mp3")), QByteArray("someone else"));
}

void TestJournal::filesChangedSinceAreSkipped()
{
    const QByteArray v24 = ReadFile(P("v24.mp3"));
    {
        journal::Recorder recorder(Journal());
        QVERIFY(recorder.Begin(QStringLiteral("Normalize Text in Tag")));
        for (const char *name : {"cover.mp3", "v24.mp3"}) {
            TagFile tag;
            QVERIFY(tag.Open(P(QString::fromLatin1(name))));
            tag.Normalize();
            QVERIFY(tag.Write());
        }
    }
    // Another program touches cover.mp3 afterwards.
    QByteArray changed = ReadFile(P("cover.mp3"));
    changed[changed.size() - 1] = char(changed[changed.size() - 1] ^ 1);
    QVERIFY(WriteFile(P("cover.mp3"), changed));
    const journal::Outcome outcome = journal::Undo(Journal());
    QCOMPARE(outcome.restored, 1);
    QCOMPARE(outcome.skipped.size(), 1);
    QVERIFY(outcome.skipped[0].startsWith(P("cover.mp3") + QStringLiteral(": changed since")));
    QCOMPARE(ReadFile(P("cover.mp3")), changed);   // left as it is
    QCOMPARE(ReadFile(P("v24.mp3")), v24);
    // A file that is gone is named too.
    {
        journal::Recorder recorder(Journal());
        QVERIFY(recorder.Begin(QStringLiteral("Edit Tag")));
        TagFile tag;
        QVERIFY(tag.Open(P("v1.mp3")));
        tag.title = QStringLiteral("x");
        QVERIFY(tag.Write());
    }
    QVERIFY(QFile::remove(P("v1.mp3")));
    QCOMPARE(journal::Undo(Journal()).skipped.size(), 1);
}

void TestJournal::undoOrderAndRedoStack()
{
    // Two commands on one file: undo takes back the newest first, and the older one then still qualifies even
    // though the file's inode changed when its tag grew.
    const QByteArray original = ReadFile(P("v24.mp3"));
    auto change = [this](const QString &command, const QString &title) {
        journal::Recorder recorder(Journal());
        QVERIFY(recorder.Begin(command));
        TagFile tag;
        QVERIFY(tag.Open(P("v24.mp3")));
        tag.title = title;
        QVERIFY(tag.Write());
    };
    change(QStringLiteral("first"), QString(500, QLatin1Char('a')));
    const QByteArray afterFirst = ReadFile(P("v24.mp3"));
    change(QStringLiteral("second"), QString(5000, QLatin1Char('b')));
    QCOMPARE(journal::Undo(Journal()).command, QStringLiteral("second"));
    QCOMPARE(ReadFile(P("v24.mp3")), afterFirst);
    const journal::Outcome first = journal::Undo(Journal());
    QCOMPARE(first.command, QStringLiteral("first"));
    QCOMPARE(first.skipped, QStringList());
    QCOMPARE(ReadFile(P("v24.mp3")), original);
    // Redo walks forward again; a new command ends the redo chain.
    QCOMPARE(journal::Redo(Journal()).command, QStringLiteral("first"));
    QCOMPARE(ReadFile(P("v24.mp3")), afterFirst);
    change(QStringLiteral("third"), QStringLiteral("c"));
    QVERIFY(!journal::Redo(Journal()).found);
    QCOMPARE(journal::Undo(Journal()).command, QStringLiteral("third"));
    QCOMPARE(journal::Undo(Journal()).command, QStringLiteral("first"));   // the redone "first"
    QCOMPARE(ReadFile(P("v24.mp3")), original);
}

void TestJournal::boundsDropTheOldest()
{
    for (int i = 0; i < 7; ++i) {
        journal::Recorder recorder(Journal());
        QVERIFY(recorder.Begin(QStringLiteral("rename %1").arg(i)));
        QCOMPARE(RenameFile(P(i % 2 ? "b.mp3" : "plain.mp3"), P(i % 2 ? "plain.mp3" : "b.mp3")), 0);
    }
    journal::Trim(Journal(), 5);
    const QList<journal::EntryInfo> entries = journal::ListEntries(Journal());
    QCOMPARE(entries.size(), 5);
    QCOMPARE(entries.front().command, QStringLiteral("rename 6"));
    QCOMPARE(entries.back().command, QStringLiteral("rename 2"));
    // A command that changed nothing leaves no entry.
    {
        journal::Recorder recorder(Journal());
        QVERIFY(recorder.Begin(QStringLiteral("nothing")));
    }
    QCOMPARE(journal::ListEntries(Journal()).size(), 5);
}

void TestJournal::unwritableJournalStillChanges()
{
    // The journal's place is taken by a file: the command works, and says it cannot be undone.
    QVERIFY(QDir(m_dir->path()).mkpath(QStringLiteral("state")));
    QVERIFY(WriteFile(Journal(), "not a folder"));
    journal::Recorder recorder(Journal());
    QVERIFY(!recorder.Begin(QStringLiteral("Edit Tag")));
    QVERIFY(!recorder.Error().isEmpty());
    TagFile tag;
    QVERIFY(tag.Open(P("plain.mp3")));
    tag.title = QStringLiteral("still written");
    QVERIFY(tag.Write());
    recorder.End();
    QVERIFY(tag.Open(P("plain.mp3")));
    QCOMPARE(tag.title, QStringLiteral("still written"));
}

void TestJournal::closedEntriesAreLeftAlone()
{
    // Every command starts with a recovery pass over the journal: entries of commands that ended are recognised
    // by their last record and left unread and unchanged, run after run.
    TagFile tag;
    QVERIFY(tag.Open(P("plain.mp3")));
    tag.title = QStringLiteral("closed");
    {
        journal::Recorder recorder(Journal());
        QVERIFY(recorder.Begin(QStringLiteral("Edit Tag")));
        QVERIFY(tag.Write());
        recorder.End();
    }
    const qint64 id = journal::NextUndo(Journal());
    const QString entry = Journal() + QStringLiteral("/%1.tgj").arg(id, 12, 10, QLatin1Char('0'));
    const QByteArray closed = ReadFile(entry);
    QVERIFY(!closed.isEmpty());
    for (int run = 0; run < 3; ++run) {
        QCOMPARE(journal::Recover(Journal()), QStringList());
        QCOMPARE(ReadFile(entry), closed);
    }
    // An entry a killed command left unclosed is looked at once, then closed.
    QVERIFY(WriteFile(entry, closed.left(closed.size() - (4 + 1 + 16))));
    QCOMPARE(journal::Recover(Journal()), QStringList());
    QCOMPARE(ReadFile(entry), closed);
    QCOMPARE(journal::Recover(Journal()), QStringList());
    QCOMPARE(ReadFile(entry), closed);
}

void TestJournal::interruptedWriteIsFinished()
{
    // The journal holds a planned in-place write; the process died half-way through it (the first half of the
    // new tag on disk). The next start finishes it.
    const QByteArray before = ReadFile(P("cover.mp3"));
    TagFile tag;
    QVERIFY(tag.Open(P("cover.mp3")));
    tag.title = QStringLiteral("short");
    QByteArray after;
    {
        journal::Recorder recorder(Journal());
        QVERIFY(recorder.Begin(QStringLiteral("Edit Tag")));
        QVERIFY(tag.Write());
        after = ReadFile(P("cover.mp3"));
        QCOMPARE(after.size(), before.size());   // rewritten in place
        recorder.End();
    }
    // Drop the "done" record and the "closed" one after it (the last two) to stand for the crash, and put a
    // torn tag on disk.
    const QString entry = Journal() + QStringLiteral("/000000000001.tgj");
    QByteArray records = ReadFile(entry);
    const int doneLength = 4 + 1 + 16 + 4 + 1 + 8 * 7;
    const int closedLength = 4 + 1 + 16;
    records.chop(doneLength + closedLength);
    QVERIFY(WriteFile(entry, records));
    QByteArray torn = after.left(2048) + before.mid(2048);
    QVERIFY(WriteFile(P("cover.mp3"), torn));
    QCOMPARE(journal::Recover(Journal()), QStringList{P("cover.mp3")});
    QCOMPARE(ReadFile(P("cover.mp3")), after);
    // Settled now: a second start leaves it alone, and the change can be undone.
    QCOMPARE(journal::Recover(Journal()), QStringList());
    QCOMPARE(journal::Undo(Journal()).restored, 1);
    QCOMPARE(ReadFile(P("cover.mp3")), before);
}

void TestJournal::killedBatchesLeaveOldOrNewTags()
{
    // tunegrove-cli normalize over 400 files with 40 KiB covers, killed at random moments (with a journal that
    // fails midway, with an undo running at the same time): after the next command every file holds its old tag
    // or its new one, byte for byte, another program's edits stay, and undo then puts back those it did.
    const QString folder = P(QStringLiteral("batch"));
    QVERIFY(QDir().mkpath(folder));
    const QByteArray cover = Frame("APIC", QByteArray("\0image/png\0\3\0", 13) + QByteArray(40 * 1024, '\x55'));
    QStringList files;
    QMap<QString, QByteArray> old;
    for (int i = 0; i < 400; ++i) {
        const QString path = folder + QStringLiteral("/%1.mp3").arg(i, 3, 10, QLatin1Char('0'));
        // Room to spare in the tag: the tidied one is written in place.
        QVERIFY(WriteFile(path, Tag(Frame("TIT2", Latin1Body(QStringLiteral("the SONG number %1").arg(i))) + cover, 3, 512) +
                                    Audio(2, i)));
        files << path;
        old[path] = ReadFile(path);
    }
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("XDG_STATE_HOME"), P(QStringLiteral("state")));
    env.insert(QStringLiteral("XDG_CACHE_HOME"), P(QStringLiteral("cache")));
    const QString prlimit = QStandardPaths::findExecutable(QStringLiteral("prlimit"));
    QRandomGenerator random(1209);
    for (int round = 0; round < 9; ++round) {
        // Every third round the journal fails midway (a file-size limit stands for a full disk): the rest is
        // written without it, never in place. Every other round an undo runs at the same time.
        const bool journalFails = round % 3 == 2 && !prlimit.isEmpty();
        QProcess cli;
        cli.setProcessEnvironment(env);
        const QStringList normalize = QStringList{QStringLiteral("normalize")} + files;
        if (journalFails)
            cli.start(prlimit, QStringList{QStringLiteral("--fsize=%1").arg(200000 + random.bounded(4000000)),
                                           QStringLiteral(CLI_PATH)} + normalize);
        else
            cli.start(QStringLiteral(CLI_PATH), normalize);
        QVERIFY(cli.waitForStarted());
        QProcess concurrent;
        concurrent.setProcessEnvironment(env);
        if (round % 2 == 1)
            concurrent.start(QStringLiteral(CLI_PATH), {QStringLiteral("undo")});
        QThread::msleep(20 + random.bounded(300));   // from before the first file to well into the batch
        ::kill(pid_t(cli.processId()), SIGKILL);
        cli.waitForFinished();
        concurrent.waitForFinished(60000);
        // Between the kill and the next start, another program edits one song's tag in place and puts a link to
        // a text file of the same size in place of another: neither may be written by the recovery.
        const QString edited = files[random.bounded(int(files.size()))];
        QString swapped = edited;
        while (swapped == edited)
            swapped = files[random.bounded(int(files.size()))];
        QByteArray editedBytes = ReadFile(edited);
        editedBytes[20] = char(editedBytes[20] ^ 0x20);
        QVERIFY(WriteFile(edited, editedBytes));
        const QString text = P(QStringLiteral("notes.txt"));
        const QByteArray textBytes(ReadFile(swapped).size(), 'n');
        QVERIFY(WriteFile(text, textBytes));
        QVERIFY(QFile::remove(swapped));
        QVERIFY(QFile::link(text, swapped));
        // The next command of either program settles what the killed one left.
        QProcess next;
        next.setProcessEnvironment(env);
        next.start(QStringLiteral(CLI_PATH), {QStringLiteral("undo"), QStringLiteral("--list")});
        QVERIFY(next.waitForFinished(30000));
        QCOMPARE(ReadFile(edited), editedBytes);
        QCOMPARE(ReadFile(text), textBytes);
        for (const QString &path : files) {
            if (path == edited || path == swapped)
                continue;
            const QByteArray now = ReadFile(path);
            TagFile tag;
            QVERIFY(tag.Open(path));
            const bool isOld = now == old[path];
            const QString number = QFileInfo(path).baseName();
            const bool isNew = tag.title == NormalizeTagText(QStringLiteral("the SONG number %1").arg(number.toInt())) &&
                               now.size() == old[path].size() && now.right(2 * 417) == old[path].right(2 * 417);
            QVERIFY2(isOld || isNew, qPrintable(path));
            if (isNew)
                QVERIFY(now.contains(cover));   // the cover art whole
        }
        // The killed command's entry takes back the files it did: all are as they were, but for the two another
        // program changed (and, when the journal failed, those written after it).
        QProcess undo;
        undo.setProcessEnvironment(env);
        undo.start(QStringLiteral(CLI_PATH), {QStringLiteral("undo")});
        QVERIFY(undo.waitForFinished(60000));
        QCOMPARE(ReadFile(edited), editedBytes);
        QCOMPARE(ReadFile(text), textBytes);
        QVERIFY(QFile::remove(swapped));
        for (const QString &path : files) {
            if (!journalFails && path != edited && path != swapped)
                QVERIFY2(ReadFile(path) == old[path], qPrintable(path));
            else if (ReadFile(path) != old[path])
                QVERIFY(WriteFile(path, old[path]));
        }
    }
}

namespace {

// Answers every question Yes; the trash as the test says.
class YesUi : public fileops::FileOpsUi
{
public:
    bool trash = false;
    QStringList errors;
    fileops::Answer AskOverwrite(const QString &) override { return fileops::Answer::Yes; }
    fileops::Answer AskDeleteReadOnly(const QString &) override { return fileops::Answer::Yes; }
    void CopyToItself() override {}
    void ShowError(const QString &path, int error) override { errors << path + QLatin1Char(' ') + platform::ErrorText(error); }
    bool UseTrash() override { return trash; }
};

} // namespace

void TestJournal::fileOperationsComeBack()
{
    qputenv("XDG_DATA_HOME", QFile::encodeName(P(QStringLiteral("data"))));   // the trash lives there
    QVERIFY(QDir().mkpath(P(QStringLiteral("data"))));
    QVERIFY(QDir().mkpath(P(QStringLiteral("dst"))));
    const QByteArray cover = ReadFile(P("cover.mp3"));
    const QByteArray plain = ReadFile(P("plain.mp3"));
    const QByteArray v1 = ReadFile(P("v1.mp3"));
    QVERIFY(WriteFile(P("dst/v1.mp3"), "the old target"));
    YesUi ui;
    auto command = [&](const QString &name, const std::function<void()> &work) {
        journal::Recorder recorder(Journal());
        QVERIFY(recorder.Begin(name));
        work();
    };
    // A copy, a move, and a copy over a file with the trash on: undo takes each back.
    command(QStringLiteral("copy"), [&] { QCOMPARE(fileops::CopyOneFile(P("cover.mp3"), P("dst/cover.mp3"), true, ui), fileops::Outcome::Done); });
    command(QStringLiteral("move"), [&] { QCOMPARE(fileops::MoveOneFile(P("plain.mp3"), P("dst/plain.mp3"), true, ui), fileops::Outcome::Done); });
    ui.trash = true;
    command(QStringLiteral("overwrite"), [&] { QCOMPARE(fileops::CopyOneFile(P("v1.mp3"), P("dst/v1.mp3"), true, ui), fileops::Outcome::Done); });
    QCOMPARE(ReadFile(P("dst/v1.mp3")), v1);
    QCOMPARE(journal::Undo(Journal()).restored, 2);   // the copy away, the old target back from the trash
    QCOMPARE(ReadFile(P("dst/v1.mp3")), QByteArray("the old target"));
    QCOMPARE(journal::Undo(Journal()).restored, 1);
    QVERIFY(!QFile::exists(P("dst/plain.mp3")));
    QCOMPARE(ReadFile(P("plain.mp3")), plain);
    QCOMPARE(journal::Undo(Journal()).restored, 1);
    QVERIFY(!QFile::exists(P("dst/cover.mp3")));
    QCOMPARE(ReadFile(P("cover.mp3")), cover);
    // Redo makes the copy again.
    QCOMPARE(journal::Redo(Journal()).restored, 1);
    QCOMPARE(ReadFile(P("dst/cover.mp3")), cover);

    // A delete with the trash on comes back; without it, it is named as gone for good.
    command(QStringLiteral("delete"), [&] { QCOMPARE(fileops::DeleteOneFile(P("cover.mp3"), true, ui), fileops::Outcome::Done); });
    QVERIFY(!QFile::exists(P("cover.mp3")));
    QCOMPARE(journal::Undo(Journal()).restored, 1);
    QCOMPARE(ReadFile(P("cover.mp3")), cover);
    QCOMPARE(QDir(P(QStringLiteral("data/Trash/info"))).entryList(QDir::Files), QStringList());
    ui.trash = false;
    command(QStringLiteral("delete for good"), [&] { QCOMPARE(fileops::DeleteOneFile(P("big.mp3"), true, ui), fileops::Outcome::Done); });
    const journal::Outcome gone = journal::Undo(Journal());
    QCOMPARE(gone.restored, 0);
    QCOMPARE(gone.skipped.size(), 1);
    QVERIFY2(gone.skipped[0].contains(QLatin1String("for good")), qPrintable(gone.skipped[0]));
    QCOMPARE(ui.errors, QStringList());
}

void TestJournal::killedWritesInPlaceLeaveOldOrNew_data()
{
    QTest::addColumn<QString>("ext");
    QTest::newRow("flac") << "flac";
    QTest::newRow("m4a") << "m4a";
    QTest::newRow("ogg") << "ogg";
}

void TestJournal::killedWritesInPlaceLeaveOldOrNew()
{
    // FLAC metadata, MP4 movie boxes and Ogg comment pages written where they stand, the command killed at random
    // moments: after the next command every file holds its old bytes or its new metadata beside the very same
    // audio, and undo puts them all back.
    QFETCH(QString, ext);
    const bool atStart = ext != QLatin1String("m4a");   // the metadata before the audio
    const bool flac = ext == QLatin1String("flac");
    const QString folder = P(QStringLiteral("inplace-") + ext);
    QVERIFY(QDir().mkpath(folder));
    const QString seed = folder + QStringLiteral("/seed.") + ext;
    if (flac) {
        if (!testaudio::MakeFlac(seed, 40000))
            QSKIP("flac (which makes the FLAC files) is not installed");
    } else if (atStart) {
        if (!testaudio::MakeVorbis(seed, 40000))
            QSKIP("oggenc (which makes the Ogg files) is not installed");
    } else {
        if (QStandardPaths::findExecutable(QStringLiteral("ffmpeg")).isEmpty())
            QSKIP("ffmpeg (which makes the M4A files) is not installed");
        QProcess encode;
        encode.start(QStringLiteral("ffmpeg"), {QStringLiteral("-v"), QStringLiteral("quiet"), QStringLiteral("-f"), QStringLiteral("lavfi"),
                                                QStringLiteral("-i"), QStringLiteral("sine=frequency=330:duration=4"), QStringLiteral("-c:a"),
                                                QStringLiteral("aac"), seed});
        QVERIFY(encode.waitForFinished(60000) && encode.exitCode() == 0);
    }
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("XDG_STATE_HOME"), P(QStringLiteral("state-") + ext));
    env.insert(QStringLiteral("XDG_CACHE_HOME"), P(QStringLiteral("cache")));
    auto run = [&](const QStringList &args) {
        QProcess cli;
        cli.setProcessEnvironment(env);
        cli.start(QStringLiteral(CLI_PATH), args);
        return cli.waitForFinished(60000) && cli.exitCode() == 0;
    };
    QStringList files;
    for (int i = 0; i < 150; ++i) {
        files << folder + QStringLiteral("/%1.").arg(i, 3, 10, QLatin1Char('0')) + ext;
        QVERIFY(QFile::copy(seed, files.last()));
        QFile(files.last()).setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    }
    // A first write sizes the padding as TagLib keeps it; from then on the writes fit in place. It goes into a
    // journal of its own, so an undo after a kill that came before any write has nothing older to take back.
    env.insert(QStringLiteral("XDG_STATE_HOME"), P(QStringLiteral("first-state-") + ext));
    QVERIFY(run(QStringList{QStringLiteral("set"), QStringLiteral("--title"), QStringLiteral("first")} + files));
    env.insert(QStringLiteral("XDG_STATE_HOME"), P(QStringLiteral("state-") + ext));
    QMap<QString, QByteArray> old;
    for (const QString &path : files)
        old[path] = ReadFile(path);
    QRandomGenerator random(77);
    for (int round = 0; round < 6; ++round) {
        QProcess cli;
        cli.setProcessEnvironment(env);
        cli.start(QStringLiteral(CLI_PATH), QStringList{QStringLiteral("set"), QStringLiteral("--title"),
                                                        QStringLiteral("second take %1").arg(round)} + files);
        QVERIFY(cli.waitForStarted());
        QThread::msleep(10 + random.bounded(150));
        ::kill(pid_t(cli.processId()), SIGKILL);
        cli.waitForFinished();
        QVERIFY(run({QStringLiteral("undo"), QStringLiteral("--list")}));   // settles what the kill left
        for (const QString &path : files) {
            const QByteArray now = ReadFile(path);
            TagFile tag;
            QVERIFY(tag.Open(path));
            const bool isOld = now == old[path];
            // The audio around the metadata: after the FLAC blocks and the Ogg header pages, before the movie box
            // at an M4A's end.
            const qsizetype kept = now.size() - 8192;
            const bool sameAudio = atStart ? now.right(kept) == old[path].right(kept) : now.left(kept) == old[path].left(kept);
            const bool isNew = tag.title == QStringLiteral("second take %1").arg(round) && now.size() == old[path].size() &&
                               sameAudio;
            QVERIFY2(isOld || isNew, qPrintable(path));
        }
        QProcess undo;
        undo.setProcessEnvironment(env);
        undo.start(QStringLiteral(CLI_PATH), {QStringLiteral("undo")});
        QVERIFY(undo.waitForFinished(60000));
        for (const QString &path : files)
            QVERIFY2(ReadFile(path) == old[path], qPrintable(path));
    }
}

void TestJournal::undoGroupsWaitForTheFlushBefore()
{
    // An undo of 70 files goes in two groups: the first group's files are flushed while the second is read, and
    // the second is written only once that flush is over, so the journal never says a file is back before it is
    // on disk; a flush that fails is said.
    std::vector<TagFile> tags(70);
    QList<TagFile *> files;
    for (std::size_t i = 0; i < tags.size(); ++i) {
        const QString path = P(QStringLiteral("many-%1.mp3").arg(i, 2, 10, QLatin1Char('0')));
        QVERIFY(WriteFile(path, Tag(Frame("TIT2", Latin1Body("old")), 3, 256) + Audio(2)));
        QVERIFY(tags[i].Open(path));
        tags[i].title = QStringLiteral("new");
        files.append(&tags[i]);
    }
    {
        journal::Recorder recorder(Journal());
        QVERIFY(recorder.Begin(QStringLiteral("Grope Edit")));
        TagFile::WriteAll(files, [](TagFile &, bool ok, const QString &error) { QVERIFY2(ok, qPrintable(error)); });
    }
    static std::atomic<int> flushes{0};
    static std::atomic<bool> laterBackDuringFlush{false};
    static QString laterFile;
    laterFile = P(QStringLiteral("many-00.mp3"));   // undone last: in the second group
    flushes = 0;
    platform::FlushBatch::SetFlushForTests([](int) {
        if (++flushes == 1) {
            QThread::msleep(100);
            TagFile later;
            laterBackDuringFlush = !later.Open(laterFile) || later.title != QStringLiteral("new");
        }
        return flushes.load() == 1 ? EIO : 0;
    });
    const auto restore = qScopeGuard([] { platform::FlushBatch::SetFlushForTests(nullptr); });
    const journal::Outcome undone = journal::Undo(Journal());
    QCOMPARE(undone.restored, 70);
    QVERIFY(flushes.load() >= 2);
    QVERIFY(!laterBackDuringFlush.load());
    QVERIFY2(undone.skipped.size() == 1 && undone.skipped[0].contains(QLatin1String("may not have reached the disk")),
             qPrintable(undone.skipped.join(QLatin1Char('\n'))));
    TagFile first;
    QVERIFY(first.Open(laterFile));
    QCOMPARE(first.title, QStringLiteral("old"));
}

void TestJournal::recoveryBesideABeginningCommand()
{
    // Another command's recovery pass runs while this one makes its entry: the entry it finds empty (not yet
    // locked, its first record not yet written) must not be taken for a killed command's and removed from under
    // the command that goes on recording into it.
    std::atomic<bool> stop{false};
    std::vector<std::unique_ptr<QThread>> recovering;
    for (int i = 0; i < 3; ++i) {
        recovering.emplace_back(QThread::create([&] {
            while (!stop)
                journal::Recover(Journal());
        }));
        recovering.back()->start();
    }
    int lost = 0;
    for (int i = 0; i < 500; ++i) {
        journal::Recorder recorder(Journal());
        QVERIFY(recorder.Begin(QStringLiteral("Edit Tag")));
        if (!QFile::exists(Journal() + QStringLiteral("/%1.tgj").arg(recorder.Id(), 12, 10, QLatin1Char('0'))))
            ++lost;
        recorder.End();
    }
    stop = true;
    for (const auto &thread : recovering)
        thread->wait();
    QCOMPARE(lost, 0);
}

QTEST_GUILESS_MAIN(TestJournal)
#include "tst_journal.moc"
