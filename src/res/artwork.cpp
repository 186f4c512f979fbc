#include "res/artwork.h"

#include <QPainter>
#include <QPainterPath>

namespace artwork {

namespace {

const QColor kInk(0x2b, 0x3a, 0x4a);
const QColor kHot(0x1d, 0x6f, 0xc4);
const QColor kAccent(0xe0, 0x8a, 0x1e);
const QColor kGrey(0xa0, 0xa0, 0xa0);

QColor InkFor(ImageState state) { return state == ImageState::Disabled ? kGrey : state == ImageState::Hot ? kHot : kInk; }

QColor AccentFor(ImageState state) { return state == ImageState::Disabled ? kGrey.lighter(115) : kAccent; }

void DrawNote(QPainter &p, QPointF at, double scale)
{
    p.drawEllipse(at, 3.6 * scale, 2.8 * scale);
    p.drawRect(QRectF(at.x() + 2.6 * scale, at.y() - 11 * scale, 1.4 * scale, 11 * scale));
}

} // namespace

QPixmap Toolbar(ToolbarImage image, ImageState state)
{
    QPixmap pixmap(36, 32);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    const QColor ink = InkFor(state);
    const QColor accent = AccentFor(state);
    p.setPen(Qt::NoPen);
    switch (image) {
    case ToolbarImage::Play: {
        p.setBrush(accent);
        p.drawEllipse(QRectF(6, 4, 24, 24));
        QPainterPath triangle;
        triangle.moveTo(15, 10);
        triangle.lineTo(24, 16);
        triangle.lineTo(15, 22);
        triangle.closeSubpath();
        p.setBrush(Qt::white);
        p.drawPath(triangle);
        break;
    }
    case ToolbarImage::Edit: {
        p.setBrush(ink);
        p.drawRoundedRect(QRectF(6, 6, 18, 22), 2, 2);
        p.setBrush(Qt::white);
        for (int i = 0; i < 4; ++i)
            p.drawRect(QRectF(9, 10 + i * 4, 12 - (i % 2) * 4, 1.6));
        p.save();
        p.translate(27, 9);
        p.rotate(40);
        p.setBrush(accent);
        p.drawRect(QRectF(-2, 0, 4, 17));
        p.restore();
        break;
    }
    case ToolbarImage::Hide: {
        p.setBrush(ink);
        for (int i = 0; i < 4; ++i)
            p.drawRect(QRectF(6, 6 + i * 6, 20, 3));
        p.setPen(QPen(accent, 3, Qt::SolidLine, Qt::RoundCap));
        p.drawLine(QPointF(22, 18), QPointF(31, 27));
        p.drawLine(QPointF(31, 18), QPointF(22, 27));
        break;
    }
    case ToolbarImage::Options: {
        p.setBrush(ink);
        p.translate(18, 16);
        for (int i = 0; i < 8; ++i) {
            p.drawRect(QRectF(-2, -12, 4, 6));
            p.rotate(45);
        }
        p.drawEllipse(QPointF(0, 0), 8.5, 8.5);
        p.setBrush(accent);
        p.drawEllipse(QPointF(0, 0), 3.5, 3.5);
        break;
    }
    case ToolbarImage::Print: {
        p.setBrush(Qt::white);
        p.setPen(QPen(ink, 1.2));
        p.drawRect(QRectF(11, 4, 14, 10));
        p.setPen(Qt::NoPen);
        p.setBrush(ink);
        p.drawRoundedRect(QRectF(5, 12, 26, 11), 2, 2);
        p.setBrush(Qt::white);
        p.setPen(QPen(ink, 1.2));
        p.drawRect(QRectF(11, 19, 14, 9));
        p.setPen(Qt::NoPen);
        p.setBrush(accent);
        p.drawEllipse(QPointF(27, 15.5), 1.5, 1.5);
        break;
    }
    case ToolbarImage::About: {
        p.setBrush(ink);
        p.drawEllipse(QRectF(6, 4, 24, 24));
        p.setBrush(Qt::white);
        p.drawEllipse(QPointF(18, 10), 2, 2);
        p.drawRoundedRect(QRectF(16.2, 13.5, 3.6, 10), 1.2, 1.2);
        break;
    }
    case ToolbarImage::Website: {
        p.setPen(QPen(ink, 1.8));
        p.setBrush(Qt::NoBrush);
        p.drawEllipse(QRectF(6, 4, 24, 24));
        p.drawEllipse(QRectF(12.5, 4, 11, 24));
        p.drawLine(QPointF(6, 16), QPointF(30, 16));
        p.drawLine(QPointF(8, 10), QPointF(28, 10));
        p.drawLine(QPointF(8, 22), QPointF(28, 22));
        p.setPen(Qt::NoPen);
        p.setBrush(accent);
        DrawNote(p, QPointF(27, 27), 0.7);
        break;
    }
    }
    return pixmap;
}

QIcon ToolbarIcon(ToolbarImage image)
{
    QIcon icon;
    icon.addPixmap(Toolbar(image, ImageState::Normal), QIcon::Normal);
    icon.addPixmap(Toolbar(image, ImageState::Hot), QIcon::Active);
    icon.addPixmap(Toolbar(image, ImageState::Disabled), QIcon::Disabled);
    return icon;
}

QPixmap SubdirIcon(bool on)
{
    QPixmap pixmap(16, 16);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    p.setBrush(on ? kAccent : kGrey);
    p.drawRoundedRect(QRectF(1, 3, 9, 7), 1, 1);   // folder
    p.drawRoundedRect(QRectF(6, 8, 9, 7), 1, 1);   // its subfolder
    p.setBrush(on ? kInk : kGrey.lighter(120));
    p.drawRect(QRectF(3, 10, 1.5, 3.5));
    p.drawRect(QRectF(3, 12, 3, 1.5));
    return pixmap;
}

QPixmap AddListIcon(bool on)
{
    QPixmap pixmap(16, 16);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    p.setBrush(on ? kInk : kGrey);
    for (int i = 0; i < 3; ++i)
        p.drawRect(QRectF(1, 2 + i * 4, 8, 2));
    p.setBrush(on ? kAccent : kGrey.lighter(120));
    p.drawRect(QRectF(10.5, 7, 2, 8));
    p.drawRect(QRectF(7.5, 10, 8, 2));
    return pixmap;
}

QPixmap AboutPicture()
{
    QPixmap pixmap(48, 48);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    p.setBrush(kInk);
    p.drawEllipse(QRectF(2, 2, 44, 44));
    p.setBrush(kAccent);
    p.drawEllipse(QPointF(24, 24), 9, 9);
    p.setBrush(Qt::white);
    p.drawEllipse(QPointF(24, 24), 2.5, 2.5);
    // A leaf: the grove in the name.
    QPainterPath leaf;
    leaf.moveTo(30, 14);
    leaf.cubicTo(38, 4, 46, 8, 44, 14);
    leaf.cubicTo(42, 20, 34, 20, 30, 14);
    p.setBrush(QColor(0x4c, 0xa0, 0x4e));
    p.drawPath(leaf);
    return pixmap;
}

QIcon AppIcon()
{
    QIcon icon;
    for (const int size : {16, 24, 32, 48}) {
        icon.addPixmap(AboutPicture().scaled(size, size, Qt::KeepAspectRatio, Qt::SmoothTransformation));
    }
    return icon;
}

} // namespace artwork
