#pragma once

#include <QString>

#include <atomic>
#include <functional>

#include "reports/reportwriter.h"

class AppSettings;
class QPrinter;
class CRightView;
class QWidget;

// Play: the selected rows as a playlist in the user's runtime folder, handed to the configured player, the
// desktop's player for playlists, or the desktop itself.
namespace reportcommands {

void Play(CRightView &view, AppSettings &settings, QWidget *parent);

// Save As (Create Report): the report options, then the Save As dialog, then the list sorted by the group and
// the report written (replacing a file of that name only once it is complete). Cancel at either step changes
// nothing. `askPath` shows the Save As dialog (tests answer it); it returns an empty path on Cancel.
void CreateReport(CRightView &view, const AppSettings &settings, QWidget *parent,
                  const std::function<QString(int format)> &askPath = {});
// The lines a printout shows: the print options ("Report Options (Printing)"; Cancel still prints, grouped by
// Path, without tags, all rows), the grouping sort, the text report. `askOptions` false takes those defaults.
// Runs `work` on another thread while this one steps a progress by `done` out of `total` and keeps the window
// painted (no clicks or keys reach it meanwhile): past half a second a window-modal dialog with Cancel shows;
// Cancel sets `cancel`, which the work watches. Returns false when it was cancelled. The work must not touch
// widgets.
// A `liveTotal` given replaces `total` once the work sets it above 0.
bool RunWithProgress(QWidget *parent, int total, std::atomic<int> &done, std::atomic<bool> &cancel,
                     const std::function<void()> &work, const std::atomic<int> *liveTotal = nullptr);

// Lays out and paints the lines on this thread (the print preview's paint), with a progress that keeps the
// window painted; returns the page count.
int PaintWithProgress(const QList<ReportLine> &lines, QPrinter &printer, QWidget *parent);

QList<ReportLine> PrintLines(CRightView &view, const AppSettings &settings, QWidget *parent, bool askOptions = true,
                             bool *cancelled = nullptr);
// Print (the system's print dialog first), Print Preview and Print Setup on the program's printer.
void Print(CRightView &view, const AppSettings &settings, QPrinter &printer, QWidget *parent);
void PrintPreview(CRightView &view, const AppSettings &settings, QPrinter &printer, QWidget *parent);
void PrintSetup(QPrinter &printer, QWidget *parent);

// The report of the list as it stands, for given choices (after the dialogs).
bool WriteReport(CRightView &view, const AppSettings &settings, int format, int group, bool tags, bool onlySelected,
                 const QString &path, QWidget *parent);

} // namespace reportcommands
