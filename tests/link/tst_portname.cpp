#include "PortName.h"

#include <QtTest>

class TestPortName final : public QObject {
    Q_OBJECT

private slots:
    void names_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("windows");
        QTest::addColumn<QString>("posix");

        QTest::newRow("4") << "4"
                           << "COM4"
                           << "/dev/ttyS3";
        QTest::newRow("1") << "1"
                           << "COM1"
                           << "/dev/ttyS0";
        QTest::newRow("trailing blank") << "4 "
                                        << "COM4"
                                        << "/dev/ttyS3";
        QTest::newRow("largest") << "32767"
                                 << "COM32767"
                                 << "/dev/ttyS32766";
        QTest::newRow("device path") << "/dev/ttyUSB0"
                                     << "/dev/ttyUSB0"
                                     << "/dev/ttyUSB0";
        QTest::newRow("port name") << "ttyUSB0"
                                   << "ttyUSB0"
                                   << "ttyUSB0";
        QTest::newRow("COM name") << "COM7"
                                  << "COM7"
                                  << "COM7";
        QTest::newRow("word") << "abc"
                              << "abc"
                              << "abc";
        QTest::newRow("empty") << "" << QString() << QString();
        QTest::newRow("blank") << "   " << QString() << QString();
        QTest::newRow("zero") << "0" << QString() << QString();
        QTest::newRow("negative") << "-3" << QString() << QString();
        QTest::newRow("beyond 16 bits") << "99999" << QString() << QString();
        QTest::newRow("huge") << "99999999999999999999" << QString() << QString();
        QTest::newRow("plus sign") << "+2"
                                   << "COM2"
                                   << "/dev/ttyS1";
    }
    void names()
    {
        QFETCH(QString, text);
        QFETCH(QString, windows);
        QFETCH(QString, posix);

        QCOMPARE(portNameFromText(text, PortNaming::Windows).value_or(QString()), windows);
        QCOMPARE(portNameFromText(text, PortNaming::Posix).value_or(QString()), posix);
    }
};

QTEST_GUILESS_MAIN(TestPortName)
#include "tst_portname.moc"
