// A port lost in the middle of a procedure: the scan and the other procedures stop at once and
// say the port was lost, never that a drive stayed silent.
#include "DriveProcedures.h"
#include "ParameterMap.h"
#include "ScriptedSerialPort.h"
#include "VirtualClock.h"

#include <QtTest>

class TestDriveProcedures final : public QObject {
    Q_OBJECT

private:
    struct Rig {
        Rig() : port(clock), link(port, clock), drive(link)
        {
            port.setPortName(QStringLiteral("COM4"));
            port.open();
        }
        VirtualClock clock;
        ScriptedSerialPort port;
        CommandExchange link;
        DriveProcedures drive;
    };

private slots:
    void scan_data()
    {
        QTest::addColumn<QList<int>>("stations"); // those that answer "ST n"
        QTest::addColumn<QByteArray>("breakAt"); // the line that the line breaks at; none
        QTest::addColumn<QVariant>("found"); // the list, or null for a lost port
        QTest::addColumn<QString>("probed"); // station:answered, as reported
        QTest::newRow("stations 1 and 5")
            << QList<int> { 1, 5 } << QByteArray() << QVariant::fromValue(QList<int> { 1, 5 })
            << "0:0 1:1 2:0 3:0 4:0 5:1 6:0 7:0 8:0 9:0 10:0 11:0 12:0 13:0 14:0 15:0";
        QTest::newRow("lost at station 3")
            << QList<int> { 1, 5 } << QByteArray("ST 3") << QVariant() << "0:0 1:1 2:0";
        QTest::newRow("lost at the last station")
            << QList<int> { 1, 15 } << QByteArray("ST 15") << QVariant()
            << "0:0 1:1 2:0 3:0 4:0 5:0 6:0 7:0 8:0 9:0 10:0 11:0 12:0 13:0 14:0";
    }
    void scan()
    {
        QFETCH(QList<int>, stations);
        QFETCH(QByteArray, breakAt);
        QFETCH(QVariant, found);
        QFETCH(QString, probed);
        Rig rig;
        rig.port.setResponder([&](ScriptedSerialPort &port, const QByteArray &line) {
            if (line == breakAt)
                port.breakLine();
            else if (stations.contains(line.mid(3).toInt()))
                port.schedule("\r\n>", 1);
        });
        QStringList seen;
        const std::optional<QList<int>> result = rig.drive.scan(
            [&](int n, bool answered) { seen << QStringLiteral("%1:%2").arg(n).arg(answered); });
        QCOMPARE(seen.join(' '), probed);
        QCOMPARE(result ? QVariant::fromValue(*result) : QVariant(), found);
        const DriveFailure &f = rig.drive.failure();
        QCOMPARE(f.kind == DriveFailure::Kind::Lost, found.isNull());
        if (found.isNull()) {
            QCOMPARE(f.command, QString::fromLatin1(breakAt));
            QCOMPARE(f.what, QStringLiteral("line broken"));
        }
    }

    // Every procedure that meets a lost port says so, and goes no further.
    void otherProceduresStopAtALostPort()
    {
        Rig rig;
        const ParameterBox box = ParameterMap::boxAt(1);
        const QString second = ParameterMap::readCommand(box.array, box.index);
        rig.port.setResponder([&](ScriptedSerialPort &port, const QByteArray &line) {
            if (line == second.toLatin1())
                port.breakLine();
            else
                port.schedule("=100 ok>", 1);
        });
        QVERIFY(!rig.drive.readParameters());
        QCOMPARE(rig.drive.failure().kind, DriveFailure::Kind::Lost);
        QCOMPARE(rig.drive.failure().command, second);
        QCOMPARE(rig.port.lines().size(), 2);
        QVERIFY(!rig.drive.readState());
        QCOMPARE(rig.drive.failure().kind, DriveFailure::Kind::Lost);
    }

    // A stop in the middle of LOAD ends it there: the parameters not read are not unreadable.
    void aStopEndsLoadAtOnce()
    {
        Rig rig;
        rig.port.setResponder(
            [&](ScriptedSerialPort &port, const QByteArray &) { port.schedule("=100 ok>", 1); });
        rig.drive.setHooks({ [&] { return rig.port.lines().size() >= 2; }, {} });
        QList<DriveFailure> unreadable;
        QVERIFY(!rig.drive.readParameters({}, &unreadable));
        QCOMPARE(rig.drive.failure().kind, DriveFailure::Kind::Stopped);
        QCOMPARE(rig.port.lines().size(), 2);
        QVERIFY(unreadable.isEmpty());
    }

    // The port is reset as the drive needs it: more than a second before it closes, more than
    // 300 ms closed (a wait ends once more than its time has passed).
    void resetPortWaits()
    {
        Rig rig;
        const std::int64_t before = rig.clock.now();
        std::int64_t closed = 0;
        rig.port.onClose = [&] { closed = rig.clock.now(); };
        QVERIFY(rig.drive.resetPort());
        QVERIFY(rig.port.isOpen());
        QVERIFY(closed - before > 1000 && rig.clock.now() - closed > 300);
    }
};

QTEST_GUILESS_MAIN(TestDriveProcedures)
#include "tst_driveprocedures.moc"
