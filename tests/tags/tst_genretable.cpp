#include "tags/genretable.h"

#include <QtTest>

class TestGenreTable : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void namesAndNumbers_data();
    void namesAndNumbers();
    void outOfRangeNumbersHaveNoName();
    void buildTwiceKeepsOneTable();
};

void TestGenreTable::namesAndNumbers_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("number");
    QTest::newRow("first") << "Blues" << 0;
    QTest::newRow("last") << "Dance Hall" << 125;
    QTest::newRow("own spelling 40") << "AlternRock" << 40;
    QTest::newRow("own spelling 67") << "Psychadelic" << 67;
    QTest::newRow("93 differs from 67") << "Psychedelic Rock" << 93;
    QTest::newRow("85") << "Bebob" << 85;
    QTest::newRow("123") << "A capella" << 123;
    QTest::newRow("29") << "Jazz+Funk" << 29;
    QTest::newRow("78") << "Rock & Roll" << 78;
}

void TestGenreTable::namesAndNumbers()
{
    QFETCH(QString, name);
    QFETCH(int, number);
    QCOMPARE(GenreTable::NameOf(number), name);
    QCOMPARE(GenreTable::NumberOf(name), number);
    QCOMPARE(GenreTable::NumberOf(name.toUpper()), number);
    QCOMPARE(GenreTable::NumberOf(name.toLower()), number);
}

void TestGenreTable::outOfRangeNumbersHaveNoName()
{
    QCOMPARE(GenreTable::Count(), 126);
    QCOMPARE(GenreTable::NameOf(126), QString());
    QCOMPARE(GenreTable::NameOf(-1), QString());
    QCOMPARE(GenreTable::NumberOf(QString()), -1);
    QCOMPARE(GenreTable::NumberOf(QStringLiteral("Rock ")), -1);
    QCOMPARE(GenreTable::NumberOf(QStringLiteral("Psychedelic")), -1);
}

void TestGenreTable::buildTwiceKeepsOneTable()
{
    GenreTable::Build();
    GenreTable::Build();
    QCOMPARE(GenreTable::Count(), 126);
    QCOMPARE(GenreTable::Names().size(), 126);
}

QTEST_GUILESS_MAIN(TestGenreTable)
#include "tst_genretable.moc"
