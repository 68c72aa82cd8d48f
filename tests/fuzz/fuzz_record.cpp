// A recorder upload from parse to what Graph1 shows: range, axis labels, display list, CSV.
#include "FuzzBytes.h"
#include "Record.h"
#include "RecordCsv.h"

#include <cmath>

namespace {
// The lengths the console uses and the ones it must survive.
constexpr int Lengths[] = { 256, 512, 0, 1, 2, 3, 255, 257, 511, 513, 514, 1024, -1, -512, 7, 128 };
constexpr int Steps[] = { 1, 2, 0, 3 };
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    FuzzBytes in(data, size);
    const std::uint8_t choice = in.byte();
    RecordShape shape;
    shape.recordLength = Lengths[choice & 0x0F];
    shape.dio = (choice & 0x10) != 0;
    shape.step = Steps[(choice >> 5) & 0x03];
    const bool prefixed = (choice & 0x80) != 0;
    // The span box of "Interval (ms)": a few bytes, then the reply.
    const QString span = in.text(in.byte() % 16);
    QString reply = in.rest();
    // Either the reply as the console strips it, or with the three leading characters cut.
    if (prefixed)
        reply = reply.mid(3);

    const RecordParse parse = parseRecord(reply, shape);
    if (!parse.ok) {
        FUZZ_CHECK(!parse.rest.isEmpty());
        FUZZ_CHECK(reply.endsWith(parse.rest));
        const int comma = parse.rest.indexOf(QLatin1Char(','));
        FUZZ_CHECK(comma > 10);
        return 0;
    }
    const Record &record = parse.record;
    FUZZ_CHECK(record.count >= 0 && record.count <= reply.count(QLatin1Char(','))
               && record.count <= std::min(Record::Capacity, std::max(0, shape.recordLength + 1)));
    for (int i = 0; i < Record::Capacity; ++i)
        FUZZ_CHECK(!std::isnan(record.raw[i]) && !std::isnan(record.plot[i]));
    const bool allFinite = std::all_of(record.plot.begin(), record.plot.end(),
                                       [](float v) { return std::isfinite(v); });

    const PlotRange range = plotRange(record, shape);
    FUZZ_CHECK(range.range > 0);
    FUZZ_CHECK(range.max - range.min == range.range);

    for (const auto &labels : { valueAxisLabels(range), timeAxisLabels(span) })
        for (const QString &label : labels)
            FUZZ_CHECK(!label.isEmpty() && !label.startsWith(QLatin1Char(' ')));

    const DisplayList list = plotRecord(record, shape, range);
    FUZZ_CHECK(!list.isEmpty());
    for (const DisplayList::Item &item : list.items())
        for (const double v : { item.from.x(), item.from.y(), item.to.x(), item.to.y() })
            FUZZ_CHECK(allFinite ? std::isfinite(v) : !std::isnan(v));

    const QString csv = recordCsv(record, shape, lenientNumber(span),
                                  QStringLiteral("Position, um"), QStringLiteral("DIO \"word\""));
    FUZZ_CHECK(csv.startsWith(QLatin1String("time_ms,")));
    const int half = std::clamp(shape.recordLength, 2, Record::Capacity - 1) / 2;
    FUZZ_CHECK(csv.count(QLatin1Char('\n')) == half + 1);
    return 0;
}
