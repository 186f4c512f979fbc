#include "app/mainframe.h"

#include "platform/userfolders.h"
#include "settings/documentsfolder.h"

#include "app/aboutbox.h"
#include "dialogs/undocommands.h"
#include "journal/journal.h"
#include "platform/statefolder.h"
#include "dialogs/filecommands.h"
#include "dialogs/optionsdlg.h"
#include "dialogs/prompter.h"
#include "dialogs/reportcommands.h"
#include "library/tracklistmodel.h"
#include "settings/product.h"
#include "dialogs/tagcommands.h"
#include "settings/appsettings.h"
#include "app/trayicon.h"
#include "platform/desktop.h"
#include "res/artwork.h"
#include "tags/genretable.h"
#include "tracklist/filterbox.h"
#include "tracklist/rightview.h"
#include "tree/foldertreectrl.h"
#include "tree/leftview.h"
#include "library/scanstate.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QCursor>
#include <QFileSystemWatcher>
#include <QItemSelection>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QPrinter>
#include <QProgressBar>
#include <QSettings>
#include <QSplitter>
#include <QVBoxLayout>
#include <QStatusBar>
#include <QStatusTipEvent>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <QMessageBox>
#include <QUrl>

#include <memory>

namespace {

constexpr int kLeftViewDefault = 190;
constexpr int kLeftViewMinimum = 120;

} // namespace

CMainFrame::CMainFrame(AppSettings &settings, ScanState &state, QSettings &store, bool trayAvailable, QWidget *parent)
    : QMainWindow(parent), m_settings(settings), m_state(state), m_store(store), m_trayAvailable(trayAvailable),
      m_commands(this)
{
    GenreTable::Build();
    setWindowTitle(QStringLiteral("Tunegrove"));
    setWindowIcon(artwork::AppIcon());
    setGeometry(m_settings.x, m_settings.y, m_settings.cx, m_settings.cy);

    // The two panes. The tree pane starts at its stored width: 0 means never stored, and it is never narrower
    // than 120 pixels.
    if (m_settings.leftViewWidth == 0)
        m_settings.leftViewWidth = kLeftViewDefault;
    if (m_settings.leftViewWidth < kLeftViewMinimum)
        m_settings.leftViewWidth = kLeftViewMinimum;
    m_splitter = new QSplitter(Qt::Horizontal, this);
    m_leftView = new CLeftView(m_settings, m_state, m_splitter);
    // The right pane: the filter box over the list.
    auto *listPane = new QWidget(m_splitter);
    m_filterBox = new CFilterBox(listPane);
    m_rightView = new CRightView(m_settings, m_state, listPane);
    auto *listLayout = new QVBoxLayout(listPane);
    listLayout->setContentsMargins(0, 0, 0, 0);
    listLayout->setSpacing(0);
    listLayout->addWidget(m_filterBox);
    listLayout->addWidget(m_rightView, 1);
    m_splitter->addWidget(m_leftView);
    m_splitter->addWidget(listPane);
    m_splitter->setStretchFactor(0, 0);
    m_splitter->setStretchFactor(1, 1);
    m_splitter->setChildrenCollapsible(false);
    m_splitter->setSizes({m_settings.leftViewWidth, std::max(100, m_settings.cx - m_settings.leftViewWidth)});
    setCentralWidget(m_splitter);
    m_rightView->setFocus();   // the list is the active pane at start-up

    connect(m_leftView->Tree(), &CFolderTreeCtrl::FolderSelected, m_rightView, &CRightView::ListFolder);
    connect(m_filterBox, &CFilterBox::FilterChanged, m_rightView, &CRightView::SetFilter);
    connect(m_filterBox, &CFilterBox::Leave, m_rightView, [this] { m_rightView->setFocus(Qt::OtherFocusReason); });
    connect(m_rightView, &CRightView::FilesDropped, this, [this](const QList<QUrl> &urls, bool copy) {
        const undocommands::Scope journaled(copy ? tr("Drop (copy)") : tr("Drop (move)"), this);
        m_clipboard.Drop(*m_rightView, urls, copy, [this] { m_leftView->Tree()->Refresh(); }, this);
    });
    connect(m_rightView, &CRightView::ContextMenuWanted, this, &CMainFrame::ShowContextMenu);
    // Files dragged out of the list are the user's new choice: an earlier Cut no longer waits to be pasted.
    connect(m_rightView, &CRightView::DragStarted, this, [this] { m_clipboard.ForgetCut(); });
    connect(m_rightView, &CRightView::PlayWanted, this, [this] { m_commands.Execute(kCmdPlay); });
    connect(m_rightView, &CRightView::CellEdited, this,
            [this](const QString &path, int column, const QString &text, const QString &) {
                const undocommands::Scope journaled(column == 0 ? tr("Rename in place") : tr("Edit in place"), this);
                filecommands::CommitCellEdit(*m_rightView, path, column, text, this);
            });
    // The tree takes no input while a listing fills the list.
    // The tree takes no input while a listing fills the list; the widget that had the focus gets it back after.
    connect(m_rightView, &CRightView::ListingStarted, this, [this] {
        if (!m_focusBeforeListing)
            m_focusBeforeListing = QApplication::focusWidget();
        m_leftView->setEnabled(false);
        UpdateIdle();
    });
    connect(m_rightView, &CRightView::WalkFinished, this, [this] {
        EnableTree();
        UpdateIdle();
    });

    // A command acts on the rows as they are: an open in-place edit is committed first, as a click elsewhere would.
    m_commands.SetBeforeEach([this] { m_rightView->EndEdit(); });
    // What Undo and Redo offer changes with every command here, and with the command line's: the journal's
    // folder is watched.
    m_commands.SetAfterEach([this] { RefreshUndoState(); });
    DefineCommands();
    BuildMenus();
    BuildToolbar();
    BuildStatusBar();
    BuildAccelerators();
    platform::MakePrivateFolder(journal::DefaultFolder());
    m_outsideCommands = std::make_unique<undocommands::OutsideCommands>();
    auto *watcher = new QFileSystemWatcher({journal::DefaultFolder()}, this);
    connect(watcher, &QFileSystemWatcher::directoryChanged, this, [this] {
        RefreshUndoState();
        m_journalFollow->start();
    });
    // A command of the command line shows in the rows once its entry is written: the files it changed are
    // read again. A burst of changes to the folder is taken once.
    m_journalFollow = new QTimer(this);
    m_journalFollow->setSingleShot(true);
    m_journalFollow->setInterval(250);
    connect(m_journalFollow, &QTimer::timeout, this, [this] {
        QApplication::setOverrideCursor(Qt::WaitCursor);
        const bool running = m_outsideCommands->Follow(*m_rightView);
        QApplication::restoreOverrideCursor();
        RefreshUndoState();
        if (running)
            m_journalFollow->start(500);   // its end writes nothing new into the folder: look again
    });
    connect(m_rightView, &CRightView::CellEdited, this, [this] { RefreshUndoState(); }, Qt::QueuedConnection);
    RefreshUndoState();

    m_tray = new CTrayIcon(this);
    m_commands.Bind(kCmdTrayOpen, m_tray->OpenAction());
    m_commands.Bind(kCmdTrayClose, m_tray->CloseAction());
    connect(m_tray, &CTrayIcon::OpenRequested, this, &CMainFrame::ShowFromTray);
    UpdateTrayIcon();

    qApp->installEventFilter(this);
    auto *idle = new QTimer(this);
    connect(idle, &QTimer::timeout, this, &CMainFrame::UpdateIdle);
    idle->start(100);
    UpdateIdle();
}

CMainFrame::~CMainFrame()
{
    if (m_tray)
        m_tray->hide();
    // Stop a running walk before the views go: its thread must not outlive them.
    m_rightView->StopAndWait();
}

void CMainFrame::RefreshUndoState()
{
    m_nextUndo = undocommands::NextUndo();
    m_nextRedo = undocommands::NextRedo();
    // The entries name the command they take back; the prompt adds how many files it changed.
    auto label = [](const QString &verb, const undocommands::Next &next, const char *key) {
        return (next.id ? verb + QLatin1Char(' ') + next.command : verb) + QLatin1Char('\t') + QLatin1String(key);
    };
    m_undoEntry->setText(label(tr("&Undo"), m_nextUndo, "Ctrl+Z"));
    m_redoEntry->setText(label(tr("&Redo"), m_nextRedo, "Ctrl+Shift+Z"));
    m_undoEntry->setStatusTip(m_nextUndo.id ? tr("Undo %1 (%n file(s))", nullptr, m_nextUndo.files).arg(m_nextUndo.command)
                                            : tr("Nothing to undo"));
    m_redoEntry->setStatusTip(m_nextRedo.id ? tr("Redo %1 (%n file(s))", nullptr, m_nextRedo.files).arg(m_nextRedo.command)
                                            : tr("Nothing to redo"));
    m_commands.Update();
}

void CMainFrame::UpdateIdle()
{
    // A command's prompt stays only while its menu is open or the pointer is on the toolbar or the menu bar: a
    // tooltip window can swallow the event that would have cleared it.
    if (!m_prompt.isEmpty() && !QApplication::activePopupWidget()) {
        const QWidget *under = QApplication::widgetAt(QCursor::pos());
        if (!under || !(m_toolbar->isAncestorOf(under) || under == m_toolbar || menuBar()->isAncestorOf(under) ||
                        under == menuBar()))
            m_prompt.clear();
    }
    m_commands.Update();
    UpdateStatusPanes();
}

void CMainFrame::UpdateStatusPanes()
{
    m_panes[0]->setText(m_prompt.isEmpty() ? tr("Current Path: %1").arg(m_rightView->CurrentFolder()) : m_prompt);
    // A Ctrl released while a dialog held the input never reached us: ask the keyboard while it reads as held.
    if (m_ctrlHeld && !QGuiApplication::queryKeyboardModifiers().testFlag(Qt::ControlModifier))
        m_ctrlHeld = false;
    const int ctrl = m_ctrlHeld ? 1 : 0;
    if (ctrl != m_shownCtrl) {
        m_shownCtrl = ctrl;
        m_panes[1]->setText(tr("Subdir: ") + (ctrl ? tr("Yes") : tr("No")));
        m_subdirIcon->setPixmap(artwork::SubdirIcon(ctrl));
    }
    const int addList = m_state.addListMode.load() ? 1 : 0;
    if (addList != m_shownAddList) {
        m_shownAddList = addList;
        m_panes[2]->setText(tr("AddList: ") + (addList ? tr("Yes") : tr("No")));
        m_addListIcon->setPixmap(artwork::AddListIcon(addList));
    }
    if (m_rightView->Model()->IsFiltered())
        m_panes[3]->setText(tr("Mp3: %1 of %2").arg(m_rightView->Model()->rowCount()).arg(m_rightView->RowCounter()));
    else
        m_panes[3]->setText(tr("Mp3: %1").arg(m_rightView->RowCounter()));
    const int tick = m_state.progressTick.load();
    if (tick < 0) {
        m_progress->hide();
        m_panes[4]->show();
        const int selected = int(m_rightView->SelectedRows().size());
        m_panes[4]->setText(tr("Mp3`s selected: %1").arg(selected));
    } else {
        m_panes[4]->hide();
        m_progress->show();
        m_progress->setValue(tick);
    }
}

QString CMainFrame::PaneText(int pane) const { return pane >= 0 && pane < 5 ? m_panes[pane]->text() : QString(); }

void CMainFrame::InitialUpdate()
{
    if (m_initialUpdateDone)
        return;
    m_initialUpdateDone = true;
    // A stored folder that no longer exists selects nothing and lists nothing. At a first start the user's music
    // folder is shown, when there is one.
    QString path = m_settings.TreePath();
    if (!m_settings.treePathStored && path.isEmpty()) {
        const QString music = platform::UserMusicFolder();
        if (!music.isEmpty())
            path = DocumentsFolder::Current().ToTreeForm(music);
    }
    m_leftView->Tree()->SelectPath(path);
}

void CMainFrame::OpenAtStart(const QString &folder, const QStringList &files)
{
    if (m_initialUpdateDone)
        return;
    m_initialUpdateDone = true;
    if (!files.isEmpty()) {
        // Once: the listing this start begins ends (or is stopped), then the files' rows are selected.
        auto connection = std::make_shared<QMetaObject::Connection>();
        *connection = connect(m_rightView, &CRightView::WalkFinished, this, [this, files, connection] {
            disconnect(*connection);
            TrackListModel *model = m_rightView->Model();
            QItemSelection selection;
            int first = -1;
            for (const QString &file : files) {
                if (!model->IsListed(file))
                    m_rightView->AddFile(file);
                const int row = model->RowOfFile(file);
                if (row < 0)
                    continue;   // hidden by the filter, or not a file the list can hold
                selection.select(model->index(row, 0), model->index(row, model->columnCount() - 1));
                first = first < 0 ? row : first;
            }
            if (first < 0)
                return;
            m_rightView->selectionModel()->select(selection, QItemSelectionModel::ClearAndSelect);
            m_rightView->selectionModel()->setCurrentIndex(model->index(first, 0), QItemSelectionModel::NoUpdate);
            m_rightView->scrollTo(model->index(first, 0));
            m_rightView->setFocus();
        });
    }
    // As a click on it in the tree would; a folder the tree does not reach (a hidden one, say) is listed directly.
    // A folder given (a library's root, say) is listed with its subfolders, as a Ctrl+click lists it; the folder
    // of files given is listed alone.
    const int subfolders = m_state.subfolderMode.exchange(files.isEmpty() ? 1 : m_state.subfolderMode.load());
    if (!m_leftView->Tree()->SelectPath(DocumentsFolder::Current().ToTreeForm(folder)))
        m_rightView->ListFolder(folder);
    m_state.subfolderMode.store(subfolders);
}

void CMainFrame::ShowAtStart(bool hidden)
{
    if (hidden)
        return;
    if (m_settings.maxWindow == 1)
        showMaximized();
    else
        showNormal();
}

void CMainFrame::ShowFromTray()
{
    if (m_settings.maxWindow == 1)
        showMaximized();
    else
        showNormal();
    raise();
    activateWindow();
}

void CMainFrame::UpdateTrayIcon() { m_tray->setVisible(m_trayAvailable && m_settings.sysTrayIco == 1); }

void CMainFrame::SaveLayout()
{
    m_settings.leftViewWidth = m_splitter->sizes().value(0, m_settings.leftViewWidth);
    if (isMaximized()) {
        m_settings.maxWindow = 1;
    } else {
        m_settings.maxWindow = 0;
        const QRect r = geometry();
        m_settings.x = r.x();
        m_settings.y = r.y();
        m_settings.cx = r.width();
        m_settings.cy = r.height();
    }
    m_rightView->SaveColumnLayout();
    m_settings.SetTreePath(m_rightView->CurrentFolder());
    m_settings.Save(m_store);
    m_store.sync();
}

void CMainFrame::Quit(bool saveLayout)
{
    if (saveLayout)
        SaveLayout();
    m_quitting = true;
    // Ending the program does not wait for a listing: the worker is told to stop and ends with the process.
    m_state.stop.store(1);
    if (m_tray)
        m_tray->hide();
    hide();
    Q_EMIT QuitRequested();
}

void CMainFrame::closeEvent(QCloseEvent *event)
{
    if (m_quitting) {
        event->accept();
        return;
    }
    SaveLayout();
    // Hide to the tray only when there is a tray icon to come back from.
    if (m_settings.sysTrayIco == 1 && m_tray->isVisible()) {
        hide();
        event->ignore();
        return;
    }
    event->ignore();
    Quit(false);
}

QPrinter &CMainFrame::Printer()
{
    if (!m_printer)
        m_printer = std::make_unique<QPrinter>(QPrinter::HighResolution);
    return *m_printer;
}

void CMainFrame::ShowContextMenu(const QPoint &globalPos) { m_contextMenu->popup(globalPos); }

void CMainFrame::StopScan()
{
    m_rightView->StopWalk();
    EnableTree();
}

void CMainFrame::EnableTree()
{
    m_leftView->setEnabled(true);
    if (m_focusBeforeListing && m_focusBeforeListing->isEnabled())
        m_focusBeforeListing->setFocus();
    m_focusBeforeListing = nullptr;
}

void CMainFrame::ClearSelection()
{
    // Esc goes to the active pane first: the list clears its selection; otherwise it stops a running listing.
    if (m_listActive) {
        m_rightView->clearSelection();
        return;
    }
    if (m_state.scanning.load())
        StopScan();
}

void CMainFrame::OpenHelpFile()
{
    const QString help = platform::HelpFilePath();
    if (help.isEmpty()) {
        Prompter::Current().Tell(this, tr("The help could not be opened: its files are missing beside the program."),
                                 QMessageBox::Warning);
        return;
    }
    OpenOrTell(QUrl::fromLocalFile(help), tr("The help could not be opened"));
}

void CMainFrame::OpenHomePage()
{
    OpenOrTell(QUrl(QString::fromLatin1(product::kHomePage) + QLatin1Char('/')), tr("The home page could not be opened"));
}

void CMainFrame::OpenOrTell(const QUrl &url, const QString &failure)
{
    QString why = platform::WhyDesktopCannotOpen(url);
    if (why.isEmpty() && !platform::OpenWithDesktop(url))
        why = tr("the desktop did not open %1").arg(url.toDisplayString());
    if (!why.isEmpty())
        Prompter::Current().Tell(this, tr("%1: %2.").arg(failure, why), QMessageBox::Warning);
}

void CMainFrame::ShowAbout()
{
    CAboutBox box(this);
    connect(&box, &CAboutBox::HomepageRequested, this, &CMainFrame::OpenHomePage);
    box.exec();
}

bool CMainFrame::event(QEvent *event)
{
    // Command prompts show in pane 0 only; the status bar's own message would cover and shift the other panes.
    if (event->type() == QEvent::StatusTip) {
        m_prompt = static_cast<QStatusTipEvent *>(event)->tip();
        UpdateStatusPanes();
        return true;
    }
    return QMainWindow::event(event);
}

bool CMainFrame::eventFilter(QObject *watched, QEvent *event)
{
    switch (event->type()) {
    case QEvent::KeyPress:
        if (watched->isWindowType() && static_cast<QKeyEvent *>(event)->modifiers().testFlag(Qt::ControlModifier))
            m_ctrlHeld = true;
        break;
    case QEvent::KeyRelease:
        if (watched->isWindowType())
            m_ctrlHeld = false;
        break;
    case QEvent::FocusIn:
        // The active pane is the one the user last worked in; a focus move caused by disabling the tree during
        // a listing does not count.
        if (auto *widget = qobject_cast<QWidget *>(watched); widget && m_leftView->isEnabled()) {
            if (m_rightView->isAncestorOf(widget) || widget == m_rightView)
                m_listActive = true;
            else if (m_leftView->isAncestorOf(widget) || widget == m_leftView)
                m_listActive = false;
        }
        break;
    default:
        break;
    }
    return QMainWindow::eventFilter(watched, event);
}
