#include "settings/startup.h"

#include <QFile>
#include <QSettings>

#include <algorithm>

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
    // The screen holding most of the window; none: the primary screen, a little in from its corner.
    const QRect *best = nullptr;
    long long bestArea = 0;
    for (const QRect &screen : screens) {
        const QRect common = screen.intersected(stored);
        const long long area = common.isEmpty() ? 0 : (long long)common.width() * common.height();
        if (area > bestArea) {
            bestArea = area;
            best = &screen;
        }
    }
    QRect moved = stored;
    if (!best) {
        moved.setSize(stored.size().boundedTo(primary.size()));
        moved.moveTopLeft(primary.topLeft() + QPoint(25, 60));
        if (!primary.contains(moved))
            moved.moveTopLeft(primary.topLeft());
        return moved;
    }
    // A window larger than its screen, or hanging far over its edges (its title bar and menu out of reach), is
    // made to fit and moved onto it; a few pixels over an edge are the window frame and stay.
    constexpr int kSlack = 16;
    const QRect &screen = *best;
    moved.setSize(stored.size().boundedTo(screen.size()));
    if (moved.size() == stored.size() && screen.adjusted(-kSlack, -kSlack, kSlack, kSlack).contains(moved))
        return stored;
    moved.moveLeft(std::clamp(moved.left(), screen.left(), screen.right() - moved.width() + 1));
    moved.moveTop(std::clamp(moved.top(), screen.top(), screen.bottom() - moved.height() + 1));
    return moved;
}

QString SetAsideUnreadableSettings(QSettings &store)
{
    if (store.status() != QSettings::FormatError)
        return QString();
    const QString path = store.fileName();
    const QString kept = path + QStringLiteral(".bad");
    QFile::remove(kept);
    return QFile::rename(path, kept) ? kept : QString();
}
