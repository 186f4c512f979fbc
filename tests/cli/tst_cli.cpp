#include "testmp3.h"

#include <QtTest>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// How show ends the line of a file of testmp3::Audio frames: under a second at 128 kbit/s, 44.1 kHz, stereo.
const QString kAudio = QStringLiteral("\t0:00\t128\t44100\t2\tMP3\n");

struct Run
{
    int status = -1;
    QString out;
    QString err;
};

Run Cli(const QStringList &args)
{
    QProcess p;
    p.start(QStringLiteral(CLI_PATH), args);
    p.waitForFinished(30000);
    return Run{p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1, QString::fromUtf8(p.readAllStandardOutput()),
               QString::fromUtf8(p.readAllStandardError())};
}

} // namespace

class TestCli : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    // This test's own undo journal: tests running beside it must not undo its commands, nor it theirs.
    void initTestCase() { qputenv("XDG_STATE_HOME", QFile::encodeName(m_dir.filePath(QStringLiteral("state")))); }
    void showPrintsEscapedFields();
    void setThenShow();
    void badInputGivesClearErrors();
    void genresOfAnyText();
    void settingsInTableOrder();
    void latin1NamesAreReachable();
    void normalizeTextsAndFiles();
    void renameFromTags();
    void reportToFileAndStdout();
    void listSaysWhatItCouldNotRead();
    void outputThatFailsIsAFailure();
    void reportFilesFollowLinksAndUmask();
    void slipsAreNamed();
    void undoAndRedo();
    void filterKeepsMatchingRows();
    void fromNameDryRunAndWrite();
    void coversFromTheCommandLine();
    void listingsComeInNameOrder();
    void progressOnATerminalOnly();

private:
    QTemporaryDir m_dir;
};

void TestCli::showPrintsEscapedFields()
{
    using namespace testmp3;
    const QString path = m_dir.filePath(QStringLiteral("a.mp3"));
    QVERIFY(WriteFile(path, Tag(Frame("TIT2", Latin1Body(QStringLiteral("a\tb\\c"))) + Frame("COMM", CommentBody("", "x\ny")) +
                                Frame("TCON", Latin1Body("(8)"))) + Audio(2)));
    const Run r = Cli({QStringLiteral("show"), path});
    QCOMPARE(r.status, 0);
    QCOMPARE(r.out, path + QStringLiteral("\ta\\tb\\\\c\t\t\t\t\tx\\ny\t8\tJazz\t0") + kAudio);
}

void TestCli::setThenShow()
{
    const QString path = m_dir.filePath(QStringLiteral("b.mp3"));
    QVERIFY(testmp3::WriteFile(path, testmp3::Audio(3)));
    Run r = Cli({QStringLiteral("set"), QStringLiteral("--title"), QStringLiteral("Тест"), QStringLiteral("--artist=A"),
                 QStringLiteral("--album"), QStringLiteral("B"), QStringLiteral("--year"), QStringLiteral("2020"),
                 QStringLiteral("--track"), QStringLiteral("3"), QStringLiteral("--comment"), QStringLiteral("C"),
                 QStringLiteral("--genre"), QStringLiteral("rock"), path});
    QCOMPARE(r.status, 0);
    QCOMPARE(r.err, QString());
    r = Cli({QStringLiteral("show"), path});
    QCOMPARE(r.out, path + QStringLiteral("\tТест\tA\t2020\tB\t3\tC\t17\tRock\t2") + kAudio);
    QCOMPARE(Cli({QStringLiteral("set"), QStringLiteral("--genre"), QStringLiteral("none"), path}).status, 0);
    QVERIFY(Cli({QStringLiteral("show"), path}).out.endsWith(QStringLiteral("\t-1\t\t2") + kAudio));
    // "none" also clears a genre the table lacks; a year of a lone byte-order mark reads empty.
    const QString free = m_dir.filePath(QStringLiteral("free.mp3"));
    QVERIFY(testmp3::WriteFile(free, testmp3::Tag(testmp3::Frame("TCON", testmp3::Latin1Body("Silence")) +
                                                  testmp3::Frame("TYER", QByteArray("\0\xFF\xFE", 3))) + testmp3::Audio(2)));
    r = Cli({QStringLiteral("show"), free});
    QCOMPARE(r.out, free + QStringLiteral("\t\t\t\t\t\t\t-1\tSilence\t0") + kAudio);
    QCOMPARE(Cli({QStringLiteral("set"), QStringLiteral("--genre"), QStringLiteral("none"), free}).status, 0);
    QCOMPARE(Cli({QStringLiteral("show"), free}).out, free + QStringLiteral("\t\t\t\t\t\t\t-1\t\t0") + kAudio);
}

void TestCli::badInputGivesClearErrors()
{
    const QString good = m_dir.filePath(QStringLiteral("c.mp3"));
    QVERIFY(testmp3::WriteFile(good, testmp3::Audio(2)));
    const QString missing = m_dir.filePath(QStringLiteral("nope.mp3"));

    Run r = Cli({QStringLiteral("show"), missing, good});
    QCOMPARE(r.status, 1);
    QCOMPARE(r.err, QStringLiteral("tunegrove-cli: %1: No such file or directory\n").arg(missing));
    QVERIFY(r.out.startsWith(good));   // the other files are still done

    r = Cli({QStringLiteral("set"), QStringLiteral("--title"), QStringLiteral("x"), missing, good});
    QCOMPARE(r.status, 1);
    QVERIFY(!QFile::exists(missing));

    QCOMPARE(Cli({QStringLiteral("show"), QStringLiteral("--bogus"), good}).status, 2);
    QCOMPARE(Cli({QStringLiteral("show")}).status, 2);
    QCOMPARE(Cli({QStringLiteral("frobnicate")}).status, 2);
    QCOMPARE(Cli({QStringLiteral("set"), good, QStringLiteral("--title")}).status, 2);
    QCOMPARE(Cli({QStringLiteral("show"), QStringLiteral("--title"), QStringLiteral("x"), good}).status, 2);
    // A track is a number 0-4096, with a total if wanted, or empty: "x" and "3 of 12" are refused before any
    // file is touched; "3/12" is written as it stands.
    const QByteArray before = testmp3::ReadFile(good);
    for (const char *track : {"x", "4097", "-1", "3 of 12", "3/", "3/4097", "3/12/1"})
        QCOMPARE(Cli({QStringLiteral("set"), QStringLiteral("--track"), QString::fromLatin1(track), good}).status, 2);
    QCOMPARE(testmp3::ReadFile(good), before);
    QCOMPARE(Cli({QStringLiteral("set"), QStringLiteral("--track"), QStringLiteral("3/12"), good}).status, 0);
    QVERIFY(Cli({QStringLiteral("show"), good}).out.contains(QLatin1String("3/12")));
    QCOMPARE(Cli({QStringLiteral("set"), QStringLiteral("--track"), QStringLiteral("4096"), good}).status, 0);
    r = Cli({QStringLiteral("settings"), QStringLiteral("--settings-file"), missing});
    QCOMPARE(r.status, 0);
    QVERIFY(r.err.contains(QLatin1String("the defaults are used")));
    r = Cli({QStringLiteral("--help")});
    QCOMPARE(r.status, 0);
    QVERIFY(r.out.contains(QLatin1String("Usage:")));
    QVERIFY(Cli({QStringLiteral("--version")}).out.startsWith(QLatin1String("tunegrove-cli ")));
}

void TestCli::genresOfAnyText()
{
    const QString a = m_dir.filePath(QStringLiteral("d.mp3"));
    const QByteArray bytes = testmp3::Audio(2);
    QVERIFY(testmp3::WriteFile(a, bytes));
    // A number names an entry of the table: one beyond it is refused before any file is touched.
    for (const char *genre : {"126", "-1"}) {
        const Run r = Cli({QStringLiteral("set"), QStringLiteral("--title"), QStringLiteral("t"), QStringLiteral("--genre"),
                           QString::fromLatin1(genre), a});
        QCOMPARE(r.status, 2);
        QVERIFY2(r.err.contains(QLatin1String("genre numbers run from 0 to 125")), qPrintable(r.err));
        QCOMPARE(testmp3::ReadFile(a), bytes);
    }
    // Any other text is the genre, as another reader sees it; a name of the table in any case is its entry.
    QCOMPARE(Cli({QStringLiteral("set"), QStringLiteral("--genre"), QStringLiteral("Vaporwave"), a}).status, 0);
    QCOMPARE(Cli({QStringLiteral("show"), a}).out.section(QLatin1Char('\t'), 7, 8), QStringLiteral("-1\tVaporwave"));
    QProcess mutagen;
    mutagen.start(QStringLiteral("/usr/bin/python3"),
                  {QStringLiteral("-c"), QStringLiteral("import sys, mutagen.id3; print(mutagen.id3.ID3(sys.argv[1])['TCON'].text[0])"), a});
    QVERIFY(mutagen.waitForFinished(30000));
    QCOMPARE(QString::fromUtf8(mutagen.readAllStandardOutput()).trimmed(), QStringLiteral("Vaporwave"));
    QCOMPARE(Cli({QStringLiteral("set"), QStringLiteral("--genre"), QStringLiteral("jAZZ"), a}).status, 0);
    QCOMPARE(Cli({QStringLiteral("show"), a}).out.section(QLatin1Char('\t'), 7, 8), QStringLiteral("8\tJazz"));
}

void TestCli::settingsInTableOrder()
{
    const QString ini = m_dir.filePath(QStringLiteral("s.ini"));
    QFile f(ini);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write("[Settings]\nGrid=0\nTreePath=/media/x\n");
    f.close();
    const Run r = Cli({QStringLiteral("settings"), QStringLiteral("--settings-file"), ini});
    QCOMPARE(r.status, 0);
    const QStringList lines = r.out.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    QCOMPARE(lines.size(), 25);
    QCOMPARE(lines.first(), QStringLiteral("Cdrom=1"));
    QCOMPARE(lines.at(1), QStringLiteral("Grid=0"));
    QCOMPARE(lines.at(8), QStringLiteral("Encoding=Windows-1252"));
    QCOMPARE(lines.at(22), QStringLiteral("TreePath=/media/x"));
    QCOMPARE(lines.at(23), QStringLiteral("UseTrash=0"));   // off until the user chooses the trash
    QCOMPARE(lines.last(), QStringLiteral("OtherAudio=1"));
}

void TestCli::latin1NamesAreReachable()
{
    // Names from old FAT media: not UTF-8. list shows two rows, show and set reach each file by its bytes.
    QTemporaryDir dir;
    const QByteArray folder = QFile::encodeName(dir.path());
    for (const char *name : {"Caf\xe9.mp3", "Caf\xe8.mp3"}) {
        QFile file;
        const int fd = ::open((folder + '/' + name).constData(), O_WRONLY | O_CREAT, 0644);
        QVERIFY(fd >= 0);
        const QByteArray bytes = testmp3::Tag(testmp3::Frame("TIT2", testmp3::Latin1Body(QString::fromLatin1(name)))) +
                                 testmp3::Audio(2);
        QCOMPARE(::write(fd, bytes.constData(), size_t(bytes.size())), ssize_t(bytes.size()));
        ::close(fd);
    }
    auto shell = [&](const QByteArray &command) {
        QProcess p;
        p.setWorkingDirectory(dir.path());
        p.start(QStringLiteral("/bin/sh"), {QStringLiteral("-c"), QString::fromLatin1(command)});
        p.waitForFinished(30000);
        return std::pair{p.exitCode(), p.readAllStandardOutput()};
    };
    const QByteArray cli = QByteArray(CLI_PATH);
    auto [status, out] = shell(cli + " list .");
    QCOMPARE(status, 0);
    QCOMPARE(out.count('\n'), 2);
    QVERIFY(out.contains("Caf\xe9\tmp3") && out.contains("Caf\xe8\tmp3"));
    std::tie(status, out) = shell(cli + " set --artist Nina \"$(printf 'Caf\\351.mp3')\" && " + cli +
                                  " show \"$(printf 'Caf\\351.mp3')\"");
    QCOMPARE(status, 0);
    QVERIFY2(out.startsWith("Caf\xe9.mp3\tCaf\xc3\xa9.mp3\tNina\t"), out.constData());
    for (const char *name : {"Caf\xe9.mp3", "Caf\xe8.mp3"})
        ::unlink((folder + '/' + name).constData());
}

void TestCli::normalizeTextsAndFiles()
{
    Run r = Cli({QStringLiteral("normalize"), QStringLiteral("--text"), QStringLiteral("  GOLDEN\tHOUR  ")});
    QCOMPARE(r.status, 0);
    QCOMPARE(r.out, QStringLiteral("Golden\\thour\n"));   // escaped as show escapes

    using namespace testmp3;
    const QString mp3 = m_dir.filePath(QStringLiteral("n.mp3"));
    const QString wav = m_dir.filePath(QStringLiteral("n.wav"));
    const QString missing = m_dir.filePath(QStringLiteral("gone.mp3"));
    QVERIFY(WriteFile(mp3, Tag(Frame("TIT2", Latin1Body("rock  N ROLL"))) + Audio(2)));
    QVERIFY(WriteFile(wav, QByteArray("RIFF") + QByteArray(40, '\1')));
    r = Cli({QStringLiteral("normalize"), wav, missing, mp3});
    QCOMPARE(r.status, 1);
    QCOMPARE(r.err.count(QLatin1Char('\n')), 2);   // the WAV left with a note, the missing file reported
    QVERIFY(r.err.contains(QLatin1String("n.wav")) && r.err.contains(QLatin1String("gone.mp3")));
    QVERIFY(Cli({QStringLiteral("show"), mp3}).out.contains(QLatin1String("\tRock N Roll\t")));
    QCOMPARE(ReadFile(wav), QByteArray("RIFF") + QByteArray(40, '\1'));
    // One rule for every command: a file that could not be changed fails it, as it does set and rename.
    QCOMPARE(Cli({QStringLiteral("normalize"), wav}).status, 1);
    QCOMPARE(Cli({QStringLiteral("rename"), QStringLiteral("--pattern"), QStringLiteral("$T"), wav}).status, 1);
}

void TestCli::renameFromTags()
{
    using namespace testmp3;
    QTemporaryDir dir;
    for (const char *name : {"a.mp3", "b.mp3"})
        QVERIFY(WriteFile(dir.filePath(QString::fromLatin1(name)),
                          Tag(Frame("TPE1", Latin1Body("Ann")) + Frame("TRCK", Latin1Body("4/9"))) + Audio(1)));
    const QString a = dir.filePath(QStringLiteral("a.mp3")), b = dir.filePath(QStringLiteral("b.mp3"));
    // An untagged file is named on stderr and keeps its name (no " - .mp3"), and the command fails.
    const QString bare = dir.filePath(QStringLiteral("bare.mp3"));
    QVERIFY(WriteFile(bare, Audio(1)));
    Run untagged = Cli({QStringLiteral("rename"), QStringLiteral("--pattern"), QStringLiteral("$A - $T"), bare});
    QCOMPARE(untagged.status, 1);
    QVERIFY2(untagged.err.contains(QLatin1String("give the pattern no text")), qPrintable(untagged.err));
    QVERIFY(QFile::exists(bare));
    QVERIFY(QFile::remove(bare));
    Run r = Cli({QStringLiteral("rename"), QStringLiteral("--pattern"), QStringLiteral("$A $K"), a, b});
    QCOMPARE(r.status, 1);   // both give "Ann 04": the second is refused, nothing replaced
    QCOMPARE(r.out, a + QStringLiteral("\t") + dir.filePath(QStringLiteral("Ann 04.mp3")) + QStringLiteral("\n"));
    QCOMPARE(r.err.count(QLatin1Char('\n')), 1);
    QVERIFY(QFile::exists(b));
    r = Cli({QStringLiteral("rename"), QStringLiteral("--pattern"), QStringLiteral("$# x"), QStringLiteral("--counter"),
             QStringLiteral("3"), b});
    QCOMPARE(r.status, 0);
    QVERIFY(QFile::exists(dir.filePath(QStringLiteral("3 x.mp3"))));
    QCOMPARE(Cli({QStringLiteral("rename"), QStringLiteral("--pattern"), QStringLiteral("x"), QStringLiteral("--counter"),
                  QStringLiteral("-1"), b}).status, 2);
}

void TestCli::reportToFileAndStdout()
{
    using namespace testmp3;
    QTemporaryDir dir;
    QVERIFY(WriteFile(dir.filePath(QStringLiteral("b.mp3")), Tag(Frame("TPE1", Latin1Body("Zed"))) + Audio(1)));
    QVERIFY(WriteFile(dir.filePath(QStringLiteral("a.mp3")), Tag(Frame("TPE1", Latin1Body("Amy"))) + Audio(1)));
    // Tags asked for where the format has no place for them are refused, not dropped.
    for (const char *format : {"xml", "m3u"}) {
        const Run refused = Cli({QStringLiteral("report"), QStringLiteral("--format"), QString::fromLatin1(format),
                                 QStringLiteral("--tags"), dir.path()});
        QCOMPARE(refused.status, 2);
        QVERIFY2(refused.err.contains(QLatin1String("--tags belongs to html and txt reports")), qPrintable(refused.err));
    }
    Run r = Cli({QStringLiteral("report"), QStringLiteral("--format"), QStringLiteral("m3u"), QStringLiteral("--group"),
                 QStringLiteral("artist"), dir.path()});
    QCOMPARE(r.status, 0);
    QCOMPARE(r.out, QStringLiteral("#EXTM3U\r\n%1\r\n%2\r\n").arg(dir.filePath(QStringLiteral("a.mp3")),
                                                                     dir.filePath(QStringLiteral("b.mp3"))));
    const QString out = dir.filePath(QStringLiteral("r.xml"));
    QCOMPARE(Cli({QStringLiteral("report"), QStringLiteral("--format"), QStringLiteral("xml"), QStringLiteral("-o"), out,
                  dir.path()}).status, 0);
    QVERIFY(ReadFile(out).startsWith("<?xml version=\"1.0\" encoding=\"Windows-1252\"?><Directory_Tree>"));
    // An output that cannot be written: named on stderr, exit 1.
    r = Cli({QStringLiteral("report"), QStringLiteral("--format"), QStringLiteral("txt"), QStringLiteral("-o"),
             dir.filePath(QStringLiteral("gone/r.txt")), dir.path()});
    QCOMPARE(r.status, 1);
    QVERIFY(r.err.contains(QLatin1String("gone/r.txt")));
    QCOMPARE(Cli({QStringLiteral("report"), QStringLiteral("--format"), QStringLiteral("pdf"), dir.path()}).status, 2);
}

void TestCli::listSaysWhatItCouldNotRead()
{
    // Run as a normal user (CI runs as root, whom modes do not stop): an unreadable folder is named on stderr,
    // the rows that could be read are printed, and the exit status is 1. Links to folders, FIFOs and dangling
    // links are never rows.
    QTemporaryDir dir;
    QDir(dir.path()).mkpath(QStringLiteral("closed"));
    QDir(dir.path()).mkpath(QStringLiteral("album"));
    QVERIFY(testmp3::WriteFile(dir.filePath(QStringLiteral("closed/x.mp3")), testmp3::Audio(1)));
    QVERIFY(testmp3::WriteFile(dir.filePath(QStringLiteral("open.mp3")), testmp3::Audio(1)));
    QVERIFY(QFile::link(dir.filePath(QStringLiteral("album")), dir.filePath(QStringLiteral("live.mp3"))));
    QVERIFY(QFile::link(dir.filePath(QStringLiteral("gone")), dir.filePath(QStringLiteral("dangling.mp3"))));
    QCOMPARE(::mkfifo(QFile::encodeName(dir.filePath(QStringLiteral("pipe.mp3"))).constData(), 0644), 0);
    ::chmod(QFile::encodeName(dir.path()).constData(), 0755);
    ::chmod(QFile::encodeName(dir.filePath(QStringLiteral("closed"))).constData(), 0);

    QProcess p;
    QStringList args{QStringLiteral("list"), QStringLiteral("-r"), dir.path()};
    QTemporaryDir bin;
    if (::getuid() == 0) {
        // The build tree may be closed to other users: run a copy of the program from a folder they can read.
        ::chmod(QFile::encodeName(bin.path()).constData(), 0755);
        const QString cli = bin.filePath(QStringLiteral("tunegrove-cli"));
        QVERIFY(QFile::copy(QStringLiteral(CLI_PATH), cli));
        args = QStringList{QStringLiteral("--reuid=65534"), QStringLiteral("--regid=65534"), QStringLiteral("--clear-groups"),
                           cli} + args;
        p.start(QStringLiteral("setpriv"), args);
    } else {
        p.start(QStringLiteral(CLI_PATH), args);
    }
    QVERIFY(p.waitForFinished(30000));
    const QString out = QString::fromUtf8(p.readAllStandardOutput());
    const QString err = QString::fromUtf8(p.readAllStandardError());
    ::chmod(QFile::encodeName(dir.filePath(QStringLiteral("closed"))).constData(), 0755);
    QCOMPARE(p.exitCode(), 1);
    QCOMPARE(out.count(QLatin1Char('\n')), 1);
    QVERIFY(out.startsWith(QStringLiteral("open\tmp3\t")));
    QCOMPARE(err, QStringLiteral("tunegrove-cli: %1/closed: Permission denied\n").arg(dir.path()));
}

void TestCli::outputThatFailsIsAFailure()
{
    using namespace testmp3;
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("a.mp3"));
    // A tag's control characters never reach the terminal raw.
    QVERIFY(WriteFile(path, Tag(Frame("TIT2", Latin1Body(QStringLiteral("\x1b[2Jx\x07")))) + Audio(2)));
    QVERIFY(Cli({QStringLiteral("show"), path}).out.contains(QLatin1String("\t\\x1b[2Jx\\x07\t")));
    QVERIFY(Cli({QStringLiteral("list"), dir.path()}).out.contains(QLatin1String("\\x1b[2Jx\\x07")));

    // Standard output on a full disk: every command that prints says so and fails.
    for (const QStringList &args : {QStringList{QStringLiteral("show"), path}, QStringList{QStringLiteral("list"), dir.path()},
                                    QStringList{QStringLiteral("report"), QStringLiteral("--format"), QStringLiteral("txt"), dir.path()}}) {
        QProcess p;
        p.setStandardOutputFile(QStringLiteral("/dev/full"));
        p.start(QStringLiteral(CLI_PATH), args);
        QVERIFY(p.waitForFinished(30000));
        QCOMPARE(p.exitCode(), 1);
        QVERIFY2(p.readAllStandardError().contains("standard output: No space left on device"), qPrintable(args[0]));
    }

    // "-o -" is standard output, not a file named "-".
    QProcess p;
    p.setWorkingDirectory(dir.path());
    p.start(QStringLiteral(CLI_PATH), {QStringLiteral("report"), QStringLiteral("--format"), QStringLiteral("m3u"),
                                       QStringLiteral("-o"), QStringLiteral("-"), dir.path()});
    QVERIFY(p.waitForFinished(30000));
    QCOMPARE(p.exitCode(), 0);
    QVERIFY(p.readAllStandardOutput().startsWith("#EXTM3U"));
    QVERIFY(!QFile::exists(dir.filePath(QStringLiteral("-"))));
}

void TestCli::reportFilesFollowLinksAndUmask()
{
    QTemporaryDir dir;
    QVERIFY(testmp3::WriteFile(dir.filePath(QStringLiteral("a.mp3")), testmp3::Audio(1)));
    QTemporaryDir reports;
    // Saved over a link: the file the link names gets the report, the link stays a link.
    const QString real = reports.filePath(QStringLiteral("real.m3u"));
    QVERIFY(testmp3::WriteFile(real, "old"));
    QVERIFY(QFile::link(real, reports.filePath(QStringLiteral("link.m3u"))));
    QCOMPARE(Cli({QStringLiteral("report"), QStringLiteral("--format"), QStringLiteral("m3u"), QStringLiteral("-o"),
                  reports.filePath(QStringLiteral("link.m3u")), dir.path()}).status, 0);
    QVERIFY(QFileInfo(reports.filePath(QStringLiteral("link.m3u"))).isSymLink());
    QVERIFY(testmp3::ReadFile(real).startsWith("#EXTM3U"));
    // A new report file gets what the umask allows.
    const mode_t before = ::umask(027);
    const int status = Cli({QStringLiteral("report"), QStringLiteral("--format"), QStringLiteral("txt"), QStringLiteral("-o"),
                            reports.filePath(QStringLiteral("new.txt")), dir.path()}).status;
    ::umask(before);
    QCOMPARE(status, 0);
    struct stat st{};
    QCOMPARE(::stat(QFile::encodeName(reports.filePath(QStringLiteral("new.txt"))).constData(), &st), 0);
    QCOMPARE(st.st_mode & 0777, mode_t(0640));
}

void TestCli::slipsAreNamed()
{
    using namespace testmp3;
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("a.mp3"));
    QVERIFY(WriteFile(path, Tag(Frame("TIT2", Latin1Body(QStringLiteral("Song")))) + Audio(2)));
    // A missing file is a failure even when the pattern would give it no name.
    Run r = Cli({QStringLiteral("rename"), QStringLiteral("--pattern"), QStringLiteral("$A"), dir.filePath(QStringLiteral("gone.mp3"))});
    QCOMPARE(r.status, 1);
    QVERIFY2(r.err.contains(QLatin1String("gone.mp3")), qPrintable(r.err));
    // Unknown codes are named once; the known ones still work.
    r = Cli({QStringLiteral("rename"), QStringLiteral("--pattern"), QStringLiteral("$Q$T$Q$z"), path});
    QCOMPARE(r.status, 0);
    QCOMPARE(r.err.count(QLatin1String("$Q")), 1);
    QVERIFY(r.err.contains(QLatin1String("$z")));
    QVERIFY(QFile::exists(dir.filePath(QStringLiteral("Song.mp3"))));
    // A year longer than the field is a usage error, and nothing is written.
    const QByteArray before = ReadFile(dir.filePath(QStringLiteral("Song.mp3")));
    QCOMPARE(Cli({QStringLiteral("set"), QStringLiteral("--year"), QStringLiteral("19999"), dir.filePath(QStringLiteral("Song.mp3"))}).status, 2);
    QCOMPARE(ReadFile(dir.filePath(QStringLiteral("Song.mp3"))), before);
}

void TestCli::undoAndRedo()
{
    using namespace testmp3;
    QTemporaryDir dir;
    const QString a = dir.filePath(QStringLiteral("a.mp3"));
    const QByteArray original = Tag(Frame("TIT2", Latin1Body("the OLD one")) + Frame("TXXX", QByteArray("\0k\0v", 4))) + Audio(2);
    QVERIFY(WriteFile(a, original));
    QCOMPARE(Cli({QStringLiteral("set"), QStringLiteral("--artist"), QStringLiteral("Nina"), a}).status, 0);
    QCOMPARE(Cli({QStringLiteral("normalize"), a}).status, 0);
    const QByteArray tidied = ReadFile(a);
    Run r = Cli({QStringLiteral("undo"), QStringLiteral("--list")});
    QCOMPARE(r.status, 0);
    const QStringList lines = r.out.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    QVERIFY(lines.size() >= 2);
    const QStringList newest = lines[0].split(QLatin1Char('\t'));
    QCOMPARE(newest.size(), 5);
    QCOMPARE(newest[2], QStringLiteral("tunegrove-cli normalize"));
    QCOMPARE(newest[3], QStringLiteral("1"));
    QCOMPARE(newest[4], QStringLiteral("done"));
    // Undo twice: the file is as it was, byte for byte; then there is nothing left (exit 1, said).
    r = Cli({QStringLiteral("undo")});
    QCOMPARE(r.status, 0);
    QVERIFY(r.out.startsWith(QLatin1String("undo ")));
    QCOMPARE(Cli({QStringLiteral("undo"), lines[1].split(QLatin1Char('\t'))[0]}).status, 0);
    QCOMPARE(ReadFile(a), original);
    QCOMPARE(Cli({QStringLiteral("redo")}).status, 0);
    QCOMPARE(Cli({QStringLiteral("redo")}).status, 0);
    QCOMPARE(ReadFile(a), tidied);
    r = Cli({QStringLiteral("redo")});
    QCOMPARE(r.status, 1);
    QVERIFY(r.err.contains(QLatin1String("nothing to redo")));
    // A file changed since is skipped and named (exit 1).
    QVERIFY(WriteFile(a, tidied + "x"));
    r = Cli({QStringLiteral("undo")});
    QCOMPARE(r.status, 1);
    QVERIFY2(r.err.contains(a + QStringLiteral(": changed since")), qPrintable(r.err));
    QCOMPARE(Cli({QStringLiteral("undo"), QStringLiteral("x")}).status, 2);
    QCOMPARE(Cli({QStringLiteral("list"), QStringLiteral("--list"), dir.path()}).status, 2);

    // A journal that cannot be written: the change is made and the user told it cannot be undone.
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    QVERIFY(WriteFile(dir.filePath(QStringLiteral("blocked")), "a file where the folder would go"));
    env.insert(QStringLiteral("XDG_STATE_HOME"), dir.filePath(QStringLiteral("blocked")));
    p.setProcessEnvironment(env);
    p.start(QStringLiteral(CLI_PATH), {QStringLiteral("set"), QStringLiteral("--title"), QStringLiteral("Still"), a});
    QVERIFY(p.waitForFinished(30000));
    QCOMPARE(p.exitCode(), 0);
    QVERIFY(p.readAllStandardError().contains("cannot be undone"));
    QVERIFY(ReadFile(a).contains("Still"));
}

void TestCli::fromNameDryRunAndWrite()
{
    using namespace testmp3;
    QDir(m_dir.path()).mkpath(QStringLiteral("names/Nina Simone/Best Of"));
    const QString fits = m_dir.filePath(QStringLiteral("names/Nina Simone/Best Of/03 - Be My Husband.mp3"));
    const QString misfit = m_dir.filePath(QStringLiteral("names/Nina Simone/Best Of/untitled.mp3"));
    const QByteArray tagged = Tag(Frame("COMM", CommentBody("", "keep me"))) + Audio(2);
    QVERIFY(WriteFile(fits, tagged));
    QVERIFY(WriteFile(misfit, tagged));
    const QStringList dry{QStringLiteral("fromname"), QStringLiteral("--pattern"), QStringLiteral("$A/$B/$K - $T"),
                          QStringLiteral("--dry-run"), fits, misfit};
    Run r = Cli(dry);
    QCOMPARE(r.status, 1);   // one name did not fit
    QCOMPARE(r.out, fits + QStringLiteral("\tartist=Nina Simone\talbum=Best Of\ttrack=03\ttitle=Be My Husband\n"));
    QVERIFY2(r.err.contains(misfit + QStringLiteral(": the name does not fit")), qPrintable(r.err));
    QCOMPARE(ReadFile(fits), tagged);   // a dry run changes nothing
    QCOMPARE(ReadFile(misfit), tagged);

    r = Cli({QStringLiteral("fromname"), QStringLiteral("--pattern=$A/$B/$K - $T"), misfit, fits});
    QCOMPARE(r.status, 1);
    r = Cli({QStringLiteral("show"), fits});
    QCOMPARE(r.out, fits + QStringLiteral("\tBe My Husband\tNina Simone\t\tBest Of\t3\tkeep me\t-1\t\t1") + kAudio);
    QCOMPARE(ReadFile(misfit), tagged);
    // Undo takes the command back as one.
    QCOMPARE(Cli({QStringLiteral("undo")}).status, 0);
    QCOMPARE(ReadFile(fits), tagged);

    QCOMPARE(Cli({QStringLiteral("fromname"), QStringLiteral("--pattern"), QStringLiteral("$F"), fits}).status, 2);
    QCOMPARE(Cli({QStringLiteral("fromname"), fits}).status, 2);
    QCOMPARE(Cli({QStringLiteral("show"), QStringLiteral("--dry-run"), fits}).status, 2);
}

void TestCli::coversFromTheCommandLine()
{
    using namespace testmp3;
    const QString song = m_dir.filePath(QStringLiteral("covered.mp3"));
    const QString other = m_dir.filePath(QStringLiteral("covered.flac"));
    const QString png = m_dir.filePath(QStringLiteral("front.png"));
    const QString text = m_dir.filePath(QStringLiteral("notes.jpg"));
    const QByteArray image = PngImage(5000);
    QVERIFY(WriteFile(song, Tag(Frame("TIT2", Latin1Body(QStringLiteral("T")))) + Audio(2)));
    QVERIFY(WriteFile(other, QByteArray("fLaC")));
    QVERIFY(WriteFile(png, image));
    QVERIFY(WriteFile(text, "plain text"));

    const QString out = m_dir.filePath(QStringLiteral("out.img"));
    Run r = Cli({QStringLiteral("cover"), song, QStringLiteral("-o"), out});
    QCOMPARE(r.status, 1);
    QVERIFY2(r.err.contains(QStringLiteral("no front cover")), qPrintable(r.err));
    QVERIFY(!QFile::exists(out));

    r = Cli({QStringLiteral("set"), QStringLiteral("--cover"), text, song});
    QCOMPARE(r.status, 2);
    QVERIFY2(r.err.contains(QStringLiteral("not a JPEG or PNG")), qPrintable(r.err));
    // A file that holds no readable audio of its kind is named and left alone; the others get the cover.
    r = Cli({QStringLiteral("set"), QStringLiteral("--cover"), png, other, song});
    QCOMPARE(r.status, 1);
    QVERIFY2(r.err.contains(other), qPrintable(r.err));
    QCOMPARE(ReadFile(other), QByteArray("fLaC"));
    QVERIFY(ReadFile(song).contains(image));

    QCOMPARE(Cli({QStringLiteral("set"), QStringLiteral("--cover"), png, song}).status, 0);
    QCOMPARE(Cli({QStringLiteral("cover"), song, QStringLiteral("-o"), out}).status, 0);
    QCOMPARE(ReadFile(out), image);   // byte for byte
    QProcess p;
    p.start(QStringLiteral(CLI_PATH), {QStringLiteral("cover"), song, QStringLiteral("-o"), QStringLiteral("-")});
    QVERIFY(p.waitForFinished(30000));
    QCOMPARE(p.readAllStandardOutput(), image);
    QVERIFY(Cli({QStringLiteral("show"), song}).out.contains(QStringLiteral("\tT\t")));

    QCOMPARE(Cli({QStringLiteral("set"), QStringLiteral("--cover"), QStringLiteral("none"), song}).status, 0);
    QCOMPARE(Cli({QStringLiteral("cover"), song, QStringLiteral("-o"), out}).status, 1);
    QCOMPARE(Cli({QStringLiteral("cover"), song}).status, 2);   // no -o
    QCOMPARE(Cli({QStringLiteral("list"), QStringLiteral("-o"), out, m_dir.path()}).status, 2);
}

void TestCli::listingsComeInNameOrder()
{
    // Made in an order the disk may keep: the listing reads like a file manager, subfolders where they sort.
    QTemporaryDir dir;
    QVERIFY(QDir(dir.path()).mkpath(QStringLiteral("b")));
    for (const char *name : {"10.mp3", "2.mp3", "b/9.mp3", "B.mp3", "1.mp3", "a.mp3", "b/10.mp3", "01.mp3"})
        QVERIFY(testmp3::WriteFile(dir.filePath(QString::fromLatin1(name)), testmp3::Audio(1)));
    const Run r = Cli({QStringLiteral("list"), QStringLiteral("-r"), dir.path()});
    QCOMPARE(r.status, 0);
    QStringList shown;
    for (const QString &line : r.out.split(QLatin1Char('\n'), Qt::SkipEmptyParts))
        shown << line.section(QLatin1Char('\t'), 2, 2).mid(dir.path().size() + 1) + line.section(QLatin1Char('\t'), 0, 0);
    QCOMPARE(shown, (QStringList{"1", "01", "2", "10", "a", "b/9", "b/10", "B"}));
}

void TestCli::progressOnATerminalOnly()
{
    // On a terminal (script(1) gives the command one) long work shows how far it has come, in one line that is
    // wiped before anything else is written and at the end; to a pipe nothing is added.
    const QString script = QStandardPaths::findExecutable(QStringLiteral("script"));
    if (script.isEmpty())
        QSKIP("script (util-linux) is not installed");
    QTemporaryDir dir;
    QStringList files;
    for (int i = 0; i < 200; ++i) {
        files << dir.filePath(QStringLiteral("%1.mp3").arg(i));
        QVERIFY(testmp3::WriteFile(files.last(), testmp3::Audio(1)));
    }
    QVERIFY(testmp3::WriteFile(dir.filePath(QStringLiteral("list.txt")), files.join(QLatin1Char(' ')).toUtf8()));
    auto onTerminal = [&](const QString &arguments) {
        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("TUNEGROVE_PROGRESS_AFTER_MS"), QStringLiteral("0"));
        p.setProcessEnvironment(env);
        p.start(script, {QStringLiteral("-qec"), QStringLiteral(CLI_PATH) + QLatin1Char(' ') + arguments, QStringLiteral("/dev/null")});
        p.waitForFinished(60000);
        return QString::fromUtf8(p.readAllStandardOutput());
    };
    QString seen = onTerminal(QStringLiteral("set --comment hi $(cat '%1')").arg(dir.filePath(QStringLiteral("list.txt"))));
    QVERIFY2(seen.contains(QLatin1String("\rset: 0 of 200 files\x1b[K")), qPrintable(seen));
    QVERIFY2(seen.endsWith(QLatin1String("\r\x1b[K")), qPrintable(seen));   // wiped at the end
    seen = onTerminal(QStringLiteral("undo"));
    QVERIFY2(seen.contains(QLatin1String("\rundo: 0 of 200 files\x1b[K")), qPrintable(seen));
    QVERIFY2(!seen.contains(QLatin1String("files\x1b[Ktunegrove-cli")), qPrintable(seen));   // a message on a wiped line
    // A pipe: the undo's own words only.
    const Run redo = Cli({QStringLiteral("redo")});
    QCOMPARE(redo.status, 0);
    QVERIFY2(!redo.err.contains(QLatin1Char('\r')) && !redo.out.contains(QLatin1Char('\r')), qPrintable(redo.err));
}

QTEST_GUILESS_MAIN(TestCli)
#include "tst_cli.moc"

void TestCli::filterKeepsMatchingRows()
{
    using namespace testmp3;
    QTemporaryDir dir;
    QVERIFY(WriteFile(dir.filePath(QStringLiteral("1.mp3")),
                      Tag(Frame("TPE1", Utf16Body(QStringLiteral("Zoé"))) + Frame("TYER", Latin1Body("1995"))) + Audio(1)));
    QVERIFY(WriteFile(dir.filePath(QStringLiteral("2.mp3")),
                      Tag(Frame("TPE1", Latin1Body("Amy")) + Frame("TALB", Latin1Body("Live"))) + Audio(1)));
    QVERIFY(WriteFile(dir.filePath(QStringLiteral("3.mp3")), Tag(Frame("TPE1", Latin1Body("Zoe"))) + Audio(1)));
    auto names = [](const Run &r) {
        QStringList out;
        for (const QString &line : r.out.split(QLatin1Char('\n'), Qt::SkipEmptyParts))
            out << line.section(QLatin1Char('\t'), 0, 0);
        out.sort();
        return out.join(QLatin1Char(' '));
    };
    auto list = [&](const QString &expression) {
        return Cli({QStringLiteral("list"), QStringLiteral("--filter"), expression, dir.path()});
    };
    QCOMPARE(names(list(QStringLiteral("zoe"))), QStringLiteral("1 3"));
    QCOMPARE(names(list(QStringLiteral("zoe -year:"))), QStringLiteral("1"));
    QCOMPARE(names(list(QStringLiteral("album:"))), QStringLiteral("1 3"));
    QCOMPARE(names(list(QStringLiteral("year:1990..1999"))), QStringLiteral("1"));
    QCOMPARE(list(QStringLiteral("nothing-matches")).out, QString());
    QCOMPARE(list(QStringLiteral("nothing-matches")).status, 0);
    // The rows are the same as without a filter, cell for cell.
    const QStringList all = Cli({QStringLiteral("list"), dir.path()}).out.split(QLatin1Char('\n'));
    for (const QString &line : list(QStringLiteral("album:live")).out.split(QLatin1Char('\n'), Qt::SkipEmptyParts))
        QVERIFY(all.contains(line));

    // A report holds the matching rows only, grouped after filtering.
    const Run report = Cli({QStringLiteral("report"), QStringLiteral("--format"), QStringLiteral("m3u"),
                            QStringLiteral("--group"), QStringLiteral("artist"), QStringLiteral("--filter"),
                            QStringLiteral("artist:zo"), dir.path()});
    QCOMPARE(report.status, 0);
    QCOMPARE(report.out, QStringLiteral("#EXTM3U\r\n%1\r\n%2\r\n").arg(dir.filePath(QStringLiteral("3.mp3")),
                                                                          dir.filePath(QStringLiteral("1.mp3"))));   // Zoe, Zoé

    // A bad expression is a usage error that says why, before any folder is read.
    Run bad = list(QStringLiteral("artist:\"nina"));
    QCOMPARE(bad.status, 2);
    QVERIFY2(bad.err.contains(QLatin1String("not closed")), qPrintable(bad.err));
    QCOMPARE(bad.out, QString());
    bad = Cli({QStringLiteral("show"), QStringLiteral("--filter"), QStringLiteral("x"), dir.filePath(QStringLiteral("1.mp3"))});
    QCOMPARE(bad.status, 2);
    QVERIFY(bad.err.contains(QLatin1String("--filter belongs to the list and report commands")));
}
