#include "settings/appsettings.h"
#include "app/mainframe.h"
#include "settings/startup.h"
#include "res/resources.h"
#include "tracklist/rightview.h"
#include "library/tracklistmodel.h"
#include "settings/documentsfolder.h"
#include "tree/foldertreectrl.h"
#include "tree/leftview.h"
#include "library/scanstate.h"
#include "testmp3.h"
#include "fakeprompter.h"

#include <QtTest>
#include <QAction>
#include <QMenu>
#include <QMenuBar>
#include <QSplitter>
#include "app/trayicon.h"
#include <QLabel>
#include <QStatusBar>
#include <QDialog>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <QLineEdit>
#include "tracklist/filterbox.h"

class TestMainFrame : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void init();
    void startModes_data();
    void startModes();
    void offScreenWindowComesBack();
    void firstStartGeometry();
    void narrowTreePaneIsWidened();
    void saveLayoutNormalAndMaximised();
    void enableRulesFollowScanning();
    void statusPanes();
    void escRouting();
    void closeRules();
    void menusAndToolbar();
    void startsOnStoredFolder();
    void focusAtStartAndAfterListing();
    void firstStartShowsMusicUnderHome();
    void editTagOpensTheRightDialog();
    void contextMenu();
    void menuKeysRunTheirCommands();
    void dragOutForgetsACut();
    void undoAndRedoFromTheEditMenu();
    void filterBoxNarrowsTheList();
    void helpThatCannotOpenIsSaid();

private:
    std::unique_ptr<CMainFrame> Make(bool tray = true);
    QTemporaryDir m_dir;
    std::unique_ptr<QSettings> m_store;
    AppSettings m_settings;
    ScanState m_state;
};

void TestMainFrame::initTestCase()
{
    qputenv("XDG_STATE_HOME", QFile::encodeName(m_dir.filePath(QStringLiteral("state"))));   // this test's own journal
    InitGuiResources();
    QDir().mkpath(m_dir.filePath(QStringLiteral("Documents/Music")));
    testmp3::WriteFile(m_dir.filePath(QStringLiteral("Documents/Music/a.mp3")),
                       testmp3::Tag(testmp3::Frame("TIT2", testmp3::Latin1Body("A"))) + testmp3::Audio(1));
    testmp3::WriteFile(m_dir.filePath(QStringLiteral("Documents/Music/b.mp3")), testmp3::Audio(1));
    DocumentsFolder::SetCurrent(DocumentsFolder(m_dir.filePath(QStringLiteral("Documents"))));
}

void TestMainFrame::init()
{
    QFile::remove(m_dir.filePath(QStringLiteral("s.ini")));
    m_store = std::make_unique<QSettings>(m_dir.filePath(QStringLiteral("s.ini")), QSettings::IniFormat);
    m_settings = AppSettings();
    m_settings.Load(*m_store);
    m_state.scanning = 0;
    m_state.addListMode = 0;
    m_state.subfolderMode = 0;
    m_state.progressTick = -1;
}

std::unique_ptr<CMainFrame> TestMainFrame::Make(bool tray)
{
    auto frame = std::make_unique<CMainFrame>(m_settings, m_state, *m_store, tray);
    frame->LeftView()->Tree()->SetDriveSource([] {
        return std::vector<platform::Drive>{{QStringLiteral("/"), "", "ext4", platform::DriveKind::Fixed}};
    });
    frame->LeftView()->Tree()->FillRoots();
    return frame;
}

void TestMainFrame::startModes_data()
{
    QTest::addColumn<QString>("line");
    QTest::addColumn<int>("tray");
    QTest::addColumn<bool>("available");
    QTest::addColumn<int>("mode");
    QTest::newRow("plain") << "/usr/bin/tunegrove" << 1 << true << int(StartMode::Shown);
    QTest::newRow("StartUp, tray") << "/usr/bin/tunegrove StartUp" << 1 << true << int(StartMode::Hidden);
    QTest::newRow("StartUp, no tray setting") << "/usr/bin/tunegrove StartUp" << 0 << true << int(StartMode::Quit);
    QTest::newRow("StartUp, odd setting") << "/usr/bin/tunegrove StartUp" << 5 << true << int(StartMode::Shown);
    QTest::newRow("StartUp, no desktop tray") << "/usr/bin/tunegrove StartUp" << 1 << false << int(StartMode::Shown);
    QTest::newRow("case matters") << "/usr/bin/tunegrove startup" << 0 << true << int(StartMode::Shown);
    QTest::newRow("first character") << "StartUp" << 0 << true << int(StartMode::Shown);
    QTest::newRow("inside a word") << "/x/tunegrove --StartUpNow" << 1 << true << int(StartMode::Hidden);
}

void TestMainFrame::startModes()
{
    QFETCH(QString, line);
    QFETCH(int, tray);
    QFETCH(bool, available);
    QFETCH(int, mode);
    QCOMPARE(int(DecideStartMode(line, tray, available)), mode);
}

void TestMainFrame::offScreenWindowComesBack()
{
    const QList<QRect> screens{QRect(0, 0, 1920, 1080), QRect(1920, 0, 1280, 1024)};
    QCOMPARE(PlaceOnScreen(QRect(2000, 100, 600, 400), screens, screens[0]), QRect(2000, 100, 600, 400));
    QCOMPARE(PlaceOnScreen(QRect(-5, -5, 600, 400), screens, screens[0]), QRect(-5, -5, 600, 400));
    QCOMPARE(PlaceOnScreen(QRect(5000, 3000, 600, 400), screens, screens[0]), QRect(25, 60, 600, 400));
    QCOMPARE(PlaceOnScreen(QRect(5000, 3000, 4000, 400), screens, screens[0]), QRect(0, 0, 1920, 400));
    // A size no screen holds, far over the edges: fitted to the screen it is mostly on, its corner on screen.
    QCOMPARE(PlaceOnScreen(QRect(-6145, -6145, 32767, 32767), screens, screens[0]), QRect(0, 0, 1920, 1080));
    QCOMPARE(PlaceOnScreen(QRect(1800, 500, 600, 900), screens, screens[0]), QRect(1920, 124, 600, 900));
    QCOMPARE(PlaceOnScreen(QRect(100, -300, 600, 400), screens, screens[0]), QRect(100, 0, 600, 400));
}

void TestMainFrame::firstStartGeometry()
{
    auto frame = Make();
    frame->ShowAtStart(false);
    QVERIFY(QTest::qWaitForWindowExposed(frame.get()));
    QCOMPARE(frame->geometry(), QRect(25, 60, 600, 440));
    QCOMPARE(frame->Splitter()->sizes().value(0), 190);
    QCOMPARE(frame->windowTitle(), QStringLiteral("Tunegrove"));
}

void TestMainFrame::narrowTreePaneIsWidened()
{
    m_settings.leftViewWidth = 50;
    auto frame = Make();
    frame->ShowAtStart(false);
    QVERIFY(QTest::qWaitForWindowExposed(frame.get()));
    QCOMPARE(frame->Splitter()->sizes().value(0), 120);
    frame->SaveLayout();
    QCOMPARE(m_store->value(QStringLiteral("Settings/LeftViewWidth")).toInt(), 120);
}

void TestMainFrame::saveLayoutNormalAndMaximised()
{
    {
        auto frame = Make();
        frame->ShowAtStart(false);
        QVERIFY(QTest::qWaitForWindowExposed(frame.get()));
        frame->setGeometry(40, 70, 700, 500);
        frame->SaveLayout();
        QCOMPARE(m_settings.maxWindow, 0);
        QCOMPARE(QList<int>({m_settings.x, m_settings.y, m_settings.cx, m_settings.cy}), QList<int>({40, 70, 700, 500}));
    }
    m_settings.maxWindow = 1;
    auto frame = Make();
    frame->ShowAtStart(false);
    QVERIFY(frame->isMaximized());
    frame->SaveLayout();
    QCOMPARE(m_settings.maxWindow, 1);
    QCOMPARE(QList<int>({m_settings.x, m_settings.y, m_settings.cx, m_settings.cy}), QList<int>({40, 70, 700, 500}));
    AppSettings reloaded;
    reloaded.Load(*m_store);
    QCOMPARE(reloaded.maxWindow, 1);
    QCOMPARE(reloaded.cx, 700);
}

void TestMainFrame::enableRulesFollowScanning()
{
    auto frame = Make();
    CommandTable &c = frame->Commands();
    frame->UpdateIdle();
    QVERIFY(c.IsEnabled(kCmdScanAll));
    QVERIFY(!c.IsEnabled(kCmdStopScan));
    QVERIFY(c.Actions(kCmdScanAll).first()->isEnabled());
    m_state.scanning = 1;
    frame->UpdateIdle();
    QVERIFY(!c.IsEnabled(kCmdScanAll));
    QVERIFY(c.IsEnabled(kCmdStopScan));
    for (QAction *a : c.Actions(kCmdScanAll))
        QVERIFY(!a->isEnabled());
    for (QAction *a : c.Actions(kCmdStopScan))
        QVERIFY(a->isEnabled());
    QVERIFY(!c.IsEnabled(kCmdOptions));
    QVERIFY(!c.IsEnabled(kCmdPrint));
    m_state.scanning = 0;

    // With a selected MP3 row: the list's commands follow the scanning flag as their rules say.
    frame->RightView()->ListFolder(m_dir.filePath(QStringLiteral("Documents/Music")));
    QTRY_VERIFY_WITH_TIMEOUT(frame->RightView()->Model()->rowCount() == 2 && m_state.scanning.load() == 0, 10000);
    frame->RightView()->selectRow(0);
    const int scanBound[] = {kCmdRemoveFiles, kCmdCopyTo, kCmdMoveTo, kCmdRemoveFromList, kCmdCut, kCmdCopy,
                             kCmdNormalize, kCmdSelectAll};
    const int always[] = {kCmdEditTag, kCmdSelectAllRows, kCmdClearSelection, kCmdRename};
    frame->UpdateIdle();
    for (const int id : scanBound)
        QVERIFY2(c.IsEnabled(id), qPrintable(QString::number(id)));
    m_state.scanning = 1;
    frame->UpdateIdle();
    for (const int id : scanBound)
        QVERIFY2(!c.IsEnabled(id), qPrintable(QString::number(id)));
    for (const int id : always)
        QVERIFY2(c.IsEnabled(id), qPrintable(QString::number(id)));
    QVERIFY(!c.IsEnabled(kCmdGropeEdit));
    m_state.scanning = 0;

    // Add List Mode toggles and shows its check.
    QVERIFY(c.Execute(kCmdAddListMode));
    QCOMPARE(m_state.addListMode.load(), 1);
    QVERIFY(c.Actions(kCmdAddListMode).first()->isChecked());
    QVERIFY(c.Execute(kCmdAddListMode));
    QCOMPARE(m_state.addListMode.load(), 0);
    frame->RightView()->clearSelection();
    frame->UpdateIdle();
    QVERIFY(!c.Execute(kCmdEditTag));   // no MP3 row selected: greyed, does nothing
}

void TestMainFrame::statusPanes()
{
    auto frame = Make();
    frame->show();
    QVERIFY(QTest::qWaitForWindowExposed(frame.get()));
    frame->UpdateIdle();
    QCOMPARE(frame->PaneText(0), QStringLiteral("Current Path: "));
    QCOMPARE(frame->PaneText(1), QStringLiteral("Subdir: No"));
    QCOMPARE(frame->PaneText(2), QStringLiteral("AddList: No"));
    QCOMPARE(frame->PaneText(3), QStringLiteral("Mp3: 0"));
    QCOMPARE(frame->PaneText(4), QStringLiteral("Mp3`s selected: 0"));

    QTest::keyPress(frame->windowHandle(), Qt::Key_Control, Qt::ControlModifier);
    frame->UpdateIdle();
    QCOMPARE(frame->PaneText(1), QStringLiteral("Subdir: Yes"));
    QTest::keyRelease(frame->windowHandle(), Qt::Key_Control, Qt::NoModifier);
    frame->UpdateIdle();
    QCOMPARE(frame->PaneText(1), QStringLiteral("Subdir: No"));

    m_state.addListMode = 1;
    frame->UpdateIdle();
    QCOMPARE(frame->PaneText(2), QStringLiteral("AddList: Yes"));
    m_state.addListMode = 0;

    frame->RightView()->ListFolder(m_dir.filePath(QStringLiteral("Documents/Music")));
    QTRY_COMPARE_WITH_TIMEOUT(frame->RightView()->Model()->rowCount(), 2, 10000);
    QTRY_VERIFY(frame->LeftView()->isEnabled());
    frame->RightView()->selectRow(1);
    frame->UpdateIdle();
    QCOMPARE(frame->PaneText(0), QStringLiteral("Current Path: ") + m_dir.filePath(QStringLiteral("Documents/Music")));
    QCOMPARE(frame->PaneText(3), QStringLiteral("Mp3: 2"));
    QCOMPARE(frame->PaneText(4), QStringLiteral("Mp3`s selected: 1"));

    // A command's prompt shows in pane 0 only; the other panes stay where they are.
    QList<QRect> places;
    for (QLabel *label : frame->statusBar()->findChildren<QLabel *>())
        places.append(label->isVisible() ? label->geometry() : QRect());
    QStatusTipEvent hover(QStringLiteral("Show Options Dialog"));
    QApplication::sendEvent(frame.get(), &hover);
    QCOMPARE(frame->PaneText(0), QStringLiteral("Show Options Dialog"));
    QCOMPARE(frame->statusBar()->currentMessage(), QString());
    QList<QRect> after;
    for (QLabel *label : frame->statusBar()->findChildren<QLabel *>())
        after.append(label->isVisible() ? label->geometry() : QRect());
    QCOMPARE(after.mid(1), places.mid(1));
    QStatusTipEvent leave{QString()};
    QApplication::sendEvent(frame.get(), &leave);
    QVERIFY(frame->PaneText(0).startsWith(QLatin1String("Current Path: ")));
    // A prompt whose clearing event never came (a tooltip took it) goes once the pointer is off the toolbar.
    QApplication::sendEvent(frame.get(), &hover);
    QCursor::setPos(frame->RightView()->mapToGlobal(frame->RightView()->rect().center()));
    frame->UpdateIdle();
    QVERIFY(frame->PaneText(0).startsWith(QLatin1String("Current Path: ")));
}

void TestMainFrame::escRouting()
{
    auto frame = Make();
    frame->show();
    QVERIFY(QTest::qWaitForWindowExposed(frame.get()));
    frame->RightView()->ListFolder(m_dir.filePath(QStringLiteral("Documents/Music")));
    QTRY_VERIFY_WITH_TIMEOUT(frame->RightView()->Model()->rowCount() == 2 && m_state.scanning.load() == 0, 10000);
    QTRY_VERIFY(frame->LeftView()->isEnabled());

    frame->RightView()->setFocus();
    frame->RightView()->selectAll();
    QTest::keyClick(frame->windowHandle(), Qt::Key_Escape);
    QVERIFY(frame->RightView()->selectionModel()->selectedRows().isEmpty());

    // From the tree, Esc stops a running listing.
    frame->LeftView()->Tree()->setFocus();
    QTRY_VERIFY(frame->LeftView()->Tree()->hasFocus());
    frame->RightView()->selectAll();
    m_state.scanning = 1;
    m_state.subfolderMode = 1;
    frame->UpdateIdle();
    QTest::keyClick(frame->windowHandle(), Qt::Key_Escape);
    QCOMPARE(m_state.subfolderMode.load(), 0);   // StopWalk ran
    QCOMPARE(frame->RightView()->selectionModel()->selectedRows().size(), 2);
    m_state.scanning = 0;
}

void TestMainFrame::closeRules()
{
    {
        // With a tray: closing saves and hides; the program goes on.
        auto frame = Make(true);
        QSignalSpy quit(frame.get(), &CMainFrame::QuitRequested);
        frame->show();
        QVERIFY(frame->TrayIcon()->isVisible());
        frame->setGeometry(30, 80, 640, 480);
        QVERIFY(!frame->close());
        QVERIFY(!frame->isVisible());
        QCOMPARE(quit.size(), 0);
        QCOMPARE(m_store->value(QStringLiteral("Settings/cx")).toInt(), 640);
        frame->ShowFromTray();
        QVERIFY(frame->isVisible());

        // The tray's Close ends without saving.
        frame->setGeometry(30, 80, 800, 480);
        frame->Commands().Execute(kCmdTrayClose);
        QCOMPARE(quit.size(), 1);
        QCOMPARE(m_store->value(QStringLiteral("Settings/cx")).toInt(), 640);
    }
    {
        // Without a desktop tray the window never hides: closing saves and quits.
        auto frame = Make(false);
        QSignalSpy quit(frame.get(), &CMainFrame::QuitRequested);
        frame->show();
        QVERIFY(!frame->TrayIcon()->isVisible());
        frame->setGeometry(30, 80, 660, 480);
        frame->close();
        QCOMPARE(quit.size(), 1);
        QCOMPARE(m_store->value(QStringLiteral("Settings/cx")).toInt(), 660);
    }
    {
        // Exit saves and quits whatever the tray setting.
        auto frame = Make(true);
        QSignalSpy quit(frame.get(), &CMainFrame::QuitRequested);
        frame->show();
        frame->setGeometry(30, 80, 680, 480);
        frame->Commands().Execute(kCmdExit);
        QCOMPARE(quit.size(), 1);
        QCOMPARE(m_store->value(QStringLiteral("Settings/cx")).toInt(), 680);
    }
}

void TestMainFrame::menusAndToolbar()
{
    auto frame = Make();
    QStringList menus;
    QStringList entries;
    for (QAction *menu : frame->menuBar()->actions()) {
        menus << menu->text();
        for (QAction *entry : menu->menu()->actions()) {
            if (!entry->isSeparator())
                entries << entry->text();
        }
    }
    QCOMPARE(menus, (QStringList{"&File", "&Edit", "&View", "Tools", "&Help"}));
    for (const char *text : {"Save As (Create Report)...", "&Print...", "E&dit Tag\tCtrl+E",
                             "Remove from List", "&Remove File(s)\tShift+Del", "Add List Mode\tF3",
                             "Stop Scan\tCtrl+S", "Normalize Text in Tag", "&About Program...", "Help...\tF1"})
        QVERIFY2(entries.contains(QString::fromLatin1(text)), text);
    QCOMPARE(entries.size(), 31);

    QStringList captions;
    for (QAction *a : frame->ToolBar()->actions()) {
        if (!a->isSeparator())
            captions << a->text();
    }
    QCOMPARE(captions, (QStringList{"Play", "Edit", "Hide", "Options", "Print", "About", "Website"}));
    for (QAction *a : frame->ToolBar()->actions()) {
        if (auto *button = qobject_cast<QToolButton *>(frame->ToolBar()->widgetForAction(a)))
            QCOMPARE(button->height(), 55);
    }
    frame->UpdateIdle();
    QVERIFY(!frame->Commands().Actions(kCmdPlay).first()->isEnabled());
    QVERIFY(frame->Commands().Actions(kCmdAbout).first()->isEnabled());
}

void TestMainFrame::startsOnStoredFolder()
{
    m_settings.treePath = QStringLiteral("Documents/Music");
    auto frame = Make();
    frame->InitialUpdate();
    QTRY_COMPARE_WITH_TIMEOUT(frame->RightView()->Model()->rowCount(), 2, 10000);
    QTRY_VERIFY(frame->LeftView()->isEnabled());
    frame->SaveLayout();
    QCOMPARE(m_store->value(QStringLiteral("Settings/TreePath")).toString(), QStringLiteral("Documents/Music"));

    m_settings.treePath = QStringLiteral("Documents/Vanished");
    auto second = Make();
    second->InitialUpdate();
    QVERIFY(second->LeftView()->Tree()->selectedItems().isEmpty());
    QCOMPARE(second->RightView()->Model()->rowCount(), 0);
}

void TestMainFrame::focusAtStartAndAfterListing()
{
    // The list is the active pane at start-up; after a listing the tree answers the keys again.
    m_settings.treePath = QStringLiteral("Documents/Music");
    auto frame = Make();
    frame->show();
    QVERIFY(QTest::qWaitForWindowActive(frame.get()));
    frame->InitialUpdate();
    QTRY_VERIFY(frame->LeftView()->isEnabled());
    QCOMPARE(QApplication::focusWidget(), static_cast<QWidget *>(frame->RightView()));

    CFolderTreeCtrl *tree = frame->LeftView()->Tree();
    tree->setFocus();
    QTRY_VERIFY(tree->hasFocus());
    QTest::keyClick(tree, Qt::Key_Up);   // another folder: a new listing disables the tree for a while
    QTRY_VERIFY_WITH_TIMEOUT(frame->LeftView()->isEnabled() && m_state.scanning.load() == 0, 10000);
    QTRY_VERIFY(tree->hasFocus());
}

void TestMainFrame::firstStartShowsMusicUnderHome()
{
    // The tree's top folder is the home folder, "Home"; with no stored folder the first window lists ~/Music.
    QTemporaryDir home;
    QDir(home.path()).mkpath(QStringLiteral("Music"));
    QVERIFY(testmp3::WriteFile(home.filePath(QStringLiteral("Music/song.mp3")), testmp3::Audio(1)));
    const QByteArray oldHome = qgetenv("HOME"), oldConfig = qgetenv("XDG_CONFIG_HOME");
    qputenv("HOME", QFile::encodeName(home.path()));
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(home.filePath(QStringLiteral(".config"))));
    const DocumentsFolder top = DocumentsFolder::FromSystem();
    const DocumentsFolder saved = DocumentsFolder::Current();
    DocumentsFolder::SetCurrent(top);
    QCOMPARE(top.Name(), QStringLiteral("Home"));
    QCOMPARE(top.ToTreeForm(home.filePath(QStringLiteral("Music"))), QStringLiteral("Home/Music"));

    QVERIFY(!m_settings.treePathStored);
    auto frame = Make();
    frame->InitialUpdate();
    QTRY_COMPARE_WITH_TIMEOUT(frame->RightView()->Model()->rowCount(), 1, 10000);
    QTRY_VERIFY(frame->LeftView()->isEnabled());
    frame->SaveLayout();
    QCOMPARE(m_store->value(QStringLiteral("Settings/TreePath")).toString(), QStringLiteral("Home/Music"));

    DocumentsFolder::SetCurrent(saved);
    qputenv("HOME", oldHome);
    if (oldConfig.isEmpty())
        qunsetenv("XDG_CONFIG_HOME");
    else
        qputenv("XDG_CONFIG_HOME", oldConfig);
}

void TestMainFrame::editTagOpensTheRightDialog()
{
    // Ctrl+E: one selected row opens the tag dialog, several the group edit.
    auto frame = Make();
    frame->show();
    QVERIFY(QTest::qWaitForWindowActive(frame.get()));
    frame->RightView()->ListFolder(m_dir.filePath(QStringLiteral("Documents/Music")));
    QTRY_VERIFY_WITH_TIMEOUT(frame->RightView()->Model()->rowCount() == 2 && m_state.scanning.load() == 0, 10000);
    frame->RightView()->setFocus();
    for (const auto &[rows, caption] : {std::pair{1, QStringLiteral("Tag  Information")}, std::pair{2, QStringLiteral("Grope Edit")}}) {
        frame->RightView()->clearSelection();
        for (int r = 0; r < rows; ++r)
            frame->RightView()->selectionModel()->select(frame->RightView()->Model()->index(r, 0),
                                                         QItemSelectionModel::Select | QItemSelectionModel::Rows);
        frame->UpdateIdle();
        frame->activateWindow();
        QTRY_VERIFY(frame->isActiveWindow());
        QString seen;
        QTimer::singleShot(0, [&seen] {
            if (QWidget *modal = QApplication::activeModalWidget()) {
                seen = modal->windowTitle();
                static_cast<QDialog *>(modal)->reject();
            }
        });
        QTest::keyClick(frame->RightView(), Qt::Key_E, Qt::ControlModifier);
        QCOMPARE(seen, caption);
    }
}

void TestMainFrame::contextMenu()
{
    auto frame = Make();
    QMenu *menu = frame->ContextMenu();
    QStringList texts;
    for (QAction *a : menu->actions())
        texts << (a->isSeparator() ? QStringLiteral("-") : a->text());
    QCOMPARE(texts, (QStringList{"Play File(s)\tCtrl+P", "-", "E&dit Tag\tCtrl+E", "&Grope Edit (Tags)", "-",
                                 "Rename File(s) Using Tag\tAlt+R", "Tag from File &Name...\tAlt+N", "-", "Copy File(s) To", "Move File(s) To",
                                 "&Remove File(s)\tShift+Del", "-", "Cut\tCtrl+X", "Copy\tCtrl+C", "Paste\tCtrl+V"}));
    Q_EMIT menu->aboutToShow();
    QVERIFY(!menu->actions()[3]->isEnabled());   // Grope Edit has no handler
    QCOMPARE(menu->defaultAction(), menu->actions()[2]);   // DblClickEdit 1: Edit Tag is the bold entry
    m_settings.dblClickEdit = 0;
    Q_EMIT menu->aboutToShow();
    QCOMPARE(menu->defaultAction(), menu->actions()[0]);

    // Shift+F10 opens it from the keyboard, as the Menu key does, at the list's corner.
    frame->show();
    QVERIFY(QTest::qWaitForWindowActive(frame.get()));
    frame->RightView()->setFocus();
    QTest::keyClick(frame->RightView(), Qt::Key_F10, Qt::ShiftModifier);
    QTRY_VERIFY(menu->isVisible());
    QCOMPARE(menu->pos(), frame->RightView()->viewport()->mapToGlobal(QPoint(5, 5)));
    menu->hide();
}

void TestMainFrame::menuKeysRunTheirCommands()
{
    // Every key a menu entry names is a key of the window that runs that entry's command (Select All's Ctrl+A
    // runs the select-every-row command, which does the same while the list is idle).
    auto frame = Make();
    const QHash<int, int> sameEffect{{kCmdSelectAll, kCmdSelectAllRows}};
    QList<QAction *> entries;
    for (QAction *menu : frame->menuBar()->actions())
        entries += menu->menu()->actions();
    entries += frame->ContextMenu()->actions();
    int named = 0;
    for (QAction *entry : entries) {
        const qsizetype tab = entry->text().indexOf(QLatin1Char('\t'));
        if (tab < 0)
            continue;
        const QKeySequence key = QKeySequence::fromString(entry->text().mid(tab + 1), QKeySequence::PortableText);
        QVERIFY2(!key.isEmpty(), qPrintable(entry->text()));
        int id = -1;
        for (const int candidate : {kCmdUndo, kCmdRedo, kCmdSaveReport, kCmdPrint, kCmdEditTag, kCmdRename, kCmdRemoveFromList, kCmdCopyTo,
                                    kCmdMoveTo, kCmdRemoveFiles, kCmdAddListMode, kCmdCut, kCmdCopy, kCmdPaste,
                                    kCmdSelectAll, kCmdRefresh, kCmdOptions, kCmdPlay, kCmdScanAll, kCmdStopScan,
                                    kCmdNormalize, kCmdAbout, kCmdHomepage, kCmdHelp, kCmdFind, kCmdTagFromName}) {
            if (frame->Commands().Actions(candidate).contains(entry))
                id = candidate;
        }
        QVERIFY2(id >= 0, qPrintable(entry->text()));
        const QList<QAction *> runners = frame->Commands().Actions(sameEffect.value(id, id));
        bool found = false;
        for (QAction *accelerator : frame->actions())
            found = found || (accelerator->shortcut() == key && runners.contains(accelerator));
        QVERIFY2(found, qPrintable(entry->text()));
        ++named;
    }
    QCOMPARE(named, 26);
}

void TestMainFrame::dragOutForgetsACut()
{
    // Cut, then the files dragged out of the list: Paste no longer moves them. Pasting into the folder they are in
    // is then a copy onto themselves, which is refused with a word (a pending Cut would do nothing at all).
    auto frame = Make();
    FakePrompter prompter;
    Prompter::SetCurrent(&prompter);
    frame->RightView()->ListFolder(m_dir.filePath(QStringLiteral("Documents/Music")));
    QTRY_COMPARE_WITH_TIMEOUT(frame->RightView()->Model()->rowCount(), 2, 10000);
    QTRY_VERIFY(frame->LeftView()->isEnabled() && m_state.scanning.load() == 0);
    frame->RightView()->selectionModel()->select(frame->RightView()->Model()->index(0, 0),
                                                 QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    QVERIFY(frame->Commands().Execute(kCmdCut));
    Q_EMIT frame->RightView()->DragStarted();
    frame->UpdateIdle();
    QVERIFY(frame->Commands().Execute(kCmdPaste));
    Prompter::SetCurrent(nullptr);
    QCOMPARE(prompter.texts.size(), 1);
    QVERIFY2(prompter.texts[0].endsWith(QLatin1String("copy to itself. Ignore")), qPrintable(prompter.texts[0]));
    QCOMPARE(QDir(m_dir.filePath(QStringLiteral("Documents/Music"))).entryList(QDir::Files).size(), 2);
}

void TestMainFrame::undoAndRedoFromTheEditMenu()
{
    // Normalize through the window, then Ctrl+Z: the file is as it was, the row shows it, and the menu names
    // what Undo and Redo would do.
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("loud.mp3"));
    const QByteArray original = testmp3::Tag(testmp3::Frame("TIT2", testmp3::Latin1Body("the LOUD song"))) + testmp3::Audio(2);
    QVERIFY(testmp3::WriteFile(path, original));
    auto frame = Make();
    FakePrompter prompter;
    Prompter::SetCurrent(&prompter);
    frame->RightView()->ListFolder(dir.path());
    QTRY_VERIFY_WITH_TIMEOUT(frame->LeftView()->isEnabled() && m_state.scanning.load() == 0 &&
                                 frame->RightView()->Model()->rowCount() == 1, 10000);
    frame->RightView()->selectionModel()->select(frame->RightView()->Model()->index(0, 0),
                                                 QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    QVERIFY(frame->Commands().Execute(kCmdNormalize));
    QCOMPARE(frame->RightView()->Model()->Row(0)[Column::Title], QStringLiteral("The Loud Song"));
    const QAction *undo = frame->Commands().Actions(kCmdUndo).front();
    QVERIFY(undo->isEnabled());
    QCOMPARE(undo->text(), QStringLiteral("&Undo Normalize Text in Tag\tCtrl+Z"));
    QVERIFY(frame->Commands().Execute(kCmdUndo));
    QCOMPARE(testmp3::ReadFile(path), original);
    QCOMPARE(frame->RightView()->Model()->Row(0)[Column::Title], QStringLiteral("the LOUD song"));
    QVERIFY(!frame->Commands().IsEnabled(kCmdUndo) || undo->text() != QStringLiteral("&Undo Normalize Text in Tag\tCtrl+Z"));
    QCOMPARE(frame->Commands().Actions(kCmdRedo).front()->text(), QStringLiteral("&Redo Normalize Text in Tag\tCtrl+Shift+Z"));
    QVERIFY(frame->Commands().Execute(kCmdRedo));
    QCOMPARE(frame->RightView()->Model()->Row(0)[Column::Title], QStringLiteral("The Loud Song"));
    // An undo reaches the row of a file the filter hides: it shows the old title once the filter is gone.
    TrackFilter hideIt;
    QVERIFY(hideIt.Parse(QStringLiteral("-loud")));
    frame->RightView()->SetFilter(hideIt);
    QCOMPARE(frame->RightView()->Model()->rowCount(), 0);
    QVERIFY(frame->Commands().Execute(kCmdUndo));
    QCOMPARE(testmp3::ReadFile(path), original);
    frame->RightView()->SetFilter(TrackFilter());
    QCOMPARE(frame->RightView()->Model()->Row(0)[Column::Title], QStringLiteral("the LOUD song"));
    Prompter::SetCurrent(nullptr);
    QVERIFY2(prompter.texts.isEmpty(), qPrintable(prompter.texts.join(QLatin1Char('|'))));
}


void TestMainFrame::filterBoxNarrowsTheList()
{
    const QString folder = m_dir.filePath(QStringLiteral("Documents/Filter"));
    QDir().mkpath(folder);
    const QStringList titles{QStringLiteral("Zoé"), QStringLiteral("Rock"), QStringLiteral("Zoe Live"),
                             QStringLiteral("Other")};
    for (int i = 0; i < titles.size(); ++i)
        testmp3::WriteFile(QStringLiteral("%1/%2.mp3").arg(folder).arg(i),
                           testmp3::Tag(testmp3::Frame("TIT2", testmp3::Utf16Body(titles[i]))) + testmp3::Audio(1));
    FakePrompter prompter;
    Prompter::SetCurrent(&prompter);
    const auto restore = qScopeGuard([] { Prompter::SetCurrent(nullptr); });
    auto frame = Make();
    frame->show();
    QVERIFY(QTest::qWaitForWindowExposed(frame.get()));
    CRightView *view = frame->RightView();
    QLineEdit *box = frame->FilterBox()->Edit();
    view->ListFolder(folder);
    QTRY_VERIFY_WITH_TIMEOUT(view->Model()->rowCount() == 4 && m_state.scanning.load() == 0, 10000);
    QTRY_VERIFY(frame->LeftView()->isEnabled());

    // Ctrl+F reaches the box from the list; typed keys narrow the list at once.
    view->setFocus();
    view->selectAll();
    QTest::keyClick(frame->windowHandle(), Qt::Key_F, Qt::ControlModifier);
    QTRY_VERIFY(box->hasFocus());
    QTest::keyClicks(box, QStringLiteral("zoe"));
    QTRY_COMPARE(view->Model()->rowCount(), 2);
    QCOMPARE(view->SelectedRows().size(), 2);   // the selected rows still shown stay selected
    frame->UpdateIdle();
    QCOMPARE(frame->PaneText(3), QStringLiteral("Mp3: 2 of 4"));

    // Keys the window takes for commands edit the box while it has the focus: Delete removes a character, not
    // the selected files; Ctrl+A selects the box's text, not the rows.
    QTest::keyClick(frame->windowHandle(), Qt::Key_Home);
    QTest::keyClick(frame->windowHandle(), Qt::Key_Delete);
    QCOMPARE(box->text(), QStringLiteral("oe"));
    QVERIFY(prompter.texts.isEmpty());
    QCOMPARE(QDir(folder).entryList(QDir::Files).size(), 4);
    QTest::keyClick(frame->windowHandle(), Qt::Key_A, Qt::ControlModifier);
    QCOMPARE(box->selectedText(), QStringLiteral("oe"));
    QTest::keyClicks(box, QStringLiteral("live"));
    QTRY_COMPARE(view->Model()->rowCount(), 1);

    // A text that does not parse says why and keeps the rows of the last one.
    QTest::keyClicks(box, QStringLiteral(" \"x"));
    QTRY_VERIFY(!frame->FilterBox()->ErrorText().isEmpty());
    QCOMPARE(view->Model()->rowCount(), 1);
    box->setText(QStringLiteral("-live"));
    QTRY_COMPARE(view->Model()->rowCount(), 3);
    QVERIFY(frame->FilterBox()->ErrorText().isEmpty());

    // Select All and Remove from List reach the shown rows only.
    view->setFocus();
    QTest::keyClick(frame->windowHandle(), Qt::Key_A, Qt::ControlModifier);
    QCOMPARE(view->SelectedRows().size(), 3);
    frame->Commands().Execute(kCmdRemoveFromList);
    QCOMPARE(view->Model()->rowCount(), 0);
    QCOMPARE(view->Model()->TotalRows(), 1);
    QVERIFY(view->EmptyHint().contains(QLatin1String("filter")));

    // A listing under the filter shows only the rows that match as they arrive.
    view->ListFolder(folder);
    QTRY_VERIFY_WITH_TIMEOUT(m_state.scanning.load() == 0 && frame->LeftView()->isEnabled(), 10000);
    QCOMPARE(view->Model()->rowCount(), 3);
    QCOMPARE(view->Model()->TotalRows(), 4);

    // Esc empties the box, shows every row and gives the focus back to the list.
    box->setFocus();
    QTRY_VERIFY(box->hasFocus());
    view->selectionModel()->clear();
    view->selectRow(0);
    QTest::keyClick(frame->windowHandle(), Qt::Key_Escape);
    QCOMPARE(box->text(), QString());
    QCOMPARE(view->Model()->rowCount(), 4);
    QTRY_VERIFY(view->hasFocus());
    QCOMPARE(view->SelectedRows().size(), 1);   // the window's Esc (clear the selection) did not run
    frame->UpdateIdle();
    QCOMPARE(frame->PaneText(3), QStringLiteral("Mp3: 4"));
}

void TestMainFrame::helpThatCannotOpenIsSaid()
{
    // The test's desktop has no browser (and the help may not stand beside a test program): F1 says why.
    auto frame = Make();
    frame->show();
    QVERIFY(QTest::qWaitForWindowExposed(frame.get()));
    FakePrompter prompter;
    Prompter::SetCurrent(&prompter);
    QTest::keyClick(frame->windowHandle(), Qt::Key_F1);
    Prompter::SetCurrent(nullptr);
    QCOMPARE(prompter.texts.size(), 1);
    QVERIFY2(prompter.texts[0].startsWith(QLatin1String("The help could not be opened")), qPrintable(prompter.texts[0]));
}

QTEST_MAIN(TestMainFrame)
#include "tst_mainframe.moc"
