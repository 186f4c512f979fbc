#include "dialogs/reportoptionsdlg.h"

#include "reports/reportwriter.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QDialogButtonBox>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QRadioButton>
#include <QVBoxLayout>

CReportOptionsDlg::CReportOptionsDlg(QWidget *parent, bool forPrinting)
    : QDialog(parent), m_groups(new QButtonGroup(this)), m_tags(new QCheckBox(tr("Include Tag Information"), this)),
      m_selected(new QCheckBox(forPrinting ? tr("Only Selected") : tr("Only Selected Rows"), this))
{
    setWindowTitle(forPrinting ? tr("Report Options (Printing)") : tr("Report Options "));
    auto *layout = new QVBoxLayout(this);
    auto *choices = new QHBoxLayout;
    auto radioGroup = [this](const QString &title, const QStringList &texts, QButtonGroup *group, bool row) {
        auto *box = new QGroupBox(title, this);
        QBoxLayout *inner = row ? static_cast<QBoxLayout *>(new QHBoxLayout(box)) : new QVBoxLayout(box);
        for (int i = 0; i < texts.size(); ++i) {
            auto *button = new QRadioButton(texts[i], box);
            group->addButton(button, i);
            inner->addWidget(button);
        }
        group->button(0)->setChecked(true);
        return box;
    };
    if (!forPrinting) {
        m_formats = new QButtonGroup(this);
        choices->addWidget(radioGroup(tr("Export to:"), {tr("HTML"), tr("XML"), tr("Winamp Playlist"), tr("TXT")}, m_formats, false));
        // XML and the playlist carry no tag text: the box is disabled with its mark kept.
        connect(m_formats, &QButtonGroup::idClicked, this,
                [this](int id) { m_tags->setEnabled(id == ReportWriter::Html || id == ReportWriter::Txt); });
    }
    choices->addWidget(radioGroup(tr("Group files by:"), {tr("Path"), tr("Artist"), tr("Genre"), tr("Year")}, m_groups, forPrinting));
    layout->addLayout(choices);
    layout->addWidget(m_tags);
    layout->addWidget(m_selected);
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);
}

int CReportOptionsDlg::Format() const { return m_formats ? m_formats->checkedId() : ReportWriter::Txt; }
int CReportOptionsDlg::GroupChoice() const { return m_groups->checkedId(); }
bool CReportOptionsDlg::IncludeTags() const { return m_tags->isChecked(); }
bool CReportOptionsDlg::OnlySelected() const { return m_selected->isChecked(); }
