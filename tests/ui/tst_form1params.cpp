#include "FormRig.h"

#include <QApplication>
#include <QMenu>
#include <QTemporaryDir>

namespace {
// A parameter-set file in a folder that lives as long as the test.
QString setFile(const QTemporaryDir &dir, const QByteArray &text)
{
    const QString path = dir.filePath(QStringLiteral("set.vcmpar"));
    QFile f(path);
    if (f.open(QIODevice::WriteOnly | QIODevice::Truncate))
        f.write(text);
    return path;
}
// Replies "line|reply" of station 1 instead of the defaults; nothing after "|" is silence.
void script(FormRig &rig, const QStringList &replies)
{
    for (const QString &r : replies)
        rig.bus.set(1, r.section('|', 0, 0).toLatin1(), r.section('|', 1).toLatin1());
}
} // namespace

class TestForm1Params final : public QObject {
    Q_OBJECT

private slots:
    void loadFillsEveryBox()
    {
        FormRig rig(1);
        rig.bus.set(1, "RD 1 10", "RD 1 10=4321 ok>");
        rig.bus.set(1, "RD 0 2", QByteArray()); // silent
        rig.bus.set(1, "RD 2 1", "1500 ok>"); // no "="
        rig.bus.set(1, "RD 4 1", "=1>"); // marks too close
        rig.bus.set(1, "RD 0 7", "=1234567890123;\r\n>"); // longer than the box holds
        QTest::keyClicks(rig.form.txtKG[0], QStringLiteral("9")); // red: typed, not confirmed
        QCOMPARE(FormRig::textColor(rig.form.txtKG[0]), Red);
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
        QCOMPARE(FormRig::textColor(rig.form.txtKG[0]), Black);
        QCOMPARE(rig.form.txtVG[4]->text(), QStringLiteral("4321"));
        QCOMPARE(rig.form.txtVG[10]->text(), QStringLiteral("1115"));
        QCOMPARE(rig.form.txtPOS[3]->text(), QStringLiteral("315"));
        for (QLineEdit *bad :
             { rig.form.txtKG[2], rig.form.txtKG[7], rig.form.txtPOS[1], rig.form.txtPOS[5] }) {
            QCOMPARE(bad->text(), QStringLiteral("ER"));
            QCOMPARE(FormRig::textColor(bad), Red);
        }
        QVERIFY(rig.form.cmdRead->isEnabled());
        QVERIFY(rig.messages.texts.isEmpty());
    }

    // What the drive holds to a file, read first as LOAD reads it (also behind a poll); a
    // failed read saves nothing and names the parameter.
    void saveSet_data()
    {
        QTest::addColumn<QStringList>("replies"); // "line|reply" instead of the defaults
        QTest::addColumn<bool>("deferred");
        QTest::addColumn<QString>("message");
        QTest::newRow("saved") << QStringList() << false << "";
        QTest::newRow("behind a poll") << QStringList() << true << "";
        QTest::newRow("a read unanswered")
            << QStringList { "RD 0 2|" } << false << "No answer from station 1 to the read of KVP.";
    }
    void saveSet()
    {
        QFETCH(QStringList, replies);
        QFETCH(bool, deferred);
        QFETCH(QString, message);
        FormRig rig(1);
        QTemporaryDir dir;
        rig.files.file = dir.filePath(QStringLiteral("station1.vcmpar"));
        script(rig, replies << "RD 2 0|RD 2 0=2000 ok>"); // changed behind the boxes
        QTest::keyClicks(rig.form.txtKG[0], QStringLiteral("7")); // typed, never written
        rig.form.PollIdle = !deferred;
        rig.form.saveParameterSet();
        QCOMPARE(rig.port.lines().isEmpty(), deferred);
        rig.form.PollIdle = true;
        rig.form.Timer5_Timer();

        QCOMPARE(rig.messages.texts.join(""),
                 message + (message.isEmpty() ? "" : "\r\nNothing was saved."));
        const ParameterSetParse back = readParameterSetFile(rig.files.file);
        QCOMPARE(back.ok, message.isEmpty());
        // The default replies: KPP "005", VCF2 item 10 "1105"; UP0 as the drive holds it now.
        QVERIFY(!back.ok
                || (back.set.values[0] == 5 && back.set.values[12] == 1105
                    && back.set.values[19] == 2000 && back.set.count() == 25));
        QVERIFY(!back.ok || rig.form.txtKG[0]->text() + rig.form.txtPOS[0]->text() == "0052000");
        QVERIFY(rig.form.cmdRead->isEnabled());
    }

    // A file into the drive: validated whole, compared with what the drive holds now, the
    // changes confirmed by the operator (told when targets will move the actuator), each
    // written and judged as Enter in its box, one report at the end.
    void loadSet_data()
    {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<bool>("confirm");
        QTest::addColumn<QByteArray>("otherReply"); // "line|reply" instead of the echo
        QTest::addColumn<QStringList>("sent");
        QTest::addColumn<QString>("report");

        QTest::newRow("refused whole") << QByteArray("KPP = 300\nKPX = 1\n") << true << QByteArray()
                                       << QStringList() << "set.vcmpar: line 2: unknown name";
        QTest::newRow("not confirmed")
            << QByteArray("KPP = 300\n") << false << QByteArray() << QStringList() << "";
        QTest::newRow("nothing to change") << QByteArray("KPP = 5\nTH1 = 415\n") << true
                                           << QByteArray() << QStringList() << "already holds";
        QTest::newRow("changed behind the boxes")
            << QByteArray("KPP = 5\n") << true << QByteArray("RD 0 0|RD 0 0=300 ok>")
            << QStringList { "WT 0 0 5" } << "1 confirmed";
        QTest::newRow("a read unanswered")
            << QByteArray("KPP = 300\n") << true << QByteArray("RD 1 3|") << QStringList()
            << "the read of VT1.\r\nNothing was written.";
        QTest::newRow("targets, servo on, up/down")
            << QByteArray("UP0 = 0\nDN0 = -500\n") << true << QByteArray()
            << QStringList { "WT 2 0 0", "WT 3 0 -500" } << "2 of 2 written";
        QTest::newRow("written") << QByteArray("# tuned\r\nKVP = 120\r\nKPP = 300\r\n") << true
                                 << QByteArray() << QStringList { "WT 0 0 300", "WT 0 2 120" }
                                 << "2 of 2 written, 2 confirmed";
        QTest::newRow("clamped") << QByteArray("KPP=30000\n") << true
                                 << QByteArray("WT 0 0 30000|KPP=20000;\r\n>")
                                 << QStringList { "WT 0 0 30000" }
                                 << "1 of 1 written, 0 confirmed by the drive.\r\nHeld "
                                    "differently:\r\nKPP sent 30000, held 20000";
        QTest::newRow("silent halfway")
            << QByteArray("KPP = 300\nKVP = 120\nVCF2 = -7\n") << true << QByteArray("WT 0 2 120|")
            << QStringList { "WT 0 0 300", "WT 0 2 120" }
            << "1 of 3 written, 1 confirmed by the drive.\r\nNo answer to KVP. Not written: VCF2.";
    }
    void loadSet()
    {
        QFETCH(QByteArray, file);
        QFETCH(bool, confirm);
        QFETCH(QByteArray, otherReply);
        QFETCH(QStringList, sent);
        QFETCH(QString, report);

        FormRig rig(1);
        QTemporaryDir dir;
        rig.files.file = setFile(dir, file);
        for (const QString &line : sent)
            rig.bus.set(1, line.toLatin1(), "X=" + line.section(' ', 3).toLatin1() + ";\r\n>");
        if (!otherReply.isEmpty())
            rig.bus.set(1, otherReply.left(otherReply.indexOf('|')),
                        otherReply.mid(otherReply.indexOf('|') + 1));
        const bool targets = file.startsWith("UP0");
        if (targets) {
            rig.bus.set(1, "RV 8", "0900 ok>"); // servo on
            rig.bus.set(1, "RV 10", "0040 ok>"); // up/down
        }
        rig.messages.answer = confirm;
        rig.messages.texts.clear();
        rig.port.clearRecord();
        rig.form.loadParameterSet();

        QStringList written; // no SV
        for (const QByteArray &line : rig.port.lines())
            if (!line.startsWith("RD ") && !line.startsWith("RV "))
                written << QString::fromLatin1(line);
        QCOMPARE(written, sent);
        if (report.isEmpty())
            QVERIFY(rig.messages.texts.isEmpty());
        else
            QVERIFY2(rig.messages.last().contains(report), qPrintable(rig.messages.last()));
        const QString asked = rig.messages.questions.value(0);
        QVERIFY(sent.isEmpty() || asked.contains(": 005 -> ") || asked.contains("KPP: 300 -> 5")
                || targets);
        QCOMPARE(asked.contains("these writes will move the actuator: UP0 to 0 counts, DN0 to -500 "
                                "counts."),
                 targets);
        QVERIFY(sent.isEmpty()
                || asked.contains(sent.size() > 1 ? "parameters of" : "1 parameter of"));
        QVERIFY(rig.form.cmdRead->isEnabled());
    }

    // Behind a poll tick the writes wait like an Enter; with the port closed meanwhile they
    // never go, and the operator is told.
    void loadSetWaitsItsTurn()
    {
        FormRig rig(1);
        QTemporaryDir dir;
        rig.files.file = setFile(dir, "KPP = 300\n");
        rig.form.PollIdle = false;
        rig.form.loadParameterSet();
        QVERIFY(rig.port.lines().isEmpty());
        QVERIFY(rig.form.Timer5->isActive());

        rig.form.cmdCommStop->click();
        rig.form.PollIdle = true;
        rig.form.Timer5_Timer();
        QVERIFY(rig.port.lines().isEmpty());
        QVERIFY2(rig.messages.last().startsWith(
                     "The parameter set was not written: the port was closed"),
                 qPrintable(rig.messages.last()));
    }

    // Differences marked without writing: a tint and the file's value in the tooltip, until
    // the box is edited or the next LOAD.
    void compareMarksDifferences()
    {
        FormRig rig(1);
        QTemporaryDir dir;
        rig.files.file = setFile(dir, "KPP = 300\nKVP = 25\nTH1 = -1\n");

        // The frame's menu offers the three entries first.
        QStringList entries;
        QTimer::singleShot(0, &rig.form, [&] {
            if (auto *menu = qobject_cast<QMenu *>(QApplication::activePopupWidget())) {
                for (const QAction *a : menu->actions())
                    entries << a->text();
                menu->close();
            }
        });
        emit rig.form.FrameParaAdj->customContextMenuRequested(QPoint(10, 10));
        QCOMPARE(entries.mid(0, 3),
                 (QStringList { "Save parameter set as...", "Load parameter set into drive...",
                                "Compare with parameter set..." }));

        rig.form.compareParameterSet();
        const auto marked = [&rig] {
            QStringList m;
            for (const ParameterBox &b : ParameterMap::loadOrder()) {
                const QLineEdit *box = rig.box(b.array, b.index);
                if (!box->toolTip().isEmpty())
                    m << ParameterMap::name(b) + '=' + box->toolTip().section(' ', -1);
            }
            return m;
        };
        QCOMPARE(marked(), (QStringList { "KPP=300", "TH1=-1" }));
        QVERIFY(rig.port.lines().isEmpty());
        // Tinted; the text and its colour are the drive's, not a write marker.
        QVERIFY(rig.form.txtKG[0]->palette().color(QPalette::Base)
                != rig.form.txtKG[1]->palette().color(QPalette::Base));
        QCOMPARE(rig.form.txtKG[0]->text(), QStringLiteral("005"));
        QCOMPARE(FormRig::textColor(rig.form.txtKG[0]), Black);

        QTest::keyClicks(rig.form.txtKG[0], QStringLiteral("1"));
        QCOMPARE(marked(), QStringList { "TH1=-1" });
        rig.form.cmdRead_Click();
        QCOMPARE(marked(), QStringList());
    }
};

QTEST_MAIN(TestForm1Params)
#include "tst_form1params.moc"
