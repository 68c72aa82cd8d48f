#include "FakeBus.h"
#include "Form1.h"
#include "RecordingMessages.h"
#include "ScriptedSerialPort.h"
#include "ToolCommandLine.h"
#include "VirtualClock.h"

#include <QtTest>

namespace {
enum class WindowAction { Load, EnterInKvp, Save, SetUpDown };

// Each write with its time since the first, so that the routine (pacing, waits) shows too.
QList<QPair<qint64, QByteArray>> timedWrites(const QList<ScriptedSerialPort::Write> &writes)
{
    QList<QPair<qint64, QByteArray>> timed;
    for (const ScriptedSerialPort::Write &w : writes)
        timed.append({ w.at - writes.first().at, w.bytes });
    return timed;
}
} // namespace

Q_DECLARE_METATYPE(WindowAction)

class TestToolLine final : public QObject {
    Q_OBJECT

private slots:
    void sameAsTheWindow_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QList<QByteArray>>("before"); // what the tool sends first
        QTest::addColumn<WindowAction>("action");

        const QList<QByteArray> address { "ST 1", "ST 1" };
        QTest::newRow("read = LOAD") << QStringList { "read" } << address << WindowAction::Load;
        QTest::newRow("set = Enter in a box")
            << QStringList { "set", "KVP=120" } << address << WindowAction::EnterInKvp;
        QTest::newRow("save = SAVE") << QStringList { "save" } << address << WindowAction::Save;
        QTest::newRow("source = Set, after a look at the servo")
            << QStringList { "source", "updown" } << (address + QList<QByteArray> { "RV 8" })
            << WindowAction::SetUpDown;
    }
    void sameAsTheWindow()
    {
        QFETCH(QStringList, args);
        QFETCH(QList<QByteArray>, before);
        QFETCH(WindowAction, action);

        VirtualClock clock;
        ScriptedSerialPort windowPort(clock), toolPort(clock);
        FakeBus windowBus(windowPort), toolBus(toolPort);
        for (FakeBus *bus : { &windowBus, &toolBus })
            bus->set(1, "WT 0 2 120", "KVP=120;\r\n>");

        RecordingMessages messages;
        Form1 form(windowPort, clock, messages);
        form.cmdCommStart->click();
        form.Combo1->setEditText(QStringLiteral("1"));
        form.CmdSelect_Click();
        form.Timer1->stop();
        windowPort.clearRecord();
        switch (action) {
        case WindowAction::Load:
            form.cmdRead_Click();
            break;
        case WindowAction::EnterInKvp:
            form.txtKG[2]->setText(QStringLiteral("120"));
            form.txtKG_KeyPress(2, 13);
            break;
        case WindowAction::Save:
            form.CmdSave_Click();
            break;
        case WindowAction::SetUpDown:
            form.Option2->setChecked(true);
            form.cmdSet_Click();
            break;
        }

        QString output, errors;
        QTextStream out(&output), err(&errors);
        const int exit = runTool(QStringList { "vcm-tool", "--port", "bus" } + args, toolPort,
                                 clock, out, err, QString());
        QVERIFY2(exit == 0, qPrintable(errors));
        const QList<QByteArray> toolLines = toolPort.lines();
        QCOMPARE(toolLines.mid(0, before.size()), before);
        QCOMPARE(toolLines.mid(before.size()), windowPort.lines());
        const QList<ScriptedSerialPort::Write> writes = toolPort.writes();
        QCOMPARE(timedWrites(writes.mid(writes.size() - windowPort.writes().size())),
                 timedWrites(windowPort.writes()));
    }

    // A drive that falls silent halfway: the command stops, naming what was not written.
    void writeStopsWhereTheDriveFallsSilent()
    {
        VirtualClock clock;
        ScriptedSerialPort port(clock);
        FakeBus bus(port);
        bus.set(1, "WT 0 0 300", "KPP=300;\r\n>");
        bus.set(1, "WT 0 2 120", QByteArray());
        QString output, errors;
        QTextStream out(&output), err(&errors);
        QCOMPARE(runTool({ "vcm-tool", "--port", "bus", "set", "KVI=7", "KVP=120", "KPP=300" },
                         port, clock, out, err, QString()),
                 3);
        QCOMPARE(port.lines().mid(2), (QList<QByteArray> { "WT 0 0 300", "WT 0 2 120" }));
        QCOMPARE(output, QStringLiteral("KPP=300 confirmed\n"));
        QVERIFY2(errors.contains(QStringLiteral("no answer to \"WT 0 2 120\"")),
                 qPrintable(errors));
        QVERIFY2(errors.contains(QStringLiteral("not written: KVP KVI\n")), qPrintable(errors));
    }
};

QTEST_MAIN(TestToolLine)
#include "tst_toolline.moc"
