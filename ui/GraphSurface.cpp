#include "GraphSurface.h"

#include "VbStyle.h"

#include <QPainter>

#include <cmath>

namespace {

// Far-off points (a degenerate or extreme scale) are pulled in to keep the rasteriser sane;
// anything this far out is off the surface either way.
constexpr double PixelLimit = 1.0e6;

bool toPixels(const DisplayList::Item &item, QPointF user, QSize size, QPointF &out)
{
    const QPointF p = mapToPixels(item.scale.value_or(pixelScale(size)), user, size);
    if (!std::isfinite(p.x()) || !std::isfinite(p.y()))
        return false;
    out = QPointF(qBound(-PixelLimit, p.x(), PixelLimit), qBound(-PixelLimit, p.y(), PixelLimit));
    return true;
}

} // namespace

GraphSurface::GraphSurface(QWidget *parent)
    : QWidget(parent)
{
    setBackColor(this, Qt::black);
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void GraphSurface::setDisplayList(const DisplayList &list)
{
    m_list = list;
    update();
}

void GraphSurface::paintDisplayList(QPainter &painter, const DisplayList &list, QSize size)
{
    // Aliased one-pixel strokes, as the original plot had; mapped points sit on pixel
    // centres, so each lands on exactly one pixel.
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing, false);
    painter.setBrush(Qt::NoBrush);
    for (const DisplayList::Item &item : list.items()) {
        QPointF from;
        QPointF to;
        if (!toPixels(item, item.from, size, from) || !toPixels(item, item.to, size, to))
            continue;
        painter.setPen(QPen(vbColor(item.color), 1, Qt::SolidLine, Qt::SquareCap));
        if (item.kind == DisplayList::Item::Kind::Point)
            painter.drawPoint(from);
        else
            painter.drawLine(from, to);
    }
    painter.restore();
}

void GraphSurface::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.fillRect(rect(), palette().color(QPalette::Window));
    paintDisplayList(painter, m_list, size());
}
