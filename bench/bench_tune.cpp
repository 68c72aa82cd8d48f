// The guided tuner against the drive simulator at wire speed, from the default gains and from
// three detuned starts, each against the best an exhaustive search over the same gains finds
// on the simulator's library in simulated time. Ends with a Markdown table.
//
//   bench_tune [--quick]      --quick: a coarser exhaustive grid
//   bench_tune --family ...   the family of plants instead (bench_tune --family --help)
#include "Clock.h"
#include "SimProcess.h"
#include "SimulatedLine.h"
#include "SystemSerialPort.h"
#include "TuneFamily.h"
#include "TuneReport.h"
#include "Tuner.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>

#include <cmath>
#include <cstdio>

namespace {

struct Start {
    const char *name;
    int kpp, kvp, kvi;
};
const Start Starts[] = {
    { "defaults", 250, 100, 100 },
    { "ringing (KPP 1000)", 1000, 100, 100 },
    { "sluggish (KVP 20)", 250, 20, 100 },
    { "one step from an alarm (KPP 2000)", 2000, 100, 100 },
};
constexpr const char *Span = "200";

void say(const QString &text)
{
    std::printf("%s\n", qPrintable(text));
    std::fflush(stdout);
}

// The worst settling time of a set, both directions, measured as the tuner measures (same
// rules), over the 200 ms span, on a fresh simulated drive; nothing when it falls short.
struct Simulated {
    SimulatedLine line { { 1 } };
    CommandExchange link { line, line };
    DriveProcedures drive { link };
    QTemporaryDir dir;
    Simulated()
    {
        line.station(1)->setUpDownMode(true);
        line.station(1)->setServoInput(true);
        line.open();
        drive.address(1);
        line.advanceUs(300000);
    }
    std::optional<Trial> measure(const Gains &gains)
    {
        Station &s = *line.station(1);
        if (s.alarms() || !s.energized()) {
            s.clearAlarms();
            s.setServoInput(false);
            line.advanceUs(10000);
            s.setServoInput(true);
            line.advanceUs(500000);
        }
        TuneOptions o;
        o.backupPath = dir.filePath(QStringLiteral("b.vcmpar"));
        Tuner tuner(drive, o);
        if (!tuner.start())
            return std::nullopt;
        tuner.setSpan(QString::fromLatin1(Span));
        return tuner.measure(gains, Trial::Kind::Search);
    }
};

struct Exhaustive {
    double bestMs = 1e9;
    Gains best {};
    int sets = 0;
    int alarms = 0;
};

Exhaustive exhaustive(bool quick)
{
    Exhaustive e;
    Simulated sim;
    const double step = quick ? std::sqrt(2.0) : std::pow(2.0, 0.25);
    for (double kpp = 50; kpp <= 3000; kpp *= step) {
        for (double kvp = 10; kvp <= 1200; kvp *= step) {
            for (double kvi = 12.5; kvi <= 800; kvi *= step * step) {
                const Gains g { std::int16_t(std::lround(kpp)), 50, std::int16_t(std::lround(kvp)),
                                std::int16_t(std::lround(kvi)) };
                const std::optional<Trial> t = sim.measure(g);
                ++e.sets;
                if (!t || t->summary.shortfall == Shortfall::Alarm) {
                    ++e.alarms;
                    continue;
                }
                if (t->summary.clean() && t->summary.settlingMs < e.bestMs) {
                    e.bestMs = t->summary.settlingMs;
                    e.best = t->gains;
                }
            }
        }
    }
    return e;
}

struct Run {
    TuneResult result;
    double wallS = 0;
    int alarms = 0;
    std::optional<double> resimulatedMs; // the tuned set, measured again as the grid was
};

Run tuneAtWireSpeed(const Start &start)
{
    Run run;
    SimProcess sim({ QStringLiteral("--stations"), QStringLiteral("1") });
    SystemSerialPort port;
    SteadyClock clock;
    port.setPortName(sim.path());
    if (!port.open()) {
        say(QStringLiteral("cannot open %1").arg(sim.path()));
        return run;
    }
    CommandExchange link(port, clock);
    DriveProcedures drive(link);
    drive.address(1);
    drive.ask(QStringLiteral("UD 1"), Timing::Paced);
    sim.command(QStringLiteral("servo 1 on"));
    drive.writeParameter(0, std::int16_t(start.kpp));
    drive.writeParameter(2, std::int16_t(start.kvp));
    drive.writeParameter(3, std::int16_t(start.kvi));
    link.Delay(500);

    QTemporaryDir dir;
    TuneOptions options;
    options.backupPath = dir.filePath(QStringLiteral("backup.vcmpar"));
    options.station = 1;
    Tuner tuner(drive, options);
    tuner.onTrial = [&](const Trial &t) {
        run.alarms += t.summary.shortfall == Shortfall::Alarm;
        say(QStringLiteral("    ") + trialLine(t, { true, false, true, true }));
    };
    QElapsedTimer timer;
    timer.start();
    run.result = tuner.run();
    run.wallS = timer.elapsed() / 1000.0;
    if (run.result.best) {
        Simulated again;
        if (const std::optional<Trial> t = again.measure(run.result.tuned); t && t->summary.clean())
            run.resimulatedMs = t->summary.settlingMs;
    }
    return run;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    if (app.arguments().contains(QStringLiteral("--family")))
        return TuneFamily::main(app.arguments());
    const bool quick = app.arguments().contains(QStringLiteral("--quick"));

    say(QStringLiteral("Exhaustive search over KPP, KVP, KVI in simulated time..."));
    QElapsedTimer timer;
    timer.start();
    const Exhaustive e = exhaustive(quick);
    say(QStringLiteral("  %1 sets (%2 tripped an alarm) in %3 s; best %4 ms at %5")
            .arg(e.sets)
            .arg(e.alarms)
            .arg(timer.elapsed() / 1000.0, 0, 'f', 1)
            .arg(e.bestMs, 0, 'f', 2)
            .arg(gainText(e.best, { true, false, true, true })));

    QStringList table {
        QStringLiteral("| start | trials | wall time | settling reached (worst direction) | "
                       "the same gains re-measured as the exhaustive grid | against the "
                       "exhaustive best (%1 ms) | overshoot reached | alarms | tuned gains |")
            .arg(e.bestMs, 0, 'f', 2),
        QStringLiteral("|---|---|---|---|---|---|---|---|---|"),
    };
    for (const Start &start : Starts) {
        say(QStringLiteral("Tuning from %1 at wire speed...").arg(QLatin1String(start.name)));
        const Run run = tuneAtWireSpeed(start);
        const TuneResult &r = run.result;
        const bool met = r.outcome == TuneResult::Outcome::Tuned && r.best;
        const QString reached = met ? QString::number(r.best->summary.settlingMs, 'f', 2) + " ms"
                                    : QStringLiteral("not met: ") + r.reason;
        const QString again = run.resimulatedMs
            ? QString::number(*run.resimulatedMs, 'f', 2) + QStringLiteral(" ms")
            : QStringLiteral("–");
        const double ratio = run.resimulatedMs ? *run.resimulatedMs / e.bestMs : 0;
        table << QStringLiteral("| %1 | %2 | %3 s | %4 | %5 | %6 | %7 | %8 | %9 |")
                     .arg(QLatin1String(start.name))
                     .arg(r.trials.size())
                     .arg(run.wallS, 0, 'f', 1)
                     .arg(reached, again,
                          ratio > 0 ? QString::number(ratio, 'f', 2) : QStringLiteral("–"),
                          met ? QString::number(r.best->summary.overshootPercent, 'f', 1) + " %"
                              : QStringLiteral("–"))
                     .arg(run.alarms)
                     .arg(gainText(r.tuned, { true, false, true, true }));
    }
    say(QString());
    for (const QString &row : table)
        say(row);
    return 0;
}
