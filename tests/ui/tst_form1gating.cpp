#include "FormRig.h"

namespace {
// Enabled states of the buttons that LockButtons touches, as a string of 0/1:
// Stop (port), Scan drive, Select, LOAD, SAVE, Set, Setup, Start, Stop (recorder).
QList<QPushButton *> gated(const Form1 &f)
{
    return { f.cmdCommStop, f.CmdScan,  f.CmdSelect, f.cmdRead, f.CmdSave,
             f.cmdSet,      f.cmdSetup, f.cmdStart,  f.cmdStop };
}
QString gatedButtons(const Form1 &f)
{
    QString s;
    for (const QPushButton *b : gated(f))
        s += b->isEnabledTo(b->parentWidget()) ? QLatin1Char('1') : QLatin1Char('0');
    return s;
}
void setGatedButtons(Form1 &f, const QString &states)
{
    const QList<QPushButton *> buttons = gated(f);
    for (int i = 0; i < buttons.size(); ++i)
        buttons[i]->setEnabled(states.at(i) == QLatin1Char('1'));
}
} // namespace

class TestForm1Gating final : public QObject {
    Q_OBJECT

private slots:
    void lockAndUnlock_data()
    {
        QTest::addColumn<QString>("before");
        QTest::addColumn<QString>("between");
        QTest::addColumn<QString>("after");

        // Unlock always enables the first five and restores the last four.
        QTest::newRow("recorder ready")
            << QString("111110110") << QString("000001111") << QString("111110110");
        QTest::newRow("all off") << QString("000000000") << QString("111111111")
                                 << QString("111110000");
    }
    void lockAndUnlock()
    {
        QFETCH(QString, before);
        QFETCH(QString, between);
        QFETCH(QString, after);

        FormRig rig(1);
        setGatedButtons(rig.form, before);
        rig.form.cmdSetMotion->setEnabled(true);
        rig.form.LockButtons();
        QCOMPARE(gatedButtons(rig.form), QStringLiteral("000000000"));
        QVERIFY(rig.form.cmdSetMotion->isEnabledTo(rig.form.FrameMotion)); // left alone

        setGatedButtons(rig.form, between);
        rig.form.UnlockButtons();
        QCOMPARE(gatedButtons(rig.form), after);
    }

    // Each gated button pressed while a poll tick is in progress waits for Timer5, which
    // tries again until the tick has ended; then the action runs and polling resumes. Stop
    // drops it, and a Timer5 tick already due touches neither the closed port nor the buttons.
    void deferredWhileTickRuns_data()
    {
        QTest::addColumn<QString>("button");
        QTest::addColumn<int>("code");
        QTest::addColumn<QByteArray>("firstLine");
        QTest::newRow("Setup") << "cmdSetup" << 1 << QByteArray("WT 9 4 20");
        QTest::newRow("Set") << "cmdSet" << 2 << QByteArray("UD 0");
        QTest::newRow("SAVE") << "CmdSave" << 3 << QByteArray("SV");
        QTest::newRow("LOAD") << "cmdRead" << 4 << QByteArray("RD 0 0");
        QTest::newRow("LOAD, then Stop") << "cmdRead" << 4 << QByteArray();
    }
    void deferredWhileTickRuns()
    {
        QFETCH(QString, button);
        QFETCH(int, code);
        QFETCH(QByteArray, firstLine);

        FormRig rig(1);
        rig.form.Check_VCRR->setChecked(true);
        rig.form.chkBox[0]->click();
        rig.form.chkBox[1]->click();
        setGatedButtons(rig.form, QStringLiteral("111111110"));
        rig.form.PollIdle = false;
        rig.form.findChild<QPushButton *>(button)->click();

        QVERIFY(rig.port.lines().isEmpty());
        QCOMPARE(int(rig.form.PendingAction), code);
        QVERIFY(!rig.form.Timer1->isActive());
        QVERIFY(rig.form.Timer5->isActive());
        QCOMPARE(rig.form.Timer5->interval(), 100);
        QCOMPARE(gatedButtons(rig.form), QStringLiteral("111111110"));

        rig.form.Timer5_Timer(); // the tick is still at one of its event-processing points
        QVERIFY(rig.form.Timer5->isActive());
        QVERIFY(rig.port.lines().isEmpty());

        const bool stopped = firstLine.isEmpty();
        if (stopped) {
            rig.form.cmdCommStop->click();
            QVERIFY(!rig.form.Timer5->isActive());
            rig.port.clearRecord();
        }
        rig.form.PollIdle = true;
        rig.form.Timer5_Timer();
        QCOMPARE(rig.port.lines().value(0), firstLine);
        QCOMPARE(rig.port.writes().isEmpty(), stopped);
        QVERIFY(!rig.form.Timer5->isActive());
        // Polling goes on: lamps and read-outs must not freeze while they look live.
        QCOMPARE(rig.form.Timer1->isActive(), !stopped);
        if (stopped)
            QCOMPARE(gatedButtons(rig.form), QStringLiteral("000000000"));
    }
};

QTEST_MAIN(TestForm1Gating)
#include "tst_form1gating.moc"
