#include "FormRig.h"
#include "Lamp.h"

#include <functional>

namespace {
QStringList items(const QComboBox *c)
{
    QStringList s;
    for (int i = 0; i < c->count(); ++i)
        s << c->itemText(i);
    return s;
}

bool disconnected(const Form1 &f)
{
    return f.cmdCommStart->isEnabled() && !f.cmdCommStop->isEnabled() && !f.CmdScan->isEnabled()
        && !f.CmdSelect->isEnabled() && !f.FrameParaAdj->isEnabled();
}
} // namespace

class TestForm1Station final : public QObject {
    Q_OBJECT

private slots:
    void scan_data()
    {
        QTest::addColumn<QList<int>>("present");
        QTest::addColumn<QList<int>>("onlySecond");
        QTest::addColumn<QList<int>>("onlyFirst");
        QTest::addColumn<QStringList>("found");

        QTest::newRow("stations 1 and 5")
            << QList<int> { 1, 5 } << QList<int>() << QList<int>() << QStringList { "1", "5" };
        QTest::newRow("only the second ST counts")
            << QList<int> { 2, 9 } << QList<int> { 2 } << QList<int> { 9 } << QStringList { "2" };
        QTest::newRow("all") << QList<int> { 0, 15 } << QList<int>() << QList<int>()
                             << QStringList { "0", "15" };
        QTest::newRow("none") << QList<int>() << QList<int>() << QList<int>() << QStringList();
    }
    void scan()
    {
        QFETCH(QList<int>, present);
        QFETCH(QList<int>, onlySecond);
        QFETCH(QList<int>, onlyFirst);
        QFETCH(QStringList, found);

        FormRig rig;
        rig.bus.present = QSet<int>(present.begin(), present.end());
        rig.bus.answerOnlySecondSt = QSet<int>(onlySecond.begin(), onlySecond.end());
        rig.bus.answerOnlyFirstSt = QSet<int>(onlyFirst.begin(), onlyFirst.end());
        const qint64 start = rig.clock.now();
        rig.form.CmdScan->click();

        QCOMPARE(items(rig.form.Combo1), found);
        QCOMPARE(rig.form.Label8->text(), QStringLiteral("15"));
        QCOMPARE(rig.form.CmdSelect->isEnabled(), !found.isEmpty());
        QCOMPARE(rig.port.lines().size(), 32);
        if (found.isEmpty()) // 16 stations, two silent exchanges of about 215 ms each
            QCOMPARE(rig.clock.now() - start, qint64(16 * 2 * 215));
        QVERIFY(rig.messages.texts.isEmpty());
    }

    // Everything the operator does during a scan waits until the selected station is addressed
    // again: no write, save, read or source change may reach the station the scan addressed.
    void scanHoldsTheLine()
    {
        FormRig rig;
        rig.bus.present = { 1, 5 };
        rig.select(5);
        rig.bus.set(5, "WT 0 0 123", "KPP=123;\r\n>");
        rig.messages.texts.clear();
        rig.port.clearRecord();
        // A poll tick falls due during the scan's event processing.
        rig.form.Timer1->setInterval(0);
        rig.form.Timer1->start();

        // One operator action at each event-processing point of the scan.
        QLineEdit *kpp = rig.form.txtKG[0];
        const QList<std::function<void()>> actions {
            [&] { FormRig::type(kpp, QStringLiteral("123")); },
            [&] { rig.form.CmdSave->click(); },
            [&] { rig.form.CmdScan_Click(); }, // a second scan
            [&] { rig.form.cmdRead->click(); },
            [&] {
                rig.form.Option2->setChecked(true);
                rig.form.cmdSet->click();
            },
        };
        int next = 0;
        std::function<void()> act = [&] {
            actions[next++]();
            if (next < actions.size())
                QTimer::singleShot(0, &rig.form, act);
        };
        QTimer::singleShot(0, &rig.form, act);
        rig.form.CmdScan->click();
        QCOMPARE(next, actions.size());

        QList<QByteArray> lines = rig.port.lines();
        QCOMPARE(lines.size(), 32 + 2); // the scan and its "ST 5" pair, nothing else
        QCOMPARE(lines.mid(32), (QList<QByteArray> { "ST 5", "ST 5" }));
        QCOMPARE(items(rig.form.Combo1), (QStringList { "1", "5" }));

        // The waiting work runs once the scan has ended.
        rig.form.Timer2_Timer();
        QCOMPARE(kpp->text(), QStringLiteral("123"));
        QCOMPARE(FormRig::textColor(kpp), Black);
        for (int i = 0; i < 5 && rig.form.Timer5->isActive(); ++i)
            rig.form.Timer5_Timer();
        lines = rig.port.lines();
        QByteArray addressed;
        QStringList sent;
        for (const QByteArray &l : lines) {
            if (l.startsWith("ST "))
                addressed = l;
            else
                QVERIFY2(addressed == "ST 5", l.constData());
            if (!l.startsWith("ST ") && !l.startsWith("RD "))
                sent << QString::fromLatin1(l);
        }
        QCOMPARE(sent, (QStringList { "WT 0 0 123", "SV", "UD 1" }));
        QCOMPARE(lines.count("RD 0 0"), 1);
        QCOMPARE(rig.messages.texts, (QStringList { "SAVE OK", "SET OK" }));
        QVERIFY(rig.form.Timer1->isActive());
    }

    // A gated action or a deferred write waiting when Select is pressed, or clicked during its
    // wait, was meant for the drive shown before: it is dropped, and polling stays as the
    // selection leaves it.
    void selectDropsWaitingWork_data()
    {
        QTest::addColumn<QByteArray>("source");
        QTest::addColumn<bool>("polling");
        QTest::newRow("selected") << QByteArray("0000;\r\n>") << true;
        QTest::newRow("RV 10 silent") << QByteArray() << false;
    }
    void selectDropsWaitingWork()
    {
        QFETCH(QByteArray, source);
        QFETCH(bool, polling);

        FormRig rig;
        rig.bus.present = { 1, 5 };
        rig.select(1);
        rig.bus.set(5, "RV 10", source);
        rig.form.PollIdle = false; // a tick is in progress
        rig.form.CmdSave->click();
        rig.form.txtKG[2]->setText(QStringLiteral("77"));
        QTest::keyClick(rig.form.txtKG[2], Qt::Key_Return);
        rig.form.PollIdle = true;
        rig.port.clearRecord();

        // The selection's wait lets timers fire, and the operator clicks LOAD meanwhile.
        bool clicked = false;
        rig.form.exchange().setEventPump([&] {
            if (!clicked) {
                clicked = true;
                rig.form.cmdRead->click();
            }
            for (QTimer *t : { rig.form.Timer2, rig.form.Timer5 }) {
                if (t->isActive())
                    QMetaObject::invokeMethod(t, "timeout", Qt::DirectConnection);
            }
        });
        rig.form.Combo1->setEditText(QStringLiteral("5"));
        rig.form.CmdSelect_Click();

        const QList<QByteArray> lines = rig.port.lines();
        QCOMPARE(lines.mid(0, 4), (QList<QByteArray> { "ST 5", "ST 5", "RV 8", "RV 10" }));
        QVERIFY(!lines.contains("SV"));
        QVERIFY(!lines.contains("WT 0 2 77"));
        QCOMPARE(lines.size(), polling ? 4 + 25 : 4);
        QVERIFY(!rig.form.Timer2->isActive());
        QVERIFY(!rig.form.Timer5->isActive());
        QCOMPARE(rig.form.Timer1->isActive(), polling);
    }

    void stopDuringScanEndsIt()
    {
        FormRig rig;
        rig.bus.present = { 1, 5 };
        QTimer::singleShot(0, &rig.form, [&] { rig.form.cmdCommStop->click(); });
        rig.form.CmdScan->click();
        QCOMPARE(rig.port.lines().size(), 2);
        QVERIFY(disconnected(rig.form));
        QCOMPARE(rig.messages.texts, QStringList { QStringLiteral("Com Port Closed") });
    }

    void selectOpensTheWorkingFrames_data()
    {
        QTest::addColumn<QByteArray>("source");
        QTest::addColumn<bool>("upDown");
        QTest::newRow("pulse/dir") << QByteArray("0000 ok>") << false;
        QTest::newRow("DI2 up/down") << QByteArray("0040 ok>") << true;
        QTest::newRow("only four characters read") << QByteArray("00401 ok>") << true;
    }
    void selectOpensTheWorkingFrames()
    {
        QFETCH(QByteArray, source);
        QFETCH(bool, upDown);

        FormRig rig;
        rig.bus.set(1, "RV 10", source);
        rig.form.cmdStart->setEnabled(true);
        rig.form.cmdSetup->setEnabled(true);
        rig.form.CheckTrig->setChecked(true);
        rig.form.Text1[0]->setText(QStringLiteral("7"));
        rig.form.cmdSetMotion_Click(); // a motion for the drive shown before
        rig.messages.texts.clear();
        rig.select(1);

        QCOMPARE(rig.messages.texts, QStringList { "VCM Driver Board communication OK" });
        QCOMPARE(rig.form.Option2->isChecked(), upDown);
        QCOMPARE(rig.form.Option1->isChecked(), !upDown);
        QCOMPARE(rig.form.UpDownMode, upDown);
        QCOMPARE(rig.form.FrameMotion->isEnabled(), upDown);
        for (QWidget *w : std::initializer_list<QWidget *> {
                 rig.form.FrameCmdSource, rig.form.cmdSet, rig.form.FrameParaAdj, rig.form.cmdRead,
                 rig.form.CmdSave, rig.form.FrameScope[0], rig.form.cmdCommStop, rig.form.CmdScan,
                 rig.form.CmdSelect })
            QVERIFY(w->isEnabled());
        QVERIFY(!rig.form.cmdStart->isEnabled() && !rig.form.cmdStop->isEnabled());
        QVERIFY(!rig.form.cmdSetup->isEnabled() && !rig.form.ServoOn);
        QVERIFY(rig.form.Timer1->isActive());
        QCOMPARE(rig.form.txtKG[3]->text(), QStringLiteral("035"));
        QVERIFY(!rig.form.CheckTrig->isChecked());
        QVERIFY(rig.form.MotionMode == 0 && !rig.form.MotionToggle); // no motion until Set Motion
        QCOMPARE(rig.form.Text1[0]->text(), QStringLiteral("2000"));
        // ST twice, RV 8, RV 10, then the 25 reads of the load.
        const QList<QByteArray> lines = rig.port.lines();
        QCOMPARE(lines.mid(0, 4), (QList<QByteArray> { "ST 1", "ST 1", "RV 8", "RV 10" }));
        QCOMPARE(lines.size(), 4 + 25);
    }

    // Every way the selection can fail, with what the operator is told and where the
    // window is left.
    void selectFails_data()
    {
        QTest::addColumn<QString>("station");
        QTest::addColumn<QByteArray>("line");
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<QStringList>("messages");
        QTest::addColumn<bool>("closed");

        QTest::newRow("station silent")
            << "3" << QByteArray() << QByteArray() << QStringList { "Com Port Closed" } << true;
        QTest::newRow("no station picked")
            << "" << QByteArray() << QByteArray() << QStringList { "Com Port Closed" } << true;
        QTest::newRow("RV 8 silent")
            << "1" << QByteArray("RV 8") << QByteArray()
            << QStringList { "Communication error write\r\n", "Com Port Closed" } << true;
        QTest::newRow("RV 8 not hex")
            << "1" << QByteArray("RV 8") << QByteArray("zz ok>")
            << QStringList { "Communication error write\r\nzz ok>", "Com Port Closed" } << true;
        QTest::newRow("servo on") << "1" << QByteArray("RV 8") << QByteArray("0100 ok>")
                                  << QStringList { " You must servo off before start.",
                                                   "Com Port Closed" }
                                  << true;
        QTest::newRow("RV 10 silent") << "1" << QByteArray("RV 10") << QByteArray()
                                      << QStringList { "Communication error\r\n" } << false;
        QTest::newRow("RV 10 not hex") << "1" << QByteArray("RV 10") << QByteArray("-1 ok>")
                                       << QStringList { "Communication error\r\n-1 ok>" } << false;
    }
    void selectFails()
    {
        QFETCH(QString, station);
        QFETCH(QByteArray, line);
        QFETCH(QByteArray, reply);
        QFETCH(QStringList, messages);
        QFETCH(bool, closed);

        FormRig rig;
        if (!line.isEmpty())
            rig.bus.set(1, line, reply);
        rig.form.ResumePolling();
        rig.form.Combo1->setEditText(station);
        rig.form.CmdSelect_Click();

        QCOMPARE(rig.messages.texts, messages);
        QCOMPARE(!rig.port.isOpen(), closed);
        QCOMPARE(disconnected(rig.form), closed);
        QVERIFY(!rig.form.Timer1->isActive());
        QCOMPARE(rig.form.ServoOn, station == "1" && reply.startsWith("0100"));
        QVERIFY(!rig.port.lines().contains("RD 0 0"));
    }
};

QTEST_MAIN(TestForm1Station)
#include "tst_form1station.moc"
