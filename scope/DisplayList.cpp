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

void DisplayList::point(double x, double y)
{
    m_current = QPointF(x, y);
    m_items.append(Item { Item::Kind::Point, m_current, m_current, m_color, m_scale, 255, {}, {} });
}

void DisplayList::lineTo(double x, double y)
{
    const QPointF to(x, y);
    m_items.append(Item { Item::Kind::Line, m_current, to, m_color, m_scale, 255, {}, {} });
    m_current = to;
}

void DisplayList::text(double x, double y, const QString &text, Qt::Alignment align)
{
    m_items.append(Item { Item::Kind::Text, QPointF(x, y), QPointF(x, y), m_color, m_scale, 255,
                          text, align });
}

void DisplayList::append(const DisplayList &other, const UserScale &view, quint8 alpha)
{
    m_items.reserve(m_items.size() + other.m_items.size());
    for (Item item : other.m_items) {
        if (item.scale)
            item.scale = view;
        item.alpha = static_cast<quint8>(item.alpha * alpha / 255);
        m_items.append(item);
    }
}
