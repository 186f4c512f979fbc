#pragma once

#include <QHash>
#include <QList>
#include <QObject>
#include <QPointer>

#include <functional>

class QAction;

// Command ids of the menus, toolbar and keys.
enum CommandId : int {
    kCmdNoAction = 184,         // F4: taken, and does nothing anywhere
    kCmdNormalize = 180,
    kCmdOptions = 32774,
    kCmdEditTag = 32775,
    kCmdGropeEdit = 32776,      // Ctrl+M: no handler; shown disabled
    kCmdRemoveTag = 32777,      // Ctrl+R: no handler; shown disabled
    kCmdRemoveFiles = 32787,
    kCmdPlay = 32790,
    kCmdSelectAllRows = 32794,
    kCmdClearSelection = 32795,
    kCmdHomepage = 32800,
    kCmdSaveReport = 32806,
    kCmdRename = 32809,
    kCmdRefresh = 32811,
    kCmdTagFromName = 32812,    // Tag from File Name
    kCmdCopyTo = 32815,
    kCmdMoveTo = 32817,
    kCmdStopScan = 32818,
    kCmdScanAll = 32819,
    kCmdAddListMode = 32820,
    kCmdRemoveFromList = 32821,
    kCmdCut = 32822,
    kCmdCopy = 32823,
    kCmdPaste = 32824,
    kCmdHelp = 32828,
    kCmdExit = 32829,
    kCmdTrayOpen = 32830,
    kCmdTrayClose = 32832,
    kCmdPrintSetup = 57606,
    kCmdPrint = 57607,
    kCmdPrintPreview = 57609,
    kCmdFind = 57636,           // Ctrl+F: the filter box above the list
    kCmdSelectAll = 57642,
    kCmdUndo = 57643,
    kCmdRedo = 57644,
    kCmdAbout = 57664,
    kCmdNextPane = 57680,
    kCmdPrevPane = 57681,
    kCmdToolbar = 59392,
    kCmdStatusBar = 59393,
};

// Every command by its id: what it does, when it is enabled and when it is checked. Menu entries, toolbar
// buttons and keys bound to one id share its rules, so a greyed command is greyed everywhere. Update() applies the
// rules; the window calls it when idle and whenever the state behind a rule changes.
class CommandTable : public QObject
{
    Q_OBJECT
public:
    using Rule = std::function<bool()>;

    explicit CommandTable(QObject *parent = nullptr) : QObject(parent) {}

    // Defines a command. Without `enabled` it is always enabled; with `checked` its actions are checkable.
    void Define(int id, std::function<void()> action, Rule enabled = {}, Rule checked = {});
    // Binds an action (menu entry, button, key) to a command; triggering it runs the command when enabled.
    QAction *Bind(int id, QAction *action);

    void Update();
    bool IsEnabled(int id) const;
    bool IsChecked(int id) const;
    // Runs the command if it is defined and enabled; returns whether it ran.
    bool Execute(int id);
    // Runs before every command that runs (an open edit is committed before a command acts on the rows).
    void SetBeforeEach(std::function<void()> before) { m_before = std::move(before); }
    // Runs after every command that ran.
    void SetAfterEach(std::function<void()> after) { m_after = std::move(after); }
    QList<QAction *> Actions(int id) const;

private:
    struct Command
    {
        std::function<void()> action;
        Rule enabled;
        Rule checked;
        QList<QPointer<QAction>> actions;
    };
    QHash<int, Command> m_commands;
    std::function<void()> m_before;
    std::function<void()> m_after;
};
