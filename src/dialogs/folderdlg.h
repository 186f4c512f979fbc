#pragma once

#include <QDialog>

class AppSettings;
class CFolderTreeCtrl;
class QLineEdit;
class QPushButton;
struct ScanState;

// "Copy/Move": a folder tree (files counted, so a folder with songs but no subfolders still opens) whose choice
// fills a read-only path box. OK is refused until a folder is chosen; "New Folder" makes a folder in the chosen
// one and chooses it. The dialog opens at the folder last chosen in this session.
class CFolderDlg : public QDialog
{
    Q_OBJECT
public:
    // The tree opens at the folder chosen last in this session, or else at `startFolder` (a file-system path: the
    // folder of the songs to copy, say).
    CFolderDlg(AppSettings &settings, ScanState &state, QWidget *parent = nullptr, const QString &startFolder = QString());

    // The chosen folder as a file-system path.
    QString Folder() const;
    CFolderTreeCtrl *Tree() const { return m_tree; }
    QPushButton *NewFolderButton() const { return m_newFolder; }

private:
    void NewFolder();

    CFolderTreeCtrl *m_tree;
    QLineEdit *m_path;
    QPushButton *m_ok;
    QPushButton *m_newFolder;
};
