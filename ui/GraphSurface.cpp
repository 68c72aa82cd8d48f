#include "GraphSurface.h"

#include "VbStyle.h"

#include <QFontMetricsF>
#include <QPainter>

#include <cmath>

namespace {

constexpr double PixelLimit = 1.0e6;

// The pixel whose square holds the mapped point. Far-off points (an extreme or degenerate
// scale) are pulled in to keep the rasteriser sane; that far out they are off the surface.
bool toPixel(const std::optional<UserScale> &scale, QPointF user, QSize size, QPoint &out)
{
    const QPointF p = mapToPixels(scale.value_or(pixelScale(size)), user, size);
    if (!std::isfinite(p.x()) || !std::isfinite(p.y()))
        return false;
    out = QPoint(int(std::floor(qBound(-PixelLimit, p.x(), PixelLimit))),
                 int(std::floor(qBound(-PixelLimit, p.y(), PixelLimit))));
    return true;
}

void drawAnchoredText(QPainter &painter, QPoint anchor, const QString &text, Qt::Alignment align)
{
    const QFontMetricsF metrics(painter.font());
    const double w = metrics.horizontalAdvance(text);
    const double h = metrics.height();
    double x = anchor.x();
    if (align & Qt::AlignRight)
        x -= w;
    else if (align & Qt::AlignHCenter)
        x -= w / 2;
    double y = anchor.y();
    if (align & Qt::AlignBottom)
        y -= h;
    else if (align & Qt::AlignVCenter)
        y -= h / 2;
    painter.drawText(QRectF(x, y, w + 1, h), Qt::AlignLeft | Qt::AlignTop, text);
}

} // namespace

GraphSurface::GraphSurface(QWidget *parent) : QWidget(parent)
{
    setBackColor(this, Qt::black);
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void GraphSurface::setDisplayList(const DisplayList &list)
{
    m_list = list;
    update();
}

void GraphSurface::paintDisplayList(QPainter &painter, const DisplayList &list, QSize size,
                                    const std::optional<UserScale> &view, quint8 alpha)
{
    // Aliased one-pixel strokes between whole pixels, end pixels included, as the original
    // plot had.
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing, false);
    painter.setBrush(Qt::NoBrush);
    for (const DisplayList::Item &item : list.items()) {
        const std::optional<UserScale> &scale = item.scale && view ? view : item.scale;
        QPoint from;
        QPoint to;
        if (!toPixel(scale, item.from, size, from) || !toPixel(scale, item.to, size, to))
            continue;
        QColor color = vbColor(item.color);
        color.setAlpha(alpha);
        painter.setPen(QPen(color, 0, Qt::SolidLine, Qt::SquareCap));
        if (item.kind == DisplayList::Item::Kind::Text)
            drawAnchoredText(painter, from, list.texts().value(item.text), item.align);
        else if (item.kind == DisplayList::Item::Kind::Point)
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
