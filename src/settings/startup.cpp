#include "settings/startup.h"

StartMode DecideStartMode(const QString &commandLine, int sysTrayIco, bool trayAvailable)
{
    if (commandLine.indexOf(QLatin1String("StartUp")) <= 0)
        return StartMode::Shown;
    if (sysTrayIco == 0)
        return StartMode::Quit;
    return sysTrayIco == 1 && trayAvailable ? StartMode::Hidden : StartMode::Shown;
}

QRect PlaceOnScreen(const QRect &stored, const QList<QRect> &screens, const QRect &primary)
{
    for (const QRect &screen : screens) {
        if (screen.intersects(stored))
            return stored;
    }
    QRect moved = stored;
    moved.setSize(stored.size().boundedTo(primary.size()));
    moved.moveTopLeft(primary.topLeft() + QPoint(25, 60));
    if (!primary.contains(moved))
        moved.moveTopLeft(primary.topLeft());
    return moved;
}
