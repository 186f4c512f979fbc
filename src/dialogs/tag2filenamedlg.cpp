#include "dialogs/tag2filenamedlg.h"

#include "dialogs/patternhistory.h"
#include "dialogs/prompter.h"
#include "fileops/renamepattern.h"

#include <QFileInfo>
#include <QHeaderView>
#include <QSet>
#include <QTableWidget>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QRegularExpressionValidator>
#include <QSettings>
#include <QVBoxLayout>

namespace {

const PatternHistory kHistory{QString(), false};

} // namespace

CTag2FilenameDlg::CTag2FilenameDlg(QSettings &store, QWidget *parent)
    : QDialog(parent), m_store(store), m_box(new QComboBox(this)), m_counter(new QLineEdit(this)),
      m_preview(new QTableWidget(0, 2, this)), m_extension(new QLabel(QStringLiteral(".mp3"), this))
{
    setWindowTitle(tr("Rename"));
    m_box->setEditable(true);
    m_box->setInsertPolicy(QComboBox::NoInsert);
    m_box->setMinimumContentsLength(24);
    m_counter->setValidator(new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]*")), this));
    m_counter->setText(QStringLiteral("0"));
    m_counter->setMaximumWidth(m_counter->fontMetrics().horizontalAdvance(QStringLiteral("00000000")) + 16);

    // The history, or the three default patterns when none is stored.
    kHistory.Load(m_store, m_box, DefaultRenamePatterns());

    auto *grid = new QGridLayout;
    grid->addWidget(new QLabel(tr("Filename:"), this), 0, 0, 1, 3);
    grid->addWidget(m_box, 1, 0, 1, 2);
    grid->addWidget(m_extension, 1, 2);
    const char *legend[] = {"$A - Artist", "$T - Title", "$B - Album", "$K - Track", "$Y - Year", "$G - Genre"};
    int row = 2;
    for (int i = 0; i < 6; i += 2, ++row) {
        grid->addWidget(new QLabel(tr(legend[i]), this), row, 0);
        grid->addWidget(new QLabel(tr(legend[i + 1]), this), row, 1);
    }
    auto *counterRow = new QHBoxLayout;
    counterRow->addWidget(new QLabel(tr("$# - Counter from:"), this));
    counterRow->addWidget(m_counter);
    counterRow->addStretch(1);
    grid->addLayout(counterRow, row, 0);
    grid->addWidget(new QLabel(tr("$F - existing filename"), this), row, 1);

    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &CTag2FilenameDlg::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    m_preview->setHorizontalHeaderLabels({tr("Old name"), tr("New name")});
    m_preview->horizontalHeader()->setSectionResizeMode(QHeaderView::Stretch);
    m_preview->verticalHeader()->hide();
    m_preview->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_preview->setSelectionMode(QAbstractItemView::NoSelection);
    m_preview->setFocusPolicy(Qt::NoFocus);
    m_preview->setAccessibleName(tr("Preview"));
    m_preview->hide();   // until there are rows to show
    connect(m_box, &QComboBox::editTextChanged, this, &CTag2FilenameDlg::UpdatePreview);
    connect(m_counter, &QLineEdit::textChanged, this, &CTag2FilenameDlg::UpdatePreview);

    auto *layout = new QVBoxLayout(this);
    layout->addLayout(grid);
    layout->addWidget(m_preview, 1);
    layout->addWidget(buttons);
}

void CTag2FilenameDlg::SetPreviewRows(const QList<TrackRecord> &rows)
{
    m_rows = rows.mid(0, kPreviewRows);
    m_preview->setVisible(!m_rows.isEmpty());
    if (!m_rows.isEmpty())
        resize(std::max(width(), 560), std::max(height(), 420));
    UpdatePreview();
}

void CTag2FilenameDlg::SetExtensions(const QStringList &extensions)
{
    QStringList shown;
    for (const QString &ext : extensions) {
        const QString name = QLatin1Char('.') + (IsMp3Extension(ext) ? QStringLiteral("mp3") : ext);
        if (!shown.contains(name, Qt::CaseInsensitive))
            shown.append(name);
    }
    constexpr int kShown = 4;
    QString text = shown.isEmpty() ? QStringLiteral(".mp3") : QStringList(shown.mid(0, kShown)).join(QStringLiteral(", "));
    if (shown.size() > kShown)
        text += QStringLiteral(", ...");
    m_extension->setText(text);
}

void CTag2FilenameDlg::UpdatePreview()
{
    if (m_rows.isEmpty())
        return;
    const QString pattern = m_box->currentText();
    long long counter = m_counter->text().toLongLong();
    m_preview->setRowCount(int(m_rows.size()));
    QSet<QString> taken;   // new paths of the rows above, in lower case (a clash on a case-blind disk too)
    const QColor marked = palette().color(QPalette::Disabled, QPalette::Text);
    for (int i = 0; i < int(m_rows.size()); ++i) {
        const TrackRecord &row = m_rows[i];
        const QString oldName = row[Column::Filename] + QLatin1Char('.') + row[Column::Ext];
        const QString newName = RenamedFileName(pattern, row, counter);
        QString shown = newName;
        bool problem = false;
        if (newName.isEmpty()) {
            shown = tr("(nothing: the file keeps its name)");
            problem = true;
        } else if (newName != oldName) {
            const QString target = row[Column::Path] + newName;
            const bool sameFile = target.compare(row[Column::Path] + oldName, Qt::CaseInsensitive) == 0;
            if (taken.contains(target.toLower()) || (!sameFile && QFileInfo::exists(target))) {
                shown = tr("%1 (the name is taken)").arg(newName);
                problem = true;
            }
            taken.insert(target.toLower());
        }
        auto *before = new QTableWidgetItem(oldName);
        auto *after = new QTableWidgetItem(shown);
        if (problem) {
            QFont font = after->font();
            font.setItalic(true);
            after->setFont(font);
            after->setForeground(marked);
        }
        after->setData(Qt::UserRole, problem);
        m_preview->setItem(i, 0, before);
        m_preview->setItem(i, 1, after);
    }
}

void CTag2FilenameDlg::StoreHistory()
{
    m_pattern = m_box->currentText();
    kHistory.Store(m_store, m_box, m_pattern);
}

void CTag2FilenameDlg::accept()
{
    // The history is stored first; a bad counter then keeps the dialog open.
    StoreHistory();
    const QString text = m_counter->text().trimmed();
    bool ok = false;
    const long long value = text.toLongLong(&ok);
    if (text.isEmpty() || !ok) {
        Prompter::Current().Tell(this, tr("Please enter an integer."), QMessageBox::Warning);
        return;
    }
    if (value < 0 || value > kMaxRenameCounter) {
        Prompter::Current().Tell(this, tr("Please enter an integer between %1 and %2.").arg(0).arg(kMaxRenameCounter),
                                 QMessageBox::Warning);
        return;
    }
    m_counterStart = value;
    QDialog::accept();
}
