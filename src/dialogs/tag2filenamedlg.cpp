#include "dialogs/tag2filenamedlg.h"

#include "dialogs/prompter.h"
#include "fileops/renamepattern.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QRegularExpressionValidator>
#include <QSettings>
#include <QVBoxLayout>

namespace {

const char kCountKey[] = "TotalCount";
const char kSelectedKey[] = "Selected";

// Integers in an INI file come back as text in a new process: parse them, with a default when that fails.
long long StoredNumber(const QSettings &store, const char *key, long long fallback)
{
    bool ok = false;
    const long long value = store.value(QLatin1String(key)).toString().toLongLong(&ok);
    return ok ? value : fallback;
}

} // namespace

CTag2FilenameDlg::CTag2FilenameDlg(QSettings &store, QWidget *parent)
    : QDialog(parent), m_store(store), m_box(new QComboBox(this)), m_counter(new QLineEdit(this))
{
    setWindowTitle(tr("Rename"));
    m_box->setEditable(true);
    m_box->setInsertPolicy(QComboBox::NoInsert);
    m_box->setMinimumContentsLength(24);
    m_counter->setValidator(new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]*")), this));
    m_counter->setText(QStringLiteral("0"));
    m_counter->setMaximumWidth(m_counter->fontMetrics().horizontalAdvance(QStringLiteral("00000000")) + 16);

    // The history, or the three default patterns when none is stored.
    const long long count = StoredNumber(m_store, kCountKey, 0);
    if (count <= 0) {
        m_box->addItems(DefaultRenamePatterns());
    } else {
        for (long long i = 0; i < count; ++i) {
            const QString item = m_store.value(QStringLiteral("Item%1").arg(i)).toString();
            if (!item.isEmpty())
                m_box->addItem(item);
        }
    }
    const long long selected = std::max<long long>(0, StoredNumber(m_store, kSelectedKey, 0));
    m_box->setCurrentIndex(selected < m_box->count() ? int(selected) : -1);

    auto *grid = new QGridLayout;
    grid->addWidget(new QLabel(tr("Filename:"), this), 0, 0, 1, 3);
    grid->addWidget(m_box, 1, 0, 1, 2);
    grid->addWidget(new QLabel(tr(".mp3"), this), 1, 2);
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
    auto *layout = new QVBoxLayout(this);
    layout->addLayout(grid);
    layout->addWidget(buttons);
}

void CTag2FilenameDlg::StoreHistory()
{
    m_pattern = m_box->currentText();
    if (!m_pattern.isEmpty() && m_box->findText(m_pattern, Qt::MatchExactly | Qt::MatchCaseSensitive) < 0)
        m_box->addItem(m_pattern);
    const int selected = m_pattern.isEmpty() ? m_box->currentIndex()
                                             : m_box->findText(m_pattern, Qt::MatchExactly | Qt::MatchCaseSensitive);
    m_box->setCurrentIndex(selected);
    m_store.setValue(QLatin1String(kCountKey), m_box->count());
    m_store.setValue(QLatin1String(kSelectedKey), selected);
    for (int i = 0; i < m_box->count(); ++i)
        m_store.setValue(QStringLiteral("Item%1").arg(i), m_box->itemText(i));
    m_store.sync();
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
