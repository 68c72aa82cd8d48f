// The simulator's protocol where the end-to-end tests do not reach: the reply format's edge
// cases, addressing and the bench switches they do not use.
#include "ControlCommands.h"
#include "SimHarness.h"

#include <QRegularExpression>
#include <QtTest>

namespace {
const QString End = QStringLiteral(";\r\n>"); // the three characters the console cuts, then ">"

bool matches(const QString &reply, const QString &pattern)
{
    return QRegularExpression(QRegularExpression::anchoredPattern(pattern)).match(reply).hasMatch();
}
} // namespace

class TestSimProtocol : public QObject {
    Q_OBJECT

private slots:
    // Replies of station 0, after an optional line on the simulator's standard input (one with
    // "!" must be refused); station 5 shares the bus.
    void replies_data()
    {
        QTest::addColumn<QString>("control");
        QTest::addColumn<QString>("command");
        QTest::addColumn<QString>("reply"); // a pattern for the whole reply
        const auto row = [](const char *name, const char *command, const QString &body,
                            const char *control = "") {
            QTest::newRow(name) << control << command << body + End;
        };
        row("no variable 9", "RV 9", "\\?3");
        row("two-digit item", "RD 1 10", "VCF2=1500");
        row("no such item", "RD 0 8", "\\?3");
        row("missing item", "RD 0", "\\?2");
        row("unknown", "XY 1", "\\?1");
        row("line too long", QByteArray(81, 'W').constData(), "\\?5");
        // Writes echo the value now held, clamped to the range.
        row("negative", "WT 0 7 -2500", "KGC=-2000");
        row("read-only", "WT 1 4 1", "VER=112");
        row("no parameter", "WT 5 0 1", "\\?3");
        // The bench switches the end-to-end tests do not use, and refused control lines.
        row("DI1", "RV 8", "1810", "di1 0 on");
        row("alarm", "RV 8", "0802", "alarm 0 perr");
        row("another station silent", "RD 0 0", "KPP=250", "fault 5 silent");
        row("no such control", "RV 8", "0810", "!frobnicate");
    }

    void replies()
    {
        QFETCH(QString, control);
        QFETCH(QString, command);
        QFETCH(QString, reply);
        SimHarness sim({ 0, 5 });
        QCOMPARE(sim.exchange("ST 0"), "OK" + End);
        if (!control.isEmpty()) {
            const bool refuse = control.startsWith('!');
            const auto result = ControlCommands(sim.bus).apply(control.mid(refuse).toStdString());
            QCOMPARE(result.ok, !refuse);
            QVERIFY(!refuse || !result.message.empty());
        }
        const QString actual = sim.exchange(command.toStdString(), 200000);
        QVERIFY2(matches(actual, reply), qPrintable(actual));
    }

    void addressing()
    {
        SimHarness sim({ 1, 5 });
        QCOMPARE(sim.exchange("RV 8"), QString()); // nothing addressed at start
        QCOMPARE(sim.exchange("ST 5"), "OK" + End);
        QCOMPARE(sim.exchange("WT 0 0 400"), "KPP=400" + End);
        QCOMPARE(sim.exchange("ST 16"), "?2" + End); // keeps the address
        QCOMPARE(sim.exchange("RD 0 0"), "KPP=400" + End);
        // An absent station: the whole bus stays silent and nobody acts on commands.
        QCOMPARE(sim.exchange("ST 2"), QString());
        QCOMPARE(sim.exchange("WT 0 0 300"), QString());
        QCOMPARE(sim.bus.station(1)->parameters().value(0, 0), 250);
        QCOMPARE(sim.bus.station(5)->parameters().value(0, 0), 400);
    }
};

QTEST_GUILESS_MAIN(TestSimProtocol)
#include "tst_simprotocol.moc"
