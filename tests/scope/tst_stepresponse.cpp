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

// A move over two samples from sample k, as a test motion's profile at a short span.
Shape stepAt(int k)
{
    return [k](int i) { return std::clamp((i - k) / 2.0, 0.0, 1.0); };
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
    double startSlack = 0.01; // samples: a command that jumps leaves its start less certain
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

// The figures straight from their definitions, for a command that holds one level, moves
// once (a jump or a short ramp, no noise) and holds another: slow and plain on purpose.
struct Reference {
    StepVerdict verdict = StepVerdict::TooShort;
    double startMs = 0, noise = 0, band = 0, overshoot = 0;
    std::optional<double> rise, peak, settling, error;
    bool noisy = false, trustworthy = false, overshootFinal = false;
};

double upperMedian(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

// The first time y reaches `level` going `dir`, from sample `from` on, between samples.
std::optional<double> firstReach(const std::vector<double> &y, int from, double level, double dir)
{
    for (int i = from; i < int(y.size()); ++i) {
        if (dir * (y[i] - level) >= 0) {
            if (i == 0 || dir * (y[i - 1] - level) >= 0)
                return i;
            return i - 1 + (level - y[i - 1]) / (y[i] - y[i - 1]);
        }
    }
    return std::nullopt;
}

Reference reference(const std::vector<double> &c, const std::vector<double> &y, double dt,
                    double bandPercent)
{
    Reference r;
    const int n = int(std::min(c.size(), y.size()));
    if (n < 10)
        return r;
    const double from = c[0], to = c[n - 1], size = std::abs(to - from);
    const double dir = to > from ? 1 : -1;
    if (size < 4) {
        r.verdict = StepVerdict::TooSmall;
        return r;
    }
    int s = 0; // first sample off the first level
    while (c[s] == from)
        ++s;
    int e = n; // first sample of those that stay on the last level, within 2 % of the step
    while (std::abs(c[e - 1] - to) <= 0.02 * size)
        --e;
    int off = s; // first sample more than 2 % of the step off the first level
    while (std::abs(c[off] - from) <= 0.02 * size)
        ++off;
    const int tail = (n + 9) / 10;
    if (e - off > n / 4) {
        r.verdict = StepVerdict::NoPlateau;
        return r;
    }
    if (n - e < tail) {
        r.verdict = StepVerdict::NearEnd;
        return r;
    }
    r.verdict = StepVerdict::Step;
    const double c10 = *firstReach(c, s, from + 0.1 * (to - from), dir);
    const double c90 = *firstReach(c, int(c10), from + 0.9 * (to - from), dir);
    const double start = std::min(double(s), std::max(s - 1.0, c10 - (c90 - c10) / 8));
    r.startMs = start * dt;

    std::vector<double> second;
    for (int i = 2; i < s; ++i)
        second.push_back(std::abs(y[i] - 2 * y[i - 1] + y[i - 2]));
    r.noise = s >= 5 ? upperMedian(second) / 1.65 : 0;
    r.band = bandPercent / 100 * size;
    r.noisy = 4 * r.noise > r.band;

    if (const auto t10 = firstReach(y, s, from + 0.1 * (to - from), dir))
        if (const auto t90 = firstReach(y, int(*t10), from + 0.9 * (to - from), dir))
            r.rise = (*t90 - *t10) * dt;
    r.trustworthy = !r.rise || *r.rise >= 3 * dt;

    int lastOut = -1;
    for (int i = s; i < n; ++i)
        if (std::abs(y[i] - to) > r.band)
            lastOut = i;
    if (lastOut < 0) {
        r.settling = 0;
    } else if (lastOut + tail < n) {
        const double edge = to + (y[lastOut] > to ? r.band : -r.band);
        r.settling = (lastOut + (y[lastOut] - edge) / (y[lastOut] - y[lastOut + 1]) - start) * dt;
    }
    const double tailSpread = *std::max_element(y.begin() + n - tail, y.begin() + n)
        - *std::min_element(y.begin() + n - tail, y.begin() + n);
    const bool atRest = r.settling || tailSpread <= 2 * std::max(r.band, 4 * r.noise);
    if (atRest) {
        double sum = 0;
        for (int i = n - tail; i < n; ++i)
            sum += c[i] - y[i];
        r.error = sum / tail;
    }
    int peakAt = s;
    for (int i = s; i < n; ++i)
        if (dir * (y[i] - to) > dir * (y[peakAt] - to))
            peakAt = i;
    r.overshootFinal = atRest || peakAt + tail < n;
    if (dir * (y[peakAt] - to) > 4 * r.noise) {
        r.overshoot = dir * (y[peakAt] - to) / size * 100;
        r.peak = (peakAt - start) * dt;
    }
    return r;
}
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
        // S settled, O overshoot final, T trustworthy, N noisy, then the span and the step to
        // use, if any.
        QTest::addColumn<QString>("flags");

        const int step = int(StepVerdict::Step);
        const double tau = 4;
        QTest::newRow("first order, eased in over noise")
            << Capture { Eased, 0, 1000, firstOrder(tau), Half, 0, StepAt, Dt, 0.05 } << 2.0 << step
            << QList<double> { 2.2 * tau, 0, None, tau * std::log(50), Any } << "SOT";
        QTest::newRow("first order down, 5 % band")
            << Capture { Step, 1200, 1000, firstOrder(tau) } << 5.0 << step
            << QList<double> { 2.2 * tau, 0, None, tau * std::log(20), 0 } << "SOT";
        // At rest short of the target: an error, but no settling.
        QTest::newRow("first order, 5 % short")
            << Capture { Step, 0, 200, firstOrder(tau, 0.95) } << 2.0 << step
            << QList<double> { tau * std::log((0.95 - 0.1) / (0.95 - 0.9)), 0, None, None, 10 }
            << "-OT";

        // Second-order responses, figures from the closed form; noise may add up to 4 sigma to
        // a peak.
        const auto secondOrderRow = [step](const char *name, double wn, double zeta, Capture c,
                                           const char *flags, QList<double> expected = {}) {
            c.y = secondOrder(wn, zeta);
            const double damped = std::sqrt(std::max(0.0, 1 - zeta * zeta));
            const double band = 0.02;
            if (expected.isEmpty())
                expected = { firstReach(c.y, 0.9) - firstReach(c.y, 0.1),
                             zeta < 1 ? 100 * std::exp(-M_PI * zeta / damped) : 0,
                             zeta < 1 ? M_PI / (wn * damped) : None,
                             lastOutside(c.y, band, (Half - c.at) * c.dt), 0 };
            QTest::newRow(name) << c << 2.0 << step << expected << flags;
        };
        secondOrderRow("second order, zeta 0.3", 0.5, 0.3, { Step, 0, 1000 }, "SOT");
        secondOrderRow("overdamped", 0.5, 1.5, { Step, 0, 1000 }, "SOT");
        secondOrderRow("zeta 0.5, noisy", 0.5, 0.5, { Step, 0, 1000, {}, Half, 3 }, "SOT");
        // Noise of 1.5 % of the step about the target: no overshoot, but four times it is wider
        // than the 2 % band, so no settling: a step of 3000 would tell.
        secondOrderRow("overdamped, noise only", 0.5, 1.5, { Step, 0, 1000, {}, Half, 15 },
                       "-OTN step", { Any, 0, None, None, 0 });
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
        // Still far from the target at the end of 200 ms, 185 ms after the step: twice that
        // after the step takes the 400 ms span.
        secondOrderRow("creeping at the end", 0.01, 1.2,
                       { Step, 0, 1000, {}, Half, 0, StepAt, 200.0 / Half }, "--T 400",
                       { None, 0, None, None, None });
        // A sample every 1.95 ms over a 2.6 ms rise: the 200 ms span keeps the step early.
        secondOrderRow("coarse", 0.5, 0.3, { Step, 0, 1000, {}, Half, 0, StepAt, Coarse },
                       "SO- 200", { Any, Any, Any, Any, 0 });
        secondOrderRow("coarse, step late", 0.5, 0.3,
                       { stepAt(70), 0, 1000, {}, Half, 0, 70, Coarse }, "SO-",
                       { Any, Any, Any, Any, 0 });

        const auto noStep
            = [](const char *name, StepVerdict verdict, const Shape &shape,
                 const char *flags = "---", double dt = Dt, int at = StepAt, double slack = 0.01) {
                  QTest::newRow(name) << Capture { shape, 500, 1500, {}, Half, 0, at, dt, slack }
                                      << 2.0 << int(verdict) << QList<double>() << flags;
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
        // A level only beyond a fifth of the step from either end: at a fifth, a pause.
        noStep("a pause a fifth of the way", StepVerdict::Step, [](int i) {
            return i < StepAt ? 0.0 : i < StepAt + 3 ? 0.2 : 1.0;
        }, "SOT", Dt, StepAt, 1);
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
        // It jumps: the start lies in the sample before the first one off the level.
        noStep("in two strokes", StepVerdict::Step, strokes, "SOT", Dt, StepAt, 1);
        // A test motion 90 ms after arming, at the 100 ms span; a sample later, a step.
        noStep("step at the end", StepVerdict::NearEnd, stepAt(231), "--- 200", Span100);
        noStep("at the end of 300 ms", StepVerdict::NearEnd, stepAt(250), "--- 500", 300.0 / Half);
        noStep("step just in time", StepVerdict::Step, stepAt(228), "SO-", Span100, 228);
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
            + (f.trustworthy ? "T" : "-") + (f.noisy ? "N" : "")
            + (f.suggestedSpanMs ? " " + QString::number(*f.suggestedSpanMs) : QString())
            + (f.suggestedStep ? " step" : QString());
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
        QCOMPARE(shown.contains(QString("step at: %1 ms of %2 ms")
                                    .arg(f.startMs, 0, 'f', 1)
                                    .arg(f.spanMs, 0, 'f', 0)),
                 f.verdict == StepVerdict::NearEnd);
        QCOMPARE(
            shown.contains(QString("use a step of %1 or more").arg(f.suggestedStep.value_or(0))),
            f.ok() && f.trustworthy && f.suggestedStep.has_value());
        if (!f.ok())
            return;
        // The step that puts four noise estimates within the band, as the noise was drawn; of
        // the steps in tens, the least that does so by the noise as measured.
        if (f.suggestedStep) {
            QVERIFY2(std::abs(*f.suggestedStep - 4 * capture.noise / band * 100)
                         < 0.3 * *f.suggestedStep,
                     qPrintable(QString::number(*f.suggestedStep)));
            const double least = 4 * f.noise / band * 100;
            QVERIFY(*f.suggestedStep % 10 == 0 && *f.suggestedStep >= least
                    && *f.suggestedStep < least + 10);
        }
        QVERIFY2(std::abs(f.startMs - capture.at * capture.dt) <= capture.startSlack * capture.dt,
                 qPrintable(QString::number(f.startMs)));
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

    // A few thousand random records: damped second-order responses of either sign, with
    // noise, whole counts, jumps and short ramps, coarse sampling, records cut short, flat
    // commands. The figures must agree with the reference.
    void againstReference()
    {
        std::mt19937 g(20240611);
        const auto uniform = [&g](double lo, double hi) {
            return std::uniform_real_distribution<double>(lo, hi)(g);
        };
        int steps = 0, noisy = 0, cut = 0;
        for (int round = 0; round < 4000; ++round) {
            // Short ones from 20 samples: in fewer, the move's own corners would be most of the
            // command's second differences, which tell its noise.
            const int n = uniform(0, 1) < 0.2 ? int(uniform(20, 60)) : Half;
            const double dt = uniform(0, 1) < 0.3 ? uniform(1, 4) : uniform(0.1, 1);
            const double from = std::round(uniform(-3000, 3000));
            const double size
                = uniform(0, 1) < 0.1 ? std::round(uniform(0, 6)) : std::round(uniform(20, 2000));
            const double to = from + (uniform(0, 1) < 0.5 ? size : -size);
            const int at = int(uniform(1, n * 0.9));
            const double ramp = uniform(0, 1) < 0.4 ? 0 : uniform(0.5, 4); // samples
            const double phase = uniform(0, 1); // the move starts this far after sample at - 1
            const double wn = uniform(0.3, 4) / (dt * uniform(1, 20));
            const double zeta = uniform(0.05, 1.6);
            const double sigma = uniform(0, 1) < 0.4 ? 0 : uniform(0.2, size / 20 + 1);
            const Response y = secondOrder(wn, zeta);
            std::normal_distribution<double> noise(0, sigma > 0 ? sigma : 1);

            std::vector<double> command(static_cast<std::size_t>(n)), feedback(command);
            const double t0 = at - 1 + phase;
            for (int i = 0; i < n; ++i) {
                const double moved
                    = ramp > 0 ? std::clamp((i - t0) / ramp, 0.0, 1.0) : (i >= t0 ? 1.0 : 0.0);
                command[std::size_t(i)] = std::round(from + (to - from) * moved);
                const double t = std::max(0.0, i - t0) * dt;
                feedback[std::size_t(i)]
                    = std::round(from + (to - from) * y(t) + (sigma > 0 ? noise(g) : 0));
            }
            const Reference want = reference(command, feedback, dt, 2);
            const StepFigures got = stepFigures(command, feedback, dt);
            const QString where = QStringLiteral("round %1").arg(round);
            QVERIFY2(got.verdict == want.verdict,
                     qPrintable(where
                                + QStringLiteral(": verdict %1, not %2")
                                      .arg(int(got.verdict))
                                      .arg(int(want.verdict))));
            if (!got.ok())
                continue;
            ++steps;
            noisy += want.noisy;
            cut += n < Half;
            const auto same
                = [](double a, double b) { return std::abs(a - b) <= 1e-6 * (1 + std::abs(b)); };
            const auto sameOpt
                = [&same](const std::optional<double> &a, const std::optional<double> &b) {
                      return a.has_value() == b.has_value() && (!a || same(*a, *b));
                  };
            QVERIFY2(same(got.startMs, want.startMs), qPrintable(where));
            QVERIFY2(same(got.noise, want.noise) && got.noisy == want.noisy, qPrintable(where));
            QVERIFY2(same(got.band, want.band), qPrintable(where));
            QVERIFY2(sameOpt(got.riseMs, want.rise) && got.trustworthy == want.trustworthy,
                     qPrintable(where));
            QVERIFY2(sameOpt(got.settlingMs, want.settling)
                         && got.settled == want.settling.has_value(),
                     qPrintable(where));
            QVERIFY2(same(got.overshootPercent, want.overshoot) && sameOpt(got.peakMs, want.peak)
                         && got.overshootFinal == want.overshootFinal,
                     qPrintable(where));
            QVERIFY2(sameOpt(got.steadyStateError, want.error), qPrintable(where));
        }
        // The draw reaches every kind of record it is meant to.
        QVERIFY(steps > 2000 && noisy > 100 && cut > 100);
    }
};

QTEST_GUILESS_MAIN(TestStepResponse)
#include "tst_stepresponse.moc"
