#include "ui/ProgramIcon.h"

#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>

#include <cmath>

namespace ProgramIcon {

QPixmap Picture(int size)
{
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    const double s = size;

    // The colours of the splash picture.
    QLinearGradient background(0, 0, 0, s);
    background.setColorAt(0, QColor(0x22, 0x3a, 0x5e));
    background.setColorAt(1, QColor(0x0c, 0x16, 0x26));
    painter.setPen(Qt::NoPen);
    painter.setBrush(background);
    painter.drawRoundedRect(QRectF(0, 0, s, s), s * 0.18, s * 0.18);

    // The cart: a slot with a label line.
    const QRectF cart(s * 0.56, s * 0.24, s * 0.30, s * 0.52);
    painter.setBrush(QColor(0x2e, 0x4f, 0x7a));
    painter.setPen(QPen(QColor(0x9e, 0xc6, 0xec), qMax(1.0, s * 0.04)));
    painter.drawRoundedRect(cart, s * 0.05, s * 0.05);
    painter.drawLine(QPointF(cart.left() + s * 0.07, cart.top() + s * 0.10),
                     QPointF(cart.right() - s * 0.07, cart.top() + s * 0.10));

    // The wave running into it.
    QPainterPath wave;
    const double left = s * 0.10;
    const double right = s * 0.50;
    const double middle = s * 0.52;
    wave.moveTo(left, middle);
    const int steps = 48;
    for (int i = 1; i <= steps; ++i) {
        const double t = double(i) / steps;
        const double envelope = std::sin(t * M_PI);
        const double x = left + (right - left) * t;
        wave.lineTo(x, middle - std::sin(t * 6 * M_PI) * envelope * s * 0.16);
    }
    painter.setBrush(Qt::NoBrush);
    painter.setPen(QPen(QColor(0x5a, 0xaa, 0xe6), qMax(1.0, s * 0.045), Qt::SolidLine, Qt::RoundCap,
                        Qt::RoundJoin));
    painter.drawPath(wave);
    return pixmap;
}

QIcon Icon()
{
    QIcon icon;
    for (int size : {16, 22, 24, 32, 48, 64, 128}) {
        icon.addPixmap(Picture(size));
    }
    return icon;
}

} // namespace ProgramIcon
