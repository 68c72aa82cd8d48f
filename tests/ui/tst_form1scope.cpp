#include "FormRig.h"
#include "GraphSurface.h"
#include "Lamp.h"

namespace {
// A record of n values, each "v," after three leading characters.
QByteArray upload(int n, int value = 400, int dioWord = -1)
{
    QByteArray s = "RO:";
    for (int i = 0; i < n; ++i)
        s += QByteArray::number(dioWord >= 0 && i >= n / 2 ? dioWord : value) + ',';
    return s + ";\r\n>";
}

QString enabledBoxes(const Form1 &f)
{
    QString s;
    for (int i : f.chkBox.indices())
        s += f.chkBox[i]->isEnabledTo(f.FrameScope[0]) ? QLatin1Char('1') : QLatin1Char('0');
    return s;
}
} // namespace

class TestForm1Scope final : public QObject {
    Q_OBJECT

private:
    // Selected drive, channels ticked and set up, oscilloscope started.
    void ready(FormRig &rig, std::initializer_list<int> boxes, bool vcrr = false)
    {
        rig.select(1);
        rig.form.Check_VCRR->setChecked(vcrr);
        for (int b : boxes)
            rig.form.chkBox[b]->click();
        rig.form.cmdSetup->click();
        rig.form.cmdStart->click();
        rig.messages.texts.clear();
        rig.port.clearRecord();
    }

    // What a test motion needs: up/down mode, the servo on, DI1 off.
    void motionReady(FormRig &rig)
    {
        rig.form.UpDownMode = true;
        rig.form.ServoOn = true;
        rig.bus.set(1, "RV 8", "0900 ok>");
    }

private slots:
    void boxesAllowTwoChannels()
    {
        FormRig rig(1);
        Form1 &f = rig.form;
        f.chkBox[3]->click();
        QCOMPARE(enabledBoxes(f), QStringLiteral("11111111"));
        QVERIFY(!f.cmdSetup->isEnabled());
        f.chkBox[0]->click();
        QCOMPARE(enabledBoxes(f), QStringLiteral("10010000"));
        QVERIFY(f.cmdSetup->isEnabled());
        f.chkBox[5]->click(); // disabled: no third channel
        QVERIFY(!f.chkBox[5]->isChecked());
        f.cmdSetup->click();
        f.cmdStart->click();
        QVERIFY(f.ScopeRunning);
        f.chkBox[3]->click(); // back to one channel
        QCOMPARE(enabledBoxes(f), QStringLiteral("11111111"));
        QVERIFY(!f.ScopeRunning && !f.cmdSetup->isEnabled());
        QVERIFY(!f.cmdStart->isEnabled() && !f.cmdStop->isEnabled());
    }

    // Set-up: interval then channels; what is sent, what the operator is told, what it leaves.
    void setup_data()
    {
        QTest::addColumn<QList<int>>("boxes");
        QTest::addColumn<QString>("span");
        QTest::addColumn<bool>("vcrr");
        QTest::addColumn<QByteArray>("silent");
        QTest::addColumn<QList<QByteArray>>("sent");
        QTest::addColumn<QString>("message");
        QTest::addColumn<int>("length"); // 0: the set-up failed
        QTest::addColumn<int>("wait");
        QTest::addColumn<QString>("legend");

        const auto row = [](const char *name, const QList<int> &boxes, const char *span, bool vcrr,
                            const char *silent, const QList<QByteArray> &sent, const char *message,
                            int length, int wait, const QString &legend) {
            QTest::newRow(name) << boxes << QString(span) << vcrr << QByteArray(silent) << sent
                                << QString(message) << length << wait << legend;
        };
        const QString two = QStringLiteral("Red--1st variable\nYellow--2nd variable");
        row("500 new", { 3, 0 }, "500", true, "", { "WT 9 4 20", "RC 1 4" }, "Setup OK", 256, 600,
            two);
        row("100 old, DIO", { 0, 7 }, "100", false, "", { "WT 9 4 2", "RC 1 8" }, "Setup OK", 512,
            200, "Red--1st variable\nBlue--INPOS\nYellow--DQ0\nGreen--BOND\nWhite--DI1");
        row("interval silent", { 1, 2 }, "500", false, "WT 9 4 10", { "WT 9 4 10" },
            "Communication error write interval\r\n", 0, 0, QString());
        // The legend is set before the channel command goes out.
        row("channel silent", { 1, 2 }, "500", false, "RC 2 3", { "WT 9 4 10", "RC 2 3" },
            "Communication error write channel\r\n", 0, 0, two);
        row("typed span", { 1, 2 }, "250", false, "", {},
            " Interval must be 100, 200, 300, 400 or 500", 0, 0, QString());
    }
    void setup()
    {
        QFETCH(QList<int>, boxes);
        QFETCH(QString, span);
        QFETCH(bool, vcrr);
        QFETCH(QByteArray, silent);
        QFETCH(QList<QByteArray>, sent);
        QFETCH(QString, message);
        QFETCH(int, length);
        QFETCH(int, wait);
        QFETCH(QString, legend);

        FormRig rig(1);
        if (!silent.isEmpty())
            rig.bus.set(1, silent, QByteArray());
        rig.form.Check_VCRR->setChecked(vcrr);
        rig.form.listInterval->setCurrentText(span);
        for (int b : boxes)
            rig.form.chkBox[b]->click();
        rig.port.clearRecord();
        rig.form.cmdSetup->click();
        QCOMPARE(rig.port.lines(), sent);
        QCOMPARE(rig.messages.texts, QStringList { message });
        QCOMPARE(rig.form.Graph1->toolTip(), legend);
        QCOMPARE(rig.form.cmdStart->isEnabled(), length > 0);
        QVERIFY(!rig.form.cmdStop->isEnabled());
        QVERIFY(rig.form.cmdSetup->isEnabled());
        if (length > 0) {
            QCOMPARE(int(rig.form.RecordLength), length);
            QCOMPARE(int(rig.form.RecordWaitMs), wait);
            QVERIFY(rig.form.Timer1->isActive());
        }
    }

    // Start is offered only while the set-up in force matches the ticked channels, also
    // after the stop that follows a status poll in single-motion mode.
    void startNeedsTheSetUpInForce_data()
    {
        QTest::addColumn<QString>("steps"); // channel boxes clicked, "setup", "select"
        QTest::addColumn<bool>("start");
        QTest::newRow("set up") << "0 1 setup" << true;
        QTest::newRow("one box, no set-up") << "0" << false;
        QTest::newRow("a box cleared since") << "0 1 setup 1" << false;
        QTest::newRow("another selection since") << "0 1 setup select" << false;
    }
    void startNeedsTheSetUpInForce()
    {
        QFETCH(QString, steps);
        QFETCH(bool, start);

        FormRig rig(1);
        for (const QString &step : steps.split(' ')) {
            if (step == "setup")
                rig.form.cmdSetup->click();
            else if (step == "select")
                rig.select(1);
            else
                rig.form.chkBox[step.toInt()]->click();
        }
        rig.form.CheckTrig->setChecked(true);
        rig.form.cmdSetMotion_Click();
        rig.form.Timer1_Timer();
        QCOMPARE(rig.form.cmdStart->isEnabled(), start);
    }

    void setupNeedsTwoChannels()
    {
        FormRig rig(1);
        rig.form.chkBox[1]->click();
        rig.form.chkBox[2]->click();
        rig.form.PollIdle = false;
        rig.form.cmdSetup->click(); // deferred
        rig.form.chkBox[2]->click(); // the operator changes the choice meanwhile
        rig.messages.texts.clear();
        rig.port.clearRecord();
        rig.form.PollIdle = true;
        rig.form.Timer5_Timer();
        QCOMPARE(rig.messages.texts, QStringList { " At least 2 variables must be selected" });
        QVERIFY(rig.port.lines().isEmpty());
        QVERIFY(rig.form.cmdRead->isEnabled());
    }

    void captureDrawsThePlot()
    {
        FormRig rig;
        ready(rig, { 0, 1 });
        rig.bus.set(1, "RO", upload(512, 400));
        QList<QColor> lamp;
        rig.bus.onLine = [&](const QByteArray &line) {
            if (line == "RN 0 1" || line == "RV 0")
                lamp << rig.form.Shape1->fillColor();
            // The operator clears a channel box in the capture's event processing.
            if (line == "RO")
                QTimer::singleShot(0, &rig.form, [&] { rig.form.chkBox[1]->click(); });
        };
        rig.form.Timer1_Timer();
        lamp << rig.form.Shape1->fillColor();
        QCOMPARE(lamp,
                 (QList<QColor> { QColor(128, 0, 0), QColor(128, 128, 0), QColor(0, 128, 0) }));
        QCOMPARE(rig.port.lines().mid(0, 2), (QList<QByteArray> { "RN 0 1", "RO" }));
        // The record waits span + 100 ms: "RN 0 1" answered (about 27 ms), 601 ms, 5 ms.
        const qint64 waited = rig.port.writes().at(1).at - rig.port.writes().at(0).at;
        QVERIFY2(waited >= 601 + 25 && waited < 601 + 50, QByteArray::number(waited));
        QCOMPARE(rig.port.lines().size(), 2 + 8);
        QVERIFY(rig.messages.texts.isEmpty());
        // Plot values 100: max 120, min 80.
        QCOMPARE(rig.form.Label5[0]->text(), QStringLiteral("320"));
        QCOMPARE(rig.form.Label5[4]->text(), QStringLiteral("480"));
        QCOMPARE(rig.form.Label6[5]->text(), QStringLiteral("500"));
        QCOMPARE(rig.form.Graph1->displayList().items().size(), 14 + 512);
        // Both traces run across the plot's 256 units, a sample a unit.
        double right = 0;
        for (const DisplayList::Item &item : rig.form.Graph1->displayList().items().mid(14))
            right = std::max(right, item.to.x());
        QCOMPARE(right, 255.0);
        QCOMPARE(rig.form.Timer1->interval(), 2500);
        QVERIFY(!rig.form.chkBox[1]->isChecked());
        QVERIFY(
            rig.form.lastRecordCsv().startsWith(QStringLiteral("time_ms,PCMD,PFBK\n0,400,400\n")));
    }

    void testMotionAlternates()
    {
        FormRig rig;
        ready(rig, { 0, 1 });
        motionReady(rig);
        rig.form.CheckContinuous->setChecked(true);
        rig.form.Text1[0]->setText(QStringLiteral("2000"));
        rig.form.Text1[1]->setText(QStringLiteral("10000"));
        rig.form.cmdSetMotion_Click();
        rig.bus.set(1, "RO", upload(512));
        QList<QByteArray> motions;
        for (int i = 0; i < 3; ++i) {
            rig.port.clearRecord();
            rig.form.Timer1_Timer();
            motions << rig.port.lines().value(1);
        }
        QCOMPARE(motions, (QList<QByteArray> { "WT 2 0 2000", "WT 2 0 10000", "WT 2 0 2000" }));

        // The servo off: no motion, the capture still runs.
        rig.form.ServoOn = false;
        rig.port.clearRecord();
        rig.form.Timer1_Timer();
        QCOMPARE(rig.port.lines().mid(0, 2), (QList<QByteArray> { "RN 0 1", "RO" }));
    }

    void captureFails_data()
    {
        QTest::addColumn<QByteArray>("line");
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<QString>("message");
        QTest::addColumn<bool>("plotCleared");
        QTest::addColumn<bool>("toggled");

        const auto row = [](const char *name, const char *line, const char *reply,
                            const char *message, bool plotCleared, bool toggled) {
            QTest::newRow(name) << QByteArray(line) << QByteArray(reply) << QString(message)
                                << plotCleared << toggled;
        };
        row("arming", "RN 0 1", "", "Communication error enable recoder\r\n", false, false);
        // The alternation moves on before the motion is sent, also when it then fails.
        row("motion", "WT 2 0 2000", "", "Communication error motion\r\n", false, true);
        row("upload", "RO", "", "Communication error of read output\r\n", false, true);
        row("upload too short", "RO", "R>", "Communication error of read output\r\nR>", false,
            true);
        row("long field", "RO", "RO:1,123456789012,3,;\r\n>",
            "Communication error\r\n123456789012,3,;\r\n>", true, true);
    }
    void captureFails()
    {
        QFETCH(QByteArray, line);
        QFETCH(QByteArray, reply);
        QFETCH(QString, message);
        QFETCH(bool, plotCleared);
        QFETCH(bool, toggled);

        FormRig rig;
        ready(rig, { 0, 1 });
        motionReady(rig);
        rig.form.CheckTrig->setChecked(true);
        rig.form.cmdSetMotion_Click();
        rig.bus.set(1, "RO", upload(512));
        rig.form.Timer1_Timer(); // a good capture first; a single motion stops the recorder
        QVERIFY(!rig.form.ScopeRunning && rig.form.cmdStart->isEnabled());
        rig.form.MotionMode = 2; // keep the oscilloscope running
        rig.form.cmdStart_Click();
        rig.form.MotionToggle = true;
        rig.messages.texts.clear();
        rig.bus.set(1, line, reply);
        rig.port.clearRecord();

        rig.form.Timer1_Timer();

        QCOMPARE(rig.messages.texts, QStringList { message });
        QVERIFY(!rig.port.lines().contains("RV 0")); // no status poll in this tick
        QCOMPARE(rig.form.Graph1->displayList().isEmpty(), plotCleared);
        QCOMPARE(rig.form.MotionToggle, !toggled);
        QVERIFY(rig.form.ScopeRunning);
        QCOMPARE(rig.form.Shape1->fillColor(), QColor(0, 128, 0));
    }

    void dioCapture()
    {
        FormRig rig;
        ready(rig, { 0, 7 }, true);
        rig.bus.set(1, "RO", upload(256, 40, 32 + 4096));
        rig.form.Timer1_Timer();
        QVERIFY(rig.messages.texts.isEmpty());
        // One trace of 128 points and four tracks of 128.
        QCOMPARE(rig.form.Graph1->displayList().items().size(), 14 + 5 * 128);
        // The word as the drive sent it, not its bits.
        QVERIFY(rig.form.lastRecordCsv().contains(QStringLiteral("PCMD,DIO\n0,40,4128\n")));
    }
};

QTEST_MAIN(TestForm1Scope)
#include "tst_form1scope.moc"
