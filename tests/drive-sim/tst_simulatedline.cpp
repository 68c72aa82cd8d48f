// The simulator's bus behind the console's port and clock: the console's own exchange
// routines get the drive's answers in simulated time, at wire speed, and time out as on a line.
#include "CommandExchange.h"
#include "SimulatedLine.h"

#include <QElapsedTimer>
#include <QtTest>

class TestSimulatedLine : public QObject {
    Q_OBJECT

private slots:
    void exchange_data()
    {
        QTest::addColumn<QString>("fault"); // on station 1, after it was addressed
        QTest::addColumn<QString>("command");
        QTest::addColumn<int>("limit"); // the routine, by its reply window
        QTest::addColumn<QString>("reply"); // empty: no prompt
        QTest::addColumn<int>("minMs"); // simulated time the exchange took
        QTest::addColumn<int>("maxMs");
        QTest::addColumn<quint32>("startTick");
        const auto row = [](const char *name, const char *fault, const char *command, int limit,
                            const char *reply, int minMs, int maxMs, quint32 startTick = 1000) {
            QTest::newRow(name) << fault << command << limit << reply << minMs << maxMs
                                << startTick;
        };
        row("ST", "", "ST 1", 200, "OK;\r\n>", 16, 18);
        row("RD", "", "RD 0 0", 2000, "KPP=250;\r\n>", 26, 28);
        row("across the wrap", "", "RD 0 0", 2000, "KPP=250;\r\n>", 26, 28, 0xFFFFFFF0);
        // 1031 bytes at 0.26 ms each: the record's upload takes its time on the line.
        row("RO at wire speed", "", "RO", 3000, "RO:0,0,", 305, 320);
        row("delayed", "delay", "RD 0 0", 200, "KPP=250;\r\n>", 128, 134);
        // The reply window's limit, after the routine's first wait.
        row("silent, SendCmd", "silent", "ST 1", 200, "", 211, 218);
        row("silent, SendCmdLong", "silent", "RD 0 0", 2000, "", 2021, 2028);
        row("line gone", "drop", "RD 0 0", 2000, "", 0, 0);
    }

    void exchange()
    {
        QFETCH(QString, fault);
        QFETCH(QString, command);
        QFETCH(int, limit);
        QFETCH(QString, reply);
        QFETCH(int, minMs);
        QFETCH(int, maxMs);
        QFETCH(quint32, startTick);
        SimulatedLine line({ 1, 2 }, {}, startTick);
        QVERIFY(line.open());
        CommandExchange link(line, line);
        QVERIFY(link.SendCmd("ST 1"));
        if (fault == "silent")
            line.station(1)->faults().silent = true;
        if (fault == "delay")
            line.station(1)->faults().delayMs = 120;
        if (fault == "drop")
            line.dropLine();
        const ExchangeTiming &timing = limit == 200 ? Timing::Cmd
            : limit == 2000                         ? Timing::Long
                                                    : Timing::Slow;
        const std::int64_t startUs = line.nowUs();
        QElapsedTimer real;
        real.start();
        const bool found = link.exchange(command, timing);
        const qint64 realUs = real.nsecsElapsed() / 1000;
        const std::int64_t simMs = (line.nowUs() - startUs) / 1000;
        QCOMPARE(found, !reply.isEmpty());
        QVERIFY2(reply.isEmpty() ? link.RxBuffer.isEmpty() : link.RxBuffer.startsWith(reply),
                 qPrintable(link.RxBuffer.left(40)));
        QVERIFY2(simMs >= minMs && simMs <= maxMs, qPrintable(QString::number(simMs)));
        // Nothing sleeps: the exchange's waits pass in a fraction of their simulated time, even
        // under a sanitizer (two stations' models cost about 1.4 us a simulated ms).
        QVERIFY2(realUs < 1000 + simMs * 250, qPrintable(QString::number(realUs)));
        QCOMPARE(line.isUsable(), fault != "drop");
    }
};

QTEST_GUILESS_MAIN(TestSimulatedLine)
#include "tst_simulatedline.moc"
