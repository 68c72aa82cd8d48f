#pragma once

#include <QList>
#include <QPointF>
#include <QSize>
#include <QString>
#include <QStringList>
#include <QtGlobal>
#include <qnamespace.h>

#include <optional>

// A user coordinate system as VB's Scale sets it: (left, top) is the top-left corner,
// (right, bottom) the bottom-right. Either axis may run backwards (y grows upward when
// top > bottom).
struct UserScale {
    double left = 0;
    double top = 0;
    double right = 0;
    double bottom = 0;

    friend bool operator==(const UserScale &a, const UserScale &b)
    {
        return a.left == b.left && a.top == b.top && a.right == b.right && a.bottom == b.bottom;
    }
    friend bool operator!=(const UserScale &a, const UserScale &b) { return !(a == b); }
};

// Maps a user point onto a surface of `pixels` size, in QPainter coordinates: the scale's
// corners land on the centres of the corner pixels, so everything from left to right and
// top to bottom is visible. An axis of zero extent maps to the middle of the surface.
QPointF mapToPixels(const UserScale &scale, QPointF user, QSize pixels);

// The inverse: the user point under a pixel position.
QPointF mapFromPixels(const UserScale &scale, QPointF pixel, QSize pixels);

// The scale in force before any scale() call: pixel coordinates, (0,0) the top-left pixel.
UserScale pixelScale(QSize pixels);

// What a drawing surface shows, recorded with VB's picture-box primitives (Cls, Scale,
// ForeColor, PSet, Line -(x, y)). Each primitive keeps the scale and colour in force when
// it was recorded, as drawing on the surface would; the surface maps them at paint time.
class DisplayList final {
public:
    // Kept as small as before labels came (texts live beside the items): a plot's list is
    // built anew for every capture, and a bigger one crosses the allocator's threshold for
    // mapping fresh pages.
    struct Item {
        enum class Kind : quint8 { Point, Line, Text };
        Kind kind = Kind::Point;
        quint32 color = 0; // &H00BBGGRR&
        QPointF from; // the point itself for Kind::Point, the text's anchor for Kind::Text
        QPointF to;
        std::optional<UserScale> scale; // none: pixel coordinates
        int text = -1; // Kind::Text: its index in texts()
        Qt::Alignment align; // which side of the text the anchor is on

        friend bool operator==(const Item &a, const Item &b)
        {
            return a.kind == b.kind && a.color == b.color && a.from == b.from && a.to == b.to
                && a.scale == b.scale && a.text == b.text && a.align == b.align;
        }
    };

    static constexpr quint32 DefaultColor = 0x00FFFFFF; // white, visible on black

    // Drops everything drawn and moves the current position to (0, 0); the scale and the
    // colour stay, as after VB's Cls.
    void clear();
    void scale(double x1, double y1, double x2, double y2);
    void foreColor(quint32 bgr);
    // A dot at (x, y) in the current colour; (x, y) becomes the current position.
    void point(double x, double y);
    // A line from the current position to (x, y), which becomes the current position.
    void lineTo(double x, double y);
    // A label anchored at (x, y): align says where the anchor sits on the text (AlignLeft:
    // the text starts there; AlignBottom: it stands on it). The position does not move.
    void text(double x, double y, const QString &text, Qt::Alignment align);

    const QList<Item> &items() const { return m_items; }
    const QStringList &texts() const { return m_texts; }
    bool isEmpty() const { return m_items.isEmpty(); }
    QPointF currentPosition() const { return m_current; }
    quint32 currentColor() const { return m_color; }
    std::optional<UserScale> currentScale() const { return m_scale; }

    friend bool operator==(const DisplayList &a, const DisplayList &b)
    {
        return a.m_items == b.m_items && a.m_texts == b.m_texts && a.m_current == b.m_current
            && a.m_color == b.m_color && a.m_scale == b.m_scale;
    }
    friend bool operator!=(const DisplayList &a, const DisplayList &b) { return !(a == b); }

private:
    void add(Item::Kind kind, QPointF from, QPointF to);

    QList<Item> m_items;
    QStringList m_texts;
    QPointF m_current;
    quint32 m_color = DefaultColor;
    std::optional<UserScale> m_scale;
};
