#pragma once

#include <QDialog>

class QButtonGroup;
class QCheckBox;

// "Report Options ": the format ("Export to:"), the grouping ("Group files by:"), "Include Tag Information"
// (disabled, its mark kept, for XML and the playlist) and "Only Selected Rows". With `forPrinting` it is
// "Report Options (Printing)": no format, the groups in one row, "Only Selected".
class CReportOptionsDlg : public QDialog
{
    Q_OBJECT
public:
    explicit CReportOptionsDlg(QWidget *parent = nullptr, bool forPrinting = false);

    int Format() const;
    int GroupChoice() const;
    bool IncludeTags() const;
    bool OnlySelected() const;

    QButtonGroup *Formats() const { return m_formats; }
    QButtonGroup *Groups() const { return m_groups; }
    QCheckBox *TagsBox() const { return m_tags; }
    QCheckBox *SelectedBox() const { return m_selected; }

private:
    QButtonGroup *m_formats = nullptr;
    QButtonGroup *m_groups;
    QCheckBox *m_tags;
    QCheckBox *m_selected;
};

// "Report Options (Printing)": grouping, "Include Tag Information" and "Only Selected"; printing goes on whichever
// button closes it.
class CPrintOptionsDlg : public CReportOptionsDlg
{
    Q_OBJECT
public:
    explicit CPrintOptionsDlg(QWidget *parent = nullptr) : CReportOptionsDlg(parent, true) {}
};
