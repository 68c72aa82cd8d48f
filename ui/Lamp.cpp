#include "Lamp.h"

#include <QPainter>

Lamp::Lamp(QWidget *parent) : QWidget(parent)
{
    // Display only: clicks go to whatever lies beneath, as on a VB shape.
    setAttribute(Qt::WA_TransparentForMouseEvents);
}

void Lamp::setFillColor(const QColor &color)
{
    if (color == m_fillColor)
        return;
    m_fillColor = color;
    update();
}

void Lamp::paintEvent(QPaintEvent *)
{
    const int diameter = qMin(width(), height());
    if (diameter <= 0)
        return;
    // Half a pixel in so the 1-pixel outline falls on whole pixels inside the widget.
    const QRectF circle((width() - diameter) / 2.0 + 0.5, (height() - diameter) / 2.0 + 0.5,
                        diameter - 1.0, diameter - 1.0);
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(QColor(32, 32, 32), 1.0));
    painter.setBrush(m_fillColor);
    painter.drawEllipse(circle);
}
