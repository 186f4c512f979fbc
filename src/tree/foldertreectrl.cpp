#include "tree/foldertreectrl.h"

#include "settings/appsettings.h"
#include "platform/directory.h"
#include "settings/documentsfolder.h"
#include "library/scanstate.h"

#include <QApplication>
#include <QFileInfo>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QStyle>

#include <algorithm>

namespace {

constexpr int kDummyRole = Qt::UserRole + 1;

// Restores the cursor however the scope is left.
struct WaitCursor
{
    WaitCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
    ~WaitCursor() { QApplication::restoreOverrideCursor(); }
};

QString WithSlash(const QString &path) { return path.endsWith(QLatin1Char('/')) ? path : path + QLatin1Char('/'); }

} // namespace

CFolderTreeCtrl::CFolderTreeCtrl(AppSettings &settings, ScanState &state, QWidget *parent)
    : QTreeWidget(parent), m_settings(settings), m_state(state), m_drives([] { return platform::ListDrives(); })
{
    setHeaderHidden(true);
    setColumnCount(1);
    setRootIsDecorated(true);
    setUniformRowHeights(true);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setContextMenuPolicy(Qt::NoContextMenu);
    setExpandsOnDoubleClick(true);
    connect(this, &QTreeWidget::itemExpanded, this, &CFolderTreeCtrl::OnExpanded);
    connect(this, &QTreeWidget::itemCollapsed, this, &CFolderTreeCtrl::OnCollapsed);
    connect(this, &QTreeWidget::itemSelectionChanged, this, &CFolderTreeCtrl::OnSelectionChanged);
    // The Ctrl key's presses are counted wherever they happen: a press and release between two clicks changes
    // the key's state as much as holding it.
    qApp->installEventFilter(this);
}

bool CFolderTreeCtrl::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::KeyPress && watched->isWindowType()) {
        const auto *key = static_cast<QKeyEvent *>(event);
        if (key->key() == Qt::Key_Control && !key->isAutoRepeat())
            ++m_ctrlPresses;
    }
    return QTreeWidget::eventFilter(watched, event);
}

bool CFolderTreeCtrl::Init(const QString &rootFolder, bool countFiles)
{
    clear();
    m_countFiles = countFiles;
    if (!rootFolder.isEmpty()) {
        m_rootFolder = WithSlash(rootFolder);
        QTreeWidgetItem *item = InsertFolderItem(nullptr, m_rootFolder);
        FillChildren(item, rootFolder);
        return true;
    }
    m_rootFolder.clear();
    return FillRoots();
}

bool CFolderTreeCtrl::FillRoots()
{
    clear();
    const DocumentsFolder &documents = DocumentsFolder::Current();
    if (documents.IsValid()) {
        QTreeWidgetItem *item = InsertFolderItem(nullptr, documents.Path());
        if (item && HasChildren(documents.Path()))
            AddDummy(item);
    }
    const std::vector<platform::Drive> drives = m_drives ? m_drives() : std::vector<platform::Drive>();
    if (drives.empty()) {
        m_lastError = tr("Error Getting Logical DriveStrings!");
        return false;
    }
    for (const platform::Drive &drive : drives) {
        const bool removable = drive.kind == platform::DriveKind::Removable;
        const bool cdrom = drive.kind == platform::DriveKind::CdRom;
        if ((removable && !m_settings.removable) || (cdrom && !m_settings.cdrom))
            continue;
        QTreeWidgetItem *item = InsertFolderItem(nullptr, drive.root);
        if (!item)
            continue;
        item->setIcon(0, DriveIcon(drive));
        // Removable media and discs are not touched until the user opens them.
        if (removable || cdrom || HasChildren(drive.root))
            AddDummy(item);
    }
    return true;
}

QIcon CFolderTreeCtrl::DriveIcon(const platform::Drive &drive) const
{
    switch (drive.kind) {
    case platform::DriveKind::Network:
        return m_icons.icon(QFileIconProvider::Network);
    case platform::DriveKind::CdRom:
        return style()->standardIcon(QStyle::SP_DriveCDIcon);
    case platform::DriveKind::Removable:
        return style()->standardIcon(QStyle::SP_DriveFDIcon);
    case platform::DriveKind::Fixed:
        break;
    }
    return m_icons.icon(QFileIconProvider::Drive);
}

QTreeWidgetItem *CFolderTreeCtrl::InsertFolderItem(QTreeWidgetItem *parent, const QString &path)
{
    QString p = WithSlash(path);
    const QIcon closed = m_icons.icon(QFileInfo(path));
    const QIcon open = style()->standardIcon(QStyle::SP_DirOpenIcon);
    if (closed.isNull() && open.isNull()) {
        m_lastError = tr("Error Getting SystemFileInfo!");
        return nullptr;
    }
    const DocumentsFolder &documents = DocumentsFolder::Current();
    if (documents.IsValid() && p == WithSlash(documents.Path()))
        p = documents.Name();
    if (p.size() > 1 && p.endsWith(QLatin1Char('/')))
        p.chop(1);
    const QString label = parent ? LastComponent(p) : p;

    QIcon icon;
    const QSize size(16, 16);
    icon.addPixmap(closed.pixmap(size), QIcon::Normal);
    icon.addPixmap(open.pixmap(size), QIcon::Selected);
    auto *item = new QTreeWidgetItem(QStringList{label});
    item->setIcon(0, icon);
    if (parent)
        parent->addChild(item);
    else
        addTopLevelItem(item);
    return item;
}

bool CFolderTreeCtrl::HasChildren(const QString &path) const
{
    bool found = false;
    platform::ListDirectory(DocumentsFolder::Current().ToFileSystem(path), [&](platform::DirectoryEntry &entry) {
        const bool folder = entry.kind == platform::EntryKind::Folder || entry.kind == platform::EntryKind::LinkToFolder;
        if (folder || (m_countFiles && !entry.name.startsWith(QLatin1Char('.'))))
            found = true;
        return !found;
    });
    return found;
}

void CFolderTreeCtrl::FillChildren(QTreeWidgetItem *parent, const QString &path)
{
    const QString folder = WithSlash(DocumentsFolder::Current().ToFileSystem(path));
    QStringList names;
    platform::ListDirectory(folder, [&](platform::DirectoryEntry &entry) {
        if (entry.kind == platform::EntryKind::Folder || entry.kind == platform::EntryKind::LinkToFolder)
            names.append(entry.name);
        return true;
    });
    std::stable_sort(names.begin(), names.end(),
                     [](const QString &a, const QString &b) { return a.compare(b, Qt::CaseInsensitive) < 0; });

    WaitCursor wait;
    setUpdatesEnabled(false);
    for (const QString &name : names) {
        QTreeWidgetItem *item = InsertFolderItem(parent, folder + name);
        if (item && HasChildren(folder + name))
            AddDummy(item);
    }
    setUpdatesEnabled(true);
}

void CFolderTreeCtrl::AddDummy(QTreeWidgetItem *item)
{
    auto *dummy = new QTreeWidgetItem(QStringList{QString()});
    dummy->setData(0, kDummyRole, true);
    item->addChild(dummy);
}

QString CFolderTreeCtrl::ItemPath(const QTreeWidgetItem *item) const
{
    QStringList labels;
    for (; item; item = item->parent())
        labels.prepend(item->text(0));
    QString path;
    for (const QString &label : labels) {
        if (!path.isEmpty() && !path.endsWith(QLatin1Char('/')))
            path += QLatin1Char('/');
        path += label;
    }
    while (path.size() > 1 && path.endsWith(QLatin1Char('/')))
        path.chop(1);
    return path;
}

QTreeWidgetItem *CFolderTreeCtrl::FindItem(QTreeWidgetItem *parent, const QString &label) const
{
    const int count = parent ? parent->childCount() : topLevelItemCount();
    for (int i = 0; i < count; ++i) {
        QTreeWidgetItem *item = parent ? parent->child(i) : topLevelItem(i);
        if (!item->data(0, kDummyRole).toBool() && item->text(0) == label)
            return item;
    }
    return nullptr;
}

QTreeWidgetItem *CFolderTreeCtrl::SelectPath(const QString &treePath)
{
    if (treePath.isEmpty()) {
        setCurrentItem(nullptr);
        clearSelection();
        return nullptr;
    }
    // The first component is a top-level label: the documents name, or the longest drive path that prefixes it.
    QTreeWidgetItem *item = nullptr;
    QString rest;
    int longest = -1;
    for (int i = 0; i < topLevelItemCount(); ++i) {
        const QString label = topLevelItem(i)->text(0);
        const bool matches = treePath == label ||
                             (treePath.startsWith(label) &&
                              (label.endsWith(QLatin1Char('/')) || treePath.at(label.size()) == QLatin1Char('/')));
        if (matches && label.size() > longest) {
            longest = int(label.size());
            item = topLevelItem(i);
            rest = treePath.mid(label.size());
        }
    }
    if (!item)
        return nullptr;
    item->setExpanded(true);
    for (const QString &component : rest.split(QLatin1Char('/'), Qt::SkipEmptyParts)) {
        QTreeWidgetItem *next = FindItem(item, component);
        if (!next)
            return nullptr;
        item = next;
        item->setExpanded(true);
    }
    setCurrentItem(item);
    if (!item->isSelected())
        return nullptr;
    scrollToItem(item);
    return item;
}

void CFolderTreeCtrl::Refresh()
{
    const QTreeWidgetItem *selected = selectedItems().isEmpty() ? nullptr : selectedItems().first();
    const QString path = ItemPath(selected);
    setCurrentItem(nullptr);
    clearSelection();
    if (m_rootFolder.isEmpty())
        FillRoots();
    else
        Init(m_rootFolder, m_countFiles);
    setCurrentItem(nullptr);
    clearSelection();
    SelectPath(path);
}

QString CFolderTreeCtrl::LastComponent(const QString &path)
{
    QString p = path;
    if (p.size() > 1 && p.endsWith(QLatin1Char('/')))
        p.chop(1);
    const qsizetype slash = p.lastIndexOf(QLatin1Char('/'));
    return slash < 0 || p.size() == 1 ? p : p.mid(slash + 1);
}

void CFolderTreeCtrl::OnExpanded(QTreeWidgetItem *item)
{
    WaitCursor wait;
    qDeleteAll(item->takeChildren());
    FillChildren(item, ItemPath(item));
}

void CFolderTreeCtrl::OnCollapsed(QTreeWidgetItem *item)
{
    // The branch is read afresh the next time it opens.
    const bool selectedInside = [&] {
        for (const QTreeWidgetItem *s : selectedItems()) {
            for (const QTreeWidgetItem *p = s->parent(); p; p = p->parent()) {
                if (p == item)
                    return true;
            }
        }
        return false;
    }();
    {
        const QSignalBlocker block(this);
        qDeleteAll(item->takeChildren());
        AddDummy(item);
    }
    if (selectedInside)
        setCurrentItem(item);   // the selection moves up to the folder that closed, which lists it
}

void CFolderTreeCtrl::OnSelectionChanged()
{
    const QList<QTreeWidgetItem *> selected = selectedItems();
    if (selected.isEmpty() || selected.first()->data(0, kDummyRole).toBool())
        return;
    WaitCursor wait;
    m_currentPath = ItemPath(selected.first());
    if (m_owner)
        m_owner(m_currentPath);
    else
        Q_EMIT FolderSelected(m_currentPath);
}

void CFolderTreeCtrl::mousePressEvent(QMouseEvent *event)
{
    if (event->button() == Qt::RightButton) {
        event->accept();   // a right click selects nothing and opens no menu
        return;
    }
    if (event->button() == Qt::LeftButton) {
        const std::pair<bool, int> ctrl{event->modifiers().testFlag(Qt::ControlModifier), m_ctrlPresses % 2};
        if (ctrl != m_lastCtrl || m_firstClick) {
            // Drop the selection so the click's own selection is a change and lists the folder anew.
            m_firstClick = false;
            const QSignalBlocker block(this);
            setCurrentItem(nullptr);
            clearSelection();
            m_lastCtrl = ctrl;
        }
        m_state.subfolderMode.store(ctrl.first ? 1 : 0);
        // Ctrl decides the subfolder mode only; it must not toggle the selection as in a multi-selection list.
        QMouseEvent plain(event->type(), event->position(), event->scenePosition(), event->globalPosition(),
                          event->button(), event->buttons(), event->modifiers() & ~Qt::ControlModifier);
        QTreeWidget::mousePressEvent(&plain);
        return;
    }
    QTreeWidget::mousePressEvent(event);
}

void CFolderTreeCtrl::mouseDoubleClickEvent(QMouseEvent *event)
{
    if (event->button() == Qt::RightButton) {
        event->accept();
        return;
    }
    QTreeWidget::mouseDoubleClickEvent(event);
}
