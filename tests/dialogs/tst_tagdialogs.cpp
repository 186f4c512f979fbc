// The tag dialog, the group edit and the batch commands, answered through the prompt interface.

#include "dialogs/coverview.h"
#include "dialogs/gropeeditdlg.h"
#include "dialogs/tagcommands.h"
#include "dialogs/tageditdlg.h"
#include "library/scanstate.h"
#include "library/tracklistmodel.h"
#include "res/resources.h"
#include "settings/appsettings.h"
#include "tags/genretable.h"
#include "tags/tagfile.h"
#include "tracklist/rightview.h"
#include "fakeprompter.h"
#include "defaultsettings.h"
#include "testaudio.h"
#include "testmp3.h"

#include <QtTest>

#include <QBuffer>
#include <QCheckBox>
#include <QComboBox>
#include <QFileDialog>
#include <QImage>
#include <QLineEdit>
#include <QPushButton>
#include <QLocale>
#include <QTimer>
#include <QProgressDialog>

using namespace testmp3;

namespace {

// A real, decodable PNG image of the size given.
QByteArray PngImage(int width, int height)
{
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(QColor(200, 40, 40));
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return bytes;
}

} // namespace

namespace {


const QByteArray kCover = Frame("APIC", QByteArray("\0image/png\0\3\0", 13) + QByteArray(300, '\x11'));
const QByteArray kTxxx = Frame("TXXX", QByteArray("\0KEY\0value", 10));

} // namespace

class TestTagDialogs : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();
    void stepsAndAsksBeforeDroppingEdits();
    void limitsApplyToTypingOnly();
    void resetAndClearAll();
    void nonMp3RowsAreReadOnly();
    void groupEditWritesOnlyTickedFields();
    void batchReportsFailuresOnce();
    void vanishedFilesAndOverLongSteps();
    void tagDialogShowsSetsAndRemovesTheCover();
    void setCoverThroughTheRealFileDialog();
    void groupEditWritesTheCoverToEveryFormat();
    void genreBoxTakesAnyText();
    void aStoppedGroupEditSaysHowManyWereWritten();

private:
    QString Path(const char *name) const { return m_dir.filePath(QString::fromLatin1(name)); }

    QTemporaryDir m_dir;
    AppSettings m_settings;
    ScanState m_state;
    FakePrompter m_prompter;
    std::unique_ptr<CRightView> m_view;
};

void TestTagDialogs::initTestCase()
{
    InitGuiResources();
    GenreTable::Build();
    Prompter::SetCurrent(&m_prompter);
}

void TestTagDialogs::init()
{
    // a.mp3 plain; b.mp3 with cover art, TXXX, a "3/12" track and a 150-character title; c.wav; d.mp3 really FLAC.
    QVERIFY(WriteFile(Path("a.mp3"), Tag(Frame("TIT2", Latin1Body("Alpha")) + Frame("TPE1", Latin1Body("Ann")) +
                                         Frame("TCON", Latin1Body("(0)"))) + Audio(2)));
    QVERIFY(WriteFile(Path("b.mp3"), Tag(Frame("TIT2", Latin1Body(QString(150, QLatin1Char('t')))) +
                                         Frame("TPE1", Latin1Body("Bob")) + Frame("TRCK", Latin1Body("3/12")) + kCover +
                                         kTxxx + Frame("TYER", Latin1Body("1990"))) + Audio(2)));
    QVERIFY(WriteFile(Path("c.wav"), QByteArray("RIFF") + QByteArray(60, '\1')));
    QVERIFY(WriteFile(Path("d.mp3"), Tag(Frame("TIT2", Latin1Body("Delta"))) + "fLaC" + QByteArray(60, '\2')));
    m_settings = DefaultSettings();
    m_view = std::make_unique<CRightView>(m_settings, m_state);
    for (const char *name : {"a.mp3", "b.mp3", "c.wav", "d.mp3"})
        QVERIFY(m_view->AddFile(Path(name)));
    m_prompter.texts.clear();
    m_prompter.answers.clear();
}

void TestTagDialogs::cleanup() { m_view.reset(); }

void TestTagDialogs::stepsAndAsksBeforeDroppingEdits()
{
    CTagEditDlg dialog(*m_view, 0);
    QCOMPARE(dialog.TitleEdit()->text(), QStringLiteral("Alpha"));
    QCOMPARE(dialog.GenreBox()->currentText(), QStringLiteral("Blues"));
    QVERIFY(!dialog.PrevButton()->isEnabled());
    QVERIFY(!dialog.IsChanged());   // filling the controls is no change

    dialog.Next();   // nothing typed: no question
    QCOMPARE(dialog.Row(), 1);
    QVERIFY(m_prompter.texts.isEmpty());
    QCOMPARE(dialog.ArtistEdit()->text(), QStringLiteral("Bob"));

    dialog.ArtistEdit()->selectAll();
    QTest::keyClicks(dialog.ArtistEdit(), QStringLiteral("Bea"));
    QVERIFY(dialog.IsChanged());
    m_prompter.answers = {QMessageBox::No};
    dialog.Prev();
    QCOMPARE(m_prompter.texts, QStringList{QStringLiteral("Current tag was changed. Update?")});
    TagFile b;
    QVERIFY(b.Open(Path("b.mp3")));
    QCOMPARE(b.artist, QStringLiteral("Bob"));   // No drops the edit

    dialog.Next();
    dialog.ArtistEdit()->selectAll();
    QTest::keyClicks(dialog.ArtistEdit(), QStringLiteral("Bea"));
    dialog.Next();   // Yes: written, the row refreshed
    QVERIFY(b.Open(Path("b.mp3")));
    QCOMPARE(b.artist, QStringLiteral("Bea"));
    QCOMPARE(b.track, QStringLiteral("3/12"));   // untouched fields keep their text
    QVERIFY(Frames(ReadFile(Path("b.mp3"))).contains({QByteArray("APIC"), kCover}));
    QCOMPARE(m_view->Model()->Row(1)[Column::Artist], QStringLiteral("Bea"));
    dialog.Next();
    QCOMPARE(dialog.Row(), 3);
    QVERIFY(!dialog.NextButton()->isEnabled());
}

void TestTagDialogs::limitsApplyToTypingOnly()
{
    // Loaded texts longer than their limits neither get cut nor keep Update from closing.
    CTagEditDlg dialog(*m_view, 1);
    QCOMPARE(dialog.TrackEdit()->text(), QStringLiteral("3/12"));
    QCOMPARE(dialog.TitleEdit()->text().size(), 150);
    dialog.Update();
    QCOMPARE(dialog.result(), int(QDialog::Accepted));
    QVERIFY(m_prompter.texts.isEmpty());

    // Typing stops at the limit.
    CTagEditDlg again(*m_view, 0);
    again.TrackEdit()->clear();
    QTest::keyClicks(again.TrackEdit(), QStringLiteral("123"));
    QCOMPARE(again.TrackEdit()->text(), QStringLiteral("12"));
    again.YearEdit()->clear();
    QTest::keyClicks(again.YearEdit(), QStringLiteral("19999"));
    QCOMPARE(again.YearEdit()->text(), QStringLiteral("1999"));
    // An edit inside a loaded over-long text is taken only once it fits.
    CTagEditDlg third(*m_view, 1);
    third.TrackEdit()->setCursorPosition(0);
    QTest::keyClick(third.TrackEdit(), Qt::Key_Delete);
    QCOMPARE(third.TrackEdit()->text(), QStringLiteral("/12"));
    third.Update();
    QCOMPARE(m_prompter.texts, QStringList{QStringLiteral("Please enter no more than 2 characters.")});
    QCOMPARE(third.result(), int(QDialog::Rejected));   // still open
}

void TestTagDialogs::resetAndClearAll()
{
    CTagEditDlg dialog(*m_view, 1);
    dialog.TitleEdit()->selectAll();
    QTest::keyClicks(dialog.TitleEdit(), QStringLiteral("Changed"));
    dialog.Reset();
    QCOMPARE(dialog.TitleEdit()->text().size(), 150);
    QVERIFY(!dialog.IsChanged());

    dialog.ClearAll();
    QVERIFY(dialog.IsChanged());
    QCOMPARE(dialog.GenreBox()->currentText(), QString());
    dialog.Update();
    // The seven fields' frames and the front cover are gone; TXXX stays.
    const auto frames = Frames(ReadFile(Path("b.mp3")));
    QCOMPARE(frames.size(), 1);
    QVERIFY(frames.contains({QByteArray("TXXX"), kTxxx}));
    QCOMPARE(m_view->Model()->Row(1)[Column::Title], QString());
}

void TestTagDialogs::nonMp3RowsAreReadOnly()
{
    const QByteArray wav = ReadFile(Path("c.wav"));
    CTagEditDlg dialog(*m_view, 1);
    dialog.Next();
    QCOMPARE(dialog.Row(), 2);
    QVERIFY(dialog.TitleEdit()->isReadOnly());
    QVERIFY(!dialog.GenreBox()->isEnabled());
    dialog.ClearAll();
    dialog.Update();
    QCOMPARE(ReadFile(Path("c.wav")), wav);
    QVERIFY(m_prompter.texts.isEmpty());
}

void TestTagDialogs::groupEditWritesOnlyTickedFields()
{
    CGropeEditDlg dialog;
    QVERIFY(!dialog.FieldControl(CGropeEditDlg::Year)->isEnabled());
    QVERIFY(!dialog.ResetButton()->isEnabled());
    dialog.SetTicked(CGropeEditDlg::Year, true);
    QVERIFY(dialog.FieldControl(CGropeEditDlg::Year)->isEnabled());
    QTest::keyClicks(static_cast<QLineEdit *>(dialog.FieldControl(CGropeEditDlg::Year)), QStringLiteral("2001"));
    dialog.SetTicked(CGropeEditDlg::Genre, true);   // ticked with no entry chosen: the genre goes
    dialog.accept();
    QCOMPARE(dialog.result(), int(QDialog::Accepted));

    const QByteArray wav = ReadFile(Path("c.wav"));
    m_view->selectAll();
    tagcommands::ApplyToSelection(*m_view, nullptr, [&dialog](TagFile &r) { dialog.ApplyTo(r); });
    TagFile a, b;
    QVERIFY(a.Open(Path("a.mp3")) && b.Open(Path("b.mp3")));
    QCOMPARE(a.year, QStringLiteral("2001"));
    QCOMPARE(b.year, QStringLiteral("2001"));
    QCOMPARE(a.title, QStringLiteral("Alpha"));
    QCOMPARE(a.genre, -1);
    QCOMPARE(b.track, QStringLiteral("3/12"));
    const auto frames = Frames(ReadFile(Path("b.mp3")));
    QVERIFY(frames.contains({QByteArray("APIC"), kCover}));
    QVERIFY(frames.contains({QByteArray("TXXX"), kTxxx}));
    QCOMPARE(ReadFile(Path("c.wav")), wav);
    QCOMPARE(m_view->Model()->Row(0)[Column::Year], QStringLiteral("2001"));
    // The FLAC in disguise is refused and reported once.
    QCOMPARE(m_prompter.texts.size(), 1);
    QVERIFY(m_prompter.texts[0].contains(QLatin1String("d.mp3")));

    dialog.Reset();
    QVERIFY(!dialog.IsTicked(CGropeEditDlg::Year));
    QVERIFY(!dialog.FieldControl(CGropeEditDlg::Year)->isEnabled());
    QVERIFY(!dialog.ResetButton()->isEnabled());
}

void TestTagDialogs::batchReportsFailuresOnce()
{
    // Normalize over a selection with a file that cannot be written: one summary, the row shows the file.
    QVERIFY(WriteFile(Path("a.mp3"), Tag(Frame("TIT2", Latin1Body("  the ALPHA "))) + Audio(2)));
    m_view->FillTagCells(0, nullptr);
    QVERIFY(WriteFile(Path("d.mp3"), Tag(Frame("TIT2", Latin1Body("delta  TITLE"))) + "fLaC" + QByteArray(60, '\2')));
    m_view->selectAll();
    QVERIFY(tagcommands::CanEditTag(*m_view));
    QCOMPARE(tagcommands::ApplyToSelection(*m_view, nullptr, [](TagFile &r) { r.Normalize(); }), 1);
    QCOMPARE(m_prompter.texts.size(), 1);
    QVERIFY(m_prompter.texts[0].contains(QLatin1String("FLAC")));
    QCOMPARE(m_view->Model()->Row(0)[Column::Title], QStringLiteral("The Alpha"));
    QCOMPARE(m_view->Model()->Row(3)[Column::Title], QStringLiteral("delta  TITLE"));

    m_view->clearSelection();
    m_view->selectRow(2);
    QVERIFY(!tagcommands::CanEditTag(*m_view));   // only a WAV selected
}

void TestTagDialogs::vanishedFilesAndOverLongSteps()
{
    // Edit Tag on a file that is gone: the reason is told, no dialog opens, the row keeps its cells.
    const TrackRecord before = m_view->Model()->Row(0);
    QVERIFY(QFile::rename(Path("a.mp3"), Path("gone.mp3")));
    m_view->selectRow(0);
    tagcommands::EditTag(*m_view, nullptr);
    QCOMPARE(m_prompter.texts.size(), 1);
    QVERIFY2(m_prompter.texts[0].contains(Path("a.mp3")), qPrintable(m_prompter.texts[0]));
    QCOMPARE(m_view->Model()->Row(0).cells, before.cells);

    // Stepping onto it: told, shown read-only, and Update leaves the row and the file alone.
    CTagEditDlg dialog(*m_view, 1);
    m_prompter.texts.clear();
    dialog.Prev();
    QCOMPARE(dialog.Row(), 0);
    QCOMPARE(m_prompter.texts.size(), 1);
    QVERIFY(dialog.TitleEdit()->isReadOnly());
    dialog.Update();
    QCOMPARE(m_view->Model()->Row(0).cells, before.cells);
    QVERIFY(!QFile::exists(Path("a.mp3")));

    // A changed text over its limit is refused on Next as on Update: nothing written, the dialog stays.
    CTagEditDlg third(*m_view, 1);
    third.TrackEdit()->setCursorPosition(0);
    QTest::keyClick(third.TrackEdit(), Qt::Key_Delete);   // "/12": changed, still over 2 characters
    m_prompter.texts.clear();
    m_prompter.answers = {QMessageBox::Yes};
    third.Next();
    QCOMPARE(m_prompter.texts, QStringList{QStringLiteral("Please enter no more than 2 characters.")});
    QCOMPARE(third.Row(), 1);
    TagFile b;
    QVERIFY(b.Open(Path("b.mp3")));
    QCOMPARE(b.track, QStringLiteral("3/12"));
}

void TestTagDialogs::tagDialogShowsSetsAndRemovesTheCover()
{
    const QByteArray png = PngImage(120, 60);
    QVERIFY(WriteFile(Path("wide.png"), png));
    QVERIFY(WriteFile(Path("notes.png"), "not an image"));

    // a.mp3 has no cover; b.mp3's cover is a PNG whose bytes do not decode; c.wav has no cover to edit.
    CTagEditDlg dialog(*m_view, 0);
    QCOMPARE(dialog.CoverView()->text(), QStringLiteral("No cover"));
    QVERIFY(!dialog.RemoveCoverButton()->isEnabled());
    QVERIFY(dialog.SetCoverButton()->isEnabled());
    QVERIFY(!dialog.SetCoverFromFile(Path("notes.png")));   // refused with a message, nothing changes
    QCOMPARE(m_prompter.texts.size(), 1);
    QVERIFY2(m_prompter.texts[0].contains(QStringLiteral("not a JPEG or PNG")), qPrintable(m_prompter.texts[0]));
    QVERIFY(!dialog.IsChanged());
    QVERIFY(dialog.SetCoverFromFile(Path("wide.png")));
    QVERIFY(dialog.IsChanged());
    QVERIFY(dialog.CoverView()->IsDrawn());
    // Scaled into the box keeping its shape: twice as wide as high.
    const QPixmap shown = dialog.CoverView()->pixmap();
    QVERIFY(!shown.isNull());
    QVERIFY(qAbs(shown.width() - 2 * shown.height()) <= 2);
    QVERIFY(dialog.RemoveCoverButton()->isEnabled());
    dialog.Reset();   // back to what the file holds
    QCOMPARE(dialog.CoverView()->text(), QStringLiteral("No cover"));
    QVERIFY(!dialog.IsChanged());

    dialog.SetCoverFromFile(Path("wide.png"));
    dialog.Next();   // the question is answered Yes: the cover is written with the row
    Picture cover;
    QVERIFY(TagFile::ReadFrontCover(Path("a.mp3"), cover));
    QCOMPARE(cover.data, png);
    QCOMPARE(cover.mime, QStringLiteral("image/png"));

    // On b.mp3 the cover is there but cannot be drawn; Remove Cover takes it out, TXXX stays.
    QCOMPARE(dialog.Row(), 1);
    QVERIFY(!dialog.CoverView()->IsDrawn());
    QVERIFY(dialog.RemoveCoverButton()->isEnabled());
    QTest::mouseClick(dialog.RemoveCoverButton(), Qt::LeftButton);
    QCOMPARE(dialog.CoverView()->text(), QStringLiteral("No cover"));
    dialog.Update();
    const auto frames = Frames(ReadFile(Path("b.mp3")));
    QVERIFY(!frames.contains({QByteArray("APIC"), kCover}));
    QVERIFY(frames.contains({QByteArray("TXXX"), kTxxx}));

    // Not an MP3 file: no cover controls.
    CTagEditDlg wav(*m_view, 2);
    QVERIFY(!wav.SetCoverButton()->isEnabled());
    QVERIFY(!wav.SetCoverFromFile(Path("wide.png")));
}

void TestTagDialogs::setCoverThroughTheRealFileDialog()
{
    // Set Cover... opens a file dialog over the tag dialog; a file name typed there and Enter set the cover.
    const QByteArray png = PngImage(40, 40);
    QVERIFY(WriteFile(Path("square.png"), png));
    CTagEditDlg dialog(*m_view, 0);
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    bool asked = false;
    QString startedIn;
    QTimer::singleShot(300, this, [&] {
        auto *files = qobject_cast<QFileDialog *>(QApplication::activeModalWidget());
        asked = files != nullptr;
        if (!files)
            return;
        startedIn = files->directory().absolutePath();
        // Typed into the dialog's name box, as a user would.
        auto *name = files->findChild<QLineEdit *>(QStringLiteral("fileNameEdit"));
        if (!name)
            return;
        name->setFocus();
        QTest::keyClicks(name, QStringLiteral("square.png"));   // a bare name: the dialog stands in the song's folder
        QTest::keyClick(name, Qt::Key_Return);
    });
    QTest::mouseClick(dialog.SetCoverButton(), Qt::LeftButton);
    QTRY_VERIFY(asked);
    QCOMPARE(QDir(startedIn).canonicalPath(), QDir(m_dir.path()).canonicalPath());
    QVERIFY(dialog.CoverView()->IsDrawn());
    QCOMPARE(dialog.CoverView()->ShownPicture().data, png);
    QTest::keyClick(&dialog, Qt::Key_Return);   // Update is the default button
    Picture cover;
    QVERIFY(TagFile::ReadFrontCover(Path("a.mp3"), cover));
    QCOMPARE(cover.data, png);
}

void TestTagDialogs::groupEditWritesTheCoverToEveryFormat()
{
    const QByteArray png = PngImage(30, 30);
    QVERIFY(WriteFile(Path("front.png"), png));
    CGropeEditDlg dialog;
    QVERIFY(!dialog.IsCoverTicked());
    dialog.CoverBox()->click();   // ticked without a picture: OK says what is missing
    dialog.accept();
    QCOMPARE(dialog.result(), int(QDialog::Rejected));
    QCOMPARE(m_prompter.texts.size(), 1);
    QVERIFY(dialog.SetCoverFromFile(Path("front.png")));
    QVERIFY(dialog.IsCoverTicked());
    dialog.accept();
    QCOMPARE(dialog.result(), int(QDialog::Accepted));

    const QByteArray wav = ReadFile(Path("c.wav"));
    m_view->selectAll();
    tagcommands::ApplyToSelection(*m_view, nullptr, [&dialog](TagFile &r) { dialog.ApplyTo(r); });
    for (const char *name : {"a.mp3", "b.mp3"}) {
        Picture cover;
        QVERIFY2(TagFile::ReadFrontCover(Path(name), cover), name);
        QCOMPARE(cover.data, png);
    }
    QVERIFY(Frames(ReadFile(Path("b.mp3"))).contains({QByteArray("TXXX"), kTxxx}));
    QCOMPARE(ReadFile(Path("c.wav")), wav);

    // A FLAC file of a mixed selection gets the same cover, and its tag dialog shows it.
    if (!testaudio::MakeFlac(Path("f.flac"), 8000))
        QSKIP("flac (which makes the FLAC file) is not installed");
    QVERIFY(m_view->AddFile(Path("f.flac")));
    m_view->selectAll();
    tagcommands::ApplyToSelection(*m_view, nullptr, [&dialog](TagFile &r) { dialog.ApplyTo(r); });
    Picture flacCover;
    QVERIFY(TagFile::ReadFrontCover(Path("f.flac"), flacCover));
    QCOMPARE(flacCover.data, png);
    CTagEditDlg flacDialog(*m_view, m_view->Model()->rowCount() - 1);
    QCOMPARE(flacDialog.CoverView()->ShownPicture().data, png);
    QVERIFY(flacDialog.RemoveCoverButton()->isEnabled());
    QVERIFY(flacDialog.SetCoverButton()->isEnabled());

    dialog.Reset();
    QVERIFY(!dialog.IsCoverTicked());
    QVERIFY(dialog.CoverPicture().IsEmpty());
}

void TestTagDialogs::genreBoxTakesAnyText()
{
    QVERIFY(WriteFile(Path("e.mp3"), Tag(Frame("TIT2", Latin1Body("Echo")) + Frame("TCON", Latin1Body("Silence"))) + Audio(2)));
    QVERIFY(m_view->AddFile(Path("e.mp3")));
    const int row = m_view->Model()->rowCount() - 1;
    {
        // Another field edited: the genre the table lacks stays as the file spells it.
        CTagEditDlg dialog(*m_view, row);
        QCOMPARE(dialog.GenreBox()->currentText(), QStringLiteral("Silence"));
        dialog.TitleEdit()->selectAll();
        QTest::keyClicks(dialog.TitleEdit(), QStringLiteral("Echo two"));
        dialog.Update();
        TagFile e;
        QVERIFY(e.Open(Path("e.mp3")));
        QCOMPARE(e.GenreName(), QStringLiteral("Silence"));
    }
    // The box emptied with the keyboard: the genre goes.
    CTagEditDlg dialog(*m_view, row);
    QLineEdit *edit = dialog.GenreBox()->lineEdit();
    QVERIFY(edit);
    edit->setFocus();
    QTest::keyClick(edit, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClick(edit, Qt::Key_Delete);
    QCOMPARE(dialog.GenreBox()->currentText(), QString());
    dialog.Update();
    TagFile e;
    QVERIFY(e.Open(Path("e.mp3")));
    QCOMPARE(e.GenreName(), QString());
    QCOMPARE(e.genre, -1);
    for (const auto &frame : Frames(ReadFile(Path("e.mp3"))))
        QVERIFY(frame.first != "TCON");

    // A genre the table lacks, typed: written as the genre's text, beside the other edits.
    {
        CTagEditDlg typed(*m_view, row);
        typed.GenreBox()->lineEdit()->setFocus();
        QTest::keyClicks(typed.GenreBox()->lineEdit(), QStringLiteral("Vaporwave"));
        typed.TitleEdit()->selectAll();
        QTest::keyClicks(typed.TitleEdit(), QStringLiteral("Echo three"));
        typed.Update();
    }
    QVERIFY(e.Open(Path("e.mp3")));
    QCOMPARE(e.title, QStringLiteral("Echo three"));
    QCOMPARE(e.GenreName(), QStringLiteral("Vaporwave"));
    // The group edit takes typed text too; a name of the table, in any case, is that entry.
    CGropeEditDlg group;
    group.SetTicked(CGropeEditDlg::Genre, true);
    auto *box = static_cast<QComboBox *>(group.FieldControl(CGropeEditDlg::Genre));
    QTest::keyClicks(box->lineEdit(), QStringLiteral("Chillwave"));
    group.accept();
    QCOMPARE(group.result(), int(QDialog::Accepted));
    QVERIFY(e.Open(Path("e.mp3")));
    group.ApplyTo(e);
    QVERIFY(e.Write());
    QVERIFY(e.Open(Path("e.mp3")));
    QCOMPARE(e.GenreName(), QStringLiteral("Chillwave"));
    group.SetTicked(CGropeEditDlg::Genre, true);
    box->lineEdit()->selectAll();
    QTest::keyClicks(box->lineEdit(), QStringLiteral("jazz"));
    group.accept();
    group.ApplyTo(e);
    QVERIFY(e.Write());
    QVERIFY(e.Open(Path("e.mp3")));
    QCOMPARE(e.genre, GenreTable::NumberOf(QStringLiteral("Jazz")));
}

void TestTagDialogs::aStoppedGroupEditSaysHowManyWereWritten()
{
    // Many files: the progress box comes up and its Cancel button is clicked; the message says how many files
    // were written, and that many hold the new year.
    QTemporaryDir many;
    constexpr int kFiles = 3000;
    CRightView view(m_settings, m_state);
    const QByteArray song = Tag(Frame("TIT2", Latin1Body("Song"))) + Audio(1);
    for (int i = 0; i < kFiles; ++i) {
        const QString path = many.filePath(QStringLiteral("%1.mp3").arg(i, 4, 10, QLatin1Char('0')));
        QVERIFY(WriteFile(path, song));
        QVERIFY(view.AddFile(path));
    }
    QWidget window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    bool clicked = false;
    QTimer poll;
    connect(&poll, &QTimer::timeout, this, [&] {
        auto *progress = qobject_cast<QProgressDialog *>(QApplication::activeModalWidget());
        if (!progress || clicked)
            return;
        for (QPushButton *button : progress->findChildren<QPushButton *>()) {
            if (button->text().contains(QLatin1String("Cancel"))) {
                QTest::mouseClick(button, Qt::LeftButton);
                clicked = true;
            }
        }
    });
    poll.start(20);
    view.selectAll();
    tagcommands::ApplyToSelection(view, &window, [](TagFile &r) { r.year = QStringLiteral("1999"); });
    poll.stop();
    if (!clicked)
        QSKIP("the machine wrote every file before the progress box came up");
    int written = 0;
    for (int i = 0; i < kFiles; ++i) {
        TagFile tag;
        QVERIFY(tag.Open(many.filePath(QStringLiteral("%1.mp3").arg(i, 4, 10, QLatin1Char('0')))));
        written += tag.year == QLatin1String("1999") ? 1 : 0;
    }
    QVERIFY(written > 0 && written < kFiles);
    QCOMPARE(m_prompter.texts.size(), 1);
    QCOMPARE(m_prompter.texts[0], QStringLiteral("Stopped: %1 of %2 files were written; Edit > Undo takes them back.")
                                      .arg(QLocale().toString(written), QLocale().toString(kFiles)));
}

QTEST_MAIN(TestTagDialogs)
#include "tst_tagdialogs.moc"
