// The search's rules against a loop made of formulas: which way it goes from each kind of
// start, what it never asks for, and where it ends.
#include "TuneSearch.h"

#include <QtTest>

#include <cmath>
#include <functional>

using Outcome = std::function<TrialSummary(const Gains &)>;
Q_DECLARE_METATYPE(Outcome)
Q_DECLARE_METATYPE(Gains)
Q_DECLARE_METATYPE(Shortfall)
Q_DECLARE_METATYPE(TrialSummary)

namespace {
constexpr int KPP = TuneGain::KPP, KVP = TuneGain::KVP, KVI = TuneGain::KVI;
const std::array<bool, TuneGain::Count> Tuned { true, false, true, true };

TrialSummary summary(Shortfall s, double settling, double overshoot = 0, double miss = 1)
{
    TrialSummary t;
    t.shortfall = s;
    t.settlingMs = settling;
    t.riseMs = settling / 3;
    t.overshootPercent = overshoot;
    t.missPercent = s == Shortfall::None ? 1 : miss;
    t.sampleMs = 0.2;
    return t;
}

// A cascade in a few lines: the position gain may outrun the velocity gain by four before it
// overshoots; integral action beyond half the position gain overshoots too; too little of it
// creeps; the velocity loop breaks out beyond a limit.
struct Loop {
    double velocityLimit = 400;
    TrialSummary operator()(const Gains &g) const
    {
        const double kpp = g[KPP], kvp = g[KVP], kvi = std::max<double>(g[KVI], 1);
        if (kvp > velocityLimit)
            return summary(Shortfall::Chatter, 0, 0, 100);
        const double over
            = std::max(0.0, 60 * (kpp / (4 * kvp) - 1)) + std::max(0.0, 30 * (kvi / (kpp / 2) - 1));
        const double settling = 2000 / kpp + 400 / kvi + over;
        if (over > 5)
            return summary(Shortfall::Overshoot, settling, over, over - 5);
        if (settling > 150)
            return summary(Shortfall::NotSettled, settling, over, settling / 10);
        return summary(Shortfall::None, settling, over);
    }
};

// The search on such a loop, every set it asks for kept in order.
struct Run {
    explicit Run(Outcome outcome, int budget = 40, std::array<bool, TuneGain::Count> tuned = Tuned)
        : outcome(std::move(outcome)),
          search(tuned, budget, 5,
                 [this](const Gains &g, Trial::Kind kind) { return measure(g, kind); })
    {
    }
    std::optional<Trial> measure(const Gains &g, Trial::Kind kind)
    {
        Gains held = g;
        held[KVP] = std::min(held[KVP], highestKvp);
        asked.push_back(held);
        Trial t;
        t.number = int(asked.size());
        t.kind = kind;
        t.gains = held;
        t.span = QStringLiteral("200");
        t.summary = outcome(held);
        t.up.bandExits = t.down.bandExits = exits.count(held) ? exits.at(held) : 0;
        if (t.summary.shortfall == Shortfall::Ringing && ringPaceMs > 0) {
            t.up.bandExits = 3;
            t.up.exitIntervalMs = ringPaceMs;
            t.up.figures.riseMs = t.summary.riseMs;
        }
        return t;
    }
    void start(const Gains &g, int reserve = 0, int unmetReserve = 0)
    {
        const std::optional<Trial> first = measure(g, Trial::Kind::Start);
        asked.clear();
        search.run(*first, reserve, unmetReserve);
    }
    Outcome outcome;
    std::int16_t highestKvp = 32767; // the drive clamps KVP here
    std::map<Gains, int> exits; // sets whose feedback leaves the band, how often each way: a sign
    double ringPaceMs = 0; // the time between a ringing set's band exits (three of them)
    std::vector<Gains> asked;
    TuneSearch search;
};

// A search whose measurements are given set by set; any other set meets the target.
TuneSearch searchOf(const std::map<Gains, Shortfall> &outcomes)
{
    return TuneSearch(Tuned, 10, 5, [outcomes](const Gains &g, Trial::Kind) {
        Trial t;
        t.gains = g;
        const auto at = outcomes.find(g);
        t.summary = summary(at == outcomes.end() ? Shortfall::None : at->second, 10);
        return std::optional<Trial>(t);
    });
}

// How a set compares with another, gain by gain: -1 lower, 0 same, 1 higher.
std::array<int, TuneGain::Count> way(const Gains &from, const Gains &to)
{
    std::array<int, TuneGain::Count> w {};
    for (int g = 0; g < TuneGain::Count; ++g)
        w[g] = to[g] > from[g] ? 1 : to[g] < from[g] ? -1 : 0;
    return w;
}
} // namespace

class TestTuneSearch final : public QObject {
    Q_OBJECT

private slots:
    // The first move from a start that falls short, by how it falls short.
    void firstMove_data()
    {
        QTest::addColumn<TrialSummary>("start");
        QTest::addColumn<QList<int>>("way"); // KPP KFV KVP KVI

        QTest::newRow("beyond the target: less position gain")
            << summary(Shortfall::Overshoot, 20, 30, 25) << QList<int> { -1, 0, 0, 0 };
        QTest::newRow("ringing: less position gain")
            << summary(Shortfall::Ringing, 20, 30, 25) << QList<int> { -1, 0, 0, 0 };
        QTest::newRow("swinging while holding: less position gain")
            << summary(Shortfall::Chatter, 0, 0, 100) << QList<int> { -1, 0, 0, 0 };
        QTest::newRow("not settled, never arrived: all stiffer")
            << summary(Shortfall::NotSettled, 200, 0, 30) << QList<int> { 1, 0, 1, 1 };
        QTest::newRow("losing the position: all stiffer")
            << summary(Shortfall::PositionError, 200, 0, 30) << QList<int> { 1, 0, 1, 1 };
    }
    void firstMove()
    {
        QFETCH(TrialSummary, start);
        QFETCH(QList<int>, way);
        const Gains from { 400, 50, 100, 50 };
        // Every other set misses by more: the search tries each way of the group it starts with.
        Run run([&](const Gains &g) {
            return g == from ? start : summary(Shortfall::NotSettled, 300, 0, 90);
        });
        run.start(from);
        QVERIFY(!run.asked.empty());
        const auto first = ::way(from, run.asked.front());
        QCOMPARE(QList<int>(first.begin(), first.end()), way);
    }

    // A ringing response calms with less position gain first; with more velocity gain alone
    // only where it overshoots by far more than the target (a loop short of damping), never
    // where it may ring at the velocity loop's limit.
    void damper_data()
    {
        QTest::addColumn<double>("overshoot");
        QTest::addColumn<bool>("loweringSettles");
        QTest::addColumn<bool>("moreVelocityGain");
        QTest::newRow("30 %: short of damping") << 30.0 << false << true;
        QTest::newRow("8 %: may be the velocity loop's limit") << 8.0 << false << false;
        QTest::newRow("30 %, but less position gain settles: no raise risked")
            << 30.0 << true << false;
    }
    void damper()
    {
        QFETCH(double, overshoot);
        QFETCH(bool, loweringSettles);
        QFETCH(bool, moreVelocityGain);
        const Gains from { 400, 50, 100, 50 };
        // More velocity gain alone gets nearer, and not all the way; less position gain
        // settles it, or falls further short.
        Run run([&](const Gains &g) {
            if (g == from)
                return summary(Shortfall::Ringing, 20, overshoot, overshoot);
            const bool damper = g[KVP] > from[KVP] && g[KPP] == from[KPP] && g[KVI] == from[KVI];
            if (loweringSettles && g[KPP] < from[KPP] && g[KVP] == from[KVP])
                return summary(Shortfall::None, 30);
            return damper ? summary(Shortfall::Ringing, 20, overshoot / 2, overshoot / 2)
                          : summary(Shortfall::NotSettled, 300, 0, 90);
        });
        run.start(from);
        const bool asked = std::any_of(run.asked.begin(), run.asked.end(), [&](const Gains &g) {
            return g[KVP] > from[KVP] && g[KPP] == from[KPP] && g[KVI] == from[KVI];
        });
        QCOMPARE(asked, moreVelocityGain);
    }

    // A response far beyond the target that less KPP does not settle lacks damping: more KVP
    // is followed where it gets nearer without trouble, even where less KPP got nearer still.
    void underdamped_data()
    {
        QTest::addColumn<double>("ringsFromKvp"); // more KVP rings from here on
        QTest::addColumn<int>("mostKvp"); // the highest KVP asked at the start's KPP
        QTest::addColumn<bool>("found");
        QTest::addColumn<int>("exits"); // how often the start's feedback leaves the band
        QTest::newRow("more damping calms it") << 1000.0 << 400 << true << 0;
        QTest::newRow("the first raise rings") << 110.0 << 119 << false << 0;
        // Once each way, after an overshoot far beyond the target: the swing of a loop short of
        // damping.
        QTest::newRow("one exit each way: no sign of a limit") << 1000.0 << 400 << true << 1;
        QTest::newRow("a sign holds KVP to the finest steps: too slow a way")
            << 1000.0 << 109 << false << 2;
    }
    void underdamped()
    {
        QFETCH(double, ringsFromKvp);
        QFETCH(int, mostKvp);
        QFETCH(bool, found);
        QFETCH(int, exits);
        const Gains from { 400, 50, 100, 50 };
        Run run([&](const Gains &g) {
            if (g[KPP] < from[KPP])
                return summary(Shortfall::Overshoot, 20, 12, 7);
            if (g[KPP] > from[KPP] || g[KVI] != from[KVI] || g[KVP] < from[KVP])
                return summary(Shortfall::NotSettled, 300, 0, 90);
            const double over = 30 * std::pow(100.0 / g[KVP], 3);
            if (g[KVP] >= ringsFromKvp)
                return summary(Shortfall::Ringing, 20, over, over);
            return over > 5 ? summary(Shortfall::Overshoot, 20, over, over - 5)
                            : summary(Shortfall::None, 20, over);
        });
        if (exits > 0)
            run.exits[from] = exits;
        run.start(from);
        int most = 0;
        for (const Gains &g : run.asked) {
            if (g[KPP] == from[KPP] && g[KVI] == from[KVI])
                most = std::max<int>(most, g[KVP]);
        }
        QVERIFY2(most <= mostKvp, qPrintable(QString::number(most)));
        const std::vector<Trial> best = run.search.ranked();
        QCOMPARE(!best.empty(), found);
        if (found)
            QVERIFY(best.front().gains[KVP] >= 168 && best.front().gains[KPP] == from[KPP]);
    }

    // Where every miss lies within the margin of a limit a raise came near, the search backs off
    // out of that margin and goes on, rather than ending without a result.
    void backsOff()
    {
        const Gains from { 400, 50, 100, 50 };
        Run run([&](const Gains &g) {
            if (g[KVP] > from[KVP])
                return summary(Shortfall::Chatter, 0, 0, 100);
            if (g[KVP] * MarginFactor < 119)
                return summary(Shortfall::None, 20, 2);
            const double over = 30.0 * g[KPP] / from[KPP];
            return summary(Shortfall::Overshoot, 20, over, over - 5);
        });
        run.start(from);
        const std::vector<Trial> best = run.search.ranked();
        QVERIFY(!best.empty());
        QVERIFY(best.front().gains[KVP] * MarginFactor < 119);
    }

    // A set that rings with little overshoot: slowly, far apart against its rise, a position loop
    // short of damping, which more KVP settles; fast, the velocity loop at its limit, which
    // only lowering may calm.
    void ringingPace_data()
    {
        QTest::addColumn<double>("paceMs"); // the rise takes 20 / 3 ms
        QTest::addColumn<bool>("found");
        QTest::addColumn<int>("firstKvp"); // the first KVP asked above the start's; 0: none
        // Its exits are a sign, but of a loop short of damping: KVP rises by 2^(1/4), not 2^(1/8).
        QTest::newRow("slowly") << 40.0 << true << 119;
        QTest::newRow("fast") << 3.0 << false << 0;
    }
    void ringingPace()
    {
        QFETCH(double, paceMs);
        QFETCH(bool, found);
        const Gains from { 400, 50, 100, 50 };
        Run run([&](const Gains &g) {
            if (g == from)
                return summary(Shortfall::Ringing, 20, 4, 8);
            if (g[KPP] == from[KPP] && g[KVI] == from[KVI] && g[KVP] > from[KVP])
                return summary(Shortfall::None, 20, 2);
            return summary(Shortfall::NotSettled, 300, 0, 90);
        });
        run.ringPaceMs = paceMs;
        run.start(from);
        QCOMPARE(!run.search.ranked().empty(), found);
        QFETCH(int, firstKvp);
        const auto raised = std::find_if(run.asked.begin(), run.asked.end(), [&](const Gains &g) {
            return g[KVP] > from[KVP] && g[KPP] == from[KPP] && g[KVI] == from[KVI];
        });
        QCOMPARE(raised == run.asked.end() ? 0 : int((*raised)[KVP]), firstKvp);
    }

    // Where no single step gets nearer, the likeliest way is walked across the plateau, out of
    // the trouble it set out from, but not into new trouble.
    void plateau_data()
    {
        QTest::addColumn<Shortfall>("on");
        QTest::addColumn<double>("cleanFromKvp");
        QTest::addColumn<bool>("found");
        QTest::newRow("half again as high") << Shortfall::Overshoot << 150.0 << true;
        QTest::newRow("over twice as high") << Shortfall::Overshoot << 230.0 << true;
        QTest::newRow("out of a lost position") << Shortfall::PositionError << 150.0 << true;
        QTest::newRow("into a loop that swings while holding")
            << Shortfall::Chatter << 150.0 << false;
    }
    void plateau()
    {
        QFETCH(Shortfall, on);
        QFETCH(double, cleanFromKvp);
        QFETCH(bool, found);
        const Gains from { 400, 50, 100, 50 };
        const Shortfall first = on == Shortfall::PositionError ? on : Shortfall::Overshoot;
        Run run([&](const Gains &g) {
            if (g[KVP] >= cleanFromKvp)
                return summary(Shortfall::None, 20);
            return summary(g == from ? first : on, 20, 30, 25);
        });
        run.start(from);
        const std::vector<Trial> best = run.search.ranked();
        QCOMPARE(!best.empty(), found);
        if (found)
            QVERIFY(best.front().gains[KVP] >= cleanFromKvp);
    }

    // From a set that meets the target, the search first makes it stiffer: KPP and KVP
    // together, by the finest step, as a limit may lie one coarser step away without a sign.
    void stiffness()
    {
        const Gains from { 400, 50, 150, 100 };
        Run run(Loop {});
        run.start(from);
        const auto moved = std::find_if(run.asked.begin(), run.asked.end(),
                                        [&](const Gains &g) { return g != from; });
        QVERIFY(moved != run.asked.end());
        const auto w = way(from, *moved);
        QCOMPARE(QList<int>(w.begin(), w.end()), QList<int>({ 1, 0, 1, 0 }));
        QVERIFY((*moved)[KPP] <= std::lround(from[KPP] * std::pow(2.0, 0.125)));
        QVERIFY((*moved)[KVP] <= std::lround(from[KVP] * std::pow(2.0, 0.125)));
    }

    // Integral action far too low for a set that meets the target: it is doubled at a time,
    // and followed while the response settles faster.
    void integralFromLargestStep()
    {
        const Gains from { 400, 50, 150, 5 };
        Run run([](const Gains &g) {
            if (g[KVI] > 80)
                return summary(Shortfall::Overshoot, 30, 10, 5);
            return summary(Shortfall::None, 20 + 400.0 / g[KVI], 1);
        });
        run.start(from);
        const auto raised = std::find_if(run.asked.begin(), run.asked.end(),
                                         [&](const Gains &g) { return g[KVI] > from[KVI]; });
        QVERIFY(raised != run.asked.end());
        QCOMPARE((*raised)[KVI], 2 * from[KVI]);
        QVERIFY(run.search.ranked().front().gains[KVI] >= 8 * from[KVI]);
    }

    // A set that met the target once by luck, and fell short when measured again, is no best to
    // refine around: the search goes on towards the target from it, to sets that always meet it.
    void luckyOnce_data()
    {
        QTest::addColumn<Shortfall>("again");
        QTest::newRow("not settled") << Shortfall::NotSettled;
        QTest::newRow("ringing") << Shortfall::Ringing;
    }
    void luckyOnce()
    {
        QFETCH(Shortfall, again);
        std::optional<Gains> lucky;
        Run run([&lucky, again](const Gains &g) {
            if (g[KPP] >= 800)
                return summary(Shortfall::None, 20);
            if (g[KPP] >= 420 && !lucky) {
                lucky = g;
                return summary(Shortfall::None, 5);
            }
            return summary(g == lucky ? again : Shortfall::NotSettled, 200, 0, 1000.0 / g[KPP]);
        });
        run.start({ 300, 50, 100, 20 });
        QVERIFY(lucky);
        const std::vector<Trial> best = run.search.ranked();
        QVERIFY(!best.empty());
        QVERIFY(best.front().gains[KPP] >= 800);
    }

    // Where the records cannot resolve the rise, nothing is refined on them. The sweep stops at
    // the first stiffer set that settles no faster; sets with less KPP are measured while they
    // settle alike, and the softest of those is offered first: its margin lies furthest from a
    // limit.
    void unresolved()
    {
        const Gains from { 400, 50, 100, 50 };
        Run run([](const Gains &g) {
            TrialSummary t = summary(Shortfall::None, g[KPP] >= 300 ? 10 : 20);
            t.unresolved = true;
            return t;
        });
        run.start(from);
        int stiffer = 0, softer = 0;
        for (const Gains &g : run.asked) {
            stiffer += g[KPP] > from[KPP];
            softer += g[KPP] < from[KPP];
            QCOMPARE(g[KVI], from[KVI]);
            if (g[KPP] < from[KPP])
                QCOMPARE(g[KVP], from[KVP]);
        }
        QCOMPARE(stiffer, 1);
        QCOMPARE(softer, 2); // the second settles slower: the walk ends there
        QVERIFY(run.search.stoppedUnresolved());
        const Gains softest = run.search.ranked().front().gains;
        QVERIFY(softest[KPP] < from[KPP] && softest[KPP] >= 300);
        QCOMPARE(softest[KVP], from[KVP]);
    }

    // Every way the search may move, and how far: the velocity gain by 2^(1/4) at most, the
    // others by 2 at most; towards a loop that came near its limit, never within the margin.
    void steps_data()
    {
        QTest::addColumn<Gains>("start");
        QTest::addColumn<double>("velocityLimit");
        QTest::newRow("sluggish") << Gains { 100, 50, 25, 6 } << 400.0;
        QTest::newRow("ringing") << Gains { 1600, 50, 60, 50 } << 400.0;
        QTest::newRow("creeping") << Gains { 1000, 50, 250, 2 } << 400.0;
        QTest::newRow("near the velocity limit") << Gains { 1000, 50, 380, 100 } << 400.0;
        QTest::newRow("limit low") << Gains { 200, 50, 50, 20 } << 90.0;
    }
    void steps()
    {
        QFETCH(Gains, start);
        QFETCH(double, velocityLimit);
        Loop loop;
        loop.velocityLimit = velocityLimit;
        Run run(loop);
        run.start(start);
        QVERIFY(run.search.trialsUsed() <= 40);
        std::vector<Gains> seen { start };
        std::optional<Gains> brokeOut;
        for (const Gains &g : run.asked) {
            // Some set measured before lies within one step of it.
            const bool reachable = std::any_of(seen.begin(), seen.end(), [&](const Gains &f) {
                for (int i : { KPP, KVI })
                    if (g[i] > 2 * f[i] + 1 || 2 * g[i] + 1 < f[i])
                        return false;
                return g[KVP] <= std::pow(2.0, 0.25) * f[KVP] + 1 && 2 * g[KVP] + 1 >= f[KVP];
            });
            QVERIFY2(reachable,
                     qPrintable(QStringLiteral("%1 %2 %3").arg(g[0]).arg(g[2]).arg(g[3])));
            if (brokeOut)
                QVERIFY(g[KVP] * MarginFactor < (*brokeOut)[KVP]
                        || g[KPP] < (*brokeOut)[KPP] / MarginFactor);
            if (g[KVP] > velocityLimit && !brokeOut)
                brokeOut = g;
            seen.push_back(g);
        }
        // It found gains that meet the target, near the loop's best for them.
        const std::vector<Trial> best = run.search.ranked();
        QVERIFY(!best.empty());
        QVERIFY(best.front().summary.clean());
    }

    // Of the sets that met the target, which is offered first: one that always met it; then,
    // within a sample of the fastest, the softest (furthest from the loop's limits); beyond a
    // sample, the faster. One that met it in fewer than half of its measurements is not offered.
    void ranked_data()
    {
        QTest::addColumn<double>("stiffSettling");
        QTest::addColumn<double>("softSettling");
        QTest::addColumn<int>("stiffShort"); // measured again, short of the target each time
        QTest::addColumn<double>("spread"); // between two measurements of a slower third set
        QTest::addColumn<QList<int>>("order"); // KPP, first offered first
        const QList<int> softFirst { 400, 500 }, stiffFirst { 500, 400 };
        QTest::newRow("alike within a sample") << 10.0 << 10.15 << 0 << 0.0 << softFirst;
        QTest::newRow("the stiff one a sample faster") << 10.0 << 10.25 << 0 << 0.0 << stiffFirst;
        QTest::newRow("alike within the measured spread") << 10.0 << 10.8 << 0 << 1.0 << softFirst;
        QTest::newRow("the stiff one faster by more than the spread")
            << 10.0 << 11.2 << 0 << 1.0 << stiffFirst;
        QTest::newRow("the soft one faster") << 10.3 << 10.0 << 0 << 0.0 << softFirst;
        QTest::newRow("the faster one once short") << 10.0 << 12.0 << 1 << 0.0 << softFirst;
        QTest::newRow("the faster one short twice in three")
            << 10.0 << 12.0 << 2 << 0.0 << QList<int> { 400 };
    }
    void ranked()
    {
        QFETCH(double, stiffSettling);
        QFETCH(double, softSettling);
        QFETCH(int, stiffShort);
        QFETCH(double, spread);
        QFETCH(QList<int>, order);
        const Gains stiff { 500, 50, 150, 50 }, soft { 400, 50, 140, 50 },
            slow { 300, 50, 100, 50 };
        int stiffMeasured = 0, slowMeasured = 0;
        TuneSearch search(Tuned, 10, 5, [&](const Gains &g, Trial::Kind) {
            Trial t;
            t.gains = g;
            t.summary = summary(Shortfall::None, g == stiff ? stiffSettling : softSettling);
            if (g == slow)
                t.summary = summary(Shortfall::None, 20 + (slowMeasured++ ? spread : 0));
            if (g == stiff && stiffMeasured++ > 0)
                t.summary = summary(Shortfall::NotSettled, 200, 0, 10);
            return std::optional<Trial>(t);
        });
        QVERIFY(search.tryGains(stiff, Trial::Kind::Search, nullptr));
        for (int i = 0; i < stiffShort; ++i)
            QVERIFY(search.tryGains(stiff, Trial::Kind::Search, nullptr, true));
        QVERIFY(search.tryGains(soft, Trial::Kind::Search, nullptr));
        if (spread > 0) {
            QVERIFY(search.tryGains(slow, Trial::Kind::Search, nullptr));
            QVERIFY(search.tryGains(slow, Trial::Kind::Search, nullptr, true));
            order << slow[KPP];
        }
        QList<int> offered;
        for (const Trial &t : search.ranked())
            offered << t.gains[KPP];
        QCOMPARE(offered, order);
    }

    // What the search never asks for.
    void refusals()
    {
        // A clamped velocity gain marks the range's end: never asked beyond it again.
        Run clamped(Loop {});
        clamped.highestKvp = 150;
        clamped.start({ 100, 50, 25, 6 });
        int beyond = 0;
        for (const Gains &g : clamped.asked)
            beyond += g[KVP] > 150;
        QVERIFY(beyond <= 1);
        QCOMPARE(clamped.search.highest()[KVP], std::int16_t(150));

        // A set is asked again only to measure a clean one once more.
        Run once(Loop {});
        once.start({ 100, 50, 25, 6 });
        std::map<Gains, int> count;
        for (const Gains &g : once.asked)
            ++count[g];
        for (const auto &[g, n] : count)
            QVERIFY(n == 1 || Loop {}(g).clean());


        // A gain that may not change is never asked for changed.
        Run kviOnly(Loop {}, 40, { false, false, false, true });
        kviOnly.start({ 1000, 50, 250, 2 });
        for (const Gains &g : kviOnly.asked)
            QVERIFY(g[KPP] == 1000 && g[KVP] == 250);
    }

    // The reserve is kept for the end; while nothing met the target, only the smaller one.
    void reserve_data()
    {
        QTest::addColumn<Outcome>("outcome");
        QTest::addColumn<int>("used"); // at most, of 20 with a reserve of 8, or 3 while unmet
        QTest::newRow("met early") << Outcome(Loop {}) << 12 + 1;
        QTest::newRow("never met, nearer at every step")
            << Outcome([](const Gains &g) {
                   return summary(Shortfall::NotSettled, 200, 0, 1000.0 / g[KPP]);
               })
            << 17;
    }
    void reserve()
    {
        QFETCH(Outcome, outcome);
        QFETCH(int, used);
        Run run(outcome, 20);
        run.start({ 100, 50, 25, 6 }, 8, 3);
        QVERIFY(run.search.trialsUsed() <= used);
        QVERIFY(run.search.trialsUsed() >= used - 1);
    }

    // Near a set that came near a limit, within the margin, nothing is asked.
    void nearUnsafe_data()
    {
        QTest::addColumn<Shortfall>("shortfall");
        QTest::addColumn<Gains>("asked");
        QTest::addColumn<bool>("refused");
        const Shortfall breaks = Shortfall::Chatter, rings = Shortfall::Ringing;
        QTest::newRow("breakout, the set itself") << breaks << Gains { 400, 50, 200, 50 } << true;
        QTest::newRow("breakout, within 1.3") << breaks << Gains { 400, 50, 160, 50 } << true;
        QTest::newRow("breakout, beyond 1.3") << breaks << Gains { 400, 50, 150, 50 } << false;
        QTest::newRow("breakout, other gains other") << breaks << Gains { 100, 50, 190, 9 } << true;
        // A response that rings after its step, raised from a set not measured: a hunting loop
        // rings so as well (edge() has the raise from a clean set).
        QTest::newRow("ringing, the set itself, again")
            << rings << Gains { 400, 50, 200, 50 } << true;
        QTest::newRow("ringing, beyond") << rings << Gains { 400, 50, 240, 50 } << false;
        QTest::newRow("alarm, within 1.3")
            << Shortfall::Alarm << Gains { 400, 50, 160, 50 } << true;
        QTest::newRow("position lost, within 1.3")
            << Shortfall::PositionError << Gains { 400, 50, 154, 50 } << true;
    }
    // Which trouble marks a limit: a raise that ran into it, not a lowering (too soft) and not
    // a raise that found the trouble it started from. A margin step stops only at or beyond it.
    void limits_data()
    {
        QTest::addColumn<Shortfall>("before");
        QTest::addColumn<Gains>("from");
        QTest::addColumn<Gains>("asked");
        QTest::addColumn<bool>("refused");
        QTest::addColumn<bool>("marginRefused");
        const Shortfall lost = Shortfall::PositionError, none = Shortfall::None;
        QTest::newRow("raised into it") << none << Gains { 400, 50, 168, 50 }
                                        << Gains { 400, 50, 160, 50 } << true << false;
        QTest::newRow("raised into it, a margin step at it")
            << none << Gains { 400, 50, 168, 50 } << Gains { 400, 50, 200, 50 } << true << true;
        QTest::newRow("raised, and in it before") << lost << Gains { 400, 50, 168, 50 }
                                                  << Gains { 400, 50, 160, 50 } << false << false;
        QTest::newRow("lowered into it: too soft") << none << Gains { 400, 50, 240, 50 }
                                                   << Gains { 400, 50, 230, 50 } << false << false;
    }
    void limits()
    {
        QFETCH(Shortfall, before);
        QFETCH(Gains, from);
        QFETCH(Gains, asked);
        QFETCH(bool, refused);
        QFETCH(bool, marginRefused);
        const Gains reached { 400, 50, 200, 50 };
        TuneSearch search = searchOf({ { reached, Shortfall::PositionError }, { from, before } });
        QVERIFY(search.tryGains(from, Trial::Kind::Start, nullptr));
        QVERIFY(search.tryGains(reached, Trial::Kind::Search, &from));
        QCOMPARE(search.nearUnsafe(asked), refused);
        QCOMPARE(search.nearUnsafe(asked, 1 / MarginFactor), marginRefused);
    }

    // A raise that made a clean set ring marks an edge: nothing at or beyond it in the gains
    // raised is asked, right up to it is. Not where the ring was a hunting loop's noise.
    void edge_data()
    {
        QTest::addColumn<Shortfall>("before"); // how the set raised from fared
        QTest::addColumn<Gains>("from");
        QTest::addColumn<bool>("passedBefore"); // a set beyond the ring met the target earlier
        QTest::addColumn<Gains>("asked");
        QTest::addColumn<bool>("refused");
        const Shortfall none = Shortfall::None;
        const Gains below { 400, 50, 180, 50 }, above { 400, 50, 240, 50 };
        QTest::newRow("raised from a clean set, beyond")
            << none << below << false << Gains { 400, 50, 210, 50 } << true;
        QTest::newRow("raised from a clean set, other gains other")
            << none << below << false << Gains { 100, 50, 200, 9 } << true;
        QTest::newRow("raised from a clean set, below")
            << none << below << false << Gains { 400, 50, 190, 50 } << false;
        QTest::newRow("raised from a set that rang too")
            << Shortfall::Ringing << below << false << Gains { 400, 50, 210, 50 } << false;
        QTest::newRow("a set beyond met the target before")
            << none << below << true << Gains { 400, 50, 210, 50 } << false;
        QTest::newRow("lowered into it") << none << above << false << Gains { 400, 50, 210, 50 }
                                         << false;
    }
    void edge()
    {
        QFETCH(Shortfall, before);
        QFETCH(Gains, from);
        QFETCH(bool, passedBefore);
        QFETCH(Gains, asked);
        QFETCH(bool, refused);
        const Gains rang { 400, 50, 200, 50 }, passed { 400, 50, 220, 50 };
        TuneSearch search = searchOf({ { rang, Shortfall::Ringing }, { from, before } });
        if (passedBefore)
            QVERIFY(search.tryGains(passed, Trial::Kind::Search, nullptr));
        QVERIFY(search.tryGains(from, Trial::Kind::Search, nullptr));
        QVERIFY(search.tryGains(rang, Trial::Kind::Search, &from));
        QCOMPARE(search.nearUnsafe(asked), refused);
    }

    // A set that met the target and rings when measured again marks an edge in every gain the
    // run tunes; not where it rings slowly for its rise, as a loop hunting across the band does.
    void edgeMeasuredAgain_data()
    {
        QTest::addColumn<double>("paceMs"); // between exits; the rise takes 2 ms
        QTest::addColumn<Gains>("asked");
        QTest::addColumn<bool>("refused");
        QTest::newRow("fast, the set itself") << 3.0 << Gains { 400, 50, 200, 50 } << true;
        QTest::newRow("fast, beyond in every gain") << 3.0 << Gains { 440, 9, 210, 55 } << true;
        QTest::newRow("fast, below in one") << 3.0 << Gains { 390, 50, 260, 60 } << false;
        QTest::newRow("slowly, beyond in every gain") << 40.0 << Gains { 440, 9, 210, 55 } << false;
    }
    void edgeMeasuredAgain()
    {
        QFETCH(double, paceMs);
        QFETCH(Gains, asked);
        QFETCH(bool, refused);
        const Gains set { 400, 50, 200, 50 };
        int measured = 0;
        TuneSearch search(Tuned, 10, 5, [&](const Gains &g, Trial::Kind) {
            Trial t;
            t.gains = g;
            t.summary = summary(measured++ ? Shortfall::Ringing : Shortfall::None, 10);
            t.up.bandExits = measured > 1 ? 3 : 0;
            t.up.exitIntervalMs = paceMs;
            t.up.figures.riseMs = 2;
            return std::optional<Trial>(t);
        });
        QVERIFY(search.tryGains(set, Trial::Kind::Search, nullptr));
        QVERIFY(!search.nearUnsafe(asked));
        QVERIFY(search.tryGains(set, Trial::Kind::Search, nullptr, true));
        QCOMPARE(search.nearUnsafe(asked), refused);
    }

    void nearUnsafe()
    {
        QFETCH(Shortfall, shortfall);
        QFETCH(Gains, asked);
        QFETCH(bool, refused);
        const Gains from { 400, 50, 168, 50 }, reached { 400, 50, 200, 50 };
        TuneSearch search = searchOf({ { reached, shortfall } });
        QVERIFY(search.tryGains(reached, Trial::Kind::Search, &from));
        // Measured already, or near a limit: not asked.
        QCOMPARE(search.nearUnsafe(asked), refused && shortfall != Shortfall::Ringing);
        QCOMPARE(!search.tryGains(asked, Trial::Kind::Search, &from), refused);
    }
};

QTEST_GUILESS_MAIN(TestTuneSearch)
#include "tst_tunesearch.moc"
