#include "tracklist/scanningdlg.h"

#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QTimerEvent>
#include <QVBoxLayout>
#include <QtMath>

namespace {

constexpr int kCaptionMs = 200;
constexpr int kFrameMs = 80;
constexpr int kFrames = 24;

} // namespace

CScanningDlg::CScanningDlg(std::function<QString()> currentFolder, QWidget *parent)
    : QDialog(parent), m_currentFolder(std::move(currentFolder))
{
    setWindowTitle(tr("Scanning..."));
    setModal(true);

    auto *animation = new ScanAnimation(this);
    auto *text = new QLabel(tr("Please wait..."), this);
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Cancel, this);
    buttons->button(QDialogButtonBox::Cancel)->setDefault(true);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto *row = new QHBoxLayout;
    row->addWidget(animation);
    row->addSpacing(24);
    row->addWidget(text, 1, Qt::AlignVCenter);
    auto *layout = new QVBoxLayout(this);
    layout->addLayout(row);
    layout->addWidget(buttons);
    setMinimumWidth(440);

    m_timerId = startTimer(kCaptionMs);
}

void CScanningDlg::timerEvent(QTimerEvent *event)
{
    if (event->timerId() == m_timerId) {
        setWindowTitle(QStringLiteral("%1...").arg(m_currentFolder ? m_currentFolder() : QString()));
        return;
    }
    QDialog::timerEvent(event);
}

ScanAnimation::ScanAnimation(QWidget *parent) : QWidget(parent)
{
    setFixedSize(sizeHint());
    startTimer(kFrameMs);
}

void ScanAnimation::timerEvent(QTimerEvent *)
{
    m_frame = (m_frame + 1) % kFrames;
    update();
}

void ScanAnimation::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const QPointF centre(width() / 2.0, height() / 2.0);
    const QColor ink = palette().color(QPalette::WindowText);
    const QColor accent = palette().color(QPalette::Highlight);

    // A disc with a label, turning.
    p.setPen(Qt::NoPen);
    p.setBrush(ink);
    p.drawEllipse(centre, 22, 22);
    p.setBrush(accent);
    p.drawEllipse(centre, 8, 8);
    p.setBrush(palette().color(QPalette::Window));
    p.drawEllipse(centre, 2, 2);
    const double angle = 2 * M_PI * m_frame / kFrames;
    p.setPen(QPen(palette().color(QPalette::Window), 1.5));
    p.drawLine(centre + QPointF(11 * qCos(angle), 11 * qSin(angle)), centre + QPointF(20 * qCos(angle), 20 * qSin(angle)));

    // Three notes circling it, fading behind each other.
    for (int i = 0; i < 3; ++i) {
        const double a = -angle * 1.5 + i * 2 * M_PI / 3;
        const QPointF at = centre + QPointF(31 * qCos(a), 31 * qSin(a));
        QColor c = accent;
        c.setAlphaF(1.0 - i * 0.3);
        p.setPen(QPen(c, 1.5));
        p.setBrush(c);
        p.drawEllipse(at, 3.5, 2.8);
        p.drawLine(at + QPointF(3.2, 0), at + QPointF(3.2, -10));
    }
}
