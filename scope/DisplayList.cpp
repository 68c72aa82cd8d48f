#include "DisplayList.h"

#include <cmath>

namespace {

// One axis: `from` to `to` onto pixel centres 0.5 .. extent - 0.5.
double mapAxis(double value, double from, double to, int extent)
{
    if (extent <= 0)
        return 0;
    if (from == to)
        return extent / 2.0;
    return 0.5 + (value - from) / (to - from) * (extent - 1);
}

} // namespace

QPointF mapToPixels(const UserScale &scale, QPointF user, QSize pixels)
{
    return QPointF(mapAxis(user.x(), scale.left, scale.right, pixels.width()),
                   mapAxis(user.y(), scale.top, scale.bottom, pixels.height()));
}

QPointF mapFromPixels(const UserScale &scale, QPointF pixel, QSize pixels)
{
    const auto unmap = [](double p, double from, double to, int extent) {
        return extent > 1 ? from + (p - 0.5) / (extent - 1) * (to - from) : from;
    };
    return QPointF(unmap(pixel.x(), scale.left, scale.right, pixels.width()),
                   unmap(pixel.y(), scale.top, scale.bottom, pixels.height()));
}

UserScale pixelScale(QSize pixels)
{
    return UserScale { 0, 0, double(qMax(0, pixels.width() - 1)),
                       double(qMax(0, pixels.height() - 1)) };
}

void DisplayList::clear()
{
    m_items.clear();
    m_texts.clear();
    m_current = QPointF();
}

void DisplayList::scale(double x1, double y1, double x2, double y2)
{
    m_scale = UserScale { x1, y1, x2, y2 };
}

void DisplayList::foreColor(quint32 bgr)
{
    m_color = bgr & 0x00FFFFFF;
}

void DisplayList::add(Item::Kind kind, QPointF from, QPointF to)
{
    Item item;
    item.kind = kind;
    item.color = m_color;
    item.from = from;
    item.to = to;
    item.scale = m_scale;
    m_items.append(item);
}

void DisplayList::point(double x, double y)
{
    m_current = QPointF(x, y);
    add(Item::Kind::Point, m_current, m_current);
}

void DisplayList::lineTo(double x, double y)
{
    const QPointF to(x, y);
    add(Item::Kind::Line, m_current, to);
    m_current = to;
}

void DisplayList::text(double x, double y, const QString &text, Qt::Alignment align)
{
    add(Item::Kind::Text, QPointF(x, y), QPointF(x, y));
    m_items.last().text = int(m_texts.size());
    m_items.last().align = align;
    m_texts.append(text);
}
