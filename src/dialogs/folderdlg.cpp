#include "dialogs/folderdlg.h"

#include "dialogs/prompter.h"
#include "settings/documentsfolder.h"
#include "tree/foldertreectrl.h"

#include <QDialogButtonBox>
#include <QDir>
#include <QInputDialog>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace {

// The folder last chosen in this session (tree form): the next Copy/Move starts there.
QString g_lastFolder;

} // namespace

CFolderDlg::CFolderDlg(AppSettings &settings, ScanState &state, QWidget *parent, const QString &startFolder)
    : QDialog(parent), m_tree(new CFolderTreeCtrl(settings, state, this)), m_path(new QLineEdit(this))
{
    setWindowTitle(tr("Copy/Move"));
    m_path->setReadOnly(true);
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    m_ok = buttons->button(QDialogButtonBox::Ok);
    m_ok->setEnabled(false);
    m_newFolder = buttons->addButton(tr("New Folder"), QDialogButtonBox::ActionRole);
    m_newFolder->setEnabled(false);
    connect(buttons, &QDialogButtonBox::accepted, this, [this] {
        g_lastFolder = m_path->text();
        accept();
    });
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(m_newFolder, &QPushButton::clicked, this, &CFolderDlg::NewFolder);
    m_tree->SetOwner([this](const QString &treePath) {
        m_path->setText(treePath);
        m_ok->setEnabled(!treePath.isEmpty());
        m_newFolder->setEnabled(!treePath.isEmpty());
    });
    m_tree->Init(QString(), true);   // the home folder and the drives, as in the main tree
    const QString start = !g_lastFolder.isEmpty() ? g_lastFolder
                          : startFolder.isEmpty() ? QString()
                                                  : DocumentsFolder::Current().ToTreeForm(QDir::cleanPath(startFolder));
    if (!start.isEmpty() && m_tree->SelectPath(start))
        m_tree->scrollToItem(m_tree->currentItem());
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(m_tree, 1);
    layout->addWidget(m_path);
    layout->addWidget(buttons);
    resize(360, 420);
}

QString CFolderDlg::Folder() const { return DocumentsFolder::Current().ToFileSystem(m_path->text()); }

void CFolderDlg::NewFolder()
{
    const QString parentFolder = Folder();
    if (parentFolder.isEmpty())
        return;
    bool ok = false;
    const QString name = QInputDialog::getText(this, tr("New Folder"), tr("Name of the new folder in %1:").arg(parentFolder),
                                               QLineEdit::Normal, tr("New Folder"), &ok)
                             .trimmed();
    if (!ok || name.isEmpty())
        return;
    if (name.contains(QLatin1Char('/')) || name == QLatin1String(".") || name == QLatin1String("..")) {
        Prompter::Current().Tell(this, tr("A folder name cannot be \"%1\" or hold a \"/\".").arg(name));
        return;
    }
    const QString folder = QDir(parentFolder).filePath(name);
    if (!QDir(parentFolder).mkdir(name)) {
        Prompter::Current().Tell(this, tr("The folder %1 could not be made.").arg(folder));
        return;
    }
    // The tree reads the new folder in, and it becomes the choice.
    m_tree->Refresh();
    m_tree->SelectPath(DocumentsFolder::Current().ToTreeForm(folder));
}
