#include "TuneRules.h"

#include <algorithm>
#include <cmath>

namespace {
const QString Spans[] = { QStringLiteral("100"), QStringLiteral("200"), QStringLiteral("300"),
                          QStringLiteral("400"), QStringLiteral("500") };

// How far from meeting the target a trial is, for trials that both fall short.
int badness(Shortfall s)
{
    switch (s) {
    case Shortfall::None:
        return 0;
    case Shortfall::Overshoot:
        return 1;
    case Shortfall::NoStep:
        return 2;
    case Shortfall::NotSettled:
        return 3;
    case Shortfall::Ringing:
        return 4;
    case Shortfall::Chatter:
        return 5;
    case Shortfall::PositionError:
        return 6;
    case Shortfall::Alarm:
        return 7;
    }
    return 7;
}
} // namespace

QString shortfallText(Shortfall s)
{
    switch (s) {
    case Shortfall::None:
        return QStringLiteral("meets the target");
    case Shortfall::NoStep:
        return QStringLiteral("no clear step in the record");
    case Shortfall::Overshoot:
        return QStringLiteral("overshoot beyond the target");
    case Shortfall::NotSettled:
        return QStringLiteral("not settled in the record");
    case Shortfall::Ringing:
        return QStringLiteral("ringing");
    case Shortfall::PositionError:
        return QStringLiteral("position error beyond half of VPX");
    case Shortfall::Chatter:
        return QStringLiteral("the loop swings while holding");
    case Shortfall::Alarm:
        return QStringLiteral("alarm");
    }
    return QString();
}

StepCheck checkStep(const std::vector<double> &command, const std::vector<double> &feedback,
                    double sampleMs, const StepOptions &options)
{
    StepCheck check;
    check.figures = stepFigures(command, feedback, sampleMs, options);
    const StepFigures &f = check.figures;
    if (!f.ok())
        return check;
    const std::size_t n = std::min(command.size(), feedback.size());
    const auto start = static_cast<std::size_t>(std::ceil(f.startMs / sampleMs));
    // Leaving the band counts where the feedback goes beyond its own noise, and by more than one
    // of its steps (a coarse encoder's value flips across the edge while the load barely
    // moves); coming back counts at the band's edge.
    const std::vector<double> after(feedback.begin() + std::ptrdiff_t(std::min(start, n)),
                                    feedback.begin() + std::ptrdiff_t(n));
    const double beyond = f.band + std::max(4 * f.noise, seriesResolution(after).value_or(0));
    bool inside = false;
    bool entered = false;
    std::size_t firstExit = 0, lastExit = 0;
    for (std::size_t i = start; i < n; ++i) {
        check.largestError = std::max(check.largestError, std::abs(command[i] - feedback[i]));
        const double off = std::abs(feedback[i] - f.to);
        if (entered && inside && off > beyond) {
            if (check.bandExits++ == 0)
                firstExit = i;
            lastExit = i;
            inside = false;
        } else if (off <= f.band) {
            inside = entered = true;
        }
    }
    if (check.bandExits > 1)
        check.exitIntervalMs = double(lastExit - firstExit) * sampleMs / (check.bandExits - 1);
    const std::size_t later = start + (n - std::min(n, start)) / 2;
    for (std::size_t i = later; i < n; ++i)
        check.residualPercent = std::max(check.residualPercent,
                                         std::abs(feedback[i] - f.to) / std::abs(f.size()) * 100);
    return check;
}

TrialSummary summarize(const StepCheck &up, const StepCheck &down, double targetPercent,
                       double errorLimit)
{
    TrialSummary t;
    t.shortfall = Shortfall::None;
    t.missPercent = 0;
    for (const StepCheck *c : { &up, &down }) {
        const StepFigures &f = c->figures;
        Shortfall s = Shortfall::None;
        if (!f.ok())
            s = Shortfall::NoStep;
        else if (c->largestError > errorLimit / 2)
            s = Shortfall::PositionError;
        else if (c->bandExits > 2)
            s = Shortfall::Ringing;
        else if (!f.settled || !f.settlingMs)
            s = Shortfall::NotSettled;
        else if (f.overshootPercent > targetPercent)
            s = Shortfall::Overshoot;
        if (badness(s) > badness(t.shortfall))
            t.shortfall = s;
        t.missPercent = std::max(
            t.missPercent,
            f.ok() ? std::max(c->residualPercent, f.overshootPercent - targetPercent) : 100.0);
        if (f.ok()) {
            t.settlingMs = std::max(t.settlingMs, f.settlingMs.value_or(f.sampleMs * 1e6));
            t.riseMs = std::max(t.riseMs, f.riseMs.value_or(f.sampleMs * 1e6));
            t.overshootPercent = std::max(t.overshootPercent, f.overshootPercent);
            t.unresolved = t.unresolved || !f.trustworthy;
        }
        t.sampleMs = std::max(t.sampleMs, f.sampleMs);
    }
    return t;
}

bool better(const TrialSummary &a, const TrialSummary &b, double tieMs)
{
    if (a.clean() != b.clean())
        return a.clean();
    if (a.clean()) {
        if (std::abs(a.settlingMs - b.settlingMs) > tieMs)
            return a.settlingMs < b.settlingMs;
        return a.riseMs + tieMs < b.riseMs;
    }
    if (std::abs(a.missPercent - b.missPercent) > StepOptions {}.bandPercent / 4)
        return a.missPercent < b.missPercent;
    return badness(a.shortfall) < badness(b.shortfall);
}

bool marginKept(const TrialSummary &stiffer, double targetPercent)
{
    return stiffer.shortfall == Shortfall::None
        || (stiffer.shortfall == Shortfall::Overshoot
            && stiffer.overshootPercent < MarginOvershoot * targetPercent);
}

std::int16_t scaledGain(std::int16_t gain, double factor)
{
    long v = std::lround(gain * factor);
    if (v == gain)
        v += factor > 1 ? 1 : -1;
    // A gain in use is never lowered to nothing: that takes its term out of the loop (no
    // integral action lets the weight pull the actuator away) instead of scaling it.
    return static_cast<std::int16_t>(std::clamp(v, gain > 0 ? 1L : 0L, 32767L));
}

QString spanFor(double startMs, double endMs)
{
    for (const QString &span : Spans) {
        if (std::max(startMs, endMs) <= 0.75 * span.toDouble())
            return span;
    }
    return Spans[4];
}

std::optional<QString> longerSpan(const QString &span)
{
    const auto at = std::find(std::begin(Spans), std::end(Spans), span);
    if (at == std::end(Spans) || at + 1 == std::end(Spans))
        return std::nullopt;
    return *(at + 1);
}

double spread(const std::vector<double> &values)
{
    if (values.empty())
        return 0;
    const double m = seriesMedian(values);
    std::vector<double> deviation;
    deviation.reserve(values.size());
    for (double v : values)
        deviation.push_back(std::abs(v - m));
    // The drive reports whole numbers: a series that never changes still has a resolution.
    return std::max(seriesMedian(std::move(deviation)), seriesResolution(values).value_or(1));
}

std::optional<double> seriesResolution(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    std::optional<double> least;
    for (std::size_t i = 1; i < values.size(); ++i) {
        const double d = values[i] - values[i - 1];
        if (d > 0 && (!least || d < *least))
            least = d;
    }
    return least;
}

double swing(const std::vector<double> &values)
{
    const double m = seriesMedian(values);
    double most = 0;
    for (double v : values)
        most = std::max(most, std::abs(v - m));
    return most;
}

double restLimit(const std::vector<RestSwing> &safe, double velocityGain, double resolution,
                 double ratio)
{
    double limit = resolution;
    for (const RestSwing &r : safe) {
        const double grown = r.velocityGain > 0 ? std::max(1.0, velocityGain / r.velocityGain) : 1;
        limit = std::max(limit, r.swing * grown);
    }
    return ratio * limit;
}

bool breaksOut(double current, double held, double largest)
{
    return std::abs(current - held) > RestlessRatio * std::max({ largest, std::abs(held), 1.0 });
}
