#pragma once

#include "StepResponse.h"

#include <QString>

#include <array>
#include <cstdint>
#include <optional>
#include <vector>

// The gains the tuner may change, as the first four boxes of the gain array.
namespace TuneGain {
inline constexpr int KPP = 0;
inline constexpr int KFV = 1;
inline constexpr int KVP = 2;
inline constexpr int KVI = 3;
inline constexpr int Count = 4;
inline constexpr int All[Count] = { KPP, KFV, KVP, KVI };
} // namespace TuneGain
using Gains = std::array<std::int16_t, TuneGain::Count>;

// What one step of a trial showed, in one direction.
struct StepCheck {
    StepFigures figures;
    double largestError = 0; // |command - feedback| at its worst after the step
    // Times the feedback left the band again after first entering it, by more than its noise
    // (four noise estimates beyond the band's edge): noise at the edge is no exit.
    int bandExits = 0;
    // The mean time between those exits; 0 with fewer than two.
    double exitIntervalMs = 0;
    // The feedback's largest distance from the target over the later half of the record after
    // the step, % of the step: what is still left of ringing, creeping or hunting.
    double residualPercent = 0;
};

// Why a trial falls short; None: it met the target.
enum class Shortfall {
    None,
    NoStep, // the record held no clear step
    Overshoot, // beyond the target
    NotSettled, // not within the band by the end of the record
    Ringing, // out of the band again more than twice
    PositionError, // beyond half the drive's error limit
    Chatter, // the current command, the velocity or the position swings while holding
    Alarm,
};
QString shortfallText(Shortfall s);
// A shortfall that says the gains have too little margin: they go at once, the last safe gains
// take their place, and a search does not come back that way.
constexpr bool unsafe(Shortfall s)
{
    return s == Shortfall::Ringing || s == Shortfall::PositionError || s == Shortfall::Chatter
        || s == Shortfall::Alarm;
}
// Of those, the ones that come near a loop's limit, or the drive's: a search keeps the margin
// from them. A response that rings after its step is only not to be gone beyond.
constexpr bool nearLimit(Shortfall s)
{
    return unsafe(s) && s != Shortfall::Ringing;
}

// One gain set, measured in both directions.
struct TrialSummary {
    Shortfall shortfall = Shortfall::NoStep;
    double settlingMs = 0; // the slower direction
    double riseMs = 0; // the slower direction
    double overshootPercent = 0; // the larger one
    // How far from the target a trial that falls short is, % of the step: its residual, or its
    // overshoot beyond the target, the larger of both directions; 100 without figures.
    double missPercent = 100;
    double sampleMs = 0; // of the records: the finest difference they can tell
    // The rise of either direction spans too few samples for its overshoot to be measured.
    bool unresolved = false;

    bool clean() const { return shortfall == Shortfall::None; }
};

// Figures, band exits and the largest error of a step from its two series.
StepCheck checkStep(const std::vector<double> &command, const std::vector<double> &feedback,
                    double sampleMs, const StepOptions &options = {});

// How a trial did against the target overshoot and the error limit (half of it is allowed).
TrialSummary summarize(const StepCheck &up, const StepCheck &down, double targetPercent,
                       double errorLimit);

// The objective: a clean trial beats one that is not; then the shorter settling time, the
// shorter rise time breaking ties within `tieMs`. Between two that fall short, the one that
// misses by less (beyond a quarter of the settling band), then the milder kind of shortfall.
bool better(const TrialSummary &a, const TrialSummary &b, double tieMs);

// The margin a result must show: its gains made stiffer by this factor must still settle, with
// overshoot below this many times the target.
inline constexpr double MarginFactor = 1.3;
inline constexpr double MarginOvershoot = 2;
bool marginKept(const TrialSummary &stiffer, double targetPercent);

// The gain times the factor, rounded, moved by at least one count, within 1..32767 (0 stays 0).
std::int16_t scaledGain(std::int16_t gain, double factor);

// The shortest recorder span ("100".."500") that holds the step at `startMs` and `endMs`
// (when it settled) with a quarter of the record to spare; "500" when none does.
QString spanFor(double startMs, double endMs);
// The next longer span, or nothing after "500".
std::optional<QString> longerSpan(const QString &span);

// How widely a series spreads about its median: the median absolute deviation, never less than
// its resolution (the smallest step between two different samples, or one count).
double spread(const std::vector<double> &values);

// The smallest step between two different values of a series; none for a constant one.
std::optional<double> seriesResolution(std::vector<double> values);

// The largest distance of a value from the series' median: a few readings taken at random
// moments catch an oscillation near its peak.
double swing(const std::vector<double> &values);

// How far a variable swings while holding (over a few readings), at gains that showed no sign
// of trouble, and the velocity gain it was seen at: the yardstick for the next look.
struct RestSwing {
    double swing = 0;
    double velocityGain = 0;
};
// How far a swing may go before the loop is judged to break into oscillation while holding:
// this many times the largest seen at safe gains (a few readings catch noise at twice its
// deviation, an oscillation that grows at its peak), grown in proportion where the velocity gain
// (which amplifies the sensors' noise) is now higher than where that was seen; never judged
// against less than the variable's resolution.
inline constexpr double BreakoutRatio = 10;
double restLimit(const std::vector<RestSwing> &safe, double velocityGain, double resolution,
                 double ratio = BreakoutRatio);
// A current command while holding that moved from where the drive held (`held`) by more than
// three times the largest current read at safe gains (`largest`), the one held, or one count: a
// loop breaking out into its current limit.
bool breaksOut(double current, double held, double largest);
// A swing, or a record's noise while holding before its step, may grow this many times that
// seen at safe gains before the loop is judged to ring; a swing beyond it is looked at again
// (a loop that hunts may swing so once), and goes when the second look shows it too.
inline constexpr double RestlessRatio = 3;
