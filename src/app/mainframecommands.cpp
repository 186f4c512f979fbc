// The main window's commands, and the menus, accelerators, toolbar and status bar that offer them.

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

} // namespace

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
