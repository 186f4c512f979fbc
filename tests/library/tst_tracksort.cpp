#include "library/tracksort.h"

#include <QtTest>

namespace {

TrackRecord Row(const QString &artist, const QString &album, const QString &track = QString())
{
    TrackRecord r;
    r[Column::Artist] = artist;
    r[Column::Album] = album;
    r[Column::Track] = track;
    return r;
}

QStringList ColumnOf(const std::vector<TrackRecord> &rows, Column c)
{
    QStringList out;
    for (const auto &r : rows)
        out << r[c];
    return out;
}

} // namespace

class TestTrackSort : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void eachColumnAlternatesItsOwnDirection();
    void ctrlClickAddsAndMovesKeys();
    void textOrderIgnoresCaseAndIsStable();
    void multiKeyResult();
    void namesInNaturalOrder();
};

void TestTrackSort::eachColumnAlternatesItsOwnDirection()
{
    SortKeys keys;
    const int title = int(Column::Title), artist = int(Column::Artist);
    auto first = keys.Click(title, false);
    QCOMPARE(first.size(), std::size_t(1));
    QVERIFY(first[0].ascending);
    QVERIFY(!keys.Click(title, false)[0].ascending);
    QVERIFY(keys.Click(artist, false)[0].ascending);
    QVERIFY(keys.Click(title, false)[0].ascending);   // its own bit alternates
    QCOMPARE(keys.Keys(), std::vector<int>{title});
    keys.SetColumnSortAscending(title, false);
    QVERIFY(keys.Click(title, false)[0].ascending);
    QVERIFY(keys.IsColumnSortAscending(title + 32) == keys.IsColumnSortAscending(title));   // columns modulo 32
}

void TestTrackSort::ctrlClickAddsAndMovesKeys()
{
    SortKeys keys;
    const int artist = int(Column::Artist), album = int(Column::Album);
    keys.Click(artist, false);                  // artist ascending
    auto passes = keys.Click(album, true);      // + album
    QCOMPARE(keys.Keys(), (std::vector<int>{artist, album}));
    QCOMPARE(passes.size(), std::size_t(2));
    QCOMPARE(passes[0].column, album);          // least significant first
    QVERIFY(passes[0].ascending);
    QCOMPARE(passes[1].column, artist);
    QVERIFY(passes[1].ascending);               // keeps its stored direction

    passes = keys.Click(artist, true);          // the primary key moves to the end
    QCOMPARE(keys.Keys(), (std::vector<int>{album, artist}));
    QCOMPARE(passes[0].column, artist);
    QVERIFY(!passes[0].ascending);              // its own direction flips
    QCOMPARE(passes[1].column, album);
}

void TestTrackSort::textOrderIgnoresCaseAndIsStable()
{
    std::vector<TrackRecord> rows{Row("b", "1", "10"), Row("ABC", "2", "2"), Row("", "3", "9"), Row("abc", "4", "")};
    ApplySortPasses(rows, {{int(Column::Artist), true}});
    QCOMPARE(ColumnOf(rows, Column::Album), (QStringList{"3", "2", "4", "1"}));   // empty first; abc = ABC keep order
    ApplySortPasses(rows, {{int(Column::Artist), false}});
    QCOMPARE(ColumnOf(rows, Column::Album), (QStringList{"1", "2", "4", "3"}));
    ApplySortPasses(rows, {{int(Column::Track), true}});
    QCOMPARE(ColumnOf(rows, Column::Track), (QStringList{"", "2", "9", "10"}));   // digit runs by value
    std::vector<TrackRecord> tracks{Row("", "1", "10/12"), Row("", "2", "2/12"), Row("", "3", "1/12"), Row("", "4", "11/12"),
                                    Row("", "5", "Track 2"), Row("", "6", "track 10")};
    ApplySortPasses(tracks, {{int(Column::Track), true}});
    QCOMPARE(ColumnOf(tracks, Column::Track), (QStringList{"1/12", "2/12", "10/12", "11/12", "Track 2", "track 10"}));

    // Letters with accents sort with their base letters and fold their case too, whatever the locale (under
    // C/POSIX too, where byte order would put them after Z).
    std::vector<TrackRecord> accents{Row("émile", "1"), Row("Émile", "2"), Row("Zoe", "3"), Row("ÄRGER", "4"),
                                     Row("ärger", "5"), Row("Été indien", "6"), Row("Eagle", "7")};
    ApplySortPasses(accents, {{int(Column::Artist), true}});
    QCOMPARE(ColumnOf(accents, Column::Album), (QStringList{"4", "5", "7", "1", "2", "6", "3"}));
}

void TestTrackSort::multiKeyResult()
{
    std::vector<TrackRecord> rows{Row("B", "y"), Row("a", "z"), Row("b", "x"), Row("A", "x")};
    SortKeys keys;
    ApplySortPasses(rows, keys.Click(int(Column::Artist), false));
    ApplySortPasses(rows, keys.Click(int(Column::Album), true));
    QCOMPARE(ColumnOf(rows, Column::Artist), (QStringList{"A", "a", "b", "B"}));
    QCOMPARE(ColumnOf(rows, Column::Album), (QStringList{"x", "z", "x", "y"}));
    const std::vector<int> order = SortedOrder(rows, {{int(Column::Album), false}});
    QCOMPARE(order, (std::vector<int>{1, 3, 0, 2}));
}

void TestTrackSort::namesInNaturalOrder()
{
    // Shuffled, then sorted: the order a file manager shows.
    QStringList names{"track10.mp3", "Track2.mp3", "track1.mp3", "01 - b.mp3", "1 - a.mp3", "10 - c.mp3", "2 - d.mp3",
                      "b", "B", "a", "", "Ärger", "track01.mp3", "x9y10", "x9y9", "x09y10"};
    std::reverse(names.begin(), names.end());
    std::stable_sort(names.begin(), names.end(), [](const QString &a, const QString &b) { return NaturalNameLess(a, b); });
    QCOMPARE(names, (QStringList{"", "1 - a.mp3", "01 - b.mp3", "2 - d.mp3", "10 - c.mp3", "a", "B", "b", "track1.mp3",
                                 "track01.mp3", "Track2.mp3", "track10.mp3", "x9y9", "x9y10", "x09y10", "Ärger"}));
    // A strict order: never both ways, and a name is not before itself.
    for (const QString &a : names) {
        QVERIFY(!NaturalNameLess(a, a));
        for (const QString &b : names)
            QVERIFY(!(NaturalNameLess(a, b) && NaturalNameLess(b, a)));
    }
}

QTEST_GUILESS_MAIN(TestTrackSort)
#include "tst_tracksort.moc"
