#pragma once

#include <QString>

class CRightView;
class QSettings;
class QWidget;

// The file commands of the track list.
namespace filecommands {

// Rename File(s) using tag: the pattern dialog, then every selected MP3 row renamed in list order, the counter
// running across them. Never replaces an existing file.
void RenameSelection(CRightView &view, QSettings &store, QWidget *parent);
// Renames the selected MP3 rows by `pattern`; returns how many files failed.
int RenameRows(CRightView &view, const QString &pattern, long long counter, QWidget *parent);

} // namespace filecommands
