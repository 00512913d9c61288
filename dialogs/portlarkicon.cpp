#include "portlarkicon.h"

#include <QPainter>
#include <QPainterPath>

QPixmap PortlarkIconPixmap(int size)
{
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(size / 32.0, size / 32.0);

    // Tile
    p.setPen(QPen(QColor(0, 40, 100), 1));
    p.setBrush(QColor(20, 90, 170));
    p.drawRoundedRect(QRectF(1.5, 1.5, 29, 29), 5, 5);

    // D-shaped connector shell with two rows of pins, as on a DE-9 plug
    QPainterPath shell;
    shell.moveTo(5, 10);
    shell.lineTo(27, 10);
    shell.lineTo(24.5, 21);
    shell.lineTo(7.5, 21);
    shell.closeSubpath();
    p.setPen(QPen(QColor(40, 40, 40), 1));
    p.setBrush(QColor(225, 228, 232));
    p.drawPath(shell);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(200, 150, 20));
    for (int i = 0; i < 5; ++i)
        p.drawEllipse(QPointF(8.6 + i * 3.7, 13.5), 1.3, 1.3);
    for (int i = 0; i < 4; ++i)
        p.drawEllipse(QPointF(10.4 + i * 3.7, 17.5), 1.3, 1.3);

    // Data leaving the plug
    p.setPen(QPen(QColor(255, 255, 255), 1.6, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(8, 25.5), QPointF(12, 25.5));
    p.drawLine(QPointF(14, 25.5), QPointF(18, 25.5));
    p.drawLine(QPointF(20, 25.5), QPointF(24, 25.5));
    p.drawLine(QPointF(11, 5.5), QPointF(21, 5.5));
    return pixmap;
}

QIcon PortlarkIcon()
{
    QIcon icon;
    icon.addPixmap(PortlarkIconPixmap(16));
    icon.addPixmap(PortlarkIconPixmap(32));
    icon.addPixmap(PortlarkIconPixmap(64));
    return icon;
}
