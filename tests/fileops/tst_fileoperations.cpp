// The per-file copy, move and delete steps with every outcome, answered by a scripted user.

#include "fileops/fileoperations.h"
#include "platform/fileio.h"
#include "testmp3.h"

#include <QtTest>

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

QTEST_GUILESS_MAIN(TestFileOperations)
#include "tst_fileoperations.moc"
