#include "TuneFamily.h"

#include "FamilyGrid.h"
#include "FamilyRig.h"
#include "Measure.h"
#include "TuneReport.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <mutex>
#include <thread>

namespace TuneFamily {
namespace {

struct Options {
    std::vector<std::uint32_t> seeds;
    std::array<bool, StartCount> starts { true, true, true, true };
    int jobs = 1;
    QString cache; // empty: none
    bool gridOnly = false;
    bool fullGrid = false;
    bool verbose = false; // every trial of every run
    std::optional<Gains> show; // only this set's measurements on each plant
    // Each run is made once at each of these moments (the drive left alone that many repeat
    // intervals longer first): one moment's noise and friction decide many a run.
    std::vector<std::uint32_t> moments { 0, 1, 2, 3 };
};

// The family as listed in the README: the first 50 plants on whose grid some gains meet the
// target with margin in every repeat. On plant 10 none do (its encoder resolves 4 counts and
// its stiction is 4.7 % of the peak force: the coil sticks somewhere near the band's edge), so
// no tuner could.
constexpr std::uint32_t FirstSeed = 1;
constexpr std::uint32_t LastSeed = 51;
constexpr std::uint32_t LeftOut[] = { 10 };

void usage(std::FILE *to)
{
    std::fputs(
        "usage: bench_tune --family [--seeds LIST] [--starts LIST] [--jobs N] [--cache DIR]\n"
        "                  [--no-cache] [--grid-only] [--full-grid] [--verbose]\n"
        "                  [--show KPP,KVP,KVI] [--moments LIST]\n"
        "  --seeds LIST   plants by seed, e.g. 1-50 or 3,7,12-20 (default 1-9,11-51)\n"
        "  --starts LIST  of sluggish,ringing,creeping,near-unstable (default all four)\n"
        "  --jobs N       plants measured and tuned side by side (default 1)\n"
        "  --cache DIR    where each plant's measured sets are kept (default:\n"
        "                 tune-family-cache beside the program)\n"
        "  --no-cache     measure everything anew and keep nothing\n"
        "  --grid-only    only each plant's grid best, alarm search and starts\n"
        "  --full-grid    every lattice point of the grown box instead of coarse then fine\n"
        "  --verbose      every trial of every run, and the starts as the grid measures them\n"
        "  --show SET     only this set's measurements on each plant, with their figures\n"
        "  --moments LIST each run made once from each moment, N being N times 137.3 ms later\n"
        "                 (default 0-3): the same tuner meets the plant's noise and friction\n"
        "                 at another moment\n",
        to);
}

void say(const QString &text)
{
    static std::mutex lock;
    const std::lock_guard<std::mutex> hold(lock);
    std::printf("%s\n", qPrintable(text));
    std::fflush(stdout);
}

std::optional<std::vector<std::uint32_t>> seedList(const QString &text)
{
    std::vector<std::uint32_t> seeds;
    for (const QString &part : text.split(QLatin1Char(','))) {
        const QStringList ends = part.split(QLatin1Char('-'));
        bool ok1 = false, ok2 = true;
        const qulonglong from = ends.value(0).toULongLong(&ok1);
        const qulonglong to = ends.size() == 2 ? ends[1].toULongLong(&ok2) : from;
        if (!ok1 || !ok2 || ends.size() > 2 || to < from || to > 0xFFFFFFFFULL
            || to - from > 100000)
            return std::nullopt;
        for (qulonglong s = from; s <= to; ++s)
            seeds.push_back(std::uint32_t(s));
    }
    return seeds;
}

std::optional<Options> parse(const QStringList &arguments)
{
    Options o;
    for (std::uint32_t s = FirstSeed; s <= LastSeed; ++s) {
        if (std::find(std::begin(LeftOut), std::end(LeftOut), s) == std::end(LeftOut))
            o.seeds.push_back(s);
    }
    o.cache = QCoreApplication::applicationDirPath() + QStringLiteral("/tune-family-cache");
    for (int i = 1; i < arguments.size(); ++i) {
        const QString &a = arguments[i];
        const bool hasValue = i + 1 < arguments.size();
        if (a == QLatin1String("--family")) {
        } else if (a == QLatin1String("--no-cache")) {
            o.cache.clear();
        } else if (a == QLatin1String("--grid-only")) {
            o.gridOnly = true;
        } else if (a == QLatin1String("--full-grid")) {
            o.fullGrid = true;
        } else if (a == QLatin1String("--verbose")) {
            o.verbose = true;
        } else if (hasValue && a == QLatin1String("--seeds")) {
            const auto seeds = seedList(arguments[++i]);
            if (!seeds) {
                std::fprintf(stderr, "bench_tune: bad seed list '%s'\n", qPrintable(arguments[i]));
                return std::nullopt;
            }
            o.seeds = *seeds;
        } else if (hasValue && a == QLatin1String("--starts")) {
            o.starts.fill(false);
            for (const QString &name : arguments[++i].split(QLatin1Char(','))) {
                int k = 0;
                while (k < StartCount && name != QLatin1String(startName(StartKind(k))))
                    ++k;
                if (k == StartCount) {
                    std::fprintf(stderr, "bench_tune: no start '%s'\n", qPrintable(name));
                    return std::nullopt;
                }
                o.starts[std::size_t(k)] = true;
            }
        } else if (hasValue && a == QLatin1String("--jobs")) {
            bool ok = false;
            o.jobs = arguments[++i].toInt(&ok);
            if (!ok || o.jobs < 1 || o.jobs > 64) {
                std::fprintf(stderr, "bench_tune: bad job count '%s'\n", qPrintable(arguments[i]));
                return std::nullopt;
            }
        } else if (hasValue && a == QLatin1String("--show")) {
            const QStringList values = arguments[++i].split(QLatin1Char(','));
            Gains g { 0, 50, 0, 0 };
            bool ok = values.size() == 3;
            for (int k = 0; ok && k < 3; ++k)
                g[std::size_t(k == 0       ? TuneGain::KPP
                                  : k == 1 ? TuneGain::KVP
                                           : TuneGain::KVI)]
                    = std::int16_t(values[k].toInt(&ok));
            if (!ok) {
                std::fprintf(stderr, "bench_tune: --show takes KPP,KVP,KVI\n");
                return std::nullopt;
            }
            o.show = g;
        } else if (hasValue && a == QLatin1String("--moments")) {
            const auto moments = seedList(arguments[++i]);
            if (!moments || moments->empty() || moments->back() > 1000) {
                std::fprintf(stderr, "bench_tune: bad moment list '%s'\n",
                             qPrintable(arguments[i]));
                return std::nullopt;
            }
            o.moments = *moments;
        } else if (hasValue && a == QLatin1String("--cache")) {
            o.cache = arguments[++i];
        } else {
            std::fprintf(stderr, "bench_tune: unknown or incomplete option '%s'\n", qPrintable(a));
            return std::nullopt;
        }
    }
    return o;
}

const std::array<bool, TuneGain::Count> Shown { true, false, true, true };

QString momentText(int moment)
{
    return QStringLiteral(", moment %1").arg(moment);
}

struct Run {
    std::uint32_t seed = 0;
    StartKind start = StartKind::Sluggish;
    Gains from {};
    int moment = 0;
    TuneResult::Outcome outcome = TuneResult::Outcome::NotMet;
    QString reason;
    Gains tuned {};
    int trials = 0;
    int alarmTrials = 0;
    bool alarm = false; // the drive latched an alarm during the run
    // The step the run took, where the tool refused the plant's step as too small for the
    // noise at these start gains and it was run again with the step it suggested.
    std::optional<int> suggestedStep;
    double wallS = 0;
    std::optional<Measured> again; // the tuned set as the grid measures it
    double ratio = 0; // its settling time to the grid best's; 0: none

    bool met() const { return outcome == TuneResult::Outcome::Tuned; }
};

struct PlantOutcome {
    std::uint32_t seed = 0;
    FamilyGrid::Result grid;
    double gridS = 0;
    int measuredNow = 0;
    int cached = 0;
    std::vector<Run> runs;
    // The grid best's gains one count off (KPP or KVP, up or down), measured as a run's result
    // is: their settling time to the grid best's, 0 where one is not clean. What a run that
    // found the best gains could show, so the floor of the ratios.
    std::vector<double> neighbours;
};

Run tune(std::uint32_t seed, int step, StartKind start, const Gains &from, const QString &backup,
         bool verbose, int moment)
{
    Run run;
    run.seed = seed;
    run.start = start;
    run.from = from;
    run.moment = moment;
    FamilyRig rig(seed, from, moment);
    TuneOptions options;
    options.step = step;
    options.backupPath = backup;
    options.station = FamilyRig::Station;
    Tuner tuner(rig.drive, options);
    tuner.onTrial = [&run, verbose](const Trial &t) {
        run.alarmTrials += t.summary.shortfall == Shortfall::Alarm;
        if (verbose)
            say(QStringLiteral("    plant %1, %2%3: %4")
                    .arg(run.seed)
                    .arg(QLatin1String(startName(run.start)), momentText(run.moment),
                         trialLine(t, Shown)));
    };
    QElapsedTimer timer;
    timer.start();
    const TuneResult r = tuner.run();
    run.wallS = timer.elapsed() / 1000.0;
    run.outcome = r.outcome;
    run.reason = r.reason;
    run.tuned = r.tuned;
    run.trials = int(r.trials.size());
    run.alarm = run.alarmTrials > 0 || r.outcome == TuneResult::Outcome::Alarm
        || rig.station().alarms() != 0;
    // As its user would: once more with the step it suggests (rounded up to 100 counts).
    if (r.outcome == TuneResult::Outcome::Refused && r.trials.isEmpty()
        && tuner.leastStep() > step) {
        Run again = tune(seed, (tuner.leastStep() + 99) / 100 * 100, start, from, backup, verbose,
                         moment);
        again.suggestedStep = (tuner.leastStep() + 99) / 100 * 100;
        return again;
    }
    return run;
}

QString outcomeText(const Run &run)
{
    if (run.alarm)
        return QStringLiteral("ALARM: ") + run.reason;
    if (!run.met())
        return QStringLiteral("no result: ") + run.reason;
    if (!run.again || !run.again->clean())
        return QStringLiteral("met; re-measured: %1")
            .arg(run.again ? shortfallText(run.again->shortfall) : QStringLiteral("-"));
    return QStringLiteral("met");
}

PlantOutcome plant(std::uint32_t seed, const Options &o, const QString &key)
{
    PlantOutcome p;
    p.seed = seed;
    PlantMemo memo(seed, o.cache, key);
    QElapsedTimer timer;
    timer.start();
    FamilyGrid grid(memo);
    p.grid = o.fullGrid ? grid.searchFull() : grid.search();
    p.gridS = timer.elapsed() / 1000.0;
    p.measuredNow = memo.measuredNow();
    p.cached = memo.cached();
    if (!memo.save())
        say(QStringLiteral("warning: cannot write the cache in %1").arg(o.cache));
    const FamilyGrid::Result &g = p.grid;
    if (!g.found) {
        say(QStringLiteral("plant %1: no set on the grid meets the target with margin (%2 sets, "
                           "%3 alarms)")
                .arg(seed)
                .arg(g.sets)
                .arg(g.alarms));
        return p;
    }
    say(QStringLiteral("plant %1 (step %10): best %2 ms at %3, overshoot %4 %; %5 sets (%6 "
                       "alarms), %7 measured now in %8 s; alarm from KPP=%9")
            .arg(seed)
            .arg(g.figures.settlingMs, 0, 'f', 2)
            .arg(gainText(g.best, Shown))
            .arg(g.figures.overshootPercent, 0, 'f', 1)
            .arg(g.sets)
            .arg(g.alarms)
            .arg(p.measuredNow)
            .arg(p.gridS, 0, 'f', 1)
            .arg(g.alarmKpp ? QString::number(*g.alarmKpp) : QStringLiteral("none"))
            .arg(memo.step()));
    if (o.gridOnly)
        return p;

    for (int gain : { TuneGain::KPP, TuneGain::KVP }) {
        for (int by : { 1, -1 }) {
            Gains near = g.best;
            near[std::size_t(gain)] = std::int16_t(near[std::size_t(gain)] + by);
            const Measured m = memo.robust(near);
            p.neighbours.push_back(
                m.clean() && g.figures.settlingMs > 0 ? m.settlingMs / g.figures.settlingMs : 0);
        }
    }

    QTemporaryDir scratch;
    for (int k = 0; k < StartCount; ++k) {
        if (!o.starts[std::size_t(k)])
            continue;
        const Gains &from = g.starts[std::size_t(k)];
        if (o.verbose) {
            const Measured m = memo.robust(from);
            say(QStringLiteral("  plant %1, %2 start %3 as the grid measures it: %4, settling %5 "
                               "ms, overshoot %6 %")
                    .arg(seed)
                    .arg(QLatin1String(startName(StartKind(k))), gainText(from, Shown),
                         shortfallText(m.shortfall))
                    .arg(m.settlingMs, 0, 'f', 2)
                    .arg(m.overshootPercent, 0, 'f', 1));
        }
        for (const std::uint32_t moment : o.moments) {
            Run run
                = tune(seed, memo.step(), StartKind(k), from,
                       scratch.filePath(QStringLiteral("backup.vcmpar")), o.verbose, int(moment));
            if (run.met()) {
                run.again = memo.robust(run.tuned);
                if (run.again->clean() && g.figures.settlingMs > 0)
                    run.ratio = run.again->settlingMs / g.figures.settlingMs;
            }
            say(QStringLiteral("  plant %1, %2 from %3%9: %4 trials, %5 s; %6 -> %7%8")
                    .arg(seed)
                    .arg(QLatin1String(startName(run.start)) + momentText(run.moment))
                    .arg(gainText(run.from, Shown))
                    .arg(run.trials)
                    .arg(run.wallS, 0, 'f', 1)
                    .arg(outcomeText(run))
                    .arg(gainText(run.tuned, Shown))
                    .arg(run.ratio > 0 ? QStringLiteral(", %1 ms, %2 x the grid best")
                                             .arg(run.again->settlingMs, 0, 'f', 2)
                                             .arg(run.ratio, 0, 'f', 2)
                                       : QString())
                    .arg(run.suggestedStep ? QStringLiteral(" (step %1, as the tool suggested)")
                                                 .arg(*run.suggestedStep)
                                           : QString()));
            p.runs.push_back(run);
        }
    }
    memo.save();
    return p;
}

// A run as the per-plant table shows it.
QString cellText(const Run &r)
{
    if (r.alarm)
        return QStringLiteral("ALARM");
    if (!r.met())
        return QStringLiteral("no result");
    if (r.ratio == 0)
        return QStringLiteral("met, re-measured: %1 (%2 trials)")
            .arg(r.again ? shortfallText(r.again->shortfall) : QStringLiteral("-"))
            .arg(r.trials);
    return QStringLiteral("%1 (%2 trials)").arg(r.ratio, 0, 'f', 2).arg(r.trials);
}

QString seedRanges(std::vector<std::uint32_t> seeds)
{
    std::sort(seeds.begin(), seeds.end());
    QStringList parts;
    for (std::size_t i = 0; i < seeds.size();) {
        std::size_t j = i;
        while (j + 1 < seeds.size() && seeds[j + 1] == seeds[j] + 1)
            ++j;
        parts << (i == j ? QString::number(seeds[i])
                         : QStringLiteral("%1-%2").arg(seeds[i]).arg(seeds[j]));
        i = j + 1;
    }
    return parts.join(QLatin1Char(','));
}

// Each start's runs in one row.
void startTable(const std::vector<PlantOutcome> &plants)
{
    say(QString());
    say(QStringLiteral("| start | runs | alarms | without a result | ratio median | ratio 90th "
                       "percentile | ratio worst | trials median | trials worst |"));
    say(QStringLiteral("|---|---|---|---|---|---|---|---|---|"));
    for (int k = 0; k < StartCount; ++k) {
        std::vector<double> ratios, trials;
        int runs = 0, alarms = 0, deadEnds = 0;
        for (const PlantOutcome &p : plants) {
            for (const Run &r : p.runs) {
                if (int(r.start) != k)
                    continue;
                ++runs;
                alarms += r.alarm;
                deadEnds += !r.met();
                trials.push_back(r.trials);
                if (r.ratio > 0)
                    ratios.push_back(r.ratio);
            }
        }
        if (runs == 0)
            continue;
        const auto most = [](const std::vector<double> &v) {
            return v.empty() ? 0 : *std::max_element(v.begin(), v.end());
        };
        say(QStringLiteral("| %1 | %2 | %3 | %4 | %5 | %6 | %7 | %8 | %9 |")
                .arg(QLatin1String(startName(StartKind(k))))
                .arg(runs)
                .arg(alarms)
                .arg(deadEnds)
                .arg(Measure::median(ratios), 0, 'f', 2)
                .arg(Measure::quantile(ratios, 0.9), 0, 'f', 2)
                .arg(most(ratios), 0, 'f', 2)
                .arg(Measure::median(trials), 0, 'f', 0)
                .arg(most(trials), 0, 'f', 0));
    }
}

int report(const std::vector<PlantOutcome> &plants, const Options &o, double wallS)
{
    std::vector<double> ratios, trials;
    int runs = 0, alarms = 0, alarmTrials = 0, deadEnds = 0, unclean = 0, noGrid = 0, suggested = 0;
    const Run *worst = nullptr;
    for (const PlantOutcome &p : plants) {
        noGrid += !p.grid.found;
        for (const Run &r : p.runs) {
            ++runs;
            alarms += r.alarm;
            alarmTrials += r.alarmTrials;
            deadEnds += !r.met();
            suggested += bool(r.suggestedStep);
            trials.push_back(r.trials);
            if (r.met() && (!r.again || !r.again->clean()))
                ++unclean;
            if (r.ratio > 0)
                ratios.push_back(r.ratio);
            // The worst run: an alarm, then a dead end, then the largest ratio.
            // An alarm, then no result, then a result that did not hold, then the largest ratio.
            const auto rank = [](const Run &x) {
                return std::make_tuple(x.alarm, !x.met(), x.ratio == 0, x.ratio);
            };
            if (!worst || rank(r) > rank(*worst))
                worst = &r;
        }
    }
    std::vector<std::uint32_t> seeds;
    for (const PlantOutcome &p : plants)
        seeds.push_back(p.seed);

    say(QString());
    say(QStringLiteral("| seed | grid best | gains | alarm from KPP | %1 |")
            .arg(QStringLiteral("sluggish | ringing | creeping | near-unstable")));
    say(QStringLiteral("|---|---|---|---|---|---|---|---|"));
    for (const PlantOutcome &p : plants) {
        // One outcome a moment, in the order of the moments.
        std::vector<QStringList> outcomes(StartCount);
        for (const Run &r : p.runs)
            outcomes[std::size_t(r.start)] << cellText(r);
        QStringList cells;
        for (const QStringList &o : outcomes)
            cells << (o.isEmpty() ? QStringLiteral("-") : o.join(QStringLiteral("; ")));
        say(QStringLiteral("| %1 | %2 | %3 | %4 | %5 |")
                .arg(p.seed)
                .arg(p.grid.found ? QString::number(p.grid.figures.settlingMs, 'f', 2) + " ms"
                                  : QStringLiteral("none"))
                .arg(p.grid.found ? gainText(p.grid.best, Shown) : QStringLiteral("-"))
                .arg(p.grid.alarmKpp ? QString::number(*p.grid.alarmKpp) : QStringLiteral("-"))
                .arg(cells.join(QStringLiteral(" | "))));
    }

    if (!o.gridOnly)
        startTable(plants);

    say(QString());
    say(QStringLiteral("Plants: %1 (seeds %2); %3 without a grid best")
            .arg(plants.size())
            .arg(seedRanges(seeds))
            .arg(noGrid));
    if (!o.gridOnly) {
        say(QStringLiteral("Runs: %1; alarms: %2 (in %3 trials); without a result: %4; met but "
                           "not clean when re-measured: %5; run again with the step the tool "
                           "suggested: %6")
                .arg(runs)
                .arg(alarms)
                .arg(alarmTrials)
                .arg(deadEnds)
                .arg(unclean)
                .arg(suggested));
        say(QStringLiteral("Settling time against the grid best: median %1, 90th percentile %2, "
                           "worst %3 (of %4 runs with a result)")
                .arg(Measure::median(ratios), 0, 'f', 2)
                .arg(Measure::quantile(ratios, 0.9), 0, 'f', 2)
                .arg(ratios.empty() ? 0 : *std::max_element(ratios.begin(), ratios.end()), 0, 'f',
                     2)
                .arg(ratios.size()));
        std::vector<double> floor;
        int neighbours = 0;
        for (const PlantOutcome &p : plants) {
            neighbours += int(p.neighbours.size());
            for (double r : p.neighbours) {
                if (r > 0)
                    floor.push_back(r);
            }
        }
        say(QStringLiteral("The grid best's gains one count off (KPP or KVP), measured as a result "
                           "is: median %1, 90th percentile %2, worst %3; %4 of %5 not clean")
                .arg(Measure::median(floor), 0, 'f', 2)
                .arg(Measure::quantile(floor, 0.9), 0, 'f', 2)
                .arg(floor.empty() ? 0 : *std::max_element(floor.begin(), floor.end()), 0, 'f', 2)
                .arg(neighbours - int(floor.size()))
                .arg(neighbours));
        say(QStringLiteral("Trials: median %1, worst %2")
                .arg(Measure::median(trials), 0, 'f', 0)
                .arg(trials.empty() ? 0 : *std::max_element(trials.begin(), trials.end()), 0, 'f',
                     0));
    }
    say(QStringLiteral("Wall time: %1 s with %2 job%3")
            .arg(wallS, 0, 'f', 1)
            .arg(o.jobs)
            .arg(o.jobs == 1 ? "" : "s"));
    if (worst) {
        say(QStringLiteral("Worst run: plant %1 from %2 (%3), %4")
                .arg(worst->seed)
                .arg(QLatin1String(startName(worst->start)) + momentText(worst->moment))
                .arg(gainText(worst->from, Shown), outcomeText(*worst))
                .append(worst->ratio > 0
                            ? QStringLiteral(", %1 x the grid best").arg(worst->ratio, 0, 'f', 2)
                            : QString()));
        say(QString::fromStdString(Plant::family(worst->seed).describe()).trimmed());
    }
    return alarms == 0 && deadEnds == 0 && noGrid == 0 ? 0 : 1;
}

// One set's measurements on a plant as the grid takes them, with the figures behind each.
void show(std::uint32_t seed, const Gains &gains)
{
    QTemporaryDir dir;
    const int step = plantStep(seed);
    for (int r = 0; r < Repeats; ++r) {
        std::optional<Trial> t;
        measureSet(seed, gains, step, dir.filePath(QStringLiteral("b.vcmpar")), r, &t);
        if (!t) {
            say(QStringLiteral("plant %1, try %2: no trial").arg(seed).arg(r + 1));
            continue;
        }
        say(QStringLiteral("plant %1, try %2: %3").arg(seed).arg(r + 1).arg(trialLine(*t, Shown)));
        for (const StepCheck *c : { &t->up, &t->down })
            say(QStringLiteral("    noise %1, band %2, band exits %3, largest error %4")
                    .arg(c->figures.noise, 0, 'f', 2)
                    .arg(c->figures.band, 0, 'f', 2)
                    .arg(c->bandExits)
                    .arg(c->largestError, 0, 'f', 0));
    }
}

} // namespace

int main(const QStringList &arguments)
{
    if (arguments.contains(QStringLiteral("--help"))) {
        usage(stdout);
        return 0;
    }
    const std::optional<Options> options = parse(arguments);
    if (!options) {
        usage(stderr);
        return 2;
    }
    const Options &o = *options;
    if (o.show) {
        for (std::uint32_t seed : o.seeds)
            show(seed, *o.show);
        return 0;
    }
    QElapsedTimer timer;
    timer.start();
    const QString key = measuringKey();
    say(QStringLiteral("Family of %1 plants (seeds %2), measuring key %3, cache %4, %5 job%6")
            .arg(o.seeds.size())
            .arg(seedRanges(o.seeds), key, o.cache.isEmpty() ? QStringLiteral("none") : o.cache)
            .arg(o.jobs)
            .arg(o.jobs == 1 ? "" : "s"));

    // Each job takes the next plant; every plant has its own simulated lines.
    std::vector<PlantOutcome> plants(o.seeds.size());
    std::atomic<std::size_t> next { 0 };
    const auto work = [&] {
        for (std::size_t i = next++; i < o.seeds.size(); i = next++)
            plants[i] = plant(o.seeds[i], o, key);
    };
    std::vector<std::thread> jobs;
    for (int j = 1; j < o.jobs; ++j)
        jobs.emplace_back(work);
    work();
    for (std::thread &t : jobs)
        t.join();
    return report(plants, o, timer.elapsed() / 1000.0);
}

} // namespace TuneFamily
