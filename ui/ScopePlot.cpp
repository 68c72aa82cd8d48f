#include "ScopePlot.h"

#include "GraphSurface.h"

#include <QFontMetricsF>
#include <QMouseEvent>
#include <QPainter>
#include <QWheelEvent>

#include <cmath>
#include <utility>

namespace {

// Drags shorter than this are clicks.
constexpr int DragPixels = 4;

bool valuesToo(Qt::KeyboardModifiers modifiers)
{
    return modifiers & (Qt::ShiftModifier | Qt::ControlModifier);
}

} // namespace

ScopePlot::ScopePlot(QWidget *parent) : QWidget(parent)
{
    setAttribute(Qt::WA_OpaquePaintEvent);
    setMouseTracking(true);
    setMinimumSize(320, 200);
    setCursor(Qt::CrossCursor);
}

void ScopePlot::setRecords(const std::optional<ScopeRecord> &now,
                           const std::optional<ScopeRecord> &reference, double referenceShiftMs,
                           const std::optional<StepFigures> &figures)
{
    m_now = now;
    m_reference = reference;
    m_referenceShiftMs = referenceShiftMs;
    // The grid is the window's own, at the values and times it labels.
    m_recordList = now ? plotRecord(now->record, now->shape, now->range, false) : DisplayList();
    m_referenceList = reference
        ? plotRecord(reference->record, reference->shape, reference->range, false)
        : DisplayList();
    m_figures = figures;
    update();
    emit marksChanged();
}

void ScopePlot::resetZoom()
{
    m_zoom = ScopeZoom();
    update();
}

void ScopePlot::fitValues()
{
    if (!m_now)
        return;
    const auto span = tracesSpan(*m_now, m_reference ? &*m_reference : nullptr);
    if (!span)
        return;
    const DataRect all = full();
    const DataRect shown = view();
    m_zoom.zoomTo({ shown.t0, shown.t1, span->first, span->second }, true, all);
    if (!(shown.t0 > all.t0 || shown.t1 < all.t1))
        m_zoom.time.reset();
    update();
}

void ScopePlot::clearCursors()
{
    m_marks.aMs.reset();
    m_marks.bMs.reset();
    m_nextIsB = false;
    update();
    emit marksChanged();
}

QRect ScopePlot::plotRect(QSize size) const
{
    const QFontMetrics m(font());
    const int left = m.horizontalAdvance(QStringLiteral("-00000000")) + 10;
    const int right = m.horizontalAdvance(QStringLiteral("0000")) / 2 + 6;
    const int top = m.height() + 6; // a line for the value axis's unit
    const int bottom = m.height() + 10;
    return QRect(QPoint(left, top), size).adjusted(0, 0, -left - right, -top - bottom);
}

DataRect ScopePlot::full() const
{
    return fullView(*m_now, m_reference ? &*m_reference : nullptr, m_referenceShiftMs);
}

DataRect ScopePlot::view() const
{
    return m_zoom.visible(full());
}

QPointF ScopePlot::dataAt(QPointF pos) const
{
    const QRect r = plotRect(size());
    const DataRect v = view();
    return mapFromPixels(UserScale { v.t0, v.v1, v.t1, v.v0 },
                         pos + QPointF(0.5, 0.5) - QPointF(r.topLeft()), r.size());
}

DataRect ScopePlot::dragRect(QPointF to, Qt::KeyboardModifiers modifiers) const
{
    const QPointF a = dataAt(*m_pressedAt);
    const QPointF b = dataAt(to);
    const DataRect v = view();
    if (valuesToo(modifiers))
        return DataRect { a.x(), b.x(), a.y(), b.y() };
    return DataRect { a.x(), b.x(), v.v0, v.v1 };
}

void ScopePlot::paintTo(QPainter &painter, QSize size) const
{
    painter.fillRect(QRect(QPoint(), size), Qt::black);
    painter.setFont(font());
    if (!m_now) {
        painter.setPen(QColor(192, 192, 192));
        painter.drawText(QRect(QPoint(), size), Qt::AlignCenter,
                         QStringLiteral("No capture yet: start the oscilloscope in the main "
                                        "window."));
        return;
    }
    const QRect r = plotRect(size);
    const QFontMetricsF metrics(font());
    const ScopePicture picture
        = scopePicture(*m_now, m_reference ? &*m_reference : nullptr, m_referenceShiftMs, view(),
                       m_figures ? &*m_figures : nullptr, m_marks, r,
                       QSizeF(metrics.horizontalAdvance(QLatin1Char('0')), metrics.height()));
    painter.save();
    painter.translate(r.topLeft());
    painter.setClipRect(QRect(QPoint(), r.size()));
    GraphSurface::paintDisplayList(painter, picture.grid, r.size());
    GraphSurface::paintDisplayList(painter, m_referenceList, r.size(), picture.referenceView,
                                   ScopeColor::ReferenceAlpha);
    GraphSurface::paintDisplayList(painter, m_recordList, r.size(), picture.recordView);
    GraphSurface::paintDisplayList(painter, picture.marks, r.size());
    painter.restore();
    GraphSurface::paintDisplayList(painter, picture.frame, size);
}

void ScopePlot::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    paintTo(painter, size());
}

void ScopePlot::mousePressEvent(QMouseEvent *event)
{
    // Only the click that this press begins may be taken back by a double-click.
    m_marksBeforeClick.reset();
    if (event->button() == Qt::LeftButton && m_now)
        m_pressedAt = event->position();
}

void ScopePlot::mouseMoveEvent(QMouseEvent *event)
{
    if (!m_now)
        return;
    const QPointF pos = event->position();
    if (plotRect(size()).contains(pos.toPoint()))
        m_marks.cursorMs = dataAt(pos).x();
    else
        m_marks.cursorMs.reset();
    if (m_pressedAt && (pos - *m_pressedAt).manhattanLength() > DragPixels)
        m_marks.dragged = dragRect(pos, event->modifiers());
    update();
    emit marksChanged();
}

void ScopePlot::mouseReleaseEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton || !m_pressedAt)
        return;
    const QPointF pos = event->position();
    if (m_ignoreRelease) {
        m_ignoreRelease = false;
    } else if (m_marks.dragged) {
        const bool values = valuesToo(event->modifiers());
        m_zoom.zoomTo(dragRect(pos, event->modifiers()), values, full());
    } else if (plotRect(size()).contains(pos.toPoint())) {
        m_marksBeforeClick = m_marks;
        (m_nextIsB ? m_marks.bMs : m_marks.aMs) = dataAt(pos).x();
        m_nextIsB = !m_nextIsB;
    }
    m_marks.dragged.reset();
    m_pressedAt.reset();
    update();
    emit marksChanged();
}

void ScopePlot::mouseDoubleClickEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton || !m_now)
        return;
    // The first click of the pair placed a cursor: take it back.
    if (m_marksBeforeClick) {
        const std::optional<double> cursor = m_marks.cursorMs;
        m_marks = *std::exchange(m_marksBeforeClick, std::nullopt);
        m_marks.cursorMs = cursor;
        m_nextIsB = !m_nextIsB;
    }
    m_ignoreRelease = true;
    m_pressedAt = event->position();
    resetZoom();
    emit marksChanged();
}

void ScopePlot::wheelEvent(QWheelEvent *event)
{
    if (!m_now || event->angleDelta().y() == 0)
        return;
    const QPointF at = dataAt(event->position());
    const double factor = std::pow(0.8, event->angleDelta().y() / 120.0);
    m_zoom.zoomAround(at.x(), at.y(), factor, valuesToo(event->modifiers()), full());
    update();
    event->accept();
}

void ScopePlot::leaveEvent(QEvent *)
{
    m_marks.cursorMs.reset();
    update();
    emit marksChanged();
}
