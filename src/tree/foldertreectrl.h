#pragma once

#include "platform/drives.h"

#include <QFileIconProvider>
#include <QTreeWidget>

#include <functional>
#include <vector>

class AppSettings;
struct ScanState;

// The folder tree: the documents folder and the drives at the top, their folders below, read only when a branch
// opens (an unread folder has one empty dummy child, which gives it an expand button). Paths in tree form join
// the item labels with "/", so they read like real paths; the documents item is labelled with the folder's name.
// Choosing a folder reports it through FolderSelected, or to an owner callback (the Copy/Move dialog).
class CFolderTreeCtrl : public QTreeWidget
{
    Q_OBJECT
public:
    using DriveSource = std::function<std::vector<platform::Drive>()>;

    CFolderTreeCtrl(AppSettings &settings, ScanState &state, QWidget *parent = nullptr);

    bool Init(const QString &rootFolder, bool countFiles);
    bool FillRoots();
    void FillChildren(QTreeWidgetItem *parent, const QString &path);
    QTreeWidgetItem *InsertFolderItem(QTreeWidgetItem *parent, const QString &path);
    bool HasChildren(const QString &path) const;
    QString ItemPath(const QTreeWidgetItem *item) const;
    QTreeWidgetItem *FindItem(QTreeWidgetItem *parent, const QString &label) const;
    QTreeWidgetItem *SelectPath(const QString &treePath);
    void Refresh();
    static QString LastComponent(const QString &path);

    QString LastError() const { return m_lastError; }
    QString CurrentPath() const { return m_currentPath; }
    // When set, a selection goes to the owner instead of being listed.
    void SetOwner(std::function<void(const QString &)> owner) { m_owner = std::move(owner); }
    // Where the drives come from; tests give a fixed list.
    void SetDriveSource(DriveSource source) { m_drives = std::move(source); }

Q_SIGNALS:
    // A folder became selected (tree form): the list should show it.
    void FolderSelected(const QString &treePath);

protected:
    void mousePressEvent(QMouseEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void OnExpanded(QTreeWidgetItem *item);
    void OnCollapsed(QTreeWidgetItem *item);
    void OnSelectionChanged();
    void AddDummy(QTreeWidgetItem *item);
    QIcon DriveIcon(const platform::Drive &drive) const;

    AppSettings &m_settings;
    ScanState &m_state;
    DriveSource m_drives;
    QFileIconProvider m_icons;
    std::function<void(const QString &)> m_owner;
    QString m_rootFolder;
    QString m_currentPath;
    QString m_lastError;
    bool m_countFiles = false;
    bool m_firstClick = true;
    std::pair<bool, int> m_lastCtrl{false, 0};
    int m_ctrlPresses = 0;   // how often Ctrl went down: the key's toggle state
};
