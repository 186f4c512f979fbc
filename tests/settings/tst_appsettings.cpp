#include "settings/appsettings.h"
#include "settings/documentsfolder.h"
#include "settings/startup.h"

#include <QtTest>

class TestAppSettings : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void firstRunDefaults();
    void smallWindowResetsWholeRectangle();
    void flagsAreNormalisedButTrayIsKept();
    void mistypedValuesYieldDefaults();
    void emptyEncodingAndColumnLists();
    void roundTripInANewStore();
    void treePathUsesDocumentsName();
    void unreadableFileIsSetAside();

private:
    QString IniPath(const char *name) { return m_dir.filePath(QString::fromLatin1(name)); }
    static void WriteIni(const QString &path, const QByteArray &content)
    {
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(content);
    }
    QTemporaryDir m_dir;
};

void TestAppSettings::firstRunDefaults()
{
    QSettings store(IniPath("empty.ini"), QSettings::IniFormat);
    AppSettings s;
    s.Load(store);
    QCOMPARE(s.cdrom, 1);
    QCOMPARE(s.grid, 1);
    QCOMPARE(s.removable, 0);
    QCOMPARE(s.useDefaultPlayer, 1);
    QCOMPARE(s.dblClickEdit, 1);
    QCOMPARE(s.sysTrayIco, 1);
    QCOMPARE(s.leftViewWidth, 0);
    QCOMPARE(QList<int>({s.x, s.y, s.cx, s.cy, s.maxWindow}), QList<int>({25, 60, 600, 440, 0}));
    QCOMPARE(QList<int>({s.aviExt, s.mp3Ext, s.wavExt, s.midExt, s.mpgExt, s.allExt}), QList<int>({1, 1, 1, 0, 0, 0}));
    QCOMPARE(s.pathToPlayer, QString());
    QCOMPARE(s.treePath, QString());
    QCOMPARE(s.columnWidths, QString());
    QCOMPARE(s.columnVisible, QStringLiteral("1,").repeated(20));
    QCOMPARE(s.encoding, QStringLiteral("Windows-1252"));
}

void TestAppSettings::smallWindowResetsWholeRectangle()
{
    WriteIni(IniPath("small.ini"), "[Settings]\nx=300\ny=200\ncx=600\ncy=29\n");
    QSettings store(IniPath("small.ini"), QSettings::IniFormat);
    AppSettings s;
    s.Load(store);
    QCOMPARE(QList<int>({s.x, s.y, s.cx, s.cy}), QList<int>({25, 60, 600, 440}));

    WriteIni(IniPath("fine.ini"), "[Settings]\nx=-8\ny=200\ncx=800\ncy=30\n");
    QSettings fine(IniPath("fine.ini"), QSettings::IniFormat);
    s.Load(fine);
    QCOMPARE(QList<int>({s.x, s.y, s.cx, s.cy}), QList<int>({-8, 200, 800, 30}));
}

void TestAppSettings::flagsAreNormalisedButTrayIsKept()
{
    WriteIni(IniPath("flags.ini"), "[Settings]\nGrid=5\nbSysTrayIco=5\nCdrom=0\nbMidExt=-2\nRemovable=7\n");
    QSettings store(IniPath("flags.ini"), QSettings::IniFormat);
    AppSettings s;
    s.Load(store);
    QCOMPARE(s.grid, 1);
    QCOMPARE(s.sysTrayIco, 5);
    QCOMPARE(s.cdrom, 0);
    QCOMPARE(s.midExt, 1);
    QCOMPARE(s.removable, 1);
    s.Save(store);
    store.sync();
    QSettings again(IniPath("flags.ini"), QSettings::IniFormat);
    QCOMPARE(again.value(QStringLiteral("Settings/Grid")).toString(), QStringLiteral("1"));
    QCOMPARE(again.value(QStringLiteral("Settings/bSysTrayIco")).toString(), QStringLiteral("5"));
}

void TestAppSettings::mistypedValuesYieldDefaults()
{
    WriteIni(IniPath("typo.ini"), "[Settings]\nGrid=yes\ncx=wide\ncy=500\nLeftViewWidth=2x\nbAviExt=\n");
    QSettings store(IniPath("typo.ini"), QSettings::IniFormat);
    AppSettings s;
    s.Load(store);
    QCOMPARE(s.grid, 1);
    QCOMPARE(s.cx, 600);   // cx fell back to 0, which resets the rectangle
    QCOMPARE(s.leftViewWidth, 0);
    QCOMPARE(s.aviExt, 1);
}

void TestAppSettings::emptyEncodingAndColumnLists()
{
    // An unquoted list typed by hand comes back from the INI reader as a list; it reads as the same text.
    WriteIni(IniPath("lists.ini"), "[Settings]\nEncoding=\nColumnVisible=0,\nColumnWidths=120,35,0,\n");
    QSettings store(IniPath("lists.ini"), QSettings::IniFormat);
    AppSettings s;
    s.Load(store);
    QCOMPARE(s.encoding, QStringLiteral("Windows-1252"));
    QCOMPARE(s.columnVisible, QStringLiteral("0,"));
    QCOMPARE(s.columnWidths, QStringLiteral("120,35,0,"));
    s.Save(store);
    store.sync();
    QSettings again(IniPath("lists.ini"), QSettings::IniFormat);
    QCOMPARE(again.value(QStringLiteral("Settings/Encoding")).toString(), QStringLiteral("Windows-1252"));
}

void TestAppSettings::roundTripInANewStore()
{
    AppSettings s;
    {
        QSettings store(IniPath("trip.ini"), QSettings::IniFormat);
        s.Load(store);
        s.x = 10; s.y = 20; s.cx = 700; s.cy = 500; s.maxWindow = 1; s.leftViewWidth = 250;
        s.removable = 1; s.allExt = 1; s.sysTrayIco = 0; s.pathToPlayer = QStringLiteral("/usr/bin/vlc");
        s.treePath = QStringLiteral("/media/ann/Música, \"rock\"");
        s.columnWidths = QStringLiteral("1,2,3,");
        s.encoding = QStringLiteral("UTF-8");
        s.Save(store);
    }
    QSettings store(IniPath("trip.ini"), QSettings::IniFormat);
    AppSettings loaded;
    loaded.Load(store);
    QCOMPARE(loaded.Values(), s.Values());
}

void TestAppSettings::treePathUsesDocumentsName()
{
    DocumentsFolder::SetCurrent(DocumentsFolder(QStringLiteral("/home/ann/Documents")));
    AppSettings s;
    s.SetTreePath(QStringLiteral("/home/ann/Documents/Music/"));
    QCOMPARE(s.TreePath(), QStringLiteral("Documents/Music/"));
    s.SetTreePath(QStringLiteral("/home/ann/Documents"));
    QCOMPARE(s.TreePath(), QStringLiteral("Documents"));
    s.SetTreePath(QStringLiteral("/home/ann/Documents2/x"));
    QCOMPARE(s.TreePath(), QStringLiteral("/home/ann/Documents2/x"));
    QCOMPARE(DocumentsFolder::Current().ToFileSystem(QStringLiteral("Documents/Music")),
             QStringLiteral("/home/ann/Documents/Music"));
    QCOMPARE(DocumentsFolder::Current().ToFileSystem(QStringLiteral("/Documents/x")), QStringLiteral("/Documents/x"));
}

void TestAppSettings::unreadableFileIsSetAside()
{
    // A section header cut short: the store reads what it can and reports a format error.
    const QByteArray damaged = "[Settings]\nGrid=1\n[Settings\nRemovable=1\n[General]\nTotalCount=1\nItem0=$A\n";
    const QString path = IniPath("bad.ini");
    WriteIni(path, damaged);
    {
        QSettings store(path, QSettings::IniFormat);
        QCOMPARE(store.status(), QSettings::FormatError);
        QCOMPARE(SetAsideUnreadableSettings(store), path + QStringLiteral(".bad"));
        AppSettings s;
        s.Load(store);
        s.Save(store);   // what a normal exit does
    }
    QFile kept(path + QStringLiteral(".bad"));
    QVERIFY(kept.open(QIODevice::ReadOnly));
    QCOMPARE(kept.readAll(), damaged);   // the user's file, byte for byte
    QSettings again(path, QSettings::IniFormat);
    QCOMPARE(again.status(), QSettings::NoError);
    QCOMPARE(SetAsideUnreadableSettings(again), QString());
    // A good file is never set aside.
    QVERIFY(!QFile::exists(IniPath("trip.ini.bad")));
}

QTEST_GUILESS_MAIN(TestAppSettings)
#include "tst_appsettings.moc"
