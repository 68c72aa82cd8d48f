#pragma once

#include "DisplayList.h"

#include <QWidget>

class QPainter;

// The oscilloscope's plot area (VB picture box `Graph1`): paints a DisplayList scaled to its
// size on a black background. It only paints; what to draw comes from the caller.
class GraphSurface final : public QWidget {
    Q_OBJECT

public:
    explicit GraphSurface(QWidget *parent = nullptr);

    void setDisplayList(const DisplayList &list);
    const DisplayList &displayList() const { return m_list; }

    // Paints `list` onto a surface of `size` pixels (background not included).
    static void paintDisplayList(QPainter &painter, const DisplayList &list, QSize size);

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    DisplayList m_list;
};
