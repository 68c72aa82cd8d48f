#include "FamilyGrid.h"

#include "ParameterTable.h"
#include "Plant.h"

#include <algorithm>
#include <cmath>

namespace {
// The default plant's grid starts here; a family plant's is moved by its gain scales.
constexpr double OriginKpp = 50;
constexpr double OriginKvp = 10;
constexpr double OriginKvi = 12.5;
constexpr int KeptFew = 6; // the best sets whose every neighbour is measured
constexpr int Candidates = 40; // the best measured once that are measured again
constexpr double NearUnstableShare = 0.8;

std::int16_t highest(int gain)
{
    return std::int16_t(
        ParameterTable::all()[*ParameterTable::indexOf(Param::Gains, gain)].maximum);
}

Gains within(Gains g)
{
    for (int gain : TuneGain::All)
        g[std::size_t(gain)] = std::min(g[std::size_t(gain)], highest(gain));
    return g;
}

std::int16_t share(std::int16_t gain, double factor)
{
    return std::int16_t(std::max(1L, std::lround(gain * factor)));
}
} // namespace

const char *startName(StartKind kind)
{
    switch (kind) {
    case StartKind::Sluggish:
        return "sluggish";
    case StartKind::Ringing:
        return "ringing";
    case StartKind::Creeping:
        return "creeping";
    case StartKind::NearUnstable:
        return "near-unstable";
    }
    return "";
}

FamilyGrid::FamilyGrid(PlantMemo &memo) : m_memo(memo)
{
    const Plant plant = Plant::family(memo.seed());
    m_origin = { OriginKpp / plant.gainScale[Plant::PositionGain],
                 OriginKvp / plant.gainScale[Plant::VelocityGain],
                 OriginKvi / plant.gainScale[Plant::IntegralGain] };
}

std::optional<Gains> FamilyGrid::at(const Index &x) const
{
    const double values[3]
        = { m_origin[0] * std::pow(2.0, x.i / 4.0), m_origin[1] * std::pow(2.0, x.j / 4.0),
            m_origin[2] * std::pow(2.0, x.k / 2.0) };
    const int gains[3] = { TuneGain::KPP, TuneGain::KVP, TuneGain::KVI };
    Gains g { 0, 50, 0, 0 }; // KFV as the drive has it
    for (int d = 0; d < 3; ++d) {
        const long v = std::lround(values[d]);
        if (v < 1 || v > highest(gains[d]))
            return std::nullopt;
        g[std::size_t(gains[d])] = std::int16_t(v);
    }
    return g;
}

void FamilyGrid::measureBox()
{
    for (int i = m_low[0]; i <= m_high[0]; i += 2) {
        for (int j = m_low[1]; j <= m_high[1]; j += 2) {
            for (int k = m_low[2]; k <= m_high[2]; k += 2) {
                const Index x { i, j, k };
                if (m_measured.count(x))
                    continue;
                if (const std::optional<Gains> g = at(x))
                    m_measured[x] = m_memo.measure(*g);
            }
        }
    }
}

std::vector<FamilyGrid::Index> FamilyGrid::cleanByRank() const
{
    std::vector<std::pair<Index, Measured>> clean;
    for (const auto &[x, m] : m_measured) {
        if (m.clean())
            clean.emplace_back(x, m);
    }
    std::stable_sort(clean.begin(), clean.end(), [](const auto &a, const auto &b) {
        return std::tie(a.second.settlingMs, a.second.riseMs)
            < std::tie(b.second.settlingMs, b.second.riseMs);
    });
    std::vector<Index> order;
    for (const auto &c : clean)
        order.push_back(c.first);
    return order;
}

bool FamilyGrid::marginHolds(const Gains &gains, bool repeated)
{
    auto &known = repeated ? m_margins : m_firstMargins;
    const auto at = known.find(gains);
    if (at != known.end())
        return at->second;
    const double target = TuneOptions().overshootPercent;
    const auto keeps = [&](const Gains &stiffer) {
        const Gains g = within(stiffer);
        return marginKept((repeated ? m_memo.robust(g) : m_memo.measure(g)).summary(), target);
    };
    Gains stiffer = gains;
    stiffer[TuneGain::KPP] = scaledGain(gains[TuneGain::KPP], MarginFactor);
    bool holds = keeps(stiffer);
    stiffer[TuneGain::KVP] = scaledGain(gains[TuneGain::KVP], MarginFactor);
    holds = holds && keeps(stiffer);
    known[gains] = holds;
    return holds;
}

std::vector<FamilyGrid::Index> FamilyGrid::robustRank()
{
    // Down the sets that were clean when measured once, fastest first: those whose margin held
    // once are measured again, with their margins, until enough of them have been.
    std::vector<std::pair<Index, Measured>> kept;
    int candidates = 0;
    for (const Index &x : cleanByRank()) {
        if (candidates >= Candidates)
            break;
        const Gains g = *at(x);
        if (!marginHolds(g, false))
            continue;
        ++candidates;
        const Measured m = m_memo.robust(g);
        if (m.clean() && marginHolds(g, true))
            kept.emplace_back(x, m);
    }
    std::stable_sort(kept.begin(), kept.end(), [](const auto &a, const auto &b) {
        return std::tie(a.second.settlingMs, a.second.riseMs)
            < std::tie(b.second.settlingMs, b.second.riseMs);
    });
    std::vector<Index> order;
    for (const auto &k : kept)
        order.push_back(k.first);
    return order;
}

std::optional<FamilyGrid::Index> FamilyGrid::robustBest()
{
    const std::vector<Index> order = robustRank();
    return order.empty() ? std::nullopt : std::optional<Index>(order.front());
}

std::vector<FamilyGrid::Index> FamilyGrid::bestFew()
{
    std::vector<Index> few = cleanByRank();
    few.resize(std::min<std::size_t>(few.size(), KeptFew));
    std::vector<Index> robust = robustRank();
    robust.resize(std::min<std::size_t>(robust.size(), KeptFew));
    few.insert(few.end(), robust.begin(), robust.end());
    return few;
}

bool FamilyGrid::grow()
{
    // Where the best few lie on the box's edge, the box grows past it by two coarse steps.
    bool grown = false;
    for (const Index &x : bestFew()) {
        const int at[3] = { x.i, x.j, x.k };
        for (int d = 0; d < 3; ++d) {
            if (at[d] <= m_low[d] + 1) {
                m_low[d] -= 4;
                grown = true;
            }
            if (at[d] >= m_high[d] - 1) {
                m_high[d] += 4;
                grown = true;
            }
        }
    }
    // Past the parameters' ends the box holds nothing new; stop growing there.
    if (grown) {
        const std::size_t before = m_measured.size();
        measureBox();
        return m_measured.size() > before;
    }
    return false;
}

bool FamilyGrid::refine()
{
    bool more = false;
    for (const Index &x : bestFew()) {
        if (m_refined[x])
            continue;
        m_refined[x] = true;
        more = true;
        for (int di = -1; di <= 1; ++di) {
            for (int dj = -1; dj <= 1; ++dj) {
                for (int dk = -1; dk <= 1; ++dk) {
                    const Index n { x.i + di, x.j + dj, x.k + dk };
                    if (m_measured.count(n))
                        continue;
                    if (const std::optional<Gains> g = at(n))
                        m_measured[n] = m_memo.measure(*g);
                }
            }
        }
    }
    return more;
}

FamilyGrid::Result FamilyGrid::search()
{
    measureBox();
    while (grow()) { }
    while (refine()) { }
    return finish(robustBest());
}

FamilyGrid::Result FamilyGrid::searchFull()
{
    measureBox();
    while (grow()) { }
    for (int i = m_low[0]; i <= m_high[0]; ++i) {
        for (int j = m_low[1]; j <= m_high[1]; ++j) {
            for (int k = m_low[2]; k <= m_high[2]; ++k) {
                const Index x { i, j, k };
                if (m_measured.count(x))
                    continue;
                if (const std::optional<Gains> g = at(x))
                    m_measured[x] = m_memo.measure(*g);
            }
        }
    }
    return finish(robustBest());
}

std::optional<std::int16_t> FamilyGrid::findAlarmKpp(const Gains &best)
{
    const auto alarms = [&](std::int16_t kpp) {
        Gains g = best;
        g[TuneGain::KPP] = kpp;
        return m_memo.measure(g).alarm;
    };
    // Up in the lattice's fine steps to the first alarm, then halve the gap in between.
    std::int16_t safe = best[TuneGain::KPP];
    std::optional<std::int16_t> alarm;
    while (!alarm && safe < highest(TuneGain::KPP)) {
        const auto next = std::min(scaledGain(safe, std::pow(2.0, 0.25)), highest(TuneGain::KPP));
        if (alarms(next))
            alarm = next;
        else
            safe = next;
    }
    while (alarm && *alarm - safe > std::max(1, safe / 100)) {
        const auto middle = std::int16_t(std::lround(std::sqrt(double(safe) * *alarm)));
        if (middle <= safe || middle >= *alarm)
            break;
        if (alarms(middle))
            alarm = middle;
        else
            safe = middle;
    }
    return alarm;
}

FamilyGrid::Result FamilyGrid::finish(const std::optional<Index> &best)
{
    Result r;
    r.sets = int(m_measured.size());
    for (const auto &entry : m_measured)
        r.alarms += entry.second.alarm;
    if (!best)
        return r;
    r.found = true;
    r.best = *at(*best);
    r.figures = m_memo.robust(r.best);
    r.alarmKpp = findAlarmKpp(r.best);

    const Gains b = r.best;
    Gains sluggish = b, ringing = b, creeping = b, nearUnstable = b;
    for (int g : { TuneGain::KPP, TuneGain::KVP, TuneGain::KVI })
        sluggish[std::size_t(g)] = share(b[std::size_t(g)], 0.25);
    ringing[TuneGain::KVP] = share(b[TuneGain::KVP], 0.25);
    creeping[TuneGain::KVI] = share(b[TuneGain::KVI], 1.0 / 25);
    nearUnstable[TuneGain::KPP]
        = share(r.alarmKpp.value_or(highest(TuneGain::KPP)), NearUnstableShare);
    r.starts = { sluggish, ringing, creeping, nearUnstable };
    return r;
}
