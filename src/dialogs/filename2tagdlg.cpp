#include "dialogs/filename2tagdlg.h"

#include "dialogs/patternhistory.h"
#include "dialogs/prompter.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QHeaderView>
#include <QLabel>
#include <QSettings>
#include <QTableWidget>
#include <QTimer>
#include <QVBoxLayout>

namespace {

const PatternHistory kHistory{QStringLiteral("FromName"), true};

// The column titles of the list for the fields a pattern can take.
QString FieldTitle(Column column) { return DefaultColumnDefs()[std::size_t(column)].name; }

} // namespace

CFilename2TagDlg::CFilename2TagDlg(QSettings &store, const QStringList &paths, QWidget *parent)
    : QDialog(parent), m_store(store), m_paths(paths), m_box(new QComboBox(this)), m_preview(new QTableWidget(this)),
      m_summary(new QLabel(this)), m_typing(new QTimer(this))
{
    setWindowTitle(tr("Tag from File Name"));
    m_box->setEditable(true);
    m_box->setInsertPolicy(QComboBox::NoInsert);
    m_box->setMinimumContentsLength(28);
    kHistory.Load(m_store, m_box, DefaultNamePatterns());

    auto *patternLabel = new QLabel(tr("&Pattern:"), this);
    patternLabel->setBuddy(m_box);
    auto *grid = new QGridLayout;
    grid->addWidget(patternLabel, 0, 0);
    grid->addWidget(m_box, 0, 1, 1, 3);
    const char *legend[] = {"$A - Artist", "$T - Title", "$B - Album", "$K - Track", "$Y - Year", "$G - Genre"};
    for (int i = 0; i < 6; ++i)
        grid->addWidget(new QLabel(tr(legend[i]), this), 1 + i / 3, 1 + i % 3);
    grid->addWidget(new QLabel(tr("/ - the folder above; $$ - a dollar sign; any other character must be in the name"),
                               this),
                    3, 1, 1, 3);
    grid->setColumnStretch(3, 1);

    m_preview->verticalHeader()->hide();
    m_preview->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_preview->setSelectionMode(QAbstractItemView::NoSelection);
    m_preview->setFocusPolicy(Qt::NoFocus);
    m_preview->setAccessibleName(tr("Preview"));
    m_summary->setWordWrap(true);

    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &CFilename2TagDlg::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    auto *layout = new QVBoxLayout(this);
    layout->addLayout(grid);
    layout->addWidget(m_preview, 1);
    layout->addWidget(m_summary);
    layout->addWidget(buttons);
    resize(720, 480);

    // Typing is previewed after a short pause, so a long selection is matched once per burst of keys.
    m_typing->setSingleShot(true);
    m_typing->setInterval(150);
    connect(m_typing, &QTimer::timeout, this, &CFilename2TagDlg::UpdatePreview);
    connect(m_box, &QComboBox::editTextChanged, m_typing, qOverload<>(&QTimer::start));
    UpdatePreview();
}

void CFilename2TagDlg::UpdatePreview()
{
    m_typing->stop();
    NamePattern pattern;
    QString error;
    const bool valid = pattern.Parse(m_box->currentText(), &error);
    const QList<Column> columns = valid ? pattern.Columns() : QList<Column>();
    QStringList titles{tr("File name")};
    for (const Column column : columns)
        titles.append(FieldTitle(column));
    m_preview->clear();
    m_preview->setColumnCount(int(titles.size()));
    m_preview->setHorizontalHeaderLabels(titles);
    m_preview->setRowCount(int(std::min<qsizetype>(m_paths.size(), kPreviewRows)));
    m_preview->clearSpans();

    const QColor marked = palette().color(QPalette::Disabled, QPalette::Text);
    qsizetype fitting = 0;
    for (qsizetype i = 0; i < m_paths.size(); ++i) {
        NamePattern::Fields fields;
        const bool fits = valid && pattern.Match(m_paths[i], fields);
        fitting += fits ? 1 : 0;
        if (i >= kPreviewRows)
            continue;   // counted, not shown
        const int row = int(i);
        m_preview->setItem(row, 0, new QTableWidgetItem(m_paths[i].mid(m_paths[i].lastIndexOf(QLatin1Char('/')) + 1)));
        m_preview->item(row, 0)->setToolTip(m_paths[i]);
        m_preview->item(row, 0)->setData(Qt::UserRole, fits);
        if (!valid)
            continue;
        if (!fits) {
            auto *item = new QTableWidgetItem(tr("does not fit the pattern"));
            QFont font = item->font();
            font.setItalic(true);
            item->setFont(font);
            item->setForeground(marked);
            m_preview->setItem(row, 1, item);
            if (columns.size() > 1)
                m_preview->setSpan(row, 1, 1, int(columns.size()));
            continue;
        }
        for (const auto &[column, text] : fields)
            m_preview->setItem(row, int(columns.indexOf(column)) + 1, new QTableWidgetItem(text));
    }
    // The names whole; the fields share what is left.
    m_preview->horizontalHeader()->setSectionResizeMode(QHeaderView::Stretch);
    m_preview->horizontalHeader()->setSectionResizeMode(0, QHeaderView::ResizeToContents);
    if (!valid) {
        m_summary->setText(error);
        m_summary->setStyleSheet(QStringLiteral("color: #c01c28;"));
        return;
    }
    m_summary->setStyleSheet(QString());
    m_summary->setText(m_paths.size() == 1
                           ? (fitting == 1 ? tr("The file's name fits the pattern.")
                                           : tr("The file's name does not fit the pattern; nothing would change."))
                           : tr("%1 of %2 files fit the pattern; the others are left as they are.")
                                 .arg(fitting)
                                 .arg(m_paths.size()));
}

void CFilename2TagDlg::accept()
{
    QString error;
    NamePattern parsed;
    if (!parsed.Parse(m_box->currentText(), &error)) {
        Prompter::Current().Tell(this, error, QMessageBox::Warning);
        m_box->setFocus();
        return;
    }
    m_pattern = m_box->currentText();
    m_parsed = parsed;
    kHistory.Store(m_store, m_box, m_pattern);
    QDialog::accept();
}
