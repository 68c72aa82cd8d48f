#include "ControlCommands.h"
#include "SimHarness.h"
#include "StateFile.h"

#include <QTemporaryDir>
#include <QtTest>

#include <fstream>

namespace {
QString stateOf(Station &station)
{
    return QStringLiteral("%1 %2")
            .arg(station.statusWord(), 4, 16, QLatin1Char('0'))
            .arg(QString::fromStdString(station.faults().describe()));
}

void writeFile(const QString &path, const char *text)
{
    std::ofstream(path.toStdString()) << text;
}
} // namespace

class TestSimControl : public QObject
{
    Q_OBJECT

private slots:
    void commands_data();
    void commands();
    void savedParametersSurviveARestart();
    void stateFileIsReadDefensively();
};

void TestSimControl::commands_data()
{
    QTest::addColumn<QString>("command");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<QString>("station1");
    QTest::addColumn<QString>("station5");

    QTest::newRow("nothing") << "" << true << "0810 none"
                             << "0810 none";
    QTest::newRow("servo one") << "servo 1 on" << true << "0910 none"
                               << "0810 none";
    QTest::newRow("servo all") << "servo on" << true << "0910 none"
                               << "0910 none";
    QTest::newRow("emergency stop") << "estop 5 on" << true << "0810 none"
                                    << "0000 none";
    QTest::newRow("inputs") << "di1 1 on" << true << "1810 none"
                            << "0810 none";
    QTest::newRow("bond") << "bond on" << true << "0a10 none"
                          << "0a10 none";
    QTest::newRow("alarm") << "alarm 5 perr" << true << "0810 none"
                           << "0802 none";
    QTest::newRow("delay") << "fault 1 delay 250" << true << "0810 delay 250"
                           << "0810 none";
    QTest::newRow("split") << "fault 5 split-prompt 40" << true << "0810 none"
                           << "0810 split-prompt 40";
    QTest::newRow("silent") << "fault 1 silent" << true << "0810 silent"
                            << "0810 none";
    QTest::newRow("record") << "fault 1 short-record" << true << "0810 short-record"
                            << "0810 none";
    QTest::newRow("absent station") << "fault 7 silent" << false << "0810 none"
                                    << "0810 none";
    QTest::newRow("servo absent") << "servo 7 on" << false << "0810 none"
                                  << "0810 none";
    QTest::newRow("delay without ms") << "fault 1 delay" << false << "0810 none"
                                      << "0810 none";
    QTest::newRow("negative delay") << "fault 1 delay -5" << false << "0810 none"
                                    << "0810 none";
    QTest::newRow("unknown fault") << "fault 1 wobble" << false << "0810 none"
                                   << "0810 none";
    QTest::newRow("bad switch") << "servo 1 maybe" << false << "0810 none"
                                << "0810 none";
    QTest::newRow("unknown") << "frobnicate" << false << "0810 none"
                             << "0810 none";
}

void TestSimControl::commands()
{
    QFETCH(QString, command);
    QFETCH(bool, ok);
    QFETCH(QString, station1);
    QFETCH(QString, station5);
    Bus bus({ 1, 5 }, {});
    ControlCommands control(bus);
    const ControlCommands::Result result = control.apply(command.toStdString());
    QCOMPARE(result.ok, ok);
    QVERIFY(ok || !result.message.empty());
    QCOMPARE(stateOf(*bus.station(1)), station1);
    QCOMPARE(stateOf(*bus.station(5)), station5);
}

void TestSimControl::savedParametersSurviveARestart()
{
    QTemporaryDir dir;
    const QString path = dir.filePath("drives.state");
    writeFile(path, "9 KPP 777\n");
    {
        StateFile state(path.toStdString());
        QVERIFY(state.load());
        SimHarness sim({ 1, 5 });
        sim.bus.setSaveHandler([&state](const Station &station) {
            state.store(station);
            QVERIFY(state.write());
        });
        sim.exchange("ST 1");
        sim.exchange("WT 0 0 400");
        sim.exchange("UD 1");
        QCOMPARE(sim.exchange("SV"), QStringLiteral("OK;\r\n>"));
        sim.exchange("WT 0 2 150"); // changed but not saved
    }
    StateFile state(path.toStdString());
    QVERIFY(state.load());
    SimHarness sim({ 1, 5, 9 });
    for (Station *station : sim.bus.stations()) {
        if (const auto memory = state.memoryOf(station->number()))
            station->loadMemory(*memory);
    }
    sim.exchange("ST 1");
    QCOMPARE(sim.exchange("RD 0 0"), QStringLiteral("KPP=400;\r\n>"));
    QCOMPARE(sim.exchange("RD 0 2"), QStringLiteral("KVP=100;\r\n>"));
    QCOMPARE(sim.exchange("RV 10"), QStringLiteral("0040;\r\n>"));
    sim.exchange("ST 5");
    QCOMPARE(sim.exchange("RD 0 0"), QStringLiteral("KPP=250;\r\n>"));
    sim.exchange("ST 9"); // absent in the saving run, but its line was kept
    QCOMPARE(sim.exchange("RD 0 0"), QStringLiteral("KPP=777;\r\n>"));
}

void TestSimControl::stateFileIsReadDefensively()
{
    QTemporaryDir dir;
    const QString path = dir.filePath("drives.state");
    writeFile(path,
              "# comment\n"
              "2 KPP 99999\n" // clamped
              "2 VER 5\n" // read-only: not restored
              "2 KVP\n" // incomplete
              "2 NOPE 1\n" // unknown name
              "17 KPP 5\n" // no such station
              "2 KVI 1x\n"); // not a number
    StateFile state(path.toStdString());
    QVERIFY(state.load());
    QVERIFY(!state.memoryOf(17));
    Station station(2, Recorder::Variant::Classic);
    station.loadMemory(*state.memoryOf(2));
    QCOMPARE(station.parameters().value(0, 0), 20000);
    QCOMPARE(station.parameters().value(1, 4), 112);
    QCOMPARE(station.parameters().value(0, 2), 100);
    QCOMPARE(station.parameters().value(0, 3), 100);
    QVERIFY(StateFile(dir.filePath("missing").toStdString()).load());
}

QTEST_GUILESS_MAIN(TestSimControl)
#include "tst_simcontrol.moc"
