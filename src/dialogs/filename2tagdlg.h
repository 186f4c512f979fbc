#pragma once

#include "fileops/namepattern.h"

#include <QDialog>
#include <QString>
#include <QStringList>

class QComboBox;
class QLabel;
class QSettings;
class QTableWidget;
class QTimer;

// "Tag from File Name": a pattern that reads tag fields back from file names, chosen from a sorted history of its
// own or typed, with a preview of the files given: each name and the fields the pattern takes from it, names that
// do not fit marked. OK takes a valid pattern and stores the history.
class CFilename2TagDlg : public QDialog
{
    Q_OBJECT
public:
    CFilename2TagDlg(QSettings &store, const QStringList &paths, QWidget *parent = nullptr);

    QString Pattern() const { return m_pattern; }
    const NamePattern &Parsed() const { return m_parsed; }

    QComboBox *PatternBox() const { return m_box; }
    QTableWidget *Preview() const { return m_preview; }
    QLabel *Summary() const { return m_summary; }
    // Brings the preview up to date now (it otherwise follows typing after a short pause).
    void UpdatePreview();

    void accept() override;

    static constexpr int kPreviewRows = 200;

private:
    QSettings &m_store;
    QStringList m_paths;
    QComboBox *m_box;
    QTableWidget *m_preview;
    QLabel *m_summary;
    QTimer *m_typing;
    QString m_pattern;
    NamePattern m_parsed;
};
