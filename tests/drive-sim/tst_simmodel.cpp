#include "SimHarness.h"
#include "Station.h"

#include <QtTest>

#include <cmath>

namespace {
std::size_t index(int group, int item)
{
    return *ParameterTable::indexOf(group, item);
}

void run(Station &station, double ms)
{
    for (int i = int(ms * ServoModel::StepsPerSecond / 1000.0); i > 0; --i)
        station.step();
}
} // namespace

class TestSimModel : public QObject {
    Q_OBJECT

private slots:
    void stepResponse_data();
    void stepResponse();
    void benchModeSwitchesServoAroundSelection();
};

void TestSimModel::stepResponse_data()
{
    QTest::addColumn<int>("kpp");
    QTest::addColumn<int>("step");
    QTest::addColumn<double>("minOvershoot"); // percent
    QTest::addColumn<double>("maxOvershoot");
    QTest::addColumn<double>("maxSettleMs");
    QTest::addColumn<uint>("alarm");
    QTest::newRow("defaults settle, 0.2 mm") << 250 << 200 << 0.0 << 2.0 << 15.0 << 0u;
    QTest::newRow("defaults settle, 8 mm") << 250 << 8000 << 0.0 << 2.0 << 40.0 << 0u;
    QTest::newRow("KPP 1000 rings") << 1000 << 200 << 20.0 << 60.0 << 30.0 << 0u;
    QTest::newRow("KPP 20000 trips")
        << 20000 << 8000 << 0.0 << 0.0 << 0.0 << uint(Station::PerrExceed);
}

// From rest at 2000 counts in up/down mode, a move by "WT 2 0", watched for 500 ms.
void TestSimModel::stepResponse()
{
    QFETCH(int, kpp);
    QFETCH(int, step);
    QFETCH(uint, alarm);
    Station station(0, Recorder::Variant::Classic);
    station.setUpDownMode(true);
    station.setServoInput(true);
    station.writeParameter(index(2, 0), 2000);
    run(station, 300);
    station.writeParameter(index(0, 0), kpp);

    const int target = 2000 + step;
    const double band = std::max(20.0, step * 0.02);
    double peak = 0.0;
    double settleMs = -1.0; // from the command until it stays within the band
    unsigned alarms = 0;
    station.writeParameter(index(2, 0), target);
    for (int i = 0; i < ServoModel::StepsPerSecond / 2; ++i) {
        station.step();
        peak = std::max(peak, double(station.variable(1) - target));
        if (std::abs(station.variable(1) - target) > band)
            settleMs = -1.0;
        else if (settleMs < 0)
            settleMs = (i + 1) * 1000.0 / ServoModel::StepsPerSecond;
        alarms |= station.alarms();
    }
    QCOMPARE(alarms & ~alarm, 0u);
    if (alarm) {
        QVERIFY(alarms & alarm);
        QCOMPARE(station.statusWord() & 0x0112, 0x0002); // alarm on, DRDY and servo off
        return;
    }
    QFETCH(double, minOvershoot);
    QFETCH(double, maxOvershoot);
    QFETCH(double, maxSettleMs);
    const double overshoot = peak / step * 100.0;
    const QByteArray what = QByteArray::number(overshoot) + " % overshoot, settled after "
        + QByteArray::number(settleMs) + " ms";
    QVERIFY2(overshoot >= minOvershoot && overshoot <= maxOvershoot, what);
    QVERIFY2(settleMs >= 0 && settleMs <= maxSettleMs, what);
    QVERIFY(station.statusWord() & 0x20); // INPOS once settled
}

// The console's selection refuses a drive whose servo is on; the bench switches it off
// when addressed and on again 1 s after "RV 10", and resets alarms after 3 s.
void TestSimModel::benchModeSwitchesServoAroundSelection()
{
    SimHarness sim({ 1 });
    Station &station = *sim.bus.station(1);
    station.setDemo(true);
    station.setServoInput(true);
    sim.exchange("ST 1");
    QCOMPARE(sim.exchange("RV 8"), QStringLiteral("0810;\r\n>"));
    sim.exchange("RV 10");
    sim.runMs(900);
    QVERIFY(!station.energized());
    sim.runMs(200);
    QVERIFY(station.energized());
    station.raiseAlarm(Station::PerrExceed);
    sim.runMs(2900);
    QVERIFY(station.alarms() != 0);
    sim.runMs(200);
    QCOMPARE(station.alarms(), 0u);
    QVERIFY(station.energized());
}

QTEST_GUILESS_MAIN(TestSimModel)
#include "tst_simmodel.moc"
