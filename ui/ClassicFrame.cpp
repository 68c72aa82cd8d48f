#include "ClassicFrame.h"

#include <QPainter>
#include <QStyle>

namespace {
// Caption inset from the frame's left edge, and the gap left in the border on either side.
constexpr int CaptionLeft = 8;
constexpr int CaptionGap = 2;
} // namespace

int ClassicFrame::borderTop() const
{
    return fontMetrics().height() / 2;
}

void ClassicFrame::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    const int top = borderTop();
    const int right = width() - 1;
    const int bottom = height() - 1;
    // An etched line: shadow outside, light inside.
    painter.setPen(palette().color(QPalette::Dark));
    // A one-pixel outline of QRect(x, y, w, h) covers x .. x + w: the shadow ends one pixel
    // inside the light line on the right and at the bottom.
    painter.drawRect(QRect(0, top, right - 1, bottom - 1 - top));
    painter.setPen(palette().color(QPalette::Light));
    painter.drawLine(1, top + 1, right - 2, top + 1);
    painter.drawLine(1, top + 1, 1, bottom - 2);
    painter.drawLine(0, bottom, right, bottom);
    painter.drawLine(right, top, right, bottom);

    if (title().isEmpty())
        return;
    const int textWidth = fontMetrics().horizontalAdvance(title());
    const QRect textRect(CaptionLeft, 0, textWidth, fontMetrics().height());
    painter.fillRect(textRect.adjusted(-CaptionGap, 0, CaptionGap, 0),
                     palette().color(QPalette::Window));
    style()->drawItemText(&painter, textRect, Qt::AlignLeft | Qt::AlignTop, palette(), isEnabled(),
                          title(), QPalette::WindowText);
}
