#pragma once

#include <QList>
#include <QRect>
#include <QString>

class QSettings;

// How the program starts: shown, hidden in the tray (the word "StartUp" on the command line), or not at all.
enum class StartMode { Shown, Hidden, Quit };

// `commandLine` is the whole command line, program path included. "StartUp" found after its first character
// asks for a hidden start: the program ends at once when the tray icon is switched off (0). It hides only when it
// will have a tray icon to come back from (setting 1 and a desktop tray); otherwise it shows its window.
StartMode DecideStartMode(const QString &commandLine, int sysTrayIco, bool trayAvailable);

// The stored window rectangle, moved onto the primary screen when it lies entirely off every screen, and made to
// fit the screen that holds most of it when it is larger than that screen or hangs far over its edges.
QRect PlaceOnScreen(const QRect &stored, const QList<QRect> &screens, const QRect &primary);

// A settings file with text the settings store cannot parse would be rewritten from the part it could read, and
// the rest lost: the file is set aside as "<name>.bad" (an older one replaced) before anything is saved, and its
// path returned; empty when the file was read whole (or could not be set aside).
QString SetAsideUnreadableSettings(QSettings &store);
