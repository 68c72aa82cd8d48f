// The tuner's rules on the simulator's library, in simulated time.
#include "ParameterTable.h"
#include "Plant.h"
#include "SimulatedLine.h"
#include "TuneReport.h"
#include "Tuner.h"

#include <QTemporaryDir>
#include <QtTest>

#include <functional>

using Outcome = TuneResult::Outcome;
Q_DECLARE_METATYPE(Outcome)

namespace {
// The line with a hand on it: a command may be changed on its way to the drive, and the reply
// to it dropped or replaced. Commands go on whole, at their carriage return.
struct Tap final : SerialPort {
    struct Rule {
        QByteArray send; // empty: the command as written
        std::optional<QByteArray> reply; // none: as the drive sends it; empty: dropped
        std::function<QByteArray(const QByteArray &)> edit; // the reply the drive sent, changed
    };
    explicit Tap(SimulatedLine &line) : line(line) { }
    void setPortName(const QString &name) override { line.setPortName(name); }
    QString portName() const override { return line.portName(); }
    bool open() override { return line.open(); }
    void close() override { line.close(); }
    bool isOpen() const override { return line.isOpen(); }
    bool isUsable() const override { return line.isUsable(); }
    QString errorString() const override { return line.errorString(); }
    void waitForInput(int ms) override { line.waitForInput(ms); }
    bool write(const QByteArray &data, int timeoutMs) override
    {
        for (const char c : data) {
            if (c != '\r') {
                pending += c;
                continue;
            }
            sent << pending;
            current = rule ? rule(pending) : std::nullopt;
            answer.clear();
            line.write((current && !current->send.isEmpty() ? current->send : pending) + '\r',
                       timeoutMs);
            pending.clear();
        }
        return true;
    }
    QByteArray readAll() override
    {
        const QByteArray in = line.readAll();
        if (!current || (!current->reply && !current->edit))
            return in;
        answer += in;
        if (!answer.contains('>'))
            return {};
        const QByteArray out = current->edit ? current->edit(answer) : *current->reply;
        current.reset();
        return out;
    }
    // How many commands sent so far begin with `prefix`.
    int count(const QByteArray &prefix) const
    {
        return int(std::count_if(sent.begin(), sent.end(),
                                 [&](const QByteArray &c) { return c.startsWith(prefix); }));
    }

    SimulatedLine &line;
    std::function<std::optional<Rule>(const QByteArray &command)> rule;
    std::optional<Rule> current;
    QByteArray pending, answer;
    QList<QByteArray> sent;
};

// A drive at station 1 ready for test motions; `onTrial` may change the bench mid-run.
struct Rig {
    explicit Rig(std::optional<std::uint32_t> plant = {}, bool newRecorder = false,
                 std::optional<Gains> gains = {})
        : line({ 1 }, newRecorder ? std::vector<int> { 1 } : std::vector<int> {}),
          tap(line),
          link(tap, line),
          drive(link)
    {
        if (plant)
            station().setPlant(Plant::family(*plant));
        station().setUpDownMode(true);
        // A family plant starts as the benchmark's do: these gains, held at 0 counts.
        for (int g = 0; gains && g < TuneGain::Count; ++g)
            station().writeParameter(*ParameterTable::indexOf(Param::Gains, g), (*gains)[g]);
        station().setServoInput(true);
        if (plant)
            station().placeActuator(0);
        line.open();
        drive.address(1);
        line.advanceUs(plant ? 500000 : 300000);
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
    std::int32_t up0() { return station().parameters().value(Param::Up, 0); }
    TuneResult tune(TuneOptions options = {})
    {
        options.backupPath = backup();
        Tuner tuner(drive, options);
        tuner.onTrial = [this](const Trial &t) {
            qInfo().noquote() << trialLine(t, { true, false, true, true });
            trials << t;
            if (onTrial)
                onTrial(t);
        };
        tuner.onCapture = [this](const Capture &c) {
            if (onCapture)
                onCapture(c);
        };
        tuner.abortRequested = [this] { return abort; };
        return tuner.run();
    }
    QString backup() const { return dir.filePath(QStringLiteral("backup.vcmpar")); }

    SimulatedLine line;
    Tap tap;
    CommandExchange link;
    DriveProcedures drive;
    QTemporaryDir dir;
    bool abort = false;
    QList<Trial> trials;
    std::function<void(const Trial &)> onTrial;
    std::function<void(const Capture &)> onCapture;
};
using Bench = std::function<void(Rig &)>;
} // namespace
Q_DECLARE_METATYPE(Bench)
Q_DECLARE_METATYPE(std::function<void(Rig &, const TuneResult &)>)

class TestTuner final : public QObject {
    Q_OBJECT

private slots:
    // The rules a search step leans on, where a slip would send it astray.
    void rules()
    {
        // A gain always moves by a count at least, never below 0 or beyond 16 bits.
        QCOMPARE(scaledGain(3, 1.19), std::int16_t(4));
        QCOMPARE(scaledGain(3, 1 / 1.19), std::int16_t(2));
        QCOMPARE(scaledGain(1, 0.5), std::int16_t(1)); // never to nothing
        QCOMPARE(scaledGain(0, 2), std::int16_t(1));
        QCOMPARE(scaledGain(30000, 2), std::int16_t(32767));
        // The step at 93 ms and twice its settling must fit three quarters of the record.
        QCOMPARE(spanFor(93, 93 + 2 * 5), QStringLiteral("200"));
        QCOMPARE(spanFor(93, 93 + 2 * 70), QStringLiteral("400"));
        QCOMPARE(spanFor(93, 600), QStringLiteral("500"));
        QCOMPARE(longerSpan("200"), std::optional<QString>("300"));
        QCOMPARE(longerSpan("500"), std::nullopt);
        // A current command breaks out where it moved, either way, from where it was held by
        // more than three times the largest read at safe gains, the one held, or one count.
        QVERIFY(!breaksOut(-200, -100, 50));
        QVERIFY(breaksOut(-401, -100, 50));
        QVERIFY(breaksOut(201, -100, 50));
        QVERIFY(!breaksOut(199, -100, 50));
        QVERIFY(breaksOut(3.5, 0.2, 0.1));
        QVERIFY(!breaksOut(3.1, 0.2, 0.1));
        // A series that never changes still spreads by the drive's resolution.
        QCOMPARE(spread({ 7, 7, 7, 7 }), 1.0);
        QCOMPARE(spread({ 0, 10, 0, 10, 0, 10, 30 }), 10.0);
        // Clean beats short; then settling; rise only within the tie.
        const TrialSummary fast { Shortfall::None, 4, 5, 3 }, slow { Shortfall::None, 6, 1, 0 };
        const TrialSummary over { Shortfall::Overshoot, 3, 1, 9, 4 };
        QVERIFY(better(slow, over, 0.5) && !better(over, slow, 0.5));
        QVERIFY(better(fast, slow, 0.5) && !better(slow, fast, 0.5));
        QVERIFY(better(slow, fast, 3) && !better(fast, slow, 3));
        // Falling short: the nearer miss is better, beyond a quarter of the band; within it,
        // the milder kind of shortfall.
        const TrialSummary less { Shortfall::Overshoot, 9, 1, 7, 2 };
        QVERIFY(better(less, over, 0.5) && !better(over, less, 0.5));
        const TrialSummary rings { Shortfall::Ringing, 3, 1, 2, 4.4 };
        QVERIFY(better(over, rings, 0.5) && !better(rings, over, 0.5));
        QVERIFY(better(rings, TrialSummary { Shortfall::NotSettled, 3, 1, 2, 5 }, 0.5));
        // Missing alike, the milder kind of shortfall is better, in this order.
        const Shortfall kinds[] = { Shortfall::Overshoot, Shortfall::NoStep, Shortfall::NotSettled,
                                    Shortfall::Ringing,   Shortfall::Chatter, Shortfall::PositionError,
                                    Shortfall::Alarm };
        for (std::size_t i = 1; i < std::size(kinds); ++i)
            QVERIFY(better({ kinds[i - 1], 3, 1, 2, 5 }, { kinds[i], 3, 1, 2, 5 }, 0.5));
    }

    // A step of 300 (band ±6) that settles, then leaves the band edge five times by `by`
    // counts: an exit counts only beyond the feedback's noise before the step and beyond one of
    // its steps.
    void bandExits_data()
    {
        QTest::addColumn<double>("noise"); // before the step, peak to peak
        QTest::addColumn<double>("steps"); // the feedback's resolution
        QTest::addColumn<double>("by"); // how far beyond the target it goes
        QTest::addColumn<int>("exits");
        QTest::newRow("fine encoder, two counts beyond the band") << 0.0 << 1.0 << 8.0 << 5;
        QTest::newRow("coarse encoder flips one step across the edge") << 0.0 << 3.0 << 9.0 << 0;
        QTest::newRow("coarse encoder, two steps beyond") << 0.0 << 3.0 << 12.0 << 5;
        QTest::newRow("within the noise before the step") << 4.0 << 1.0 << 9.0 << 0;
        QTest::newRow("beyond the noise before the step") << 4.0 << 1.0 << 16.0 << 5;
    }
    void bandExits()
    {
        QFETCH(double, noise);
        QFETCH(double, steps);
        QFETCH(double, by);
        QFETCH(int, exits);
        std::vector<double> command(256, 0), feedback(256, 0);
        for (std::size_t i = 0; i < 40; ++i)
            feedback[i] = (i % 2 ? noise : 0) * ((i / 2) % 3 == 0 ? 1 : -1) / 2;
        const std::vector<double> settle { 100, 200, 300 - steps, 300, 300 + steps, 300 };
        for (std::size_t i = 40; i < command.size(); ++i) {
            command[i] = 300;
            const std::size_t k = i - 40;
            // In, then out and back five times, then at rest for the record's last half.
            feedback[i] = k < settle.size() ? settle[k]
                : k < 60 && k % 10 == 5 ? 300 + by
                : 300 + 6 * (k < 60);
        }
        const StepCheck c = checkStep(command, feedback, 0.5);
        QVERIFY(c.figures.ok());
        QCOMPARE(c.bandExits, exits);
        // Ten samples apart.
        QCOMPARE(c.exitIntervalMs, exits > 1 ? 5.0 : 0.0);
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

    // Family plants, each of a kind the default plant is not, from a start that needs the
    // tuner to find its way: no alarm, and the target met with margin.
    void familyPlants_data()
    {
        QTest::addColumn<int>("seed");
        QTest::addColumn<Gains>("start");
        QTest::addColumn<int>("step"); // the least the plant's noise and resolution allow
        QTest::newRow("a resonance at 368 Hz limits KVP") << 5 << Gains { 696, 50, 602, 1 } << 200;
        QTest::newRow("noisy current at rest, 25 mA, KPP and KVP a quarter")
            << 4 << Gains { 84, 50, 82, 228 } << 400;
        QTest::newRow("a tiny integral gain, a twenty-fifth")
            << 4 << Gains { 336, 50, 329, 9 } << 400;
        QTest::newRow("the fastest set lacks its margin: eased until it keeps it")
            << 16 << Gains { 71, 50, 993, 1 } << 500;
        QTest::newRow("the integral as a gain of its own")
            << 8 << Gains { 2011, 50, 1476, 12 } << 300;
        QTest::newRow("gains scaled 1.8 and 1.2, KPP near an alarm")
            << 6 << Gains { 922, 50, 139, 1 } << 300;
        QTest::newRow("stiction holds a margin set short of the band once")
            << 41 << Gains { 1410, 50, 23, 2 } << 500;
        QTest::newRow("more KVP calms a ringing start, then rings: no further that way")
            << 31 << Gains { 1922, 50, 285, 2 } << 500;
        QTest::newRow("the first way ends with trials left: again from the nearest miss")
            << 26 << Gains { 883, 50, 50, 31 } << 400;
        QTest::newRow("what the way found fails when measured again: again from a miss")
            << 45 << Gains { 143, 50, 238, 3 } << 400;
    }
    void familyPlants()
    {
        QFETCH(int, seed);
        QFETCH(Gains, start);
        QFETCH(int, step);
        Rig rig(std::uint32_t(seed), false, start);
        TuneOptions options;
        options.step = step;
        const TuneResult r = rig.tune(options);
        for (const Trial &t : rig.trials)
            QVERIFY2(t.summary.shortfall != Shortfall::Alarm,
                     qPrintable(trialLine(t, { true, false, true, true })));
        QCOMPARE(rig.station().alarms(), 0);
        QVERIFY2(r.outcome == Outcome::Tuned, qPrintable(r.reason));
        QVERIFY(r.best->summary.clean() && r.applied);
        QVERIFY(int(r.trials.size()) <= options.maxTrials);
        // The search moved to a shorter span measures a set tried before there first: nothing
        // is judged against figures from a coarser record.
        for (auto t = rig.trials.begin() + 1; t != rig.trials.end(); ++t) {
            if (t->kind == Trial::Kind::Search && t->span != (t - 1)->span)
                QVERIFY2(std::any_of(rig.trials.begin(), t,
                                     [&](const Trial &old) { return old.gains == t->gains; }),
                         qPrintable(trialLine(*t, { true, false, true, true })));
        }
    }

    // What a run proves, each against a drive that gives it cause to doubt: the result says
    // only what the drive confirmed, and the drive is left as found.
    void proofs_data()
    {
        using Check = std::function<void(Rig &, const TuneResult &)>;
        QTest::addColumn<Bench>("bench");
        QTest::addColumn<TuneOptions>("options");
        QTest::addColumn<Check>("check");
        const auto contains = [](const QStringList &lines, const QString &text) {
            return std::any_of(lines.begin(), lines.end(),
                               [&](const QString &l) { return l.contains(text); });
        };
        const Gains found { 250, 50, 100, 100 };
        const auto reply = [](const char *text) { return Tap::Rule { {}, QByteArray(text) }; };

        // The default start's step lags by about 80 counts: beyond 70, short of the 140 that trip.
        QTest::newRow("the position error is judged against half of the drive's VPX")
            << Bench([](Rig &r) {
                   r.drive.writeParameter(ParameterMap::ordinal({ BoxArray::VG, 2 }), 140);
                   r.line.advanceUs(100000);
               })
            << TuneOptions() << Check([](Rig &, const TuneResult &t) {
                   QVERIFY(!t.trials.isEmpty());
                   QCOMPARE(t.trials.first().summary.shortfall, Shortfall::PositionError);
               });
        QTest::newRow("a gain write without answer: written again, read back, restored") << Bench(
            [](Rig &r) {
                r.tap.rule = [&r](const QByteArray &c) -> std::optional<Tap::Rule> {
                    if (c.startsWith("WT 0 ") && r.tap.count("WT 0 ") == 1)
                        return Tap::Rule { {}, QByteArray() };
                    return std::nullopt;
                };
            }) << TuneOptions() << Check([=](Rig &r, const TuneResult &t) {
            QCOMPARE(t.outcome, Outcome::NoAnswer);
            QVERIFY2(t.reason.contains(QRegularExpression("\"WT 0 \\d \\d+\" \\(K[PV][PI]\\)")),
                     qPrintable(t.reason));
            QVERIFY(t.restored && t.maybeWrong.isEmpty());
            QCOMPARE(r.held(), found);
        });
        QTest::newRow("an echo that cannot be read: the gain read back, the run goes on")
            << Bench([=](Rig &r) {
                   r.tap.rule = [&r, reply](const QByteArray &c) -> std::optional<Tap::Rule> {
                       if (c.startsWith("WT 0 ") && r.tap.count("WT 0 ") == 1)
                           return reply("K?P=x;\r\n>");
                       return std::nullopt;
                   };
               })
            << TuneOptions() << Check([](Rig &r, const TuneResult &t) {
                   QCOMPARE(t.outcome, Outcome::Tuned);
                   QVERIFY(t.applied && r.held() == t.tuned);
                   // The gain array as found and at the end, and the one gain read back.
                   QCOMPARE(r.tap.count("RD 0 "), 8 + 8 + 1);
               });
        // Once a gain has changed, the current command reads far beyond anything held before.
        QTest::newRow("a current command that breaks out while holding: no motion at that set")
            << Bench([=](Rig &r) {
                   r.tap.rule = [&r, reply](const QByteArray &c) -> std::optional<Tap::Rule> {
                       if (c == "RV 6" && r.tap.count("WT 0 ") > 0)
                           return reply("9000;\r\n>");
                       return std::nullopt;
                   };
               })
            << TuneOptions() << Check([](Rig &, const TuneResult &t) {
                   const auto moved
                       = std::find_if(t.trials.begin(), t.trials.end(), [&](const Trial &x) {
                             return x.gains != t.trials.first().gains;
                         });
                   QVERIFY(moved != t.trials.end());
                   QCOMPARE(moved->summary.shortfall, Shortfall::Chatter);
                   QVERIFY(!moved->up.figures.ok() && !moved->down.figures.ok());
               });
        // Once a gain has changed, the feedback jumps by 10 counts between samples before each
        // step: the loop swings while it holds, whatever the step then shows.
        QTest::newRow("the feedback swings before the step: that set goes")
            << Bench([](Rig &r) {
                   r.tap.rule = [&r](const QByteArray &c) -> std::optional<Tap::Rule> {
                       if (c != "RO" || r.tap.count("WT 0 ") == 0)
                           return std::nullopt;
                       return Tap::Rule { {}, {}, [](const QByteArray &reply) {
                                             const int end = reply.lastIndexOf(',');
                                             QList<QByteArray> v = reply.mid(3, end - 3).split(',');
                                             const int half = int(v.size()) / 2;
                                             for (int i = 0; i < half && v[i] == v[0]; ++i)
                                                 v[half + i] = QByteArray::number(
                                                     v[half + i].toInt() + (i % 2 ? 5 : -5));
                                             return reply.left(3) + v.join(',') + reply.mid(end);
                                         } };
                   };
               })
            << TuneOptions() << Check([](Rig &, const TuneResult &t) {
                   const auto swung
                       = std::find_if(t.trials.begin(), t.trials.end(), [](const Trial &x) {
                             return x.summary.shortfall == Shortfall::Chatter;
                         });
                   QVERIFY(swung != t.trials.end());
                   QVERIFY(swung->up.figures.ok());
                   QVERIFY(swung->gains != t.trials.first().gains);
               });
        QTest::newRow("the final read-back fails: the gains that may be wrong and the backup")
            << Bench([](Rig &r) {
                   r.tap.rule = [&r](const QByteArray &c) -> std::optional<Tap::Rule> {
                       if (c.startsWith("RD ") && r.tap.count("RD ") > 25)
                           return Tap::Rule { {}, QByteArray() };
                       return std::nullopt;
                   };
               })
            << TuneOptions() << Check([=](Rig &r, const TuneResult &t) {
                   QVERIFY(!t.applied && !t.restored && !t.finalSet);
                   QCOMPARE(t.outcome, Outcome::NoAnswer);
                   QCOMPARE(t.maybeWrong, QStringList({ "KPP", "KVP", "KVI" }));
                   QVERIFY(t.reason.contains("could not be read back")
                           && t.reason.contains("KPP KVP KVI may be wrong")
                           && t.reason.contains(r.backup()));
               });
        QTest::newRow("a clamped gain: the range's end kept, not measured twice, and told")
            << Bench([](Rig &r) {
                   r.tap.rule = [](const QByteArray &c) -> std::optional<Tap::Rule> {
                       if (c.startsWith("WT 0 2 ") && c.mid(7).toInt() > 150)
                           return Tap::Rule { "WT 0 2 150", std::nullopt };
                       return std::nullopt;
                   };
               })
            << TuneOptions() << Check([=](Rig &r, const TuneResult &t) {
                   QVERIFY2(contains(t.caveats, "KVP: the drive holds 150 where"),
                            qPrintable(t.caveats.join('\n')));
                   for (const Trial &trial : r.trials)
                       QVERIFY(trial.gains[TuneGain::KVP] <= 150);
                   // Asked beyond it once: that showed where the range ends.
                   QCOMPARE(std::count_if(r.tap.sent.begin(), r.tap.sent.end(),
                                          [](const QByteArray &c) {
                                              return c.startsWith("WT 0 2 ")
                                                  && c.mid(7).toInt() > 150;
                                          }),
                            1);
                   QVERIFY(contains(endLines(t), "caveat: KVP: the drive holds 150"));
               });
        QTest::newRow("a garbled echo on a raise: read back, no range's end") << Bench([=](Rig &r) {
            r.tap.rule = [&r, reply](const QByteArray &c) -> std::optional<Tap::Rule> {
                if (c.startsWith("WT 0 2 ") && r.tap.count("WT 0 2 ") == 1)
                    return reply("KVP=3;\r\n>");
                return std::nullopt;
            };
        }) << TuneOptions() << Check([](Rig &r, const TuneResult &t) {
            QCOMPARE(t.outcome, Outcome::Tuned);
            QVERIFY(t.caveats.filter("end of its range").isEmpty());
            for (const Trial &trial : r.trials)
                QVERIFY(trial.gains[TuneGain::KVP] != 3);
        });
        TuneOptions save;
        save.save = true;
        QTest::newRow("\"SV\" refused: not saved, and said") << Bench([=](Rig &r) {
            r.tap.rule = [reply](const QByteArray &c) -> std::optional<Tap::Rule> {
                return c == "SV" ? std::optional(reply("?4;\r\n>")) : std::nullopt;
            };
        }) << save << Check([](Rig &r, const TuneResult &t) {
            QCOMPARE(t.outcome, Outcome::Refused);
            QVERIFY(!t.saved && t.applied && t.reason.contains("refused \"SV\": it answered ?4"));
            QCOMPARE(r.tap.count("SV"), 1);
        });
        QTest::newRow("aborted between the way out and back: brought back, and said")
            << Bench([](Rig &r) {
                   r.onCapture = [&r](const Capture &c) {
                       // The way out of the third trial: the command ends away from the start.
                       const int half = c.shape.recordLength / 2;
                       if (r.trials.size() == 2 && c.first == "PCMD"
                           && std::abs(c.record.raw[half - 1] - c.record.raw[0]) > 100)
                           r.abort = true;
                   };
               })
            << TuneOptions() << Check([=](Rig &r, const TuneResult &t) {
                   QCOMPARE(t.outcome, Outcome::Aborted);
                   QVERIFY(t.place.returned && t.place.command == t.place.home);
                   QVERIFY(std::abs(r.station().variable(1) - t.place.home) < 20);
                   QVERIFY(contains(endLines(t), "the actuator is back where it started"));
                   QVERIFY(t.restored);
               });
        // The drive's command moved after the run's last motion home: sent home again.
        QTest::newRow("aborted with the command elsewhere: brought back")
            << Bench([](Rig &r) {
                   r.onTrial = [&r](const Trial &t) {
                       if (t.number != 3)
                           return;
                       r.station().writeParameter(*ParameterTable::indexOf(Param::Up, 0),
                                                  r.up0() + 40);
                       r.line.advanceUs(200000);
                       r.abort = true;
                   };
               })
            << TuneOptions() << Check([=](Rig &, const TuneResult &t) {
                   QCOMPARE(t.outcome, Outcome::Aborted);
                   QVERIFY(t.place.returned && t.place.command == t.place.home);
               });
        QTest::newRow("the recorder the mode word names: the new one")
            << Bench([](Rig &) {}) << TuneOptions()
            << Check([](Rig &, const TuneResult &t) { QCOMPARE(t.outcome, Outcome::Tuned); });
        QTest::newRow("a record cut short names the recorder, and switches to none")
            << Bench([](Rig &r) { r.station().faults().shortRecord = true; }) << TuneOptions()
            << Check([](Rig &r, const TuneResult &t) {
                   QCOMPARE(t.outcome, Outcome::Refused);
                   QVERIFY2(t.reason.contains("mode word"), qPrintable(t.reason));
                   QCOMPARE(r.tap.count("WT 9 4 4"), 0); // never the other recorder's codes
               });
        QTest::newRow("UP0 found where the actuator held: put back") << Bench([](Rig &r) {
            r.drive.writeParameter(ParameterMap::ordinal({ BoxArray::POS, 0 }),
                                   std::int16_t(r.station().variable(0)));
            r.line.advanceUs(200000);
        }) << TuneOptions() << Check([=](Rig &r, const TuneResult &t) {
            QVERIFY(t.place.targetPutBack && t.place.returned);
            QCOMPARE(r.up0(), t.place.targetFound);
            QVERIFY(contains(endLines(t), "UP0 is"));
            QCOMPARE(resultJson(t)["motion_target"].toObject()["put_back"].toBool(), true);
            // A margin set is approached in thirds of the 30 %: KPP never jumps further from
            // the sets measured before it.
            for (int i = 0; i < t.trials.size(); ++i) {
                if (t.trials[i].kind != Trial::Kind::Margin)
                    continue;
                const double kpp = t.trials[i].gains[TuneGain::KPP];
                QVERIFY(std::any_of(t.trials.begin(), t.trials.begin() + i, [&](const Trial &b) {
                    return kpp <= b.gains[TuneGain::KPP] * std::cbrt(MarginFactor) + 1;
                }));
            }
            // Each trial's figures, to a hundredth.
            const QJsonArray trials = resultJson(t)["trials"].toArray();
            QCOMPARE(trials.size(), t.trials.size());
            for (int i = 0; i < trials.size(); ++i) {
                const StepFigures &f = t.trials[i].up.figures;
                const QJsonObject out = trials[i].toObject()["out"].toObject();
                if (f.riseMs)
                    QVERIFY(std::abs(out["rise_ms"].toDouble() - *f.riseMs) <= 0.005);
                QVERIFY(std::abs(out["overshoot_percent"].toDouble() - f.overshootPercent)
                        <= 0.005);
            }
        });
        QTest::newRow("UP0 found elsewhere: left at the start, where it would not move, and said")
            << Bench([](Rig &) {}) << TuneOptions() << Check([=](Rig &r, const TuneResult &t) {
                   QVERIFY(!t.place.targetPutBack && t.place.returned);
                   QCOMPARE(r.up0(), t.place.home);
                   QCOMPARE(t.place.targetFound, 0);
                   QVERIFY(contains(endLines(t),
                                    QString("UP0 holds %1, not 0 as found").arg(t.place.home)));
                   QCOMPARE(resultJson(t)["position"].toObject()["returned"].toBool(), true);
                   QCOMPARE(resultJson(t)["motion_target"].toObject()["put_back"].toBool(), false);
               });
        TuneOptions kppKvi;
        kppKvi.tuned = { true, false, false, true };
        QTest::newRow("a gain that may not change is never written, the margin's own included")
            << Bench([](Rig &) {}) << kppKvi << Check([](Rig &r, const TuneResult &t) {
                   QCOMPARE(r.tap.count("WT 0 2 "), 0);
                   QCOMPARE(t.tuned[TuneGain::KVP], std::int16_t(100));
                   // The margin was measured all the same: KPP alone, 30 % higher.
                   QVERIFY(t.outcome != Outcome::Tuned
                           || std::any_of(r.trials.begin(), r.trials.end(), [&](const Trial &m) {
                                  return marginKept(m.summary, TuneOptions().overshootPercent)
                                      && m.gains[TuneGain::KPP]
                                      >= scaledGain(t.tuned[TuneGain::KPP], MarginFactor)
                                      && m.gains[TuneGain::KVI] == t.tuned[TuneGain::KVI];
                              }));
               });
        TuneOptions kviOnly;
        kviOnly.tuned = { false, false, false, true };
        QTest::newRow("no gain the margin raises may change: no margin measured, and said")
            << Bench([](Rig &) {}) << kviOnly << Check([=](Rig &r, const TuneResult &t) {
                   QCOMPARE(r.tap.count("WT 0 0 ") + r.tap.count("WT 0 2 "), 0);
                   QVERIFY(t.outcome != Outcome::Tuned
                           || contains(t.caveats, "no margin was measured"));
               });
        QTest::newRow("figures the recorder cannot resolve: not refined on, a caveat")
            << Bench([](Rig &) {}) << TuneOptions() << Check([=](Rig &, const TuneResult &t) {
                   QVERIFY(contains(t.caveats, "cannot resolve the response"));
                   QVERIFY(t.best->summary.unresolved);
                   QVERIFY(contains(resultJson(t)["caveats"].toVariant().toStringList(),
                                    "cannot resolve"));
               });
    }
    void proofs()
    {
        using Check = std::function<void(Rig &, const TuneResult &)>;
        QFETCH(Bench, bench);
        QFETCH(TuneOptions, options);
        QFETCH(Check, check);
        Rig rig({}, QByteArray(QTest::currentDataTag()).contains("new one"));
        bench(rig);
        const TuneResult r = rig.tune(options);
        check(rig, r);
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
        QTest::newRow("a parameter that cannot be read: refused, nothing written")
            << Bench([](Rig &r) {
                   r.tap.rule = [&r](const QByteArray &c) -> std::optional<Tap::Rule> {
                       if (c.startsWith("RD ") && r.tap.count("RD ") == 1)
                           return Tap::Rule { {}, QByteArray("K?P=x;\r\n>"), {} };
                       return std::nullopt;
                   };
               })
            << defaults << Outcome::Refused << "could not be read; nothing was written" << true
            << 0;
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

    // A step whose settling band would lie within four estimates of the feedback's noise while
    // holding is refused before any gain is written, with the least step that would do (on a
    // plant whose encoder noise, 2.4 counts, outweighs its resolution, one count).
    void noisyFeedback_data()
    {
        QTest::addColumn<double>("share"); // of the least step the tool asks for
        QTest::addColumn<bool>("started");
        QTest::newRow("a tenth of it: refused") << 0.1 << false;
        QTest::newRow("nine tenths: refused") << 0.9 << false;
        QTest::newRow("the least step: measured") << 1.0 << true;
    }
    void noisyFeedback()
    {
        QFETCH(double, share);
        QFETCH(bool, started);
        struct Start {
            bool ok;
            int least;
            QString reason;
            int writes; // of gains
        };
        const auto start = [](int step) {
            Rig rig(15);
            TuneOptions options;
            options.step = step;
            options.backupPath = rig.backup();
            Tuner tuner(rig.drive, options);
            const bool ok = tuner.start();
            return Start { ok, tuner.leastStep(), tuner.result().reason, rig.tap.count("WT 0 ") };
        };
        const Start tiny = start(10);
        QVERIFY(!tiny.ok && tiny.writes == 0 && tiny.least > 100);
        QVERIFY2(tiny.reason.contains("is too large for a step of 10 counts")
                     && tiny.reason.contains(QStringLiteral("use a step of %1 counts or more")
                                                 .arg(int(std::ceil(tiny.least / 10.0)) * 10)),
                 qPrintable(tiny.reason));
        // The least step's 2 % band spans four of the noise estimates the message gives.
        const QRegularExpressionMatch noise
            = QRegularExpression(R"(noise while holding \(([0-9.]+) counts)").match(tiny.reason);
        QVERIFY(noise.hasMatch());
        const double told = noise.captured(1).toDouble();
        QVERIFY(tiny.least * 0.02 >= 4 * (told - 0.05)
                && tiny.least * 0.02 <= 4 * (told + 0.05) + 0.02);
        const Start at = start(int(std::ceil(share * tiny.least)));
        QCOMPARE(at.ok, started);
        QCOMPARE(at.least, tiny.least);
        QCOMPARE(at.writes, 0); // the start writes no gain either way
    }
};

QTEST_GUILESS_MAIN(TestTuner)
#include "tst_tuner.moc"
