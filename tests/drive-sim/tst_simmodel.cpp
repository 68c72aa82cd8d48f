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
    const auto steps = static_cast<std::int64_t>(ms * ServoModel::StepsPerSecond / 1000.0);
    for (std::int64_t i = 0; i < steps; ++i)
        station.step();
}

// A station in up/down mode with its servo on, resting at the start position.
void prepare(Station &station, int start)
{
    station.setUpDownMode(true);
    station.setServoInput(true);
    station.writeParameter(index(2, 0), start);
    run(station, 300);
}

struct Response
{
    double overshootPercent = 0.0;
    double settleMs = -1.0; // from the command until it stays within the band
    unsigned alarms = 0;
};

Response measureStep(Station &station, int start, int target)
{
    Response r;
    const double distance = std::abs(target - start);
    const double band = std::max(20.0, distance * 0.02);
    double peak = 0.0;
    station.writeParameter(index(2, 0), target);
    const int steps = ServoModel::StepsPerSecond / 2;
    for (int i = 0; i < steps; ++i) {
        station.step();
        const double beyond = (station.variable(1) - target) * (target > start ? 1 : -1);
        peak = std::max(peak, beyond);
        if (std::abs(station.variable(1) - target) > band)
            r.settleMs = -1.0;
        else if (r.settleMs < 0)
            r.settleMs = SimHarness::stepsToMs(i + 1);
        r.alarms |= station.alarms();
    }
    r.overshootPercent = peak / distance * 100.0;
    return r;
}
} // namespace

class TestSimModel : public QObject
{
    Q_OBJECT

private slots:
    void stepResponse_data();
    void stepResponse();
    void gainPushedTooFarTrips();
    void statusWordFollowsTheDrive_data();
    void statusWordFollowsTheDrive();
    void targetBeyondTravelRaisesPcmdOver();
    void targetMovesOnlyInUpDownMode();
    void di1HoldsAndDi2Selects();
    void servoOffResetsAlarms();
    void benchModeSwitchesServoAroundSelection();
};

void TestSimModel::stepResponse_data()
{
    QTest::addColumn<int>("kpp");
    QTest::addColumn<int>("kvp");
    QTest::addColumn<int>("distance");
    QTest::addColumn<double>("minOvershoot");
    QTest::addColumn<double>("maxOvershoot");
    QTest::addColumn<double>("minSettleMs");
    QTest::addColumn<double>("maxSettleMs");

    QTest::newRow("defaults, 0.2 mm") << 250 << 100 << 200 << 0.0 << 2.0 << 0.0 << 15.0;
    QTest::newRow("defaults, 8 mm") << 250 << 100 << 8000 << 0.0 << 2.0 << 0.0 << 40.0;
    QTest::newRow("KPP 1000 rings") << 1000 << 100 << 200 << 20.0 << 60.0 << 0.0 << 30.0;
    QTest::newRow("KPP 2000 rings longer") << 2000 << 100 << 200 << 40.0 << 100.0 << 15.0 << 200.0;
    QTest::newRow("KVP 10 sluggish") << 250 << 10 << 200 << 0.0 << 100.0 << 40.0 << 200.0;
}

void TestSimModel::stepResponse()
{
    QFETCH(int, kpp);
    QFETCH(int, kvp);
    QFETCH(int, distance);
    Station station(0, Recorder::Variant::Classic);
    prepare(station, 2000);
    station.writeParameter(index(0, 0), kpp);
    station.writeParameter(index(0, 2), kvp);
    run(station, 200);
    QCOMPARE(station.alarms(), 0u);
    const Response r = measureStep(station, 2000, 2000 + distance);
    QCOMPARE(r.alarms, 0u);
    QFETCH(double, minOvershoot);
    QFETCH(double, maxOvershoot);
    QFETCH(double, minSettleMs);
    QFETCH(double, maxSettleMs);
    const QByteArray what = QByteArray("overshoot ") + QByteArray::number(r.overshootPercent)
            + "% settle " + QByteArray::number(r.settleMs) + " ms";
    QVERIFY2(r.overshootPercent >= minOvershoot && r.overshootPercent <= maxOvershoot, what);
    QVERIFY2(r.settleMs >= minSettleMs && r.settleMs <= maxSettleMs, what);
    QVERIFY(station.statusWord() & 0x20); // INPOS once settled
}

void TestSimModel::gainPushedTooFarTrips()
{
    Station station(0, Recorder::Variant::Classic);
    prepare(station, 2000);
    station.writeParameter(index(0, 0), 20000);
    const Response r = measureStep(station, 2000, 10000);
    QVERIFY(r.alarms & Station::PerrExceed);
    QCOMPARE(station.statusWord() & 0x0112, 0x0002); // alarm on, DRDY and servo off
}

void TestSimModel::statusWordFollowsTheDrive_data()
{
    QTest::addColumn<QString>("input");
    QTest::addColumn<int>("word");
    QTest::newRow("servo off") << "" << 0x0810;
    QTest::newRow("servo on, in position") << "servo" << 0x0930;
    QTest::newRow("emergency stop") << "estop" << 0x0000;
    QTest::newRow("servo and emergency stop") << "servo estop" << 0x0000;
    QTest::newRow("sensor break") << "servo sensor" << 0x0804;
    QTest::newRow("inputs") << "di1 di2 bond btype" << 0x3E10;
    QTest::newRow("DO0 above TH1") << "servo high" << 0x0970;
}

void TestSimModel::statusWordFollowsTheDrive()
{
    QFETCH(QString, input);
    QFETCH(int, word);
    Station station(0, Recorder::Variant::Classic);
    const QStringList inputs = input.split(' ', Qt::SkipEmptyParts);
    station.setUpDownMode(true);
    station.setServoInput(inputs.contains("servo"));
    station.setEmergencyStop(inputs.contains("estop"));
    station.setDi1(inputs.contains("di1"));
    station.setDi2(inputs.contains("di2"));
    station.setBond(inputs.contains("bond"));
    station.setBtype(inputs.contains("btype"));
    if (inputs.contains("sensor"))
        station.raiseAlarm(Station::SensorBreak);
    if (inputs.contains("high"))
        station.writeParameter(index(2, 0), 6000);
    run(station, 300);
    QCOMPARE(QString::number(station.statusWord(), 16), QString::number(word, 16));
}

void TestSimModel::targetBeyondTravelRaisesPcmdOver()
{
    Station station(0, Recorder::Variant::Classic);
    prepare(station, 0);
    station.writeParameter(index(2, 0), 14001);
    QCOMPARE(station.alarms(), unsigned(Station::PcmdOver));
    QVERIFY(!station.energized());
}

void TestSimModel::targetMovesOnlyInUpDownMode()
{
    Station station(0, Recorder::Variant::Classic);
    station.setServoInput(true);
    run(station, 100);
    const int rest = station.variable(1);
    station.writeParameter(index(2, 0), 3000);
    run(station, 200);
    QCOMPARE(station.variable(1), rest); // pulse/direction: the target is only stored
    station.setServoInput(false);
    station.setUpDownMode(true);
    station.setServoInput(true);
    station.writeParameter(index(2, 0), 3000);
    run(station, 200);
    QCOMPARE(station.variable(1), 3000);
}

void TestSimModel::di1HoldsAndDi2Selects()
{
    Station station(0, Recorder::Variant::Classic);
    prepare(station, 1000);
    station.writeParameter(index(3, 0), -1000);
    station.setDi1(true);
    station.writeParameter(index(2, 0), 3000);
    run(station, 200);
    QCOMPARE(station.variable(1), 1000);
    station.setDi1(false);
    station.setDi2(true);
    run(station, 200);
    QCOMPARE(station.variable(1), 3000);
    station.setDi2(false);
    run(station, 200);
    QCOMPARE(station.variable(1), -1000);
}

void TestSimModel::servoOffResetsAlarms()
{
    Station station(0, Recorder::Variant::Classic);
    prepare(station, 0);
    station.raiseAlarm(Station::OverLoad);
    run(station, 3500);
    QCOMPARE(station.alarms(), unsigned(Station::OverLoad)); // latched without the bench
    station.setServoInput(false);
    QCOMPARE(station.alarms(), 0u);
}

void TestSimModel::benchModeSwitchesServoAroundSelection()
{
    SimHarness sim({ 1 });
    Station &station = *sim.bus.station(1);
    station.setDemo(true);
    station.setServoInput(true);
    sim.exchange("ST 1");
    QCOMPARE(sim.exchange("RV 8"), QStringLiteral("0810;\r\n>")); // selectable
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
