#include "FormRig.h"

#include <QLineEdit>
#include <QTimer>
#include <QtTest>

namespace {
QColor textColor(const QLineEdit *box)
{
    return box->palette().color(QPalette::Text);
}
} // namespace

class TestForm1Params final : public QObject {
    Q_OBJECT

private slots:
    void loadFillsEveryBox()
    {
        FormRig rig;
        rig.select(1);
        rig.messages.texts.clear();
        rig.bus.set(1, "RD 1 10", "RD 1 10=4321 ok>");
        rig.bus.set(1, "RD 0 2", QByteArray()); // silent
        rig.bus.set(1, "RD 2 1", "1500 ok>"); // no "="
        rig.bus.set(1, "RD 4 1", "=1>"); // marks too close
        rig.bus.set(1, "RD 0 7", "=1234567890123;\r\n>"); // longer than the box holds
        rig.port.clearRecord();
        QTest::keyClicks(rig.form.txtKG[0], QStringLiteral("9")); // red: typed, not confirmed
        QCOMPARE(textColor(rig.form.txtKG[0]), QColor(255, 0, 0));
        rig.form.txtPOS[4]->setText(QStringLiteral("old"));
        QStringList whileReading;
        rig.bus.onLine = [&](const QByteArray &line) {
            if (line == "RD 0 0")
                whileReading << rig.form.txtVG[10]->text() << rig.form.txtPOS[4]->text();
        };

        rig.form.cmdRead->click();

        // Gains and settings are cleared before the first read; positions are not.
        QCOMPARE(whileReading, (QStringList { "", "old" }));
        QCOMPARE(rig.port.lines().size(), 25);
        QCOMPARE(rig.form.txtKG[0]->text(), QStringLiteral("005"));
        QCOMPARE(textColor(rig.form.txtKG[0]), QColor(Qt::black));
        QCOMPARE(rig.form.txtVG[4]->text(), QStringLiteral("4321"));
        QCOMPARE(rig.form.txtVG[10]->text(), QStringLiteral("1115"));
        QCOMPARE(rig.form.txtPOS[3]->text(), QStringLiteral("315"));
        for (QLineEdit *bad :
             { rig.form.txtKG[2], rig.form.txtKG[7], rig.form.txtPOS[1], rig.form.txtPOS[5] }) {
            QCOMPARE(bad->text(), QStringLiteral("ER"));
            QCOMPARE(textColor(bad), QColor(255, 0, 0));
        }
        QVERIFY(rig.form.cmdRead->isEnabled());
        QVERIFY(rig.messages.texts.isEmpty());
    }

    void silentLineMarksAllBoxes()
    {
        FormRig rig;
        rig.select(1);
        rig.bus.present.clear();
        const qint64 start = rig.clock.now();
        rig.form.cmdRead_Click();
        QCOMPARE(rig.clock.now() - start, qint64(25 * 2025));
        for (int i : rig.form.txtKG.indices())
            QCOMPARE(rig.form.txtKG[i]->text(), QStringLiteral("ER"));
        for (int i : rig.form.txtVG.indices())
            QCOMPARE(rig.form.txtVG[i]->text(), QStringLiteral("ER"));
        for (int i : rig.form.txtPOS.indices())
            QCOMPARE(rig.form.txtPOS[i]->text(), QStringLiteral("ER"));
    }

    void loadDuringTickWaitsAndPollingResumes()
    {
        FormRig rig;
        rig.select(1);
        rig.port.clearRecord();
        rig.form.PollIdle = false;
        rig.form.cmdRead->click();
        QVERIFY(rig.port.lines().isEmpty());
        QCOMPARE(int(rig.form.PendingAction), 4);
        QVERIFY(!rig.form.Timer1->isActive());

        rig.form.PollIdle = true;
        rig.form.Timer5_Timer();
        QCOMPARE(rig.port.lines().size(), 25);
        // Polling goes on: the lamps must not freeze while looking live.
        QVERIFY(rig.form.Timer1->isActive());
        QCOMPARE(rig.form.Timer1->interval(), 100);
    }
};

QTEST_MAIN(TestForm1Params)
#include "tst_form1params.moc"
