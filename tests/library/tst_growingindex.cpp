// The list's key set and place index, grown far past their first part: every key and place is found, removals
// and renames of keys in old parts take, and a shared copy never sees what is added after it was taken.

#include "library/growingindex.h"

#include <QtTest>

#include <set>

class TestGrowingIndex : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void keysInEveryPart();
    void sharedPartsStayAsTheyWere();
    void placesInEveryPart();
};

namespace {

QByteArray Key(int i) { return "/music/folder " + QByteArray::number(i / 20) + "/track " + QByteArray::number(i) + ".mp3"; }

} // namespace

void TestGrowingIndex::keysInEveryPart()
{
    GrowingKeySet set(16);
    constexpr int kKeys = 150000;   // small parts merged up to 65,536 keys, then parts of their own
    for (int i = 0; i < kKeys; ++i) {
        QVERIFY(!set.contains(Key(i)));
        set.insert(Key(i));
    }
    QCOMPARE(set.size(), kKeys);
    QVERIFY(set.Share().size() > 1);
    for (int i = 0; i < kKeys; ++i)
        QVERIFY(set.contains(Key(i)));
    QVERIFY(!set.contains(Key(kKeys)));
    // Removed from old parts and new ones alike; a key put back is found again.
    for (int i = 0; i < kKeys; i += 3)
        set.remove(Key(i));
    for (int i = 0; i < kKeys; ++i)
        QCOMPARE(set.contains(Key(i)), i % 3 != 0);
    set.insert(Key(0));
    QVERIFY(set.contains(Key(0)));
    set.clear();
    QCOMPARE(set.size(), 0);
    QVERIFY(!set.contains(Key(1)));
}

void TestGrowingIndex::sharedPartsStayAsTheyWere()
{
    GrowingKeySet set(64);
    for (int i = 0; i < 100; ++i)
        set.insert(Key(i));
    const std::vector<QSet<QByteArray>> copy = set.Share();
    for (int i = 100; i < 200; ++i)
        set.insert(Key(i));
    qsizetype seen = 0;
    for (const QSet<QByteArray> &part : copy)
        seen += part.size();
    QCOMPARE(seen, 100);   // the copy holds what there was when it was taken
    for (int i = 0; i < 200; ++i)
        QVERIFY(set.contains(Key(i)));
    // Shared again and again (a listing added to the list each time) with a key or none between: the parts stay
    // as many as the keys need, not one of double the room for every share.
    for (int round = 0; round < 40; ++round) {
        set.Share();
        if (round % 2 == 0)
            set.insert(Key(1000 + round));
    }
    qsizetype room = 0;
    for (const QSet<QByteArray> &part : set.Share())
        room += part.capacity();
    QVERIFY2(room < 64 * 300, qPrintable(QString::number(room)));
    QVERIFY(set.Share().size() <= 8);
    QCOMPARE(set.size(), 220);
    for (int i = 0; i < 200; ++i)
        QVERIFY(set.contains(Key(i)));
    QVERIFY(set.contains(Key(1038)) && !set.contains(Key(1039)));
}

void TestGrowingIndex::placesInEveryPart()
{
    GrowingPlaces places(8);
    constexpr int kPlaces = 5000;
    // Every hash twice (two files whose keys share a hash), at different places.
    for (int i = 0; i < kPlaces; ++i) {
        places.insert(std::size_t(i), i);
        places.insert(std::size_t(i), i + kPlaces);
    }
    for (int i = 0; i < kPlaces; i += 7)
        places.erase(std::size_t(i), i);
    for (int i = 0; i < kPlaces; ++i) {
        std::set<int> found;
        places.find(std::size_t(i), [&](int place) {
            found.insert(place);
            return false;
        });
        const std::set<int> expected = i % 7 == 0 ? std::set<int>{i + kPlaces} : std::set<int>{i, i + kPlaces};
        QCOMPARE(found, expected);
    }
    // A visit that says it found its place stops the search.
    int visits = 0;
    QVERIFY(places.find(1, [&](int) { return ++visits == 1; }));
    QCOMPARE(visits, 1);
    places.clear();
    QVERIFY(!places.find(1, [](int) { return true; }));
}

QTEST_GUILESS_MAIN(TestGrowingIndex)
#include "tst_growingindex.moc"
