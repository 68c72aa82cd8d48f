#include "LineShape.h"

#include "VbStyle.h"

#include <QPainter>

LineShape::LineShape(QWidget *parent) : QWidget(parent)
{
    setAttribute(Qt::WA_TransparentForMouseEvents);
}

QLine LineShape::linePixels() const
{
    return QLine(twips(m_twips.x1()), twips(m_twips.y1()), twips(m_twips.x2()),
                 twips(m_twips.y2()));
}

void LineShape::setLine(int x1, int y1, int x2, int y2)
{
    m_twips = QLine(x1, y1, x2, y2);
    const QLine px = linePixels();
    // The bounding box of both end points, end pixels included.
    setGeometry(QRect(QPoint(qMin(px.x1(), px.x2()), qMin(px.y1(), px.y2())),
                      QPoint(qMax(px.x1(), px.x2()), qMax(px.y1(), px.y2()))));
    update();
}

void LineShape::setLineColor(const QColor &color)
{
    m_color = color;
    update();
}

void LineShape::paintEvent(QPaintEvent *)
{
    const QLine px = linePixels().translated(-pos());
    QPainter painter(this);
    painter.setPen(QPen(m_color, 0, Qt::SolidLine, Qt::SquareCap)); // end pixels included
    if (px.p1() == px.p2())
        painter.drawPoint(px.p1());
    else
        painter.drawLine(px);
}
