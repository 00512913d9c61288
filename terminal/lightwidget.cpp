#include "lightwidget.h"

#include <QPainter>

LightWidget::LightWidget(QWidget *parent)
    : QWidget(parent)
{}

void LightWidget::setFillColor(int colorValue)
{
    m_fillColor = colorValue;
    update();
}

void LightWidget::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QColor fill(m_fillColor & 0xFF, (m_fillColor >> 8) & 0xFF, (m_fillColor >> 16) & 0xFF);
    painter.setPen(QPen(Qt::black, 1));
    painter.setBrush(fill);
    painter.drawEllipse(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5));
}
