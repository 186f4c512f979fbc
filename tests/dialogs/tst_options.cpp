// The Options command: extensions, the grid, columns hidden by dragging, Cancel, the tray.

#include "dialogs/optionsdlg.h"
#include "library/scanstate.h"
#include "res/resources.h"
#include "settings/appsettings.h"
#include "tracklist/rightview.h"
#include "fakeprompter.h"
#include "testdesktop.h"

#include <QtTest>

#include <QCheckBox>
#include <QHeaderView>
#include <QLineEdit>

class TestOptions : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void init();
    void extensions();
    void gridTogglesOnlyOnChange();
    void columnsHiddenByDragging();
    void cancelChangesNothingButTheLookup();
    void trayFollowsTheBox();

private:
    bool Run(const std::function<void(COptionsSheet &)> &change, bool ok = true);

    QTemporaryDir m_dir;
    std::unique_ptr<QSettings> m_store;
    AppSettings m_settings;
    ScanState m_state;
    std::unique_ptr<CRightView> m_view;
    FakePrompter m_prompter;
    int m_refreshes = 0;
    int m_trayChanges = 0;
};

void TestOptions::initTestCase()
{
    InitGuiResources();
    Prompter::SetCurrent(&m_prompter);
    qputenv("XDG_DATA_HOME", QFile::encodeName(m_dir.filePath(QStringLiteral("data"))));   // no desktop player
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_dir.filePath(QStringLiteral("config"))));
    testdesktop::UseOwnDesktop(m_dir.filePath(QStringLiteral("desktop")));
}

void TestOptions::init()
{
    QFile::remove(m_dir.filePath(QStringLiteral("s.ini")));
    m_store = std::make_unique<QSettings>(m_dir.filePath(QStringLiteral("s.ini")), QSettings::IniFormat);
    m_settings = AppSettings();
    m_settings.Load(*m_store);
    m_view = std::make_unique<CRightView>(m_settings, m_state);
    m_prompter = FakePrompter();
    m_refreshes = m_trayChanges = 0;
}

bool TestOptions::Run(const std::function<void(COptionsSheet &)> &change, bool ok)
{
    RunOptions(*m_view, m_settings, *m_store, [this] { ++m_refreshes; }, [this] { ++m_trayChanges; }, nullptr,
               [&](COptionsSheet &sheet) {
                   change(sheet);
                   return ok;
               });
    return ok;
}

void TestOptions::extensions()
{
    // Every extension box cleared: one warning, and exactly mp3.
    Run([](COptionsSheet &s) {
        QVERIFY(s.general->other->isChecked());   // other audio is on at first
        for (QCheckBox *box : {s.general->mp3, s.general->wav, s.general->mid, s.general->avi, s.general->mpg, s.general->all,
                               s.general->other})
            box->setChecked(false);
    });
    QCOMPARE(m_prompter.texts, QStringList{QStringLiteral("Options warning: At least one file extension must be set. Mp3 is assumed.")});
    QCOMPARE(m_settings.mp3Ext, 1);
    QVERIFY(m_view->IsExtensionAccepted(QStringLiteral("MP3")));
    QVERIFY(!m_view->IsExtensionAccepted(QStringLiteral("wav")));
    QCOMPARE(m_refreshes, 1);

    // All Multimedia with mp3: the fifteen; reopened, All Multimedia ticked and the five cleared and disabled.
    Run([](COptionsSheet &s) {
        s.general->all->click();
        s.general->mp3->setChecked(true);
    });
    for (const char *ext : {"mp3", "wav", "mid", "midi", "avi", "mpg", "mpeg"})
        QVERIFY2(m_view->IsExtensionAccepted(QString::fromLatin1(ext)), ext);
    Run([](COptionsSheet &s) {
        QVERIFY(s.general->all->isChecked());
        QVERIFY(!s.general->mp3->isChecked() && !s.general->mp3->isEnabled());
        s.general->all->click();
        QVERIFY(s.general->mp3->isEnabled());
        s.general->mid->setChecked(true);   // only mid: no .midi
    });
    QVERIFY(m_view->IsExtensionAccepted(QStringLiteral("mid")));
    QVERIFY(!m_view->IsExtensionAccepted(QStringLiteral("midi")));
    QVERIFY(!m_view->IsExtensionAccepted(QStringLiteral("mp3")));
}

void TestOptions::gridTogglesOnlyOnChange()
{
    QVERIFY(m_view->showGrid());
    Run([](COptionsSheet &s) { s.general->grid->setChecked(false); });
    QVERIFY(!m_view->showGrid());
    QCOMPARE(m_settings.grid, 0);
    Run([](COptionsSheet &) {});
    QVERIFY(!m_view->showGrid());
    Run([](COptionsSheet &s) { s.general->grid->setChecked(true); });
    QVERIFY(m_view->showGrid());
}

void TestOptions::columnsHiddenByDragging()
{
    QHeaderView *header = m_view->horizontalHeader();
    const int stored = header->sectionSize(int(Column::Album));
    header->resizeSection(int(Column::Album), 0);   // dragged to nothing
    bool ticked = false;
    Run([&](COptionsSheet &s) { ticked = s.columns->boxes[std::size_t(Column::Album)]->isChecked(); }, false);
    QVERIFY(ticked);   // the flags were copied before the widths
    QCOMPARE(header->sectionSize(int(Column::Album)), 0);   // Cancel leaves it hidden

    init();   // a new window: dragged to nothing, then Options and OK shows it again at its width
    header = m_view->horizontalHeader();
    header->resizeSection(int(Column::Album), 0);
    Run([](COptionsSheet &s) { QVERIFY(!s.columns->boxes[0]->isEnabled()); });
    QCOMPARE(header->sectionSize(int(Column::Album)), stored);
    Run([](COptionsSheet &s) { s.columns->boxes[std::size_t(Column::Comment)]->setChecked(false); });
    QCOMPARE(header->sectionSize(int(Column::Comment)), 0);
    QVERIFY(m_settings.columnVisible.startsWith(QLatin1String("1,1,1,1,1,1,1,1,0,1,")));
}

void TestOptions::cancelChangesNothingButTheLookup()
{
    m_settings.useDefaultPlayer = 1;
    m_settings.pathToPlayer.clear();
    const AppSettings before = m_settings;
    Run([](COptionsSheet &s) {
        s.general->grid->setChecked(false);
        s.general->cdrom->setChecked(false);
        s.player->useDefault->setChecked(false);
        s.player->path->setText(QStringLiteral("/usr/bin/other"));
    }, false);
    QCOMPARE(m_settings.Values(), before.Values());   // the lookup found nothing here, so nothing changed at all
    QCOMPARE(m_refreshes, 0);
    QVERIFY(!m_store->contains(QStringLiteral("Settings/Grid")) || m_store->value(QStringLiteral("Settings/Grid")).toInt() == 1);
}

void TestOptions::trayFollowsTheBox()
{
    QCOMPARE(m_settings.sysTrayIco, 1);
    Run([](COptionsSheet &s) { s.general->tray->setChecked(false); });
    QCOMPARE(m_settings.sysTrayIco, 0);
    QCOMPARE(m_trayChanges, 1);
    Run([](COptionsSheet &) {});
    QCOMPARE(m_trayChanges, 1);
    QSettings reread(m_dir.filePath(QStringLiteral("s.ini")), QSettings::IniFormat);   // saved on OK
    QCOMPARE(reread.value(QStringLiteral("Settings/bSysTrayIco")).toString(), QStringLiteral("0"));
}

QTEST_MAIN(TestOptions)
#include "tst_options.moc"
