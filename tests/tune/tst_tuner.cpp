// The tuner's rules on the simulator's library, in simulated time.
#include "SimulatedLine.h"
#include "TuneReport.h"
#include "Tuner.h"

#include <QTemporaryDir>
#include <QtTest>

#include <functional>

using GainWrites = QList<QPair<int, int>>;

namespace {
// A drive at station 1 ready for test motions, with gains of the row's choosing.
struct Rig {
    explicit Rig(const GainWrites &gains = {}) : line({ 1 }), link(line, line), drive(link)
    {
        Station &s = *line.station(1);
        s.setUpDownMode(true);
        s.setServoInput(true);
        line.open();
        drive.address(1);
        for (const auto &[ordinal, value] : gains)
            drive.writeParameter(ordinal, std::int16_t(value));
        line.advanceUs(300000);
    }
    TuneResult tune(TuneOptions options = {})
    {
        options.backupPath = dir.filePath(QStringLiteral("backup.vcmpar"));
        Tuner tuner(drive, options);
        tuner.onTrial = [this](const Trial &t) {
            qInfo().noquote() << trialLine(t, { true, false, true, true });
            if (onTrial)
                onTrial(t);
        };
        tuner.abortRequested = [this] { return abortAfter >= 0 && trials() > abortAfter; };
        TuneResult r = tuner.run();
        for (const QString &l : resultLines(r, { true, false, true, true }))
            qInfo().noquote() << l;
        qInfo().noquote() << r.reason;
        return r;
    }
    int trials() const { return counted; }
    Gains held()
    {
        Gains g {};
        const std::optional<ParameterSet> set = drive.readParameters();
        for (int i = 0; i < TuneGain::Count && set; ++i)
            g[i] = *set->values[std::size_t(i)];
        return g;
    }

    SimulatedLine line;
    CommandExchange link;
    DriveProcedures drive;
    QTemporaryDir dir;
    int abortAfter = -1;
    int counted = 0;
    std::function<void(const Trial &)> onTrial;
};
} // namespace

class TestTuner final : public QObject {
    Q_OBJECT

private slots:
    void starts_data()
    {
        QTest::addColumn<GainWrites>("gains");
        QTest::newRow("defaults") << GainWrites {};
        QTest::newRow("ringing") << GainWrites { { 0, 1000 } };
        QTest::newRow("sluggish") << GainWrites { { 2, 20 } };
        QTest::newRow("one step from an alarm") << GainWrites { { 0, 2000 } };
    }
    void starts()
    {
        QFETCH(GainWrites, gains);
        Rig rig(gains);
        QElapsedTimer timer;
        timer.start();
        const TuneResult r = rig.tune();
        qInfo() << "real ms" << timer.elapsed() << "sim s" << rig.line.nowUs() / 1e6;
        QVERIFY2(r.outcome == TuneResult::Outcome::Tuned, qPrintable(r.reason));
        QVERIFY(r.trials.size() <= 40);
    }
};

QTEST_GUILESS_MAIN(TestTuner)
#include "tst_tuner.moc"
