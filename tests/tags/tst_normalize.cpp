// The text rule of Normalize Text in Tag, and what Normalize changes in a file.

#include "tags/normalize.h"
#include "tags/tagfile.h"
#include "testmp3.h"

#include <QtTest>

using namespace testmp3;

class TestNormalize : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void rule_data();
    void rule();
    void twiceIsOnceExceptLongRuns();
    void onlyTheFourTextFieldsChange();
};

void TestNormalize::rule_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("expected");
    QTest::newRow("blanks around and between") << "  hello   world  " << "Hello World";
    QTest::newRow("capitals") << "GOLDEN HOUR" << "Golden Hour";
    QTest::newRow("slash") << "TWO/THREE" << "Two/three";
    QTest::newRow("bracket") << "x (live)" << "X (live)";
    QTest::newRow("short words") << "rock n roll" << "Rock N Roll";
    QTest::newRow("one letter") << "a" << "A";
    QTest::newRow("two letters") << "ab" << "Ab";
    QTest::newRow("only spaces") << "    " << "";
    QTest::newRow("empty") << "" << "";
    QTest::newRow("four spaces leave two") << "a    b" << "A  B";
    QTest::newRow("two and three leave one") << "a  b   c" << "A B C";
    QTest::newRow("tabs trimmed, not a word start inside") << "\tone\ttwo\t" << "One\ttwo";
    QTest::newRow("hyphen and apostrophe") << "ROCK-N-ROLL DON'T STOP" << "Rock-n-roll Don't Stop";
    QTest::newRow("digit first") << "99 LUFTBALLONS" << "99 Luftballons";
    QTest::newRow("space before digit") << "track 2 of 3" << "Track 2 Of 3";
    QTest::newRow("accented letters") << "ÉTÉ INDIEN élan" << "Été Indien Élan";
    QTest::newRow("cyrillic") << "жёлтая подводная" << "Жёлтая Подводная";
    QTest::newRow("greek final sigma") << "ΟΔΟΣ ΑΒ" << "Οδοσ Αβ";
    QTest::newRow("letter outside the BMP") << "x 𐐨𐐨" << "X 𐐀𐐨";
    QTest::newRow("last letter after a space") << "side b" << "Side B";
}

void TestNormalize::rule()
{
    QFETCH(QString, text);
    QFETCH(QString, expected);
    QCOMPARE(NormalizeTagText(text), expected);
}

void TestNormalize::twiceIsOnceExceptLongRuns()
{
    const QStringList samples{"  the   BEST of  ", "x (LIVE) / y", "élan vital", "a\tb  c", "one  two"};
    for (const QString &s : samples) {
        const QString once = NormalizeTagText(s);
        QCOMPARE(NormalizeTagText(once), once);
    }
    // A long run keeps a double space the first time and loses it the second.
    QCOMPARE(NormalizeTagText(QStringLiteral("a     b")), QStringLiteral("A  B"));
    QCOMPARE(NormalizeTagText(NormalizeTagText(QStringLiteral("a     b"))), QStringLiteral("A B"));
}

void TestNormalize::onlyTheFourTextFieldsChange()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("n.mp3"));
    const QByteArray cover = Frame("APIC", QByteArray("\0image/png\0\3\0", 13) + QByteArray(300, '\x11'));
    const QByteArray txxx = Frame("TXXX", QByteArray("\0KEY\0value", 10));
    QVERIFY(WriteFile(path, Tag(Frame("TIT2", Latin1Body("  the TITLE ")) + Frame("TPE1", Latin1Body("ARTIST")) +
                                Frame("TRCK", Latin1Body("3/12")) + Frame("TYER", Latin1Body("1999")) + cover + txxx +
                                Frame("TCON", Latin1Body("(17)"))) + Audio(3)));
    TagFile tag;
    QVERIFY(tag.Open(path));
    tag.Normalize();
    QVERIFY(tag.Write());
    QVERIFY(tag.Open(path));
    QCOMPARE(tag.title, QStringLiteral("The Title"));
    QCOMPARE(tag.artist, QStringLiteral("Artist"));
    QCOMPARE(tag.track, QStringLiteral("3/12"));   // untouched fields are not even rewritten
    QCOMPARE(tag.year, QStringLiteral("1999"));
    QCOMPARE(tag.genre, 17);
    const auto frames = Frames(ReadFile(path));
    QVERIFY(frames.contains({QByteArray("APIC"), cover}));
    QVERIFY(frames.contains({QByteArray("TXXX"), txxx}));

    // Normalising what is already tidy writes nothing at all.
    const QByteArray before = ReadFile(path);
    const QDateTime modified = QFileInfo(path).lastModified();
    QVERIFY(tag.Open(path));
    tag.Normalize();
    QVERIFY(tag.Write());
    QCOMPARE(ReadFile(path), before);
    QCOMPARE(QFileInfo(path).lastModified(), modified);
}

QTEST_GUILESS_MAIN(TestNormalize)
#include "tst_normalize.moc"
