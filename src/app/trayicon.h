#pragma once

#include <QSystemTrayIcon>

class QAction;

// The program's icon in the desktop's tray, with the tip "Tunegrove" and a menu of Open (the default, in bold)
// and Close. A double click asks for the window, as Open does.
class CTrayIcon : public QSystemTrayIcon
{
    Q_OBJECT
public:
    explicit CTrayIcon(QObject *parent = nullptr);
    QAction *OpenAction() const { return m_open; }
    QAction *CloseAction() const { return m_close; }

Q_SIGNALS:
    void OpenRequested();

private:
    QAction *m_open;
    QAction *m_close;
};
