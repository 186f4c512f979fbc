#include "settings/appsettings.h"
#include "settings/commandline.h"
#include "platform/names.h"
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
    // The command line is read before the application (and its display connection) exists, so --help and
    // --version answer on a console without a desktop.
    QStringList arguments;
    for (int i = 1; i < argc; ++i)
        arguments.append(platform::DecodeName(QByteArray(argv[i])));
    const GuiCommandLine line = ParseGuiCommandLine(arguments);
    switch (line.action) {
    case GuiCommandLine::Action::Help:
        std::fputs(GuiUsage().toLocal8Bit().constData(), stdout);
        return 0;
    case GuiCommandLine::Action::Version:
        std::printf("tunegrove %s\n", TUNEGROVE_VERSION);
        return 0;
    case GuiCommandLine::Action::Error:
        std::fprintf(stderr, "tunegrove: %s\n%s", line.error.toLocal8Bit().constData(),
                     GuiUsage().toLocal8Bit().constData());
        return 2;
    case GuiCommandLine::Action::Run:
        break;
    }
    if (const QString reason = platform::NoDisplayReason(); !reason.isEmpty()) {
        std::fprintf(stderr, "tunegrove: %s\n", reason.toLocal8Bit().constData());
        return 2;
    }

    QApplication app(argc, argv);
    QApplication::setOrganizationName(QStringLiteral("Kestrine"));
    QApplication::setApplicationName(QStringLiteral("Tunegrove"));
    QApplication::setApplicationVersion(QStringLiteral(TUNEGROVE_VERSION));
    // Ties the windows to the installed desktop entry (its name and icon in task bars and docks).
    QGuiApplication::setDesktopFileName(QStringLiteral("org.kestrine.Tunegrove"));
    QApplication::setQuitOnLastWindowClosed(false);   // the window may live on in the tray
    InitGuiResources();

    QSettings store;
    store.setFallbacksEnabled(false);
    const QString setAside = SetAsideUnreadableSettings(store);
    AppSettings &settings = AppSettings::Instance();
    settings.Load(store);
    DocumentsFolder::Current();   // computed once, before any window exists
    // Tag writes a killed run (of this program or the command line) left half done are finished first.
    QStringList leftAlone;
    journal::Recover(journal::DefaultFolder(), &leftAlone);

    const bool trayAvailable = platform::TrayAvailable();
    // The program's path and the words of its line, without the paths it was given to open.
    const StartMode mode = DecideStartMode((QStringList{QCoreApplication::arguments().value(0)} + line.words).join(QLatin1Char(' ')),
                                           settings.sysTrayIco, trayAvailable);
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
    if (line.folder.isEmpty())
        frame.InitialUpdate();
    else
        frame.OpenAtStart(line.folder, line.files);
    frame.ShowAtStart(mode == StartMode::Hidden);
    if (!line.missing.isEmpty()) {
        // Told once the window is up; the program then goes on as usual.
        QTimer::singleShot(0, &frame, [&frame, missing = line.missing] {
            Prompter::Current().Tell(&frame,
                                     QCoreApplication::translate("main", "Nothing is at %1.", nullptr, int(missing.size()))
                                         .arg(missing.join(QStringLiteral(", "))),
                                     QMessageBox::Warning);
        });
    }
    if (!leftAlone.isEmpty()) {
        // Interrupted writes whose files another program changed since: named once, never written.
        QTimer::singleShot(0, &frame, [&frame, leftAlone] {
            Prompter::Current().Tell(&frame,
                                     QCoreApplication::translate("main", "An interrupted tag write was not finished:\n%1")
                                         .arg(leftAlone.join(QLatin1Char('\n'))),
                                     QMessageBox::Warning);
        });
    }
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
