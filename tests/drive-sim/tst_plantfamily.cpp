// The simulator's plants: the default one stays exactly as it was, and the seeded family picks
// the same plant for the same seed, within its ranges, stable once well tuned.
#include "ControlCommands.h"
#include "Plant.h"
#include "ServoModel.h"
#include "SimHarness.h"

#include <QProcess>
#include <QtTest>

#include <cmath>
#include <cstdint>

namespace {
// Every variable and the status word, step by step, folded into one number: a change of the
// model that shows anywhere in what the drive reports changes it.
struct Trace {
    std::uint64_t hash = 1469598103934665603ULL;
    void add(std::int64_t v)
    {
        for (int i = 0; i < 8; ++i) {
            hash ^= std::uint64_t(v >> (8 * i)) & 0xFF;
            hash *= 1099511628211ULL;
        }
    }
    void add(const Station &s)
    {
        for (int i = 0; i < 8; ++i)
            add(s.variable(i));
        add(s.statusWord());
    }
};

// Station 0 in up/down mode, holding after its servo came on, with these gains.
void prepare(Station &s, int kpp, int kvp, int kvi)
{
    s.setUpDownMode(true);
    s.writeParameter(*ParameterTable::indexOf(0, 0), kpp);
    s.writeParameter(*ParameterTable::indexOf(0, 2), kvp);
    s.writeParameter(*ParameterTable::indexOf(0, 3), kvi);
    s.setServoInput(true);
}

void run(Station &s, Trace &trace, int steps)
{
    for (int i = 0; i < steps; ++i) {
        s.step();
        trace.add(s);
    }
}

// A hold, a step out and back: what a plant does with these gains, as one number.
std::uint64_t stepTrace(const Plant &plant, int kpp, int kvp, int kvi)
{
    Station s(0, Recorder::Variant::Classic);
    s.setPlant(plant);
    prepare(s, kpp, kvp, kvi);
    s.placeActuator(0);
    Trace trace;
    run(s, trace, 4096);
    s.writeParameter(*ParameterTable::indexOf(2, 0), 200);
    run(s, trace, 4096);
    s.writeParameter(*ParameterTable::indexOf(2, 0), 0);
    run(s, trace, 4096);
    return trace.hash;
}

// Lowest and highest of a property over many plants.
struct Span {
    double low = 1e300, high = -1e300;
    void add(double v)
    {
        low = std::min(low, v);
        high = std::max(high, v);
    }
    // Within [from, to], and reaching within `near` of both ends.
    bool spans(double from, double to, double near) const
    {
        return low >= from && high <= to && low <= from + near && high >= to - near;
    }
};

const QString End = QStringLiteral(";\r\n>");
} // namespace

class TestPlantFamily : public QObject {
    Q_OBJECT

private slots:
    // The default plant through a hold, a step out and back, as it ran before the family came:
    // the numbers were taken from that model.
    void defaultPlant_data()
    {
        QTest::addColumn<int>("kpp");
        QTest::addColumn<int>("kvp");
        QTest::addColumn<int>("kvi");
        QTest::addColumn<int>("step");
        QTest::addColumn<quint64>("hash");
        QTest::newRow("defaults, 0.2 mm")
            << 250 << 100 << 100 << 200 << quint64(6490448859709283415ULL);
        QTest::newRow("defaults, 8 mm")
            << 250 << 100 << 100 << 8000 << quint64(13002392733943281346ULL);
        QTest::newRow("KPP 2000 rings")
            << 2000 << 100 << 100 << 200 << quint64(9038180758833229252ULL);
        QTest::newRow("KPP 3000, Over Load")
            << 3000 << 100 << 100 << 8000 << quint64(1258269823717698434ULL);
        QTest::newRow("KVP 1500 chatters")
            << 250 << 1500 << 100 << 200 << quint64(3370329312465432498ULL);
        QTest::newRow("KVI 0 stops short")
            << 250 << 100 << 0 << 200 << quint64(14893490890136542745ULL);
    }
    void defaultPlant()
    {
        QFETCH(int, kpp);
        QFETCH(int, kvp);
        QFETCH(int, kvi);
        QFETCH(int, step);
        QFETCH(quint64, hash);
        Station s(0, Recorder::Variant::Classic);
        Trace trace;
        prepare(s, kpp, kvp, kvi);
        run(s, trace, 4096);
        s.writeParameter(*ParameterTable::indexOf(2, 0), 2000);
        run(s, trace, 8192);
        s.writeParameter(*ParameterTable::indexOf(2, 0), 2000 + step);
        run(s, trace, 8192);
        s.writeParameter(*ParameterTable::indexOf(2, 0), 2000);
        run(s, trace, 8192);
        QCOMPARE(quint64(trace.hash), hash);
    }

    // A seed picks the same plant every time, and it behaves the same; another seed does not.
    void seeds()
    {
        for (std::uint32_t seed : { 0u, 7u, 4294967295u }) {
            QCOMPARE(Plant::family(seed).describe(), Plant::family(seed).describe());
            QCOMPARE(stepTrace(Plant::family(seed), 300, 100, 50),
                     stepTrace(Plant::family(seed), 300, 100, 50));
            QVERIFY(Plant::family(seed).describe() != Plant::family(seed + 1).describe());
        }
        QVERIFY(stepTrace(Plant::family(7), 300, 100, 50)
                != stepTrace(Plant::family(8), 300, 100, 50));
        // Pinned, so that a change to the draws is a decision and not an accident.
        const Plant p = Plant::family(3);
        QCOMPARE(qRound(p.resonanceHz), 989);
        QCOMPARE(p.quantisation, 2);
        QCOMPARE(p.delaySamples, 1);
        QVERIFY(!p.integralAsGain);
    }

    // Over many seeds every property stays within its range and spans it.
    void ranges()
    {
        Span resonance, damping, ratio, noise, quantisation, currentNoise, delay, coulomb, stiction,
            viscous, gravity, spring, peak, supply, scale;
        int loaded = 0, gainForm = 0;
        const int count = 3000;
        for (std::uint32_t seed = 1; seed <= count; ++seed) {
            const Plant p = Plant::family(seed);
            if (p.hasLoad()) {
                ++loaded;
                resonance.add(p.resonanceHz);
                damping.add(p.dampingRatio);
                ratio.add(p.massRatio());
            }
            QVERIFY(p.encoderFeedback);
            noise.add(p.encoderNoise);
            quantisation.add(p.quantisation);
            currentNoise.add(p.currentNoise);
            delay.add(p.delaySamples);
            coulomb.add(p.coulombFriction / p.peakForce());
            stiction.add(p.stiction / p.peakForce());
            QVERIFY(p.stiction >= p.coulombFriction);
            viscous.add(p.viscousDamping);
            gravity.add(p.gravity);
            spring.add(p.springRate);
            peak.add(p.amplifierPeak);
            supply.add(p.supplyVoltage);
            for (double s : p.gainScale)
                scale.add(s);
            gainForm += p.integralAsGain;
            QVERIFY(std::abs(p.restPosition()) <= p.travel);
        }
        QVERIFY(resonance.spans(200, 3000, 10));
        QVERIFY(damping.spans(0.005, 0.1, 0.001));
        QVERIFY(ratio.spans(0.1, 2, 0.01));
        QVERIFY(noise.spans(0, 3, 0.01));
        QVERIFY(quantisation.spans(1, 4, 0));
        QVERIFY(currentNoise.spans(0, 0.03, 0.001));
        QVERIFY(delay.spans(0, Plant::FamilyDelayLimit, 0));
        QVERIFY(coulomb.spans(0, 0.05, 0.001));
        QVERIFY(stiction.spans(0, 0.05, 0.005));
        QVERIFY(viscous.spans(0.2, 5, 0.05));
        QVERIFY(gravity.spans(0, 9.81, 0.05));
        QVERIFY(spring.spans(0, 200, 1));
        QVERIFY(peak.spans(2, 5, 0.05));
        QVERIFY(supply.spans(12, 48, 0.5));
        QVERIFY(scale.spans(0.25, 4, 0.01));
        // Most plants carry a load, some do not; both integral forms are common.
        QVERIFY(loaded > count * 0.7 && loaded < count * 0.9);
        QVERIFY(gainForm > count * 0.4 && gainForm < count * 0.6);
    }

    // What the drive makes of a gain: a plant whose KPP counts double does with KPP 150 exactly
    // what one with the plain unit does with 300; the same for KVP and KVI.
    void gainScales_data()
    {
        QTest::addColumn<int>("gain");
        QTest::newRow("KPP") << int(Plant::PositionGain);
        QTest::newRow("KVP") << int(Plant::VelocityGain);
        QTest::newRow("KVI") << int(Plant::IntegralGain);
    }
    void gainScales()
    {
        QFETCH(int, gain);
        for (bool asGain : { false, true }) {
            Plant plain = Plant::family(11);
            plain.gainScale = { 1, 1, 1 };
            plain.integralAsGain = asGain;
            Plant doubled = plain;
            doubled.gainScale[std::size_t(gain)] = 2;
            int halved[3] = { 300, 100, 50 };
            halved[gain] /= 2;
            QCOMPARE(stepTrace(doubled, halved[0], halved[1], halved[2]),
                     stepTrace(plain, 300, 100, 50));
            QVERIFY(stepTrace(plain, halved[0], halved[1], halved[2])
                    != stepTrace(plain, 300, 100, 50));
        }
    }

    // The two integral forms: as a corner frequency KVP multiplies the integral too, so with
    // KVP 0 no current flows; as a gain of its own the integral still pushes.
    void integralForms_data()
    {
        QTest::addColumn<bool>("asGain");
        QTest::newRow("corner frequency") << false;
        QTest::newRow("integral gain") << true;
    }
    void integralForms()
    {
        QFETCH(bool, asGain);
        Plant p = Plant::family(5);
        p.integralAsGain = asGain;
        p.gravity = 9.81; // an error to integrate while holding, and nothing to stick
        p.stiction = p.coulombFriction = 0;
        Station s(0, Recorder::Variant::Classic);
        s.setPlant(p);
        prepare(s, 300, 0, 200);
        s.placeActuator(0);
        Trace trace;
        run(s, trace, 100); // 5 ms: falling, not yet far
        QCOMPARE(s.alarms(), 0u);
        QCOMPARE(s.variable(6) != 0, asGain);
    }

    // A new plant starts at rest where its weight and spring put it, energised again if the
    // inputs say so; a bench may place it elsewhere, where it then holds.
    void replant()
    {
        Station s(0, Recorder::Variant::Classic);
        prepare(s, 250, 100, 100);
        s.placeActuator(1000);
        QCOMPARE(s.variable(0), 1000);
        QCOMPARE(s.variable(1), 1000);
        const Plant p = Plant::family(4);
        s.setPlant(p);
        QVERIFY(s.energized());
        QCOMPARE(s.plant().seed, std::optional<std::uint32_t>(4));
        QCOMPARE(s.variable(1), qRound(p.restPosition() * 1e6));
        QCOMPARE(s.variable(0), s.variable(1));
        s.setServoInput(false);
        s.setPlant(Plant());
        QVERIFY(!s.energized());
        QCOMPARE(s.variable(1), -4905);
    }

    // The loops see the encoder: whole steps of its resolution.
    void encoder()
    {
        for (std::uint32_t seed = 1; seed <= 12; ++seed) {
            const Plant p = Plant::family(seed);
            Station s(0, Recorder::Variant::Classic);
            s.setPlant(p);
            prepare(s, int(300 / p.gainScale[0]), int(100 / p.gainScale[1]), 10);
            s.placeActuator(0);
            s.writeParameter(*ParameterTable::indexOf(2, 0), 150);
            for (int i = 0; i < 2048; ++i) {
                s.step();
                QVERIFY2(s.variable(1) % p.quantisation == 0, qPrintable(QString::number(seed)));
            }
        }
    }

    // The stiffest joint the family has, barely damped: integrated finely enough, it rings at
    // its own frequency and dies away instead of growing.
    void resonance()
    {
        Plant p;
        p.loadMass = 0.1;
        p.resonanceHz = 3000;
        p.dampingRatio = 0.005;
        p.gravity = 0;
        p.springRate = p.viscousDamping = p.coulombFriction = p.stiction = 0;
        ServoModel model(p);
        ServoSettings settings;
        settings.positionGain = settings.velocityGain = 0;
        settings.gravityCompensation = 1.0; // a current step shakes the joint
        model.setSettings(settings);
        model.setEnabled(true);
        const int steps = ServoModel::StepsPerSecond / 50; // 20 ms
        std::vector<double> stretch;
        for (int i = 0; i < steps; ++i) {
            model.step();
            stretch.push_back(model.loadPosition() - model.position());
        }
        // The stretch swings about what the acceleration holds it at: crossings of that level.
        const double level = -p.loadMass * (5.0 * 1.0 / p.totalMass()) / p.jointRate();
        int crossings = 0;
        for (int i = steps / 4; i + 1 < steps; ++i)
            crossings += (stretch[i] - level) * (stretch[i + 1] - level) < 0;
        const double seconds = (steps - steps / 4) * ServoModel::StepSeconds;
        const double hz = crossings / 2.0 / seconds;
        QVERIFY2(std::abs(hz - 3000) < 90, qPrintable(QString::number(hz)));
        const auto swing = [&](int from, int to) {
            double most = 0;
            for (int i = from; i < to; ++i)
                most = std::max(most, std::abs(stretch[i] - level));
            return most;
        };
        QVERIFY(swing(steps / 2, steps) < swing(steps / 4, steps / 2));
        QVERIFY(swing(steps / 4, steps / 2) > 0);
    }

    // On a family plant, as on the default one, "Over Load" and "Perr exceed" latch and switch
    // the servo off until the servo input goes off.
    void alarms_data()
    {
        QTest::addColumn<uint>("seed");
        QTest::addColumn<QString>("gain"); // "WT" of a gain far beyond what the plant takes
        QTest::newRow("KPP, plant 2") << 2u << "WT 0 0 20000";
        QTest::newRow("KVP, plant 3") << 3u << "WT 0 2 2000";
        QTest::newRow("KPP, plant 9") << 9u << "WT 0 0 20000";
    }
    void alarms()
    {
        QFETCH(uint, seed);
        QFETCH(QString, gain);
        SimHarness sim({ 0 });
        Station &s = *sim.bus.station(0);
        s.setPlant(Plant::family(seed));
        s.setUpDownMode(true);
        QVERIFY(ControlCommands(sim.bus).apply("servo 0 on").ok);
        QCOMPARE(sim.exchange("ST 0"), "OK" + End);
        sim.runMs(200);
        bool ok = false;
        const int before = sim.exchange("RV 8").left(4).toInt(&ok, 16);
        QVERIFY(ok);
        QCOMPARE(before & 0x091F, 0x0910); // DRDY, SVON, EMS, no alarm
        QVERIFY(sim.exchange(gain.toStdString()).contains('='));
        sim.runMs(3000);
        const int status = sim.exchange("RV 8").left(4).toInt(&ok, 16);
        QVERIFY(ok);
        QVERIFY((status & 0x3) != 0); // Over Load or Perr exceed
        QCOMPARE(status & 0x0110, 0); // no DRDY, no SVON
        sim.runMs(5000);
        QCOMPARE(sim.exchange("RV 8").left(4).toInt(nullptr, 16), status);
        QVERIFY(ControlCommands(sim.bus).apply("servo 0 off").ok);
        QCOMPARE(sim.exchange("RV 8"), "0810" + End);
    }

    // The program picks the plant by its seed and prints it.
    void program_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("output"); // on standard output, or error
        QTest::newRow("a family plant") << QStringList { "--plant-seed", "3", "--describe-plant" }
                                        << 0 << "plant: family seed 3\ncoil: 50 g";
        QTest::newRow("the default plant")
            << QStringList { "--describe-plant" } << 0 << "plant: default\n";
        QTest::newRow("beyond 32 bits")
            << QStringList { "--plant-seed", "4294967296", "--describe-plant" } << 2
            << "bad plant seed '4294967296'";
        QTest::newRow("negative") << QStringList { "--plant-seed", "-1" } << 2
                                  << "bad plant seed '-1'";
    }
    void program()
    {
        QFETCH(QStringList, arguments);
        QFETCH(int, exitCode);
        QFETCH(QString, output);
        QProcess sim;
        sim.start(QStringLiteral(VCM_DRIVE_SIM), arguments);
        QVERIFY(sim.waitForFinished(10000));
        QCOMPARE(sim.exitCode(), exitCode);
        const QString text = QString::fromUtf8(exitCode ? sim.readAllStandardError()
                                                        : sim.readAllStandardOutput());
        QVERIFY2(text.contains(output), qPrintable(text));
    }
};

QTEST_GUILESS_MAIN(TestPlantFamily)
#include "tst_plantfamily.moc"
