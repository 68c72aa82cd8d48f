#include "SimHarness.h"

#include <QtTest>

namespace {
// The values of an upload the way the console reads them: skip three characters, then
// one value before every comma; what follows the last comma is not a value.
QStringList uploadedValues(const QString &reply)
{
    QStringList fields = reply.mid(3).split(',');
    fields.removeLast();
    return fields;
}
} // namespace

class TestSimRecorder : public QObject
{
    Q_OBJECT

private slots:
    void uploadLengthAndFrame_data();
    void uploadLengthAndFrame();
    void intervalSetsTheRecordSpan_data();
    void intervalSetsTheRecordSpan();
    void channelsAreSplitInHalves();
    void recordFaults_data();
    void recordFaults();
};

void TestSimRecorder::uploadLengthAndFrame_data()
{
    QTest::addColumn<bool>("newRecorder");
    QTest::addColumn<int>("values");
    QTest::newRow("classic") << false << 512;
    QTest::newRow("VCRR new") << true << 256;
}

void TestSimRecorder::uploadLengthAndFrame()
{
    QFETCH(bool, newRecorder);
    QFETCH(int, values);
    SimHarness sim({ 3 }, newRecorder ? std::vector<int> { 3 } : std::vector<int> {});
    sim.exchange("ST 3");
    sim.exchange("RN 0 1");
    sim.runMs(700);
    const QString reply = sim.exchange("RO");
    QVERIFY(reply.startsWith("RO:"));
    QVERIFY(reply.endsWith(",;\r\n>"));
    const QStringList fields = uploadedValues(reply);
    QCOMPARE(fields.size(), values);
    for (const QString &field : fields) {
        bool ok = false;
        field.toInt(&ok);
        QVERIFY2(ok && field.size() <= 10, qPrintable(field));
    }
    QCOMPARE(sim.exchange("RV 10").left(4).toInt(nullptr, 16) & 0x80, newRecorder ? 0x80 : 0);
}

void TestSimRecorder::intervalSetsTheRecordSpan_data()
{
    QTest::addColumn<bool>("newRecorder");
    QTest::addColumn<int>("code");
    QTest::addColumn<double>("spanMs");
    // The console's table: 100 ms is code 2 (classic) or 4 (new), 500 ms code 10 or 20.
    QTest::newRow("classic 100 ms") << false << 2 << 100.0;
    QTest::newRow("classic 500 ms") << false << 10 << 500.0;
    QTest::newRow("new 100 ms") << true << 4 << 100.0;
    QTest::newRow("new 300 ms") << true << 12 << 300.0;
}

void TestSimRecorder::intervalSetsTheRecordSpan()
{
    QFETCH(bool, newRecorder);
    QFETCH(int, code);
    QFETCH(double, spanMs);
    SimHarness sim({ 0 }, newRecorder ? std::vector<int> { 0 } : std::vector<int> {});
    sim.exchange("ST 0", 0);
    sim.exchange("WT 9 4 " + std::to_string(code), 0);
    sim.exchange("RN 0 1", 0);
    // The last sample is taken one interval before the span is over.
    const double intervalMs = spanMs / (newRecorder ? 128 : 256);
    sim.runMs(spanMs - intervalMs - 0.1);
    QCOMPARE(sim.exchange("RV 10", 0),
             QStringLiteral("%1;\r\n>").arg(newRecorder ? "0081" : "0001"));
    sim.runMs(0.2);
    QCOMPARE(sim.exchange("RV 10", 0),
             QStringLiteral("%1;\r\n>").arg(newRecorder ? "0082" : "0002"));
}

void TestSimRecorder::channelsAreSplitInHalves()
{
    SimHarness sim({ 1 });
    Station &station = *sim.bus.station(1);
    station.setUpDownMode(true);
    station.setServoInput(true);
    sim.exchange("ST 1");
    sim.exchange("WT 2 0 2000");
    sim.runMs(300);
    QCOMPARE(sim.exchange("WT 9 4 2"), QStringLiteral("RIV=2;\r\n>"));
    QCOMPARE(sim.exchange("RC 2 8"), QStringLiteral("OK;\r\n>"));
    sim.exchange("RN 0 1");
    sim.runMs(20);
    sim.exchange("WT 2 0 6000");
    sim.runMs(200);
    const QStringList fields = uploadedValues(sim.exchange("RO"));
    QCOMPARE(fields.size(), 512);
    // First half: PFBK rising from 2000 to 6000 in time order.
    QCOMPARE(fields.first().toInt(), 2000);
    QCOMPARE(fields.at(255).toInt(), 6000);
    for (int i = 1; i < 256; ++i)
        QVERIFY(fields.at(i).toInt() >= fields.at(i - 1).toInt() - 5);
    // Second half: the DIO word, servo on and no emergency stop throughout, in position
    // before and after the move but not during it.
    for (int i = 256; i < 512; ++i)
        QCOMPARE(fields.at(i).toInt() & 0x0900, 0x0900);
    QVERIFY(fields.at(256).toInt() & 0x20);
    QVERIFY(!(fields.at(256 + 80).toInt() & 0x20));
    QVERIFY(fields.at(511).toInt() & 0x20);
}

void TestSimRecorder::recordFaults_data()
{
    QTest::addColumn<bool>("shortRecord");
    QTest::addColumn<int>("values");
    QTest::addColumn<int>("widest");
    QTest::newRow("short record") << true << 256 << 5;
    QTest::newRow("long field") << false << 512 << 12;
}

void TestSimRecorder::recordFaults()
{
    QFETCH(bool, shortRecord);
    QFETCH(int, values);
    QFETCH(int, widest);
    SimHarness sim;
    sim.exchange("ST 0");
    sim.exchange("RN 0 1");
    sim.runMs(600);
    sim.bus.station(0)->faults().shortRecord = shortRecord;
    sim.bus.station(0)->faults().longField = !shortRecord;
    const QStringList fields = uploadedValues(sim.exchange("RO"));
    QCOMPARE(fields.size(), values);
    int longest = 0;
    for (const QString &field : fields)
        longest = std::max(longest, int(field.size()));
    QCOMPARE(longest, widest);
}

QTEST_GUILESS_MAIN(TestSimRecorder)
#include "tst_simrecorder.moc"
