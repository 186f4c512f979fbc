#include "dialogs/folderdlg.h"

#include "settings/documentsfolder.h"
#include "tree/foldertreectrl.h"

#include <QDialogButtonBox>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

CFolderDlg::CFolderDlg(AppSettings &settings, ScanState &state, QWidget *parent)
    : QDialog(parent), m_tree(new CFolderTreeCtrl(settings, state, this)), m_path(new QLineEdit(this))
{
    setWindowTitle(tr("Copy/Move"));
    m_path->setReadOnly(true);
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    m_ok = buttons->button(QDialogButtonBox::Ok);
    m_ok->setEnabled(false);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    m_tree->SetOwner([this](const QString &treePath) {
        m_path->setText(treePath);
        m_ok->setEnabled(!treePath.isEmpty());
    });
    m_tree->Init(QString(), true);   // the home folder and the drives, as in the main tree
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(m_tree, 1);
    layout->addWidget(m_path);
    layout->addWidget(buttons);
    resize(360, 420);
}

QString CFolderDlg::Folder() const { return DocumentsFolder::Current().ToFileSystem(m_path->text()); }
