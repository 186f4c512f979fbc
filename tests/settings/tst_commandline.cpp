// The window program's command line: parsed before any display exists, and the real program answering --help,
// --version and a wrong option on a console without a display.

#include "settings/commandline.h"
#include "testmp3.h"

#include <QtTest>

class TestCommandLine : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void answersAtOnce_data();
    void answersAtOnce();
    void foldersAndFiles();
    void missingPathsAndUrls();
    void qtOptionsPassThrough();
    void programAnswersWithoutADisplay_data();
    void programAnswersWithoutADisplay();

private:
    QString P(const char *name) const { return QDir::cleanPath(m_dir.filePath(QString::fromUtf8(name))); }
    QTemporaryDir m_dir;
};

void TestCommandLine::initTestCase()
{
    QVERIFY(QDir(m_dir.path()).mkpath(QStringLiteral("Jazz/Live")));
    QVERIFY(QDir(m_dir.path()).mkpath(QStringLiteral("Rock")));
    for (const char *name : {"Jazz/a.mp3", "Jazz/b.mp3", "Rock/c.mp3", "Jazz/StartUp.mp3"})
        QVERIFY(testmp3::WriteFile(P(name), testmp3::Audio(1)));
}

void TestCommandLine::answersAtOnce_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("action");
    QTest::addColumn<QString>("error");
    using A = GuiCommandLine::Action;
    QTest::newRow("nothing") << QStringList{} << int(A::Run) << QString();
    QTest::newRow("help") << QStringList{"--help"} << int(A::Help) << QString();
    QTest::newRow("-h after a folder") << QStringList{"/", "-h"} << int(A::Help) << QString();
    QTest::newRow("version") << QStringList{"--version"} << int(A::Version) << QString();
    QTest::newRow("unknown") << QStringList{"--frobnicate"} << int(A::Error) << "unknown option --frobnicate";
    QTest::newRow("unknown short") << QStringList{"-x"} << int(A::Error) << "unknown option -x";
    QTest::newRow("a Qt option without its value") << QStringList{"-style"} << int(A::Error) << "option -style needs a value";
    QTest::newRow("the tray word") << QStringList{"StartUp"} << int(A::Run) << QString();
}

void TestCommandLine::answersAtOnce()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, action);
    QFETCH(QString, error);
    const GuiCommandLine line = ParseGuiCommandLine(arguments);
    QCOMPARE(int(line.action), action);
    QCOMPARE(line.error, error);
    QVERIFY(GuiUsage().contains(QStringLiteral("--version")));
}

void TestCommandLine::foldersAndFiles()
{
    // A folder, relative or absolute, is listed; files list their folder and are selected, in the order given.
    const QString before = QDir::currentPath();
    QDir::setCurrent(m_dir.path());
    GuiCommandLine line = ParseGuiCommandLine({QStringLiteral("Jazz/")});
    QDir::setCurrent(before);
    QCOMPARE(line.folder, P("Jazz"));
    QVERIFY(line.files.isEmpty());

    line = ParseGuiCommandLine({P("Jazz/b.mp3"), P("Jazz/a.mp3")});
    QCOMPARE(line.folder, P("Jazz"));
    QCOMPARE(line.files, (QStringList{P("Jazz/b.mp3"), P("Jazz/a.mp3")}));

    // The first folder wins; files elsewhere are still to be selected. "StartUp" alone is the tray word, but a
    // file of that name given by its path is a file.
    line = ParseGuiCommandLine({P("Rock/c.mp3"), P("Jazz"), P("Rock"), QStringLiteral("StartUp"), P("Jazz/StartUp.mp3")});
    QCOMPARE(line.folder, P("Jazz"));
    QCOMPARE(line.files, (QStringList{P("Rock/c.mp3"), P("Jazz/StartUp.mp3")}));
    QVERIFY(line.missing.isEmpty());
    QCOMPARE(line.words, QStringList{QStringLiteral("StartUp")});   // what the start mode reads: no path
    QVERIFY(ParseGuiCommandLine({P("Jazz/StartUp.mp3")}).words.isEmpty());

    // "--" ends the options: a file named like one is a file.
    QVERIFY(testmp3::WriteFile(P("Rock/--help"), QByteArray("x")));
    line = ParseGuiCommandLine({QStringLiteral("--"), P("Rock/--help")});
    QCOMPARE(int(line.action), int(GuiCommandLine::Action::Run));
    QCOMPARE(line.files, QStringList{P("Rock/--help")});
}

void TestCommandLine::missingPathsAndUrls()
{
    const GuiCommandLine line =
        ParseGuiCommandLine({P("nothing-here"), QUrl::fromLocalFile(P("Jazz/Live")).toString(), P("Jazz/gone.mp3")});
    QCOMPARE(int(line.action), int(GuiCommandLine::Action::Run));
    QCOMPARE(line.missing, (QStringList{P("nothing-here"), P("Jazz/gone.mp3")}));
    QCOMPARE(line.folder, P("Jazz/Live"));   // a file:// address from a file manager
}

void TestCommandLine::qtOptionsPassThrough()
{
    const GuiCommandLine line = ParseGuiCommandLine(
        {QStringLiteral("-style"), QStringLiteral("Fusion"), QStringLiteral("--platform=offscreen"),
         QStringLiteral("-reverse"), P("Rock")});
    QCOMPARE(int(line.action), int(GuiCommandLine::Action::Run));
    QCOMPARE(line.folder, P("Rock"));
    QVERIFY(line.missing.isEmpty());   // "Fusion" was the style's value, not a path
}

void TestCommandLine::programAnswersWithoutADisplay_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("out");
    QTest::addColumn<QString>("err");
    QTest::newRow("help") << QStringList{"--help"} << 0 << "Usage: tunegrove" << "";
    QTest::newRow("version") << QStringList{"--version"} << 0 << "tunegrove " TUNEGROVE_VERSION "\n" << "";
    QTest::newRow("unknown") << QStringList{"--frob"} << 2 << "" << "tunegrove: unknown option --frob\nUsage: tunegrove";
    // A window without a display: said in a word, never Qt's abort.
    QTest::newRow("a folder, no display") << QStringList{QDir::tempPath()} << 2 << ""
                                          << "tunegrove: no display to show the window on";
    QTest::newRow("nothing, no display") << QStringList{} << 2 << "" << "tunegrove: no display to show the window on";
}

void TestCommandLine::programAnswersWithoutADisplay()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, status);
    QFETCH(QString, out);
    QFETCH(QString, err);
    // No display of any kind: a program that made its application first would fail to start here.
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char *name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
        env.remove(QString::fromLatin1(name));
    QProcess p;
    p.setProcessEnvironment(env);
    p.start(QStringLiteral(GUI_PATH), arguments);
    QVERIFY(p.waitForFinished(20000));
    QCOMPARE(p.exitStatus(), QProcess::NormalExit);
    QCOMPARE(p.exitCode(), status);
    const QString stdoutText = QString::fromLocal8Bit(p.readAllStandardOutput());
    const QString stderrText = QString::fromLocal8Bit(p.readAllStandardError());
    QVERIFY2(out.isEmpty() ? stdoutText.isEmpty() : stdoutText.startsWith(out), qPrintable(stdoutText));
    QVERIFY2(err.isEmpty() ? stderrText.isEmpty() : stderrText.startsWith(err), qPrintable(stderrText));
}

QTEST_GUILESS_MAIN(TestCommandLine)
#include "tst_commandline.moc"
