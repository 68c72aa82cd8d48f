#include "VbStyle.h"

#include <QFontInfo>
#include <QLineEdit>
#include <QTest>

class TstVbStyle : public QObject
{
    Q_OBJECT

private slots:
    void twipsRounds_data();
    void twipsRounds();
    void colours_data();
    void colours();
    void tnrFont_data();
    void tnrFont();
    void foreColorOnEditBox();
};

void TstVbStyle::twipsRounds_data()
{
    QTest::addColumn<int>("twips");
    QTest::addColumn<int>("pixels");
    QTest::newRow("7 rounds down") << 7 << 0;
    QTest::newRow("8 rounds up") << 8 << 1;
    QTest::newRow("client width") << 15045 << 1003;
    QTest::newRow("client height") << 10290 << 686;
    QTest::newRow("Graph1 width") << 10000 << 667;
    QTest::newRow("Graph1 height") << 3200 << 213;
    QTest::newRow("negative") << -8 << -1;
}

void TstVbStyle::twipsRounds()
{
    QFETCH(int, twips);
    QFETCH(int, pixels);
    QCOMPARE(::twips(twips), pixels);
}

void TstVbStyle::colours_data()
{
    QTest::addColumn<quint32>("value");
    QTest::addColumn<QColor>("color");
    QTest::newRow("red") << quint32(0x000000FF) << QColor(255, 0, 0);
    QTest::newRow("blue") << quint32(0x00FF0000) << QColor(0, 0, 255);
    QTest::newRow("navy") << quint32(0x00800000) << QColor(0, 0, 128);
    QTest::newRow("yellow") << quint32(0x0000FFFF) << QColor(255, 255, 0);
    QTest::newRow("dark yellow") << quint32(0x00008080) << QColor(128, 128, 0);
}

void TstVbStyle::colours()
{
    QFETCH(quint32, value);
    QFETCH(QColor, color);
    QCOMPARE(vbColor(value), color);
    QCOMPARE(vbColorValue(color), value);
}

void TstVbStyle::tnrFont_data()
{
    QTest::addColumn<double>("points");
    QTest::addColumn<bool>("italic");
    QTest::addColumn<int>("pixels");
    QTest::newRow("9.75") << 9.75 << false << 13;
    QTest::newRow("12") << 12.0 << false << 16;
    QTest::newRow("14.25") << 14.25 << false << 19;
    QTest::newRow("21.75 italic") << 21.75 << true << 29;
}

void TstVbStyle::tnrFont()
{
    QFETCH(double, points);
    QFETCH(bool, italic);
    QFETCH(int, pixels);
    const QFont font = ::tnrFont(points, italic);
    QCOMPARE(font.pixelSize(), pixels);
    QVERIFY(font.bold());
    QCOMPARE(font.italic(), italic);
    QCOMPARE(font.family(), QStringLiteral("Times New Roman"));
    // Whatever face stands in, it is a serif one.
    const QString face = QFontInfo(font).family();
    QVERIFY2(face.contains(QLatin1String("Times")) || face.contains(QLatin1String("Serif"))
                     || face.contains(QLatin1String("Tinos")),
             qPrintable(face));
}

void TstVbStyle::foreColorOnEditBox()
{
    // Later code turns edit boxes red and back to black through this.
    QLineEdit edit;
    const QColor disabledText = edit.palette().color(QPalette::Disabled, QPalette::Text);
    setForeColor(&edit, Qt::red);
    QCOMPARE(edit.palette().color(QPalette::Active, QPalette::Text), QColor(Qt::red));
    QCOMPARE(edit.palette().color(QPalette::Inactive, QPalette::Text), QColor(Qt::red));
    QCOMPARE(edit.palette().color(QPalette::Disabled, QPalette::Text), disabledText);
    setForeColor(&edit, Qt::black);
    QCOMPARE(edit.palette().color(QPalette::Active, QPalette::Text), QColor(Qt::black));
}

QTEST_MAIN(TstVbStyle)
#include "tst_vbstyle.moc"
