#pragma once

#include "PlantMemo.h"

#include <array>
#include <map>
#include <optional>
#include <tuple>
#include <vector>

// The four detuned starts of a plant, each made from its grid best.
enum class StartKind { Sluggish, Ringing, Creeping, NearUnstable };
inline constexpr int StartCount = 4;
const char *startName(StartKind kind);

// The best gains a grid search finds on one plant with the tuner's measuring and rules: the
// shortest settling time (the slower direction) that meets the overshoot target both ways and
// keeps the margin a tuned result must show (KPP alone, and KPP with KVP, 30 % higher still
// settle with overshoot below twice the target), each measured `Repeats` times so that one lucky
// measurement does not make a best.
//
// The grid is a lattice around the plant's own gain scales: KPP and KVP in steps of 2^(1/4),
// KVI in steps of sqrt(2), as the default plant's grid. It is measured once a point, coarsely
// first (every other point), grown wherever the best lies on its edge, then every point next to
// the best few is measured until they no longer change; the best of those measured once are
// measured again, and the best of all repeats is the grid's.
class FamilyGrid final {
public:
    struct Result {
        bool found = false;
        Gains best {};
        Measured figures;
        int sets = 0; // measured on the lattice (margins and the alarm search aside)
        int alarms = 0; // of those
        // The least KPP found to trip an alarm with the other gains at the best; none: none
        // did up to the parameter's end.
        std::optional<std::int16_t> alarmKpp;
        std::array<Gains, StartCount> starts {};
    };

    explicit FamilyGrid(PlantMemo &memo);

    Result search();
    // Every lattice point in the grown box, for checking the coarse-then-fine search.
    Result searchFull();

    // The set's stiffer neighbours still settle: what the tuner must show before it offers it;
    // in every repeat, or in the first measurement only.
    bool marginHolds(const Gains &gains, bool repeated = true);

private:
    struct Index {
        int i, j, k; // KPP, KVP, KVI steps from the lattice's origin
        bool operator<(const Index &o) const { return std::tie(i, j, k) < std::tie(o.i, o.j, o.k); }
    };
    std::optional<Gains> at(const Index &x) const;
    void measureBox();
    bool grow();
    bool refine();
    std::vector<Index> cleanByRank() const;
    // Clean in every repeat, with margin in every repeat, fastest first: from the best measured
    // once whose margin held once.
    std::vector<Index> robustRank();
    std::optional<Index> robustBest();
    // The fastest measured once and the fastest in every repeat.
    std::vector<Index> bestFew();
    std::optional<std::int16_t> findAlarmKpp(const Gains &best);
    Result finish(const std::optional<Index> &best);

    PlantMemo &m_memo;
    std::array<double, 3> m_origin {}; // KPP, KVP, KVI at index 0
    std::array<int, 3> m_low { -2, -2, -2 }; // the box, in lattice steps (even: coarse)
    std::array<int, 3> m_high { 24, 28, 14 };
    std::map<Index, Measured> m_measured;
    std::map<Index, bool> m_refined;
    std::map<Gains, bool> m_margins;
    std::map<Gains, bool> m_firstMargins;
};
