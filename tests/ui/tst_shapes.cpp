#include "Lamp.h"
#include "LineShape.h"
#include "VbStyle.h"

#include <QTest>

// Lamp and LineShape, the two VB shapes of the window.
class TstShapes : public QObject
{
    Q_OBJECT

private slots:
    void lampIsCentredCircle_data();
    void lampIsCentredCircle();
    void lampRecolours();
    void lineShapeDrawsBetweenTwipPoints();
    void lineShapeVerticalAndReversed();
};

static QWidget *whiteContainer(QSize size)
{
    auto *w = new QWidget;
    w->resize(size);
    setBackColor(w, Qt::white);
    return w;
}

void TstShapes::lampIsCentredCircle_data()
{
    QTest::addColumn<QSize>("size");
    QTest::newRow("square 375 twips") << QSize(25, 25);
    QTest::newRow("wide 495 x 375 twips") << QSize(33, 25);
}

void TstShapes::lampIsCentredCircle()
{
    QFETCH(QSize, size);
    QScopedPointer<QWidget> container(whiteContainer(size));
    auto *lamp = new Lamp(container.data());
    lamp->setGeometry(QRect(QPoint(0, 0), size));
    lamp->setFillColor(QColor(0, 255, 0));
    const QImage image = container->grab().toImage();
    const int d = qMin(size.width(), size.height());
    const QPoint centre(size.width() / 2, size.height() / 2);
    QCOMPARE(image.pixelColor(centre), QColor(0, 255, 0));
    // Corners of the box lie outside the circle.
    QCOMPARE(image.pixelColor(0, 0), QColor(Qt::white));
    QCOMPARE(image.pixelColor(size.width() - 1, size.height() - 1), QColor(Qt::white));
    // Just inside the circle's edge on the long axis: filled; just outside: background.
    const int left = (size.width() - d) / 2;
    const int top = (size.height() - d) / 2;
    if (size.width() > size.height()) {
        QCOMPARE(image.pixelColor(left + 3, centre.y()), QColor(0, 255, 0));
        QCOMPARE(image.pixelColor(left - 2, centre.y()), QColor(Qt::white));
    } else if (size.height() > size.width()) {
        QCOMPARE(image.pixelColor(centre.x(), top + 3), QColor(0, 255, 0));
        QCOMPARE(image.pixelColor(centre.x(), top - 2), QColor(Qt::white));
    }
    // A dark outline on the rim.
    const QColor rim = image.pixelColor(left, centre.y());
    QVERIFY2(rim.lightness() < 160, qPrintable(rim.name()));
}

void TstShapes::lampRecolours()
{
    Lamp lamp;
    lamp.resize(25, 25);
    QCOMPARE(lamp.fillColor(), QColor(0, 255, 0));
    lamp.setFillColor(vbColor(0x000000FF));
    QCOMPARE(lamp.fillColor(), QColor(255, 0, 0));
    QCOMPARE(lamp.grab().toImage().pixelColor(12, 12), QColor(255, 0, 0));
    QVERIFY(lamp.testAttribute(Qt::WA_TransparentForMouseEvents));
}

void TstShapes::lineShapeDrawsBetweenTwipPoints()
{
    QScopedPointer<QWidget> container(whiteContainer(QSize(200, 100)));
    auto *line = new LineShape(container.data());
    line->setLine(360, 840, 2160, 840); // Line2 of the "Motion" frame
    QCOMPARE(line->lineTwips(), QLine(360, 840, 2160, 840));
    QCOMPARE(line->linePixels(), QLine(24, 56, 144, 56));
    QCOMPARE(line->geometry(), QRect(24, 56, 121, 1));
    const QImage image = container->grab().toImage();
    for (int x = 24; x <= 144; ++x)
        QCOMPARE(image.pixelColor(x, 56), QColor(Qt::black));
    QCOMPARE(image.pixelColor(23, 56), QColor(Qt::white));
    QCOMPARE(image.pixelColor(145, 56), QColor(Qt::white));
    QCOMPARE(image.pixelColor(80, 55), QColor(Qt::white));
    QCOMPARE(image.pixelColor(80, 57), QColor(Qt::white));
}

void TstShapes::lineShapeVerticalAndReversed()
{
    QScopedPointer<QWidget> container(whiteContainer(QSize(100, 100)));
    auto *line = new LineShape(container.data());
    line->setLine(600, 1200, 600, 150); // bottom to top
    QCOMPARE(line->geometry(), QRect(40, 10, 1, 71));
    const QImage image = container->grab().toImage();
    QCOMPARE(image.pixelColor(40, 10), QColor(Qt::black));
    QCOMPARE(image.pixelColor(40, 80), QColor(Qt::black));
    QCOMPARE(image.pixelColor(40, 81), QColor(Qt::white));
    QCOMPARE(image.pixelColor(41, 50), QColor(Qt::white));
}

QTEST_MAIN(TstShapes)
#include "tst_shapes.moc"
