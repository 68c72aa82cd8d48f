#include "FormRig.h"

Q_DECLARE_METATYPE(BoxArray)

class TestForm1Edit final : public QObject {
    Q_OBJECT

private slots:
    void typingOnlyTurnsTheBoxRed()
    {
        FormRig rig(1);
        QLineEdit *b = rig.form.txtKG[3];
        FormRig::type(b, QStringLiteral("12"), false);
        QCOMPARE(FormRig::textColor(b), Red);
        QVERIFY(rig.port.lines().isEmpty());
        // Keys that type nothing do not count, nor does moving on with Tab or Shift+Tab.
        rig.form.txtKG[4]->setFocus();
        QTest::keyClick(rig.form.txtKG[4], Qt::Key_Left);
        QTest::keyClick(rig.form.txtKG[4], Qt::Key_Tab);
        QTest::keyClick(rig.form.txtKG[5], Qt::Key_Backtab, Qt::ShiftModifier);
        QCOMPARE(FormRig::textColor(rig.form.txtKG[4]), Black);
        QCOMPARE(FormRig::textColor(rig.form.txtKG[5]), Black);
        // A 16-bit value with slack, no more (a long text would freeze the window while paced);
        // the port box takes device paths.
        FormRig::type(b, QString(40, QLatin1Char('9')), false);
        rig.form.listComPort->setText(QString(300, QLatin1Char('x')));
        QCOMPARE(QList<qsizetype>({ b->text().size(), rig.form.listComPort->text().size() }),
                 QList<qsizetype>({ 12, 255 }));
    }

    // The write at once (paced) and deferred (txtVG whole), by its array's own timer. The map
    // itself is the box map's own table.
    void writeCommands_data()
    {
        QTest::addColumn<BoxArray>("array");
        QTest::addColumn<int>("index");
        QTest::addColumn<QByteArray>("command");
        QTest::newRow("txtKG(3)") << BoxArray::KG << 3 << QByteArray("WT 0 3 ");
        QTest::newRow("txtVG(4)") << BoxArray::VG << 4 << QByteArray("WT 1 10 ");
        QTest::newRow("txtPOS(5)") << BoxArray::POS << 5 << QByteArray("WT 4 1 ");
    }
    void writeCommands()
    {
        QFETCH(BoxArray, array);
        QFETCH(int, index);
        QFETCH(QByteArray, command);

        FormRig rig(1);
        QLineEdit *b = rig.box(array, index);
        FormRig::type(b, QStringLiteral("-250")); // one character every 5 ms, then CR
        QCOMPARE(rig.port.lines(), QList<QByteArray> { command + "-250" });
        QCOMPARE(rig.port.writes().size(), command.size() + 4 + 1);

        rig.port.clearRecord();
        rig.form.PollIdle = false;
        FormRig::type(b, QStringLiteral("77"));
        QVERIFY(rig.port.lines().isEmpty());
        QVERIFY(!rig.form.Timer1->isActive());
        QTimer *timer = array == BoxArray::KG ? rig.form.Timer2
            : array == BoxArray::POS          ? rig.form.Timer3
                                              : rig.form.Timer4;
        QMetaObject::invokeMethod(timer, "timeout", Qt::DirectConnection); // the tick runs on
        QVERIFY(rig.port.lines().isEmpty());
        rig.form.PollIdle = true;
        QMetaObject::invokeMethod(timer, "timeout", Qt::DirectConnection);
        QCOMPARE(rig.port.lines(), QList<QByteArray> { command + "77" });
        QCOMPARE(rig.port.writes().size(), array == BoxArray::VG ? 1 : command.size() + 2 + 1);
        QVERIFY(!timer->isActive());
        QVERIFY(rig.form.Timer1->isActive());
    }

    // What the box shows after the drive's reply, on both paths.
    void markers_data()
    {
        QTest::addColumn<bool>("deferred");
        QTest::addColumn<bool>("setting"); // a txtVG box, deferred by Timer4; else txtKG, Timer2
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("text");

        const auto row = [](const char *name, bool deferred, bool setting, const char *reply,
                            const char *typed, const char *text) {
            QTest::newRow(name) << deferred << setting << QByteArray(reply) << QString(typed)
                                << QString(text);
        };
        row("at once, no prompt", false, false, "", "1500", "ERR");
        row("at once, no equals", false, false, "1500 ok>", "1500", "ER");
        row("at once, other echo", false, false, "=1000 ok>", "1500", "ER");
        row("at once, equal echo", false, false, "=1500 ok>", "1500", "1500");
        row("at once, no number", false, false, "=7 ok>", "x", "ER");
        row("later, no prompt", true, false, "", "1500", "KR");
        row("later, setting, no prompt", true, true, "", "1500", "KR");
        row("later, no equals", true, false, "1500 ok>", "1500", "KRR");
        row("later, equal echo", true, false, "=1500 ok>", "1500", "1500");
    }
    void markers()
    {
        QFETCH(bool, deferred);
        QFETCH(bool, setting);
        QFETCH(QByteArray, reply);
        QFETCH(QString, typed);
        QFETCH(QString, text);

        FormRig rig(1);
        rig.bus.set(1, (setting ? "WT 1 5 " : "WT 0 5 ") + typed.toLatin1(), reply);
        QLineEdit *b = setting ? rig.form.txtVG[5] : rig.form.txtKG[5];
        rig.form.PollIdle = !deferred;
        FormRig::type(b, typed);
        if (deferred) {
            rig.form.PollIdle = true;
            setting ? rig.form.Timer4_Timer() : rig.form.Timer2_Timer();
        }
        QCOMPARE(b->text(), text);
        QCOMPARE(FormRig::textColor(b), text == typed ? Black : Red);
        QVERIFY(rig.form.cmdRead->isEnabled());
        QVERIFY(rig.messages.texts.isEmpty());
    }

    // Deferred edits: the one stored at Enter is sent, but judged against the box as it reads
    // at the tick; a second edit in one array replaces the first; two arrays stay apart; Stop
    // drops them.
    void deferredEdits()
    {
        FormRig rig(1);
        rig.bus.set(1, "WT 0 1 300", "=300 ok>");
        rig.bus.set(1, "WT 3 1 22", "=22 ok>");
        rig.bus.set(1, "WT 1 10 9", "=9 ok>");
        rig.form.PollIdle = false;
        FormRig::type(rig.form.txtKG[1], QStringLiteral("300"));
        FormRig::type(rig.form.txtKG[1], QStringLiteral("400"), false);
        FormRig::type(rig.form.txtPOS[0], QStringLiteral("11"));
        FormRig::type(rig.form.txtPOS[3], QStringLiteral("22"));
        FormRig::type(rig.form.txtVG[4], QStringLiteral("9"));
        rig.form.PollIdle = true;
        rig.form.Timer2_Timer();
        rig.form.Timer3_Timer();
        rig.form.Timer4_Timer();
        QCOMPARE(rig.port.lines(), (QList<QByteArray> { "WT 0 1 300", "WT 3 1 22", "WT 1 10 9" }));
        QCOMPARE(rig.form.txtKG[1]->text(), QStringLiteral("KRR"));
        QCOMPARE(FormRig::textColor(rig.form.txtPOS[0]), Red);
        QCOMPARE(FormRig::textColor(rig.form.txtPOS[3]), Black);
        QCOMPARE(FormRig::textColor(rig.form.txtVG[4]), Black);

        rig.form.PollIdle = false;
        FormRig::type(rig.form.txtKG[0], QStringLiteral("1"));
        rig.form.cmdCommStop_Click();
        QVERIFY(!rig.form.Timer2->isActive());
        rig.port.clearRecord();
        rig.form.PollIdle = true;
        rig.form.Timer2_Timer();
        QVERIFY(rig.port.writes().isEmpty());
    }
};

QTEST_MAIN(TestForm1Edit)
#include "tst_form1edit.moc"
