#pragma once

#include <QDialog>
#include <QString>

class QComboBox;
class QLineEdit;
class QSettings;

// "Rename": the pattern that names files from their tags, chosen from a history kept in the settings
// ("TotalCount", "Selected", "Item%d" outside the "Settings" group) or typed, and the counter's first number.
class CTag2FilenameDlg : public QDialog
{
    Q_OBJECT
public:
    CTag2FilenameDlg(QSettings &store, QWidget *parent = nullptr);

    QString Pattern() const { return m_pattern; }
    long long CounterStart() const { return m_counterStart; }
    QComboBox *PatternBox() const { return m_box; }
    QLineEdit *CounterEdit() const { return m_counter; }

    void accept() override;

private:
    void StoreHistory();

    QSettings &m_store;
    QComboBox *m_box;
    QLineEdit *m_counter;
    QString m_pattern;
    long long m_counterStart = 0;
};
