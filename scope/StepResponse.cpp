#include "StepResponse.h"

#include "RecorderSetup.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

constexpr std::size_t MinSamples = 10;
// A rise over fewer samples leaves the peak anywhere between them: at three, the overshoot
// of a second-order response may read a few percent of the step low.
constexpr double MinRiseSamples = 3;
// Excursions within this many noise estimates (standard deviations) of the target are noise.
constexpr double NoiseBands = 4;
// Samples before the step that tell the feedback's noise: three second differences.
constexpr std::size_t MinQuiet = 5;

// Where a series first reaches `level` (going the way of `dir`) at or after sample `from`, in
// samples, interpolated between the two samples around it.
std::optional<double> crossing(const std::vector<double> &y, std::size_t from, double level,
                               double dir)
{
    for (std::size_t i = from; i < y.size(); ++i) {
        if (dir * (y[i] - level) < 0)
            continue;
        if (i == 0 || dir * (y[i - 1] - level) >= 0)
            return double(i);
        return double(i - 1) + (level - y[i - 1]) / (y[i] - y[i - 1]);
    }
    return std::nullopt;
}

// The spans the recorder offers, shortest first.
std::vector<int> recorderSpans()
{
    std::vector<int> spans;
    for (int ms = 100; ms <= 500; ms += 100) {
        if (intervalSetting(QString::number(ms), false))
            spans.push_back(ms);
    }
    return spans;
}

// A step late in the record, or a response still moving at its end: the shortest longer span
// that gives the response at least twice the time it had after the step (in `seenMs` of
// record) and leaves the step in the record's first half; the longest span when none does.
std::optional<int> longerSpan(const StepFigures &f, double seenMs)
{
    const double after = seenMs - f.startMs;
    const double wanted = std::max(2 * f.startMs, f.startMs + 2 * after);
    const std::vector<int> spans = recorderSpans();
    for (const int span : spans) {
        if (span > f.spanMs + 0.5 && span >= wanted)
            return span;
    }
    if (!spans.empty() && spans.back() > f.spanMs + 0.5)
        return spans.back();
    return std::nullopt;
}

// Too coarse a sample time: the longest shorter span whose samples cover the rise, that
// keeps the step in the record's first half and, for a settled response, its settling
// before the last 10 %. The step comes as long after arming whatever the span, so a
// response still moving at the end would show even less of itself.
std::optional<int> shorterSpan(const StepFigures &f)
{
    if (!f.steadyStateError)
        return std::nullopt;
    const std::vector<int> spans = recorderSpans();
    for (auto it = spans.rbegin(); it != spans.rend(); ++it) {
        const double span = *it;
        const double sampleMs = f.sampleMs * span / f.spanMs;
        const bool fits
            = f.startMs <= span / 2 && (!f.settled || f.startMs + *f.settlingMs <= 0.9 * span);
        if (span < f.spanMs - 0.5 && fits && *f.riseMs >= MinRiseSamples * sampleMs)
            return int(span);
    }
    return std::nullopt;
}

StepFigures figuresOf(const std::vector<double> &command, const std::vector<double> &feedback,
                      double sampleMs, double spanMs, const StepOptions &options)
{
    StepFigures f;
    f.sampleMs = sampleMs;
    f.spanMs = spanMs;
    const std::size_t n = std::min(command.size(), feedback.size());
    if (n < MinSamples || !(sampleMs > 0))
        return f;
    const std::vector<double> c(command.begin(), command.begin() + std::ptrdiff_t(n));
    const std::vector<double> y(feedback.begin(), feedback.begin() + std::ptrdiff_t(n));

    const auto [loIt, hiIt] = std::minmax_element(c.begin(), c.end());
    const double lo = *loIt;
    const double range = *hiIt - lo;
    const double noise = seriesNoise(c);
    if (range < std::max(options.minStep, 8 * noise)) {
        f.verdict = StepVerdict::TooSmall;
        return f;
    }

    // One crossing of the middle, with hysteresis so that noise on a level is no step.
    const double lowMark = lo + range / 4;
    const double highMark = lo + range * 3 / 4;
    bool high = c[0] > lo + range / 2;
    const bool fromHigh = high;
    int changes = 0;
    std::size_t k = 0;
    for (std::size_t i = 0; i < n; ++i) {
        if (high ? c[i] < lowMark : c[i] > highMark) {
            high = !high;
            ++changes;
            k = i;
        }
    }
    if (changes != 1) {
        f.verdict = StepVerdict::SeveralSteps;
        return f;
    }

    // First guesses at the two levels: the first few samples before the command passes its
    // first quarter, and the last few. Fewer than three would be no level to take a middle
    // value of (it might lie on the move): then the outermost sample.
    const auto medianOf = [&c](std::size_t from, std::size_t to) {
        return seriesMedian(
            std::vector<double>(c.begin() + std::ptrdiff_t(from), c.begin() + std::ptrdiff_t(to)));
    };
    std::size_t quarter = 0;
    while (fromHigh ? c[quarter] >= highMark : c[quarter] <= lowMark)
        ++quarter;
    const double from0 = quarter >= 3 ? medianOf(0, std::min<std::size_t>(5, quarter)) : c[0];
    const double to0 = n - k >= 3 ? medianOf(n - std::min<std::size_t>(5, n - k), n) : c[n - 1];
    const double size0 = std::abs(to0 - from0);

    // The command stands still where it moves less than its noise; it is on a level where it
    // stays within 2 % of the step of it.
    const double still = 4 * noise + 1e-9 * size0;
    const double tol = std::max(still, 0.02 * size0);
    std::size_t s = 0;
    while (s < n && std::abs(c[s] - from0) <= tol)
        ++s;
    std::size_t e = n;
    while (e > 0 && std::abs(c[e - 1] - to0) <= tol)
        --e;
    for (std::size_t i = s; i + 2 < e; ++i) {
        const bool standing
            = std::abs(c[i + 1] - c[i]) <= still && std::abs(c[i + 2] - c[i + 1]) <= still;
        const double level = c[i + 1];
        if (standing && std::abs(level - from0) > size0 / 5 && std::abs(level - to0) > size0 / 5) {
            f.verdict = StepVerdict::SeveralSteps;
            return f;
        }
    }
    const std::size_t tail = (n + 9) / 10;
    if (s == 0 || e - s > n / 4) {
        f.verdict = StepVerdict::NoPlateau;
        return f;
    }
    if (n - e < tail) {
        // Level before, then a short change that has no level after it in the record: a step
        // that came too late, as a test motion does at the shortest span.
        f.verdict = StepVerdict::NearEnd;
        f.startMs = double(s) * sampleMs;
        f.from = medianOf(0, s);
        f.to = to0;
        f.suggestedSpanMs = longerSpan(f, double(n) * sampleMs);
        return f;
    }
    f.from = medianOf(0, s);
    f.to = medianOf(e, n);
    const double size = std::abs(f.to - f.from);
    const double dir = f.to > f.from ? 1 : -1;
    // A move leaves its level gently: its first samples lie within the tolerance. The step
    // came where the command first moved.
    while (s > 1 && dir * (c[s - 1] - f.from) > still && dir * (c[s] - c[s - 1]) > 0)
        --s;

    f.verdict = StepVerdict::Step;
    // Where a straight move through the command's own 10 % and 90 % points leaves the first
    // level: to a fraction of a sample, so that the sampling's phase does not move the figures.
    // Never before the last sample on the level, nor after the first one off it.
    const std::optional<double> c10 = crossing(c, s, f.from + 0.1 * (f.to - f.from), dir);
    const std::optional<double> c90 = c10
        ? crossing(c, static_cast<std::size_t>(*c10), f.from + 0.9 * (f.to - f.from), dir)
        : std::nullopt;
    const double start
        = c90 ? std::clamp(*c10 - (*c90 - *c10) / 8, double(s) - 1, double(s)) : double(s);
    f.startMs = start * sampleMs;
    const auto ms = [&](double sample) { return (sample - start) * sampleMs; };

    // The feedback's noise while it still holds, before the step: a response that keeps
    // oscillating must not pass for noise. Within four times it, a wobble is no overshoot.
    f.noise = s >= MinQuiet ? seriesNoise(std::vector<double>(y.begin(), y.begin() + std::ptrdiff_t(s)))
                            : options.restNoise.value_or(0);
    const double noiseBand = NoiseBands * f.noise;

    const std::optional<double> t10 = crossing(y, s, f.from + 0.1 * (f.to - f.from), dir);
    if (t10) {
        const auto from90 = static_cast<std::size_t>(std::floor(*t10));
        if (const auto t90 = crossing(y, from90, f.from + 0.9 * (f.to - f.from), dir))
            f.riseMs = (*t90 - *t10) * sampleMs;
    }

    f.band = std::max(options.bandPercent / 100 * size, options.bandMin);
    if (noiseBand > f.band) {
        // Said, not hidden in a wider band: a larger step lifts the band above the noise.
        f.noisy = true;
        if (options.bandPercent > 0)
            f.suggestedStep = int(std::ceil(noiseBand * 100 / options.bandPercent / 10)) * 10;
    }
    std::size_t j = n;
    for (std::size_t i = n; i-- > s;) {
        if (std::abs(y[i] - f.to) > f.band) {
            j = i;
            break;
        }
    }
    // Settled only if it then stays in the band for the last 10 % of the record at least: a
    // record that ends while the feedback swings through the band cannot tell.
    if (j == n) {
        f.settlingMs = 0;
    } else if (j + tail < n) {
        // Into the band between samples j and j + 1, through the edge it was outside of.
        const double edge = f.to + (y[j] > f.to ? f.band : -f.band);
        f.settlingMs = ms(double(j) + (y[j] - edge) / (y[j] - y[j + 1]));
    }
    f.settled = f.settlingMs.has_value();
    // At rest, if not on target, when the last 10 % lie within a band's width: then the error
    // is the one the loop keeps. A feedback still on its way has none yet.
    const auto [tailLo, tailHi] = std::minmax_element(y.end() - std::ptrdiff_t(tail), y.end());
    const bool atRest = f.settled || *tailHi - *tailLo <= 2 * std::max(f.band, noiseBand);
    if (atRest) {
        double error = 0;
        for (std::size_t i = n - tail; i < n; ++i)
            error += c[i] - y[i];
        f.steadyStateError = error / double(tail);
    }

    // The largest excursion beyond the target (below it, when the feedback never got there).
    // Found in the last samples of a feedback still moving, it may grow after the record.
    double peak = -std::numeric_limits<double>::infinity();
    std::size_t peakAt = s;
    for (std::size_t i = s; i < n; ++i) {
        if (dir * (y[i] - f.to) > peak) {
            peak = dir * (y[i] - f.to);
            peakAt = i;
        }
    }
    f.overshootFinal = atRest || peakAt + tail < n;
    if (peak > noiseBand) {
        f.overshootPercent = peak / size * 100;
        f.peakMs = ms(double(peakAt));
    }

    f.trustworthy = !f.riseMs || *f.riseMs >= MinRiseSamples * sampleMs;
    if (!f.trustworthy)
        f.suggestedSpanMs = shorterSpan(f);
    else if (!atRest)
        f.suggestedSpanMs = longerSpan(f, double(n) * sampleMs);
    return f;
}

} // namespace

double seriesMedian(std::vector<double> v)
{
    if (v.empty())
        return 0;
    const auto mid = v.begin() + static_cast<std::ptrdiff_t>(v.size() / 2);
    std::nth_element(v.begin(), mid, v.end());
    return *mid;
}

double seriesNoise(const std::vector<double> &c)
{
    std::vector<double> d;
    for (std::size_t i = 2; i < c.size(); ++i)
        d.push_back(std::abs(c[i] - 2 * c[i - 1] + c[i - 2]));
    return seriesMedian(std::move(d)) / 1.65;
}

StepFigures stepFigures(const std::vector<double> &command, const std::vector<double> &feedback,
                        double sampleMs, const StepOptions &options)
{
    const std::size_t n = std::min(command.size(), feedback.size());
    return figuresOf(command, feedback, sampleMs, double(n) * sampleMs, options);
}

StepFigures stepFigures(const Record &record, const RecordShape &shape, double spanMs,
                        const StepOptions &options)
{
    const int half = std::clamp(shape.recordLength, 2, Record::Capacity - 1) / 2;
    const int n = std::clamp(record.count - half, 0, half);
    std::vector<double> command(record.raw.begin(), record.raw.begin() + n);
    std::vector<double> feedback(record.raw.begin() + half, record.raw.begin() + half + n);
    return figuresOf(command, feedback, spanMs / half, spanMs, options);
}

bool isStepPair(const QString &first, const QString &second)
{
    return (first == QLatin1String("PCMD") && second == QLatin1String("PFBK"))
        || (first == QLatin1String("VCMD") && second == QLatin1String("VFBK"));
}

QString verdictText(StepVerdict verdict)
{
    switch (verdict) {
    case StepVerdict::Step:
        return QString();
    case StepVerdict::TooShort:
        return QStringLiteral("no clear step: too few samples");
    case StepVerdict::TooSmall:
        return QStringLiteral("no clear step: the command hardly changes");
    case StepVerdict::SeveralSteps:
        return QStringLiteral("no clear step: the command changes more than once");
    case StepVerdict::NoPlateau:
        return QStringLiteral("no clear step: the command is not level before and after");
    case StepVerdict::NearEnd:
        return QStringLiteral("no clear step: the command steps in the last samples of the "
                              "record, too late to see the response (a test motion starts "
                              "about 90 ms after the recorder is armed): use a longer span");
    }
    return QString();
}

namespace {

QString number(double v, int decimals)
{
    // "-0.0" reads as a sign where there is none.
    const QString s = QString::number(v, 'f', decimals);
    return s.startsWith(QLatin1Char('-')) && s.toDouble() == 0 ? s.mid(1) : s;
}

QString msText(const std::optional<double> &v, const QString &none)
{
    return v ? number(*v, 1) + QStringLiteral(" ms") : none;
}

} // namespace

QList<FigureRow> figureRows(const StepFigures &now, const StepFigures *reference)
{
    const auto rows = [](const StepFigures &f) {
        const QString dash = QStringLiteral("–");
        // A feedback still on its way at the record's end has no steady-state error yet.
        const bool moving = !f.steadyStateError;
        const QString atLeast = f.overshootFinal ? QString() : QStringLiteral("≥ ");
        return QList<FigureRow> {
            { QStringLiteral("step"), number(f.size(), 0) },
            { QStringLiteral("rise time 10-90 %"),
              msText(f.riseMs, moving ? QStringLiteral("not in this record") : dash) },
            { QStringLiteral("overshoot"),
              atLeast + number(f.overshootPercent, 1) + QStringLiteral(" %") },
            { QStringLiteral("settling time"),
              msText(f.settlingMs,
                     moving ? QStringLiteral("not settled in this record")
                            : QStringLiteral("not settled")) },
            { QStringLiteral("steady-state error"),
              f.steadyStateError ? number(*f.steadyStateError, 1) : dash },
            { QStringLiteral("peak time"), f.peakMs ? atLeast + msText(f.peakMs, dash) : dash },
        };
    };
    QList<FigureRow> out = now.ok() ? rows(now) : QList<FigureRow> {};
    if (reference && reference->ok()) {
        const QList<FigureRow> before = rows(*reference);
        if (out.isEmpty())
            out = QList<FigureRow>(before.size(), FigureRow {});
        for (int i = 0; i < before.size(); ++i) {
            out[i].name = before[i].name;
            out[i].value = before[i].value + QStringLiteral(" → ")
                + (out[i].value.isEmpty() ? QStringLiteral("–") : out[i].value);
        }
    }

    // Why the figures now are not the whole truth, and what to change.
    if (now.verdict == StepVerdict::NearEnd) {
        out.append({ QStringLiteral("step at"),
                     number(now.startMs, 1) + QStringLiteral(" ms of ") + number(now.spanMs, 0)
                         + QStringLiteral(" ms") });
    } else if (now.ok() && !now.trustworthy) {
        out.append({ QStringLiteral("figures"),
                     QStringLiteral("cannot be trusted at this span: the rise spans %1 samples%2")
                         .arg(number(*now.riseMs / now.sampleMs, 1),
                              now.suggestedSpanMs
                                  ? QString()
                                  : QStringLiteral(", and no shorter span holds the step")) });
    } else if (now.ok() && now.noisy) {
        out.append(
            { QStringLiteral("figures"),
              QStringLiteral("the noise (4 σ = %1) is wider than the band (±%2): "
                             "settling cannot be told from it%3")
                  .arg(number(NoiseBands * now.noise, 1), number(now.band, 1),
                       now.suggestedStep
                           ? QStringLiteral("; use a step of %1 or more").arg(*now.suggestedStep)
                           : QString()) });
    } else if (now.ok() && !now.steadyStateError) {
        out.append({ QStringLiteral("figures"),
                     QStringLiteral("not final: the record ends before the feedback settles") });
    }
    if ((now.ok() || now.verdict == StepVerdict::NearEnd) && now.suggestedSpanMs)
        out.append({ QStringLiteral("span to use"),
                     QString::number(*now.suggestedSpanMs) + QStringLiteral(" ms") });
    return out;
}
