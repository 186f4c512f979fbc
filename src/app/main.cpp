#include "settings/appsettings.h"
#include "dialogs/prompter.h"
#include "journal/journal.h"
#include "app/mainframe.h"
#include "settings/startup.h"
#include "platform/desktop.h"
#include "res/resources.h"
#include "settings/documentsfolder.h"
#include "library/scanstate.h"

#include <QApplication>
#include <QScreen>
#include <QSettings>
#include <QTimer>

#include <cstdio>
#include <cstdlib>

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    QApplication::setOrganizationName(QStringLiteral("Kestrine"));
    QApplication::setApplicationName(QStringLiteral("Tunegrove"));
    QApplication::setApplicationVersion(QStringLiteral(TUNEGROVE_VERSION));
    QApplication::setQuitOnLastWindowClosed(false);   // the window may live on in the tray
    InitGuiResources();

    QSettings store;
    store.setFallbacksEnabled(false);
    const QString setAside = SetAsideUnreadableSettings(store);
    AppSettings &settings = AppSettings::Instance();
    settings.Load(store);
    DocumentsFolder::Current();   // computed once, before any window exists
    // Tag writes a killed run (of this program or the command line) left half done are finished first.
    journal::Recover();

    const bool trayAvailable = platform::TrayAvailable();
    const StartMode mode = DecideStartMode(QCoreApplication::arguments().join(QLatin1Char(' ')), settings.sysTrayIco,
                                           trayAvailable);
    if (mode == StartMode::Quit)
        return 1;

    // A stored window that lies entirely off every screen is brought back onto the primary one.
    QList<QRect> screens;
    for (const QScreen *screen : QGuiApplication::screens())
        screens.append(screen->availableGeometry());
    const QRect placed = PlaceOnScreen(QRect(settings.x, settings.y, settings.cx, settings.cy), screens,
                                       QGuiApplication::primaryScreen()->availableGeometry());
    settings.x = placed.x();
    settings.y = placed.y();
    settings.cx = placed.width();
    settings.cy = placed.height();

    CMainFrame frame(settings, ScanState::Instance(), store, trayAvailable);
    QObject::connect(&frame, &CMainFrame::QuitRequested, &app, &QCoreApplication::quit, Qt::QueuedConnection);
    frame.InitialUpdate();
    frame.ShowAtStart(mode == StartMode::Hidden);
    if (!setAside.isEmpty()) {
        QTimer::singleShot(0, &frame, [&frame, setAside] {
            Prompter::Current().Tell(&frame,
                                     QCoreApplication::translate("main", "The settings file could not be read whole. It was kept as\n%1\n"
                                                                         "and the settings it held past the damage are back to their defaults.")
                                         .arg(setAside));
        });
    }
    const int code = app.exec();
    // The window is gone and the settings are saved: end now. Tearing down Qt (the desktop's tray and session
    // connections, a listing still in slow I/O) can take seconds and would keep a finished program alive.
    store.sync();
    std::fflush(nullptr);
    std::_Exit(code);
}
