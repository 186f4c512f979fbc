// Play: the playlist of the selected rows, then the configured player, the desktop's player for playlists, or
// the message that there is none. The desktop's associations come from XDG folders made for the test.

#include "dialogs/reportcommands.h"
#include "library/scanstate.h"
#include "library/tracklistmodel.h"
#include "platform/associations.h"
#include "platform/desktop.h"
#include "res/resources.h"
#include "settings/appsettings.h"
#include "tracklist/rightview.h"
#include "fakeprompter.h"
#include "defaultsettings.h"
#include "testdesktop.h"
#include "testmp3.h"

#include <QtTest>

#include <QMimeDatabase>

#include <sys/stat.h>


class TestPlay : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void init() { m_prompter.texts.clear(); }
    void configuredPlayerGetsThePlaylist();
    void desktopAssociationIsStoredAndUsed();
    void tunegroveIsNeverItsOwnPlayer();
    void noPlayerAnywhere();
    void execLinesSplitByTheDesktopRules_data();
    void execLinesSplitByTheDesktopRules();
    void wholeCommandLineRunsAndFailuresAreTold();
    void theUsersChoiceBeatsAnotherTypesClaim();
    void chosenPlayerWithArgumentsRunsOrSaysWhy();
    void noBrowserIsSaid();

private:
    QString WritePlayer(const QString &name);
    QTemporaryDir m_dir;
    FakePrompter m_prompter;
    AppSettings m_settings;
    ScanState m_state;
    std::unique_ptr<CRightView> m_view;
};

void TestPlay::initTestCase()
{
    InitGuiResources();
    Prompter::SetCurrent(&m_prompter);
    for (const char *sub : {"runtime", "data/applications", "config", "music"})
        QDir(m_dir.path()).mkpath(QString::fromLatin1(sub));
    ::chmod(QFile::encodeName(m_dir.filePath(QStringLiteral("runtime"))).constData(), 0700);
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(m_dir.filePath(QStringLiteral("runtime"))));
    qputenv("XDG_DATA_HOME", QFile::encodeName(m_dir.filePath(QStringLiteral("data"))));
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_dir.filePath(QStringLiteral("config"))));
    testdesktop::UseOwnDesktop(m_dir.filePath(QStringLiteral("desktop")));
    for (const char *name : {"c.mp3", "a.mp3", "b.mp3"})
        QVERIFY(testmp3::WriteFile(m_dir.filePath(QStringLiteral("music/") + QString::fromLatin1(name)), testmp3::Audio(1)));
    m_settings = DefaultSettings();
    m_view = std::make_unique<CRightView>(m_settings, m_state);
    for (const char *name : {"c.mp3", "a.mp3", "b.mp3"})
        QVERIFY(m_view->AddFile(m_dir.filePath(QStringLiteral("music/") + QString::fromLatin1(name))));
}

// A player that notes its argument and the playlist it was given.
QString TestPlay::WritePlayer(const QString &name)
{
    const QString path = m_dir.filePath(name);
    const QString log = m_dir.filePath(name + QStringLiteral(".log"));
    testmp3::WriteFile(path, QStringLiteral("#!/bin/sh\ncat \"$1\" > \"%1.tmp\"; echo \"$1\" >> \"%1.tmp\"; mv \"%1.tmp\" \"%1\"\n")
                                 .arg(log).toUtf8());
    ::chmod(QFile::encodeName(path).constData(), 0755);
    return log;
}

void TestPlay::configuredPlayerGetsThePlaylist()
{
    const QString log = WritePlayer(QStringLiteral("my player.sh"));   // a blank in its path
    m_settings.useDefaultPlayer = 0;
    m_settings.pathToPlayer = m_dir.filePath(QStringLiteral("my player.sh"));
    m_view->selectRow(2);
    m_view->selectionModel()->select(m_view->Model()->index(0, 0), QItemSelectionModel::Select | QItemSelectionModel::Rows);
    reportcommands::Play(*m_view, m_settings, nullptr);
    QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(log), 10000);
    const QString playlist = platform::PlaylistPath();
    QCOMPARE(playlist, m_dir.filePath(QStringLiteral("runtime/temp.m3u")));
    const QString music = m_dir.filePath(QStringLiteral("music/"));
    QCOMPARE(QString::fromUtf8(testmp3::ReadFile(log)),
             QStringLiteral("#EXTM3U\r\n%1c.mp3\r\n%1b.mp3\r\n%2\n").arg(music, playlist));   // list order
    QVERIFY(m_prompter.texts.isEmpty());
}

void TestPlay::desktopAssociationIsStoredAndUsed()
{
    if (QStandardPaths::findExecutable(QStringLiteral("xdg-mime")).isEmpty())
        QSKIP("xdg-mime (xdg-utils) is not installed");
    const QString log = WritePlayer(QStringLiteral("desktop-player.sh"));
    testmp3::WriteFile(m_dir.filePath(QStringLiteral("data/applications/fakeplayer.desktop")),
                       QStringLiteral("[Desktop Entry]\nType=Application\nName=Fake\nExec=env A=1 \"%1\" %U\n")
                           .arg(m_dir.filePath(QStringLiteral("desktop-player.sh")))
                           .toUtf8());
    testmp3::WriteFile(m_dir.filePath(QStringLiteral("config/mimeapps.list")),
                       "[Default Applications]\naudio/x-mpegurl=fakeplayer.desktop\n");
    m_settings.useDefaultPlayer = 1;
    m_settings.pathToPlayer = QStringLiteral("/usr/bin/old-player");
    m_view->selectRow(1);
    reportcommands::Play(*m_view, m_settings, nullptr);
    QCOMPARE(m_settings.pathToPlayer, m_dir.filePath(QStringLiteral("desktop-player.sh")));
    QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(log), 10000);
    QVERIFY(testmp3::ReadFile(log).contains("a.mp3"));
    QFile::remove(m_dir.filePath(QStringLiteral("config/mimeapps.list")));
}

void TestPlay::tunegroveIsNeverItsOwnPlayer()
{
    // With Tunegrove the desktop's choice for MP3 files, the player is looked for elsewhere, never found in it.
    if (QStandardPaths::findExecutable(QStringLiteral("xdg-mime")).isEmpty())
        QSKIP("xdg-mime (xdg-utils) is not installed");
    const QString entry = m_dir.filePath(QStringLiteral("data/applications/org.kestrine.Tunegrove.desktop"));
    testmp3::WriteFile(entry, "[Desktop Entry]\nType=Application\nName=Tunegrove\nExec=tunegrove %F\n"
                              "MimeType=inode/directory;audio/mpeg;audio/x-mpegurl;\n");
    testmp3::WriteFile(m_dir.filePath(QStringLiteral("data/applications/self.desktop")),
                       QStringLiteral("[Desktop Entry]\nType=Application\nName=Self\nExec=\"%1\" %F\n")
                           .arg(QCoreApplication::applicationFilePath()).toUtf8());
    testmp3::WriteFile(m_dir.filePath(QStringLiteral("config/mimeapps.list")),
                       "[Default Applications]\naudio/mpeg=org.kestrine.Tunegrove.desktop\n"
                       "audio/x-mpegurl=self.desktop\n");
    QCOMPARE(platform::ProgramForFile(QStringLiteral("mp3.mp3")), QString());
    QCOMPARE(platform::ExecLineForFile(QStringLiteral("temp.m3u")), QString());
    QFile::remove(m_dir.filePath(QStringLiteral("config/mimeapps.list")));
    QFile::remove(entry);
    QFile::remove(m_dir.filePath(QStringLiteral("data/applications/self.desktop")));
}

void TestPlay::noPlayerAnywhere()
{
    if (!platform::ProgramForFile(QStringLiteral("temp.m3u")).isEmpty())
        QSKIP("this machine's desktop has a player for playlists");
    m_settings.useDefaultPlayer = 1;
    m_view->selectRow(0);
    reportcommands::Play(*m_view, m_settings, nullptr);
    QCOMPARE(m_settings.pathToPlayer, QString());
    QCOMPARE(m_prompter.texts, QStringList{QStringLiteral("Failed to found Default Player.")});
}

void TestPlay::execLinesSplitByTheDesktopRules_data()
{
    QTest::addColumn<QString>("exec");
    QTest::addColumn<QStringList>("command");
    const QString f = QStringLiteral("/run/u/temp.m3u");
    QTest::newRow("env prefix") << "env A=1 player %U" << QStringList{"env", "A=1", "player", f};
    QTest::newRow("flatpak") << "/usr/bin/flatpak run --branch=stable org.x.Player --file-forwarding org.x.Player @@u %U @@"
                             << QStringList{"/usr/bin/flatpak", "run", "--branch=stable", "org.x.Player", "--file-forwarding",
                                            "org.x.Player", "@@u", f, "@@"};
    QTest::newRow("enqueue") << "player --enqueue %F" << QStringList{"player", "--enqueue", f};
    QTest::newRow("quotes") << R"("/opt/My Player/run" --title "say \"hi\" \\ \$HOME" %f)"
                            << QStringList{"/opt/My Player/run", "--title", R"(say "hi" \ $HOME)", f};
    QTest::newRow("other codes dropped") << "player %i %c %k --x=%% %u" << QStringList{"player", "--x=%", f};
    QTest::newRow("no file code") << "player --play" << QStringList{"player", "--play", f};
    QTest::newRow("code inside a word") << "player --file=%f" << QStringList{"player", "--file=" + f};
}

void TestPlay::execLinesSplitByTheDesktopRules()
{
    QFETCH(QString, exec);
    QFETCH(QStringList, command);
    QCOMPARE(platform::ExecArguments(exec, QStringLiteral("/run/u/temp.m3u")), command);
}

void TestPlay::wholeCommandLineRunsAndFailuresAreTold()
{
    if (QStandardPaths::findExecutable(QStringLiteral("xdg-mime")).isEmpty())
        QSKIP("xdg-mime (xdg-utils) is not installed");
    // A player that notes every argument and the variable its desktop entry sets.
    const QString player = m_dir.filePath(QStringLiteral("args player.sh"));
    const QString log = m_dir.filePath(QStringLiteral("args.log"));
    testmp3::WriteFile(player, QStringLiteral("#!/bin/sh\n{ echo \"$PLAYER_MODE\"; for a in \"$@\"; do echo \"[$a]\"; done; } > \"%1.tmp\"; "
                                              "mv \"%1.tmp\" \"%1\"\n").arg(log).toUtf8());
    ::chmod(QFile::encodeName(player).constData(), 0755);
    const QString entry = m_dir.filePath(QStringLiteral("data/applications/argsplayer.desktop"));
    testmp3::WriteFile(entry, QStringLiteral("[Desktop Entry]\nType=Application\nName=Args\nExec=env PLAYER_MODE=queue \"%1\" --enqueue %F\n")
                                  .arg(player).toUtf8());
    testmp3::WriteFile(m_dir.filePath(QStringLiteral("config/mimeapps.list")),
                       "[Default Applications]\naudio/x-mpegurl=argsplayer.desktop\n");
    m_settings.useDefaultPlayer = 1;
    m_view->selectRow(0);
    reportcommands::Play(*m_view, m_settings, nullptr);
    QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(log), 10000);
    QCOMPARE(QString::fromUtf8(testmp3::ReadFile(log)),
             QStringLiteral("queue\n[--enqueue]\n[%1]\n").arg(platform::PlaylistPath()));
    QCOMPARE(m_settings.pathToPlayer, player);
    QVERIFY(m_prompter.texts.isEmpty());

    // A desktop entry whose program cannot be started (its interpreter is gone): the user is told.
    const QString broken = m_dir.filePath(QStringLiteral("broken-player"));
    testmp3::WriteFile(broken, "#!/nonexistent/interpreter\n");
    ::chmod(QFile::encodeName(broken).constData(), 0755);
    testmp3::WriteFile(entry, QStringLiteral("[Desktop Entry]\nType=Application\nName=Args\nExec=%1 %U\n").arg(broken).toUtf8());
    reportcommands::Play(*m_view, m_settings, nullptr);
    QCOMPARE(m_prompter.texts.size(), 1);
    QVERIFY2(m_prompter.texts[0].contains(QLatin1String("could not be started")), qPrintable(m_prompter.texts[0]));
    QFile::remove(m_dir.filePath(QStringLiteral("config/mimeapps.list")));
    QFile::remove(entry);
}

void TestPlay::theUsersChoiceBeatsAnotherTypesClaim()
{
    // "temp.m3u" has two types by name. A player installed for every playlist type (as mpv is) must not win over
    // the player the user chose for one of them, whichever type the MIME database names first.
    if (QStandardPaths::findExecutable(QStringLiteral("xdg-mime")).isEmpty())
        QSKIP("xdg-mime (xdg-utils) is not installed");
    const QList<QMimeType> types = QMimeDatabase().mimeTypesForFileName(QStringLiteral("temp.m3u"));
    QVERIFY(types.size() >= 2);
    const QString system = m_dir.filePath(QStringLiteral("desktop/applications/"));
    const QString claimer = WritePlayer(QStringLiteral("claimer.sh"));
    const QString chosen = WritePlayer(QStringLiteral("chosen.sh"));
    testmp3::WriteFile(system + QStringLiteral("claimer.desktop"),
                       QStringLiteral("[Desktop Entry]\nType=Application\nName=Claimer\nExec=%1 %U\n")
                           .arg(m_dir.filePath(QStringLiteral("claimer.sh"))).toUtf8());
    QString cache = QStringLiteral("[MIME Cache]\n");
    for (const QMimeType &type : types)
        cache += type.name() + QStringLiteral("=claimer.desktop;\n");
    testmp3::WriteFile(system + QStringLiteral("mimeinfo.cache"), cache.toUtf8());
    testmp3::WriteFile(m_dir.filePath(QStringLiteral("data/applications/chosen.desktop")),
                       QStringLiteral("[Desktop Entry]\nType=Application\nName=Chosen\nExec=%1 %U\n")
                           .arg(m_dir.filePath(QStringLiteral("chosen.sh"))).toUtf8());
    testmp3::WriteFile(m_dir.filePath(QStringLiteral("config/mimeapps.list")),
                       QStringLiteral("[Default Applications]\n%1=chosen.desktop\n").arg(types.last().name()).toUtf8());
    m_settings.useDefaultPlayer = 1;
    m_view->selectRow(0);
    reportcommands::Play(*m_view, m_settings, nullptr);
    QCOMPARE(m_settings.pathToPlayer, m_dir.filePath(QStringLiteral("chosen.sh")));
    QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(chosen), 10000);
    QVERIFY(!QFile::exists(claimer));
    // Without the user's choice the installed claim is taken.
    QFile::remove(m_dir.filePath(QStringLiteral("config/mimeapps.list")));
    QVERIFY(platform::ExecLineForFile(platform::PlaylistPath()).contains(QLatin1String("claimer.sh")));
    QFile::remove(system + QStringLiteral("mimeinfo.cache"));
    QFile::remove(system + QStringLiteral("claimer.desktop"));
    QVERIFY(m_prompter.texts.isEmpty());
}

void TestPlay::chosenPlayerWithArgumentsRunsOrSaysWhy()
{
    // A player typed with its arguments: the playlist goes at the end, or where a field code stands.
    const QString player = m_dir.filePath(QStringLiteral("queue-player.sh"));
    const QString log = m_dir.filePath(QStringLiteral("queue.log"));
    testmp3::WriteFile(player, QStringLiteral("#!/bin/sh\n{ for a in \"$@\"; do echo \"[$a]\"; done; } > \"%1.tmp\"; "
                                              "mv \"%1.tmp\" \"%1\"\n").arg(log).toUtf8());
    ::chmod(QFile::encodeName(player).constData(), 0755);
    m_settings.useDefaultPlayer = 0;
    m_settings.pathToPlayer = player + QStringLiteral(" --enqueue");
    m_view->selectRow(0);
    reportcommands::Play(*m_view, m_settings, nullptr);
    QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(log), 10000);
    QCOMPARE(QString::fromUtf8(testmp3::ReadFile(log)), QStringLiteral("[--enqueue]\n[%1]\n").arg(platform::PlaylistPath()));
    QVERIFY(m_prompter.texts.isEmpty());
    // One that is missing, and one that may not run: the user is told which, and why; nothing else starts.
    const QString notExecutable = m_dir.filePath(QStringLiteral("plain-file"));
    testmp3::WriteFile(notExecutable, "#!/bin/sh\n");
    const std::pair<QString, const char *> cases[] = {{QStringLiteral("/nonexistent/player --enqueue"), "no such program"},
                                                      {QStringLiteral("no-such-player-anywhere %F"), "no such program"},
                                                      {notExecutable + QStringLiteral(" -x"), "not a program this user may run"}};
    for (const auto &[path, why] : cases) {
        m_prompter.texts.clear();
        m_settings.pathToPlayer = path;
        reportcommands::Play(*m_view, m_settings, nullptr);
        QCOMPARE(m_prompter.texts.size(), 1);
        QVERIFY2(m_prompter.texts[0].contains(path) && m_prompter.texts[0].contains(QLatin1String(why)),
                 qPrintable(m_prompter.texts[0]));
    }
    m_prompter.texts.clear();
}

void TestPlay::noBrowserIsSaid()
{
    if (!platform::CanAskDesktop())
        QSKIP("xdg-mime (xdg-utils) is not installed");
    // The test's desktop has no browser: the reason names what is missing.
    const QString page = m_dir.filePath(QStringLiteral("page.html"));
    testmp3::WriteFile(page, "<html></html>");
    QVERIFY(platform::WhyDesktopCannotOpen(QUrl::fromLocalFile(page)).contains(QLatin1String("no program is set to open")));
    QVERIFY(platform::WhyDesktopCannotOpen(QUrl(QStringLiteral("https://example.org/"))).contains(QLatin1String("no web browser")));
    QVERIFY(platform::WhyDesktopCannotOpen(QUrl::fromLocalFile(m_dir.filePath(QStringLiteral("gone.html")))).contains(QLatin1String("no such file")));
    // With one chosen, nothing is said.
    WritePlayer(QStringLiteral("browser.sh"));
    testmp3::WriteFile(m_dir.filePath(QStringLiteral("data/applications/browser.desktop")),
                       QStringLiteral("[Desktop Entry]\nType=Application\nName=Browser\nExec=%1 %u\n")
                           .arg(m_dir.filePath(QStringLiteral("browser.sh"))).toUtf8());
    testmp3::WriteFile(m_dir.filePath(QStringLiteral("config/mimeapps.list")),
                       "[Default Applications]\ntext/html=browser.desktop\nx-scheme-handler/https=browser.desktop\n");
    QCOMPARE(platform::WhyDesktopCannotOpen(QUrl::fromLocalFile(page)), QString());
    QCOMPARE(platform::WhyDesktopCannotOpen(QUrl(QStringLiteral("https://example.org/"))), QString());
    QFile::remove(m_dir.filePath(QStringLiteral("config/mimeapps.list")));
}

QTEST_MAIN(TestPlay)
#include "tst_play.moc"
