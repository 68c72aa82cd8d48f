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
        row("RFC2217://[fe80::1%eth0]:65535", "RFC2217://[fe80::1%eth0]:65535",
            "RFC2217://[fe80::1%eth0]:65535", none);
        row("socket://bench-3", nullptr, nullptr, none);
        row("socket://bench-3:65536", nullptr, nullptr, none);
        row("rfc2217://[bench-3]:23", nullptr, nullptr, none);
        row("socket://bench-3:23/x", nullptr, nullptr, none);
        row("socket://ops@bench-3:23", nullptr, nullptr, none);
        row("ssh://bench-3:22", nullptr, nullptr, none);
        // A line break never turns a network port into a device path.
        row("socket://bench-3:23\n/dev/ttyS0", nullptr, nullptr, none);
        row("/dev/tty\nS0", nullptr, nullptr, none);
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

    // The host a network port text reaches, or why it reaches none.
    void hosts_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("host"); // empty: refused
        QTest::addColumn<QString>("problem"); // part of the reason given
        const QString label63(63, QLatin1Char('a'));
        const QString name253 = QStringList(4, label63).join('.').left(253);
        const auto row
            = [](const char *tag, const QString &text, const QString &host,
                 const char *problem = "") { QTest::newRow(tag) << text << host << problem; };
        row("dotted decimal", "socket://192.168.50.2:4001", "192.168.50.2");
        row("leading zeros (octal to the C library)", "socket://192.168.050.002:4001", "",
            "no plain IPv4 address");
        row("three parts", "socket://10.1.2:4001", "", "no plain IPv4 address");
        row("one number", "socket://3232235778:4001", "", "no plain IPv4 address");
        row("hexadecimal", "socket://0x7f.1:4001", "", "no plain IPv4 address");
        row("octet over 255", "socket://192.168.50.256:4001", "", "no plain IPv4 address");
        row("host name", "rfc2217://bench-3.lab:4002", "bench-3.lab");
        row("longest host name", "socket://" + name253 + ":1", name253);
        row("host name too long", "socket://" + name253 + "a:1", "", "at most 253");
        row("label too long", "socket://" + label63 + "a.lab:1", "", "no host name");
        row("blank in the host", "socket://bench 3:1", "", "no host name");
        row("IPv6", "socket://[fd00::7]:4001", "fd00::7");
        row("IPv6 link-local with zone", "socket://[fe80::1%eth0]:4001", "fe80::1%eth0");
        row("IPv6 link-local without zone", "socket://[fe80::1]:4001", "",
            "needs its interface, as in [fe80::1%eth0]");
        row("IPv4 in brackets", "socket://[10.0.0.7]:4001", "", "no IPv6 address");
        row("line break", "socket://bench-3:23\nx", "", "control character");
        row("no host", "socket://:23", "", "no host");
    }
    void hosts()
    {
        QFETCH(QString, text);
        QFETCH(QString, host);
        QFETCH(QString, problem);
        const std::optional<NetworkPort> port = networkPortFromText(text);
        QCOMPARE(port ? port->host : QString(), host);
        QVERIFY2(portTextProblem(text).contains(problem), qPrintable(portTextProblem(text)));
        QCOMPARE(portTextProblem(text).isEmpty(), !host.isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestPortName)
#include "tst_portname.moc"
