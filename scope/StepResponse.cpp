#include "StepResponse.h"

#include <algorithm>
#include <cmath>

namespace {

constexpr std::size_t MinSamples = 10;

double median(std::vector<double> v)
{
    if (v.empty())
        return 0;
    const auto mid = v.begin() + static_cast<std::ptrdiff_t>(v.size() / 2);
    std::nth_element(v.begin(), mid, v.end());
    return *mid;
}

// The command's own noise: second differences ignore a constant slope, and their median
// ignores the few corners of a step or a move. For white noise it is about 1.65 sigma.
double noiseOf(const std::vector<double> &c)
{
    std::vector<double> d;
    for (std::size_t i = 2; i < c.size(); ++i)
        d.push_back(std::abs(c[i] - 2 * c[i - 1] + c[i - 2]));
    return median(std::move(d)) / 1.65;
}

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

} // namespace

StepFigures stepFigures(const std::vector<double> &command, const std::vector<double> &feedback,
                        double sampleMs, const StepOptions &options)
{
    StepFigures f;
    f.sampleMs = sampleMs;
    const std::size_t n = std::min(command.size(), feedback.size());
    if (n < MinSamples || !(sampleMs > 0))
        return f;
    const std::vector<double> c(command.begin(), command.begin() + std::ptrdiff_t(n));
    const std::vector<double> &y = feedback;

    const auto [loIt, hiIt] = std::minmax_element(c.begin(), c.end());
    const double lo = *loIt;
    const double range = *hiIt - lo;
    const double noise = noiseOf(c);
    if (range < std::max(options.minStep, 8 * noise)) {
        f.verdict = StepVerdict::TooSmall;
        return f;
    }

    // One crossing of the middle, with hysteresis so that noise on a level is no step.
    const double lowMark = lo + range / 4;
    const double highMark = lo + range * 3 / 4;
    bool high = c[0] > lo + range / 2;
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

    // First guesses at the two levels: the first and the last few samples.
    const auto medianOf = [&c](std::size_t from, std::size_t to) {
        return median(
            std::vector<double>(c.begin() + std::ptrdiff_t(from), c.begin() + std::ptrdiff_t(to)));
    };
    const double from0 = medianOf(0, std::min<std::size_t>(5, k));
    const double to0 = medianOf(n - std::min<std::size_t>(5, n - k), n);
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
    if (s == 0 || e - s > n / 4 || n - e < tail) {
        f.verdict = StepVerdict::NoPlateau;
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
    f.startMs = double(s) * sampleMs;
    const auto ms = [&](double sample) { return (sample - double(s)) * sampleMs; };

    const std::optional<double> t10 = crossing(y, s, f.from + 0.1 * (f.to - f.from), dir);
    if (t10) {
        const auto from90 = static_cast<std::size_t>(std::floor(*t10));
        if (const auto t90 = crossing(y, from90, f.from + 0.9 * (f.to - f.from), dir))
            f.riseMs = (*t90 - *t10) * sampleMs;
    }

    double peak = 0;
    std::size_t peakAt = 0;
    for (std::size_t i = s; i < n; ++i) {
        if (dir * (y[i] - f.to) > peak) {
            peak = dir * (y[i] - f.to);
            peakAt = i;
        }
    }
    f.overshootPercent = peak / size * 100;
    if (peak > 0)
        f.peakMs = ms(double(peakAt));

    f.band = std::max(options.bandPercent / 100 * size, options.bandMin);
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

    double error = 0;
    for (std::size_t i = n - tail; i < n; ++i)
        error += c[i] - y[i];
    f.steadyStateError = error / double(tail);
    return f;
}

StepFigures stepFigures(const Record &record, const RecordShape &shape, double spanMs,
                        const StepOptions &options)
{
    const int half = std::clamp(shape.recordLength, 2, Record::Capacity - 1) / 2;
    const int n = std::clamp(record.count - half, 0, half);
    std::vector<double> command(record.raw.begin(), record.raw.begin() + n);
    std::vector<double> feedback(record.raw.begin() + half, record.raw.begin() + half + n);
    return stepFigures(command, feedback, spanMs / half, options);
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
        return QList<FigureRow> {
            { QStringLiteral("step"), number(f.size(), 0) },
            { QStringLiteral("rise time 10-90 %"), msText(f.riseMs, dash) },
            { QStringLiteral("overshoot"), number(f.overshootPercent, 1) + QStringLiteral(" %") },
            { QStringLiteral("settling time"),
              msText(f.settlingMs, QStringLiteral("not settled")) },
            { QStringLiteral("steady-state error"), number(f.steadyStateError, 1) },
            { QStringLiteral("peak time"), msText(f.peakMs, dash) },
        };
    };
    QList<FigureRow> out = now.ok() ? rows(now) : QList<FigureRow> {};
    if (!reference || !reference->ok())
        return out;
    const QList<FigureRow> before = rows(*reference);
    if (out.isEmpty())
        out = QList<FigureRow>(before.size(), FigureRow {});
    for (int i = 0; i < before.size(); ++i) {
        out[i].name = before[i].name;
        out[i].value = before[i].value + QStringLiteral(" → ")
            + (out[i].value.isEmpty() ? QStringLiteral("–") : out[i].value);
    }
    return out;
}
