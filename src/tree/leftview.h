#pragma once

#include <QWidget>

class AppSettings;
class CFolderTreeCtrl;
struct ScanState;

// The left pane: the folder tree, filling the pane.
class CLeftView : public QWidget
{
    Q_OBJECT
public:
    CLeftView(AppSettings &settings, ScanState &state, QWidget *parent = nullptr);
    CFolderTreeCtrl *Tree() const { return m_tree; }

private:
    CFolderTreeCtrl *m_tree;
};
