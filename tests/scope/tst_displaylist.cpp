#include "DisplayList.h"

#include <QTest>

class TstDisplayList : public QObject
{
    Q_OBJECT

private slots:
    void mapping_data();
    void mapping();
    void degenerateAxisMapsToMiddle();
    void pointAndLineToMoveCurrentPosition();
    void itemsKeepScaleAndColourOfTheirTime();
    void clearDropsItemsAndResetsPosition();
};

void TstDisplayList::mapping_data()
{
    QTest::addColumn<double>("x1");
    QTest::addColumn<double>("y1");
    QTest::addColumn<double>("x2");
    QTest::addColumn<double>("y2");
    QTest::addColumn<QSize>("size");
    QTest::addColumn<QPointF>("user");
    QTest::addColumn<QPointF>("expected");

    const QSize s(101, 51);
    // Corners land on the centres of the corner pixels.
    QTest::newRow("y-down top-left")
            << 0.0 << 0.0 << 100.0 << 50.0 << s << QPointF(0, 0) << QPointF(0.5, 0.5);
    QTest::newRow("y-down bottom-right")
            << 0.0 << 0.0 << 100.0 << 50.0 << s << QPointF(100, 50) << QPointF(100.5, 50.5);
    QTest::newRow("y-down inside")
            << 0.0 << 0.0 << 100.0 << 50.0 << s << QPointF(10, 20) << QPointF(10.5, 20.5);
    // The oscilloscope's scale: (0, R) top-left, (255, 0) bottom-right; y grows upward.
    QTest::newRow("y-up bottom-left") << 0.0 << 400.0 << 255.0 << 0.0 << QSize(256, 401)
                                      << QPointF(0, 0) << QPointF(0.5, 400.5);
    QTest::newRow("y-up top-right") << 0.0 << 400.0 << 255.0 << 0.0 << QSize(256, 401)
                                    << QPointF(255, 400) << QPointF(255.5, 0.5);
    QTest::newRow("y-up middle") << 0.0 << 400.0 << 255.0 << 0.0 << QSize(256, 401)
                                 << QPointF(100, 100) << QPointF(100.5, 300.5);
    // Scaling: user units need not be pixels.
    QTest::newRow("stretch") << 0.0 << 0.0 << 10.0 << 10.0 << QSize(21, 11) << QPointF(5, 5)
                             << QPointF(10.5, 5.5);
    QTest::newRow("offset origin") << -50.0 << 10.0 << 50.0 << -10.0 << QSize(101, 21)
                                   << QPointF(0, 0) << QPointF(50.5, 10.5);
    // Outside the scale maps outside the surface, not clamped.
    QTest::newRow("left of scale")
            << 0.0 << 0.0 << 100.0 << 50.0 << s << QPointF(-256, 0) << QPointF(-255.5, 0.5);
}

void TstDisplayList::mapping()
{
    QFETCH(double, x1);
    QFETCH(double, y1);
    QFETCH(double, x2);
    QFETCH(double, y2);
    QFETCH(QSize, size);
    QFETCH(QPointF, user);
    QFETCH(QPointF, expected);
    const QPointF p = mapToPixels(UserScale { x1, y1, x2, y2 }, user, size);
    QCOMPARE(p.x(), expected.x());
    QCOMPARE(p.y(), expected.y());
}

void TstDisplayList::degenerateAxisMapsToMiddle()
{
    // R = 0 (a flat record) must still draw somewhere sensible.
    const QPointF p = mapToPixels(UserScale { 0, 0, 255, 0 }, QPointF(255, 7), QSize(256, 100));
    QCOMPARE(p.x(), 255.5);
    QCOMPARE(p.y(), 50.0);
    QCOMPARE(mapToPixels(UserScale { 3, 0, 3, 10 }, QPointF(9, 10), QSize(40, 11)).x(), 20.0);
}

void TstDisplayList::pointAndLineToMoveCurrentPosition()
{
    DisplayList list;
    list.lineTo(10, 10); // from the initial position (0, 0)
    list.point(1, 2);
    list.lineTo(4, 6);
    list.lineTo(8, 0);
    QCOMPARE(list.items().size(), 4);
    QCOMPARE(list.items()[0].from, QPointF(0, 0));
    QCOMPARE(list.items()[0].to, QPointF(10, 10));
    QCOMPARE(list.items()[1].kind, DisplayList::Item::Kind::Point);
    QCOMPARE(list.items()[1].from, QPointF(1, 2));
    QCOMPARE(list.items()[2].kind, DisplayList::Item::Kind::Line);
    QCOMPARE(list.items()[2].from, QPointF(1, 2));
    QCOMPARE(list.items()[2].to, QPointF(4, 6));
    QCOMPARE(list.items()[3].from, QPointF(4, 6));
    QCOMPARE(list.items()[3].to, QPointF(8, 0));
    QCOMPARE(list.currentPosition(), QPointF(8, 0));
}

void TstDisplayList::itemsKeepScaleAndColourOfTheirTime()
{
    DisplayList list;
    list.point(1, 1); // before any scale: pixel coordinates
    list.scale(0, 100, 255, 0);
    list.foreColor(0x00000080);
    list.point(0, 0);
    list.scale(0, 10, 10, 0);
    list.foreColor(0x00008080);
    list.lineTo(5, 5);

    QVERIFY(!list.items()[0].scale.has_value());
    QCOMPARE(list.items()[0].color, DisplayList::DefaultColor);
    QCOMPARE(list.items()[1].scale, (UserScale { 0, 100, 255, 0 }));
    QCOMPARE(list.items()[1].color, quint32(0x00000080));
    QCOMPARE(list.items()[2].scale, (UserScale { 0, 10, 10, 0 }));
    QCOMPARE(list.items()[2].color, quint32(0x00008080));
}

void TstDisplayList::clearDropsItemsAndResetsPosition()
{
    DisplayList list;
    list.scale(0, 40, 255, 0);
    list.foreColor(0x00808080);
    list.point(10, 10);
    list.lineTo(20, 20);
    list.clear();
    QVERIFY(list.isEmpty());
    QCOMPARE(list.currentPosition(), QPointF(0, 0));
    // As after VB's Cls, the coordinate system and colour stay.
    QCOMPARE(list.currentScale(), std::optional<UserScale>(UserScale { 0, 40, 255, 0 }));
    QCOMPARE(list.currentColor(), quint32(0x00808080));
}

QTEST_GUILESS_MAIN(TstDisplayList)
#include "tst_displaylist.moc"
