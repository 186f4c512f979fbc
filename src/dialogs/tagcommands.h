#pragma once

#include <QStringList>

#include <functional>

class CRightView;
class QSettings;
class QWidget;
class TagFile;

// The tag commands of the track list: Edit Tag (the tag dialog for one selected row, the group edit for several)
// and Normalize Text in Tag.
namespace tagcommands {

// At least one selected row is an MP3 file.
bool CanEditTag(const CRightView &view);
void EditTag(CRightView &view, QWidget *parent);
void NormalizeSelection(CRightView &view, QWidget *parent);

// Opens each selected MP3 row's file, lets `change` alter the record, writes what changed and shows the result in
// the row. Files that cannot be read are never written. Past half a second a progress dialog shows "n of N" with
// Cancel (the file in hand is finished; files done stay done); at the end one message lists the files that
// failed. Returns how many files failed.
int ApplyToSelection(CRightView &view, QWidget *parent, const std::function<void(TagFile &)> &change);
// The same for the given rows.
int ApplyToRows(CRightView &view, const QList<int> &rows, QWidget *parent, const std::function<void(TagFile &)> &change);

// Tag from File Name: the pattern dialog for the selected rows whose tags Tunegrove writes, then the fields each
// fitting name gives written into its file (names that do not fit are left alone).
void TagFromFileNames(CRightView &view, QSettings &store, QWidget *parent);

// One message for the files a batch could not do, each with its reason; nothing when the list is empty.
void ReportFailures(QWidget *parent, const QStringList &failures);

} // namespace tagcommands
