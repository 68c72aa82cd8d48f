#include "PortName.h"
#include "Station.h"

#include <QtTest>

// Numbers typed into the port and station boxes.
class TestPortName final : public QObject {
    Q_OBJECT

private slots:
    void names_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("windows");
        QTest::addColumn<QString>("posix");
        const auto row = [](const char *text, const char *windows, const char *posix) {
            QTest::newRow(text) << text << windows << posix;
        };
        row("1", "COM1", "/dev/ttyS0");
        row("4 ", "COM4", "/dev/ttyS3");
        row("+2", "COM2", "/dev/ttyS1");
        row("32767", "COM32767", "/dev/ttyS32766");
        row("/dev/ttyUSB0", "/dev/ttyUSB0", "/dev/ttyUSB0");
        row("COM7", "COM7", "COM7");
        for (const char *none : { "   ", "0", "32768", "99999999999999999999" })
            row(none, nullptr, nullptr);
    }
    void names()
    {
        QFETCH(QString, text);
        QFETCH(QString, windows);
        QFETCH(QString, posix);
        QCOMPARE(portNameFromText(text, PortNaming::Windows).value_or(QString()), windows);
        QCOMPARE(portNameFromText(text, PortNaming::Posix).value_or(QString()), posix);
    }

    void station_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QVariant>("station"); // null: none
        const QVariant none;
        QTest::newRow("blanks") << " 5 " << QVariant(5);
        QTest::newRow("highest") << "32767" << QVariant(32767);
        QTest::newRow("lowest") << "-32768" << QVariant(-32768);
        QTest::newRow("above") << "32768" << none;
        QTest::newRow("below") << "-32769" << none;
        QTest::newRow("junk") << "5x" << none;
        QTest::newRow("empty") << "" << none;
    }
    void station()
    {
        QFETCH(QString, text);
        QFETCH(QVariant, station);
        const auto s = stationFromText(text);
        QCOMPARE(s ? QVariant(int(*s)) : QVariant(), station);
    }
};

QTEST_GUILESS_MAIN(TestPortName)
#include "tst_portname.moc"
