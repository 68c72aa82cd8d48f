#pragma once

#include "DisplayList.h"

#include <QWidget>

#include <optional>

class QPainter;

// The oscilloscope's plot area (VB picture box `Graph1`): paints a DisplayList scaled to its
// size on a black background. It only paints; what to draw comes from the caller.
class GraphSurface final : public QWidget {
    Q_OBJECT

public:
    explicit GraphSurface(QWidget *parent = nullptr);

    void setDisplayList(const DisplayList &list);
    const DisplayList &displayList() const { return m_list; }

    // Paints `list` onto a surface of `size` pixels (background not included). With a view,
    // what was drawn in user coordinates is seen through it instead of its own scale (a zoom,
    // or a record on another time base); an alpha below 255 dims it over what lies beneath.
    static void paintDisplayList(QPainter &painter, const DisplayList &list, QSize size,
                                 const std::optional<UserScale> &view = std::nullopt,
                                 quint8 alpha = 255);

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    DisplayList m_list;
};
