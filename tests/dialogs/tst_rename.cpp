// Renaming files from their tags: the pattern codes, the pattern history, and renames that never replace a file.

#include "dialogs/filecommands.h"
#include "dialogs/filename2tagdlg.h"
#include "dialogs/tagcommands.h"
#include "dialogs/tag2filenamedlg.h"
#include "fileops/renamefile.h"
#include "fileops/renamepattern.h"
#include "library/scanstate.h"
#include "library/tracklistmodel.h"
#include "res/resources.h"
#include "settings/appsettings.h"
#include "tags/genretable.h"
#include "tags/tagfile.h"
#include "tracklist/rightview.h"
#include "fakeprompter.h"
#include "defaultsettings.h"
#include "testmp3.h"

#include <QtTest>

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QTableWidget>

using namespace testmp3;

namespace {


TrackRecord Cells(const QString &artist, const QString &title, const QString &track = QString())
{
    TrackRecord r;
    r[Column::Filename] = QStringLiteral("old name");
    r[Column::Ext] = QStringLiteral("mp3");
    r[Column::Artist] = artist;
    r[Column::Title] = title;
    r[Column::Track] = track;
    r[Column::Album] = QStringLiteral("Alb");
    r[Column::Year] = QStringLiteral("1999");
    r[Column::Genre] = QStringLiteral("Jazz");
    return r;
}

} // namespace

class TestRename : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase() { InitGuiResources(); GenreTable::Build(); Prompter::SetCurrent(&m_prompter); }
    void init() { m_prompter.texts.clear(); }
    void patternCodes_data();
    void patternCodes();
    void counterRunsAcrossFiles();
    void historyPersistsAndGrows();
    void renamesNeverReplace();
    void previewFollowsThePattern();
    void tagFromFileNameThroughTheRealDialog();
    void renameDialogShowsTheSelectionsExtensions();

private:
    FakePrompter m_prompter;
};

void TestRename::patternCodes_data()
{
    QTest::addColumn<QString>("pattern");
    QTest::addColumn<QString>("track");
    QTest::addColumn<QString>("expected");
    QTest::newRow("artist - title") << "$A - $T" << "" << "X - Y";
    QTest::newRow("track padded") << "$K - $T" << "3/12" << "03 - Y";
    QTest::newRow("empty track") << "$K" << "" << "00";
    QTest::newRow("long track") << "$k" << "123" << "123";
    QTest::newRow("dollar") << "$A$$" << "" << "X$";
    QTest::newRow("literal end") << "$A (live)" << "" << "X (live)";
    QTest::newRow("unknown code and trailing dollar") << "$A$Z-$" << "" << "X-";
    QTest::newRow("other cells") << "$B $Y $G $F" << "" << "Alb 1999 Jazz old name";
}

void TestRename::patternCodes()
{
    QFETCH(QString, pattern);
    QFETCH(QString, track);
    QFETCH(QString, expected);
    long long counter = 0;
    QCOMPARE(ExpandRenamePattern(pattern, Cells(QStringLiteral("X"), QStringLiteral("Y"), track), counter), expected);
    // Characters no file name may hold become "_".
    QCOMPARE(ExpandRenamePattern(QStringLiteral("$T"), Cells(QString(), QStringLiteral("a/b:c?d*e\\f")), counter),
             QStringLiteral("a_b_c_d_e_f"));
    QCOMPARE(ExpandRenamePattern(QStringLiteral("$A$T"), Cells(QString(), QString()), counter), QString());
    QCOMPARE(ExpandRenamePattern(QStringLiteral("$A - $T"), Cells(QString(), QString()), counter), QStringLiteral(" - "));
}

void TestRename::counterRunsAcrossFiles()
{
    long long counter = 5;
    QStringList names;
    for (int i = 0; i < 3; ++i)
        names << ExpandRenamePattern(QStringLiteral("$# $T"), Cells(QString(), QStringLiteral("t")), counter);
    QCOMPARE(names, (QStringList{"5 t", "6 t", "7 t"}));
    QCOMPARE(ExpandRenamePattern(QStringLiteral("$#-$#"), Cells(QString(), QString()), counter), QStringLiteral("8-9"));
}

void TestRename::historyPersistsAndGrows()
{
    QTemporaryDir dir;
    QSettings store(dir.filePath(QStringLiteral("h.ini")), QSettings::IniFormat);
    {
        CTag2FilenameDlg dialog(store);
        QCOMPARE(dialog.PatternBox()->count(), 3);   // the defaults, the first selected
        QCOMPARE(dialog.PatternBox()->currentText(), QStringLiteral("$A - $T"));
        dialog.PatternBox()->setEditText(QStringLiteral("$# $T"));
        dialog.CounterEdit()->setText(QStringLiteral("1000000"));
        dialog.accept();   // out of range: the history is stored, the dialog stays open
        QCOMPARE(m_prompter.texts, QStringList{QStringLiteral("Please enter an integer between 0 and 999999.")});
        QCOMPARE(dialog.result(), int(QDialog::Rejected));
        dialog.CounterEdit()->setText(QStringLiteral("7"));
        dialog.accept();
        QCOMPARE(dialog.result(), int(QDialog::Accepted));
        QCOMPARE(dialog.Pattern(), QStringLiteral("$# $T"));
        QCOMPARE(dialog.CounterStart(), 7);
    }
    QSettings reread(dir.filePath(QStringLiteral("h.ini")), QSettings::IniFormat);   // as a new process sees it
    QCOMPARE(reread.value(QStringLiteral("TotalCount")).toString(), QStringLiteral("4"));
    QCOMPARE(reread.value(QStringLiteral("Item3")).toString(), QStringLiteral("$# $T"));
    CTag2FilenameDlg again(reread);
    QCOMPARE(again.PatternBox()->count(), 4);
    QCOMPARE(again.PatternBox()->currentText(), QStringLiteral("$# $T"));
    again.CounterEdit()->clear();
    again.accept();
    QCOMPARE(m_prompter.texts.last(), QStringLiteral("Please enter an integer."));
}

void TestRename::renamesNeverReplace()
{
    // Two files giving the same name: the first gets it, the second fails with the message; a case-only change
    // is applied; a WAV is skipped; the existing "taken.mp3" is never replaced.
    QTemporaryDir dir;
    const auto make = [&](const char *name, const char *title) {
        QVERIFY(WriteFile(dir.filePath(QString::fromLatin1(name)),
                          Tag(Frame("TIT2", Latin1Body(QString::fromLatin1(title))) + Frame("TPE1", Latin1Body("Ann"))) +
                              Audio(1)));
    };
    make("a.mp3", "Same");
    make("b.mp3", "Same");
    make("c.MP3", "c");
    make("taken.mp3", "Taken");
    QVERIFY(WriteFile(dir.filePath(QStringLiteral("w.wav")), QByteArray("RIFF") + QByteArray(20, '\1')));
    const QByteArray takenBytes = ReadFile(dir.filePath(QStringLiteral("taken.mp3")));
    AppSettings settings = DefaultSettings();
    ScanState state;
    CRightView view(settings, state);
    for (const char *name : {"a.mp3", "b.mp3", "c.MP3", "w.wav"})
        QVERIFY(view.AddFile(dir.filePath(QString::fromLatin1(name))));
    view.selectAll();
    QCOMPARE(filecommands::RenameRows(view, QStringLiteral("$T"), 0, nullptr), 1);
    QCOMPARE(m_prompter.texts, QStringList{QStringLiteral("Can`t Rename File!")});
    QVERIFY(QFile::exists(dir.filePath(QStringLiteral("Same.mp3"))));
    QVERIFY(QFile::exists(dir.filePath(QStringLiteral("b.mp3"))));   // the second stays as it was
    QVERIFY(QFile::exists(dir.filePath(QStringLiteral("c.mp3"))));   // from "c.MP3"
    QVERIFY(!QFile::exists(dir.filePath(QStringLiteral("c.MP3"))));
    QCOMPARE(view.Model()->Row(0)[Column::Filename], QStringLiteral("Same"));
    QCOMPARE(view.Model()->Row(1)[Column::Filename], QStringLiteral("b"));

    QCOMPARE(RenameFile(dir.filePath(QStringLiteral("b.mp3")), dir.filePath(QStringLiteral("taken.mp3"))), EEXIST);
    QCOMPARE(ReadFile(dir.filePath(QStringLiteral("taken.mp3"))), takenBytes);
    QCOMPARE(RenameFile(dir.filePath(QStringLiteral("b.mp3")), dir.filePath(QStringLiteral("B?.mp3"))), 0);
    QVERIFY(QFile::exists(dir.filePath(QStringLiteral("B_.mp3"))));
}

void TestRename::previewFollowsThePattern()
{
    QTemporaryDir dir;
    QSettings store(dir.filePath(QStringLiteral("h.ini")), QSettings::IniFormat);
    QVERIFY(WriteFile(dir.filePath(QStringLiteral("Ann - Taken.mp3")), Audio(1)));
    const QString folder = dir.path() + QLatin1Char('/');
    auto row = [&](const QString &name, const QString &title) {
        TrackRecord r = Cells(QStringLiteral("Ann"), title);
        r[Column::Filename] = name;
        r[Column::Path] = folder;
        return r;
    };
    CTag2FilenameDlg dialog(store);
    dialog.SetPreviewRows({row(QStringLiteral("one"), QStringLiteral("Same")), row(QStringLiteral("two"), QStringLiteral("Same")),
                           row(QStringLiteral("three"), QStringLiteral("Taken")), row(QStringLiteral("four"), QString())});
    QTableWidget *preview = dialog.Preview();
    QCOMPARE(preview->rowCount(), 4);
    auto shown = [&](int r) { return preview->item(r, 1)->text(); };
    auto marked = [&](int r) { return preview->item(r, 1)->data(Qt::UserRole).toBool(); };
    QCOMPARE(preview->item(0, 0)->text(), QStringLiteral("one.mp3"));
    QCOMPARE(shown(0), QStringLiteral("Ann - Same.mp3"));
    QVERIFY(!marked(0));
    QVERIFY(marked(1));   // the same name as the row above
    QVERIFY(shown(1).contains(QStringLiteral("taken")));
    QVERIFY(marked(2));   // a file of that name exists
    QVERIFY(!marked(3));  // " - " still names the file
    // Typed: the preview follows at once, the counter too.
    dialog.PatternBox()->setEditText(QStringLiteral("$#$T"));
    dialog.CounterEdit()->setText(QStringLiteral("4"));
    QCOMPARE(shown(0), QStringLiteral("4Same.mp3"));
    QCOMPARE(shown(1), QStringLiteral("5Same.mp3"));
    QVERIFY(!marked(1));
    dialog.PatternBox()->setEditText(QStringLiteral("$T"));
    QVERIFY(marked(3));   // the pattern gives nothing: the file keeps its name
    QVERIFY(shown(3).contains(QStringLiteral("nothing")));
    // An untagged file gets no " - .mp3": marked as keeping its name; blanks and dots at the ends of a name go.
    dialog.PatternBox()->setEditText(QStringLiteral("$A - $T"));
    TrackRecord untagged = row(QStringLiteral("five"), QString());
    untagged[Column::Artist].clear();
    dialog.SetPreviewRows({untagged, row(QStringLiteral("six"), QStringLiteral("Hi.. "))});
    QVERIFY(marked(0));
    QVERIFY(shown(0).contains(QStringLiteral("nothing")));
    QCOMPARE(shown(1), QStringLiteral("Ann - Hi.mp3"));
    QVERIFY(!marked(1));
}

void TestRename::tagFromFileNameThroughTheRealDialog()
{
    // The command opens the dialog over the list; the pattern is typed, the preview shows what each name gives,
    // Enter takes it: fitting files get the fields, the misfit and the WAV stay as they were.
    QTemporaryDir dir;
    QSettings store(dir.filePath(QStringLiteral("h.ini")), QSettings::IniFormat);
    const QByteArray tagged = Tag(Frame("TALB", Latin1Body("Kept Album"))) + Audio(1);
    for (const char *name : {"01 - Ann - First Song.mp3", "02 - Bob - Second - Part Two.mp3", "misfit.mp3"})
        QVERIFY(WriteFile(dir.filePath(QString::fromLatin1(name)), tagged));
    QVERIFY(WriteFile(dir.filePath(QStringLiteral("03 - Cy - Wave.wav")), QByteArray("RIFF") + QByteArray(20, '\1')));
    AppSettings settings = DefaultSettings();
    ScanState state;
    CRightView view(settings, state);
    for (const char *name : {"01 - Ann - First Song.mp3", "02 - Bob - Second - Part Two.mp3", "misfit.mp3", "03 - Cy - Wave.wav"})
        QVERIFY(view.AddFile(dir.filePath(QString::fromLatin1(name))));
    view.show();
    QVERIFY(QTest::qWaitForWindowExposed(&view));
    view.selectAll();

    QStringList seen;
    QString summary;
    QTimer::singleShot(200, this, [&] {
        auto *dialog = qobject_cast<CFilename2TagDlg *>(QApplication::activeModalWidget());
        if (!dialog)
            return;
        QLineEdit *edit = dialog->PatternBox()->lineEdit();
        edit->setFocus();
        edit->selectAll();
        QTest::keyClicks(edit, QStringLiteral("$K - $A - $T"));
        QTest::qWait(400);   // the preview follows typing after a pause
        QTableWidget *preview = dialog->Preview();
        for (int r = 0; r < preview->rowCount(); ++r) {
            QStringList cells;
            for (int c = 0; c < preview->columnCount(); ++c)
                cells << (preview->item(r, c) ? preview->item(r, c)->text() : QString());
            seen << cells.join(QLatin1Char('|'));
        }
        summary = dialog->Summary()->text();
        QTest::keyClick(edit, Qt::Key_Return);
    });
    tagcommands::TagFromFileNames(view, store, nullptr);
    QCOMPARE(seen, (QStringList{"01 - Ann - First Song.mp3|01|Ann|First Song",
                                "02 - Bob - Second - Part Two.mp3|02|Bob|Second - Part Two",
                                "misfit.mp3|does not fit the pattern||"}));
    QVERIFY2(summary.startsWith(QStringLiteral("2 of 3 files fit")), qPrintable(summary));

    TagFile tag;
    QVERIFY(tag.Open(dir.filePath(QStringLiteral("02 - Bob - Second - Part Two.mp3"))));
    QCOMPARE(tag.artist, QStringLiteral("Bob"));
    QCOMPARE(tag.title, QStringLiteral("Second - Part Two"));
    QCOMPARE(tag.track, QStringLiteral("2"));
    QCOMPARE(tag.album, QStringLiteral("Kept Album"));
    QCOMPARE(view.Model()->Row(1)[Column::Artist], QStringLiteral("Bob"));   // the row shows it
    QCOMPARE(ReadFile(dir.filePath(QStringLiteral("misfit.mp3"))), tagged);
    QVERIFY(m_prompter.texts.isEmpty());

    // The history is its own, sorted, with the pattern used selected.
    QSettings reread(dir.filePath(QStringLiteral("h.ini")), QSettings::IniFormat);
    QCOMPARE(reread.value(QStringLiteral("FromNameTotalCount")).toString(), QStringLiteral("4"));
    QVERIFY(!reread.contains(QStringLiteral("TotalCount")));
    CFilename2TagDlg again(reread, {});
    QStringList items;
    for (int i = 0; i < again.PatternBox()->count(); ++i)
        items << again.PatternBox()->itemText(i);
    QStringList sorted = items;
    std::sort(sorted.begin(), sorted.end(), [](const QString &a, const QString &b) { return QString::localeAwareCompare(a, b) < 0; });
    QCOMPARE(items, sorted);
    QCOMPARE(again.PatternBox()->currentText(), QStringLiteral("$K - $A - $T"));
    // A pattern that cannot be read keeps the dialog open with the reason.
    again.PatternBox()->setEditText(QStringLiteral("$F"));
    again.accept();
    QCOMPARE(again.result(), int(QDialog::Rejected));
    QCOMPARE(m_prompter.texts.size(), 1);
    again.UpdatePreview();
    QVERIFY(again.Summary()->text().contains(QStringLiteral("$F")));
}

void TestRename::renameDialogShowsTheSelectionsExtensions()
{
    // The real dialog over the list: beside the pattern stands the extension the new names get.
    QTemporaryDir dir;
    QSettings store(dir.filePath(QStringLiteral("h.ini")), QSettings::IniFormat);
    QVERIFY(WriteFile(dir.filePath(QStringLiteral("x.flac")), QByteArray("fLaC") + QByteArray(40, '\0')));
    QVERIFY(WriteFile(dir.filePath(QStringLiteral("y.MP3")), Tag(Frame("TIT2", Latin1Body("Why"))) + Audio(1)));
    AppSettings settings = DefaultSettings();
    ScanState state;
    CRightView view(settings, state);
    QVERIFY(view.AddFile(dir.filePath(QStringLiteral("x.flac"))));
    QVERIFY(view.AddFile(dir.filePath(QStringLiteral("y.MP3"))));
    view.show();
    QVERIFY(QTest::qWaitForWindowExposed(&view));
    auto shownExtension = [&] {
        QString text;
        QTimer::singleShot(200, this, [&] {
            auto *dialog = qobject_cast<CTag2FilenameDlg *>(QApplication::activeModalWidget());
            if (!dialog)
                return;
            text = dialog->ExtensionLabel()->text();
            QTest::keyClick(dialog, Qt::Key_Escape);
        });
        filecommands::RenameSelection(view, store, nullptr);
        return text;
    };
    view.selectRow(0);
    QCOMPARE(shownExtension(), QStringLiteral(".flac"));
    view.selectRow(1);
    QCOMPARE(shownExtension(), QStringLiteral(".mp3"));
    view.selectAll();
    QCOMPARE(shownExtension(), QStringLiteral(".flac, .mp3"));
    QVERIFY(QFile::exists(dir.filePath(QStringLiteral("x.flac"))));   // cancelled: nothing renamed
}

QTEST_MAIN(TestRename)
#include "tst_rename.moc"
