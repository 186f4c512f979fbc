#include "settings/appsettings.h"
#include "settings/documentsfolder.h"
#include "tree/foldertreectrl.h"
#include "library/scanstate.h"

#include <QtTest>

namespace {

QStringList Labels(QTreeWidgetItem *parent, const QTreeWidget &tree)
{
    QStringList out;
    const int n = parent ? parent->childCount() : tree.topLevelItemCount();
    for (int i = 0; i < n; ++i)
        out << (parent ? parent->child(i) : tree.topLevelItem(i))->text(0);
    return out;
}

} // namespace

class TestFolderTree : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void init();
    void topLevelOrderAndLabels();
    void foldersSortedAndButtonsOnlyWhereNeeded();
    void collapseAndReopenReadsAfresh();
    void selectPathWalksComponents();
    void refreshKeepsOrDropsSelection();
    void clickRules();
    void noDrivesKeepsError();

private:
    void Mk(const QString &relative) { QVERIFY(QDir().mkpath(m_dir.filePath(relative))); }
    void Touch(const QString &relative) { QFile f(m_dir.filePath(relative)); QVERIFY(f.open(QIODevice::WriteOnly)); }
    std::unique_ptr<CFolderTreeCtrl> MakeTree(bool countFiles = false);

    QTemporaryDir m_dir;
    AppSettings m_settings;
    ScanState m_state;
};

void TestFolderTree::initTestCase()
{
    Mk(QStringLiteral("Documents/Music"));
    Mk(QStringLiteral("drive/beta"));
    Mk(QStringLiteral("drive/Alpha/sub"));
    Mk(QStringLiteral("drive/gamma"));
    Mk(QStringLiteral("drive/filesonly"));
    Touch(QStringLiteral("drive/filesonly/a.mp3"));
    Mk(QStringLiteral("drive/hiddenonly"));
    Touch(QStringLiteral("drive/hiddenonly/.secret"));
    Mk(QStringLiteral("drive/A/B/A"));
    Mk(QStringLiteral("cd"));
    DocumentsFolder::SetCurrent(DocumentsFolder(m_dir.filePath(QStringLiteral("Documents"))));
}

void TestFolderTree::init()
{
    m_settings.removable = 0;
    m_settings.cdrom = 1;
    m_state.subfolderMode = 0;
}

std::unique_ptr<CFolderTreeCtrl> TestFolderTree::MakeTree(bool countFiles)
{
    auto tree = std::make_unique<CFolderTreeCtrl>(m_settings, m_state);
    const QString drive = m_dir.filePath(QStringLiteral("drive"));
    const QString cd = m_dir.filePath(QStringLiteral("cd"));
    tree->SetDriveSource([=] {
        using platform::DriveKind;
        return std::vector<platform::Drive>{{drive, "", "ext4", DriveKind::Fixed},
                                            {QStringLiteral("/media/floppy"), "", "vfat", DriveKind::Removable},
                                            {cd, "", "iso9660", DriveKind::CdRom}};
    });
    tree->Init(QString(), countFiles);
    return tree;
}

void TestFolderTree::topLevelOrderAndLabels()
{
    auto tree = MakeTree();
    QCOMPARE(Labels(nullptr, *tree),
             (QStringList{"Documents", m_dir.filePath(QStringLiteral("drive")), m_dir.filePath(QStringLiteral("cd"))}));
    QTreeWidgetItem *cd = tree->topLevelItem(2);
    QCOMPARE(cd->childCount(), 1);   // a disc gets a button without being looked at
    cd->setExpanded(true);
    QCOMPARE(cd->childCount(), 0);   // opening the empty disc shows nothing
    QCOMPARE(tree->ItemPath(tree->topLevelItem(0)), QStringLiteral("Documents"));
    m_settings.removable = 1;
    tree->FillRoots();
    QCOMPARE(tree->topLevelItemCount(), 4);

    QCOMPARE(CFolderTreeCtrl::LastComponent(QStringLiteral("/a/b/")), QStringLiteral("b"));
    QCOMPARE(CFolderTreeCtrl::LastComponent(QStringLiteral("/")), QStringLiteral("/"));
    QCOMPARE(CFolderTreeCtrl::LastComponent(QStringLiteral("name")), QStringLiteral("name"));
}

void TestFolderTree::foldersSortedAndButtonsOnlyWhereNeeded()
{
    for (const bool countFiles : {false, true}) {
        auto tree = MakeTree(countFiles);
        QTreeWidgetItem *drive = tree->topLevelItem(1);
        drive->setExpanded(true);
        QCOMPARE(Labels(drive, *tree), (QStringList{"A", "Alpha", "beta", "filesonly", "gamma", "hiddenonly"}));
        QTreeWidgetItem *filesOnly = tree->FindItem(drive, QStringLiteral("filesonly"));
        QCOMPARE(filesOnly->childCount(), countFiles ? 1 : 0);
        QCOMPARE(tree->FindItem(drive, QStringLiteral("hiddenonly"))->childCount(), 0);
        QCOMPARE(tree->FindItem(drive, QStringLiteral("Alpha"))->childCount(), 1);
        if (countFiles) {
            filesOnly->setExpanded(true);
            QCOMPARE(filesOnly->childCount(), 0);
        }
    }
}

void TestFolderTree::collapseAndReopenReadsAfresh()
{
    auto tree = MakeTree();
    QTreeWidgetItem *drive = tree->topLevelItem(1);
    drive->setExpanded(true);
    Mk(QStringLiteral("drive/delta"));
    drive->setExpanded(false);
    QCOMPARE(drive->childCount(), 1);
    drive->setExpanded(true);
    QVERIFY(Labels(drive, *tree).contains(QStringLiteral("delta")));
    QDir(m_dir.filePath(QStringLiteral("drive/delta"))).removeRecursively();
}

void TestFolderTree::selectPathWalksComponents()
{
    auto tree = MakeTree();
    QSignalSpy selected(tree.get(), &CFolderTreeCtrl::FolderSelected);
    const QString drive = m_dir.filePath(QStringLiteral("drive"));
    QTreeWidgetItem *item = tree->SelectPath(drive + QStringLiteral("/A/B/A"));
    QVERIFY(item);
    QCOMPARE(tree->ItemPath(item), drive + QStringLiteral("/A/B/A"));
    QCOMPARE(item->parent()->text(0), QStringLiteral("B"));   // the inner A, not the first one
    QCOMPARE(selected.size(), 1);
    QCOMPARE(selected.first().first().toString(), drive + QStringLiteral("/A/B/A"));

    item = tree->SelectPath(QStringLiteral("Documents"));
    QVERIFY(item);
    QCOMPARE(item, tree->topLevelItem(0));
    item = tree->SelectPath(QStringLiteral("Documents/Music"));
    QVERIFY(item);
    QCOMPARE(DocumentsFolder::Current().ToFileSystem(tree->CurrentPath()), m_dir.filePath(QStringLiteral("Documents/Music")));

    QVERIFY(!tree->SelectPath(drive + QStringLiteral("/nothere/x")));
    QCOMPARE(tree->CurrentPath(), QStringLiteral("Documents/Music"));   // the selection stays
    QVERIFY(!tree->SelectPath(QString()));
    QVERIFY(tree->selectedItems().isEmpty());
}

void TestFolderTree::refreshKeepsOrDropsSelection()
{
    Mk(QStringLiteral("drive/gone"));
    auto tree = MakeTree();
    QSignalSpy selected(tree.get(), &CFolderTreeCtrl::FolderSelected);
    const QString gone = m_dir.filePath(QStringLiteral("drive/gone"));
    const QString alpha = m_dir.filePath(QStringLiteral("drive/Alpha"));
    QVERIFY(tree->SelectPath(alpha));
    tree->Refresh();
    QCOMPARE(tree->ItemPath(tree->selectedItems().value(0)), alpha);
    QCOMPARE(selected.size(), 2);   // listed again

    QVERIFY(tree->SelectPath(gone));
    QVERIFY(QDir(gone).removeRecursively());
    tree->Refresh();
    QVERIFY(tree->selectedItems().isEmpty());
}

void TestFolderTree::clickRules()
{
    auto tree = MakeTree();
    tree->resize(400, 300);
    tree->show();
    QVERIFY(QTest::qWaitForWindowExposed(tree.get()));
    QTreeWidgetItem *drive = tree->topLevelItem(1);
    drive->setExpanded(true);
    QTreeWidgetItem *alpha = tree->FindItem(drive, QStringLiteral("Alpha"));
    QSignalSpy selected(tree.get(), &CFolderTreeCtrl::FolderSelected);
    const QPoint at = tree->visualItemRect(alpha).center();

    QTest::mouseClick(tree->viewport(), Qt::LeftButton, {}, at);
    QCOMPARE(selected.size(), 1);
    QCOMPARE(m_state.subfolderMode.load(), 0);
    QTest::mouseClick(tree->viewport(), Qt::LeftButton, {}, at);
    QCOMPARE(selected.size(), 1);   // same folder, same Ctrl state: not listed again
    QTest::mouseClick(tree->viewport(), Qt::LeftButton, Qt::ControlModifier, at);
    QCOMPARE(selected.size(), 2);   // Ctrl changed: listed again, with subfolders
    QCOMPARE(m_state.subfolderMode.load(), 1);
    QVERIFY(alpha->isSelected());
    QTest::mouseClick(tree->viewport(), Qt::LeftButton, {}, at);
    QCOMPARE(selected.size(), 3);
    QCOMPARE(m_state.subfolderMode.load(), 0);

    const QPoint other = tree->visualItemRect(tree->FindItem(drive, QStringLiteral("beta"))).center();
    QTest::mouseClick(tree->viewport(), Qt::RightButton, {}, other);
    QCOMPARE(selected.size(), 3);   // a right click selects nothing
    QVERIFY(alpha->isSelected());
}

void TestFolderTree::noDrivesKeepsError()
{
    CFolderTreeCtrl tree(m_settings, m_state);
    tree.SetDriveSource([] { return std::vector<platform::Drive>(); });
    QVERIFY(!tree.Init(QString(), false));
    QCOMPARE(tree.LastError(), QStringLiteral("Error Getting Logical DriveStrings!"));
    QCOMPARE(tree.topLevelItemCount(), 1);   // the documents item stays

    // A rooted tree, as a folder chooser uses it.
    CFolderTreeCtrl rooted(m_settings, m_state);
    QVERIFY(rooted.Init(m_dir.filePath(QStringLiteral("drive")), true));
    QCOMPARE(rooted.topLevelItemCount(), 1);
    QVERIFY(rooted.topLevelItem(0)->childCount() >= 6);
}

QTEST_MAIN(TestFolderTree)
#include "tst_foldertree.moc"
