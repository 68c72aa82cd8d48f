#include "Form1.h"
#include "RecordingMessages.h"
#include "ScriptedSerialPort.h"
#include "VirtualClock.h"

#include <QPushButton>
#include <QTimer>
#include <QtTest>

namespace {
// Enabled states of the buttons that LockButtons touches, as a string of 0/1:
// Stop (port), Scan drive, Select, LOAD, SAVE, Set, Setup, Start, Stop (recorder).
QString gatedButtons(const Form1 &f)
{
    QString s;
    for (const QPushButton *b : { f.cmdCommStop, f.CmdScan, f.CmdSelect, f.cmdRead, f.CmdSave,
                                  f.cmdSet, f.cmdSetup, f.cmdStart, f.cmdStop })
        s += b->isEnabledTo(b->parentWidget()) ? QLatin1Char('1') : QLatin1Char('0');
    return s;
}

void setGatedButtons(Form1 &f, const QString &states)
{
    const QList<QPushButton *> buttons { f.cmdCommStop, f.CmdScan,  f.CmdSelect,
                                         f.cmdRead,     f.CmdSave,  f.cmdSet,
                                         f.cmdSetup,    f.cmdStart, f.cmdStop };
    for (int i = 0; i < buttons.size(); ++i)
        buttons[i]->setEnabled(states.at(i) == QLatin1Char('1'));
}
} // namespace

class TestForm1Gating final : public QObject {
    Q_OBJECT

private:
    struct Rig {
        Rig() : port(clock), form(port, clock, messages)
        {
            form.cmdCommStart->click();
            // As after a selection: the frames that hold gated buttons are open.
            form.FrameCmdSource->setEnabled(true);
            form.FrameParaAdj->setEnabled(true);
            form.FrameScope[0]->setEnabled(true);
            messages.texts.clear();
        }
        VirtualClock clock;
        ScriptedSerialPort port;
        RecordingMessages messages;
        Form1 form;
    };

private slots:
    void lockAndUnlock_data()
    {
        QTest::addColumn<QString>("before");
        QTest::addColumn<QString>("between");
        QTest::addColumn<QString>("after");

        // Unlock always enables the first five and restores the last four.
        QTest::newRow("recorder ready") << "111110110"
                                        << "000001111"
                                        << "111110110";
        QTest::newRow("recorder running") << "111111001"
                                          << "111111111"
                                          << "111111001";
        QTest::newRow("all off") << "000000000"
                                 << "111111111"
                                 << "111110000";
        QTest::newRow("all on") << "111111111"
                                << "000000000"
                                << "111111111";
    }
    void lockAndUnlock()
    {
        QFETCH(QString, before);
        QFETCH(QString, between);
        QFETCH(QString, after);

        Rig rig;
        setGatedButtons(rig.form, before);
        rig.form.cmdCommStart->setEnabled(true);
        rig.form.cmdSetMotion->setEnabled(true);
        rig.form.LockButtons();
        QCOMPARE(gatedButtons(rig.form), QStringLiteral("000000000"));
        // What Lock leaves alone.
        QVERIFY(rig.form.cmdCommStart->isEnabled());
        QVERIFY(rig.form.cmdSetMotion->isEnabledTo(rig.form.FrameMotion));

        setGatedButtons(rig.form, between);
        rig.form.UnlockButtons();
        QCOMPARE(gatedButtons(rig.form), after);
    }

    // Each gated button pressed while a poll tick is in progress.
    void deferredWhileTickRuns_data()
    {
        QTest::addColumn<QString>("button");
        QTest::addColumn<int>("code");
        QTest::newRow("Setup") << "cmdSetup" << 1;
        QTest::newRow("Set") << "cmdSet" << 2;
        QTest::newRow("SAVE") << "CmdSave" << 3;
        QTest::newRow("LOAD") << "cmdRead" << 4;
    }
    void deferredWhileTickRuns()
    {
        QFETCH(QString, button);
        QFETCH(int, code);

        Rig rig;
        setGatedButtons(rig.form, QStringLiteral("111111110"));
        rig.form.ResumePolling();
        rig.form.PollIdle = false;
        const QMap<QString, QPushButton *> buttons { { "cmdSetup", rig.form.cmdSetup },
                                                     { "cmdSet", rig.form.cmdSet },
                                                     { "CmdSave", rig.form.CmdSave },
                                                     { "cmdRead", rig.form.cmdRead } };
        buttons.value(button)->click();

        QCOMPARE(int(rig.form.PendingAction), code);
        QVERIFY(!rig.form.Timer1->isActive());
        QVERIFY(rig.form.Timer5->isActive());
        QCOMPARE(rig.form.Timer5->interval(), 100);
        QCOMPARE(gatedButtons(rig.form), QStringLiteral("111111110"));
    }

    void timer5RetriesUntilTheTickHasEnded()
    {
        Rig rig;
        setGatedButtons(rig.form, QStringLiteral("111110000"));
        rig.form.PollIdle = false;
        rig.form.CmdSave->click();
        QCOMPARE(int(rig.form.PendingAction), 3);

        // The tick is still at one of its event-processing points: defer once more.
        rig.form.Timer5_Timer();
        QVERIFY(rig.form.Timer5->isActive());
        QCOMPARE(int(rig.form.PendingAction), 3);

        // The tick has ended: the action runs, and the poller that the deferral stopped
        // starts again.
        rig.form.PollIdle = true;
        rig.form.Timer5_Timer();
        QVERIFY(!rig.form.Timer5->isActive());
        QVERIFY(rig.form.Timer1->isActive());
        QCOMPARE(gatedButtons(rig.form), QStringLiteral("111110000"));
    }

    void stopCancelsWaitingAction()
    {
        Rig rig;
        setGatedButtons(rig.form, QStringLiteral("111110000"));
        rig.form.PollIdle = false;
        rig.form.cmdRead->click();
        rig.form.cmdCommStop->click();
        QVERIFY(!rig.form.Timer5->isActive());

        // Even a tick that was already due must not touch the closed port or the buttons.
        rig.port.clearRecord();
        rig.form.PollIdle = true;
        rig.form.Timer5_Timer();
        QVERIFY(rig.port.writes().isEmpty());
        QCOMPARE(gatedButtons(rig.form), QStringLiteral("000000000"));
    }
};

QTEST_MAIN(TestForm1Gating)
#include "tst_form1gating.moc"
