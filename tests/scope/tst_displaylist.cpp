#include "DisplayList.h"

#include <QLineF>
#include <QTest>

class TstDisplayList final : public QObject {
    Q_OBJECT

private slots:
    void mapping_data()
    {
        QTest::addColumn<QLineF>("corners"); // (left, top) to (right, bottom) in user units
        QTest::addColumn<QSize>("size");
        QTest::addColumn<QPointF>("user");
        QTest::addColumn<QPointF>("pixel");
        const auto row
            = [](const char *name, QLineF corners, QSize size, QPointF user, QPointF pixel) {
                  QTest::newRow(name) << corners << size << user << pixel;
              };
        // The corners land on the centres of the corner pixels.
        row("y-down bottom-right", { 0, 0, 100, 50 }, { 101, 51 }, { 100, 50 }, { 100.5, 50.5 });
        // The oscilloscope's scale: y grows upward.
        row("y-up inside", { 0, 400, 255, 0 }, { 256, 401 }, { 100, 100 }, { 100.5, 300.5 });
        row("stretched, offset", { -50, 10, 50, -10 }, { 201, 21 }, { 0, 0 }, { 100.5, 10.5 });
        // A flat record (R = 0) must still draw, across the middle.
        row("zero height", { 0, 0, 255, 0 }, { 256, 100 }, { 255, 7 }, { 255.5, 50 });
        row("zero width", { 3, 0, 3, 10 }, { 40, 11 }, { 9, 10 }, { 20, 10.5 });
        // Outside the scale maps outside the surface, not clamped.
        row("left of scale", { 0, 0, 100, 50 }, { 101, 51 }, { -256, 0 }, { -255.5, 0.5 });
    }
    void mapping()
    {
        QFETCH(QLineF, corners);
        QFETCH(QSize, size);
        QFETCH(QPointF, user);
        QFETCH(QPointF, pixel);
        const UserScale scale { corners.x1(), corners.y1(), corners.x2(), corners.y2() };
        QCOMPARE(mapToPixels(scale, user, size), pixel);
        // In pixel units, each unit is the centre of its own pixel.
        QCOMPARE(mapToPixels(pixelScale(size), QPointF(3, 4), size), QPointF(3.5, 4.5));
    }

    // A surface repaints only when its list changed: lists that differ in one field are unequal.
    void equality_data()
    {
        QTest::addColumn<quint32>("itemColor");
        QTest::addColumn<QString>("label");
        QTest::addColumn<quint32>("colorAfter");
        QTest::addColumn<bool>("scaleAfter");
        QTest::addColumn<bool>("equal");
        QTest::newRow("same") << 1u << "a" << 1u << false << true;
        QTest::newRow("an item's colour") << 2u << "a" << 1u << false << false;
        QTest::newRow("a label") << 1u << "b" << 1u << false << false;
        QTest::newRow("colour in force") << 1u << "a" << 2u << false << false;
        QTest::newRow("scale in force") << 1u << "a" << 1u << true << false;
    }
    void equality()
    {
        QFETCH(quint32, itemColor);
        QFETCH(QString, label);
        QFETCH(quint32, colorAfter);
        QFETCH(bool, scaleAfter);
        QFETCH(bool, equal);
        const auto draw = [](quint32 color, const QString &text, quint32 after, bool scale) {
            DisplayList g;
            g.foreColor(color);
            g.text(0, 0, text, Qt::AlignLeft);
            g.point(1, 1);
            g.foreColor(after);
            if (scale)
                g.scale(0, 0, 1, 1);
            return g;
        };
        const DisplayList a = draw(1, QStringLiteral("a"), 1, false);
        const DisplayList b = draw(itemColor, label, colorAfter, scaleAfter);
        QCOMPARE(a == b, equal);
        QCOMPARE(a != b, !equal);
    }
};

QTEST_GUILESS_MAIN(TstDisplayList)
#include "tst_displaylist.moc"
