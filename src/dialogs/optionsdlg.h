#pragma once

#include "library/trackrecord.h"

#include <QDialog>
#include <QWidget>

#include <array>
#include <functional>

class AppSettings;
class CRightView;
class QCheckBox;
class QLineEdit;
class QSettings;
class QTabWidget;

// "General": grid lines, the drives a scan takes, the file extensions (the five single ones disabled, their marks
// kept, while "All Multimedia" is ticked) and the tray icon.
class COptions1 : public QWidget
{
    Q_OBJECT
public:
    explicit COptions1(const AppSettings &settings, QWidget *parent = nullptr);
    QCheckBox *grid, *cdrom, *removable, *avi, *all, *mid, *mp3, *mpg, *wav, *tray, *trash, *other;

private:
    void FollowAllMultimedia();
};

// "Player": the player program, or the desktop's default player for playlists.
class COptions2 : public QWidget
{
    Q_OBJECT
public:
    COptions2(AppSettings &settings, QWidget *parent = nullptr);
    QCheckBox *useDefault;
    QLineEdit *path;
    void Browse();
};

// "Columns": a box per column of the list, in column order, the first (the file name) always shown.
class COptionsCol : public QWidget
{
    Q_OBJECT
public:
    COptionsCol(const std::array<ColumnDef, kColumnCount> &columns, QWidget *parent = nullptr);
    std::array<QCheckBox *, kColumnCount> boxes{};
};

// The "Options" sheet: General, Player and Columns, OK and Cancel.
class COptionsSheet : public QDialog
{
    Q_OBJECT
public:
    COptionsSheet(AppSettings &settings, const std::array<ColumnDef, kColumnCount> &columns, QWidget *parent = nullptr);
    COptions1 *general;
    COptions2 *player;
    COptionsCol *columns;
    QTabWidget *tabs;
};

// The desktop's player, looked up only when no player path is stored; the lookup is stored at once.
QString DefaultPlayer(AppSettings &settings);

// The Options command: the sheet filled from the settings and the list, then on OK every choice applied at once
// and saved. `show` runs the sheet (tests drive it) and says whether it ended with OK; `refreshTree` rebuilds the
// drive tree and lists the current folder again; `trayChanged` shows or removes the tray icon.
void RunOptions(CRightView &view, AppSettings &settings, QSettings &store, const std::function<void()> &refreshTree,
                const std::function<void()> &trayChanged, QWidget *parent,
                const std::function<bool(COptionsSheet &)> &show = {});
