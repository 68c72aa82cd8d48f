// The console against the drive simulator: what an engineer at the bench would do.
#include "SimBench.h"

#include <QTemporaryDir>

namespace {
QStringList boxTexts(const Form1 &f)
{
    QStringList texts;
    for (const ParameterBox &b : ParameterMap::loadOrder())
        texts << (b.array == BoxArray::KG       ? f.txtKG
                      : b.array == BoxArray::VG ? f.txtVG
                                                : f.txtPOS)[b.index]
                     ->text();
    return texts;
}
} // namespace

class TestConsoleSim final : public QObject {
    Q_OBJECT

private slots:
    // Scan, select, load and poll station 5; write, save and set the source on station 1, and
    // clone its tuned set onto station 5 through a file; then the lamps follow an input. A bad
    // file and a clamped value are the scripted window's and the tool's rows.
    void connectWriteAndClone()
    {
        QTemporaryDir dir;
        SimBench b({ "--fast", "--stations", "1,5" });
        QVERIFY(b.connect(5, true));
        QCOMPARE(b.messages.texts,
                 (QStringList { "COM Port Open Success", "VCM Driver Board communication OK" }));
        QCOMPARE(b.form.Combo1->count(), 2);
        QCOMPARE(b.form.Label8->text(), QStringLiteral("15"));
        const QStringList loaded = boxTexts(b.form);
        QCOMPARE(loaded.filter(QRegularExpression("^-?\\d+$")), loaded);
        QCOMPARE(b.tick(), QString());
        // Servo off, no alarm, no emergency stop: "EMS" and "SVON" green.
        QVERIFY(b.shows("ticked RG*=# ALM=off ready"));
        QCOMPARE(b.form.lightDI[0]->fillColor(), QColor(0, 255, 0));

        b.files.file = dir.filePath(QStringLiteral("station1.vcmpar"));
        QVERIFY(b.connect(1));
        b.messages.texts.clear();
        QLineEdit *kvp = b.form.txtKG[2];
        kvp->clear();
        QTest::keyClicks(kvp, QStringLiteral("120"));
        QTest::keyClick(kvp, Qt::Key_Return);
        b.settle();
        b.form.CmdSave->click();
        b.settle();
        b.form.Option2->setChecked(true);
        b.form.cmdSet->click();
        b.settle();
        QCOMPARE(b.messages.texts, (QStringList { "SAVE OK", "SET OK" }));
        QVERIFY(b.form.UpDownMode);
        b.form.saveParameterSet();
        b.settle();
        const QStringList station1 = boxTexts(b.form);
        QCOMPARE(station1.at(2), QStringLiteral("120"));

        QVERIFY(b.connect(5));
        b.form.txtKG[0]->setText(QStringLiteral("300"));
        QTest::keyClick(b.form.txtKG[0], Qt::Key_Return);
        b.settle();
        QVERIFY(boxTexts(b.form) != station1);
        b.messages.texts.clear();
        b.form.loadParameterSet();
        b.settle();
        QVERIFY2(b.messages.questions.last().contains(QStringLiteral("KPP: 300 -> 250")),
                 qPrintable(b.messages.questions.last()));
        QVERIFY2(b.messages.last().contains(QStringLiteral("2 of 2 written, 2 confirmed")),
                 qPrintable(b.messages.last()));
        b.form.cmdRead_Click();
        b.settle();
        QCOMPARE(boxTexts(b.form), station1);

        QVERIFY(b.set(QStringLiteral("estop 5 on")));
        QCOMPARE(b.tick(), QString());
        QVERIFY(b.shows("ALM=on notready"));
    }

    void captureAStepResponse()
    {
        SimBench b({ "--fast", "--stations", "1", "--new-recorder", "1", "--demo" });
        QVERIFY(b.connect(1));
        // In the bench set-up the servo comes on a second after the selection.
        QTest::qWait(1300);
        b.tick();
        QVERIFY(b.form.ServoOn);
        QVERIFY(b.form.FrameMotion->isEnabled());

        b.form.CheckContinuous->setChecked(true);
        b.form.Text1[0]->setText(QStringLiteral("1000"));
        b.form.Text1[1]->setText(QStringLiteral("3000"));
        b.form.cmdSetMotion->click();
        b.startScope("200");
        b.settle();

        QCOMPARE(b.tick(), QString());
        QVERIFY(b.shows("plot"));
        QCOMPARE(b.form.Label6[5]->text(), QStringLiteral("200"));
        // PCMD ends at the first target (1000 counts), read back raw in the CSV's last row.
        const QString csv = b.form.lastRecordCsv().trimmed();
        QCOMPARE(csv.count(QLatin1Char('\n')), 128);
        QCOMPARE(csv.section(QLatin1Char('\n'), -1).section(QLatin1Char(','), 1, 1), "1000");
    }
};

QTEST_MAIN(TestConsoleSim)
#include "tst_console_sim.moc"
