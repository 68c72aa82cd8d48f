#include "TuneSearch.h"

#include <algorithm>
#include <cmath>

namespace {
using namespace TuneGain;
// Step factors: a first, coarse move; a raise near the loop's limits; the finest refinement.
const double Coarse = std::sqrt(2.0);
const double Fine = std::pow(2.0, 0.25);
const double Finest = std::pow(2.0, 0.125);
// Steps walked the same way across a plateau where no single step gets nearer.
constexpr int PlateauSteps = 8;
// No trial changes a gain by more than this.
constexpr double Largest = 2;
// Band exits further apart than this many rise times: a position loop short of damping (a
// second-order loop leaves the band every two rise times or more; this asks twice that),
// not the velocity loop at its limit, which rings within a few samples.
constexpr double SlowRing = 4;

double mean(const std::vector<double> &v)
{
    double sum = 0;
    for (double x : v)
        sum += x;
    return v.empty() ? 0 : sum / double(v.size());
}
} // namespace

TuneSearch::TuneSearch(const std::array<bool, TuneGain::Count> &tuned, int trialBudget,
                       double targetPercent, Measure measure)
    : m_tuned(tuned),
      m_budget(trialBudget),
      m_targetPercent(targetPercent),
      m_measure(std::move(measure))
{
    m_highest.fill(32767);
    m_lowest.fill(0);
}

double TuneSearch::spreadMs() const
{
    if (m_repeats.empty())
        return 0;
    std::vector<double> sorted = m_repeats;
    std::sort(sorted.begin(), sorted.end());
    return sorted[sorted.size() / 2];
}

double TuneSearch::tieMs(const Trial &a, const Trial &b) const
{
    // One sample of the coarser record at least; two where a rise fell between samples, whose
    // figures cannot be refined on.
    const double sample = std::max(a.summary.sampleMs, b.summary.sampleMs);
    const bool unresolved = a.summary.unresolved || b.summary.unresolved;
    return std::max(sample * (unresolved ? 2 : 1), spreadMs());
}

bool TuneSearch::near(const Unsafe &u, const Gains &gains, double wider)
{
    // No margin from an edge: only at or beyond it is refused.
    const double margin = u.edge ? std::max(1.0, wider) : MarginFactor * wider;
    bool within = false;
    for (int g : All) {
        if (u.move[g] == 0)
            continue;
        within = true;
        if (u.move[g] > 0 ? gains[g] * margin < u.gains[g] : gains[g] > u.gains[g] * margin)
            return false;
    }
    return within;
}

bool TuneSearch::nearUnsafe(const Gains &gains, double wider) const
{
    return std::any_of(m_unsafe.begin(), m_unsafe.end(),
                       [&](const Unsafe &u) { return near(u, gains, wider); });
}

void TuneSearch::book(const Trial &t, const Gains *from)
{
    const auto known = m_tried.find(t.gains);
    const std::optional<Trial> before
        = known == m_tried.end() ? std::nullopt : std::optional(known->second);
    if (before && before->summary.clean() && t.summary.clean())
        m_repeats.push_back(std::abs(before->summary.settlingMs - t.summary.settlingMs));
    m_tried[t.gains] = t;
    if (t.kind != Trial::Kind::Margin)
        m_candidates.insert(t.gains);
    Record &r = m_records[t.gains];
    ++r.measured;
    if (t.summary.clean()) {
        ++r.clean;
        r.lastClean = t;
        m_settlings[t.gains].push_back(t.summary.settlingMs);
    }
    // The gains moved to reach the set, and the set it was reached from. A set measured again
    // was reached by no move: a ring now marks an edge in every gain the run tunes, from the
    // set as it measured before.
    Move move {};
    std::optional<Trial> was = before;
    if (from) {
        for (int g : All)
            move[g] = t.gains[g] > (*from)[g] ? 1 : t.gains[g] < (*from)[g] ? -1 : 0;
        const auto at = m_tried.find(*from);
        was = at == m_tried.end() ? std::nullopt : std::optional(at->second);
    } else if (before) {
        for (int g : All)
            move[g] = m_tuned[g] ? 1 : 0;
    } else {
        return;
    }
    const bool raised = std::any_of(move.begin(), move.end(), [](int m) { return m > 0; });
    if (nearLimit(t.summary.shortfall)) {
        // Only a raise comes near a loop's limit: a set lowered into trouble is too soft (it
        // loses its position, it hunts), and the way back up is the way out. Nor did a raise
        // lead there that started from a set losing its position as well: too soft still.
        const bool already = t.summary.shortfall == Shortfall::PositionError && was
            && was->summary.shortfall == t.summary.shortfall;
        if (!already && raised && from)
            m_unsafe.push_back({ t.gains, move });
    } else if (t.summary.shortfall == Shortfall::Ringing) {
        // A raise that made a clean set ring found where a loop's limit begins: a set at or
        // beyond it, in every gain the raise moved, would ring more or break out.
        // Not where a set that far or farther met the target: that ring was the noise of a
        // hunting loop.
        const bool passed = std::any_of(m_tried.begin(), m_tried.end(), [&](const auto &k) {
            return k.second.summary.clean()
                && std::all_of(std::begin(All), std::end(All),
                               [&](int g) { return move[g] <= 0 || k.first[g] >= t.gains[g]; });
        });
        // Measured again, not where it rings slowly for its rise: a loop hunting across the
        // band's edge, held by friction, rings so one time and not the next.
        if (was && was->summary.clean() && !passed && raised && (from || !slowRing(t))
            && std::none_of(move.begin(), move.end(), [](int m) { return m < 0; }))
            m_unsafe.push_back({ t.gains, move, true });
    }
}

std::optional<Trial> TuneSearch::known(const Gains &gains) const
{
    const auto at = m_tried.find(gains);
    if (at == m_tried.end())
        return std::nullopt;
    return at->second;
}

std::optional<Trial> TuneSearch::tryGains(const Gains &wanted, Trial::Kind kind, const Gains *from,
                                          bool again)
{
    Gains gains = wanted;
    for (int g : All)
        gains[g] = std::clamp(gains[g], m_lowest[g], m_highest[g]);
    if (m_stopped || (!again && m_tried.count(gains)) || nearUnsafe(gains))
        return std::nullopt;
    const std::optional<Trial> t = m_measure(gains, kind);
    if (!t) {
        m_stopped = true;
        return std::nullopt;
    }
    ++m_used;
    // A value short of the one asked, between it and where it came from: the range ends there.
    if (from) {
        for (int g : All) {
            const std::int16_t was = (*from)[g], asked = gains[g], got = t->gains[g];
            if (asked > was && got >= was && got < asked)
                m_highest[g] = std::max(got, m_lowest[g]);
            else if (asked < was && got <= was && got > asked)
                m_lowest[g] = std::min(got, m_highest[g]);
        }
    }
    book(*t, from);
    return t;
}

Gains TuneSearch::moved(const Gains &from, const Move &move, double factor) const
{
    Gains to = from;
    for (int g : All) {
        if (move[g] != 0 && m_tuned[g])
            to[g] = std::clamp(scaledGain(from[g], std::pow(factor, move[g])), m_lowest[g],
                               m_highest[g]);
    }
    return to;
}

std::optional<Trial> TuneSearch::tryMove(const Trial &from, const Move &move, double factor)
{
    if (exhausted())
        return std::nullopt;
    const Gains to = moved(from.gains, move, factor);
    if (to == from.gains)
        return std::nullopt;
    return tryGains(to, Trial::Kind::Search, &from.gains);
}

bool TuneSearch::slowRing(const Trial &t)
{
    for (const StepCheck *c : { &t.up, &t.down }) {
        const std::optional<double> rise = c->figures.riseMs;
        if (c->bandExits > 2 && rise && c->exitIntervalMs > SlowRing * *rise)
            return true;
    }
    return false;
}

bool TuneSearch::signsAt(const Trial &t) const
{
    return t.up.bandExits > 0 || t.down.bandExits > 0 || t.restWarning;
}

double TuneSearch::raiseFactor(double wanted, const Move &move, const Trial &from) const
{
    if (std::none_of(move.begin(), move.end(), [](int m) { return m > 0; }))
        return std::min(wanted, Largest);
    // The velocity loop may go from quiet to oscillating within one coarse step, and then
    // breaks out faster than a look can tell: its gain rises in fine steps only. So does any
    // gain near a sign of a loop's limit, or of a set that came near one.
    // Where the set itself shows a sign, by the finest step only; not KVP alone where the sign
    // is of a position loop short of the damping that KVP gives: a slow ring, or a single exit
    // after an overshoot far beyond the target (the swing back of a loop that rings fast at its
    // limit leaves the band again and again).
    const bool shortOfDamping = slowRing(from)
        || (!from.restWarning && std::max(from.up.bandExits, from.down.bandExits) <= 1
            && from.summary.overshootPercent > MarginOvershoot * m_targetPercent);
    if (signsAt(from) && !(move == Move { 0, 0, 1, 0 } && shortOfDamping))
        return std::min(wanted, Finest);
    if (move[KVP] > 0 || nearUnsafe(moved(from.gains, move, Coarse), Coarse))
        return std::min(wanted, Fine);
    return std::min(wanted, Largest);
}

bool TuneSearch::better(const Trial &a, const Trial &b)
{
    if (!::better(a.summary, b.summary, tieMs(a, b)))
        return false;
    if (!a.summary.clean() || !b.summary.clean())
        return true;
    // Within the measurement's spread: measured again before it is preferred.
    const auto settling = [this](const Trial &t) { return mean(m_settlings[t.gains]); };
    if (b.summary.settlingMs - a.summary.settlingMs > 2 * spreadMs()
        || m_settlings[a.gains].size() > 1 || exhausted())
        return true;
    const std::optional<Trial> again = tryGains(a.gains, a.kind, nullptr, true);
    return again && again->summary.clean() && settling(a) + tieMs(a, b) < settling(b);
}

std::optional<Trial> TuneSearch::follow(const Trial &from, const Move &move, double factor,
                                        bool untilClean)
{
    std::vector<Trial> path;
    // The latest step taken, where the way ended near a limit: the latest outside its margin,
    // from which the search can still go on.
    const auto last = [this, &path]() -> std::optional<Trial> {
        for (auto t = path.rbegin(); t != path.rend(); ++t) {
            if (!nearUnsafe(t->gains))
                return *t;
        }
        return std::nullopt;
    };
    Trial at = from;
    // Towards the target a step that gets no nearer may be the noise of a hunting loop: one
    // more step that way tells.
    bool patience = untilClean;
    for (;;) {
        if (untilClean && at.summary.clean())
            return last();
        std::optional<Trial> t = tryMove(at, move, factor);
        if (t && !better(*t, at) && patience && !unsafe(t->summary.shortfall)) {
            patience = false;
            const std::optional<Trial> further = tryMove(*t, move, factor);
            t = further && better(*further, at) ? further : std::nullopt;
        }
        if (!t || !better(*t, at))
            return last();
        // A raise into trouble that calms only a little is still trouble: no further that way.
        if (unsafe(t->summary.shortfall)
            && std::any_of(move.begin(), move.end(), [](int m) { return m > 0; }))
            return last();
        path.push_back(*t);
        at = *t;
    }
}

std::optional<Trial> TuneSearch::persist(const Trial &from, const Move &move, double factor,
                                         int steps)
{
    Trial at = from;
    for (int i = 0; i < steps; ++i) {
        std::optional<Trial> t = known(moved(at.gains, move, factor));
        if (!t)
            t = tryMove(at, move, factor);
        // Only new trouble stops the walk: the trouble it set out from is what it walks out of.
        if (!t || (nearLimit(t->summary.shortfall) && t->summary.shortfall != at.summary.shortfall)
            || (t->restWarning && !at.restWarning))
            return std::nullopt;
        if (::better(t->summary, from.summary, tieMs(*t, from)))
            return t;
        at = *t;
    }
    return std::nullopt;
}

void TuneSearch::toClean(const Trial &start)
{
    // Towards the target from a set that misses it: the ways of a group are tried in turn, and
    // the first that gets nearer is followed while it keeps doing so. A lively response
    // (beyond the target, ringing) first tries less position gain, more damping or less
    // integral action; a sluggish, creeping or hunting one first tries more of everything.
    Trial now = start;
    while (!now.summary.clean() && !exhausted()) {
        const Shortfall s = now.summary.shortfall;
        // Beyond the target is lively whatever else the response shows (it may not settle in
        // the record either).
        const bool lively = s == Shortfall::Overshoot || s == Shortfall::Ringing
            || s == Shortfall::Chatter || s == Shortfall::Alarm
            || now.summary.overshootPercent > m_targetPercent;
        using Way = std::pair<Move, double>;
        const Move damper { 0, 0, s == Shortfall::Chatter ? -1 : 1, 0 };
        // A loop that rings is near its limit: it is calmed by lowering only. Unless it
        // overshoots by far more than the target, or rings slowly for its rise: a position loop
        // short of damping rings so; a velocity loop at its limit rings fast, in a few samples,
        // and hardly overshoots. That takes more KVP, in the small steps KVP always rises by.
        std::vector<Way> calmer {
            { { -1, 0, 0, 0 }, s == Shortfall::Overshoot ? Coarse : Largest },
            { damper, raiseFactor(Coarse, damper, now) },
            { { 0, 0, 0, -1 }, Coarse },
        };
        const bool underdamped
            = now.summary.overshootPercent > MarginOvershoot * m_targetPercent || slowRing(now);
        const bool damperAllowed = !(unsafe(s) && damper[KVP] > 0 && !underdamped);
        if (!damperAllowed)
            calmer.erase(calmer.begin() + 1);
        const std::vector<Way> livelier {
            { { 1, 0, 1, 1 }, raiseFactor(Coarse, { 1, 0, 1, 1 }, now) },
            { { 1, 0, 1, 0 }, raiseFactor(Coarse, { 1, 0, 1, 0 }, now) },
            { { 0, 0, 0, 1 }, raiseFactor(Largest, { 0, 0, 0, 1 }, now) },
            { { 1, 0, 0, 0 }, raiseFactor(Coarse, { 1, 0, 0, 0 }, now) },
        };
        std::optional<Trial> next;
        Way way {};
        for (const std::vector<Way> &group :
             lively ? std::vector { calmer, livelier } : std::vector { livelier, calmer }) {
            // The first way that gets nearer, in the order of how likely it is to: a miss is a
            // noisy figure, and the most likely way is the one to follow. Less position gain
            // and more damping both calm a lively loop: the one that calms it more.
            for (std::size_t i = 0; i < group.size(); ++i) {
                const Way &w = group[i];
                const std::optional<Trial> t = tryMove(now, w.first, w.second);
                if (m_stopped)
                    return;
                // A response that overshoots by far more than the target, and that less KPP did
                // not settle, lacks damping: more KVP that gets nearer without trouble is the
                // way, even where less KPP got nearer still (that way it only gets slower).
                // Not where a sign holds KVP to the finest steps: too slow a way to pay.
                const bool damping = lively && underdamped && w.first == damper && w.second > Finest
                    && t && !unsafe(t->summary.shortfall);
                if (t
                    && ::better(t->summary, next && !damping ? next->summary : now.summary,
                                tieMs(*t, now))) {
                    next = t;
                    way = w;
                }
                // Once a lowering meets the target, no raise from a lively set is risked to
                // compare.
                if (next && (!(lively && i == 0) || next->summary.clean()))
                    break;
            }
            if (next)
                break;
        }
        if (!next) {
            // No single step gets nearer: a response far from the target may need a few
            // steps the same way before it shows, as a plateau is crossed. The most likely way
            // for its kind is walked up to eight steps further, until a step runs into new trouble.
            const Move stiffer { 1, 0, 1, 0 };
            const Way likely = !lively ? Way { stiffer, raiseFactor(Coarse, stiffer, now) }
                : damperAllowed        ? calmer[1]
                                       : calmer[0];
            next = persist(now, likely.first, likely.second, PlateauSteps);
            way = likely;
        }
        if (!next)
            return;
        if (!next->summary.clean())
            if (const std::optional<Trial> further = follow(*next, way.first, way.second, true))
                next = further;
        now = *next;
    }
}

void TuneSearch::refine()
{
    // A pattern search: each way is tried both up and down from the best, at its own step,
    // and followed where it helps; a way that helps neither up nor down is tried again at a
    // finer step, down to the finest for the gains that set the settling time most closely.
    struct Way {
        Move up;
        double step;
        double finest;
        bool done = false;
    };
    std::vector<Way> ways;
    if (m_tuned[KPP] && m_tuned[KVP])
        ways.push_back({ { 1, 0, 1, 0 }, Coarse, Fine });
    if (m_tuned[KPP])
        ways.push_back({ { 1, 0, 0, 0 }, Coarse, Finest });
    // Integral action from the largest step: of all gains it may lie furthest from where it
    // belongs, and a response that creeps in settles hardly faster for a small raise of it.
    if (m_tuned[KVI])
        ways.push_back({ { 0, 0, 0, 1 }, Largest, Finest });
    if (m_tuned[KVP])
        ways.push_back({ { 0, 0, 1, 0 }, Coarse, Fine });
    if (m_tuned[KFV])
        ways.push_back({ { 0, 1, 0, 0 }, Coarse, Fine });

    // The stiffness first: KPP and KVP together while the response settles faster.
    if (m_tuned[KPP] && m_tuned[KVP])
        stiffen();
    respanBest();

    for (;;) {
        // The latest record of the best, which may be finer than the one it was best in.
        if (m_tried.at(m_best->gains).summary.unresolved && !respanBest()) {
            // The records cannot tell such sets apart: no refining on them. Softer sets that
            // settle alike are measured, though: one of them keeps its margin more surely.
            m_stoppedUnresolved = true;
            soften();
            return;
        }
        bool any = false;
        for (Way &way : ways) {
            if (way.done)
                continue;
            any = true;
            bool moved = false;
            for (int sign : { 1, -1 }) {
                Move m = way.up;
                for (int &g : m)
                    g *= sign;
                // A lower velocity gain under the same position gain brings the position loop
                // nearer its limit as a raise does.
                const bool risky = sign > 0 || (m[KVP] < 0 && m[KPP] == 0);
                const double factor = risky ? raiseFactor(way.step, m, *m_best) : way.step;
                const Trial from = *m_best;
                const std::optional<Trial> t = tryMove(from, m, factor);
                if (m_stopped || exhausted())
                    return;
                if (t && better(*t, from)) {
                    m_best = t;
                    if (const std::optional<Trial> further = follow(*t, m, factor))
                        m_best = further;
                    moved = true;
                    break;
                }
            }
            if (moved) {
                for (Way &w : ways)
                    w.done = w.step < w.finest * 0.999;
            } else {
                way.step = std::sqrt(way.step);
                way.done = way.step < way.finest * 0.999;
            }
            if (exhausted())
                return;
        }
        if (!any)
            return;
    }
}

void TuneSearch::stiffen()
{
    // Where a stiffer set overshoots, less integral action or a little less position gain may
    // bring it back within the target at that stiffness: the sweep goes on from there. It ends
    // at the first set that settles no faster: one more step up would come nearer the limit
    // for nothing that was measured.
    const Move stiffer { 1, 0, 1, 0 };
    const std::vector<std::pair<Move, double>> repairs { { { 0, 0, 0, -1 }, Coarse },
                                                         { { -1, 0, 0, 0 }, Fine } };
    // The sweep ends near a limit of the loop, which comes without a sign on many a machine,
    // from clean to an alarm within one coarser step: it rises by the finest steps only.
    Trial at = *m_best;
    while (!exhausted()) {
        std::optional<Trial> t = tryMove(at, stiffer, Finest);
        if (!t)
            return;
        if (t->summary.shortfall == Shortfall::Overshoot) {
            const Trial over = *t;
            for (const auto &[move, factor] : repairs) {
                const std::optional<Trial> r = tryMove(over, move, factor);
                if (m_stopped)
                    return;
                if (r && r->summary.clean()) {
                    t = r;
                    break;
                }
            }
        }
        // A stiffer set that falls short once may be the noise of a hunting loop: one more step
        // tells.
        if (!t->summary.clean() && !unsafe(t->summary.shortfall)) {
            const std::optional<Trial> further = tryMove(*t, stiffer, Finest);
            if (m_stopped)
                return;
            if (further && further->summary.clean())
                t = further;
        }
        if (!better(*t, *m_best))
            return;
        m_best = t;
        at = *t;
    }
}

void TuneSearch::soften()
{
    // KPP alone: both margins raise it, and a lower KVP under the same KPP would come nearer
    // the position loop's limit instead.
    if (!m_tuned[KPP])
        return;
    const Move softer { -1, 0, 0, 0 };
    Trial at = *m_best;
    while (!exhausted()) {
        const std::optional<Trial> t = tryMove(at, softer, Fine);
        if (!t || !t->summary.clean()
            || t->summary.settlingMs > m_best->summary.settlingMs + t->summary.sampleMs)
            return;
        at = *t;
    }
}

bool TuneSearch::respanBest()
{
    if (!respan || exhausted() || !respan(*m_best))
        return false;
    if (const std::optional<Trial> again = tryGains(m_best->gains, m_best->kind, nullptr, true);
        again && again->summary.clean())
        m_best = again;
    // Earlier figures came from coarser records: only this span's count from here on.
    std::map<Gains, std::vector<double>> kept { { m_best->gains, { m_best->summary.settlingMs } } };
    m_settlings.swap(kept);
    m_repeats.clear();
    return true;
}

void TuneSearch::run(const Trial &start, int reserve, int unmetReserve)
{
    m_reserve = reserve;
    m_unmetReserve = std::min(unmetReserve, reserve);
    book(start, nullptr);
    // Where the way towards the target ends with trials left, or what it found did not hold up
    // when measured again, it is taken again from the nearest miss it has not set out from yet
    // (one without trouble, outside any margin).
    std::set<Gains> setOut;
    for (Trial from = start;;) {
        setOut.insert(from.gains);
        m_best.reset();
        if (from.summary.clean())
            m_best = from;
        else
            toClean(from);
        for (const auto &[gains, t] : m_tried) {
            if (t.summary.clean() && (!m_best || ::better(t.summary, m_best->summary, 0)))
                m_best = t;
        }
        if (m_best && !m_stopped) {
            respanBest();
            // Measured twice: the spread of a measurement, against which differences are
            // judged.
            if (m_settlings[m_best->gains].size() < 2 && !exhausted())
                tryGains(m_best->gains, Trial::Kind::Search, nullptr, true);
            // One that fell short when measured again met the target by luck (a coil held by
            // stiction settles one time and not the next, or hunts across the band's edge):
            // no refining around it, the way towards the target goes on from it. Not from one
            // that came near a limit.
            const Trial &latest = m_tried.at(m_best->gains);
            if (!m_stopped && !exhausted() && !latest.summary.clean()
                && !nearLimit(latest.summary.shortfall) && !setOut.count(latest.gains)) {
                from = latest;
                continue;
            }
            if (!m_stopped)
                refine();
            if (!ranked().empty())
                return;
        }
        if (m_stopped || exhausted())
            return;
        std::optional<Trial> nearest;
        for (const auto &[gains, t] : m_tried) {
            if (!setOut.count(gains) && !unsafe(t.summary.shortfall) && !nearUnsafe(gains)
                && (!nearest || ::better(t.summary, nearest->summary, 0)))
                nearest = t;
        }
        if (!nearest) {
            // Every miss left lies within the margin of a limit found since: the nearest is
            // backed off out of it, in the gains whose raise came near the limit.
            std::optional<Trial> within;
            for (const auto &[gains, t] : m_tried) {
                if (!unsafe(t.summary.shortfall) && nearUnsafe(gains)
                    && (!within || ::better(t.summary, within->summary, 0)))
                    within = t;
            }
            if (!within)
                return;
            Gains out = within->gains;
            for (const Unsafe &u : m_unsafe) {
                if (!near(u, within->gains))
                    continue;
                const double margin = u.edge ? 1 : MarginFactor;
                for (int g : All) {
                    if (u.move[g] > 0 && m_tuned[g])
                        out[g] = std::min(
                            out[g],
                            std::int16_t(std::max(1.0, std::ceil(u.gains[g] / margin) - 1)));
                }
            }
            if (out == within->gains || nearUnsafe(out) || setOut.count(out))
                return;
            const std::optional<Trial> t = tryGains(out, Trial::Kind::Search, &within->gains);
            if (!t)
                return;
            from = *t;
            continue;
        }
        from = *nearest;
    }
}

std::vector<Trial> TuneSearch::ranked() const
{
    // A set met the target where it did so in at least half of its measurements (a loop that
    // sticks short of the band now and then does not always); one that always did comes first.
    std::vector<Trial> clean;
    for (const Gains &gains : m_candidates) {
        const Record &r = m_records.at(gains);
        if (r.lastClean && 2 * r.clean >= r.measured)
            clean.push_back(*r.lastClean);
    }
    const auto key = [this](const Trial &t) {
        const Record &r = m_records.at(t.gains);
        const auto at = m_settlings.find(t.gains);
        const double settling = at == m_settlings.end() ? t.summary.settlingMs : mean(at->second);
        return std::make_tuple(r.clean < r.measured, settling, t.summary.riseMs);
    };
    std::stable_sort(clean.begin(), clean.end(),
                     [&](const Trial &a, const Trial &b) { return key(a) < key(b); });
    // Among those that settle as fast as the first within what a measurement can tell (a
    // sample, or the spread of sets measured again), the softest first: its margin lies
    // furthest from the loop's limits, which many a machine reaches without a sign.
    if (!clean.empty()) {
        const auto first = key(clean.front());
        const double tie = std::max(clean.front().summary.sampleMs, spreadMs());
        const auto level = std::find_if(clean.begin(), clean.end(), [&](const Trial &t) {
            const auto k = key(t);
            return std::get<0>(k) != std::get<0>(first)
                || std::get<1>(k) > std::get<1>(first) + tie;
        });
        std::stable_sort(clean.begin(), level, [](const Trial &a, const Trial &b) {
            return double(a.gains[KPP]) * a.gains[KVP] < double(b.gains[KPP]) * b.gains[KVP];
        });
    }
    return clean;
}
