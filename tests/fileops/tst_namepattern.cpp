#include "fileops/namepattern.h"
#include "tags/genretable.h"
#include "tags/tagfile.h"

#include <QtTest>

class TestNamePattern : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase() { GenreTable::Build(); }
    void matches_data();
    void matches();
    void badPatterns_data();
    void badPatterns();
    void columnsInOrder();
    void fieldsGoIntoATag();
};

namespace {

// "artist=X|title=Y" for the fields a match gave, "-" when the name does not fit.
QString Describe(const NamePattern &pattern, const QString &path)
{
    NamePattern::Fields fields;
    if (!pattern.Match(path, fields))
        return QStringLiteral("-");
    QStringList parts;
    for (const auto &[column, text] : fields)
        parts.append(FieldName(column) + QLatin1Char('=') + text);
    return parts.join(QLatin1Char('|'));
}

} // namespace

void TestNamePattern::matches_data()
{
    QTest::addColumn<QString>("pattern");
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("expected");
    const QString d = QStringLiteral("/music/");
    QTest::newRow("the usual") << "$K - $A - $T" << d + "03 - Nina Simone - Be My Husband.mp3"
                               << "track=03|artist=Nina Simone|title=Be My Husband";
    // The separator inside a field: earlier codes take as little as they can, the last the rest.
    QTest::newRow("separator in the title") << "$A - $T" << d + "AC-DC - Back - In - Black.mp3"
                                            << "artist=AC-DC|title=Back - In - Black";
    QTest::newRow("separator in the artist is taken by the title") << "$A - $T" << d + "Simon - Garfunkel - Mrs. Robinson.mp3"
                                                                   << "artist=Simon|title=Garfunkel - Mrs. Robinson";
    QTest::newRow("dots in the title") << "$K. $T" << d + "07. Mr. Blue Sky.mp3" << "track=07|title=Mr. Blue Sky";
    QTest::newRow("extension only the last dot") << "$A - $T" << d + "A - b.c.MP3" << "artist=A|title=b.c";
    // Digits-only codes.
    QTest::newRow("track must be digits") << "$K - $T" << d + "A1 - Intro.mp3" << "-";
    QTest::newRow("digits, then a literal") << "$K$T" << d + "12Twelve.mp3" << "track=12|title=Twelve";
    QTest::newRow("year and track digits") << "$Y-$K $T" << d + "1999-4 Party.mp3" << "year=1999|track=4|title=Party";
    QTest::newRow("year is last: digits to the end") << "$T ($Y)" << d + "Song (199x).mp3" << "-";
    // Folder codes.
    QTest::newRow("artist and album from folders") << "$A/$B/$K - $T" << "/m/Nina Simone/Best Of/03 - Be My Husband.mp3"
                                                   << "artist=Nina Simone|album=Best Of|track=03|title=Be My Husband";
    QTest::newRow("folder literal") << "$A/CD1/$T" << "/m/Queen/CD1/Bohemian.mp3" << "artist=Queen|title=Bohemian";
    QTest::newRow("folder literal differs") << "$A/CD1/$T" << "/m/Queen/CD2/Bohemian.mp3" << "-";
    QTest::newRow("not enough folders") << "$A/$B/$T" << "/Album/x.mp3" << "-";
    QTest::newRow("a code never spans folders") << "$A - $T" << "/m/x - y/z.mp3" << "-";
    // Literal rules.
    QTest::newRow("dollar sign") << "$$$A - $T" << d + "$Ke$ha - Tik Tok.mp3" << "artist=Ke$ha|title=Tik Tok";
    QTest::newRow("literals are case-sensitive") << "Track $K" << d + "track 5.mp3" << "-";
    QTest::newRow("codes ignore case") << "$k - $t" << d + "5 - Five.mp3" << "track=5|title=Five";
    QTest::newRow("regex characters are plain") << "[$K] $T (live)" << d + "[2] Song (live).mp3" << "track=2|title=Song";
    QTest::newRow("whole name, not a part") << "$K - $T" << d + "x 01 - Song.mp3" << "-";
    // Captures.
    QTest::newRow("blanks trimmed") << "$A-$T" << d + "  Ann  -  Song .mp3" << "artist=Ann|title=Song";
    QTest::newRow("empty capture left out") << "$K - $A - $T" << d + "01 -  - Song.mp3" << "track=01|title=Song";
    QTest::newRow("same code twice must agree") << "$A - $T - $A" << d + "Ann - Song - Ann.mp3" << "artist=Ann|title=Song";
    QTest::newRow("same code twice differs") << "$A - $T - $A" << d + "Ann - Song - Bob.mp3" << "-";
    QTest::newRow("genre") << "$G - $T" << d + "Jazz - So What.mp3" << "genre=Jazz|title=So What";
    QTest::newRow("accents and scripts") << "$A - $T" << d + "Zoé - Жанна.mp3" << "artist=Zoé|title=Жанна";
    QTest::newRow("name without extension") << "$A - $T" << d + "Ann - Song" << "artist=Ann|title=Song";
    QTest::newRow("relative name") << "$A - $T" << "Ann - Song.mp3" << "artist=Ann|title=Song";
}

void TestNamePattern::matches()
{
    QFETCH(QString, pattern);
    QFETCH(QString, path);
    QFETCH(QString, expected);
    NamePattern p;
    QString error;
    QVERIFY2(p.Parse(pattern, &error), qPrintable(error));
    QCOMPARE(Describe(p, path), expected);
}

void TestNamePattern::badPatterns_data()
{
    QTest::addColumn<QString>("pattern");
    QTest::addColumn<QString>("says");
    QTest::newRow("empty") << "" << "empty";
    QTest::newRow("no code") << "just text" << "no code";
    QTest::newRow("only a dollar") << "$$ money" << "no code";
    QTest::newRow("old name") << "$F - $T" << "\"$F\"";
    QTest::newRow("counter") << "$# $T" << "\"$#\"";
    QTest::newRow("unknown") << "$A - $Q" << "\"$Q\"";
    QTest::newRow("lone dollar") << "$A - $T $" << "lone";
}

void TestNamePattern::badPatterns()
{
    QFETCH(QString, pattern);
    QFETCH(QString, says);
    NamePattern p;
    QString error;
    QVERIFY(!p.Parse(pattern, &error));
    QVERIFY2(error.contains(says), qPrintable(error));
    NamePattern::Fields fields;
    QVERIFY(!p.Match(QStringLiteral("/m/a - b.mp3"), fields));
}

void TestNamePattern::columnsInOrder()
{
    NamePattern p;
    QVERIFY(p.Parse(QStringLiteral("$A/$B/$K - $T - $A")));
    QCOMPARE(p.Columns(), (QList<Column>{Column::Artist, Column::Album, Column::Track, Column::Title}));
    QCOMPARE(DefaultNamePatterns().size(), 4);
    for (const QString &pattern : DefaultNamePatterns())
        QVERIFY(p.Parse(pattern));
}

void TestNamePattern::fieldsGoIntoATag()
{
    TagFile tag;
    tag.comment = QStringLiteral("kept");
    tag.album = QStringLiteral("kept too");
    ApplyNameFields({{Column::Artist, QStringLiteral("Ann")},
                     {Column::Track, QStringLiteral("007")},
                     {Column::Year, QStringLiteral("1999")},
                     {Column::Genre, QStringLiteral("jazz")}},
                    tag);
    QCOMPARE(tag.artist, QStringLiteral("Ann"));
    QCOMPARE(tag.track, QStringLiteral("007"));
    QCOMPARE(tag.year, QStringLiteral("1999"));
    QCOMPARE(tag.GenreName(), QStringLiteral("Jazz"));
    QCOMPARE(tag.album, QStringLiteral("kept too"));
    QCOMPARE(tag.comment, QStringLiteral("kept"));
    ApplyNameFields({{Column::Genre, QStringLiteral("Nu Bossa")}, {Column::Track, QStringLiteral("9999")}}, tag);
    QCOMPARE(tag.genre, -1);
    QCOMPARE(tag.GenreName(), QStringLiteral("Nu Bossa"));
    QCOMPARE(tag.track, QString());   // out of range, as the tag dialog's track rules say
}

QTEST_GUILESS_MAIN(TestNamePattern)
#include "tst_namepattern.moc"
