#include "platform/desktop.h"

#include "platform/associations.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QFileInfo>
#include <QSystemTrayIcon>

namespace platform {

bool OpenWithDesktop(const QUrl &url) { return QDesktopServices::openUrl(url); }

QString WhyDesktopCannotOpen(const QUrl &url)
{
    if (!CanAskDesktop())
        return QString();
    if (url.isLocalFile()) {
        if (!QFileInfo(url.toLocalFile()).isFile())
            return QCoreApplication::translate("platform", "%1: no such file").arg(url.toLocalFile());
        if (ExecLineForFile(url.toLocalFile()).isEmpty())
            return QCoreApplication::translate("platform", "no program is set to open %1 (a web browser, for a page)")
                .arg(url.toLocalFile());
        return QString();
    }
    if (ExecLineForScheme(url.scheme()).isEmpty())
        return QCoreApplication::translate("platform", "no web browser is set to open %1 addresses").arg(url.scheme());
    return QString();
}

QString HelpFilePath()
{
    const QString dir = QCoreApplication::applicationDirPath();
    for (const QString &candidate : {dir + QStringLiteral("/help/index.html"),
                                     dir + QStringLiteral("/../share/tunegrove/help/index.html")}) {
        if (QFileInfo(candidate).isFile())
            return QFileInfo(candidate).canonicalFilePath();
    }
    return QString();
}

QString NoDisplayReason()
{
#if defined(Q_OS_UNIX) && !defined(Q_OS_MACOS)
    // Another platform plugin (offscreen, vnc, eglfs) needs no display server.
    const QByteArray platform = qgetenv("QT_QPA_PLATFORM");
    if (!platform.isEmpty() && !platform.startsWith("xcb") && !platform.startsWith("wayland"))
        return QString();
    if (qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY"))
        return QStringLiteral("no display to show the window on (neither DISPLAY nor WAYLAND_DISPLAY is set); "
                              "tunegrove-cli does the same work without one");
#endif
    return QString();
}

bool TrayAvailable() { return QSystemTrayIcon::isSystemTrayAvailable(); }

QString DefaultPlayerCaption()
{
#ifdef Q_OS_WIN
    return QStringLiteral("Use Windows default player");
#else
    return QStringLiteral("Use the desktop's default player");
#endif
}

QString ProgramFilter()
{
#ifdef Q_OS_WIN
    return QStringLiteral("Executable Files (*.exe);;All Files (*.*)");
#else
    return QStringLiteral("Programs (*);;All Files (*)");
#endif
}

} // namespace platform
