// The family benchmark's measurements: several tries of one set combine into one verdict, and
// the cache gives back what was measured under the same key only.
#include "PlantMemo.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QtTest>

Q_DECLARE_METATYPE(Shortfall)

namespace {
Measured tried(Shortfall s, double settlingMs, double overshoot = 0, bool alarm = false)
{
    Measured m;
    m.shortfall = s;
    m.settlingMs = settlingMs;
    m.riseMs = settlingMs / 2;
    m.overshootPercent = overshoot;
    m.alarm = alarm;
    return m;
}

const Gains Defaults { 250, 50, 100, 100 };
constexpr std::uint32_t Seed = 3;
} // namespace

class TestPlantMemo final : public QObject {
    Q_OBJECT

private slots:
    void combined_data()
    {
        QTest::addColumn<QList<int>>("shortfalls"); // one a try
        QTest::addColumn<QList<double>>("settling");
        QTest::addColumn<Shortfall>("shortfall");
        QTest::addColumn<double>("median");
        const auto row = [](const char *name, QList<Shortfall> s, QList<double> ms, Shortfall all,
                            double median) {
            QList<int> codes;
            for (Shortfall one : s)
                codes << int(one);
            QTest::newRow(name) << codes << ms << all << median;
        };
        using S = Shortfall;
        row("three clean: the middle one", { S::None, S::None, S::None }, { 9, 3, 4 }, S::None, 4);
        row("one lucky try does not make it", { S::None, S::None, S::None }, { 2, 60, 70 }, S::None,
            60);
        row("one overshoot", { S::None, S::Overshoot, S::None }, { 3, 3, 3 }, S::Overshoot, 3);
        row("ringing outweighs overshoot", { S::Overshoot, S::Ringing, S::None }, { 3, 3, 3 },
            S::Ringing, 3);
        row("the first that is worse than overshoot stands", { S::NotSettled, S::Ringing, S::None },
            { 3, 3, 3 }, S::NotSettled, 3);
        row("an alarm in any", { S::None, S::Alarm, S::Overshoot }, { 3, 3, 3 }, S::Alarm, 3);
    }
    void combined()
    {
        QFETCH(QList<int>, shortfalls);
        QFETCH(QList<double>, settling);
        QFETCH(Shortfall, shortfall);
        QFETCH(double, median);
        std::vector<Measured> each;
        for (int i = 0; i < shortfalls.size(); ++i)
            each.push_back(tried(Shortfall(shortfalls[i]), settling[i], 2.0 * i,
                                 Shortfall(shortfalls[i]) == Shortfall::Alarm));
        const Measured m = ::combined(each);
        QCOMPARE(m.shortfall, shortfall);
        QCOMPARE(m.alarm, shortfall == Shortfall::Alarm);
        QCOMPARE(m.settlingMs, median);
        QCOMPARE(m.riseMs, median / 2);
        QCOMPARE(m.overshootPercent, 2.0 * (shortfalls.size() - 1)); // the largest
    }

    // Measured once, kept under its key; another key measures again.
    void cache()
    {
        QTemporaryDir dir;
        Measured first;
        {
            PlantMemo memo(Seed, dir.path(), QStringLiteral("k1"));
            first = memo.measure(Defaults);
            QCOMPARE(memo.measuredNow(), 1);
            memo.measure(Defaults); // no second measurement
            QCOMPARE(memo.measuredNow(), 1);
            QVERIFY(memo.save());
        }
        {
            PlantMemo memo(Seed, dir.path(), QStringLiteral("k1"));
            QCOMPARE(memo.cached(), 1);
            const Measured again = memo.measure(Defaults);
            QCOMPARE(memo.measuredNow(), 0);
            QCOMPARE(again.settlingMs, first.settlingMs);
            QCOMPARE(again.shortfall, first.shortfall);
        }
        {
            PlantMemo memo(Seed, dir.path(), QStringLiteral("k2"));
            QCOMPARE(memo.cached(), 0);
            memo.measure(Defaults);
            QCOMPARE(memo.measuredNow(), 1);
        }
        // Another plant has its own file.
        PlantMemo other(Seed + 1, dir.path(), QStringLiteral("k2"));
        QCOMPARE(other.cached(), 0);
    }

    // Rows written before there were repeats (nine columns) are the first try.
    void earlierRows()
    {
        QTemporaryDir dir;
        QVERIFY(PlantMemo(Seed, dir.path(), QStringLiteral("k")).save());
        QFile file(dir.filePath(QStringLiteral("plant-%1.json").arg(Seed)));
        QVERIFY(file.open(QIODevice::ReadOnly));
        QJsonObject root = QJsonDocument::fromJson(file.readAll()).object();
        file.close();
        const QJsonArray row { Defaults[0], Defaults[1], Defaults[2], Defaults[3], 0, 1234.5, 1.5,
                               2.5, false };
        // Not QJsonArray { row }: one element of the same type may be taken for a copy.
        QJsonArray sets;
        sets.append(row);
        root.insert(QStringLiteral("sets"), sets);
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(QJsonDocument(root).toJson());
        file.close();

        PlantMemo memo(Seed, dir.path(), QStringLiteral("k"));
        QCOMPARE(memo.measure(Defaults).settlingMs, 1234.5);
        QCOMPARE(memo.measuredNow(), 0);
        memo.measure(Defaults, 1);
        QCOMPARE(memo.measuredNow(), 1);
    }

    // Each repeat is a measurement of its own, at another moment of the plant's noise, and the
    // same repeat gives the same figures every time.
    void repeats()
    {
        // Plant 7's friction makes these gains settle at once in one try and creep in another.
        const Gains sticky { 410, 50, 57, 18 };
        PlantMemo memo(7, QString(), QStringLiteral("k"));
        const Measured m = memo.robust(sticky);
        QCOMPARE(memo.measuredNow(), Repeats);
        std::vector<Measured> each;
        std::set<double> settling;
        for (int r = 0; r < Repeats; ++r) {
            each.push_back(memo.measure(sticky, r));
            settling.insert(each.back().settlingMs);
        }
        QCOMPARE(memo.measuredNow(), Repeats);
        QCOMPARE(m.settlingMs, ::combined(each).settlingMs);
        QVERIFY(settling.size() > 1);
        QTemporaryDir dir;
        const Measured again = measureSet(7, sticky, memo.step(), dir.filePath(QStringLiteral("b.vcmpar")), 1);
        QCOMPARE(again.settlingMs, each[1].settlingMs);
    }

    // The key follows the measuring: the same build gives the same key.
    void key()
    {
        const QString key = measuringKey();
        QCOMPARE(key.size(), 16);
        QCOMPARE(measuringKey(), key);
    }
};

QTEST_GUILESS_MAIN(TestPlantMemo)
#include "tst_plantmemo.moc"
