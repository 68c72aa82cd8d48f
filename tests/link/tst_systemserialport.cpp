#include "Clock.h"
#include "CommandExchange.h"
#include "SystemSerialPort.h"

#include <QtTest>

#include "PtyPeer.h"

#include <memory>

namespace {
QByteArray answer(const QByteArray &line)
{
    return line == "RV 8" ? "0100 \r\n>" : line == "HANG" ? QByteArray() : "?  >";
}

// The console's port opened on a pseudo-terminal with a drive at the far end.
struct Line {
    Line() : drive(std::make_unique<PtyPeer>(answer)), link(port, clock)
    {
        port.setPortName(drive->path());
    }
    std::unique_ptr<PtyPeer> drive;
    SystemSerialPort port;
    SteadyClock clock;
    CommandExchange link;
};
} // namespace

class TestSystemSerialPort final : public QObject {
    Q_OBJECT

private slots:
    // One pseudo-terminal through open, exchange, a second open of the device, and a far end
    // that vanishes.
    void exchangeOverPseudoTerminal()
    {
        Line line;
        QVERIFY2(line.port.open(), qPrintable(line.port.errorString()));
        QVERIFY(line.port.isUsable());
        SystemSerialPort second;
        second.setPortName(line.drive->path());
        QVERIFY(!second.open());
        QElapsedTimer timer;
        timer.start();
        QVERIFY(line.link.SendCmdLong(QStringLiteral("RV 8")));
        QCOMPARE(line.link.RxBuffer, QStringLiteral("0100 \r\n>"));
        // 20 ms initial wait, then the prompt is there at the first read.
        QVERIFY2(timer.elapsed() < 200, qPrintable(QString::number(timer.elapsed())));
        QVERIFY(!line.link.SendCmd(QStringLiteral("HANG")));
        QVERIFY(line.link.CommDone);
        line.port.close();
        QVERIFY(!line.port.isOpen());
        QVERIFY(second.open());
        second.close();

        QVERIFY(line.port.open());
        line.drive.reset();
        timer.restart();
        QVERIFY(!line.link.SendCmdPaced(QStringLiteral("SV")));
        QVERIFY(line.link.CommDone);
        QVERIFY(!line.port.isUsable());
        QVERIFY2(timer.elapsed() < 2000, qPrintable(QString::number(timer.elapsed())));
        // Named as lost, without the stale text of an earlier call.
        QCOMPARE(line.port.errorString(),
                 QStringLiteral("the port %1 was lost (unplugged, or its other end closed)")
                     .arg(line.port.portName()));
    }

    // A command the line cannot take at once may still go out: the reply window is waited out
    // after the write's own time-out.
    void stalledWriteStillWaitsForTheReply()
    {
        int master = -1, slave = -1;
        char name[256] = {};
        QVERIFY(openpty(&master, &slave, name, nullptr, nullptr) == 0);
        ::close(slave); // the far end never reads
        Line line;
        line.port.setPortName(QString::fromLocal8Bit(name));
        QVERIFY(line.port.open());
        QElapsedTimer timer;
        timer.start();
        QVERIFY(!line.link.SendCmdLong(QString(30000, QLatin1Char('W'))));
        QVERIFY2(timer.elapsed() >= 2000 + 2000, qPrintable(QString::number(timer.elapsed())));
        ::close(master);
    }
};

QTEST_GUILESS_MAIN(TestSystemSerialPort)
#include "tst_systemserialport.moc"
