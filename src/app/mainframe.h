#pragma once

#include "app/commandtable.h"
#include "dialogs/filecommands.h"
#include "dialogs/undocommands.h"

#include <QMainWindow>
#include <QPointer>

#include <memory>

class QPrinter;
class QTimer;
class QUrl;

class AppSettings;
class CLeftView;
class CTrayIcon;
class CFilterBox;
class CRightView;
class QLabel;
class QProgressBar;
class QSettings;
class QSplitter;
class QToolBar;
struct ScanState;

// The main window: menus, toolbar, the folder tree and the track list side by side, the status bar with its five
// panes, and the tray icon. It routes every command through one CommandTable and stores the layout when it
// closes.
class CMainFrame : public QMainWindow
{
    Q_OBJECT
public:

    // `store` is where the settings are saved; `trayAvailable` says whether the desktop shows tray icons.
    CMainFrame(AppSettings &settings, ScanState &state, QSettings &store, bool trayAvailable, QWidget *parent = nullptr);
    ~CMainFrame() override;

    // Selects the folder stored as "TreePath", which lists it. Runs once, after both panes exist.
    void InitialUpdate();
    // Instead of the stored folder: lists `folder` (selected in the tree as a click would, when the tree shows
    // it) and, once listed, selects the rows of `files`; files the listing did not bring (another folder, an
    // extension not listed) are added to the list first. Runs once, like InitialUpdate.
    void OpenAtStart(const QString &folder, const QStringList &files);
    // Shows the window as the settings say (maximised or normal), or leaves it hidden in the tray.
    void ShowAtStart(bool hidden);
    void SaveLayout();
    void ShowFromTray();
    // The tray icon follows "bSysTrayIco" (shown only when it is 1 and the desktop has a tray).
    void UpdateTrayIcon();

    CLeftView *LeftView() const { return m_leftView; }
    CRightView *RightView() const { return m_rightView; }
    CFilterBox *FilterBox() const { return m_filterBox; }
    CommandTable &Commands() { return m_commands; }
    QSplitter *Splitter() const { return m_splitter; }
    QToolBar *ToolBar() const { return m_toolbar; }
    CTrayIcon *TrayIcon() const { return m_tray; }
    bool CtrlHeld() const { return m_ctrlHeld; }
    // The text of a status pane, 0 to 4.
    QString PaneText(int pane) const;
    // Refreshes the enable rules and the status panes now (also done every 100 ms).
    void UpdateIdle();
    // The list's context menu (menu 161).
    QMenu *ContextMenu() const { return m_contextMenu; }

Q_SIGNALS:
    // The program should end (Exit, the tray's Close, or closing without a tray).
    void QuitRequested();

protected:
    void closeEvent(QCloseEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;
    bool event(QEvent *event) override;

private:
    void DefineCommands();
    void BuildMenus();
    void BuildToolbar();
    void BuildStatusBar();
    void BuildAccelerators();
    void UpdateStatusPanes();
    // Reads what Undo and Redo would act on and names it in their menu entries.
    void RefreshUndoState();
    void StopScan();
    void ShowContextMenu(const QPoint &globalPos);
    QPrinter &Printer();   // made on first use: finding the printers takes a moment
    void EnableTree();
    void ClearSelection();
    void OpenHelpFile();
    void OpenHomePage();
    // Opens a file or web address with the desktop's program, or says why it cannot: `failure` leads the message.
    void OpenOrTell(const QUrl &url, const QString &failure);
    void ShowAbout();
    void Quit(bool saveLayout);
    QAction *MenuEntry(QMenu *menu, int id, const QString &text);
    // Binds an action to a command with the command's status prompt and tooltip.
    QAction *BindWithPrompt(int id, QAction *action);

    AppSettings &m_settings;
    ScanState &m_state;
    QSettings &m_store;
    bool m_trayAvailable;
    CommandTable m_commands;
    QSplitter *m_splitter;
    CLeftView *m_leftView;
    QPointer<QWidget> m_focusBeforeListing;   // where the focus was when a listing disabled the tree
    CRightView *m_rightView;
    CFilterBox *m_filterBox;
    QToolBar *m_toolbar = nullptr;
    CTrayIcon *m_tray = nullptr;
    QProgressBar *m_progress = nullptr;
    QLabel *m_panes[5] = {};
    QLabel *m_subdirIcon = nullptr;
    QLabel *m_addListIcon = nullptr;
    int m_shownCtrl = -1;
    int m_shownAddList = -1;
    bool m_ctrlHeld = false;
    filecommands::FileClipboard m_clipboard;
    QMenu *m_contextMenu = nullptr;   // the list's context menu
    QAction *m_undoEntry = nullptr;
    QAction *m_redoEntry = nullptr;
    std::unique_ptr<undocommands::OutsideCommands> m_outsideCommands;   // the command line's commands, followed
    QTimer *m_journalFollow = nullptr;
    undocommands::Next m_nextUndo;
    undocommands::Next m_nextRedo;
    std::unique_ptr<QPrinter> m_printer;
    QString m_prompt;   // the command prompt shown in pane 0 while a menu entry or button is hovered
    bool m_listActive = true;   // the pane commands go to first: the list, or the tree
    bool m_quitting = false;
    bool m_initialUpdateDone = false;
};
