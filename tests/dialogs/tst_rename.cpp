// Renaming files from their tags: the pattern codes, the pattern history, and renames that never replace a file.

#include "dialogs/filecommands.h"
#include "dialogs/tag2filenamedlg.h"
#include "fileops/renamefile.h"
#include "fileops/renamepattern.h"
#include "library/scanstate.h"
#include "library/tracklistmodel.h"
#include "res/resources.h"
#include "settings/appsettings.h"
#include "tracklist/rightview.h"
#include "fakeprompter.h"
#include "defaultsettings.h"
#include "testmp3.h"

#include <QtTest>

#include <QComboBox>
#include <QLineEdit>

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
    void initTestCase() { InitGuiResources(); Prompter::SetCurrent(&m_prompter); }
    void init() { m_prompter.texts.clear(); }
    void patternCodes_data();
    void patternCodes();
    void counterRunsAcrossFiles();
    void historyPersistsAndGrows();
    void renamesNeverReplace();

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

QTEST_MAIN(TestRename)
#include "tst_rename.moc"
