#pragma once

#include <QDialog>

#include <functional>

// The modal dialog that stands over the window while Scan All runs: a looping animation, "Please wait..." and
// Cancel. Every 200 ms its caption shows the folder being listed. It stays open after the scan ends; Cancel, Esc
// or the close box end it.
class CScanningDlg : public QDialog
{
    Q_OBJECT
public:
    explicit CScanningDlg(std::function<QString()> currentFolder, QWidget *parent = nullptr);

protected:
    void timerEvent(QTimerEvent *event) override;

private:
    std::function<QString()> m_currentFolder;
    int m_timerId = 0;
};

// A small looping animation of our own: notes circling a disc.
class ScanAnimation : public QWidget
{
    Q_OBJECT
public:
    explicit ScanAnimation(QWidget *parent = nullptr);
    QSize sizeHint() const override { return QSize(72, 72); }
    int Frame() const { return m_frame; }

protected:
    void paintEvent(QPaintEvent *event) override;
    void timerEvent(QTimerEvent *event) override;

private:
    int m_frame = 0;
};
