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
    int bandExits = 0; // times the feedback left the band again after first entering it
};

// Why a trial falls short; None: it met the target.
enum class Shortfall {
    None,
    NoStep, // the record held no clear step
    Overshoot, // beyond the target
    NotSettled, // not within the band by the end of the record
    Ringing, // out of the band again more than twice
    PositionError, // beyond half the drive's error limit
    Chatter, // the current command swings while holding
    Alarm,
};
QString shortfallText(Shortfall s);
// A shortfall that says the gains have too little margin: a search does not go further that way.
constexpr bool unsafe(Shortfall s)
{
    return s != Shortfall::None && s != Shortfall::Overshoot && s != Shortfall::NoStep;
}

// One gain set, measured in both directions.
struct TrialSummary {
    Shortfall shortfall = Shortfall::NoStep;
    double settlingMs = 0; // the slower direction
    double riseMs = 0; // the slower direction
    double overshootPercent = 0; // the larger one

    bool clean() const { return shortfall == Shortfall::None; }
};

// Figures, band exits and the largest error of a step from its two series.
StepCheck checkStep(const std::vector<double> &command, const std::vector<double> &feedback,
                    double sampleMs, const StepOptions &options = {});

// How a trial did against the target overshoot and the error limit (half of it is allowed).
TrialSummary summarize(const StepCheck &up, const StepCheck &down, double targetPercent,
                       double errorLimit);

// The objective: a clean trial beats one that is not; then the shorter settling time, the
// shorter rise time breaking ties within `tieMs`. Between two that fall short, the one with
// less overshoot beyond the target, a settled one first; if `a` raised a gain, only without
// settling markedly slower.
bool better(const TrialSummary &a, const TrialSummary &b, double tieMs, bool raised = false);

// The margin a result must show: its gains made stiffer by this factor must still settle, with
// overshoot below this many times the target.
inline constexpr double MarginFactor = 1.3;
inline constexpr double MarginOvershoot = 2;
bool marginKept(const TrialSummary &stiffer, double targetPercent);

// The gain times the factor, rounded, moved by at least one count, within 0..32767.
std::int16_t scaledGain(std::int16_t gain, double factor);

// The shortest recorder span ("100".."500") that holds the step at `startMs` and `endMs`
// (when it settled) with a quarter of the record to spare; "500" when none does.
QString spanFor(double startMs, double endMs);
// The next longer span, or nothing after "500".
std::optional<QString> longerSpan(const QString &span);

// How widely a series spreads about its median: the median absolute deviation, never less than
// its resolution (the smallest step between two different samples, or one count).
double spread(const std::vector<double> &values);
