// The per-file copy, move and delete steps with every outcome, answered by a scripted user.

#include "fileops/fileoperations.h"
#include "platform/fileio.h"
#include "testmp3.h"

#include <QtTest>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace fileops;
using testmp3::ReadFile;
using testmp3::WriteFile;

namespace {

class ScriptedUi : public FileOpsUi
{
public:
    QList<Answer> answers;   // Skip when none is left (a closed question)
    QStringList asked;
    int toItself = 0;
    QStringList errors;

    Answer AskOverwrite(const QString &target) override { return Next(QStringLiteral("exists ") + target); }
    Answer AskDeleteReadOnly(const QString &path) override { return Next(QStringLiteral("read-only ") + path); }
    void CopyToItself() override { ++toItself; }
    void ShowError(const QString &path, int error) override { errors.append(path + QStringLiteral(": ") + platform::ErrorText(error)); }

private:
    Answer Next(const QString &what)
    {
        asked.append(what);
        return answers.isEmpty() ? Answer::Skip : answers.takeFirst();
    }
};

} // namespace

class TestFileOperations : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init();
    void copyOutcomes();
    void copyToItself();
    void moveOutcomes();
    void deleteOutcomes();
    void interruptedOverwriteKeepsTheOldTarget();
    void interruptedCopyLeavesNoShortTarget();
    void linksAreActedOnThemselves();
    void errorsNameTheFileTheyConcern();

private:
    QString P(const char *name) const { return m_dir->filePath(QString::fromLatin1(name)); }
    std::unique_ptr<QTemporaryDir> m_dir;
};

void TestFileOperations::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(WriteFile(P("src.mp3"), "new bytes"));
    QVERIFY(WriteFile(P("dst.mp3"), "old bytes"));
}

void TestFileOperations::copyOutcomes()
{
    ScriptedUi ui;
    // A free target: copied, modification time kept.
    {
        QFile src(P("src.mp3"));
        QVERIFY(src.open(QIODevice::ReadWrite));
        QVERIFY(src.setFileTime(QDateTime(QDate(2001, 5, 3), QTime(12, 0)), QFileDevice::FileModificationTime));
    }
    QCOMPARE(CopyOneFile(P("src.mp3"), P("free.mp3"), true, ui), Outcome::Done);
    QCOMPARE(ReadFile(P("free.mp3")), QByteArray("new bytes"));
    QCOMPARE(QFileInfo(P("free.mp3")).lastModified(), QDateTime(QDate(2001, 5, 3), QTime(12, 0)));
    // A taken target: closed question = Skip, Skip All = Stop, both leave it alone.
    QCOMPARE(CopyOneFile(P("src.mp3"), P("dst.mp3"), true, ui), Outcome::Skipped);
    ui.answers = {Answer::SkipAll};
    QCOMPARE(CopyOneFile(P("src.mp3"), P("dst.mp3"), true, ui), Outcome::Stop);
    QCOMPARE(ReadFile(P("dst.mp3")), QByteArray("old bytes"));
    QCOMPARE(ui.asked.size(), 2);
    // Overwrite All replaces it, even read-only, and later files are not asked about.
    ::chmod(QFile::encodeName(P("dst.mp3")).constData(), 0444);
    ui.answers = {Answer::YesToAll};
    QCOMPARE(CopyOneFile(P("src.mp3"), P("dst.mp3"), true, ui), Outcome::DoneStopAsking);
    QCOMPARE(ReadFile(P("dst.mp3")), QByteArray("new bytes"));
    QVERIFY(WriteFile(P("src.mp3"), "newer"));
    QCOMPARE(CopyOneFile(P("src.mp3"), P("dst.mp3"), false, ui), Outcome::Done);
    QCOMPARE(ReadFile(P("dst.mp3")), QByteArray("newer"));
    QCOMPARE(ui.asked.size(), 3);
    // A failing copy shows the system's error.
    QCOMPARE(CopyOneFile(P("src.mp3"), P("gone/x.mp3"), true, ui), Outcome::Failed);
    QCOMPARE(ui.errors.size(), 1);
    QVERIFY(ui.errors[0].contains(QLatin1String("No such file or directory")));
    QCOMPARE(QDir(m_dir->path()).entryList(QDir::Files | QDir::Hidden).filter(QStringLiteral(".tg")), QStringList());
}

void TestFileOperations::copyToItself()
{
    // The same file by another name is itself; names that differ only in case are two files on Linux.
    ScriptedUi ui;
    QVERIFY(QFile::link(P("src.mp3"), P("link.mp3")));
    QCOMPARE(CopyOneFile(P("src.mp3"), P("link.mp3"), true, ui), Outcome::Stop);
    QCOMPARE(CopyOneFile(P("src.mp3"), P("src.mp3"), true, ui), Outcome::Stop);
    QCOMPARE(ui.toItself, 2);
    QCOMPARE(CopyOneFile(P("src.mp3"), P("SRC.mp3"), true, ui), Outcome::Done);
    QCOMPARE(ReadFile(P("SRC.mp3")), QByteArray("new bytes"));
}

void TestFileOperations::moveOutcomes()
{
    ScriptedUi ui;
    QCOMPARE(MoveOneFile(P("src.mp3"), P("dst.mp3"), true, ui), Outcome::Skipped);
    QVERIFY(QFile::exists(P("src.mp3")));
    ui.answers = {Answer::Yes};
    QCOMPARE(MoveOneFile(P("src.mp3"), P("dst.mp3"), true, ui), Outcome::Done);
    QVERIFY(!QFile::exists(P("src.mp3")));
    QCOMPARE(ReadFile(P("dst.mp3")), QByteArray("new bytes"));

    // Across file systems (when /dev/shm is another one): a complete copy, then the source goes.
    QTemporaryDir other(QStringLiteral("/dev/shm/tunegrove-XXXXXX"));
    if (!other.isValid())
        QSKIP("no second file system at /dev/shm");
    platform::FileStatus here, there;
    platform::Stat(m_dir->path(), here);
    platform::Stat(other.path(), there);
    if (here.device == there.device)
        QSKIP("/dev/shm is on the same file system");
    QCOMPARE(MoveOneFile(P("dst.mp3"), other.filePath(QStringLiteral("moved.mp3")), true, ui), Outcome::Done);
    QVERIFY(!QFile::exists(P("dst.mp3")));
    QCOMPARE(ReadFile(other.filePath(QStringLiteral("moved.mp3"))), QByteArray("new bytes"));
}

void TestFileOperations::deleteOutcomes()
{
    ScriptedUi ui;
    QCOMPARE(DeleteOneFile(P("src.mp3"), true, ui), Outcome::Done);
    QVERIFY(!QFile::exists(P("src.mp3")));
    // Read-only (judged from the mode bits, so root is asked too): Skip keeps it, Delete All removes it.
    for (const char *name : {"ro1.mp3", "ro2.mp3"}) {
        QVERIFY(WriteFile(P(name), "x"));
        ::chmod(QFile::encodeName(P(name)).constData(), 0444);
    }
    QCOMPARE(DeleteOneFile(P("ro1.mp3"), true, ui), Outcome::Skipped);
    QVERIFY(QFile::exists(P("ro1.mp3")));
    ui.answers = {Answer::YesToAll};
    QCOMPARE(DeleteOneFile(P("ro1.mp3"), true, ui), Outcome::DoneStopAsking);
    QCOMPARE(DeleteOneFile(P("ro2.mp3"), false, ui), Outcome::Done);
    QVERIFY(!QFile::exists(P("ro1.mp3")) && !QFile::exists(P("ro2.mp3")));
    QCOMPARE(ui.asked.size(), 2);
    QCOMPARE(DeleteOneFile(P("missing.mp3"), true, ui), Outcome::Failed);
    QCOMPARE(ui.errors.size(), 1);
}

void TestFileOperations::interruptedOverwriteKeepsTheOldTarget()
{
    // An overwrite that fails half-way (a file-size limit in a child process) leaves the old target whole and no
    // temporary file behind.
    QVERIFY(WriteFile(P("big.mp3"), QByteArray(400000, 'b')));
    const pid_t pid = ::fork();
    if (pid == 0) {
        struct rlimit limit{};
        limit.rlim_cur = limit.rlim_max = 100000;
        ::setrlimit(RLIMIT_FSIZE, &limit);
        ScriptedUi ui;
        ::_exit(CopyOneFile(P("big.mp3"), P("dst.mp3"), false, ui) == Outcome::Failed ? 0 : 1);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    QVERIFY(WIFEXITED(status));
    QCOMPARE(WEXITSTATUS(status), 0);
    QCOMPARE(ReadFile(P("dst.mp3")), QByteArray("old bytes"));
    QCOMPARE(QDir(m_dir->path()).entryList(QDir::Files | QDir::Hidden).filter(QStringLiteral(".tg")), QStringList());
}

namespace {

// Runs `step` in a child process whose files may not grow past 100,000 bytes; returns the child's exit status.
int UnderSizeLimit(const std::function<int()> &step)
{
    const pid_t pid = ::fork();
    if (pid == 0) {
        struct rlimit limit{};
        limit.rlim_cur = limit.rlim_max = 100000;
        ::setrlimit(RLIMIT_FSIZE, &limit);
        ::_exit(step());
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

} // namespace

void TestFileOperations::interruptedCopyLeavesNoShortTarget()
{
    // A copy to a free name that fails half-way: the name never holds a part of the song.
    QVERIFY(WriteFile(P("big.mp3"), QByteArray(400000, 'b')));
    QCOMPARE(UnderSizeLimit([this] {
                 ScriptedUi ui;
                 return CopyOneFile(P("big.mp3"), P("copy.mp3"), true, ui) == Outcome::Failed ? 0 : 1;
             }),
             0);
    QVERIFY(!QFile::exists(P("copy.mp3")));

    // What a killed copy or write left behind goes with the next copy into that folder (the first this process
    // makes there in a minute); a temporary file that its writer still holds (locked) stays, and so does a fresh
    // one its writer may not have locked yet.
    QVERIFY(QDir(m_dir->path()).mkpath(QStringLiteral("left")));
    auto L = [this](const char *name) { return P("left/") + QString::fromLatin1(name); };
    const QDateTime old = QDateTime::currentDateTime().addSecs(-60);
    for (const char *name : {".tgstale001", ".tgheld0001", ".tgfresh001", ".tgNOTOURS1"}) {
        QVERIFY(WriteFile(L(name), "part"));
        if (qstrcmp(name, ".tgfresh001") != 0) {
            QFile file(L(name));
            QVERIFY(file.open(QIODevice::ReadWrite));
            QVERIFY(file.setFileTime(old, QFileDevice::FileModificationTime));
        }
    }
    const int held = ::open(QFile::encodeName(L(".tgheld0001")).constData(), O_RDONLY);
    QVERIFY(held >= 0 && ::flock(held, LOCK_EX) == 0);
    ScriptedUi ui;
    QCOMPARE(CopyOneFile(P("src.mp3"), L("copy.mp3"), true, ui), Outcome::Done);
    ::close(held);
    QVERIFY(!QFile::exists(L(".tgstale001")));
    QVERIFY(QFile::exists(L(".tgheld0001")));
    QVERIFY(QFile::exists(L(".tgfresh001")));
    QVERIFY(QFile::exists(L(".tgNOTOURS1")));
    // Within the minute the folder is not read again before each write: a folder of 100,000 names would cost more
    // than the writes.
    QVERIFY(WriteFile(L(".tgstale002"), "part"));
    {
        QFile file(L(".tgstale002"));
        QVERIFY(file.open(QIODevice::ReadWrite));
        QVERIFY(file.setFileTime(old, QFileDevice::FileModificationTime));
    }
    QCOMPARE(CopyOneFile(P("src.mp3"), L("copy2.mp3"), true, ui), Outcome::Done);
    QVERIFY(QFile::exists(L(".tgstale002")));
}

void TestFileOperations::linksAreActedOnThemselves()
{
    // A link in the list names a read-only file elsewhere: overwriting or deleting the link never makes that file
    // writable or changes it.
    QTemporaryDir elsewhere;
    const QString kept = elsewhere.filePath(QStringLiteral("kept.mp3"));
    QVERIFY(WriteFile(kept, "kept bytes"));
    QVERIFY(QFile::setPermissions(kept, QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther));
    QVERIFY(QFile::link(kept, P("link.mp3")));
    QVERIFY(QFile::link(kept, P("link2.mp3")));
    ScriptedUi ui;
    ui.answers = {Answer::Yes};
    QCOMPARE(CopyOneFile(P("src.mp3"), P("link.mp3"), true, ui), Outcome::Done);
    QCOMPARE(ReadFile(P("link.mp3")), QByteArray("new bytes"));
    QVERIFY(!QFileInfo(P("link.mp3")).isSymLink());
    QCOMPARE(DeleteOneFile(P("link2.mp3"), true, ui), Outcome::Done);
    QVERIFY(!QFileInfo::exists(P("link2.mp3")) && !QFileInfo(P("link2.mp3")).isSymLink());
    QCOMPARE(ui.asked.size(), 1);   // the overwrite only: a link is not read-only
    QCOMPARE(ReadFile(kept), QByteArray("kept bytes"));
    QVERIFY(!QFileInfo(kept).permissions().testFlag(QFile::WriteOwner));
    QVERIFY(QFile::setPermissions(kept, QFile::ReadOwner | QFile::WriteOwner));
}

void TestFileOperations::errorsNameTheFileTheyConcern()
{
    ScriptedUi ui;
    // A vanished source names the source, a missing target folder the target.
    QCOMPARE(CopyOneFile(P("gone.mp3"), P("to.mp3"), true, ui), Outcome::Failed);
    QCOMPARE(MoveOneFile(P("gone.mp3"), P("to.mp3"), true, ui), Outcome::Failed);
    QCOMPARE(CopyOneFile(P("src.mp3"), P("nowhere/to.mp3"), true, ui), Outcome::Failed);
    QCOMPARE(ui.errors.size(), 3);
    QVERIFY2(ui.errors[0].startsWith(P("gone.mp3") + QLatin1Char(':')), qPrintable(ui.errors[0]));
    QVERIFY2(ui.errors[1].startsWith(P("gone.mp3") + QLatin1Char(':')), qPrintable(ui.errors[1]));
    QVERIFY2(ui.errors[2].startsWith(P("nowhere/to.mp3") + QLatin1Char(':')), qPrintable(ui.errors[2]));

    // A full disk while a move copies to another file system names the target, and the source stays.
    const QString shm = QStringLiteral("/dev/shm");
    struct stat a{}, b{};
    if (::stat(shm.toLocal8Bit().constData(), &a) != 0 || ::stat(QFile::encodeName(m_dir->path()).constData(), &b) != 0 ||
        a.st_dev == b.st_dev || ::access("/dev/shm", W_OK) != 0)
        QSKIP("no second file system to move across");
    QTemporaryDir other(shm + QStringLiteral("/tg-XXXXXX"));
    const QString source = other.filePath(QStringLiteral("big.mp3"));
    QVERIFY(WriteFile(source, QByteArray(400000, 'b')));
    const QString target = P("moved.mp3");
    QCOMPARE(UnderSizeLimit([&] {
                 ScriptedUi child;
                 if (MoveOneFile(source, target, true, child) != Outcome::Failed || child.errors.size() != 1)
                     return 1;
                 return child.errors[0].startsWith(target + QLatin1Char(':')) ? 0 : 2;
             }),
             0);
    QVERIFY(QFile::exists(source));
    QVERIFY(!QFile::exists(target));
}

QTEST_GUILESS_MAIN(TestFileOperations)
#include "tst_fileoperations.moc"
