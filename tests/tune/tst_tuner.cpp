// The tuner's rules on the simulator's library, in simulated time.
#include "SimulatedLine.h"
#include "TuneReport.h"
#include "Tuner.h"

#include <QTemporaryDir>
#include <QtTest>

#include <functional>

using Outcome = TuneResult::Outcome;
Q_DECLARE_METATYPE(Outcome)

namespace {
// A drive at station 1 ready for test motions; `onTrial` may change the bench mid-run.
struct Rig {
    Rig() : line({ 1 }), link(line, line), drive(link)
    {
        station().setUpDownMode(true);
        station().setServoInput(true);
        line.open();
        drive.address(1);
        line.advanceUs(300000);
    }
    Station &station() { return *line.station(1); }
    void setGain(int gain, int value) { drive.writeParameter(gain, std::int16_t(value)); }
    Gains held()
    {
        Gains g {};
        for (int i = 0; i < TuneGain::Count; ++i)
            g[i] = std::int16_t(station().parameters().value(std::size_t(i)));
        return g;
    }
    TuneResult tune(TuneOptions options = {})
    {
        options.backupPath = backup();
        Tuner tuner(drive, options);
        tuner.onTrial = [this](const Trial &t) {
            qInfo().noquote() << trialLine(t, { true, false, true, true });
            if (onTrial)
                onTrial(t);
        };
        tuner.abortRequested = [this] { return abort; };
        return tuner.run();
    }
    QString backup() const { return dir.filePath(QStringLiteral("backup.vcmpar")); }

    SimulatedLine line;
    CommandExchange link;
    DriveProcedures drive;
    QTemporaryDir dir;
    bool abort = false;
    std::function<void(const Trial &)> onTrial;
};
using Bench = std::function<void(Rig &)>;
} // namespace
Q_DECLARE_METATYPE(Bench)

class TestTuner final : public QObject {
    Q_OBJECT

private slots:
    // The rules a search step leans on, where a slip would send it astray.
    void rules()
    {
        // A gain always moves by a count at least, never below 0 or beyond 16 bits.
        QCOMPARE(scaledGain(3, 1.19), std::int16_t(4));
        QCOMPARE(scaledGain(3, 1 / 1.19), std::int16_t(2));
        QCOMPARE(scaledGain(1, 0.5), std::int16_t(0));
        QCOMPARE(scaledGain(30000, 2), std::int16_t(32767));
        // The step at 93 ms and twice its settling must fit three quarters of the record.
        QCOMPARE(spanFor(93, 93 + 2 * 5), QStringLiteral("200"));
        QCOMPARE(spanFor(93, 93 + 2 * 70), QStringLiteral("400"));
        QCOMPARE(spanFor(93, 600), QStringLiteral("500"));
        QCOMPARE(longerSpan("200"), std::optional<QString>("300"));
        QCOMPARE(longerSpan("500"), std::nullopt);
        // A series that never changes still spreads by the drive's resolution.
        QCOMPARE(spread({ 7, 7, 7, 7 }), 1.0);
        QCOMPARE(spread({ 0, 10, 0, 10, 0, 10, 30 }), 10.0);
        // Clean beats short; then settling; rise only within the tie.
        const TrialSummary fast { Shortfall::None, 4, 5, 3 }, slow { Shortfall::None, 6, 1, 0 };
        const TrialSummary over { Shortfall::Overshoot, 3, 1, 9, 0, 4 };
        QVERIFY(better(slow, over, 0.5) && !better(over, slow, 0.5));
        QVERIFY(better(fast, slow, 0.5) && !better(slow, fast, 0.5));
        QVERIFY(better(slow, fast, 3) && !better(fast, slow, 3));
        // Falling short: the nearer miss is better, beyond a quarter of the band; within it,
        // the milder kind of shortfall.
        const TrialSummary less { Shortfall::Overshoot, 9, 1, 7, 0, 2 };
        QVERIFY(better(less, over, 0.5) && !better(over, less, 0.5));
        const TrialSummary rings { Shortfall::Ringing, 3, 1, 2, 0, 4.4 };
        QVERIFY(better(over, rings, 0.5) && !better(rings, over, 0.5));
        QVERIFY(better(rings, TrialSummary { Shortfall::NotSettled, 3, 1, 2, 0, 5 }, 0.5));
    }

    // Each start meets the target with margin, without an alarm, and leaves the tuned gains.
    void starts_data()
    {
        QTest::addColumn<Bench>("start");
        QTest::newRow("defaults") << Bench([](Rig &) {});
        QTest::newRow("ringing") << Bench([](Rig &r) { r.setGain(TuneGain::KPP, 1000); });
        QTest::newRow("sluggish") << Bench([](Rig &r) { r.setGain(TuneGain::KVP, 20); });
        QTest::newRow("one step from an alarm")
            << Bench([](Rig &r) { r.setGain(TuneGain::KPP, 2000); });
    }
    void starts()
    {
        QFETCH(Bench, start);
        Rig rig;
        start(rig);
        const Gains before = rig.held();
        int alarms = 0;
        rig.onTrial = [&](const Trial &t) { alarms += t.summary.shortfall == Shortfall::Alarm; };
        TuneOptions save;
        save.save = true;
        const TuneResult r = rig.tune(save);
        QVERIFY2(r.outcome == Outcome::Tuned, qPrintable(r.reason));
        QCOMPARE(alarms, 0);
        QVERIFY(r.trials.size() <= 40);
        QVERIFY(r.best->summary.clean());
        QVERIFY(r.best->summary.settlingMs < r.first->summary.settlingMs
                || r.first->summary.clean());
        QCOMPARE(r.before, before);
        QCOMPARE(rig.held(), r.tuned);
        // Saved once, after the last gain write: the drive's non-volatile copy holds them.
        QVERIFY(r.applied && r.saved);
        QCOMPARE(rig.station().memory().values[0], r.tuned[0]);
        QCOMPARE(r.finalSet->values[0], std::optional<std::int16_t>(r.tuned[0]));
        // The backup holds the gains as found.
        QFile backup(rig.backup());
        QVERIFY(backup.open(QIODevice::ReadOnly));
        QVERIFY(backup.readAll().contains(QByteArray("KPP = ") + QByteArray::number(before[0])));
    }

    // Every way a run can end short: what it says, and the gains it leaves.
    void endings_data()
    {
        const auto options = [](int step, int maxTrials, bool restore) {
            TuneOptions o;
            o.save = true; // asked for, but only a run that met the target may save
            o.step = step;
            o.maxTrials = maxTrials;
            o.restore = restore;
            return o;
        };
        QTest::addColumn<Bench>("bench");
        QTest::addColumn<TuneOptions>("options");
        QTest::addColumn<Outcome>("outcome");
        QTest::addColumn<QString>("reason");
        QTest::addColumn<bool>("restored"); // the gains as found are in force again
        QTest::addColumn<int>("trials");

        const TuneOptions defaults = options(200, 40, false);
        QTest::newRow("servo off: refused, nothing written")
            << Bench([](Rig &r) { r.station().setServoInput(false); }) << defaults
            << Outcome::Refused << "no state to tune" << true << 0;
        QTest::newRow("pulse/direction: refused")
            << Bench([](Rig &r) { r.station().setUpDownMode(false); }) << defaults
            << Outcome::Refused << "source pulse" << true << 0;
        QTest::newRow("DI1 on: refused") << Bench([](Rig &r) { r.station().setDi1(true); })
                                         << defaults << Outcome::Refused << "DI1 off" << true << 0;
        QTest::newRow("an alarm: refused")
            << Bench([](Rig &r) { r.station().setEmergencyStop(true); }) << defaults
            << Outcome::Refused << "no alarm" << true << 0;
        QTest::newRow("no room for the step") << Bench([](Rig &r) {
            r.drive.writeParameter(ParameterMap::ordinal({ BoxArray::VG, 7 }), 100);
        }) << options(20000, 40, false) << Outcome::Refused
                                              << "no room" << true << 0;
        QTest::newRow("aborted: restored")
            << Bench([](Rig &r) { r.onTrial = [&r](const Trial &t) { r.abort = t.number >= 3; }; })
            << defaults << Outcome::Aborted << "aborted" << true << 3;
        QTest::newRow("an alarm mid-run: stops, restores, leaves the alarm") << Bench([](Rig &r) {
            r.onTrial = [&r](const Trial &t) {
                if (t.number == 3)
                    r.station().raiseAlarm(Station::PerrExceed);
            };
        }) << defaults << Outcome::Alarm << "no longer allows a test motion" << true
                                                                             << 4;
        QTest::newRow("silence once the gains changed: names the backup") << Bench([](Rig &r) {
            r.onTrial = [&r](const Trial &t) {
                r.station().faults().silent = t.gains != Gains { 250, 50, 100, 100 };
            };
        }) << defaults << Outcome::NoAnswer << "may be wrong; the original values are in"
                                                                          << false << -1;
        QTest::newRow("measure only: the gains as found go back")
            << Bench([](Rig &) {}) << options(200, 40, true) << Outcome::Tuned << "" << true << -1;
        QTest::newRow("two trials: no margin left to measure")
            << Bench([](Rig &) {}) << options(200, 2, false) << Outcome::NotMet
            << "kept their margin" << true << 2;
    }
    void endings()
    {
        QFETCH(Bench, bench);
        QFETCH(TuneOptions, options);
        QFETCH(Outcome, outcome);
        QFETCH(QString, reason);
        QFETCH(bool, restored);
        QFETCH(int, trials);

        Rig rig;
        const Gains before = rig.held();
        bench(rig);
        const TuneResult r = rig.tune(options);
        QVERIFY2(r.reason.contains(reason), qPrintable(r.reason));
        QCOMPARE(r.outcome, outcome);
        if (trials >= 0)
            QCOMPARE(r.trials.size(), trials);
        QCOMPARE(rig.held() == before, restored);
        QCOMPARE(r.restored, restored && trials != 0);
        QVERIFY(!r.applied);
        QCOMPARE(r.saved, outcome == Outcome::Tuned);
        QCOMPARE(rig.station().memory().values[0], r.saved ? rig.held()[0] : 250);
        // A refusal writes nothing, not even the backup.
        QCOMPARE(QFile::exists(rig.backup()), trials != 0);
        if (!restored)
            QVERIFY(r.reason.contains(rig.backup()) && !r.maybeWrong.isEmpty());
        if (outcome == Outcome::Alarm)
            QVERIFY(rig.station().alarms() != 0);
    }
};

QTEST_GUILESS_MAIN(TestTuner)
#include "tst_tuner.moc"
