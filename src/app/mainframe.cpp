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

// Status-bar prompt and tooltip of each command that has them.
struct Prompt
{
    int id;
    const char *status;
    const char *tip;
};

const Prompt kPrompts[] = {
    {kCmdOptions, "Show Options Dialog", "Options"},
    {kCmdEditTag, "Edit tag selected mp3 file", "Edit tag selected mp3 file"},
    {kCmdGropeEdit, "Grope Edit tags of the selected mp3 files", "Grope Edit tags of the selected mp3 files"},
    {kCmdRemoveTag, "Remove Tag from selected file(s)", "Remove Tag"},
    {kCmdRemoveFiles, "Remove File(s)", "Remove File(s)"},
    {kCmdPlay, "Play Selected File(s)", "Play Selected File(s)"},
    {kCmdHomepage, "Program Website", "Website"},
    {kCmdCopyTo, "Copy File(s) to other folder", "Copy file to other folder"},
    {kCmdMoveTo, "Move File(s) to other folder", "Move file to other folder"},
    {kCmdStopScan, "Break scan process", "Break scan process"},
    {kCmdAddListMode, "If add lis is on all new scan files add to list, off - replace.",
     "If add lis is on all new scan files add to list, off - replace."},
    {kCmdRemoveFromList, "Remove selected rows from the list", "Remove selected rows from the list"},
    {kCmdCut, "Cut(Ctrl+X)", "Cut(Ctrl+X)"},
    {kCmdCopy, "Copy(Ctrl+C)", "Copy(Ctrl+C)"},
    {kCmdPaste, "Paste(Ctrl+V)", "Paste(Ctrl+V)"},
    {kCmdTrayOpen, "Open", "Open"},
    {kCmdTagFromName, "Set tag fields of the selected files from their names", "Tag from File Name"},
};

const char *const kPaneInitial[5] = {"Current Dir:       ", "Subdir: NO         ", "AddList: NO        ",
                                     "Mp3:           ", "Mp3`s selected:           "};

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

void CMainFrame::DefineCommands()
{
    CommandTable &c = m_commands;
    auto idle = [this] { return m_state.scanning.load() == 0; };
    auto never = [] { return false; };

    c.Define(kCmdScanAll, [this] { m_rightView->RunComputerScan(); }, idle);
    c.Define(kCmdStopScan, [this] { StopScan(); }, [this] { return m_state.scanning.load() != 0; });
    c.Define(kCmdAddListMode, [this] { m_state.addListMode.store(m_state.addListMode.load() ? 0 : 1); }, {},
             [this] { return m_state.addListMode.load() != 0; });
    c.Define(kCmdClearSelection, [this] { ClearSelection(); });
    c.Define(kCmdHelp, [this] { OpenHelpFile(); });
    c.Define(kCmdHomepage, [this] { OpenHomePage(); });
    c.Define(kCmdAbout, [this] { ShowAbout(); });
    c.Define(kCmdExit, [this] { Quit(true); });
    c.Define(kCmdTrayOpen, [this] { ShowFromTray(); });
    c.Define(kCmdTrayClose, [this] { Quit(false); });
    c.Define(kCmdRefresh, [this] { m_leftView->Tree()->Refresh(); });
    c.Define(kCmdToolbar, [this] { m_toolbar->setVisible(!m_toolbar->isVisible()); }, {},
             [this] { return m_toolbar && !m_toolbar->isHidden(); });
    c.Define(kCmdStatusBar, [this] { statusBar()->setVisible(!statusBar()->isVisible()); }, {},
             [this] { return !statusBar()->isHidden(); });
    c.Define(kCmdNextPane, [this] {
        (m_rightView->hasFocus() ? static_cast<QWidget *>(m_leftView) : m_rightView)->setFocus(Qt::TabFocusReason);
    });
    c.Define(kCmdPrevPane, [this] {
        (m_rightView->hasFocus() ? static_cast<QWidget *>(m_leftView) : m_rightView)->setFocus(Qt::BacktabFocusReason);
    });

    // Commands whose work is not in the program yet: present, and greyed everywhere.
    c.Define(kCmdEditTag, [this] {
        const undocommands::Scope journaled(m_rightView->SelectedRows().size() > 1 ? tr("Grope Edit") : tr("Edit Tag"), this);
        tagcommands::EditTag(*m_rightView, this);
    },
             [this] { return tagcommands::CanEditTag(*m_rightView); });
    c.Define(kCmdNormalize, [this] {
        const undocommands::Scope journaled(tr("Normalize Text in Tag"), this);
        tagcommands::NormalizeSelection(*m_rightView, this);
    },
             [this] { return m_state.scanning.load() == 0 && m_rightView->HasSelection(); });

    c.Define(kCmdRename, [this] {
        const undocommands::Scope journaled(tr("Rename File(s) using tag"), this);
        filecommands::RenameSelection(*m_rightView, m_store, this);
    },
             [this] { return tagcommands::CanEditTag(*m_rightView); });

    c.Define(kCmdTagFromName, [this] {
        const undocommands::Scope journaled(tr("Tag from File Name"), this);
        tagcommands::TagFromFileNames(*m_rightView, m_store, this);
    },
             [this] { return tagcommands::CanEditTag(*m_rightView); });

    auto selectedIdle = [this] { return m_state.scanning.load() == 0 && m_rightView->HasSelection(); };
    auto refresh = [this] { m_leftView->Tree()->Refresh(); };
    c.Define(kCmdCopyTo, [this, refresh] {
        const undocommands::Scope journaled(tr("Copy File(s) to"), this);
        filecommands::CopyMoveSelection(*m_rightView, m_settings, m_state, false, refresh, this);
    }, selectedIdle);
    c.Define(kCmdMoveTo, [this, refresh] {
        const undocommands::Scope journaled(tr("Move File(s) to"), this);
        filecommands::CopyMoveSelection(*m_rightView, m_settings, m_state, true, refresh, this);
    }, selectedIdle);
    c.Define(kCmdRemoveFiles, [this, refresh] {
        const undocommands::Scope journaled(tr("Remove File(s)"), this);
        filecommands::RemoveSelection(*m_rightView, refresh, this);
    },
             selectedIdle);
    c.Define(kCmdRemoveFromList, [this] { m_rightView->Model()->RemoveRows(m_rightView->SelectedRows()); },
             selectedIdle);
    c.Define(kCmdSelectAllRows, [this] { m_rightView->selectAll(); });
    // Undo and Redo over the journal; their entries name the command they act on.
    c.Define(kCmdUndo, [this] { undocommands::Undo(*m_rightView, this); },
             [this] { return m_state.scanning.load() == 0 && m_nextUndo.id != 0; });
    c.Define(kCmdRedo, [this] { undocommands::Redo(*m_rightView, this); },
             [this] { return m_state.scanning.load() == 0 && m_nextRedo.id != 0; });
    c.Define(kCmdFind, [this] { m_filterBox->Focus(); });
    c.Define(kCmdSelectAll, [this] { m_rightView->selectAll(); },
             [this] { return m_state.scanning.load() == 0 && m_rightView->Model()->rowCount() > 0; });

    c.Define(kCmdCopy, [this] { m_clipboard.Copy(*m_rightView); }, selectedIdle);
    c.Define(kCmdCut, [this] { m_clipboard.Cut(*m_rightView); }, selectedIdle);
    c.Define(kCmdPaste, [this, refresh] {
        const undocommands::Scope journaled(tr("Paste"), this);
        m_clipboard.Paste(*m_rightView, refresh, this);
    },
             [] { return filecommands::FileClipboard::CanPaste(); });

    c.Define(kCmdPlay, [this] { reportcommands::Play(*m_rightView, m_settings, this); },
             [this] { return m_rightView->HasSelection(); });

    c.Define(kCmdSaveReport, [this] { reportcommands::CreateReport(*m_rightView, m_settings, this); });

    auto idleForPrint = [this] { return m_state.scanning.load() == 0; };
    c.Define(kCmdPrint, [this] { reportcommands::Print(*m_rightView, m_settings, Printer(), this); }, idleForPrint);
    c.Define(kCmdPrintPreview, [this] { reportcommands::PrintPreview(*m_rightView, m_settings, Printer(), this); },
             idleForPrint);
    c.Define(kCmdPrintSetup, [this] { reportcommands::PrintSetup(Printer(), this); });

    c.Define(kCmdOptions, [this] {
        RunOptions(*m_rightView, m_settings, m_store, [this] { m_leftView->Tree()->Refresh(); },
                   [this] { UpdateTrayIcon(); }, this);
    }, idle);
    // Commands with no handler: their menu entries show disabled.
    for (const int id : {kCmdGropeEdit, kCmdRemoveTag, kCmdNoAction})
        c.Define(id, [] {}, never);
}

QAction *CMainFrame::BindWithPrompt(int id, QAction *action)
{
    m_commands.Bind(id, action);
    for (const Prompt &prompt : kPrompts) {
        if (prompt.id == id) {
            action->setStatusTip(tr(prompt.status));
            action->setToolTip(tr(prompt.tip));
        }
    }
    return action;
}

QAction *CMainFrame::MenuEntry(QMenu *menu, int id, const QString &text) { return BindWithPrompt(id, menu->addAction(text)); }

void CMainFrame::BuildMenus()
{
    // The text after a tab is shown as the entry's key; the keys that act are the accelerators below, and each
    // entry names one of the keys that really run its command.
    QMenu *file = menuBar()->addMenu(tr("&File"));
    MenuEntry(file, kCmdSaveReport, tr("Save As (Create Report)..."));
    file->addSeparator();
    MenuEntry(file, kCmdPrint, tr("&Print..."));
    MenuEntry(file, kCmdPrintPreview, tr("Print Pre&view"));
    MenuEntry(file, kCmdPrintSetup, tr("P&rint Setup..."));
    file->addSeparator();
    MenuEntry(file, kCmdExit, tr("E&xit"));

    QMenu *edit = menuBar()->addMenu(tr("&Edit"));
    m_undoEntry = MenuEntry(edit, kCmdUndo, tr("&Undo\tCtrl+Z"));
    m_redoEntry = MenuEntry(edit, kCmdRedo, tr("&Redo\tCtrl+Shift+Z"));
    edit->addSeparator();
    MenuEntry(edit, kCmdEditTag, tr("E&dit Tag\tCtrl+E"));
    edit->addSeparator();
    MenuEntry(edit, kCmdRename, tr("Rename File(s) using tag\tAlt+R"));
    MenuEntry(edit, kCmdTagFromName, tr("Tag from File &Name...\tAlt+N"));
    edit->addSeparator();
    MenuEntry(edit, kCmdRemoveFromList, tr("Remove from List"));
    edit->addSeparator();
    MenuEntry(edit, kCmdCopyTo, tr("Copy File(s) to"));
    MenuEntry(edit, kCmdMoveTo, tr("Move File(s) to"));
    MenuEntry(edit, kCmdRemoveFiles, tr("&Remove File(s)\tShift+Del"));
    edit->addSeparator();
    MenuEntry(edit, kCmdAddListMode, tr("Add List Mode\tF3"));
    edit->addSeparator();
    MenuEntry(edit, kCmdCut, tr("Cu&t\tCtrl+X"));
    MenuEntry(edit, kCmdCopy, tr("&Copy\tCtrl+C"));
    MenuEntry(edit, kCmdPaste, tr("&Paste\tCtrl+V"));
    edit->addSeparator();
    MenuEntry(edit, kCmdSelectAll, tr("Select All\tCtrl+A"));
    MenuEntry(edit, kCmdFind, tr("&Filter List\tCtrl+F"));

    QMenu *view = menuBar()->addMenu(tr("&View"));
    MenuEntry(view, kCmdRefresh, tr("Refresh\tF5"));
    MenuEntry(view, kCmdToolbar, tr("&Toolbar"));
    MenuEntry(view, kCmdStatusBar, tr("&Status Bar"));

    QMenu *tools = menuBar()->addMenu(tr("Tools"));
    MenuEntry(tools, kCmdOptions, tr("Options...\tCtrl+O"));
    tools->addSeparator();
    MenuEntry(tools, kCmdPlay, tr("Play selected files\tCtrl+P"));
    tools->addSeparator();
    MenuEntry(tools, kCmdScanAll, tr("Scan All"));
    MenuEntry(tools, kCmdStopScan, tr("Stop Scan\tCtrl+S"));
    tools->addSeparator();
    MenuEntry(tools, kCmdNormalize, tr("Normalize Text in Tag"));

    QMenu *help = menuBar()->addMenu(tr("&Help"));
    MenuEntry(help, kCmdAbout, tr("&About Program..."));
    MenuEntry(help, kCmdHomepage, tr("Homepage\tCtrl+W"));
    help->addSeparator();
    MenuEntry(help, kCmdHelp, tr("Help...\tF1"));

    for (QMenu *menu : {file, edit, view, tools, help})
        connect(menu, &QMenu::aboutToShow, this, &CMainFrame::UpdateIdle);

    // The list's context menu; its bold default entry follows "DblClickEdit".
    m_contextMenu = new QMenu(this);
    QAction *play = MenuEntry(m_contextMenu, kCmdPlay, tr("Play File(s)\tCtrl+P"));
    m_contextMenu->addSeparator();
    QAction *editTag = MenuEntry(m_contextMenu, kCmdEditTag, tr("E&dit Tag\tCtrl+E"));
    MenuEntry(m_contextMenu, kCmdGropeEdit, tr("&Grope Edit (Tags)"));
    m_contextMenu->addSeparator();
    MenuEntry(m_contextMenu, kCmdRename, tr("Rename File(s) Using Tag\tAlt+R"));
    MenuEntry(m_contextMenu, kCmdTagFromName, tr("Tag from File &Name...\tAlt+N"));
    m_contextMenu->addSeparator();
    MenuEntry(m_contextMenu, kCmdCopyTo, tr("Copy File(s) To"));
    MenuEntry(m_contextMenu, kCmdMoveTo, tr("Move File(s) To"));
    MenuEntry(m_contextMenu, kCmdRemoveFiles, tr("&Remove File(s)\tShift+Del"));
    m_contextMenu->addSeparator();
    MenuEntry(m_contextMenu, kCmdCut, tr("Cut\tCtrl+X"));
    MenuEntry(m_contextMenu, kCmdCopy, tr("Copy\tCtrl+C"));
    MenuEntry(m_contextMenu, kCmdPaste, tr("Paste\tCtrl+V"));
    connect(m_contextMenu, &QMenu::aboutToShow, this, [this, play, editTag] {
        UpdateIdle();
        m_contextMenu->setDefaultAction(m_settings.dblClickEdit == 1 ? editTag : play);
    });
}

void CMainFrame::BuildAccelerators()
{
    struct Key
    {
        QKeySequence keys;
        int id;
    };
    const Key keys[] = {
        {QKeySequence(Qt::CTRL | Qt::Key_A), kCmdSelectAllRows}, {QKeySequence(Qt::CTRL | Qt::Key_C), kCmdCopy},
        {QKeySequence(Qt::CTRL | Qt::Key_E), kCmdEditTag},       {QKeySequence(Qt::CTRL | Qt::Key_O), kCmdOptions},
        {QKeySequence(Qt::CTRL | Qt::Key_P), kCmdPlay},          {QKeySequence(Qt::ALT | Qt::Key_R), kCmdRename},
        {QKeySequence(Qt::ALT | Qt::Key_N), kCmdTagFromName},
        {QKeySequence(Qt::CTRL | Qt::Key_S), kCmdStopScan},      {QKeySequence(Qt::CTRL | Qt::Key_V), kCmdPaste},
        {QKeySequence(Qt::Key_Delete), kCmdRemoveFiles},         {QKeySequence(Qt::Key_Escape), kCmdClearSelection},
        {QKeySequence(Qt::SHIFT | Qt::Key_Delete), kCmdRemoveFiles},
        {QKeySequence(Qt::Key_F3), kCmdAddListMode},             {QKeySequence(Qt::Key_F5), kCmdRefresh},
        {QKeySequence(Qt::Key_F6), kCmdNextPane},                {QKeySequence(Qt::SHIFT | Qt::Key_F6), kCmdPrevPane},
        {QKeySequence(Qt::CTRL | Qt::Key_Insert), kCmdCopy},     {QKeySequence(Qt::SHIFT | Qt::Key_Insert), kCmdPaste},
        {QKeySequence(Qt::CTRL | Qt::Key_W), kCmdHomepage},      {QKeySequence(Qt::CTRL | Qt::Key_X), kCmdCut},
        {QKeySequence(Qt::Key_F1), kCmdHelp},
        {QKeySequence(Qt::CTRL | Qt::Key_Z), kCmdUndo},          {QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Z), kCmdRedo},
        {QKeySequence(Qt::CTRL | Qt::Key_Y), kCmdRedo},
        {QKeySequence(Qt::CTRL | Qt::Key_M), kCmdGropeEdit},     {QKeySequence(Qt::CTRL | Qt::Key_R), kCmdRemoveTag},
        {QKeySequence(Qt::Key_F4), kCmdNoAction},              {QKeySequence(Qt::CTRL | Qt::Key_F), kCmdFind},
    };
    for (const Key &key : keys) {
        auto *action = new QAction(this);
        action->setShortcut(key.keys);
        action->setShortcutContext(Qt::WindowShortcut);
        addAction(action);
        // Keys with no command behind them stay enabled and do nothing, so no widget gets them either.
        if (key.id != kCmdGropeEdit && key.id != kCmdRemoveTag && key.id != kCmdNoAction)
            BindWithPrompt(key.id, action);
    }
}

void CMainFrame::BuildToolbar()
{
    m_toolbar = addToolBar(tr("Toolbar"));
    m_toolbar->setObjectName(QStringLiteral("toolbar"));
    m_toolbar->setIconSize(QSize(36, 32));
    m_toolbar->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    m_toolbar->setAllowedAreas(Qt::TopToolBarArea | Qt::BottomToolBarArea);
    using artwork::ToolbarImage;
    struct Button
    {
        int id;
        ToolbarImage image;
        const char *caption;
        bool separatorAfter;
    };
    const Button buttons[] = {
        {kCmdPlay, ToolbarImage::Play, "Play", true},         {kCmdEditTag, ToolbarImage::Edit, "Edit", true},
        {kCmdRemoveFromList, ToolbarImage::Hide, "Hide", true}, {kCmdOptions, ToolbarImage::Options, "Options", false},
        {kCmdPrint, ToolbarImage::Print, "Print", true},      {kCmdAbout, ToolbarImage::About, "About", false},
        {kCmdHomepage, ToolbarImage::Website, "Website", false},
    };
    int width = 0;
    QList<QToolButton *> made;
    for (const Button &b : buttons) {
        QAction *action = BindWithPrompt(b.id, m_toolbar->addAction(artwork::ToolbarIcon(b.image), tr(b.caption)));
        if (auto *button = qobject_cast<QToolButton *>(m_toolbar->widgetForAction(action))) {
            made.append(button);
            if (width == 0)
                width = std::max(button->sizeHint().width(), 52);
        }
        if (b.separatorAfter)
            m_toolbar->addSeparator();
    }
    // Every button as wide as the first, 55 pixels high.
    for (QToolButton *button : made)
        button->setFixedSize(std::max(width, button->sizeHint().width()), 55);
}

void CMainFrame::BuildStatusBar()
{
    QStatusBar *bar = statusBar();
    for (int i = 0; i < 5; ++i) {
        m_panes[i] = new QLabel(QString::fromLatin1(kPaneInitial[i]), this);
        m_panes[i]->setMinimumWidth(m_panes[i]->fontMetrics().horizontalAdvance(QString::fromLatin1(kPaneInitial[i])) + 8);
    }
    m_subdirIcon = new QLabel(this);
    m_addListIcon = new QLabel(this);
    auto paneWithIcon = [this](QLabel *icon, QLabel *text) {
        auto *box = new QWidget(this);
        auto *layout = new QHBoxLayout(box);
        layout->setContentsMargins(0, 0, 0, 0);
        layout->setSpacing(4);
        layout->addWidget(icon);
        layout->addWidget(text, 1);
        return box;
    };
    m_progress = new QProgressBar(this);
    m_progress->setRange(0, 99);
    m_progress->setTextVisible(false);
    m_progress->setMaximumHeight(m_panes[4]->sizeHint().height());
    m_progress->setMinimumWidth(m_panes[4]->minimumWidth());
    m_progress->hide();

    bar->addWidget(m_panes[0], 1);   // pane 0 stretches; command prompts show over it
    bar->addPermanentWidget(paneWithIcon(m_subdirIcon, m_panes[1]));
    bar->addPermanentWidget(paneWithIcon(m_addListIcon, m_panes[2]));
    bar->addPermanentWidget(m_panes[3]);
    bar->addPermanentWidget(m_panes[4]);
    bar->addPermanentWidget(m_progress);
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
