#include "Clock.h"
#include "CommandExchange.h"
#include "SystemSerialPort.h"

#include <QTemporaryFile>
#include <QtTest>

#include "PtyPeer.h"

#include <memory>

namespace {
QByteArray answer(const QByteArray &line)
{
    if (line == "RV 8")
        return "0100 \r\n>";
    if (line == "HANG")
        return {};
    return "?  >";
}
} // namespace

class TestSystemSerialPort final : public QObject {
    Q_OBJECT

private slots:
    void exchangeOverPseudoTerminal()
    {
        PtyPeer drive(answer);
        QVERIFY(!drive.path().isEmpty());
        SystemSerialPort port;
        SteadyClock clock;
        CommandExchange link(port, clock);
        port.setPortName(drive.path());
        QVERIFY2(port.open(), qPrintable(port.errorString()));

        QElapsedTimer timer;
        timer.start();
        QVERIFY(link.SendCmdLong(QStringLiteral("RV 8")));
        QCOMPARE(link.RxBuffer, QStringLiteral("0100 \r\n>"));
        // 20 ms initial wait, then the prompt is there at the first read.
        QVERIFY2(timer.elapsed() < 200, qPrintable(QString::number(timer.elapsed())));

        QVERIFY(!link.SendCmd(QStringLiteral("HANG")));
        QVERIFY(link.CommDone);
        port.close();
        QVERIFY(!port.isOpen());
    }

    void vanishedFarEndEndsTheExchange()
    {
        auto drive = std::make_unique<PtyPeer>(answer);
        SystemSerialPort port;
        SteadyClock clock;
        CommandExchange link(port, clock);
        port.setPortName(drive->path());
        QVERIFY(port.open());
        QVERIFY(link.SendCmdLong(QStringLiteral("RV 8")));

        drive.reset();
        QElapsedTimer timer;
        timer.start();
        QVERIFY(!link.SendCmdPaced(QStringLiteral("SV")));
        QVERIFY(link.CommDone);
        QVERIFY(!port.isUsable());
        QVERIFY2(timer.elapsed() < 2000, qPrintable(QString::number(timer.elapsed())));
        port.close();
    }

    void refusesWhatIsNoSerialPort_data()
    {
        QTest::addColumn<QString>("name");
        QTest::newRow("missing device") << QStringLiteral("/dev/ttyNoSuchPort9");
        QTest::newRow("directory") << QStringLiteral("/dev/");
        QTest::newRow("empty") << QString();
    }
    void refusesWhatIsNoSerialPort()
    {
        QFETCH(QString, name);
        SystemSerialPort port;
        port.setPortName(name);
        QVERIFY(!port.open());
        QVERIFY(!port.isOpen());
    }

    void refusesRegularFile()
    {
        QTemporaryFile file;
        QVERIFY(file.open());
        SystemSerialPort port;
        port.setPortName(file.fileName());
        QVERIFY(!port.open());
    }

    void secondOpenOfSameDeviceFails()
    {
        PtyPeer drive(answer);
        SystemSerialPort first;
        SystemSerialPort second;
        first.setPortName(drive.path());
        second.setPortName(drive.path());
        QVERIFY(first.open());
        QVERIFY(!second.open());
        first.close();
        QVERIFY(second.open());
    }
};

QTEST_GUILESS_MAIN(TestSystemSerialPort)
#include "tst_systemserialport.moc"
