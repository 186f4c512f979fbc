#include "platform/desktop.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QFileInfo>
#include <QSystemTrayIcon>

namespace platform {

bool OpenWithDesktop(const QUrl &url) { return QDesktopServices::openUrl(url); }

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

bool TrayAvailable() { return QSystemTrayIcon::isSystemTrayAvailable(); }

} // namespace platform
