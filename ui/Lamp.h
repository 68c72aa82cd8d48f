#pragma once

#include <QColor>
#include <QWidget>

// A round lamp like a VB Shape (circle, solid fill): a filled circle whose diameter is the
// smaller of the widget's width and height, centred, with a thin dark border.
class Lamp final : public QWidget {
    Q_OBJECT

public:
    explicit Lamp(QWidget *parent = nullptr);

    void setFillColor(const QColor &color);
    QColor fillColor() const { return m_fillColor; }

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QColor m_fillColor { 0, 255, 0 };
};
