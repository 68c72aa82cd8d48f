#include "FormRig.h"
#include "Lamp.h"
#include "VbStyle.h"

namespace {
// ShapeALM(0..4) lightDI(0..4) lightDO(0..3), R red / G green, then the two flags.
QString lamps(const Form1 &f)
{
    QString s;
    for (const auto *array : { &f.ShapeALM, &f.lightDI, &f.lightDO }) {
        for (const Lamp *lamp : *array)
            s += lamp->fillColor() == QColor(255, 0, 0)  ? 'R'
                : lamp->fillColor() == QColor(0, 255, 0) ? 'G'
                                                         : '?';
        s += ' ';
    }
    return s + (f.ServoOn ? 'S' : '-') + (f.DI1On ? 'D' : '-');
}
} // namespace

class TestForm1Monitor final : public QObject {
    Q_OBJECT

private slots:
    void translate_data()
    {
        QTest::addColumn<QString>("before");
        QTest::addColumn<QString>("stat");
        QTest::addColumn<QString>("expected");

        const auto row
            = [](const char *name, const char *before, const char *stat, const char *expected) {
                  QTest::newRow(name) << before << stat << expected;
              };
        row("0000", "FFFF", "0000", "GGGGR GGGGG GGGG --");
        row("0800 all green", "0000", "0800", "GGGGG GGGGG GGGG --");
        row("FFFF", "0000", "FFFF", "RRRRG RRRRR RRRG SD");
        row("0100 servo", "0000", "0100", "GGGGR RGGGG GGGG S-");
        row("1 over load", "0800", "1", "RGGGR GGGGG GGGG --");
        row("1900 DI1", "0000", "1900", "GGGGG RGGRG GGGG SD");
        row("2070 DI2 and outputs", "0000", "2070", "GGGGR GGGGR RRRG --");
        row("0600 BOND BTYPE", "0000", "0600", "GGGGR GRRGG GGGG --");
        // Nothing changes, not even the flags.
        row("ER", "FFFF", "ER", "RRRRG RRRRR RRRG SD");
        row("garbage", "FFFF", "x1z", "RRRRG RRRRR RRRG SD");
        row("empty", "FFFF", "", "RRRRG RRRRR RRRG SD");
        row("five digits", "FFFF", "08000", "RRRRG RRRRR RRRG SD");
        row("blank", "0100", " 100", "GGGGR RGGGG GGGG S-");
    }
    void translate()
    {
        QFETCH(QString, before);
        QFETCH(QString, stat);
        QFETCH(QString, expected);

        FormRig rig;
        rig.form.STA_translate(before);
        rig.form.STA_translate(stat);
        QCOMPARE(lamps(rig.form), expected);
    }

    void tickReadsVariablesAndStatus()
    {
        FormRig rig(1);
        rig.bus.set(1, "RV 0", "123 ok>");
        rig.bus.set(1, "RV 6", "-7 ok>");
        rig.form.txtRG[1]->setText(QStringLiteral("ER"));
        setForeColor(rig.form.txtRG[1], Red);

        rig.form.Timer1_Timer();

        QCOMPARE(
            rig.port.lines(),
            (QList<QByteArray> { "RV 0", "RV 1", "RV 2", "RV 3", "RV 4", "RV 5", "RV 6", "RV 8" }));
        QCOMPARE(rig.form.txtRG[1]->text(), QStringLiteral("123"));
        QCOMPARE(FormRig::textColor(rig.form.txtRG[1]), Black);
        QCOMPARE(rig.form.txtRG[2]->text(), QStringLiteral("100"));
        QCOMPARE(rig.form.txtRG[7]->text(), QStringLiteral("-7"));
        QCOMPARE(lamps(rig.form), QStringLiteral("GGGGG GGGGG GGGG --"));
        QVERIFY(rig.form.PollIdle);
        QCOMPARE(rig.form.Shape1->fillColor(), QColor(0, 128, 0));
        QCOMPARE(rig.form.Timer1->interval(), 1500);
        QVERIFY(rig.messages.texts.isEmpty());
    }

    void statusGatesMotionAndCaptures_data()
    {
        QTest::addColumn<QByteArray>("status");
        QTest::addColumn<bool>("motion");
        QTest::addColumn<bool>("notReady");

        QTest::newRow("0800 ready") << QByteArray("0800") << false << false;
        QTest::newRow("0801 alarm") << QByteArray("0801") << false << true;
        QTest::newRow("0900 servo on") << QByteArray("0900") << true << false;
        QTest::newRow("1900 DI1 on") << QByteArray("1900") << false << false;
    }
    void statusGatesMotionAndCaptures()
    {
        QFETCH(QByteArray, status);
        QFETCH(bool, motion);
        QFETCH(bool, notReady);

        FormRig rig(1);
        rig.bus.set(1, "RV 8", status + " ok>");
        rig.form.Timer1_Timer();
        QCOMPARE(rig.form.FrameMotion->isEnabled(), motion);
        QCOMPARE(rig.form.cmdSetMotion->isEnabled(), motion);
        QCOMPARE(rig.form.DriveNotReady, notReady);
        if (notReady) {
            // A running oscilloscope keeps its 2500 ms pace while captures are held back.
            rig.form.ScopeRunning = true;
            rig.port.clearRecord();
            rig.form.Timer1_Timer();
            QCOMPARE(rig.form.Timer1->interval(), 2500);
            QCOMPARE(rig.port.lines().value(0), QByteArray("RV 0"));
        }
    }

    // Each way a tick's exchange can fail: the box or lamps show it, one message, the tick
    // ends there and the timer goes on. A tick due while the message is open sends nothing.
    void failedExchangeEndsTheTick_data()
    {
        QTest::addColumn<QByteArray>("line");
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<int>("box");
        QTest::addColumn<int>("sent");
        QTest::addColumn<QString>("message");

        QTest::newRow("RV 3 silent")
            << QByteArray("RV 3") << QByteArray() << 4 << 4 << "Communication error\r\n";
        QTest::newRow("RV 0 prompt too early")
            << QByteArray("RV 0") << QByteArray("12>") << 1 << 1 << "Communication error\r\n12>";
        QTest::newRow("RV 8 silent")
            << QByteArray("RV 8") << QByteArray() << 0 << 8 << "Communication error\r\n";
        QTest::newRow("RV 8 not hex") << QByteArray("RV 8") << QByteArray("08Z0 ok>") << 0 << 8
                                      << "Communication error\r\n08Z0 ok>";
    }
    void failedExchangeEndsTheTick()
    {
        QFETCH(QByteArray, line);
        QFETCH(QByteArray, reply);
        QFETCH(int, box);
        QFETCH(int, sent);
        QFETCH(QString, message);

        FormRig rig(1);
        rig.form.Timer1_Timer(); // a good tick first: boxes and lamps hold values
        const QString lampsBefore = lamps(rig.form);
        rig.bus.set(1, line, reply);
        rig.bus.set(1, "RV 4", "999 ok>");
        rig.messages.texts.clear();
        rig.port.clearRecord();
        int nestedLines = -1;
        // The poller falls due while the tick's message is open: its tick waits for the tick.
        rig.messages.onMessage = [&](const QString &) {
            const qsizetype before = rig.port.lines().size();
            const int interval = rig.form.Timer1->interval();
            rig.form.Timer1->start(0);
            QCoreApplication::processEvents();
            rig.form.Timer1->start(interval);
            nestedLines = int(rig.port.lines().size() - before);
        };

        rig.form.Timer1_Timer();

        QCOMPARE(nestedLines, 0);
        QCOMPARE(rig.port.lines().size(), sent);
        QCOMPARE(rig.messages.texts, QStringList { message });
        if (box > 0) {
            QCOMPARE(rig.form.txtRG[box]->text(), QStringLiteral("ER"));
            QCOMPARE(FormRig::textColor(rig.form.txtRG[box]), Red);
            // Later boxes keep the previous tick's values.
            for (int later = box + 1; later <= 7; ++later)
                QCOMPARE(rig.form.txtRG[later]->text(), QStringLiteral("%1").arg(later - 1) + "00");
        } else {
            QCOMPARE(lamps(rig.form), lampsBefore);
        }
        QVERIFY(rig.form.PollIdle);
        QVERIFY(rig.form.Timer1->isActive());
        QCOMPARE(rig.form.Shape1->fillColor(), QColor(0, 128, 0));
    }

    void stopDuringTheTicksEventsEndsItQuietly()
    {
        FormRig rig(1);
        QTimer::singleShot(0, &rig.form, [&] { rig.form.cmdCommStop_Click(); });
        rig.form.Timer1_Timer();
        QVERIFY(rig.port.lines().isEmpty());
        QCOMPARE(rig.messages.texts, QStringList { QStringLiteral("Com Port Closed") });
        QVERIFY(rig.form.PollIdle);
    }
};

QTEST_MAIN(TestForm1Monitor)
#include "tst_form1monitor.moc"
