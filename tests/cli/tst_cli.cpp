#include "testmp3.h"

#include <QtTest>

namespace {

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
    void showPrintsEscapedFields();
    void setThenShow();
    void badInputGivesClearErrors();
    void unknownGenreTouchesNothing();
    void settingsInTableOrder();

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
    QCOMPARE(r.out, path + QStringLiteral("\ta\\tb\\\\c\t\t\t\t\tx\\ny\t8\tJazz\t0\n"));
}

void TestCli::setThenShow()
{
    const QString path = m_dir.filePath(QStringLiteral("b.mp3"));
    QVERIFY(testmp3::WriteFile(path, testmp3::Audio(3)));
    Run r = Cli({QStringLiteral("set"), QStringLiteral("--title"), QStringLiteral("Тест"), QStringLiteral("--artist=A"),
                 QStringLiteral("--album"), QStringLiteral("B"), QStringLiteral("--year"), QStringLiteral("2020"),
                 QStringLiteral("--track"), QStringLiteral("3/12"), QStringLiteral("--comment"), QStringLiteral("C"),
                 QStringLiteral("--genre"), QStringLiteral("rock"), path});
    QCOMPARE(r.status, 0);
    QCOMPARE(r.err, QString());
    r = Cli({QStringLiteral("show"), path});
    QCOMPARE(r.out, path + QStringLiteral("\tТест\tA\t2020\tB\t3\tC\t17\tRock\t2\n"));
    QCOMPARE(Cli({QStringLiteral("set"), QStringLiteral("--genre"), QStringLiteral("none"), path}).status, 0);
    QVERIFY(Cli({QStringLiteral("show"), path}).out.endsWith(QStringLiteral("\t-1\t\t2\n")));
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
    r = Cli({QStringLiteral("--help")});
    QCOMPARE(r.status, 0);
    QVERIFY(r.out.contains(QLatin1String("Usage:")));
    QVERIFY(Cli({QStringLiteral("--version")}).out.startsWith(QLatin1String("tunegrove-cli ")));
}

void TestCli::unknownGenreTouchesNothing()
{
    const QString a = m_dir.filePath(QStringLiteral("d.mp3"));
    const QByteArray bytes = testmp3::Audio(2);
    QVERIFY(testmp3::WriteFile(a, bytes));
    for (const char *genre : {"Vaporwave", "126", "-1"}) {
        const Run r = Cli({QStringLiteral("set"), QStringLiteral("--title"), QStringLiteral("t"), QStringLiteral("--genre"),
                           QString::fromLatin1(genre), a});
        QCOMPARE(r.status, 2);
        QVERIFY(r.err.contains(QLatin1String("unknown genre")));
        QCOMPARE(testmp3::ReadFile(a), bytes);
    }
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
    QCOMPARE(lines.size(), 23);
    QCOMPARE(lines.first(), QStringLiteral("Cdrom=1"));
    QCOMPARE(lines.at(1), QStringLiteral("Grid=0"));
    QCOMPARE(lines.at(8), QStringLiteral("Encoding=Windows-1252"));
    QCOMPARE(lines.last(), QStringLiteral("TreePath=/media/x"));
}

QTEST_GUILESS_MAIN(TestCli)
#include "tst_cli.moc"
