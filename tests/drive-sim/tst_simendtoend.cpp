// The real simulator on a pseudo-terminal, through the console's serial port adapter.
#include "Clock.h"
#include "CommandExchange.h"
#include "SimProcess.h"
#include "SystemSerialPort.h"

#include <QFileInfo>
#include <QTemporaryDir>
#include <QtTest>

#include <fstream>

namespace {
struct Console {
    explicit Console(const QString &path)
    {
        port.setPortName(path);
        port.open();
    }
    // Selects `station` and reads one parameter: the reply, or "" on failure.
    QString read(const char *station, const char *item)
    {
        return x.SendCmd(station) && x.SendCmdLong(item) ? x.RxBuffer : QString();
    }
    SystemSerialPort port;
    SteadyClock clock;
    CommandExchange x { port, clock };
};
} // namespace

class TestSimEndToEnd : public QObject {
    Q_OBJECT

private slots:
    void exchangesAndSavedState()
    {
        QTemporaryDir dir;
        const QString link = dir.filePath("bus"), state = dir.filePath("drives.state");
        std::ofstream(state.toStdString()) << "9 KPP 777\n5 KVP 99999\n";
        {
            SimProcess sim({ "--fast", "--stations", "0,5", "--link", link, "--state", state });
            QCOMPARE(QFileInfo(link).symLinkTarget(), sim.path());
            Console c(link);
            QVERIFY(c.x.SendCmd("ST 0"));
            QCOMPARE(c.x.RxBuffer, QStringLiteral("OK;\r\n>"));
            QVERIFY(!c.x.SendCmd("ST 3"));
            QCOMPARE(c.read("ST 5", "RV 8"), QStringLiteral("0810;\r\n>"));
            QCOMPARE(c.read("ST 5", "RD 0 2"), QStringLiteral("KVP=2000;\r\n>")); // clamped
            QVERIFY(c.x.SendCmdPaced("WT 0 0 300"));
            QCOMPARE(c.x.RxBuffer, QStringLiteral("KPP=300;\r\n>"));
            QVERIFY(c.x.SendCmd("SV"));
            QVERIFY(c.x.SendCmdPaced("WT 0 2 150")); // not saved
        }
        // Station 9 was absent when station 5 saved, but keeps its line.
        SimProcess sim({ "--fast", "--stations", "0,5,9", "--link", link, "--state", state });
        Console c(link);
        QCOMPARE(c.read("ST 5", "RD 0 0"), QStringLiteral("KPP=300;\r\n>"));
        QCOMPARE(c.read("ST 5", "RD 0 2"), QStringLiteral("KVP=2000;\r\n>"));
        QCOMPARE(c.read("ST 9", "RD 0 0"), QStringLiteral("KPP=777;\r\n>"));
    }

    void repliesArePacedAtWireSpeed()
    {
        SimProcess sim({});
        Console c(sim.path());
        QVERIFY(c.x.SendCmd("ST 0"));
        QElapsedTimer timer;
        timer.start();
        QVERIFY(c.x.SendCmdSlow("RO"));
        QCOMPARE(c.x.RxBuffer.count(','), 512);
        // 10 bits a byte at 38400 baud.
        const qint64 wireMs = c.x.RxBuffer.size() * 10 * 1000 / 38400;
        QVERIFY2(timer.elapsed() >= wireMs && timer.elapsed() < wireMs + 1000,
                 qPrintable(QString("%1 %2").arg(timer.elapsed()).arg(wireMs)));
    }
};

QTEST_GUILESS_MAIN(TestSimEndToEnd)
#include "tst_simendtoend.moc"
