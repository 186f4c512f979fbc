#include "app/trayicon.h"

#include "res/artwork.h"

#include <QAction>
#include <QMenu>

CTrayIcon::CTrayIcon(QObject *parent) : QSystemTrayIcon(artwork::AppIcon(), parent)
{
    setToolTip(QStringLiteral("Tunegrove"));
    auto *menu = new QMenu;
    m_open = menu->addAction(tr("Open"));
    QFont bold = m_open->font();
    bold.setBold(true);
    m_open->setFont(bold);
    m_close = menu->addAction(tr("Close"));
    setContextMenu(menu);
    connect(this, &QObject::destroyed, menu, &QObject::deleteLater);
    connect(this, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
        if (reason == QSystemTrayIcon::DoubleClick)
            Q_EMIT OpenRequested();
    });
}
