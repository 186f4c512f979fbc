#include "library/trackfilter.h"
#include "library/tracklistmodel.h"
#include "tags/tagfile.h"

#include <QSignalSpy>
#include <QtTest>

namespace {

TrackRecord Row(const QString &path, const QStringList &tags)
{
    TrackRecord r;
    SplitFullPath(path, r);
    for (int c = int(Column::Title); c <= int(Column::Genre); ++c)
        r.cells[std::size_t(c)] = tags.value(c - int(Column::Title));
    return r;
}

// Five rows with what filters meet in real lists: accents, Cyrillic, blank and "Non" cells, "2/12" tracks.
std::vector<TrackRecord> Rows()
{
    const QString non = QStringLiteral("Non");
    return {
        Row(QStringLiteral("/m/Paris/01 Zoé.mp3"), {"Café", "Zoé Léger", "1995", "Paris Album", "1", "", "Pop"}),
        Row(QStringLiteral("/m/ru/02 b.mp3"), {"Winter", "ЖАННА", "2003", "", "2/12", "", "Rock"}),
        Row(QStringLiteral("/m/jazz/03 c.mp3"),
            {"Live at home", "Nina Simone", "1969", "Live", "3", "live at the hall", "Jazz"}),
        Row(QStringLiteral("/m/other/track 12.ogg"), {"Other", "Nobody", "", "  ", "12", "at home", ""}),
        Row(QStringLiteral("/m/Paris/notes.txt"), {non, non, non, non, non, non, non}),
    };
}

// The rows a model shows, by their number in Rows() (the file name's first digit, 4 for notes.txt).
QString Shown(const TrackListModel &model)
{
    QStringList out;
    for (int row = 0; row < model.rowCount(); ++row) {
        const QString name = model.Row(row)[Column::Filename];
        out << (name == QLatin1String("notes") ? QStringLiteral("4") : QString::number(name.left(2).toInt() - 1));
        if (name.startsWith(QLatin1String("track")))
            out.last() = QStringLiteral("3");
    }
    return out.join(QLatin1Char(','));
}

TrackFilter Filter(const QString &text)
{
    TrackFilter filter;
    [&] { QVERIFY(filter.Parse(text)); }();
    return filter;
}

} // namespace

class TestTrackFilter : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void language_data();
    void language();
    void foldedTextsFollowTheRows();
    void badExpressions();
    void folding();

    void hiddenRowsStayInTheList();
    void rowsArrivingUnderAFilter();
    void sortingOrdersEveryRow();
    void removingShownRows();
    void hiddenRowsFollowTheirFiles();
    void filesAreFoundThroughEveryChange();
};

void TestTrackFilter::language_data()
{
    QTest::addColumn<QString>("expression");
    QTest::addColumn<QString>("rows");
    QTest::newRow("empty") << "" << "0,1,2,3,4";
    QTest::newRow("blanks only") << "   " << "0,1,2,3,4";
    QTest::newRow("accent ignored") << "zoe" << "0";
    QTest::newRow("case ignored") << "ZOE LEGER" << "0";   // two terms
    QTest::newRow("accent in the term") << "Zoé" << "0";
    QTest::newRow("cyrillic lower finds upper") << "жанна" << "1";
    QTest::newRow("cyrillic mixed case") << "Жанна" << "1";
    QTest::newRow("two terms, both must match") << "live jazz" << "2";
    QTest::newRow("phrase") << "\"live at\"" << "2";
    QTest::newRow("phrase in two rows") << "\"at home\"" << "2,3";
    QTest::newRow("phrase in one field") << "title:\"at home\"" << "2";
    QTest::newRow("no match across cells") << "\"home live\"" << "";
    QTest::newRow("exclusion") << "-live" << "0,1,3,4";
    QTest::newRow("excluded field") << "live -comment:hall" << "";
    QTest::newRow("excluded phrase") << "-\"at home\"" << "0,1,4";
    QTest::newRow("empty field, blanks count as empty") << "album:" << "1,3";
    QTest::newRow("Non is not empty") << "title:non" << "4";
    QTest::newRow("not empty") << "-album:" << "0,2,4";
    QTest::newRow("quoted empty is empty") << "year:\"\"" << "3";
    QTest::newRow("range") << "year:1990..2005" << "0,1";
    QTest::newRow("range backwards") << "year:2005..1990" << "0,1";
    QTest::newRow("range on a leading number") << "track:2..12" << "1,2,3";
    QTest::newRow("range bounds are inclusive") << "track:4..12" << "3";
    QTest::newRow("range reads Non as 0, never an empty cell") << "year:0..0" << "4";
    QTest::newRow("negative range") << "track:-5..1" << "0,4";
    QTest::newRow("not a range: letters") << "track:x..y" << "";
    QTest::newRow("not a range: quoted") << "year:\"1990..2005\"" << "";
    QTest::newRow("field name any case") << "Artist:nina" << "2";
    QTest::newRow("track field of Track #") << "track:12" << "1,3";
    QTest::newRow("path field") << "path:paris" << "0,4";
    QTest::newRow("plain term looks in the path too") << "paris" << "0,4";
    QTest::newRow("ext field") << "ext:mp3" << "0,1,2";
    QTest::newRow("field limits the term") << "title:zoe" << "";
    QTest::newRow("colon after digits is a plain term") << "12:30" << "";
    QTest::newRow("open range up to") << "year:..1995" << "0,2,4";
    QTest::newRow("open range from") << "year:2000.." << "1";
    QTest::newRow("colon first") << ":live" << "";
    QTest::newRow("a lone minus is a character") << "- zoe" << "";
    QTest::newRow("quoted field word is text") << "\"artist:nina\"" << "";
    QTest::newRow("every term must match") << "genre:rock genre:pop" << "";
}

void TestTrackFilter::language()
{
    QFETCH(QString, expression);
    QFETCH(QString, rows);
    TrackFilter filter;
    QString error;
    QVERIFY2(filter.Parse(expression, &error), qPrintable(error));
    QStringList matched;
    const std::vector<TrackRecord> all = Rows();
    for (std::size_t i = 0; i < all.size(); ++i) {
        if (filter.Matches(all[i]))
            matched << QString::number(i);
    }
    QCOMPARE(matched.join(QLatin1Char(',')), rows);
    // The list's way, over folded texts kept for every row and folders looked at once each, agrees.
    FoldedTexts folded;
    for (const TrackRecord &row : all)
        folded.Append(row);
    QStringList listed;
    for (const int row : filter.Matching(all, folded)) {
        listed << QString::number(row);
        QVERIFY(filter.Matches(all[std::size_t(row)], folded, std::size_t(row)));
    }
    QCOMPARE(listed.join(QLatin1Char(',')), rows);
}

void TestTrackFilter::foldedTextsFollowTheRows()
{
    // Rows changed over and over (the store gives back the runs no row holds), taken out and reordered: every
    // row's folded text and folder stay its own.
    std::vector<TrackRecord> rows;
    FoldedTexts folded;
    const std::vector<TrackRecord> base = Rows();
    for (int i = 0; i < 3000; ++i) {
        TrackRecord row = base[std::size_t(i) % base.size()];
        row[Column::Title] = QStringLiteral("Song %1 ").arg(i) + QString(200, QLatin1Char('X'));
        if (i % 7 == 0)
            row[Column::Path] = QStringLiteral("/m/Folder %1/").arg(i);
        rows.push_back(row);
        folded.Append(row);
    }
    for (int round = 0; round < 20; ++round) {
        for (std::size_t i = std::size_t(round); i < rows.size(); i += 3) {
            rows[i][Column::Comment] = QStringLiteral("ÉTÉ round %1").arg(round);
            folded.Set(i, rows[i]);
        }
    }
    std::vector<int> gone{0, 5, 6, 7, 2999};
    for (auto it = gone.rbegin(); it != gone.rend(); ++it)
        rows.erase(rows.begin() + *it);
    folded.Erase(gone);
    std::vector<int> order(rows.size());
    for (std::size_t i = 0; i < order.size(); ++i)
        order[i] = int(order.size() - 1 - i);
    std::reverse(rows.begin(), rows.end());
    folded.Reorder(order);
    QCOMPARE(folded.Size(), rows.size());
    std::string expected;
    for (std::size_t i = 0; i < rows.size(); ++i) {
        FoldedTexts::FoldCells(rows[i], expected);
        QCOMPARE(folded.Text(i), std::string_view(expected));
        QCOMPARE(QString::fromStdString(std::string(folded.FolderText(folded.Folder(i)))),
                 FoldForSearch(rows[i][Column::Path]));
    }
    QVERIFY(folded.FolderCount() < 500);   // a folder's rows share one folded text
}

void TestTrackFilter::badExpressions()
{
    TrackFilter filter;
    QVERIFY(filter.Parse(QStringLiteral("zoe")));
    QString error;
    QVERIFY(!filter.Parse(QStringLiteral("zoe \"live at"), &error));
    QCOMPARE(error, QStringLiteral("The quote at character 5 is not closed."));
    QVERIFY(!filter.Parse(QStringLiteral("artist:\"nina"), &error));
    QVERIFY(error.contains(QLatin1String("character 8")));
    // An unknown field is a slip, not a search that matches nothing: the message names the fields.
    QVERIFY(!filter.Parse(QStringLiteral("foo:bar"), &error));
    QCOMPARE(error, QStringLiteral("There is no field \"foo\"; the fields are filename, ext, path, title, artist, year, "
                                   "album, track, comment, genre."));
    QVERIFY(!filter.Parse(QStringLiteral("ock:"), &error));
    // A failed parse leaves the filter as it was.
    QVERIFY(filter.Matches(Rows()[0]));
    QVERIFY(!filter.Matches(Rows()[1]));
}

void TestTrackFilter::folding()
{
    QCOMPARE(FoldForSearch(u"Zoé ÉTÉ"), QStringLiteral("zoe ete"));
    QCOMPARE(FoldForSearch(u"ЖАННА Ёлка"), QStringLiteral("жанна елка"));
    QCOMPARE(FoldForSearch(u"ﬁne Ⅳ"), QStringLiteral("fine iv"));   // compatibility forms
    QCOMPARE(FoldForSearch(u"Plain ASCII 42"), QStringLiteral("plain ascii 42"));
    std::string text;
    FoldedTexts::FoldCells(Rows()[0], text);
    QCOMPARE(FoldedTexts::Cell(text, int(Column::Filename)), std::string_view("01 zoe"));
    QCOMPARE(FoldedTexts::Cell(text, int(Column::Artist)), std::string_view("zoe leger"));
    QCOMPARE(FoldedTexts::Cell(text, int(Column::Comment)), std::string_view());
    QCOMPARE(FoldedTexts::Cell(text, int(Column::Genre)), std::string_view("pop"));
    QCOMPARE(TrackFilter::FieldName(int(Column::Track)), QStringLiteral("track"));
    QCOMPARE(TrackFilter::FieldColumn(u"GENRE"), int(Column::Genre));
    QCOMPARE(TrackFilter::FieldColumn(u"track #"), -1);
}

void TestTrackFilter::hiddenRowsStayInTheList()
{
    TrackListModel model;
    model.AppendRows(Rows());
    model.SetFilter(Filter(QStringLiteral("paris")));
    QVERIFY(model.IsFiltered());
    QCOMPARE(Shown(model), QStringLiteral("0,4"));
    QCOMPARE(model.TotalRows(), 5);
    QCOMPARE(model.RowCounter(), 5);
    QCOMPARE(model.ShownRows().size(), std::size_t(2));
    QCOMPARE(model.RowOfFile(QStringLiteral("/m/ru/02 b.mp3")), -1);   // hidden
    QVERIFY(model.IsListed(QStringLiteral("/m/ru/02 b.mp3")));
    QCOMPARE(model.RowOfFile(QStringLiteral("/m/Paris/notes.txt")), 1);
    QCOMPARE(model.data(model.index(1, int(Column::Ext))).toString(), QStringLiteral("txt"));
    // A hidden file is still listed: adding it again adds nothing.
    QVERIFY(!model.AddFile(QStringLiteral("/m/ru/02 b.mp3")));
    model.SetFilter(TrackFilter());
    QVERIFY(!model.IsFiltered());
    QCOMPARE(Shown(model), QStringLiteral("0,1,2,3,4"));
}

void TestTrackFilter::rowsArrivingUnderAFilter()
{
    TrackListModel model;
    model.SetFilter(Filter(QStringLiteral("-album:")));
    std::vector<TrackRecord> all = Rows();
    QSignalSpy inserted(&model, &QAbstractItemModel::rowsInserted);
    model.AppendRows({all[0], all[1]});
    model.AppendRows({all[3]});   // nothing shown: no signal
    model.AppendRows({all[2], all[4]});
    QCOMPARE(inserted.size(), 2);
    QCOMPARE(inserted[1][1].toInt(), 1);
    QCOMPARE(inserted[1][2].toInt(), 2);
    QCOMPARE(Shown(model), QStringLiteral("0,2,4"));
    QCOMPARE(model.RowCounter(), 5);
    model.Clear();   // a new listing keeps the filter
    QVERIFY(model.IsFiltered());
    model.AppendRows(Rows());
    QCOMPARE(Shown(model), QStringLiteral("0,2,4"));
}

void TestTrackFilter::sortingOrdersEveryRow()
{
    TrackListModel model;
    model.AppendRows(Rows());
    model.SetFilter(Filter(QStringLiteral("-zoe")));
    const QPersistentModelIndex nobody = model.index(2, 0);   // row 3 of the list
    QCOMPARE(model.Row(nobody.row())[Column::Artist], QStringLiteral("Nobody"));
    model.Sort({{int(Column::Title), false}});   // descending: Winter, Other, Non, Live at home (Café hidden)
    QCOMPARE(Shown(model), QStringLiteral("1,3,4,2"));
    QCOMPARE(nobody.row(), 1);
    model.SetFilter(TrackFilter());
    QCOMPARE(Shown(model), QStringLiteral("1,3,4,2,0"));
}

void TestTrackFilter::removingShownRows()
{
    TrackListModel model;
    model.AppendRows(Rows());
    model.SetFilter(Filter(QStringLiteral("-paris")));
    QCOMPARE(Shown(model), QStringLiteral("1,2,3"));
    const QPersistentModelIndex last = model.index(2, 0);
    QSignalSpy removed(&model, &QAbstractItemModel::rowsRemoved);
    model.RemoveRows({1, 0});
    QCOMPARE(removed.size(), 1);   // one run of neighbouring rows: one removal
    QCOMPARE(Shown(model), QStringLiteral("3"));
    QCOMPARE(last.row(), 0);
    QVERIFY(!model.IsListed(QStringLiteral("/m/ru/02 b.mp3")));
    QCOMPARE(model.RowCounter(), 5);
    model.SetFilter(TrackFilter());
    QCOMPARE(Shown(model), QStringLiteral("0,3,4"));
    // Unfiltered, scattered rows: one removal per run.
    model.AppendRows(Rows());
    QCOMPARE(Shown(model), QStringLiteral("0,3,4,1,2"));
    removed.clear();
    model.RemoveRows({4, 0, 3, 4});
    QCOMPARE(removed.size(), 2);
    QCOMPARE(Shown(model), QStringLiteral("3,4"));
}

void TestTrackFilter::hiddenRowsFollowTheirFiles()
{
    TrackListModel model;
    model.AppendRows(Rows());
    model.SetFilter(Filter(QStringLiteral("ext:mp3")));
    QSignalSpy changed(&model, &QAbstractItemModel::dataChanged);
    // The .ogg and .txt rows are hidden; changes to their files still reach them, unseen.
    QVERIFY(model.SetFilenameOfFile(QStringLiteral("/m/other/track 12.ogg"), QStringLiteral("renamed"), QString()));
    QVERIFY(model.IsListed(QStringLiteral("/m/other/renamed.ogg")));
    QVERIFY(!model.IsListed(QStringLiteral("/m/other/track 12.ogg")));
    QVERIFY(model.FillTagCellsOfFile(QStringLiteral("/m/other/renamed.ogg"), nullptr));
    QVERIFY(model.RemoveFile(QStringLiteral("/m/Paris/notes.txt")));
    QVERIFY(!model.RemoveFile(QStringLiteral("/m/Paris/notes.txt")));
    QCOMPARE(changed.size(), 0);
    QCOMPARE(Shown(model), QStringLiteral("0,1,2"));
    // A shown row that no longer matches stays shown until the filter is set again; the filter then sees what
    // the row holds now, not what it held when it was folded.
    QVERIFY(model.SetFilenameOfFile(QStringLiteral("/m/ru/02 b.mp3"), QStringLiteral("02 b"), QStringLiteral("ogg")));
    QCOMPARE(changed.size(), 1);
    QCOMPARE(Shown(model), QStringLiteral("0,1,2"));
    model.SetFilter(Filter(QStringLiteral("ext:ogg")));
    QCOMPARE(model.rowCount(), 2);
    QCOMPARE(model.Row(1)[Column::Filename], QStringLiteral("renamed"));
    QCOMPARE(model.Row(1)[Column::Title], QStringLiteral("Non"));   // the tag cells of a file without a tag
}

void TestTrackFilter::filesAreFoundThroughEveryChange()
{
    // The path index follows sorting, renames, removals and rows added, hidden rows too.
    TrackListModel model;
    std::vector<TrackRecord> rows;
    for (int i = 0; i < 2000; ++i)
        rows.push_back(Row(QStringLiteral("/m/%1/%2.mp3").arg(i % 7).arg(i), {QString::number(i)}));
    model.AppendRows(std::move(rows));
    auto placeOf = [&](int i) { return model.RowOfFile(QStringLiteral("/m/%1/%2.mp3").arg(i % 7).arg(i)); };
    QCOMPARE(placeOf(1234), 1234);
    model.Sort({{int(Column::Title), false}});   // by text, descending
    for (int i : {0, 1, 999, 1234, 1999}) {
        const int row = placeOf(i);
        QVERIFY(row >= 0);
        QCOMPARE(model.Row(row)[Column::Title], QString::number(i));
    }
    QVERIFY(model.SetFilenameOfFile(QStringLiteral("/m/2/9.mp3"), QStringLiteral("nine"), QStringLiteral("mp3")));
    QCOMPARE(placeOf(9), -1);
    QCOMPARE(model.Row(model.RowOfFile(QStringLiteral("/m/2/nine.mp3")))[Column::Title], QStringLiteral("9"));
    QVERIFY(model.RemoveFile(QStringLiteral("/m/6/1000.mp3")));
    QCOMPARE(placeOf(1000), -1);
    QCOMPARE(model.Row(placeOf(1999))[Column::Title], QStringLiteral("1999"));   // rows after it moved up
    model.AppendRows({Row(QStringLiteral("/m/new/x.mp3"), {"x"})});
    QCOMPARE(model.RowOfFile(QStringLiteral("/m/new/x.mp3")), model.rowCount() - 1);
    model.SetFilter(Filter(QStringLiteral("title:5")));
    QCOMPARE(placeOf(1234), -1);   // hidden, still listed
    QVERIFY(model.IsListed(QStringLiteral("/m/2/1234.mp3")));
    model.SetFilter(TrackFilter());

    // Many files read again: one change for the views, files not listed passed over.
    std::vector<std::pair<QString, TagFile>> tags(3);
    tags[0].first = QStringLiteral("/m/1/1.mp3");
    tags[1].first = QStringLiteral("/m/6/6.mp3");
    tags[2].first = QStringLiteral("/nowhere/z.mp3");
    for (auto &tag : tags)
        tag.second.title = QStringLiteral("Again");
    QSignalSpy changes(&model, &QAbstractItemModel::dataChanged);
    QCOMPARE(model.FillTagCellsOfFiles(tags), 2);
    QCOMPARE(changes.size(), 1);
    QCOMPARE(model.Row(placeOf(6))[Column::Title], QStringLiteral("Again"));
}

QTEST_GUILESS_MAIN(TestTrackFilter)
#include "tst_trackfilter.moc"
