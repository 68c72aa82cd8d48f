#include "Record.h"

#include <algorithm>
#include <cfenv>
#include <cmath>

namespace {
// Nearest integer, halves to the even neighbour.
double roundEven(double v)
{
    const int savedMode = std::fegetround();
    std::fesetround(FE_TONEAREST);
    const double r = std::nearbyint(v);
    std::fesetround(savedMode);
    return r;
}

// Keeps every bound within what a 64-bit integer holds; far beyond anything a drive sends.
std::int64_t toBound(double v)
{
    constexpr double limit = 1e15;
    return static_cast<std::int64_t>(std::clamp(v, -limit, limit));
}
} // namespace

double lenientNumber(QStringView text)
{
    QByteArray number;
    bool digits = false;
    bool point = false;
    bool exponent = false;
    bool exponentDigits = false;
    for (QChar qc : text) {
        const char16_t c = qc.unicode();
        if (c == u' ' || c == u'\t' || c == u'\n')
            continue;
        if ((c == u'+' || c == u'-') && (number.isEmpty() || (exponent && number.endsWith('e')))) {
            number += char(c);
        } else if (c >= u'0' && c <= u'9') {
            number += char(c);
            (exponent ? exponentDigits : digits) = true;
        } else if (c == u'.' && !point && !exponent) {
            number += '.';
            point = true;
        } else if ((c == u'e' || c == u'E' || c == u'd' || c == u'D') && digits && !exponent) {
            number += 'e';
            exponent = true;
        } else {
            break;
        }
    }
    if (!digits)
        return 0;
    // An exponent mark without digits is no exponent.
    if (exponent && !exponentDigits) {
        while (!number.isEmpty()
               && (number.endsWith('e') || number.endsWith('+') || number.endsWith('-')))
            number.chop(1);
    }
    bool ok = false;
    const double value = number.toDouble(&ok);
    return ok && std::isfinite(value) ? value : 0;
}

std::optional<QString> uploadValues(const QString &reply)
{
    if (reply.size() < 3)
        return std::nullopt;
    return reply.mid(3);
}

RecordParse parseRecord(const QString &text, const RecordShape &shape)
{
    RecordParse result;
    Record &r = result.record;
    const int half = shape.recordLength / 2;
    int i = 0;
    int start = 0;
    for (;;) {
        const int comma = text.indexOf(QLatin1Char(','), start);
        if (comma < 0 || i > shape.recordLength || i >= Record::Capacity)
            break;
        if (comma - start + 1 > 11) {
            result.rest = text.mid(start);
            return result;
        }
        const float raw
            = static_cast<float>(lenientNumber(QStringView(text).mid(start, comma - start)));
        r.raw[i] = raw;
        r.position[i] = static_cast<float>(i * shape.step);
        r.plot[i] = shape.dio && i >= half ? raw : raw / 4;
        start = comma + 1;
        ++i;
    }
    r.count = i;
    result.ok = true;
    return result;
}

PlotRange plotRange(const Record &record, const RecordShape &shape)
{
    const int n = std::clamp(shape.recordLength, 1, Record::Capacity);
    double max = roundEven(record.plot[0]);
    double min = max;
    for (int i = 1; i < n; ++i) {
        const double v = record.plot[i];
        if (v > max)
            max = roundEven(v);
        if (v < min)
            min = roundEven(v);
    }

    PlotRange r;
    // Headroom above the largest value: away from zero when it is positive, toward zero when
    // negative, so that the top of an all-negative trace stays in view.
    r.max = toBound(max >= 0 ? roundEven(max * 1.2) : std::trunc(max * 0.8));
    if (min < 0)
        r.min = std::clamp<std::int64_t>(toBound(std::trunc(min * 1.2)), -8191, 8191);
    else
        r.min = toBound(std::trunc(min * 0.8));
    r.range = r.max - r.min;
    if (r.range <= 0) {
        // A flat record at zero: centre it in a small range instead of dividing by nothing.
        r.min = std::min<std::int64_t>(r.min, r.max) - 1;
        r.max = r.min + 2;
        r.range = 2;
    }
    return r;
}

QString axisText(double value)
{
    if (value == std::trunc(value) && std::abs(value) < 1e15)
        return QString::number(static_cast<std::int64_t>(value));
    return QString::number(value, 'g', 15);
}

std::array<QString, 5> valueAxisLabels(const PlotRange &range)
{
    std::array<QString, 5> labels;
    for (int k = 0; k < 5; ++k)
        labels[k] = axisText(static_cast<double>(range.range * k + 4 * range.min));
    return labels;
}

std::array<QString, 5> timeAxisLabels(const QString &span)
{
    const double total = lenientNumber(span);
    std::array<QString, 5> labels;
    for (int k = 1; k <= 5; ++k)
        labels[k - 1] = axisText(total / 5 * k);
    return labels;
}

DisplayList plotRecord(const Record &record, const RecordShape &shape, const PlotRange &range,
                       bool withGrid)
{
    DisplayList g;
    const double R = static_cast<double>(range.range);
    const double min = static_cast<double>(range.min);
    g.clear();
    g.scale(0, R, 255, 0);

    g.foreColor(PlotColor::Grid);
    for (int k = 1; k <= 3 && withGrid; ++k) {
        const double y = std::trunc(min + R * k / 4) - min;
        g.point(0, y);
        g.lineTo(255, y);
    }
    for (int k = 1; k <= 4 && withGrid; ++k) {
        g.point(51 * k, 0);
        g.lineTo(51 * k, R);
    }

    const int length = std::clamp(shape.recordLength, 2, Record::Capacity - 1);
    const int half = length / 2;
    const auto polyline = [&g](int from, int to, auto point) {
        for (int i = from; i < to; ++i) {
            const QPointF p = point(i);
            if (i == from)
                g.point(p.x(), p.y());
            else
                g.lineTo(p.x(), p.y());
        }
    };

    g.foreColor(PlotColor::Channel1);
    polyline(0, half, [&](int i) { return QPointF(record.position[i], record.plot[i] - min); });

    if (!shape.dio) {
        g.foreColor(PlotColor::Channel2);
        polyline(half, length,
                 [&](int i) { return QPointF(record.position[i] - 256, record.plot[i] - min); });
        return g;
    }

    const double band = std::trunc(R / 9);
    const struct {
        std::int64_t mask;
        quint32 color;
        double base;
    } tracks[] = {
        { 32, PlotColor::Inpos, band },
        { 64, PlotColor::Dq0, 3 * band },
        { 512, PlotColor::Bond, 5 * band },
        { 4096, PlotColor::Di1, 7 * band },
    };
    for (const auto &t : tracks) {
        g.foreColor(t.color);
        polyline(half, length, [&](int i) {
            // Clamped: a word far outside 64 bits ("-9e30" fits a field) has no integer value.
            const std::int64_t word = toBound(roundEven(record.plot[i]));
            const double level = (word & t.mask) ? band : 0;
            return QPointF(record.position[i] - 256, level + t.base);
        });
    }
    return g;
}
