#include "StepResponse.h"

#include <QtTest>

#include <cmath>
#include <functional>
#include <random>

using Response = std::function<double(double)>; // 0 -> 1 for t >= 0 (ms)
using Shape = std::function<double(int)>; // the command by sample, 0 -> 1

namespace {
constexpr int Half = 256;
constexpr double Dt = 0.25; // ms per sample
constexpr int StepAt = 20;
const double None = qQNaN(); // the figure is absent
const double Any = qInf(); // present, value not checked
constexpr double Coarse = 500.0 / Half, Span100 = 100.0 / Half; // ms per sample at these spans

Response firstOrder(double tau, double gain = 1)
{
    return [=](double t) { return gain * (1 - std::exp(-t / tau)); };
}

Response secondOrder(double wn, double zeta)
{
    if (zeta > 1) { // overdamped: two real poles
        const double p1 = wn * (zeta - std::sqrt(zeta * zeta - 1)), p2 = wn * wn / p1;
        return [=](double t) {
            return 1 - (p2 * std::exp(-p1 * t) - p1 * std::exp(-p2 * t)) / (p2 - p1);
        };
    }
    const double wd = wn * std::sqrt(1 - zeta * zeta);
    return [=](double t) {
        return 1
            - std::exp(-zeta * wn * t)
            * (std::cos(wd * t) + zeta / std::sqrt(1 - zeta * zeta) * std::sin(wd * t));
    };
}

// The analytic response scanned finely: first reach of a level, last time outside a band.
double firstReach(const Response &y, double level)
{
    double t = 0;
    while (y(t) < level)
        t += 1e-3;
    return t;
}
double lastOutside(const Response &y, double band, double ms)
{
    double t = ms;
    while (std::abs(y(t) - 1) <= band)
        t -= 1e-3;
    return t;
}

Shape stepAt(int k)
{
    return [k](int i) { return i < k ? 0.0 : 1.0; };
}

// A record of Half samples a channel, `dt` ms apart: the command from + (to - from) *
// shape(i) and the feedback from + (to - from) * y(t), t from sample `at`, with Gaussian
// noise; `received` feedback values arrived.
struct Capture {
    Shape command;
    double from, to;
    Response y;
    int received = Half;
    double noise = 0;
    int at = StepAt;
    double dt = Dt;
};

Record record(const Capture &c)
{
    std::mt19937 g(1);
    std::normal_distribution<double> noise(0, c.noise);
    Record r;
    for (int i = 0; i < Half; ++i) {
        r.raw[i] = float(c.from + (c.to - c.from) * c.command(i));
        r.raw[Half + i] = c.y ? float(c.from + (c.to - c.from) * c.y(std::max(0, i - c.at) * c.dt)
                                      + (c.noise > 0 ? noise(g) : 0))
                              : r.raw[i];
    }
    r.count = Half + c.received;
    return r;
}
const Shape Step = stepAt(StepAt);
// Noise of 4 in 1000 every third sample; the sample of 11 at the step already moves.
const Shape Eased = [](int i) {
    return (i < StepAt ? 0 : i > StepAt ? 1 : 0.011) + (i % 3 ? 0 : 0.004);
};
} // namespace
Q_DECLARE_METATYPE(Capture)

class TestStepResponse final : public QObject {
    Q_OBJECT

private slots:
    void figures_data()
    {
        QTest::addColumn<Capture>("capture");
        QTest::addColumn<double>("band"); // percent
        QTest::addColumn<int>("verdict");
        // Rise, overshoot, peak, settling, steady-state error.
        QTest::addColumn<QList<double>>("expected");
        // S settled, O overshoot final, T trustworthy, then the span to use, if any.
        QTest::addColumn<QString>("flags");

        const int step = int(StepVerdict::Step);
        const double tau = 4;
        QTest::newRow("first order, eased in over noise")
            << Capture { Eased, 0, 1000, firstOrder(tau) } << 2.0 << step
            << QList<double> { 2.2 * tau, 0, None, tau * std::log(50), Any } << "SOT";
        QTest::newRow("first order down, 5 % band")
            << Capture { Step, 1200, 1000, firstOrder(tau) } << 5.0 << step
            << QList<double> { 2.2 * tau, 0, None, tau * std::log(20), 0 } << "SOT";
        // At rest short of the target: an error, but no settling.
        QTest::newRow("first order, 5 % short")
            << Capture { Step, 0, 200, firstOrder(tau, 0.95) } << 2.0 << step
            << QList<double> { tau * std::log((0.95 - 0.1) / (0.95 - 0.9)), 0, None, None, 10 }
            << "-OT";

        // Second-order responses, figures from the closed form; noise widens the band to 4
        // sigma and may add up to that much to a peak.
        const auto secondOrderRow = [step](const char *name, double wn, double zeta, Capture c,
                                           const char *flags, QList<double> expected = {}) {
            c.y = secondOrder(wn, zeta);
            const double damped = std::sqrt(std::max(0.0, 1 - zeta * zeta));
            const double band = std::max(0.02, 4 * c.noise / std::abs(c.to - c.from));
            if (expected.isEmpty())
                expected = { firstReach(c.y, 0.9) - firstReach(c.y, 0.1),
                             zeta < 1 ? 100 * std::exp(-M_PI * zeta / damped) : 0,
                             zeta < 1 ? M_PI / (wn * damped) : None,
                             lastOutside(c.y, band, (Half - c.at) * c.dt), 0 };
            QTest::newRow(name) << c << 2.0 << step << expected << flags;
        };
        secondOrderRow("second order, zeta 0.3", 0.5, 0.3, { Step, 0, 1000 }, "SOT");
        secondOrderRow("overdamped", 0.5, 1.5, { Step, 0, 1000 }, "SOT");
        secondOrderRow("zeta 0.5, noisy", 0.5, 0.5, { Step, 0, 1000, {}, Half, 5 }, "SOT");
        // Noise of 1.5 % of the step about the target: no overshoot, settled in a 6 % band.
        secondOrderRow("overdamped, noise only", 0.5, 1.5, { Step, 0, 1000, {}, Half, 15 }, "SOT",
                       { Any, 0, None, Any, 0 });
        // The upload ends 30 ms after the step, before it settles: the zeros that stand for
        // the missing values lie far beyond a downward target. Still ringing: no error.
        secondOrderRow("record cut short", 0.5, 0.2, { Step, 3000, 2000, {}, StepAt + 120 },
                       "-OT 100", { Any, 52.7, 6.4, None, None });
        // 31 samples before the end, still rising towards 16.3 %: a lower bound.
        secondOrderRow("step late, peak after the end", 0.4, 0.5,
                       { stepAt(Half - 31), 0, 1000, {}, Half, 0, Half - 31 }, "--T 200",
                       { Any, 12.4, 7.5, None, None });
        // Cut mid-rise: nothing but a lower bound of the overshoot.
        secondOrderRow("cut mid-rise", 0.05, 1.2, { stepAt(200), 2000, 4000, {}, Half, 0, 200 },
                       "--T 100", { None, 0, None, None, None });
        // A sample every 1.95 ms over a 2.6 ms rise: the 200 ms span keeps the step early.
        secondOrderRow("coarse", 0.5, 0.3, { Step, 0, 1000, {}, Half, 0, StepAt, Coarse },
                       "SO- 200", { Any, Any, Any, Any, 0 });
        secondOrderRow("coarse, step late", 0.5, 0.3,
                       { stepAt(70), 0, 1000, {}, Half, 0, 70, Coarse }, "SO-",
                       { Any, Any, Any, Any, 0 });

        const auto noStep = [](const char *name, StepVerdict verdict, const Shape &shape,
                               const char *flags = "---", double dt = Dt, int at = StepAt) {
            QTest::newRow(name) << Capture { shape, 500, 1500, {}, Half, 0, at, dt } << 2.0
                                << int(verdict) << QList<double>() << flags;
        };
        noStep("ramp", StepVerdict::NoPlateau, [](int i) { return double(i) / (Half - 1); });
        noStep("noise on a flat line", StepVerdict::TooSmall,
               [g = std::mt19937(7)](int) mutable { return (double(g() % 13) - 6) / 1000; });
        noStep("two steps", StepVerdict::SeveralSteps,
               [](int i) { return std::min(i / (Half / 3), 2) / 2.0; });
        noStep("a fifth short", StepVerdict::SeveralSteps, [](int i) {
            return i < 85 ? 0.0 : i < 95 ? 0.78 : 1.0;
        });
        noStep("a fifth, then on", StepVerdict::SeveralSteps, [](int i) {
            return i < 85 ? 0.0 : i < 95 ? 0.22 : 1.0;
        });
        noStep("up and back", StepVerdict::SeveralSteps,
               [](int i) { return i >= Half / 3 && i < 2 * Half / 3 ? 1.0 : 0.0; });
        // Back to a level below the lower quarter mark, after two samples up.
        noStep("spike, then a fifth", StepVerdict::SeveralSteps, [](int i) {
            return i < 100 ? 0.0 : i < 102 ? 1.0 : 0.22;
        });
        // One still pair half way is a pause, not a level.
        const Shape strokes = [](int i) {
            return i < StepAt ? 0 : i < StepAt + 2 ? 0.5 : i == StepAt + 2 ? 0.75 : 1;
        };
        noStep("in two strokes", StepVerdict::Step, strokes, "SOT");
        // A test motion 90 ms after arming, at the 100 ms span; a sample later, a step.
        noStep("step at the end", StepVerdict::NearEnd, stepAt(231), "--- 200", Span100);
        noStep("at the end of 300 ms", StepVerdict::NearEnd, stepAt(250), "--- 500", 300.0 / Half);
        noStep("step just in time", StepVerdict::Step, stepAt(230), "SO-", Span100, 230);
        // 4 counts is a step, less is not.
        QTest::newRow("4 counts") << Capture { Step, 0, 4 } << 2.0 << step << QList<double>()
                                  << "SO-";
        QTest::newRow("3.5 counts") << Capture { Step, 0, 3.5 } << 2.0 << int(StepVerdict::TooSmall)
                                    << QList<double>() << "---";
        QTest::newRow("nine values") << Capture { Step, 0, 1000, {}, 9 } << 2.0
                                     << int(StepVerdict::TooShort) << QList<double>() << "---";
    }

    void figures()
    {
        QFETCH(Capture, capture);
        QFETCH(double, band);
        QFETCH(int, verdict);
        QFETCH(QString, flags);

        StepOptions options;
        options.bandPercent = band;
        const StepFigures f
            = stepFigures(record(capture), { 2 * Half, false, 1 }, Half * capture.dt, options);
        QCOMPARE(int(f.verdict), verdict);
        const QString got = QString(f.settled ? "S" : "-") + (f.overshootFinal ? "O" : "-")
            + (f.trustworthy ? "T" : "-")
            + (f.suggestedSpanMs ? " " + QString::number(*f.suggestedSpanMs) : QString());
        QCOMPARE(got, flags);
        // The window shows what is not final, and the span to use.
        QString shown = verdictText(f.verdict);
        for (const FigureRow &row : figureRows(f))
            shown += row.name + ": " + row.value + "\n";
        QCOMPARE(shown.contains("≥ "), f.ok() && !f.overshootFinal);
        QCOMPARE(shown.contains("cannot be trusted at this span"), f.ok() && !f.trustworthy);
        QCOMPARE(shown.contains("not settled in this record"), f.ok() && !f.steadyStateError);
        QCOMPARE(shown.contains(QString("span to use: %1 ms").arg(f.suggestedSpanMs.value_or(0))),
                 f.suggestedSpanMs.has_value());
        if (!f.ok())
            return;
        QCOMPARE(f.startMs, capture.at * capture.dt);
        QCOMPARE(f.size(), capture.to - capture.from);

        QFETCH(QList<double>, expected);
        if (expected.isEmpty())
            return;
        const std::optional<double> figures[]
            = { f.riseMs, f.overshootPercent, f.peakMs, f.settlingMs, f.steadyStateError };
        const double slack = 4 * capture.noise; // what noise may add to a value
        const double tolerance[] = { capture.dt, 0.5 + 100 * slack / std::abs(f.size()), capture.dt,
                                     capture.dt, 0.5 + slack };
        for (int i = 0; i < 5; ++i) {
            const double want = expected[i];
            const bool ok = std::isnan(want) ? !figures[i]
                : std::isinf(want)           ? figures[i].has_value()
                                   : figures[i] && std::abs(*figures[i] - want) <= tolerance[i];
            QVERIFY2(ok,
                     qPrintable(QString::asprintf("figure %d: got %g, want %g", i,
                                                  figures[i].value_or(qQNaN()), want)));
        }
    }
};

QTEST_GUILESS_MAIN(TestStepResponse)
#include "tst_stepresponse.moc"
