// Save As (Create Report): the options dialog's rule, Cancel changing nothing, the list sorted by the group, and a
// target that cannot be written.

#include "dialogs/reportcommands.h"
#include "dialogs/reportoptionsdlg.h"
#include "library/scanstate.h"
#include "library/tracklistmodel.h"
#include "res/resources.h"
#include "settings/appsettings.h"
#include "tracklist/rightview.h"
#include "fakeprompter.h"
#include "defaultsettings.h"
#include "testmp3.h"

#include "library/trackfilter.h"

#include <QtTest>
#include <QTimer>
#include <chrono>
#include <thread>
#include <QElapsedTimer>
#include <QPushButton>
#include <QProgressDialog>

#include <sys/resource.h>

#include <QAbstractButton>
#include <QButtonGroup>
#include <QCheckBox>

namespace {


QStringList Artists(const CRightView &view)
{
    QStringList out;
    for (const TrackRecord &r : view.Model()->AllRows())
        out << r[Column::Artist];
    return out;
}

} // namespace

class TestReportCommands : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void tagsBoxFollowsTheFormat();
    void cancelChangesNothingAndOkSortsAndWrites();
    void longWorkShowsProgressAndCancels();
};

void TestReportCommands::tagsBoxFollowsTheFormat()
{
    CReportOptionsDlg dialog;
    QCOMPARE(dialog.windowTitle(), QStringLiteral("Report Options "));
    QCOMPARE(dialog.Format(), 0);
    QCOMPARE(dialog.GroupChoice(), 0);
    dialog.TagsBox()->setChecked(true);
    dialog.Formats()->button(1)->click();   // XML
    QVERIFY(!dialog.TagsBox()->isEnabled());
    QVERIFY(dialog.TagsBox()->isChecked());
    dialog.Formats()->button(3)->click();   // TXT
    QVERIFY(dialog.TagsBox()->isEnabled());
    QVERIFY(dialog.TagsBox()->isChecked());
    CReportOptionsDlg printing(nullptr, true);
    QCOMPARE(printing.windowTitle(), QStringLiteral("Report Options (Printing)"));
    QCOMPARE(printing.Format(), 3);   // printing lays the report out as text
}

void TestReportCommands::cancelChangesNothingAndOkSortsAndWrites()
{
    InitGuiResources();
    FakePrompter prompter;
    Prompter::SetCurrent(&prompter);
    QTemporaryDir dir;
    const char *artists[] = {"Zed", "Amy", "Moe"};
    for (int i = 0; i < 3; ++i)
        QVERIFY(testmp3::WriteFile(dir.filePath(QStringLiteral("%1.mp3").arg(i)),
                                   testmp3::Tag(testmp3::Frame("TPE1", testmp3::Latin1Body(QString::fromLatin1(artists[i])))) +
                                       testmp3::Audio(1)));
    AppSettings settings = DefaultSettings();
    ScanState state;
    CRightView view(settings, state);
    for (int i = 0; i < 3; ++i)
        QVERIFY(view.AddFile(dir.filePath(QStringLiteral("%1.mp3").arg(i))));

    // Options OK (Artist grouping), then Cancel in Save As: nothing sorted, nothing written.
    auto acceptOptions = [] {
        QTimer::singleShot(0, [] {
            auto *options = qobject_cast<CReportOptionsDlg *>(QApplication::activeModalWidget());
            if (!options)
                return;
            options->Groups()->button(1)->click();
            options->accept();
        });
    };
    acceptOptions();
    reportcommands::CreateReport(view, settings, nullptr, [](int) { return QString(); });
    QCOMPARE(Artists(view), (QStringList{"Zed", "Amy", "Moe"}));

    // OK at both steps: the list is sorted by artist and the report written.
    const QString path = dir.filePath(QStringLiteral("List_of_mp3.html"));
    int askedFormat = -1;
    acceptOptions();
    reportcommands::CreateReport(view, settings, nullptr, [&](int format) {
        askedFormat = format;
        return path;
    });
    QCOMPARE(askedFormat, 0);
    QCOMPARE(Artists(view), (QStringList{"Amy", "Moe", "Zed"}));
    QVERIFY(testmp3::ReadFile(path).contains("<h1>Amy</h1>"));

    // A target that cannot be written: the open-error message with the path.
    QVERIFY(!reportcommands::WriteReport(view, settings, 3, 0, false, false, dir.filePath(QStringLiteral("gone/r.txt")), nullptr));
    QCOMPARE(prompter.texts.size(), 1);
    QVERIFY(prompter.texts[0].startsWith(QStringLiteral("File %1 open error!").arg(dir.filePath(QStringLiteral("gone/r.txt")))));
    // A save that fails half-way over an earlier report (files may not grow past 100 bytes for a moment) leaves
    // that report as it was, and no temporary file beside it.
    const QByteArray earlier = testmp3::ReadFile(path);
    struct rlimit saved{};
    QCOMPARE(::getrlimit(RLIMIT_FSIZE, &saved), 0);
    struct rlimit small = saved;
    small.rlim_cur = 100;
    QCOMPARE(::setrlimit(RLIMIT_FSIZE, &small), 0);
    const bool savedOk = reportcommands::WriteReport(view, settings, 0, 1, true, false, path, nullptr);
    ::setrlimit(RLIMIT_FSIZE, &saved);
    QVERIFY(!savedOk);
    QVERIFY(prompter.texts.last().contains(QLatin1String("File too large")));
    QCOMPARE(testmp3::ReadFile(path), earlier);
    QCOMPARE(QDir(dir.path()).entryList({QStringLiteral(".tg*")}, QDir::Files | QDir::Hidden), QStringList());

    // Under a filter the report holds the rows shown, the selection counted among them; the sort still orders
    // every row.
    TrackFilter filter;
    QVERIFY(filter.Parse(QStringLiteral("-amy")));
    view.SetFilter(filter);
    view.selectRow(1);   // Zed
    const QString shown = dir.filePath(QStringLiteral("shown.m3u"));
    QVERIFY(reportcommands::WriteReport(view, settings, 2, 0, false, false, shown, nullptr));
    const QString zed = dir.filePath(QStringLiteral("0.mp3")), moe = dir.filePath(QStringLiteral("2.mp3"));
    QCOMPARE(QString::fromUtf8(testmp3::ReadFile(shown)), QStringLiteral("#EXTM3U\r\n%1\r\n%2\r\n").arg(moe, zed));
    QVERIFY(reportcommands::WriteReport(view, settings, 2, 0, false, true, shown, nullptr));
    QCOMPARE(QString::fromUtf8(testmp3::ReadFile(shown)), QStringLiteral("#EXTM3U\r\n%1\r\n").arg(zed));
    QCOMPARE(view.Model()->TotalRows(), 3);
    Prompter::SetCurrent(nullptr);
}

void TestReportCommands::longWorkShowsProgressAndCancels()
{
    // Work that takes longer than half a second: the window's timers keep running from the start, the real
    // progress dialog comes up, and a click on its Cancel reaches the work, which stops; nothing is reported done.
    InitGuiResources();
    QWidget window;
    window.resize(400, 300);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    std::atomic<int> ticks{0};
    QTimer ticker;
    ticker.setInterval(20);
    QObject::connect(&ticker, &QTimer::timeout, [&] { ++ticks; });
    ticker.start();
    QString shown;
    QTimer::singleShot(900, [&] {
        auto *dialog = qobject_cast<QProgressDialog *>(QApplication::activeModalWidget());
        if (!dialog)
            return;
        shown = dialog->labelText();
        const QList<QPushButton *> buttons = dialog->findChildren<QPushButton *>();
        if (!buttons.isEmpty())
            QTest::mouseClick(buttons.front(), Qt::LeftButton);
    });
    std::atomic<int> done{0};
    std::atomic<bool> cancel{false};
    std::atomic<int> ticksEarly{-1};
    QElapsedTimer clock;
    clock.start();
    bool sawCancel = false;
    const bool finished = reportcommands::RunWithProgress(&window, 100, done, cancel, [&] {
        for (int i = 0; i < 100 && !cancel.load(); ++i) {
            done = i;
            if (i == 10)
                ticksEarly = ticks.load();   // 0.4 s in, before any dialog
            std::this_thread::sleep_for(std::chrono::milliseconds(40));
        }
        sawCancel = cancel.load();
    });
    QVERIFY(!finished);
    QVERIFY(sawCancel);
    QVERIFY2(!shown.isEmpty(), "no progress dialog was up after 0.9 s");
    QVERIFY(clock.elapsed() < 3000);   // stopped well before the 4 s the work would take
    // The window's event loop ran from the start, not only once the dialog was up.
    QVERIFY2(ticksEarly.load() >= 8, qPrintable(QString::number(ticksEarly.load())));
}

QTEST_MAIN(TestReportCommands)
#include "tst_reportcommands.moc"
