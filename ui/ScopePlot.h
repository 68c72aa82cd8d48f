#pragma once

#include "ScopeView.h"

#include <QWidget>

#include <optional>

// The scope window's plot: a record (and a dimmed reference) through the same display list
// as Graph1, scaled to the widget, with axes, a cursor following the mouse, cursors A and B
// and the zoom. It keeps the zoom and the cursors when the record changes.
class ScopePlot final : public QWidget {
    Q_OBJECT

public:
    explicit ScopePlot(QWidget *parent = nullptr);

    // The reference is drawn referenceShiftMs later than recorded.
    void setRecords(const std::optional<ScopeRecord> &now,
                    const std::optional<ScopeRecord> &reference, double referenceShiftMs,
                    const std::optional<StepFigures> &figures);

    const ScopeZoom &zoom() const { return m_zoom; }
    const ScopeMarks &marks() const { return m_marks; }
    void resetZoom();
    // The value axis fitted to the traces (the time axis as it was).
    void fitValues();
    void clearCursors();

    // Paints everything onto `painter`, `size` pixels (also for an image of any size).
    void paintTo(QPainter &painter, QSize size) const;

signals:
    // The mouse cursor, A or B moved, or the record changed under them.
    void marksChanged();

protected:
    void paintEvent(QPaintEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;
    void wheelEvent(QWheelEvent *event) override;
    void leaveEvent(QEvent *event) override;

private:
    QRect plotRect(QSize size) const;
    // All of the record and the reference; what the zoom is a part of.
    DataRect full() const;
    DataRect view() const;
    // The time and value under a widget position.
    QPointF dataAt(QPointF pos) const;
    DataRect dragRect(QPointF to, Qt::KeyboardModifiers modifiers) const;

    std::optional<ScopeRecord> m_now;
    std::optional<ScopeRecord> m_reference;
    double m_referenceShiftMs = 0;
    std::optional<StepFigures> m_figures;
    // Their display lists, built once for each record rather than at every repaint.
    DisplayList m_recordList;
    DisplayList m_referenceList;
    ScopeZoom m_zoom;
    ScopeMarks m_marks;
    // The marks before the last press's click placed a cursor; none after any other press.
    std::optional<ScopeMarks> m_marksBeforeClick;
    std::optional<QPointF> m_pressedAt;
    bool m_nextIsB = false;
    bool m_ignoreRelease = false;
};
