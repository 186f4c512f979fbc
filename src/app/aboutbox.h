#pragma once

#include <QDialog>

// "About Tunegrove": the program's name, version and a few words, with OK and a button to the home page.
class CAboutBox : public QDialog
{
    Q_OBJECT
public:
    explicit CAboutBox(QWidget *parent = nullptr);

Q_SIGNALS:
    void HomepageRequested();

protected:
    void paintEvent(QPaintEvent *event) override;
};
