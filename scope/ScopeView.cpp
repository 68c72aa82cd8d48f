#include "ScopeView.h"

#include <algorithm>
#include <cmath>

namespace {

struct DioBit {
    const char *name;
    int mask;
};
constexpr DioBit DioBits[] = { { "INPOS", 32 }, { "DQ0", 64 }, { "BOND", 512 }, { "DI1", 4096 } };

QString msText(double ms, double sampleMs)
{
    return QString::number(ms, 'f', sampleMs < 1 ? 2 : 1) + QStringLiteral(" ms");
}

QString valueText(const std::optional<double> &v)
{
    return v ? axisText(*v) : QStringLiteral("–");
}

// Clamps a zoomed span into lo..hi; all of it when it no longer overlaps.
std::pair<double, double> within(const std::optional<std::pair<double, double>> &span, double lo,
                                 double hi)
{
    if (!span)
        return { lo, hi };
    const double a = std::max(span->first, lo);
    const double b = std::min(span->second, hi);
    if (!(a < b))
        return { lo, hi };
    return { a, b };
}

// Scales lo..hi by factor around `at`; nothing once it covers all of full.
std::optional<std::pair<double, double>> scaled(std::pair<double, double> visible, double at,
                                                double factor, double fullLo, double fullHi)
{
    const double lo = at + (visible.first - at) * factor;
    const double hi = at + (visible.second - at) * factor;
    if (lo <= fullLo && hi >= fullHi)
        return std::nullopt;
    // A zoom narrower than a millionth of the whole is lost in rounding.
    if ((hi - lo) < (fullHi - fullLo) * 1e-6)
        return visible;
    return std::make_pair(lo, hi);
}

} // namespace

ScopeRecord::ScopeRecord(const Record &record, const RecordShape &shape, double spanMs,
                         const QString &first, const QString &second)
    : record(record), shape(shape), spanMs(spanMs), range(plotRange(record, shape))
{
    names[0] = first;
    names[1] = second;
}

int ScopeRecord::half() const
{
    return std::clamp(shape.recordLength, 2, Record::Capacity - 1) / 2;
}

std::optional<double> ScopeRecord::valueAt(int channel, double tMs) const
{
    if (!(spanMs > 0))
        return std::nullopt;
    const double at = std::round(tMs / sampleMs());
    if (!(at >= 0 && at < half()))
        return std::nullopt;
    const int i = channel * half() + int(at);
    if (i >= record.count)
        return std::nullopt;
    return record.raw[i];
}

QString recordLengthProblem(const ScopeRecord &record)
{
    const int expected = record.shape.recordLength;
    const int count = record.record.count;
    if (count == expected)
        return {};
    // The parse keeps one value more than expected: a longer record shows as that one.
    if (count > expected) {
        return QStringLiteral("The record holds more than the %1 values the set-up expects: the "
                              "drive seems to have the classic recorder (512 values). Clear "
                              "\"VCRR new\" and press Setup again.")
            .arg(expected);
    }
    if (expected == 512 && count == 256) {
        return QStringLiteral("The record holds 256 of the 512 values the set-up expects: the "
                              "drive seems to have the new recorder. Tick \"VCRR new\" and press "
                              "Setup again.");
    }
    return QStringLiteral("The record holds %1 of the %2 values the set-up expects: the upload "
                          "was cut short. If every capture is short, check \"VCRR new\".")
        .arg(count)
        .arg(expected);
}

ScopeRecord mirroredRecord(const ScopeRecord &record, double around)
{
    Record r = record.record;
    for (int i = 0; i < std::min(r.count, Record::Capacity); ++i) {
        r.raw[i] = float(around - r.raw[i]);
        r.plot[i] = r.raw[i] / 4;
    }
    return ScopeRecord(r, record.shape, record.spanMs, record.names[0], record.names[1]);
}

namespace {
QString channelUnit(const QString &name)
{
    if (name.startsWith(QLatin1Char('P')))
        return QStringLiteral("counts");
    if (name.startsWith(QLatin1Char('V')))
        return QStringLiteral("0.1 mm/s");
    if (name == QLatin1String("ICMD"))
        return QStringLiteral("mA");
    return QStringLiteral("counts");
}
} // namespace

QString valueUnit(const ScopeRecord &record)
{
    const QString first = channelUnit(record.names[0]);
    const QString second = channelUnit(record.names[1]);
    if (record.shape.dio || first == second)
        return first;
    return record.names[0] + QLatin1Char(' ') + first + QStringLiteral(", ") + record.names[1]
        + QLatin1Char(' ') + second;
}

DataRect fullView(const ScopeRecord &now, const ScopeRecord *reference, double referenceShiftMs)
{
    // Graph1 spans 0 to 255 horizontal units, 256 of them to the span.
    DataRect r { 0, now.spanMs * 255 / 256, double(4 * now.range.min),
                 double(4 * (now.range.min + now.range.range)) };
    if (reference) {
        r.t0 = std::min(r.t0, referenceShiftMs);
        r.t1 = std::max(r.t1, referenceShiftMs + reference->spanMs * 255 / 256);
        r.v0 = std::min(r.v0, double(4 * reference->range.min));
        r.v1 = std::max(r.v1, double(4 * (reference->range.min + reference->range.range)));
    }
    return r;
}

std::optional<std::pair<double, double>> tracesSpan(const ScopeRecord &now,
                                                    const ScopeRecord *reference)
{
    double lo = 0, hi = 0;
    bool any = false;
    for (const ScopeRecord *r : { &now, reference }) {
        if (!r || r->shape.dio)
            continue;
        // Only what the upload held: the zeros standing in for the rest are no trace.
        for (int i = 0; i < std::min(r->record.count, 2 * r->half()); ++i) {
            const double v = r->record.raw[std::size_t(i)];
            lo = any ? std::min(lo, v) : v;
            hi = any ? std::max(hi, v) : v;
            any = true;
        }
    }
    if (!any)
        return std::nullopt;
    const double room = std::max(0.1 * (hi - lo), 2.0);
    return std::make_pair(lo - room, hi + room);
}

UserScale recordScale(const ScopeRecord &record, const DataRect &view)
{
    // Graph1's units: 256 horizontal units to the span; vertically raw / 4 above the minimum.
    const double perMs = record.spanMs > 0 ? 256 / record.spanMs : 0;
    const double min = double(record.range.min);
    return UserScale { view.t0 * perMs, view.v1 / 4 - min, view.t1 * perMs, view.v0 / 4 - min };
}

DataRect ScopeZoom::visible(const DataRect &full) const
{
    const auto t = within(time, full.t0, full.t1);
    const auto v = within(value, full.v0, full.v1);
    return DataRect { t.first, t.second, v.first, v.second };
}

void ScopeZoom::zoomTo(const DataRect &r, bool values, const DataRect &full)
{
    const auto t = std::minmax(r.t0, r.t1);
    const auto v = std::minmax(r.v0, r.v1);
    if (!(t.first < t.second) || (values && !(v.first < v.second)))
        return;
    time = within(std::make_pair(t.first, t.second), full.t0, full.t1);
    if (values)
        value = within(std::make_pair(v.first, v.second), full.v0, full.v1);
}

void ScopeZoom::zoomAround(double t, double v, double factor, bool values, const DataRect &full)
{
    const DataRect now = visible(full);
    time = scaled({ now.t0, now.t1 }, t, factor, full.t0, full.t1);
    if (values)
        value = scaled({ now.v0, now.v1 }, v, factor, full.v0, full.v1);
}

Ticks niceTicks(double lo, double hi, int maxCount)
{
    Ticks ticks;
    if (!(hi > lo) || maxCount < 1 || !std::isfinite(hi - lo))
        return ticks;
    const double least = (hi - lo) / maxCount;
    const double power = std::pow(10.0, std::floor(std::log10(least)));
    double step = 10 * power;
    for (const double m : { 1.0, 2.0, 5.0 }) {
        if (m * power >= least) {
            step = m * power;
            break;
        }
    }
    ticks.decimals = std::max(0, int(-std::floor(std::log10(step) + 1e-9)));
    for (double k = std::ceil(lo / step); k * step <= hi + step * 1e-9; k += 1)
        ticks.values.push_back(k * step);
    return ticks;
}

ScopePicture scopePicture(const ScopeRecord &now, const ScopeRecord *reference,
                          double referenceShiftMs, const DataRect &view, const StepFigures *figures,
                          const ScopeMarks &marks, const QRect &plotRect, QSizeF charSize)
{
    ScopePicture p;
    p.recordView = recordScale(now, view);
    if (reference) {
        DataRect shifted = view;
        shifted.t0 -= referenceShiftMs;
        shifted.t1 -= referenceShiftMs;
        p.referenceView = recordScale(*reference, shifted);
    }

    DisplayList &plot = p.marks;
    // The marks are in ms and raw values.
    plot.scale(view.t0, view.v1, view.t1, view.v0);
    if (figures && figures->ok()) {
        plot.foreColor(ScopeColor::Band);
        for (const double edge : { figures->to - figures->band, figures->to + figures->band }) {
            plot.point(figures->startMs, edge);
            plot.lineTo(now.spanMs, edge);
        }
    }
    const auto cursor = [&](const std::optional<double> &t, quint32 color, const char *label) {
        if (!t)
            return;
        plot.foreColor(color);
        plot.point(*t, view.v0);
        plot.lineTo(*t, view.v1);
        if (*label)
            plot.text(*t, view.v1, QStringLiteral(" ") + QLatin1String(label),
                      Qt::AlignLeft | Qt::AlignTop);
    };
    cursor(marks.aMs, ScopeColor::CursorA, "A");
    cursor(marks.bMs, ScopeColor::CursorB, "B");
    cursor(marks.cursorMs, ScopeColor::Cursor, "");
    if (marks.dragged) {
        const DataRect &d = *marks.dragged;
        plot.foreColor(ScopeColor::Cursor);
        plot.point(d.t0, d.v0);
        plot.lineTo(d.t1, d.v0);
        plot.lineTo(d.t1, d.v1);
        plot.lineTo(d.t0, d.v1);
        plot.lineTo(d.t0, d.v0);
    }

    // The frame, in the surface's pixels.
    DisplayList &frame = p.frame;
    const int left = plotRect.left() - 1;
    const int right = plotRect.right() + 1;
    const int top = plotRect.top() - 1;
    const int bottom = plotRect.bottom() + 1;
    frame.foreColor(ScopeColor::Frame);
    frame.point(left, top);
    frame.lineTo(right, top);
    frame.lineTo(right, bottom);
    frame.lineTo(left, bottom);
    frame.lineTo(left, top);

    const UserScale data { view.t0, view.v1, view.t1, view.v0 };
    const auto pixel = [&](double t, double v) {
        const QPointF at = mapToPixels(data, QPointF(t, v), plotRect.size());
        return QPointF(plotRect.left() + std::floor(at.x()), plotRect.top() + std::floor(at.y()));
    };
    // Room for a label of five digits between two; at least two labels, however small.
    const auto ticks = [](double lo, double hi, double room) {
        Ticks t = niceTicks(lo, hi, std::max(2, int(room)));
        for (int more = std::max(2, int(room)) + 1; t.values.size() < 2 && more <= 10; ++more)
            t = niceTicks(lo, hi, more);
        return t;
    };
    const Ticks times = ticks(view.t0, view.t1, plotRect.width() / (charSize.width() * 7));
    const Ticks values = ticks(view.v0, view.v1, plotRect.height() / (charSize.height() * 2.5));
    DisplayList &grid = p.grid;
    grid.scale(view.t0, view.v1, view.t1, view.v0);
    grid.foreColor(PlotColor::Grid);
    for (const double t : times.values) {
        grid.point(t, view.v0);
        grid.lineTo(t, view.v1);
    }
    for (const double v : values.values) {
        grid.point(view.t0, v);
        grid.lineTo(view.t1, v);
    }

    for (const double t : times.values) {
        const double x = pixel(t, view.v0).x();
        frame.foreColor(ScopeColor::Frame);
        frame.point(x, bottom);
        frame.lineTo(x, bottom + 4);
        frame.foreColor(ScopeColor::Label);
        frame.text(x, bottom + 5, QString::number(t, 'f', times.decimals),
                   Qt::AlignHCenter | Qt::AlignTop);
    }
    frame.text(left - 6, bottom + 5, QStringLiteral("ms"), Qt::AlignRight | Qt::AlignTop);
    frame.text(left, top - 2, valueUnit(now), Qt::AlignLeft | Qt::AlignBottom);
    for (const double v : values.values) {
        const double y = pixel(view.t0, v).y();
        frame.foreColor(ScopeColor::Frame);
        frame.point(left - 4, y);
        frame.lineTo(left, y);
        frame.foreColor(ScopeColor::Label);
        frame.text(left - 6, y, QString::number(v, 'f', values.decimals),
                   Qt::AlignRight | Qt::AlignVCenter);
    }
    return p;
}

QString readoutAt(const ScopeRecord &record, double tMs)
{
    QString s = msText(tMs, record.sampleMs()) + QStringLiteral(":  ") + record.names[0]
        + QLatin1Char(' ') + valueText(record.valueAt(0, tMs));
    const std::optional<double> second = record.valueAt(1, tMs);
    if (!record.shape.dio)
        return s + QStringLiteral("  ") + record.names[1] + QLatin1Char(' ') + valueText(second);
    for (const DioBit &bit : DioBits) {
        s += QStringLiteral("  ") + QLatin1String(bit.name) + QLatin1Char(' ')
            + (second ? QString::number((std::int64_t(*second) & bit.mask) ? 1 : 0)
                      : QStringLiteral("–"));
    }
    return s;
}

QString cursorDelta(const ScopeRecord &record, double aMs, double bMs)
{
    QString s = QStringLiteral("Δt ") + msText(bMs - aMs, record.sampleMs());
    for (int c = 0; c < (record.shape.dio ? 1 : 2); ++c) {
        const std::optional<double> a = record.valueAt(c, aMs);
        const std::optional<double> b = record.valueAt(c, bMs);
        s += QStringLiteral("  Δ") + record.names[c] + QLatin1Char(' ')
            + (a && b ? axisText(*b - *a) : QStringLiteral("–"));
    }
    return s;
}
