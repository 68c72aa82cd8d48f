#include "StepResponse.h"

#include <QtTest>

#include <cmath>
#include <functional>
#include <random>

using Response = std::function<double(double)>; // 0 -> 1 for t >= 0 (ms)
using Shape = std::function<double(int)>; // the command by sample, 0 -> 1
Q_DECLARE_METATYPE(Response)
Q_DECLARE_METATYPE(Shape)

namespace {
constexpr int Half = 256;
constexpr double Dt = 0.25; // ms per sample
constexpr int StepAt = 20;
const double None = qQNaN();

Response firstOrder(double tau, double gain = 1)
{
    return [=](double t) { return gain * (1 - std::exp(-t / tau)); };
}

Response secondOrder(double wn, double zeta)
{
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
        t += 1e-4;
    return t;
}
double lastOutside(const Response &y, double band)
{
    double t = (Half - StepAt) * Dt;
    while (std::abs(y(t) - 1) <= band)
        t -= 1e-4;
    return t;
}

// A record of Half samples a channel: the command from + (to - from) * shape(i) and the
// feedback from + (to - from) * y(t), t from the step; `received` feedback values arrived.
Record record(const Shape &shape, double from, double to, const Response &y, int received)
{
    Record r;
    for (int i = 0; i < Half; ++i) {
        r.raw[i] = float(from + (to - from) * shape(i));
        r.raw[Half + i]
            = y ? float(from + (to - from) * y(std::max(0, i - StepAt) * Dt)) : r.raw[i];
    }
    r.count = Half + received;
    return r;
}
const Shape Step = [](int i) { return i < StepAt ? 0.0 : 1.0; };
// Noise of 4 in 1000 every third sample; the sample of 11 at the step already moves.
const Shape Eased = [](int i) {
    return (i < StepAt ? 0 : i > StepAt ? 1 : 0.011) + (i % 3 ? 0 : 0.004);
};
} // namespace

class TestStepResponse final : public QObject {
    Q_OBJECT

private slots:
    void figures_data()
    {
        QTest::addColumn<Shape>("command");
        QTest::addColumn<double>("from");
        QTest::addColumn<double>("to");
        QTest::addColumn<Response>("y");
        QTest::addColumn<int>("received");
        QTest::addColumn<double>("band"); // percent
        QTest::addColumn<int>("verdict");
        // Rise, overshoot, peak, settling, steady-state error; NaN: none (error: not checked).
        QTest::addColumn<QList<double>>("expected");

        const int step = int(StepVerdict::Step);
        const double tau = 4;
        QTest::newRow("first order, eased in over noise")
            << Eased << 0.0 << 1000.0 << firstOrder(tau) << Half << 2.0 << step
            << QList<double> { 2.2 * tau, 0, None, tau * std::log(50), None };
        QTest::newRow("first order down, 5 % band")
            << Step << 1200.0 << 1000.0 << firstOrder(tau) << Half << 5.0 << step
            << QList<double> { 2.2 * tau, 0, None, tau * std::log(20), 0 };
        QTest::newRow("first order, 5 % short")
            << Step << 0.0 << 200.0 << firstOrder(tau, 0.95) << Half << 2.0 << step
            << QList<double> { tau * std::log((0.95 - 0.1) / (0.95 - 0.9)), 0, None, None, 10 };

        // The upload may end 30 ms after the step, before it settles; the zeros that stand for
        // the missing values lie far beyond a downward target.
        const auto secondOrderRow =
            [step](const char *name, double wn, double zeta, double from, double to, int received) {
                const Response y = secondOrder(wn, zeta);
                const double damped = std::sqrt(1 - zeta * zeta);
                const bool settles = received == Half;
                QTest::newRow(name)
                    << Step << from << to << y << received << 2.0 << step
                    << QList<double> { firstReach(y, 0.9) - firstReach(y, 0.1),
                                       100 * std::exp(-M_PI * zeta / damped), M_PI / (wn * damped),
                                       settles ? lastOutside(y, 0.02) : None,
                                       settles ? 0.0 : None };
            };
        secondOrderRow("second order, zeta 0.3", 0.5, 0.3, 0, 1000, Half);
        secondOrderRow("record cut short", 0.5, 0.2, 3000, 2000, StepAt + 120);
        const auto noStep = [](const char *name, StepVerdict verdict, const Shape &shape) {
            QTest::newRow(name) << shape << 500.0 << 1500.0 << Response() << Half << 2.0
                                << int(verdict) << QList<double>();
        };
        noStep("ramp", StepVerdict::NoPlateau, [](int i) { return double(i) / (Half - 1); });
        noStep("noise on a flat line", StepVerdict::TooSmall,
               [g = std::mt19937(7)](int) mutable { return (double(g() % 13) - 6) / 1000; });
        noStep("two steps", StepVerdict::SeveralSteps,
               [](int i) { return std::min(i / (Half / 3), 2) / 2.0; });
        noStep("a fifth short", StepVerdict::SeveralSteps, [](int i) {
            return i < 85 ? 0.0 : i < 95 ? 0.78 : 1.0;
        });
        noStep("up and back", StepVerdict::SeveralSteps,
               [](int i) { return i >= Half / 3 && i < 2 * Half / 3 ? 1.0 : 0.0; });
    }

    void figures()
    {
        QFETCH(Shape, command);
        QFETCH(double, from);
        QFETCH(double, to);
        QFETCH(Response, y);
        QFETCH(int, received);
        QFETCH(double, band);
        QFETCH(int, verdict);

        StepOptions options;
        options.bandPercent = band;
        const StepFigures f = stepFigures(record(command, from, to, y, received),
                                          { 2 * Half, false, 1 }, Half * Dt, options);
        QCOMPARE(int(f.verdict), verdict);
        if (!f.ok())
            return;
        QCOMPARE(f.startMs, StepAt * Dt);
        QCOMPARE(f.size(), to - from);

        QFETCH(QList<double>, expected);
        const std::optional<double> got[]
            = { f.riseMs, f.overshootPercent, f.peakMs, f.settlingMs, f.steadyStateError };
        const double tolerance[] = { Dt, 0.5, Dt, Dt, 0.5 };
        for (int i = 0; i < 5; ++i) {
            const double want = expected[i];
            const bool ok = std::isnan(want) ? i == 4 || !got[i]
                                             : got[i] && std::abs(*got[i] - want) <= tolerance[i];
            QVERIFY2(ok,
                     qPrintable(QString::asprintf("figure %d: got %g, want %g", i,
                                                  got[i].value_or(qQNaN()), want)));
        }
    }
};

QTEST_GUILESS_MAIN(TestStepResponse)
#include "tst_stepresponse.moc"
