// Copy/Move File(s) to and Remove File(s) over the list's selection, with the user's answers scripted.

#include "dialogs/filecommands.h"
#include "dialogs/folderdlg.h"
#include "library/scanstate.h"
#include "library/tracklistmodel.h"
#include "res/resources.h"
#include "settings/appsettings.h"
#include "tags/tagfile.h"
#include "tracklist/rightview.h"
#include "platform/names.h"
#include "tree/foldertreectrl.h"
#include "fakeprompter.h"
#include "defaultsettings.h"
#include "testmp3.h"

#include <QtTest>

#include <QClipboard>
#include <QDialogButtonBox>
#include <QInputDialog>
#include <QLineEdit>
#include <QDragEnterEvent>
#include <QMimeData>
#include <QPushButton>
#include <QProgressDialog>

#include <fcntl.h>
#include <unistd.h>

#include <sys/stat.h>

using testmp3::ReadFile;
using testmp3::WriteFile;


class TestFileCommands : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase() { InitGuiResources(); Prompter::SetCurrent(&m_prompter); }
    void init();
    void cleanup() { m_view.reset(); }
    void copyOverwriteAllAndSkipAll();
    void moveRemovesRowsAndFailureRefreshes();
    void removeAsksFirstAndSkipsReadOnly();
    void copyMoveStartsAtTheSongsFolderThenTheLastChosen();
    void folderDialogNeedsAFolder();
    void inPlaceEditing();
    void clipboardAndDrop();
    void questionsStayAboveTheProgress();
    void editsBelongToTheirFile();
    void namesNeverLeaveTheirFolder();
    void renameFromTagShowsTheRealName();
    void urlsCarryTheNamesBytes();

private:
    QString Src(const char *name) const { return m_src.filePath(QString::fromLatin1(name)); }
    QString Dst(const char *name) const { return m_dst.filePath(QString::fromLatin1(name)); }
    void SelectAll() { m_view->selectAll(); }

    FakePrompter m_prompter;
    QTemporaryDir m_src, m_dst;
    AppSettings m_settings;
    ScanState m_state;
    std::unique_ptr<CRightView> m_view;
    int m_refreshes = 0;
};

void TestFileCommands::init()
{
    m_src.remove();
    m_dst.remove();
    m_src = QTemporaryDir();   // fresh folders for each test
    m_dst = QTemporaryDir();
    for (const char *name : {"a.mp3", "b.mp3", "c.mp3"}) {
        QVERIFY(WriteFile(Src(name), QByteArray("new ") + name));
        QVERIFY(WriteFile(Dst(name), QByteArray("old ") + name));
    }
    m_settings = DefaultSettings();
    m_view = std::make_unique<CRightView>(m_settings, m_state);
    for (const char *name : {"a.mp3", "b.mp3", "c.mp3"})
        QVERIFY(m_view->AddFile(Src(name)));
    m_prompter = FakePrompter();
    m_refreshes = 0;
}

void TestFileCommands::copyOverwriteAllAndSkipAll()
{
    // Overwrite All on the first file: the others are overwritten without a question; rows stay, deselected.
    m_prompter.choices = {1};
    SelectAll();
    filecommands::CopyMoveRows(*m_view, m_dst.path(), false, [this] { ++m_refreshes; }, nullptr);
    QCOMPARE(m_prompter.texts, QStringList{QStringLiteral("File already exist")});
    QCOMPARE(ReadFile(Dst("c.mp3")), QByteArray("new c.mp3"));
    QCOMPARE(m_view->Model()->rowCount(), 3);
    QVERIFY(!m_view->HasSelection());

    // Skip All on the first: nothing changes and the selection is cleared.
    for (const char *name : {"a.mp3", "b.mp3"})
        QVERIFY(WriteFile(Dst(name), "kept"));
    m_prompter.texts.clear();
    m_prompter.choices = {3};
    SelectAll();
    filecommands::CopyMoveRows(*m_view, m_dst.path(), false, {}, nullptr);
    QCOMPARE(ReadFile(Dst("a.mp3")), QByteArray("kept"));
    QCOMPARE(ReadFile(Dst("b.mp3")), QByteArray("kept"));
    QVERIFY(!m_view->HasSelection());

    // Into the files' own folder: "Can not copy file to itself", and the command stops.
    m_prompter.texts.clear();
    SelectAll();
    filecommands::CopyMoveRows(*m_view, m_src.path(), false, {}, nullptr);
    QCOMPARE(m_prompter.texts, QStringList{QStringLiteral("Can not copy file to itself")});
}

void TestFileCommands::moveRemovesRowsAndFailureRefreshes()
{
    // a.mp3: Skip (closed dialog) keeps file and row; b.mp3: Overwrite moves it and drops its row.
    QFile::remove(Dst("c.mp3"));
    m_prompter.choices = {-1, 0};
    SelectAll();
    filecommands::CopyMoveRows(*m_view, m_dst.path(), true, [this] { ++m_refreshes; }, nullptr);
    QVERIFY(QFile::exists(Src("a.mp3")));
    QVERIFY(!QFile::exists(Src("b.mp3")) && !QFile::exists(Src("c.mp3")));
    QCOMPARE(ReadFile(Dst("b.mp3")), QByteArray("new b.mp3"));
    QCOMPARE(m_view->Model()->rowCount(), 1);
    QCOMPARE(m_view->Model()->RowCounter(), 3);   // the counter is never lowered

    // A target folder that is gone: the system's error, then the folder is listed again.
    m_prompter.texts.clear();
    SelectAll();
    filecommands::CopyMoveRows(*m_view, m_dst.filePath(QStringLiteral("gone")), false, [this] { ++m_refreshes; }, nullptr);
    QCOMPARE(m_refreshes, 1);
    QCOMPARE(m_prompter.texts.size(), 1);
    QVERIFY(m_prompter.texts[0].contains(QLatin1String("No such file or directory")));
    QVERIFY(!m_view->HasSelection());
}

void TestFileCommands::removeAsksFirstAndSkipsReadOnly()
{
    SelectAll();
    m_prompter.answer = QMessageBox::No;
    filecommands::RemoveSelection(*m_view, {}, nullptr);
    m_prompter.answer = QMessageBox::NoButton;   // closed without an answer: nothing deleted either
    filecommands::RemoveSelection(*m_view, {}, nullptr);
    QVERIFY(QFile::exists(Src("a.mp3")));
    QCOMPARE(m_view->Model()->rowCount(), 3);

    // b.mp3 read-only, the "File Deleting" question closed: it counts as Skip, file and row stay.
    ::chmod(QFile::encodeName(Src("b.mp3")).constData(), 0444);
    m_prompter.answer = QMessageBox::Yes;
    filecommands::RemoveSelection(*m_view, {}, nullptr);
    QVERIFY(!QFile::exists(Src("a.mp3")) && !QFile::exists(Src("c.mp3")));
    QVERIFY(QFile::exists(Src("b.mp3")));
    QCOMPARE(m_view->Model()->rowCount(), 1);
    QCOMPARE(m_view->Model()->Row(0)[Column::Filename], QStringLiteral("b"));
    QVERIFY(m_prompter.texts.contains(QStringLiteral("File Deleting")));
}

void TestFileCommands::copyMoveStartsAtTheSongsFolderThenTheLastChosen()
{
    // The real Copy/Move dialog over the list: first at the songs' folder; once a folder is chosen, there.
    auto opened = [this](const QString &choose) {
        QString shown;
        QTimer::singleShot(300, this, [&] {
            auto *dialog = qobject_cast<CFolderDlg *>(QApplication::activeModalWidget());
            if (!dialog)
                return;
            shown = QDir::cleanPath(dialog->Folder());
            if (choose.isEmpty()) {
                QTest::keyClick(dialog, Qt::Key_Escape);
                return;
            }
            dialog->Tree()->SelectPath(choose);
            QTest::mouseClick(dialog->findChild<QDialogButtonBox *>()->button(QDialogButtonBox::Ok), Qt::LeftButton);
        });
        m_view->selectRow(1);
        filecommands::CopyMoveSelection(*m_view, m_settings, m_state, false, {}, nullptr);
        return shown;
    };
    QCOMPARE(opened(m_dst.path()), m_src.path());
    QCOMPARE(ReadFile(Dst("b.mp3")), QByteArray("old b.mp3"));   // the same name there: the question said Skip
    QCOMPARE(opened(QString()), m_dst.path());
}

void TestFileCommands::folderDialogNeedsAFolder()
{
    CFolderDlg dialog(m_settings, m_state);
    QPushButton *ok = dialog.findChild<QDialogButtonBox *>()->button(QDialogButtonBox::Ok);
    QVERIFY(!ok->isEnabled());
    QVERIFY(dialog.Tree()->SelectPath(m_dst.path()) != nullptr);
    QVERIFY(ok->isEnabled());
    QCOMPARE(QDir::cleanPath(dialog.Folder()), m_dst.path());

    // New Folder asks for a name (the real input dialog, answered by typing) and chooses the new folder.
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    bool asked = false;
    QTimer::singleShot(200, this, [&] {
        auto *input = qobject_cast<QInputDialog *>(QApplication::activeModalWidget());
        asked = input != nullptr;
        if (!input)
            return;
        auto *edit = input->findChild<QLineEdit *>();
        edit->selectAll();
        QTest::keyClicks(edit, QStringLiteral("Fresh"));
        QTest::keyClick(edit, Qt::Key_Return);
    });
    QTest::mouseClick(dialog.NewFolderButton(), Qt::LeftButton);
    QTRY_VERIFY(asked);
    QVERIFY(QFileInfo(Dst("Fresh")).isDir());
    QCOMPARE(QDir::cleanPath(dialog.Folder()), Dst("Fresh"));
    // The next Copy/Move opens at the folder chosen last.
    QTest::mouseClick(ok, Qt::LeftButton);
    QCOMPARE(dialog.result(), int(QDialog::Accepted));
    CFolderDlg next(m_settings, m_state);
    QCOMPARE(QDir::cleanPath(next.Folder()), Dst("Fresh"));
}

void TestFileCommands::inPlaceEditing()
{
    using namespace testmp3;
    QVERIFY(WriteFile(Src("a.mp3"), Tag(Frame("TIT2", Latin1Body("Old"))) + Audio(1)));
    QVERIFY(WriteFile(Src("b.mp3"), Tag(Frame("TIT2", Latin1Body("Bee"))) + Audio(1)));
    m_view->FillTagCells(0, nullptr);
    connect(m_view.get(), &CRightView::CellEdited, this, [this](const QString &path, int c, const QString &t, const QString &) {
        filecommands::CommitCellEdit(*m_view, path, c, t, nullptr);
    });
    m_view->resize(900, 300);
    m_view->show();
    QVERIFY(QTest::qWaitForWindowActive(m_view.get()));

    // F2 edits the first selected row's name; * / : ? \ are never typed; Enter renames the file.
    m_view->selectRow(0);
    QTest::keyClick(m_view.get(), Qt::Key_F2);
    QVERIFY(m_view->Editor());
    QCOMPARE(m_view->Editor()->text(), QStringLiteral("a"));
    QTest::keyClicks(m_view->Editor(), QStringLiteral("x*y/z:w?v\\u"));
    QTest::keyClick(m_view->Editor(), Qt::Key_Return);
    QTRY_VERIFY(QFile::exists(Src("xyzwvu.mp3")));
    QCOMPARE(m_view->Model()->Row(0)[Column::Filename], QStringLiteral("xyzwvu"));

    // Esc leaves name and file alone; an emptied name changes nothing either.
    QTest::keyClick(m_view.get(), Qt::Key_F2);
    QTest::keyClicks(m_view->Editor(), QStringLiteral("zzz"));
    QTest::keyClick(m_view->Editor(), Qt::Key_Escape);
    QTest::keyClick(m_view.get(), Qt::Key_F2);
    m_view->Editor()->clear();
    QTest::keyClick(m_view->Editor(), Qt::Key_Return);
    QTRY_VERIFY(!m_view->Editor());
    QVERIFY(QFile::exists(Src("xyzwvu.mp3")));

    // Tab goes to the next editable column (Title); a typed title is written to the file.
    QTest::keyClick(m_view.get(), Qt::Key_F2);
    QTest::keyClick(m_view->Editor(), Qt::Key_Tab);
    QTRY_COMPARE(m_view->Editor()->Column(), int(Column::Title));
    QTest::keyClicks(m_view->Editor(), QStringLiteral("New"));
    // Down commits, edits the same column one row down and moves the selection along.
    QTest::keyClick(m_view->Editor(), Qt::Key_Down);
    QTRY_COMPARE(m_view->Editor()->Row(), 1);
    QCOMPARE(m_view->SelectedRows(), QList<int>{1});
    TagFile tag;
    QVERIFY(tag.Open(Src("xyzwvu.mp3")));
    QCOMPARE(tag.title, QStringLiteral("New"));
    // Shift+Tab from Title lands on the Filename cell (Ext and Path cannot be edited).
    QTest::keyClick(m_view->Editor(), Qt::Key_Backtab, Qt::ShiftModifier);
    QTRY_COMPARE(m_view->Editor()->Column(), 0);
    QTest::keyClick(m_view->Editor(), Qt::Key_Escape);

    // F2, a new name, then Tab to Title: the title typed there reaches the renamed file.
    m_view->selectRow(0);
    QTest::keyClick(m_view.get(), Qt::Key_F2);
    m_view->Editor()->selectAll();
    QTest::keyClicks(m_view->Editor(), QStringLiteral("renamed"));
    QTest::keyClick(m_view->Editor(), Qt::Key_Tab);
    QTRY_COMPARE(m_view->Editor()->Column(), int(Column::Title));
    QTRY_VERIFY(QFile::exists(Src("renamed.mp3")));
    m_view->Editor()->selectAll();
    QTest::keyClicks(m_view->Editor(), QStringLiteral("Kept"));
    QTest::keyClick(m_view->Editor(), Qt::Key_Return);
    QTRY_VERIFY(!m_view->Editor());
    QVERIFY(tag.Open(Src("renamed.mp3")));
    QCOMPARE(tag.title, QStringLiteral("Kept"));
    QCOMPARE(m_view->Model()->Row(0)[Column::Title], QStringLiteral("Kept"));
    QVERIFY2(m_prompter.texts.isEmpty(), qPrintable(m_prompter.texts.join(QLatin1Char('|'))));

    // A track of 5000 is no track: the cell shows what the file holds, empty.
    m_view->EditCell(1, int(Column::Track));
    QTest::keyClicks(m_view->Editor(), QStringLiteral("5000"));
    QTest::keyClick(m_view->Editor(), Qt::Key_Return);
    QTRY_VERIFY(!m_view->Editor());
    QCOMPARE(m_view->Model()->Row(1)[Column::Track], QString());

    // Ctrl+double-click on a tag cell edits it; Ctrl+End moves to the last row.
    const QRect title = m_view->visualRect(m_view->Model()->index(0, int(Column::Title)));
    QTest::mouseDClick(m_view->viewport(), Qt::LeftButton, Qt::ControlModifier, title.center());
    QTRY_VERIFY(m_view->Editor());
    QCOMPARE(m_view->Editor()->Column(), int(Column::Title));
    QTest::keyClick(m_view->Editor(), Qt::Key_End, Qt::ControlModifier);
    QTRY_COMPARE(m_view->Editor()->Row(), 2);
    QTest::keyClick(m_view->Editor(), Qt::Key_Escape);
    QVERIFY2(m_prompter.texts.isEmpty(), qPrintable(m_prompter.texts.join(QLatin1Char('|'))));
}

void TestFileCommands::clipboardAndDrop()
{
    // Copy puts a URL list and the file managers' marker on the clipboard.
    filecommands::FileClipboard clip;
    m_view->selectRow(0);
    clip.Copy(*m_view);
    const QMimeData *data = QGuiApplication::clipboard()->mimeData();
    QVERIFY(data && data->hasUrls());
    QCOMPARE(data->urls(), QList<QUrl>{QUrl::fromLocalFile(Src("a.mp3"))});
    QCOMPARE(data->data(QStringLiteral("x-special/gnome-copied-files")),
             QByteArray("copy\n") + QUrl::fromLocalFile(Src("a.mp3")).toEncoded());
    QVERIFY(filecommands::FileClipboard::CanPaste());
    // The answer follows the clipboard's changes: a text is nothing to paste.
    QGuiApplication::clipboard()->setText(QStringLiteral("just words"));
    QVERIFY(!filecommands::FileClipboard::CanPaste());
    clip.Copy(*m_view);
    QVERIFY(filecommands::FileClipboard::CanPaste());

    // Pasted into another folder's list: copied there (asking about the existing a.mp3: Overwrite) and listed.
    CRightView other(m_settings, m_state);
    other.ListFolder(m_dst.path());
    // The worker's last rows arrive after its thread has ended: wait for the rows, not for the thread.
    QTRY_VERIFY_WITH_TIMEOUT(other.Model()->rowCount() == 3 && m_state.scanning.load() == 0, 10000);
    m_prompter.choices = {0};
    clip.Paste(other, {}, nullptr);
    QCOMPARE(ReadFile(Dst("a.mp3")), QByteArray("new a.mp3"));
    QCOMPARE(other.Model()->rowCount(), 3);

    // What a file manager copied pastes here too: a file list with a file of the wrong type.
    QVERIFY(WriteFile(m_src.filePath(QStringLiteral("notes.txt")), "x"));
    auto *foreign = new QMimeData;
    foreign->setUrls({QUrl::fromLocalFile(m_src.filePath(QStringLiteral("notes.txt"))), QUrl::fromLocalFile(Src("b.mp3"))});
    QGuiApplication::clipboard()->setMimeData(foreign);
    m_prompter.texts.clear();
    m_prompter.choices = {2};   // b.mp3 exists there: Skip
    clip.Paste(other, {}, nullptr);
    QCOMPARE(m_prompter.texts.first(), QStringLiteral("File %1 has wrong type. The command is ignored.")
                                           .arg(m_src.filePath(QStringLiteral("notes.txt"))));
    QCOMPARE(ReadFile(Dst("b.mp3")), QByteArray("old b.mp3"));

    // Cut and Paste into the same folder does nothing; into another it moves.
    m_view->clearSelection();
    m_view->selectRow(2);
    clip.Cut(*m_view);
    clip.Paste(*m_view, {}, nullptr);
    QVERIFY(QFile::exists(Src("c.mp3")));
    QFile::remove(Dst("c.mp3"));
    clip.Cut(*m_view);
    clip.Paste(other, {}, nullptr);
    QVERIFY(!QFile::exists(Src("c.mp3")));
    QCOMPARE(ReadFile(Dst("c.mp3")), QByteArray("new c.mp3"));

    // Drops reach the list as events: without Ctrl a move, with Ctrl a copy.
    QList<bool> copies;
    connect(&other, &CRightView::FilesDropped, this, [&](const QList<QUrl> &, bool copy) { copies.append(copy); });
    other.show();
    QVERIFY(QTest::qWaitForWindowExposed(&other));
    for (const Qt::KeyboardModifiers mods : {Qt::KeyboardModifiers(), Qt::KeyboardModifiers(Qt::ControlModifier)}) {
        QMimeData dropped;
        dropped.setUrls({QUrl::fromLocalFile(Src("b.mp3"))});
        const QPoint at = other.viewport()->rect().center();
        QDragEnterEvent enter(at, Qt::CopyAction | Qt::MoveAction, &dropped, Qt::LeftButton, mods);
        QApplication::sendEvent(other.viewport(), &enter);
        QVERIFY(enter.isAccepted());
        QCOMPARE(enter.dropAction(), mods ? Qt::CopyAction : Qt::MoveAction);
        QDropEvent drop(QPointF(at), Qt::CopyAction | Qt::MoveAction, &dropped, Qt::LeftButton, mods);
        QApplication::sendEvent(other.viewport(), &drop);
    }
    QCOMPARE(copies, (QList<bool>{false, true}));

    // A drop onto a list with no folder (after Scan All) writes nothing anywhere.
    CRightView noFolder(m_settings, m_state);
    m_prompter.texts.clear();
    clip.Drop(noFolder, {QUrl::fromLocalFile(Src("b.mp3"))}, true, {}, nullptr);
    QCOMPARE(m_prompter.texts.size(), 1);
    QVERIFY(QFile::exists(Src("b.mp3")));
}

void TestFileCommands::questionsStayAboveTheProgress()
{
    // The real message boxes, answered by clicking: each "File already exist" question stays the active modal
    // window past the progress box's half-second delay, with the arrow cursor, and its Skip button is taken.
    Prompter::SetCurrent(nullptr);
    QWidget window;
    window.resize(400, 300);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    int answered = 0;
    QStringList faults;
    QPointer<QWidget> seen;
    QElapsedTimer since;
    QTimer poll;
    connect(&poll, &QTimer::timeout, this, [&] {
        QWidget *modal = QApplication::activeModalWidget();
        if (auto *progress = qobject_cast<QProgressDialog *>(modal)) {
            faults << QStringLiteral("the progress box covers the question");
            progress->cancel();
            return;
        }
        QPushButton *skip = nullptr;
        for (QPushButton *button : modal ? modal->findChildren<QPushButton *>() : QList<QPushButton *>())
            skip = button->text() == QLatin1String("Skip") ? button : skip;
        if (!skip)
            return;
        if (modal != seen) {
            seen = modal;
            since.start();
            if (!QApplication::overrideCursor() || QApplication::overrideCursor()->shape() != Qt::ArrowCursor)
                faults << QStringLiteral("no arrow cursor over the question");
            return;
        }
        if (since.elapsed() < 800)
            return;   // past the moment the progress box would have come up
        QTest::mouseClick(skip, Qt::LeftButton);
        ++answered;
    });
    poll.start(50);
    SelectAll();
    filecommands::CopyMoveRows(*m_view, m_dst.path(), false, {}, &window);
    poll.stop();
    Prompter::SetCurrent(&m_prompter);
    QVERIFY2(faults.isEmpty(), qPrintable(faults.join(QLatin1Char('|'))));
    QCOMPARE(answered, 3);
    for (const char *name : {"a.mp3", "b.mp3", "c.mp3"})
        QCOMPARE(ReadFile(Dst(name)), QByteArray("old ") + name);   // every question answered Skip
    for (QProgressDialog *progress : window.findChildren<QProgressDialog *>())
        QVERIFY(!progress->isVisible());
    QCOMPARE(QApplication::overrideCursor(), nullptr);
}

void TestFileCommands::editsBelongToTheirFile()
{
    using namespace testmp3;
    for (const char *name : {"a.mp3", "b.mp3", "c.mp3"})
        QVERIFY(WriteFile(Src(name), Tag(Frame("TIT2", Latin1Body(QString::fromLatin1(name)))) + Audio(1)));
    connect(m_view.get(), &CRightView::CellEdited, this, [this](const QString &path, int c, const QString &t, const QString &) {
        filecommands::CommitCellEdit(*m_view, path, c, t, nullptr);
    });
    m_view->resize(900, 300);
    m_view->show();
    QVERIFY(QTest::qWaitForWindowActive(m_view.get()));
    auto title = [this](const char *name) {
        TagFile tag;
        return tag.Open(Src(name)) ? tag.title : QStringLiteral("?");
    };

    // An edit open on a.mp3's title while the rows are sorted the other way round: the text goes to a.mp3.
    m_view->EditCell(0, int(Column::Title));
    QTest::keyClicks(m_view->Editor(), QStringLiteral("First"));
    m_view->SortColumn(int(Column::Filename), false);
    m_view->SortColumn(int(Column::Filename), false);   // descending: c, b, a
    QVERIFY(!m_view->Editor());
    QTRY_COMPARE(title("a.mp3"), QStringLiteral("First"));
    QCOMPARE(title("c.mp3"), QStringLiteral("c.mp3"));
    QCOMPARE(m_view->Model()->Row(2)[Column::Title], QStringLiteral("First"));

    // Removed from the list while edited: the edit still reaches its own file, no other.
    m_view->EditCell(1, int(Column::Title));   // b.mp3
    QTest::keyClicks(m_view->Editor(), QStringLiteral("Second"));
    m_view->Model()->RemoveRows({1});
    QTRY_COMPARE(title("b.mp3"), QStringLiteral("Second"));
    QCOMPARE(title("c.mp3"), QStringLiteral("c.mp3"));

    // Tab skips a column switched off in Options: Title -> Year when Artist is off.
    std::array<bool, kColumnCount> visible;
    visible.fill(true);
    visible[std::size_t(Column::Artist)] = false;
    m_view->ApplyColumnChoice(visible);
    m_view->EditCell(0, int(Column::Title));
    QTest::keyClick(m_view->Editor(), Qt::Key_Tab);
    QTRY_COMPARE(m_view->Editor()->Column(), int(Column::Year));
    QTest::keyClick(m_view->Editor(), Qt::Key_Backtab, Qt::ShiftModifier);
    QTRY_COMPARE(m_view->Editor()->Column(), int(Column::Title));
    QTest::keyClick(m_view->Editor(), Qt::Key_Escape);
    QTRY_VERIFY(!m_view->Editor());

    // In the Filename editor a pasted "sub/x" arrives filtered, and Up/Down leave the selection on its row.
    m_view->selectRow(0);
    m_view->EditCell(0, 0);
    QGuiApplication::clipboard()->setText(QStringLiteral("sub/x:y"));
    m_view->Editor()->selectAll();
    QTest::keyClick(m_view->Editor(), Qt::Key_V, Qt::ControlModifier);
    QCOMPARE(m_view->Editor()->text(), QStringLiteral("subxy"));
    QTest::keyClick(m_view->Editor(), Qt::Key_Down);
    QTest::keyClick(m_view->Editor(), Qt::Key_Up);
    QCOMPARE(m_view->SelectedRows(), QList<int>{0});
    QTest::keyClick(m_view->Editor(), Qt::Key_Return);
    QTRY_VERIFY(QFile::exists(Src("subxy.mp3")));
    QVERIFY2(m_prompter.texts.isEmpty(), qPrintable(m_prompter.texts.join(QLatin1Char('|'))));
}

void TestFileCommands::namesNeverLeaveTheirFolder()
{
    // Whatever text reaches the Filename commit, the file stays in its folder.
    QDir(m_src.path()).mkpath(QStringLiteral("deep/er"));
    const QString inner = m_src.filePath(QStringLiteral("deep/er/x.mp3"));
    QVERIFY(WriteFile(inner, "x"));
    QVERIFY(m_view->AddFile(inner));
    const int row = m_view->Model()->RowOfFile(inner);
    QVERIFY(row >= 0);
    filecommands::CommitCellEdit(*m_view, inner, 0, QStringLiteral("../../y"), nullptr);
    filecommands::CommitCellEdit(*m_view, m_view->RowFullPath(row), 0, QStringLiteral("..\\z"), nullptr);
    QCOMPARE(QDir(m_src.filePath(QStringLiteral("deep/er"))).entryList(QDir::Files | QDir::Hidden),
             QStringList{QStringLiteral(".._z.mp3")});
    QCOMPARE(m_view->Model()->Row(row)[Column::Filename], QStringLiteral(".._z"));
    QVERIFY(!QFile::exists(m_src.filePath(QStringLiteral("y.mp3"))));
}

void TestFileCommands::renameFromTagShowsTheRealName()
{
    using namespace testmp3;
    const QString upper = m_src.filePath(QStringLiteral("Song.MP3"));
    QVERIFY(WriteFile(upper, Tag(Frame("TIT2", Latin1Body("Tune")) + Frame("TPE1", Latin1Body("Ann"))) + Audio(1)));
    QVERIFY(m_view->AddFile(upper));
    const int row = m_view->Model()->RowOfFile(upper);
    m_view->clearSelection();
    m_view->selectRow(row);
    QCOMPARE(filecommands::RenameRows(*m_view, QStringLiteral("$A - $T"), 0, nullptr), 0);
    QCOMPARE(m_view->Model()->Row(row)[Column::Filename], QStringLiteral("Ann - Tune"));
    QCOMPARE(m_view->Model()->Row(row)[Column::Ext], QStringLiteral("mp3"));
    TagFile tag;   // the row names the file that is there: Edit Tag and Update find it
    QVERIFY(tag.Open(m_view->RowFullPath(row)));
    QCOMPARE(tag.title, QStringLiteral("Tune"));

    // A name the file system refuses (too long) is named in one summary, not passed over in silence.
    m_prompter.texts.clear();
    QCOMPARE(filecommands::RenameRows(*m_view, QString(300, QLatin1Char('n')), 0, nullptr), 1);
    QCOMPARE(m_prompter.texts.size(), 1);
    QVERIFY2(m_prompter.texts[0].contains(QLatin1String("could not be renamed")) &&
                 m_prompter.texts[0].contains(QLatin1String("File name too long")),
             qPrintable(m_prompter.texts[0]));
}

void TestFileCommands::urlsCarryTheNamesBytes()
{
    // A Latin-1 name: the clipboard's URL holds its real byte, and that URL pastes back to the same file.
    const QByteArray native = QFile::encodeName(m_src.path()) + "/Caf\xe9.mp3";
    const int fd = ::open(native.constData(), O_CREAT | O_WRONLY, 0644);
    QVERIFY(fd >= 0);
    ::close(fd);
    const QString path = platform::DecodeName(native);
    QVERIFY(m_view->AddFile(path));
    m_view->clearSelection();
    m_view->selectRow(m_view->Model()->RowOfFile(path));
    filecommands::FileClipboard clip;
    clip.Copy(*m_view);
    const QMimeData *data = QGuiApplication::clipboard()->mimeData();
    QVERIFY(data->urls().front().toEncoded().endsWith("/Caf%E9.mp3"));
    QVERIFY(data->data(QStringLiteral("x-special/gnome-copied-files")).endsWith("/Caf%E9.mp3"));
    CRightView other(m_settings, m_state);
    other.ListFolder(m_dst.path());
    QTRY_VERIFY_WITH_TIMEOUT(other.Model()->rowCount() == 3 && m_state.scanning.load() == 0, 10000);
    clip.Paste(other, {}, nullptr);
    QVERIFY2(m_prompter.texts.isEmpty(), qPrintable(m_prompter.texts.join(QLatin1Char('|'))));
    struct stat st{};
    QCOMPARE(::stat((QFile::encodeName(m_dst.path()) + "/Caf\xe9.mp3").constData(), &st), 0);
    // QTemporaryDir cannot reach a name that is not UTF-8 to remove it.
    ::unlink(native.constData());
    ::unlink((QFile::encodeName(m_dst.path()) + "/Caf\xe9.mp3").constData());

    // A folder or a FIFO named like a song is never dropped in.
    QDir(m_src.path()).mkpath(QStringLiteral("album.mp3"));
    QCOMPARE(::mkfifo(QFile::encodeName(Src("pipe.mp3")).constData(), 0644), 0);
    clip.Drop(other, {QUrl::fromLocalFile(Src("album.mp3")), QUrl::fromLocalFile(Src("pipe.mp3"))}, true, {}, nullptr);
    QCOMPARE(m_prompter.texts.size(), 2);
    QVERIFY(!QFileInfo::exists(Dst("album.mp3")) && !QFileInfo::exists(Dst("pipe.mp3")));
}

QTEST_MAIN(TestFileCommands)
#include "tst_filecommands.moc"
