#pragma once

#include "library/trackrecord.h"

#include <QDialog>
#include <QList>
#include <QString>

class QComboBox;
class QLabel;
class QLineEdit;
class QSettings;
class QTableWidget;

// "Rename": the pattern that names files from their tags, chosen from a history kept in the settings
// ("TotalCount", "Selected", "Item%d" outside the "Settings" group) or typed, and the counter's first number.
// Under the pattern box a preview shows the first rows of the selection, old name and new name, updated as the
// pattern or the counter is typed; a name that would clash or that the pattern leaves empty is marked.
class CTag2FilenameDlg : public QDialog
{
    Q_OBJECT
public:
    CTag2FilenameDlg(QSettings &store, QWidget *parent = nullptr);

    QString Pattern() const { return m_pattern; }
    long long CounterStart() const { return m_counterStart; }
    QComboBox *PatternBox() const { return m_box; }
    QLineEdit *CounterEdit() const { return m_counter; }
    QTableWidget *Preview() const { return m_preview; }

    // The rows the preview shows (the first kPreviewRows are kept).
    void SetPreviewRows(const QList<TrackRecord> &rows);
    static constexpr int kPreviewRows = 20;
    // The extensions the new names end with, shown beside the pattern (".flac"; ".mp3, .ogg" for a mixed
    // selection): an MP3 file's name ends ".mp3", any other keeps its own extension.
    void SetExtensions(const QStringList &extensions);
    QLabel *ExtensionLabel() const { return m_extension; }

    void accept() override;

private:
    void StoreHistory();
    void UpdatePreview();

    QSettings &m_store;
    QComboBox *m_box;
    QLineEdit *m_counter;
    QTableWidget *m_preview;
    QLabel *m_extension;
    QList<TrackRecord> m_rows;
    QString m_pattern;
    long long m_counterStart = 0;
};
