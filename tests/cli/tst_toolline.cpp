#include "FormRig.h"
#include "ToolCommandLine.h"

#include <functional>

using WindowAction = std::function<void(Form1 &)>;
Q_DECLARE_METATYPE(WindowAction)

namespace {
// Each write with its time since the first, so that the routine (pacing, waits) shows too.
QList<QPair<qint64, QByteArray>> timedWrites(const QList<ScriptedSerialPort::Write> &writes)
{
    QList<QPair<qint64, QByteArray>> timed;
    for (const ScriptedSerialPort::Write &w : writes)
        timed.append({ w.at - writes.first().at, w.bytes });
    return timed;
}

// vcm-tool on a scripted line in virtual time.
struct Tool {
    Tool() : port(clock), bus(port) { }
    int run(const QStringList &args)
    {
        QTextStream out(&output), err(&errors);
        return runTool(QStringList { "vcm-tool", "--port", "bus" } + args, port, clock, out, err,
                       QString());
    }
    VirtualClock clock;
    ScriptedSerialPort port;
    FakeBus bus;
    QString output, errors;
};
} // namespace

class TestToolLine final : public QObject {
    Q_OBJECT

private slots:
    void sameAsTheWindow_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QList<QByteArray>>("before"); // what the tool sends first
        QTest::addColumn<WindowAction>("action");

        const QList<QByteArray> address { "ST 1", "ST 1" };
        QTest::newRow("read = LOAD")
            << QStringList { "read" } << address << WindowAction(&Form1::cmdRead_Click);
        QTest::newRow("set = Enter in a box")
            << QStringList { "set", "KVP=120" } << address << WindowAction([](Form1 &form) {
                   form.txtKG[2]->setText(QStringLiteral("120"));
                   form.txtKG_KeyPress(2, 13);
               });
        QTest::newRow("save = SAVE")
            << QStringList { "save" } << address << WindowAction(&Form1::CmdSave_Click);
        QTest::newRow("source = Set, after a look at the servo")
            << QStringList { "source", "updown" } << (address + QList<QByteArray> { "RV 8" })
            << WindowAction([](Form1 &form) {
                   form.Option2->setChecked(true);
                   form.cmdSet_Click();
               });
    }
    void sameAsTheWindow()
    {
        QFETCH(QStringList, args);
        QFETCH(QList<QByteArray>, before);
        QFETCH(WindowAction, action);

        FormRig window(1);
        Tool tool;
        for (FakeBus *bus : { &window.bus, &tool.bus })
            bus->set(1, "WT 0 2 120", "KVP=120;\r\n>");
        window.form.Timer1->stop();
        action(window.form);
        const ScriptedSerialPort &windowPort = window.port;

        QVERIFY2(tool.run(args) == 0, qPrintable(tool.errors));
        const QList<QByteArray> toolLines = tool.port.lines();
        QCOMPARE(toolLines.mid(0, before.size()), before);
        QCOMPARE(toolLines.mid(before.size()), windowPort.lines());
        const QList<ScriptedSerialPort::Write> writes = tool.port.writes();
        QCOMPARE(timedWrites(writes.mid(writes.size() - windowPort.writes().size())),
                 timedWrites(windowPort.writes()));
    }

    void statusNamesEachBit()
    {
        Tool tool;
        tool.bus.set(1, "RV 8", "1020 ok>"); // INPOS and DI1
        QCOMPARE(tool.run({ "status" }), 0);
        QVERIFY(tool.output.contains(
            "\nDRDY=0\nINPOS=1\nDO0=0\nSVON=0\nBOND=0\nBTYPE=0\nEMS=0\nDI1=1\n"));
    }

    // A drive that falls silent halfway: the command stops, naming what was not written.
    void writeStopsWhereTheDriveFallsSilent()
    {
        Tool tool;
        tool.bus.set(1, "WT 0 0 300", "KPP=300;\r\n>");
        tool.bus.set(1, "WT 0 2 120", QByteArray());
        QCOMPARE(tool.run({ "set", "KVI=7", "KVP=120", "KPP=300" }), 3);
        QCOMPARE(tool.port.lines().mid(2), (QList<QByteArray> { "WT 0 0 300", "WT 0 2 120" }));
        QCOMPARE(tool.output, QStringLiteral("KPP=300 confirmed\n"));
        QVERIFY(tool.errors.contains(QStringLiteral("no answer to \"WT 0 2 120\"")));
        QVERIFY(tool.errors.contains(QStringLiteral("not written: KVP KVI\n")));
    }
};

QTEST_MAIN(TestToolLine)
#include "tst_toolline.moc"
