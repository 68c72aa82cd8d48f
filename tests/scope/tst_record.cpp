#include "Record.h"
#include "RecordCsv.h"

#include <QTemporaryDir>
#include <QtTest>

class TestRecord final : public QObject {
    Q_OBJECT

private slots:
    // A save says it failed exactly when the file does not hold the bytes afterwards, and never
    // leaves a half-written file in place of the old one.
    void saveWhole_data()
    {
        QTest::addColumn<QString>("name"); // in a fresh folder, unless absolute
        QTest::addColumn<bool>("before"); // a file of that name is there already
        QTest::addColumn<bool>("saved");

        QTest::newRow("new file") << "a.csv" << false << true;
        QTest::newRow("replaces an old one") << "a.csv" << true << true;
        QTest::newRow("folder missing") << "none/a.csv" << false << false;
        QTest::newRow("a device, written in place") << "/dev/null" << false << true;
        QTest::newRow("a full device") << "/dev/full" << false << false;
    }
    void saveWhole()
    {
        QFETCH(QString, name);
        QFETCH(bool, before);
        QFETCH(bool, saved);
        QTemporaryDir dir;
        const QString path = name.startsWith(QLatin1Char('/')) ? name : dir.filePath(name);
        const QByteArray oldBytes("old contents that are longer than the new\n");
        QFile reader(path); // one who has the old file open sees it whole, never half a new one
        if (before) {
            QFile old(path);
            QVERIFY(old.open(QIODevice::WriteOnly));
            old.write(oldBytes);
            old.close();
            QVERIFY(reader.open(QIODevice::ReadOnly));
        }
        const QByteArray bytes("time_ms,PCMD,PFBK\n0,1,2\n");
        const std::optional<QString> failed = saveFileWhole(path, bytes);
        QCOMPARE(!failed, saved);
        if (before)
            QCOMPARE(reader.readAll(), oldBytes);
        if (failed)
            QVERIFY(!failed->isEmpty());
        if (path != name) {
            QFile back(path);
            QCOMPARE(back.open(QIODevice::ReadOnly), saved || before);
            if (saved)
                QCOMPARE(back.readAll(), bytes);
        }
    }

    void lenient_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<double>("value");

        QTest::newRow("negative") << "-56" << -56.0;
        QTest::newRow("blanks inside") << " 1 2\t3\n" << 123.0;
        QTest::newRow("exponent") << "1e3" << 1000.0;
        QTest::newRow("stops at junk") << "12ab" << 12.0;
        QTest::newRow("second point stops") << "1.2.3" << 1.2;
        QTest::newRow("bare exponent mark") << "5e" << 5.0;
        QTest::newRow("not a number") << "abc" << 0.0;
        QTest::newRow("sign only") << "-" << 0.0;
        QTest::newRow("carriage return stops") << "7\r8" << 7.0;
        QTest::newRow("overflow") << "9e999" << 0.0;
    }
    void lenient()
    {
        QFETCH(QString, text);
        QFETCH(double, value);
        QCOMPARE(lenientNumber(text), value);
    }

    void parseEdges_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("ok");
        QTest::addColumn<int>("count");
        QTest::addColumn<QString>("rest");

        QTest::newRow("eight, as the line ends them")
            << "4,8,-12,16,20,24,28,32,;\r\n>" << true << 8 << "";
        QTest::newRow("last value without comma ignored") << "1,2,3" << true << 2 << "";
        QTest::newRow("ten characters fit") << "1234567890,5," << true << 2 << "";
        QTest::newRow("eleven do not") << "1,12345678901,5," << false << 1 << "12345678901,5,";
        QTest::newRow("at most length + 1 values") << "1,1,1,1,1,1,1,1,1,1,1,1," << true << 9 << "";
        QTest::newRow("nothing") << "" << true << 0 << "";
    }
    void parseEdges()
    {
        QFETCH(QString, text);
        QFETCH(bool, ok);
        QFETCH(int, count);
        QFETCH(QString, rest);

        const RecordParse p = parseRecord(text, RecordShape { 8 }); // the default step
        QCOMPARE(p.ok, ok);
        QCOMPARE(ok ? p.record.count : -1, ok ? count : -1);
        QCOMPARE(p.rest, rest);
        // Plotted a quarter of the raw value high, one unit a sample.
        for (int i = 0; i < p.record.count; ++i)
            QVERIFY(p.record.plot[i] * 4 == p.record.raw[i] && p.record.position[i] == float(i));
    }

    // The vertical range shows in the axis labels: the raw value of each grid level.
    void range_data()
    {
        QTest::addColumn<QList<double>>("values"); // plot values, the rest of the record is 0
        QTest::addColumn<bool>("fill"); // repeat the last value over the whole record
        QTest::addColumn<QStringList>("labels");
        const auto row
            = [](const char *name, const QList<double> &values, bool fill,
                 const QStringList &labels) { QTest::newRow(name) << values << fill << labels; };
        // The top of an all-negative record stays in view.
        row("-100 to -50", { -100, -50 }, true, { "-480", "-400", "-320", "-240", "-160" });
        row("lower bound", { -6827, 0 }, false, { "-32764", "-24573", "-16382", "-8191", "0" });
        row("ties to even", { 2.5, 0 }, false, { "0", "2", "4", "6", "8" });
        // No 16-bit wrap for large words; the extreme may be the second value.
        row("large word", { 0, 40000, 0 }, false, { "0", "48000", "96000", "144000", "192000" });
        // All zero: a small range with the trace in the middle, not a division by zero.
        row("all zero", { 0 }, true, { "-4", "-2", "0", "2", "4" });
    }
    void range()
    {
        QFETCH(QList<double>, values);
        QFETCH(bool, fill);
        QFETCH(QStringList, labels);

        Record r;
        for (int i = 0; i < 512; ++i)
            r.plot[i]
                = static_cast<float>(i < values.size() ? values[i] : (fill ? values.last() : 0));
        // The labels give min and range; max must agree with them.
        const PlotRange p = plotRange(r, RecordShape { 512, false, 1 });
        QCOMPARE(p.max - p.min, p.range);
        const auto l = valueAxisLabels(p);
        QCOMPARE(QStringList(l.begin(), l.end()), labels);
    }

    void timeLabels()
    {
        const auto l = timeAxisLabels(QStringLiteral("7"));
        QCOMPARE(QStringList(l.begin(), l.end()),
                 (QStringList { "1.4", "2.8", "4.2", "5.6", "7" }));
    }

    // Two channels side by side: the second half of the record starts at the left edge again.
    void plotOfTwoChannels()
    {
        const RecordShape shape { 256, false, 2 }; // "VCRR new"
        Record r;
        for (int i = 0; i < 256; ++i) {
            r.plot[i] = 100;
            r.position[i] = static_cast<float>(i * 2);
        }
        const DisplayList g = plotRecord(r, shape, plotRange(r, shape));
        const auto &items = g.items();
        QCOMPARE(g.currentScale()->top, 40.0);
        QCOMPARE(g.currentScale()->right, 255.0);
        // Three horizontal and four vertical grid lines (a point and a line each), then the
        // two traces.
        QCOMPARE(items.size(), 7 * 2 + 256);
        QCOMPARE(items[1].to, QPointF(255, 10)); // trunc(80 + 40/4) - 80
        QCOMPARE(items[7].to, QPointF(51, 40));
        QCOMPARE(items[1].color, PlotColor::Grid);
        QCOMPARE(items[14].from, QPointF(0, 20));
        QCOMPARE(items[14].color, PlotColor::Channel1);
        QCOMPARE(items[14 + 128].from, QPointF(0, 20));
        QCOMPARE(items[14 + 128].color, PlotColor::Channel2);
        QCOMPARE(items.last().to.x(), 254.0);
    }

    // Words as the line delivers them; one far outside 64 bits must still give a track.
    void dioWordsFromTheLine_data()
    {
        QTest::addColumn<QString>("reply");
        QTest::addColumn<QString>("bits"); // INPOS, DQ0, BOND, DI1 of the first word
        const auto row = [](const char *name, const char *reply, const char *bits) {
            QTest::newRow(name) << QString(reply) << QString(bits);
        };
        row("INPOS and DI1", "0,0,4128,0,", "1001");
        row("DQ0 and BOND", "0,0,576,0,", "0110");
        row("every other bit", "0,0,28063,0,", "0000");
        row("far below", "0,0,-9e30,0,", "0000");
        row("far above", "0,0,1e30,0,", "0000");
    }
    void dioWordsFromTheLine()
    {
        QFETCH(QString, reply);
        QFETCH(QString, bits);
        const RecordShape shape { 4, true, 1 };
        const RecordParse parse = parseRecord(reply, shape);
        QVERIFY(parse.ok);
        PlotRange range;
        range.max = range.range = 90; // band 10
        const DisplayList g = plotRecord(parse.record, shape, range);
        const auto &items = g.items();
        QCOMPARE(items.size(), 14 + 2 + 4 * 2);
        const double bases[] = { 10, 30, 50, 70 };
        const quint32 colors[]
            = { PlotColor::Inpos, PlotColor::Dq0, PlotColor::Bond, PlotColor::Di1 };
        // A track per bit in its band: up by the band while set, then back to the base.
        for (int t = 0; t < 4; ++t) {
            QCOMPARE(items[16 + 2 * t].color, colors[t]);
            QCOMPARE(items[16 + 2 * t].from.y(), bases[t] + (bits[t] == QLatin1Char('1') ? 10 : 0));
            QCOMPARE(items[16 + 2 * t + 1].to.y(), bases[t]);
        }
    }
};

QTEST_GUILESS_MAIN(TestRecord)
#include "tst_record.moc"
