#pragma once

#include "TuneTrial.h"

#include <functional>
#include <map>
#include <optional>
#include <set>
#include <vector>

// The search for the gains: which set to measure next, from what the measured ones showed. It
// knows nothing of the drive: `measure` does the trial (nothing when the run must stop), and
// the search never asks for a set it may not try (one within the margin of a set that showed
// too little of it, one beyond a range end, one it measured already).
class TuneSearch final {
public:
    using Measure = std::function<std::optional<Trial>(const Gains &, Trial::Kind)>;

    TuneSearch(const std::array<bool, TuneGain::Count> &tuned, int trialBudget,
               double targetPercent, Measure measure);

    // Asked once a clean set is found: true when the records change (a finer span) from now
    // on, so that the set is measured again to compare alike.
    std::function<bool(const Trial &)> respan;

    // From the start, measured: the best clean trial found (re-measured where two were too
    // close to call), or nothing. Keeps `reserve` trials of the budget unused; while no set
    // has met the target, only `unmetReserve` (a margin check for one is worth more than the
    // checks for three that are not found).
    void run(const Trial &start, int reserve, int unmetReserve);

    // What was measured, best first: clean trials only, each set once (its latest measurement).
    std::vector<Trial> ranked() const;
    // A set within the margin of one that came near a limit, that way (in the gains moved to
    // reach it): measuring it, or offering it, would come closer than the margin allows.
    bool nearUnsafe(const Gains &gains, double wider = 1) const;
    // A trial whose figures could not be resolved was met on the way: refining stopped there.
    bool stoppedUnresolved() const { return m_stoppedUnresolved; }
    // The run's measurement spread of the settling time, from sets measured twice.
    double spreadMs() const;
    int trialsUsed() const { return m_used; }
    // The ends of a gain's range the drive showed (a raise it clamped, or a lowering).
    const Gains &highest() const { return m_highest; }
    const Gains &lowest() const { return m_lowest; }

    // The latest measurement of a set, if it was measured.
    std::optional<Trial> known(const Gains &gains) const;
    // Measures `gains` (unless measured already, or `again`); books its result. For the
    // caller's margin checks and re-measures too.
    std::optional<Trial> tryGains(const Gains &gains, Trial::Kind kind, const Gains *from,
                                  bool again = false);
    bool stopped() const { return m_stopped; }

private:
    // Gains scaled together, each by `factor` to the power of its sign (+1 up, -1 down, 0 not).
    using Move = std::array<int, TuneGain::Count>;

    bool exhausted() const
    {
        return m_stopped || m_used >= m_budget - (ranked().empty() ? m_unmetReserve : m_reserve);
    }
    Gains moved(const Gains &from, const Move &move, double factor) const;
    std::optional<Trial> tryMove(const Trial &from, const Move &move, double factor);
    // Moves while each step is better (and, if asked, only until one meets the target); the
    // last better trial, if any.
    std::optional<Trial> follow(const Trial &from, const Move &move, double factor,
                                bool untilClean = false);
    // A sign of a loop's limit in a trial: the feedback left the band beyond its noise, or
    // something swung while holding more than at the safe gains before.
    bool signsAt(const Trial &t) const;
    // It rang slowly for its rise: short of damping, not at a loop's limit.
    static bool slowRing(const Trial &t);
    // The factor a move from `from` may take: smaller for a raise near signs of a limit.
    double raiseFactor(double wanted, const Move &move, const Trial &from) const;
    bool better(const Trial &a, const Trial &b);
    void toClean(const Trial &start);
    // Up to `steps` moves from `from`, however each does, until one gets nearer than `from`;
    // none where one runs into trouble that the step before did not show.
    std::optional<Trial> persist(const Trial &from, const Move &move, double factor, int steps);
    void stiffen();
    // KPP lowered from the best while the response settles alike within a sample: candidates
    // further from the loop's limits.
    void soften();
    // Moves to a finer record where the best now fits one, and measures it again there; false
    // where there is none.
    bool respanBest();
    void refine();
    void book(const Trial &t, const Gains *from);
    double tieMs(const Trial &a, const Trial &b) const;

    std::array<bool, TuneGain::Count> m_tuned;
    int m_budget;
    double m_targetPercent;
    int m_reserve = 0;
    int m_unmetReserve = 0;
    Measure m_measure;
    int m_used = 0;
    bool m_stopped = false;
    bool m_stoppedUnresolved = false;
    std::optional<Trial> m_best; // the best clean trial
    std::map<Gains, Trial> m_tried;
    std::map<Gains, std::vector<double>> m_settlings; // of each clean measurement of a set
    std::set<Gains> m_candidates; // sets measured as candidates, not as margins
    // Every measurement of a set, in short: how often, how often it met the target, and the
    // latest that did.
    struct Record {
        int measured = 0;
        int clean = 0;
        std::optional<Trial> lastClean;
    };
    std::map<Gains, Record> m_records;
    std::vector<double> m_repeats; // |settling difference| of sets measured twice
    // Sets that came near a limit, with the gains that were moved to reach them and how.
    struct Unsafe {
        Gains gains;
        Move move;
        // Rang after a raise from a clean set, or when a clean set was measured again: not to be
        // gone beyond.
        bool edge = false;
    };
    std::vector<Unsafe> m_unsafe;
    // `gains` within the margin of `u` (at or beyond an edge), that way.
    static bool near(const Unsafe &u, const Gains &gains, double wider = 1);
    Gains m_highest {};
    Gains m_lowest {};
};
