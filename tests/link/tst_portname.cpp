#include "PortName.h"
#include "Station.h"

#include <QtTest>

// Numbers typed into the port and station boxes, the same texts read both ways.
class TestPortName final : public QObject {
    Q_OBJECT

private slots:
    void names_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("windows"); // empty: no port
        QTest::addColumn<QString>("posix");
        QTest::addColumn<QVariant>("station"); // null: none
        const QVariant none;
        const auto row = [](const char *text, const char *windows, const char *posix,
                            const QVariant &station) {
            QTest::newRow(text) << text << windows << posix << station;
        };
        row("1", "COM1", "/dev/ttyS0", 1);
        row(" 4 ", "COM4", "/dev/ttyS3", 4);
        row("+2", "COM2", "/dev/ttyS1", 2);
        row("32767", "COM32767", "/dev/ttyS32766", 32767);
        row("/dev/ttyUSB0", "/dev/ttyUSB0", "/dev/ttyUSB0", none);
        row("5x", "5x", "5x", none);
        row("   ", nullptr, nullptr, none);
        row("0", nullptr, nullptr, 0);
        row("32768", nullptr, nullptr, none);
        row("-32768", nullptr, nullptr, -32768);
        row("-32769", nullptr, nullptr, none);
        row("99999999999999999999", nullptr, nullptr, none);
        // Network ports as typed; a URL that names none is no device path either.
        row(" socket://10.0.0.7:4001 ", "socket://10.0.0.7:4001", "socket://10.0.0.7:4001", none);
        row("RFC2217://[fe80::1]:65535", "RFC2217://[fe80::1]:65535", "RFC2217://[fe80::1]:65535",
            none);
        row("socket://bench-3", nullptr, nullptr, none);
        row("socket://bench-3:65536", nullptr, nullptr, none);
        row("rfc2217://[bench-3]:23", nullptr, nullptr, none);
        row("socket://bench-3:23/x", nullptr, nullptr, none);
        row("socket://ops@bench-3:23", nullptr, nullptr, none);
        row("ssh://bench-3:22", nullptr, nullptr, none);
    }
    void names()
    {
        QFETCH(QString, text);
        QFETCH(QString, windows);
        QFETCH(QString, posix);
        QFETCH(QVariant, station);
        QCOMPARE(portNameFromText(text, PortNaming::Windows).value_or(QString()), windows);
        QCOMPARE(portNameFromText(text, PortNaming::Posix).value_or(QString()), posix);
        const auto s = stationFromText(text);
        QCOMPARE(s ? QVariant(int(*s)) : QVariant(), station);
    }
};

QTEST_GUILESS_MAIN(TestPortName)
#include "tst_portname.moc"
