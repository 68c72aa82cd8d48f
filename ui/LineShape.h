#pragma once

#include <QColor>
#include <QLine>
#include <QWidget>

// A VB Line control: one straight line between two points given in twips of its container.
// The widget covers just the line's bounding box and lets clicks through.
class LineShape final : public QWidget {
    Q_OBJECT

public:
    explicit LineShape(QWidget *parent = nullptr);

    // End points in twips of the parent; moves and sizes the widget to fit.
    void setLine(int x1, int y1, int x2, int y2);
    QLine lineTwips() const { return m_twips; }
    // End points in pixels of the parent.
    QLine linePixels() const;

    void setLineColor(const QColor &color);
    QColor lineColor() const { return m_color; }

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QLine m_twips;
    QColor m_color { Qt::black };
};
