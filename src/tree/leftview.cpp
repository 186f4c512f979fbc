#include "tree/leftview.h"

#include "tree/foldertreectrl.h"

#include <QVBoxLayout>

CLeftView::CLeftView(AppSettings &settings, ScanState &state, QWidget *parent)
    : QWidget(parent), m_tree(new CFolderTreeCtrl(settings, state, this))
{
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_tree);
    setFocusProxy(m_tree);
    m_tree->Init(QString(), false);
}
