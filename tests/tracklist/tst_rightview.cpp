#include "settings/appsettings.h"
#include "res/resources.h"
#include "tracklist/rightview.h"
#include "tracklist/sortheaderctrl.h"
#include "library/tracklistmodel.h"
#include "tracklist/scanningdlg.h"
#include "library/scanstate.h"
#include "defaultsettings.h"
#include "testmp3.h"

#include "library/trackfilter.h"
#include "library/tracksort.h"

#include <QtTest>
#include <QContextMenuEvent>
#include <QScrollBar>
#include <QHeaderView>

namespace {

QStringList ColumnTexts(const TrackListModel *model, Column c)
{
    QStringList out;
    for (const auto &r : model->AllRows())
        out << r[c];
    return out;
}

void ClickHeader(CRightView &view, int column, Qt::KeyboardModifiers mods = {}, Qt::MouseButton button = Qt::LeftButton)
{
    QHeaderView *h = view.horizontalHeader();
    const QPoint at(h->sectionViewportPosition(column) + h->sectionSize(column) / 2, h->height() / 2);
    QTest::mouseClick(h->viewport(), button, mods, at);
}

} // namespace

class TestRightView : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();
    void listsFolderAndEnds();
    void manyRowsArriveInSlicesAndAllOfThem();
    void headerClicksSort();
    void selectionSurvivesSort();
    void selectionSurvivesTheFilter();
    void stopWalkKeepsRowsAndSorts();
    void newestRowsStayInView();
    void rowKeysNeverScrollSideways();
    void keyboardContextMenuOpensAtTheCorner();
    void newListingStopsTheRunningOne();
    void destroyingViewDuringWalk();
    void inputIgnoredWhileScanning();
    void columnLayoutRoundTrip();
    void scanningDialogCaption();
    void dividerDragSavesLayout();
    void computerScanCancelStopsAndSorts();
    void newListingTakesTheHeadersOrder();
    void emptyListSaysWhatToDo();

private:
    void WaitIdle(CRightView &view);
    QTemporaryDir m_dir;
    QString m_big;
    ScanState m_state;
    AppSettings m_settings;
};

void TestRightView::initTestCase()
{
    InitGuiResources();
    using namespace testmp3;
    const QStringList artists{"delta", "Alpha", "charlie", "Bravo"};
    for (int i = 0; i < 4; ++i) {
        WriteFile(m_dir.filePath(QStringLiteral("t%1.mp3").arg(i)),
                  Tag(Frame("TIT2", Latin1Body(QStringLiteral("Song %1").arg(3 - i))) + Frame("TPE1", Latin1Body(artists[i])) +
                      Frame("TALB", Latin1Body(i % 2 ? "Y" : "X"))) + Audio(1));
    }
    m_big = m_dir.filePath(QStringLiteral("big"));
    for (int d = 0; d < 40; ++d) {
        QDir().mkpath(m_big + QStringLiteral("/%1").arg(d));
        for (int f = 0; f < 50; ++f)
            WriteFile(m_big + QStringLiteral("/%1/%2.mp3").arg(d).arg(f), Tag(Frame("TIT2", Latin1Body("t"))) + Audio(1));
    }
}

void TestRightView::init()
{
    m_settings = DefaultSettings();
    m_state.scanning = 0;
    m_state.stop = 0;
    m_state.subfolderMode = 0;
    m_state.addListMode = 0;
    m_state.progressTick = -1;
}

void TestRightView::cleanup() { QCOMPARE(m_state.scanning.load(), 0); }

void TestRightView::WaitIdle(CRightView &view)
{
    QTRY_VERIFY_WITH_TIMEOUT(!view.IsWalking() && m_state.scanning.load() == 0, 20000);
    QTest::qWait(20);   // let the last queued batch arrive
}

void TestRightView::listsFolderAndEnds()
{
    CRightView view(m_settings, m_state);
    QSignalSpy started(&view, &CRightView::ListingStarted);
    QSignalSpy finished(&view, &CRightView::WalkFinished);
    view.ListFolder(m_dir.path());
    QCOMPARE(started.size(), 1);
    QVERIFY(finished.wait(10000));
    WaitIdle(view);
    QCOMPARE(view.Model()->rowCount(), 4);
    QCOMPARE(view.RowCounter(), 4);
    QCOMPARE(view.CurrentFolder(), m_dir.path());
    QCOMPARE(m_state.progressTick.load(), -1);

    // Add-list mode keeps the rows and adds none twice.
    m_state.addListMode = 1;
    view.ListFolder(m_dir.path());
    WaitIdle(view);
    QCOMPARE(view.Model()->rowCount(), 4);
}

void TestRightView::manyRowsArriveInSlicesAndAllOfThem()
{
    // More rows than one slice takes, found faster than the window takes them: they come in pieces, each file
    // once, in walk order, and the listing ends only when the last is in.
    QTemporaryDir dir;
    constexpr int kFiles = 10000;
    for (int i = 0; i < kFiles; ++i)
        QVERIFY(testmp3::WriteFile(dir.filePath(QStringLiteral("%1.mp3").arg(i, 5, 10, QLatin1Char('0'))), QByteArray(8, 'x')));
    CRightView view(m_settings, m_state);
    int mostAtOnce = 0, inserts = 0;
    connect(view.Model(), &QAbstractItemModel::rowsInserted, this, [&](const QModelIndex &, int first, int last) {
        mostAtOnce = std::max(mostAtOnce, last - first + 1);
        if (++inserts == 1)
            QThread::msleep(500);   // a window busy elsewhere: the walk runs far ahead
    });
    int rowsWhenFinished = -1;
    connect(&view, &CRightView::WalkFinished, this, [&] { rowsWhenFinished = view.Model()->rowCount(); });
    view.ListFolder(dir.path());
    QTRY_VERIFY_WITH_TIMEOUT(rowsWhenFinished >= 0, 20000);
    WaitIdle(view);
    QCOMPARE(rowsWhenFinished, kFiles);
    QCOMPARE(view.Model()->rowCount(), kFiles);
    QVERIFY2(mostAtOnce == 1024, qPrintable(QString::number(mostAtOnce)));   // pieces, not all that waited
    for (int row = 0; row < kFiles; row += 997)
        QCOMPARE(view.Model()->Row(row)[Column::Filename], QStringLiteral("%1").arg(row, 5, 10, QLatin1Char('0')));
}

void TestRightView::headerClicksSort()
{
    CRightView view(m_settings, m_state);
    view.resize(1200, 400);
    view.show();
    view.ListFolder(m_dir.path());
    WaitIdle(view);
    const int title = int(Column::Title), artist = int(Column::Artist), album = int(Column::Album);

    ClickHeader(view, artist);
    QCOMPARE(ColumnTexts(view.Model(), Column::Artist), (QStringList{"Alpha", "Bravo", "charlie", "delta"}));
    QCOMPARE(view.Header()->SortImage(artist), 1);
    ClickHeader(view, artist);
    QCOMPARE(ColumnTexts(view.Model(), Column::Artist), (QStringList{"delta", "charlie", "Bravo", "Alpha"}));
    QCOMPARE(view.Header()->SortImage(artist), -1);

    ClickHeader(view, title, {}, Qt::RightButton);   // a right click does not sort
    QCOMPARE(ColumnTexts(view.Model(), Column::Artist), (QStringList{"delta", "charlie", "Bravo", "Alpha"}));

    ClickHeader(view, album);
    QCOMPARE(view.Header()->SortImage(artist), 0);
    ClickHeader(view, artist, Qt::ControlModifier);   // album, then artist within it (artist ascending again)
    QCOMPARE(ColumnTexts(view.Model(), Column::Album), (QStringList{"X", "X", "Y", "Y"}));
    QCOMPARE(ColumnTexts(view.Model(), Column::Artist), (QStringList{"charlie", "delta", "Alpha", "Bravo"}));
    QCOMPARE(view.Header()->SortImage(album), 1);
    QCOMPARE(view.Header()->SortImage(artist), 1);
}

void TestRightView::selectionSurvivesSort()
{
    CRightView view(m_settings, m_state);
    view.ListFolder(m_dir.path());
    WaitIdle(view);
    int row = 0;
    while (view.Model()->Row(row)[Column::Artist] != QLatin1String("charlie"))
        ++row;
    view.selectRow(row);
    view.SortColumn(int(Column::Artist), false);
    const QModelIndexList selected = view.selectionModel()->selectedRows();
    QCOMPARE(selected.size(), 1);
    QCOMPARE(view.Model()->Row(selected.first().row())[Column::Artist], QStringLiteral("charlie"));
    QCOMPARE(view.currentIndex().row(), selected.first().row());

    // An order worked out elsewhere (as a report does, off the GUI thread) gives the same rows and keeps the
    // selection; one made stale by rows that arrived meanwhile is not applied, and the list is sorted anyway.
    std::vector<QString> direct;
    for (const TrackRecord &r : view.Model()->AllRows())
        direct.push_back(r[Column::Artist]);
    view.SortColumn(int(Column::Artist), false);   // descending now
    view.SortColumn(int(Column::Artist), false, [](const std::function<std::vector<int>()> &work) { return work(); });
    std::vector<QString> elsewhere;
    for (const TrackRecord &r : view.Model()->AllRows())
        elsewhere.push_back(r[Column::Artist]);
    QCOMPARE(elsewhere, direct);
    QCOMPARE(view.Model()->Row(view.SelectedRows().front())[Column::Artist], QStringLiteral("charlie"));
    TrackRecord late;
    SplitFullPath(QStringLiteral("/late/aaa.mp3"), late);
    late[Column::Artist] = QStringLiteral("aaa");
    view.SortColumn(int(Column::Artist), false, [&](const std::function<std::vector<int>()> &work) {
        std::vector<int> order = work();
        view.Model()->AppendRows({late});
        return order;
    });
    // Descending now, so the late row is last: the stale order was not applied, the list was sorted again.
    QCOMPARE(view.Model()->Row(view.Model()->rowCount() - 1)[Column::Artist], QStringLiteral("aaa"));
    QVERIFY(!view.Model()->ApplyOrder({0}));
}

void TestRightView::selectionSurvivesTheFilter()
{
    // All 2,000 rows selected; a filter keeps the selection of the rows it shows, and clearing it shows all rows
    // with those still selected. The header keeps a selection of its own, empty: it never walks the rows.
    CRightView view(m_settings, m_state);
    view.resize(800, 500);
    view.show();
    m_state.subfolderMode = 1;
    view.ListFolder(m_big);
    WaitIdle(view);
    QCOMPARE(view.Model()->rowCount(), 2000);
    view.selectAll();
    QCOMPARE(view.SelectedRows().size(), 2000);
    QVERIFY(view.horizontalHeader()->selectionModel() != view.selectionModel());
    QVERIFY(!view.horizontalHeader()->selectionModel()->hasSelection());
    TrackFilter filter;
    QVERIFY(filter.Parse(QStringLiteral("path:/3")));   // folders 3 and 30-39
    view.SetFilter(filter);
    QCOMPARE(view.Model()->rowCount(), 550);
    QCOMPARE(view.SelectedRows().size(), 550);
    view.selectionModel()->select(view.Model()->index(0, 0),
                                  QItemSelectionModel::Deselect | QItemSelectionModel::Rows);
    const int firstSource = view.Model()->SourceRow(0);
    view.SetFilter(TrackFilter());
    QCOMPARE(view.Model()->rowCount(), 2000);
    const QList<int> selected = view.SelectedRows();
    QCOMPARE(selected.size(), 549);
    QVERIFY(!selected.contains(firstSource));
    for (const int row : selected)
        QVERIFY(view.Model()->Row(row)[Column::Path].contains(QLatin1String("/3")));
    QVERIFY(!view.horizontalHeader()->selectionModel()->hasSelection());
}

void TestRightView::stopWalkKeepsRowsAndSorts()
{
    CRightView view(m_settings, m_state);
    m_state.subfolderMode = 1;
    QSignalSpy finished(&view, &CRightView::WalkFinished);
    view.ListFolder(m_big);
    QTRY_VERIFY_WITH_TIMEOUT(view.Model()->rowCount() > 0 || !view.IsWalking(), 10000);
    // Stop never waits for the worker; its last rows and the sort follow when it has ended.
    QElapsedTimer clock;
    clock.start();
    view.StopWalk();
    QVERIFY(clock.elapsed() < 50);
    QCOMPARE(m_state.subfolderMode.load(), 0);
    WaitIdle(view);
    const int kept = view.Model()->rowCount();
    QVERIFY(kept > 0 && kept <= 2000);
    QCOMPARE(finished.size(), 1);
    // Sorted by name, then by extension: within one extension the names ascend.
    QStringList names = ColumnTexts(view.Model(), Column::Filename);
    QStringList sorted = names;
    std::stable_sort(sorted.begin(), sorted.end(), [](const QString &a, const QString &b) { return CompareTexts(a, b) < 0; });
    QCOMPARE(names, sorted);
}

void TestRightView::newestRowsStayInView()
{
    // The list follows a filling folder down to its last batch.
    CRightView view(m_settings, m_state);
    view.resize(600, 300);
    view.show();
    m_state.subfolderMode = 1;
    view.ListFolder(m_big);
    WaitIdle(view);
    QCOMPARE(view.Model()->rowCount(), 2000);
    QVERIFY(view.verticalScrollBar()->maximum() > 0);
    QCOMPARE(view.verticalScrollBar()->value(), view.verticalScrollBar()->maximum());
}

void TestRightView::rowKeysNeverScrollSideways()
{
    CRightView view(m_settings, m_state);
    view.resize(300, 200);
    view.show();
    m_state.subfolderMode = 1;
    view.ListFolder(m_big);
    WaitIdle(view);
    view.setCurrentIndex(view.Model()->index(5, 0));
    view.horizontalScrollBar()->setValue(view.horizontalScrollBar()->maximum() / 2);
    const int left = view.horizontalScrollBar()->value();
    QVERIFY(left > 0);
    for (const auto &[key, modifiers, row] : {std::tuple{Qt::Key_End, Qt::NoModifier, 1999}, std::tuple{Qt::Key_Home, Qt::NoModifier, 0},
                                              std::tuple{Qt::Key_PageDown, Qt::NoModifier, -1},
                                              std::tuple{Qt::Key_End, Qt::ControlModifier, 1999},
                                              std::tuple{Qt::Key_Home, Qt::ControlModifier, 0}}) {
        QTest::keyClick(&view, key, modifiers);
        if (row >= 0)
            QCOMPARE(view.currentIndex().row(), row);
        QCOMPARE(view.currentIndex().column(), 0);
        QCOMPARE(view.horizontalScrollBar()->value(), left);
    }
}

void TestRightView::keyboardContextMenuOpensAtTheCorner()
{
    CRightView view(m_settings, m_state);
    view.show();
    QList<QPoint> asked;
    connect(&view, &CRightView::ContextMenuWanted, this, [&](const QPoint &p) { asked.append(p); });
    QContextMenuEvent keyboard(QContextMenuEvent::Keyboard, QPoint(200, 100), QPoint(900, 900));
    QApplication::sendEvent(view.viewport(), &keyboard);
    QContextMenuEvent mouse(QContextMenuEvent::Mouse, QPoint(20, 30), QPoint(400, 300));
    QApplication::sendEvent(view.viewport(), &mouse);
    QCOMPARE(asked, (QList<QPoint>{view.viewport()->mapToGlobal(QPoint(5, 5)), QPoint(400, 300)}));
    m_state.scanning = 1;   // while a walk runs the list offers no menu
    QApplication::sendEvent(view.viewport(), &mouse);
    QCOMPARE(asked.size(), 2);
    m_state.scanning = 0;
}

void TestRightView::newListingStopsTheRunningOne()
{
    CRightView view(m_settings, m_state);
    m_state.subfolderMode = 1;
    view.ListFolder(m_big);
    m_state.subfolderMode = 0;
    view.ListFolder(m_dir.path());
    WaitIdle(view);
    QCOMPARE(view.Model()->rowCount(), 4);
    for (const auto &r : view.Model()->AllRows())
        QCOMPARE(r[Column::Path], m_dir.path() + QLatin1Char('/'));
}

void TestRightView::destroyingViewDuringWalk()
{
    {
        CRightView view(m_settings, m_state);
        m_state.subfolderMode = 1;
        view.ListFolder(m_big);
    }   // the view stops its worker and waits for it
    QCOMPARE(m_state.scanning.load(), 0);
    m_state.subfolderMode = 0;
}

void TestRightView::inputIgnoredWhileScanning()
{
    CRightView view(m_settings, m_state);
    view.resize(800, 300);
    view.show();
    view.ListFolder(m_dir.path());
    WaitIdle(view);
    m_state.scanning = 1;
    const QRect cell = view.visualRect(view.Model()->index(2, 0));
    QTest::mouseClick(view.viewport(), Qt::LeftButton, {}, cell.center());
    QVERIFY(view.selectionModel()->selectedRows().isEmpty());
    m_state.scanning = 0;
    QTest::mouseClick(view.viewport(), Qt::LeftButton, {}, cell.center());
    QCOMPARE(view.selectionModel()->selectedRows().size(), 1);
}

void TestRightView::columnLayoutRoundTrip()
{
    m_settings.columnVisible = QStringLiteral("1,0,1,");
    m_settings.columnWidths = QStringLiteral("150,35,90,");
    m_settings.grid = 0;
    CRightView view(m_settings, m_state);
    QVERIFY(!view.showGrid());
    QVERIFY(view.horizontalHeader()->isSectionHidden(1));
    QVERIFY(view.horizontalHeader()->isSectionHidden(5));   // missing entries read as hidden
    QCOMPARE(view.horizontalHeader()->sectionSize(0), 150);
    view.horizontalHeader()->resizeSection(2, 222);
    view.SaveColumnLayout();
    QCOMPARE(m_settings.columnWidths, QStringLiteral("150,0,222,0,0,0,0,0,0,0,"));
    QCOMPARE(m_settings.columnVisible, QStringLiteral("1,0,1,0,0,0,0,0,0,0,"));

    // At first start every header and a typical track text fit (the design widths were made for a smaller
    // font), and no column is narrower than its design width.
    m_settings = DefaultSettings();
    CRightView fresh(m_settings, m_state);
    const QFontMetrics header = fresh.horizontalHeader()->fontMetrics();
    const auto defs = DefaultColumnDefs();
    for (int c = 0; c < kColumnCount; ++c) {
        const int width = fresh.horizontalHeader()->sectionSize(c);
        QVERIFY(width >= defs[std::size_t(c)].width);
        QVERIFY2(width > header.horizontalAdvance(defs[std::size_t(c)].name) + 16, qPrintable(defs[std::size_t(c)].name));
    }
    QVERIFY(fresh.horizontalHeader()->sectionSize(int(Column::Track)) > fresh.fontMetrics().horizontalAdvance(QStringLiteral("12/12")));
}

void TestRightView::scanningDialogCaption()
{
    QString folder;
    CScanningDlg dialog([&] { return folder; });
    QCOMPARE(dialog.windowTitle(), QStringLiteral("Scanning..."));
    QTRY_COMPARE_WITH_TIMEOUT(dialog.windowTitle(), QStringLiteral("..."), 2000);
    folder = QStringLiteral("/media/music");
    QTRY_COMPARE_WITH_TIMEOUT(dialog.windowTitle(), QStringLiteral("/media/music..."), 2000);
    const auto *animation = dialog.findChild<ScanAnimation *>();
    QVERIFY(animation);
    const int frame = animation->Frame();
    QTRY_VERIFY_WITH_TIMEOUT(animation->Frame() != frame, 2000);
}

void TestRightView::dividerDragSavesLayout()
{
    CRightView view(m_settings, m_state);
    view.resize(1200, 300);
    view.show();
    QVERIFY(QTest::qWaitForWindowExposed(&view));
    QHeaderView *h = view.horizontalHeader();
    const int edge = h->sectionViewportPosition(0) + h->sectionSize(0) - 1;
    const int y = h->height() / 2;
    QTest::mousePress(h->viewport(), Qt::LeftButton, {}, QPoint(edge, y));
    QMouseEvent move(QEvent::MouseMove, QPointF(edge + 40, y), h->viewport()->mapToGlobal(QPointF(edge + 40, y)),
                     Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(h->viewport(), &move);
    QVERIFY(m_settings.columnWidths.isEmpty());   // nothing saved while the drag goes on
    QTest::mouseRelease(h->viewport(), Qt::LeftButton, {}, QPoint(edge + 40, y));
    QCOMPARE(ColumnListEntry(m_settings.columnWidths, 0), h->sectionSize(0));
    QVERIFY(h->sectionSize(0) > 120);
}

void TestRightView::computerScanCancelStopsAndSorts()
{
    CRightView view(m_settings, m_state);
    m_state.addListMode = 1;   // Scan All replaces the list all the same
    view.ListFolder(m_dir.path());
    WaitIdle(view);
    QCOMPARE(view.Model()->rowCount(), 4);
    QSignalSpy cleared(view.Model(), &QAbstractItemModel::modelReset);
    bool sawDialog = false;
    QTimer::singleShot(400, this, [&] {
        auto *dialog = qobject_cast<CScanningDlg *>(QApplication::activeModalWidget());
        sawDialog = dialog != nullptr;
        if (dialog)
            dialog->reject();
    });
    view.RunComputerScan();
    QVERIFY(sawDialog);
    QCOMPARE(view.CurrentFolder(), QString());
    QCOMPARE(m_state.subfolderMode.load(), 0);
    QTRY_VERIFY_WITH_TIMEOUT(!view.IsWalking() && m_state.scanning.load() == 0, 20000);
    QCOMPARE(cleared.size(), 1);
    m_state.addListMode = 0;
}

void TestRightView::newListingTakesTheHeadersOrder()
{
    CRightView view(m_settings, m_state);
    view.ListFolder(m_dir.path());
    WaitIdle(view);
    // Artist descending (two clicks), then Album as a further key, ascending.
    view.SortColumn(int(Column::Artist), false);
    view.SortColumn(int(Column::Artist), false);
    view.SortColumn(int(Column::Album), true);
    const QStringList before = ColumnTexts(view.Model(), Column::Artist);
    QCOMPARE(view.Header()->SortImage(int(Column::Artist)), -1);
    // A new listing arrives in folder order and is then put in the order the arrows show.
    view.ListFolder(m_dir.path());
    WaitIdle(view);
    QCOMPARE(ColumnTexts(view.Model(), Column::Artist), before);
    QCOMPARE(ColumnTexts(view.Model(), Column::Artist), (QStringList{"delta", "charlie", "Bravo", "Alpha"}));
    QCOMPARE(view.Header()->SortImage(int(Column::Artist)), -1);

    // A stopped listing is sorted by extension, then name, and both arrows say so.
    view.StopWalk();
    WaitIdle(view);
    QCOMPARE(view.Header()->SortImage(int(Column::Ext)), 1);
    QCOMPARE(view.Header()->SortImage(int(Column::Filename)), 1);
    QCOMPARE(view.Header()->SortImage(int(Column::Artist)), 0);
    QCOMPARE(ColumnTexts(view.Model(), Column::Filename), (QStringList{"t0", "t1", "t2", "t3"}));
}

void TestRightView::emptyListSaysWhatToDo()
{
    // A folder holding only folders lists nothing: the list says how to see what is below.
    CRightView view(m_settings, m_state);
    view.resize(600, 300);
    view.show();
    QVERIFY(QTest::qWaitForWindowExposed(&view));
    view.ListFolder(m_big);
    WaitIdle(view);
    QCOMPARE(view.Model()->rowCount(), 0);
    QCOMPARE(view.EmptyHint(), QStringLiteral("No files here. Ctrl+click a folder to list its subfolders too."));
    const QImage shot = view.viewport()->grab().toImage();
    const QColor background = shot.pixelColor(2, shot.height() - 2);
    bool painted = false;
    for (int y = 0; y < 40 && !painted; ++y) {
        for (int x = 0; x < shot.width() && !painted; ++x)
            painted = shot.pixelColor(x, y) != background;
    }
    QVERIFY(painted);
    // With rows there is no hint.
    view.ListFolder(m_dir.path());
    WaitIdle(view);
    QCOMPARE(view.EmptyHint(), QString());
}

QTEST_MAIN(TestRightView)
#include "tst_rightview.moc"
