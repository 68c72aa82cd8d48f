#include "ScopeView.h"

#include <QtTest>

#include <cmath>

namespace {
// Four samples a channel, 1 ms apart.
ScopeRecord record(bool dio, int count)
{
    Record r;
    const float raw[] = { 10, 20, 30, 40, 1, 2, dio ? 32.0f + 4096 : 3, 4 };
    std::copy(std::begin(raw), std::end(raw), r.raw.begin());
    r.count = count;
    return ScopeRecord(r, { 8, dio, 1 }, 4, QStringLiteral("PCMD"),
                       dio ? QStringLiteral("DIO") : QStringLiteral("PFBK"));
}
} // namespace

class TestScopeView final : public QObject {
    Q_OBJECT

private slots:
    void readout_data()
    {
        QTest::addColumn<bool>("dio");
        QTest::addColumn<int>("count");
        QTest::addColumn<double>("ms");
        QTest::addColumn<QString>("text");
        QTest::newRow("nearest sample") << false << 8 << 1.4 << "1.4 ms:  PCMD 20  PFBK 2";
        QTest::newRow("next sample") << false << 8 << 1.6 << "1.6 ms:  PCMD 30  PFBK 3";
        QTest::newRow("not uploaded") << false << 7 << 3.0 << "3.0 ms:  PCMD 40  PFBK –";
        QTest::newRow("after the record") << false << 8 << 4.4 << "4.4 ms:  PCMD –  PFBK –";
        QTest::newRow("first DIO sample")
            << true << 8 << 0.2 << "0.2 ms:  PCMD 10  INPOS 0  DQ0 0  BOND 0  DI1 0";
        QTest::newRow("DIO bits") << true << 8 << 2.0
                                  << "2.0 ms:  PCMD 30  INPOS 1  DQ0 0  BOND 0  DI1 1";
    }
    void readout()
    {
        QFETCH(bool, dio);
        QFETCH(int, count);
        QFETCH(double, ms);
        QFETCH(QString, text);
        QCOMPARE(readoutAt(record(dio, count), ms), text);
    }

    void cursorsAandB()
    {
        QCOMPARE(cursorDelta(record(false, 8), 3.2, 0.9),
                 QStringLiteral("Δt -2.3 ms  ΔPCMD -20  ΔPFBK -2"));
    }

    // The values the traces take, with a tenth (at least two counts) to spare each way: every
    // value the upload held, and none of the zeros standing in for the rest.
    void traces_data()
    {
        QTest::addColumn<float>("last"); // channel 2's last sample
        QTest::addColumn<int>("count");
        QTest::addColumn<double>("lo");
        QTest::addColumn<double>("hi");
        QTest::newRow("the last sample is the highest") << 100.0f << 8 << -8.9 << 109.9;
        QTest::newRow("the last sample was not uploaded") << 0.0f << 7 << -2.9 << 43.9;
        QTest::newRow("a narrow trace: two counts to spare") << 3.0f << 2 << 8.0 << 22.0;
    }
    void traces()
    {
        QFETCH(float, last);
        QFETCH(int, count);
        QFETCH(double, lo);
        QFETCH(double, hi);
        ScopeRecord r = record(false, count);
        r.record.raw[7] = last;
        const auto span = tracesSpan(r, nullptr);
        QVERIFY(span);
        QVERIFY2(qAbs(span->first - lo) < 1e-9 && qAbs(span->second - hi) < 1e-9,
                 qPrintable(QStringLiteral("%1 %2").arg(span->first).arg(span->second)));
        QVERIFY(!tracesSpan(record(true, 8), nullptr));
    }

    // The axis ticks: a step of 1, 2 or 5 times a power of ten, every multiple of it within
    // the span, with as many decimals as the step needs.
    void ticks_data()
    {
        QTest::addColumn<double>("lo");
        QTest::addColumn<double>("hi");
        QTest::addColumn<int>("most");
        QTest::addColumn<QList<double>>("values");
        QTest::addColumn<int>("decimals");
        QTest::newRow("steps of 50") << -120.0 << 130.0 << 5 << QList<double> { -100, -50, 0, 50, 100 }
                                     << 0;
        QTest::newRow("steps of 0.2") << 0.05 << 0.95 << 5
                                      << QList<double> { 0.2, 0.4, 0.6, 0.8 } << 1;
        QTest::newRow("both ends on a tick") << 0.0 << 10.0 << 2 << QList<double> { 0, 5, 10 }
                                             << 0;
        QTest::newRow("an empty span") << 3.0 << 3.0 << 5 << QList<double> {} << 0;
    }
    void ticks()
    {
        QFETCH(double, lo);
        QFETCH(double, hi);
        QFETCH(int, most);
        QFETCH(QList<double>, values);
        QFETCH(int, decimals);
        const Ticks t = niceTicks(lo, hi, most);
        QCOMPARE(t.values.size(), std::size_t(values.size()));
        for (int i = 0; i < values.size(); ++i)
            QVERIFY(qAbs(t.values[std::size_t(i)] - values[i]) < 1e-9);
        QCOMPARE(t.decimals, decimals);
    }

    // A step the other way, turned over: each value v becomes around - v, plotted at a quarter.
    void mirrored()
    {
        const ScopeRecord m = mirroredRecord(record(false, 8), 50);
        const float raw[] = { 40, 30, 20, 10, 49, 48, 47, 46 };
        for (int i = 0; i < 8; ++i) {
            QCOMPARE(m.record.raw[std::size_t(i)], raw[i]);
            QCOMPARE(m.record.plot[std::size_t(i)], raw[i] / 4);
        }
        // A record as long as a record can be: turned over to its last value, and no further.
        const ScopeRecord full = mirroredRecord(record(false, Record::Capacity), 50);
        QCOMPARE(full.record.count, Record::Capacity);
        QCOMPARE(full.record.raw[Record::Capacity - 1], 50.0f);
    }

    // The frame runs one pixel outside the plot all round; a plot too narrow for even two time
    // labels of that width still gets its labels (here four, at 0.2 ms apart).
    void frame()
    {
        ScopeRecord r = record(false, 8);
        const QRect plotRect(80, 22, 220, 140);
        const ScopePicture p = scopePicture(r, nullptr, 0, { 0.1, 0.9, 0, 40 }, nullptr, {},
                                            plotRect, QSizeF(100, 16));
        const QList<DisplayList::Item> &items = p.frame.items();
        QVERIFY(items.size() >= 5);
        const QPointF corners[] = { { 79, 21 }, { 300, 21 }, { 300, 162 }, { 79, 162 }, { 79, 21 } };
        QCOMPARE(items[0].from, corners[0]);
        for (int i = 1; i < 5; ++i)
            QCOMPARE(items[i].to, corners[i]);
        int timeLabels = 0;
        for (const DisplayList::Item &item : items)
            timeLabels += item.align == (Qt::AlignHCenter | Qt::AlignTop);
        QCOMPARE(timeLabels, 4);
    }

    // The whole view: 255 of the 256 units of each record's span, and every value the records
    // hold, the reference's where it lies beyond.
    void wholeView_data()
    {
        QTest::addColumn<bool>("reference");
        QTest::addColumn<double>("shiftMs");
        QTest::addColumn<double>("t0");
        QTest::addColumn<double>("t1");
        QTest::addColumn<double>("v0"); // the plot range, and no wider
        QTest::addColumn<double>("v1");
        QTest::newRow("the record alone") << false << 0.0 << 0.0 << 3.984375 << 0.0 << 48.0;
        QTest::newRow("a reference two ms later")
            << true << 2.0 << 0.0 << 5.984375 << -72.0 << 104.0;
        QTest::newRow("a reference a ms earlier")
            << true << -1.0 << -1.0 << 3.984375 << -72.0 << 104.0;
    }
    void wholeView()
    {
        QFETCH(bool, reference);
        QFETCH(double, shiftMs);
        QFETCH(double, t0);
        QFETCH(double, t1);
        QFETCH(double, v0);
        QFETCH(double, v1);
        const RecordShape shape { 8, false, 1 };
        const auto parsed = [&](const char *values) {
            return ScopeRecord(parseRecord(QString::fromLatin1(values), shape).record, shape, 4,
                               QStringLiteral("PCMD"), QStringLiteral("PFBK"));
        };
        const ScopeRecord now = parsed("10,20,30,40,1,2,3,4,");
        const ScopeRecord before = parsed("10,20,30,-60,1,2,3,90,");
        const DataRect r = fullView(now, reference ? &before : nullptr, shiftMs);
        QCOMPARE(r.t0, t0);
        QCOMPARE(r.t1, t1);
        QCOMPARE(r.v0, v0);
        QCOMPARE(r.v1, v1);
        for (const ScopeRecord *held : { &now, reference ? &before : &now }) {
            for (int i = 0; i < 8; ++i)
                QVERIFY2(r.v0 <= held->record.raw[i] && held->record.raw[i] <= r.v1,
                         qPrintable(QStringLiteral("%1 in %2..%3")
                                        .arg(held->record.raw[i])
                                        .arg(r.v0)
                                        .arg(r.v1)));
        }
    }

    // The zoom is kept in ms and raw values, clamped to what a record holds, and lets go of an
    // axis once it shows all of it.
    void zoom()
    {
        const DataRect full { 0, 100, -50, 50 };
        ScopeZoom z;
        z.zoomTo({ 60, 20, 40, 10 }, false, full);
        QCOMPARE(z.time, std::make_pair(20.0, 60.0));
        QVERIFY(!z.value);
        const DataRect shorter { 0, 30, -50, 50 };
        QCOMPARE(z.visible(shorter).t1, 30.0);
        QCOMPARE(z.visible({ 0, 10, -50, 50 }).t0, 0.0); // no overlap: all of it
        z.zoomAround(40, 0, 0.5, true, full);
        QCOMPARE(z.time, std::make_pair(30.0, 50.0));
        QCOMPARE(z.value, std::make_pair(-25.0, 25.0));
        z.zoomAround(40, 0, 10, true, full);
        QVERIFY(!z.isZoomed());
        // Far from zero too, the zoom goes down to a millionth of the whole and stops there.
        const DataRect high { 0, 100, 10000, 10010 };
        ScopeZoom deep;
        for (int i = 0; i < 25; ++i)
            deep.zoomAround(50, 10005, 0.5, true, high);
        QVERIFY(deep.value);
        QCOMPARE(deep.value->second - deep.value->first, 10 / std::pow(2.0, 19));
    }
};

QTEST_GUILESS_MAIN(TestScopeView)
#include "tst_scopeview.moc"
