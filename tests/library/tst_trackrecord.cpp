#include "settings/appsettings.h"
#include "library/extensionset.h"
#include "library/trackrecord.h"
#include "testmp3.h"

#include <QtTest>

class TestTrackRecord : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void extensionSets_data();
    void extensionSets();
    void splitting_data();
    void splitting();
    void tagCellsByFileType();
    void columnLists_data();
    void columnLists();
    void columnNames();
};

void TestTrackRecord::extensionSets_data()
{
    QTest::addColumn<QList<int>>("flags");   // avi, mid, mp3, mpg, wav, all
    QTest::addColumn<QStringList>("entries");
    QTest::newRow("defaults") << QList<int>{1, 0, 1, 0, 1, 0} << QStringList{"avi", "mp3", "wav"};
    QTest::newRow("all off gives mp3") << QList<int>{0, 0, 0, 0, 0, 0} << QStringList{"mp3"};
    QTest::newRow("mid and mpg add one each") << QList<int>{0, 1, 0, 1, 0, 0} << QStringList{"mid", "mpg"};
    QTest::newRow("all multimedia")
        << QList<int>{0, 0, 0, 0, 0, 1}
        << QStringList{"mpeg", "mpg", "mp3", "mp2", "mp1", "wav", "snd", "au", "avi", "wmv", "wma", "cda", "mid", "nmi", "midi"};
}

void TestTrackRecord::extensionSets()
{
    QFETCH(QList<int>, flags);
    QFETCH(QStringList, entries);
    AppSettings s;
    s.otherAudio = 0;   // the extension flags alone
    s.aviExt = flags[0]; s.midExt = flags[1]; s.mp3Ext = flags[2]; s.mpgExt = flags[3]; s.wavExt = flags[4]; s.allExt = flags[5];
    ExtensionSet set;
    set.Build(s);
    QCOMPARE(set.Entries(), entries);
    for (const QString &e : entries) {
        QVERIFY(set.IsAccepted(e.toUpper()));
        QVERIFY(set.IsAccepted(e));
    }
    QVERIFY(!set.IsAccepted(QStringLiteral("flac")));
    QVERIFY(!set.IsAccepted(QString()));
}

void TestTrackRecord::splitting_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<bool>("listed");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("ext");
    QTest::addColumn<QString>("folder");
    QTest::newRow("two dots") << "/m/a.b.mp3" << true << "a.b" << "mp3" << "/m/";
    QTest::newRow("upper case") << "/m/SONG.MP3" << true << "SONG" << "MP3" << "/m/";
    QTest::newRow("no dot") << "/m/README" << false << "" << "" << "";
    QTest::newRow("dot only in folder") << "/m.d/README" << false << "" << "" << "";
    QTest::newRow("hidden") << "/m/.x.wav" << true << ".x" << "wav" << "/m/";
}

void TestTrackRecord::splitting()
{
    QFETCH(QString, path);
    QFETCH(bool, listed);
    TrackRecord r;
    QCOMPARE(SplitFullPath(path, r), listed);
    if (!listed)
        return;
    QTEST(r[Column::Filename], "name");
    QTEST(r[Column::Ext], "ext");
    QTEST(r[Column::Path], "folder");
    QCOMPARE(RowFullPath(r), path);
}

void TestTrackRecord::tagCellsByFileType()
{
    QTemporaryDir dir;
    using namespace testmp3;
    const QString tagged = dir.filePath(QStringLiteral("SONG.MP3"));
    QVERIFY(WriteFile(tagged, Tag(Frame("TIT2", Latin1Body("Hey")) + Frame("TCON", Latin1Body("(0)"))) + Audio(2)));
    const QString untagged = dir.filePath(QStringLiteral("plain.mp3"));
    QVERIFY(WriteFile(untagged, Audio(2)));
    const QString wave = dir.filePath(QStringLiteral("song.wav"));
    QVERIFY(WriteFile(wave, Tag(Frame("TIT2", Latin1Body("ignored"))) + Audio(1)));

    TrackRecord r = MakeTrackRecord(tagged);
    QCOMPARE(r[Column::Title], QStringLiteral("Hey"));
    QCOMPARE(r[Column::Genre], QStringLiteral("Blues"));
    r = MakeTrackRecord(untagged);
    for (int c = int(Column::Title); c <= int(Column::Genre); ++c)
        QCOMPARE(r.cells[std::size_t(c)], QString());
    r = MakeTrackRecord(dir.path() + QLatin1Char('/'), QStringLiteral("song.wav"));
    QCOMPARE(r[Column::Path], dir.path() + QLatin1Char('/'));
    for (int c = int(Column::Title); c <= int(Column::Genre); ++c)
        QCOMPARE(r.cells[std::size_t(c)], QStringLiteral("Non"));
}

void TestTrackRecord::columnLists_data()
{
    QTest::addColumn<QString>("widths");
    QTest::addColumn<QList<int>>("expected");
    QTest::newRow("empty uses defaults") << "" << QList<int>{120, 35, 100, 100, 100, 40, 100, 25, 220, 80};
    QTest::newRow("fewer pieces give 0") << "120,35,0," << QList<int>{120, 35, 0, 0, 0, 0, 0, 0, 0, 0};
    QTest::newRow("junk reads 0") << "x,,7" << QList<int>{0, 0, 7, 0, 0, 0, 0, 0, 0, 0};
}

void TestTrackRecord::columnLists()
{
    QFETCH(QString, widths);
    QFETCH(QList<int>, expected);
    AppSettings s;
    s.columnWidths = widths;
    const auto defs = DefaultColumnDefs();
    for (int i = 0; i < kColumnCount; ++i)
        QCOMPARE(ColumnWidth(i, s, defs), expected[i]);
    QCOMPARE(ColumnListEntry(QStringLiteral("0,"), 5), 0);
    QCOMPARE(ColumnListEntry(QStringLiteral("1,").repeated(20), 9), 1);
}

void TestTrackRecord::columnNames()
{
    QCOMPARE(ColumnFromName(QStringLiteral("Track #")), int(Column::Track));
    QCOMPARE(ColumnFromName(QStringLiteral("track")), int(Column::Track));
    QCOMPARE(ColumnFromName(QStringLiteral("ARTIST")), int(Column::Artist));
    QCOMPARE(ColumnFromName(QStringLiteral("9")), int(Column::Genre));
    QCOMPARE(ColumnFromName(QStringLiteral("10")), -1);
    QCOMPARE(ColumnFromName(QStringLiteral("Bitrate")), -1);
}

QTEST_GUILESS_MAIN(TestTrackRecord)
#include "tst_trackrecord.moc"
