#include "GraphSurface.h"
#include "VbStyle.h"

#include <QTest>

class TstGraphSurface : public QObject
{
    Q_OBJECT

private slots:
    void lineInYDownScale();
    void lineInYUpScale();
    void oscilloscopeGridOnGraph1Size();
    void replacingListRepaints();
    void farOffPointsDoNotBreakPainting();
};

static QImage render(GraphSurface &surface)
{
    return surface.grab().toImage().convertToFormat(QImage::Format_RGB32);
}

static int countColor(const QImage &image, const QColor &color)
{
    int n = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            n += image.pixelColor(x, y) == color;
    return n;
}

void TstGraphSurface::lineInYDownScale()
{
    GraphSurface surface;
    surface.resize(101, 51);
    DisplayList list;
    list.scale(0, 0, 100, 50);
    list.foreColor(0x000000FF);
    list.point(10, 20);
    list.lineTo(90, 20);
    surface.setDisplayList(list);
    const QImage image = render(surface);
    for (int x = 10; x <= 90; ++x)
        QCOMPARE(image.pixelColor(x, 20), QColor(255, 0, 0));
    QCOMPARE(image.pixelColor(9, 20), QColor(Qt::black));
    QCOMPARE(image.pixelColor(91, 20), QColor(Qt::black));
    QCOMPARE(image.pixelColor(50, 19), QColor(Qt::black));
    QCOMPARE(image.pixelColor(50, 21), QColor(Qt::black));
    QCOMPARE(countColor(image, QColor(255, 0, 0)), 81);
}

void TstGraphSurface::lineInYUpScale()
{
    // The oscilloscope's kind of scale: (0, R) top-left, (255, 0) bottom-right.
    GraphSurface surface;
    surface.resize(256, 101);
    DisplayList list;
    list.scale(0, 100, 255, 0);
    list.foreColor(0x00808080);
    list.point(0, 10);
    list.lineTo(255, 10); // 10 above the bottom edge
    list.foreColor(0x00FFFFFF);
    list.point(51, 0);
    list.lineTo(51, 100); // full-height vertical
    surface.setDisplayList(list);
    const QImage image = render(surface);
    QCOMPARE(image.pixelColor(0, 90), QColor(128, 128, 128));
    QCOMPARE(image.pixelColor(255, 90), QColor(128, 128, 128));
    QCOMPARE(image.pixelColor(200, 89), QColor(Qt::black));
    QCOMPARE(image.pixelColor(200, 91), QColor(Qt::black));
    QCOMPARE(image.pixelColor(51, 0), QColor(Qt::white));
    QCOMPARE(image.pixelColor(51, 100), QColor(Qt::white));
    QCOMPARE(image.pixelColor(50, 50), QColor(Qt::black));
    QCOMPARE(image.pixelColor(52, 50), QColor(Qt::black));
}

void TstGraphSurface::oscilloscopeGridOnGraph1Size()
{
    // Graph1 is 10000 x 3200 twips; the scope draws its scale's corners and grid.
    GraphSurface surface;
    surface.resize(twipsRect(0, 0, 10000, 3200).size());
    QCOMPARE(surface.size(), QSize(667, 213));
    DisplayList list;
    list.scale(0, 40, 255, 0);
    list.foreColor(0x00808080);
    list.point(0, 0);
    list.point(255, 40);
    list.point(0, 20);
    list.lineTo(255, 20); // the middle grid line
    surface.setDisplayList(list);
    const QImage image = render(surface);
    QCOMPARE(image.pixelColor(0, 212), QColor(128, 128, 128)); // bottom-left corner
    QCOMPARE(image.pixelColor(666, 0), QColor(128, 128, 128)); // top-right corner
    QCOMPARE(image.pixelColor(333, 106), QColor(128, 128, 128)); // half-way up
}

void TstGraphSurface::replacingListRepaints()
{
    GraphSurface surface;
    surface.resize(20, 20);
    DisplayList list;
    list.point(5, 5); // no scale: pixel coordinates, default colour white
    surface.setDisplayList(list);
    QCOMPARE(render(surface).pixelColor(5, 5), QColor(Qt::white));
    QCOMPARE(surface.displayList(), list);
    list.clear();
    surface.setDisplayList(list);
    QCOMPARE(countColor(render(surface), Qt::black), 400);
}

void TstGraphSurface::farOffPointsDoNotBreakPainting()
{
    GraphSurface surface;
    surface.resize(50, 50);
    DisplayList list;
    list.scale(0, 1e-300, 1e-300, 0);
    list.point(0, 0);
    list.lineTo(1e300, -1e300);
    list.lineTo(qQNaN(), 1);
    list.scale(0, 49, 49, 0);
    list.point(10, 10);
    surface.setDisplayList(list);
    QCOMPARE(render(surface).pixelColor(10, 39), QColor(Qt::white));
}

QTEST_MAIN(TstGraphSurface)
#include "tst_graphsurface.moc"
