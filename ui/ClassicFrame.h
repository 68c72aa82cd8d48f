#pragma once

#include <QGroupBox>

// A frame drawn as the design expects it: the border runs at the middle of the caption's
// height and the caption interrupts it, so that the client area starts at the frame's top and
// the first row of controls stands inside the border, not on it.
class ClassicFrame final : public QGroupBox {
    Q_OBJECT

public:
    explicit ClassicFrame(QWidget *parent = nullptr) : QGroupBox(parent) { }

    // Where the top edge of the border runs, in pixels from the frame's top.
    int borderTop() const;

protected:
    void paintEvent(QPaintEvent *event) override;
};
