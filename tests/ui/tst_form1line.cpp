// The window with its line on a thread of its own: what each entry point does while a sequence
// holds the line, stopped at a chosen moment by the port.
#include "FakeBus.h"
#include "Form1.h"
#include "HoldingPort.h"
#include "RecordingMessages.h"
#include "ScopePlot.h"
#include "ScopeWindow.h"
#include "ScriptedSerialPort.h"
#include "SimulatedLine.h"
#include "TuneDialog.h"
#include "VirtualClock.h"

#include <QPushButton>
#include <QTemporaryDir>
#include <QtTest>

namespace {
QByteArray upload(int n)
{
    QByteArray s = "RO:";
    for (int i = 0; i < n; ++i)
        s += QByteArray::number(i < n / 4 ? 0 : 400) + ',';
    return s + ";\r\n>";
}

struct LineRig {
    LineRig()
        : port(clock),
          bus(port),
          form(std::make_unique<DriveLine>(
                   [this] {
                       auto p = std::make_unique<HoldingPort>(port);
                       held = p.get();
                       return p;
                   },
                   clock),
               messages)
    {
        bus.set(1, "WT 0 0 123", "KPP=123;\r\n>");
        bus.set(1, "WT 0 0 321", "KPP=321;\r\n>");
        bus.set(1, "RO", upload(512));
        bus.set(1, "RV 10", "0040 ok>");
        form.show();
        form.cmdCommStart->click();
        settle();
        form.Combo1->setEditText(QStringLiteral("1"));
        form.CmdSelect_Click();
        settle();
        // The test gives the ticks itself, and looks at deferred work before it runs.
        form.Timer1->stop();
        for (QTimer *t : { form.Timer2, form.Timer3, form.Timer4, form.Timer5 })
            t->setInterval(100000);
        messages.texts.clear();
    }
    ~LineRig() { held->release(); }

    // Until no sequence holds the line and nothing waits for it.
    void settle()
    {
        QTRY_VERIFY_WITH_TIMEOUT(form.lineIdle() && form.gate().waiting() == 0, 10000);
        QCoreApplication::processEvents();
    }
    // The servo on: test motions may be set.
    void servoOn()
    {
        bus.set(1, "RV 8", "0900 ok>");
        form.Timer1_Timer();
        settle();
    }
    // The oscilloscope running with an alternating test motion, after one capture.
    void capturing()
    {
        servoOn();
        form.chkBox[0]->click();
        form.chkBox[1]->click();
        form.cmdSetup->click();
        settle();
        form.CheckContinuous->setChecked(true);
        form.cmdSetMotion->click();
        form.cmdStart->click();
        form.Timer1_Timer();
        settle();
        messages.texts.clear();
    }
    QList<QByteArray> linesAfter(const QByteArray &line) const
    {
        const QList<QByteArray> all = held->lines();
        return all.mid(all.lastIndexOf(line) + 1);
    }

    VirtualClock clock;
    ScriptedSerialPort port;
    FakeBus bus;
    RecordingMessages messages;
    HoldingPort *held = nullptr;
    Form1 form;
};

QPushButton *button(const QWidget *w, const QString &text)
{
    for (QPushButton *b : w->findChildren<QPushButton *>())
        if (b->text() == text)
            return b;
    return nullptr;
}

void typeEnter(QLineEdit *box, const QString &text)
{
    box->setFocus();
    QTest::keyClick(box, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClicks(box, text);
    QTest::keyClick(box, Qt::Key_Return);
}
} // namespace

class TestForm1Line final : public QObject {
    Q_OBJECT

private slots:
    // While a sequence holds the line the window answers, and a click takes effect where the
    // sequence takes its events (deferred, as the original window did at those points) or at
    // its end (run as between sequences). Stop, RESET, Select and closing end it at its next
    // exchange.
    void entryPoints_data()
    {
        QTest::addColumn<QString>("sequence");
        QTest::addColumn<QByteArray>("holdAt");
        QTest::addColumn<int>("waits");
        QTest::addColumn<QString>("entry");
        QTest::addColumn<QString>("outcome");

        // The capture's record wait and upload come before its event points.
        QTest::newRow("record wait, LOAD") << "capture" << QByteArray("WT 2 0 10000") << 100
                                           << "LOAD" << "deferred 4";
        QTest::newRow("upload, SAVE") << "capture" << QByteArray("RO") << 0 << "SAVE"
                                      << "deferred 3";
        QTest::newRow("upload, scope window") << "capture" << QByteArray("RO") << 0 << "readout"
                                              << "live";
        QTest::newRow("poll, Enter") << "tick" << QByteArray("RV 3") << 0 << "Enter"
                                     << "deferred edit";
        // After the status word nothing takes events: the click runs once the tick has ended.
        QTest::newRow("status word, Enter") << "tick" << QByteArray("RV 8") << 0 << "Enter"
                                            << "edit after";
        QTest::newRow("status word, SAVE") << "tick" << QByteArray("RV 8") << 0 << "SAVE"
                                           << "save after";
        QTest::newRow("poll, Timer5") << "tick" << QByteArray("RV 3") << 0 << "Timer5"
                                      << "deferred 3";
        QTest::newRow("poll, Stop") << "tick" << QByteArray("RV 3") << 0 << "Stop" << "closed";
        QTest::newRow("poll, Select") << "tick" << QByteArray("RV 3") << 0 << "Select"
                                      << "selected";
        QTest::newRow("poll, close") << "tick" << QByteArray("RV 3") << 0 << "close" << "gone";
        QTest::newRow("scan, LOAD") << "scan" << QByteArray("ST 7") << 0 << "LOAD"
                                    << "deferred 4";
        QTest::newRow("scan, Stop") << "scan" << QByteArray("ST 7") << 0 << "Stop" << "closed";
        QTest::newRow("LOAD, Enter") << "load" << QByteArray("RD 0 5") << 0 << "Enter"
                                     << "edit after";
        QTest::newRow("LOAD, RESET") << "load" << QByteArray("RD 0 5") << 0 << "RESET"
                                     << "reset";
        QTest::newRow("box write, Set Motion") << "write" << QByteArray("WT 0 0 123") << 0
                                               << "Set Motion" << "message after";
        QTest::newRow("box write, RESET") << "write" << QByteArray("WT 0 0 123") << 0 << "RESET"
                                          << "reset";
    }
    void entryPoints()
    {
        QFETCH(QString, sequence);
        QFETCH(QByteArray, holdAt);
        QFETCH(int, waits);
        QFETCH(QString, entry);
        QFETCH(QString, outcome);

        LineRig rig;
        Form1 &f = rig.form;
        ScopeWindow *scope = nullptr;
        if (entry == "readout") {
            f.openScopeWindow();
            scope = f.findChild<ScopeWindow *>();
        }
        if (sequence == "capture")
            rig.capturing();
        else if (entry == "Set Motion")
            rig.servoOn();
        if (entry == "Timer5") {
            f.PendingAction = Form1::ActionSave;
            f.Timer5->start(0);
        }

        // The sequence, stopped in the middle.
        rig.held->holdAt(holdAt, waits);
        if (sequence == "tick" || sequence == "capture")
            f.Timer1_Timer();
        else if (sequence == "scan")
            QTest::mouseClick(f.CmdScan, Qt::LeftButton);
        else if (sequence == "load")
            QTest::mouseClick(f.cmdRead, Qt::LeftButton);
        else if (sequence == "write")
            typeEnter(f.txtKG[0], QStringLiteral("123"));
        QVERIFY2(rig.held->waitUntilHeld(std::chrono::seconds(3)),
                 qPrintable(rig.held->lines().join(' ') + " | " + rig.messages.texts.join('|')));
        const QList<QByteArray> sentBefore = rig.held->lines();

        // The entry point, while the line is held: nothing of it happens yet but a stop.
        if (entry == "LOAD")
            QTest::mouseClick(f.cmdRead, Qt::LeftButton);
        else if (entry == "SAVE")
            QTest::mouseClick(f.CmdSave, Qt::LeftButton);
        else if (entry == "Enter")
            typeEnter(f.txtKG[0], QStringLiteral("321"));
        else if (entry == "Stop")
            QTest::mouseClick(f.cmdCommStop, Qt::LeftButton);
        else if (entry == "RESET")
            QTest::mouseClick(f.Command1, Qt::LeftButton);
        else if (entry == "Select")
            QTest::mouseClick(f.CmdSelect, Qt::LeftButton);
        else if (entry == "Set Motion")
            QTest::mouseClick(f.cmdSetMotion, Qt::LeftButton);
        else if (entry == "close")
            f.close();
        else if (entry == "Timer5") {
            QTest::qWait(50);
            f.Timer5->setInterval(100000);
        }
        QCoreApplication::processEvents();
        if (entry == "readout") {
            // The scope window is not the line's: it answers at once.
            auto *plot = scope->findChild<ScopePlot *>();
            const auto *readout = scope->findChild<QLabel *>(QStringLiteral("readout"));
            const auto move = [plot](QPoint at) {
                QMouseEvent e(QEvent::MouseMove, at, plot->mapToGlobal(at), Qt::NoButton,
                              Qt::NoButton, Qt::NoModifier);
                QCoreApplication::sendEvent(plot, &e);
            };
            move(plot->rect().center());
            const QString before = readout->text();
            move(plot->rect().center() + QPoint(40, 0));
            QVERIFY2(!before.isEmpty() && readout->text() != before, qPrintable(before));
        }
        QVERIFY(f.isVisible());
        QCOMPARE(rig.messages.texts, QStringList());
        QCOMPARE(f.txtKG[0]->text() == "321", false);
        QCOMPARE(rig.held->lines(), sentBefore);

        rig.held->release();
        rig.settle();
        const QList<QByteArray> after = rig.held->lines().mid(sentBefore.size());

        if (outcome == "deferred edit") {
            QVERIFY(f.Timer2->isActive() && !f.Timer1->isActive());
            QVERIFY(!after.contains("WT 0 0 321"));
            QCOMPARE(f.pendingEdit(BoxArray::KG).PendingWrite, QStringLiteral("WT 0 0 321"));
        } else if (outcome.startsWith("deferred ")) {
            QCOMPARE(int(f.PendingAction), outcome.mid(9).toInt());
            QVERIFY(f.Timer5->isActive() && !f.Timer1->isActive());
            QVERIFY(!after.contains("SV") && !after.contains("RD 0 0"));
        } else if (outcome == "edit after" || outcome == "save after") {
            const QByteArray line = outcome == "edit after" ? "WT 0 0 321" : "SV";
            const QByteArray last = sequence == "load" ? "RD 4 1" : "RV 8";
            QVERIFY2(after.indexOf(line) > after.indexOf(last), after.join(' '));
            QVERIFY(!f.Timer2->isActive() && !f.Timer5->isActive());
            if (outcome == "edit after")
                QCOMPARE(f.txtKG[0]->text(), QStringLiteral("321"));
            else
                QCOMPARE(rig.messages.texts, QStringList { "SAVE OK" });
        } else if (outcome == "live") {
            QVERIFY(after.contains("RV 8"));
        } else if (outcome == "closed") {
            QVERIFY2(after.size() <= 1, after.join(' '));
            QCOMPARE(rig.messages.texts, QStringList { "Com Port Closed" });
            QVERIFY(f.cmdCommStart->isEnabled());
        } else if (outcome == "selected") {
            QCOMPARE(after.mid(0, 4), (QList<QByteArray> { "ST 1", "ST 1", "RV 8", "RV 10" }));
            QCOMPARE(rig.messages.texts, QStringList { "VCM Driver Board communication OK" });
        } else if (outcome == "gone") {
            QVERIFY(after.isEmpty());
            QTRY_VERIFY(!f.isVisible());
        } else if (outcome == "reset") {
            QVERIFY2(after.isEmpty(), after.join(' '));
            QVERIFY(f.Timer1->isActive());
            QCOMPARE(rig.messages.texts, QStringList());
            if (sequence == "write")
                QCOMPARE(f.txtKG[0]->text(), QStringLiteral("123"));
        } else if (outcome == "message after") {
            QCOMPARE(rig.messages.texts, QStringList { "Set Motion OK" });
            QCOMPARE(f.txtKG[0]->text(), QStringLiteral("123"));
        }
    }

    // During the tuner's capture the window and the scope window answer, nothing the operator
    // does reaches the line, and Abort ends that capture before its upload.
    void tunerCapture()
    {
        SimulatedLine sim({ 1 });
        HoldingPort *held = nullptr;
        RecordingMessages messages;
        Form1 f(std::make_unique<DriveLine>(
                    [&] {
                        auto p = std::make_unique<HoldingPort>(sim);
                        held = p.get();
                        return p;
                    },
                    sim),
                messages);
        const auto settle = [&f] {
            QTRY_VERIFY_WITH_TIMEOUT(f.lineIdle() && f.gate().waiting() == 0, 60000);
        };
        f.show();
        f.cmdCommStart->click();
        settle();
        f.Combo1->setEditText(QStringLiteral("1"));
        f.CmdSelect_Click();
        settle();
        // The simulator is the line's: touched only while the line is idle and nothing polls.
        f.Timer1->stop();
        settle();
        sim.station(1)->setUpDownMode(true);
        sim.station(1)->setServoInput(true);
        f.openScopeWindow();
        auto *scope = f.findChild<ScopeWindow *>();
        button(scope, QStringLiteral("&Tune..."))->click();
        TuneDialog *dialog = f.tuneDialog();
        QTemporaryDir dir;
        dialog->setBackupPath(dir.filePath(QStringLiteral("backup.vcmpar")));
        messages.texts.clear();

        held->holdAt("RN 0 1");
        button(dialog, QStringLiteral("&Start"))->click();
        QVERIFY(held->waitUntilHeld(std::chrono::seconds(10)));
        const QList<QByteArray> sentBefore = held->lines();

        f.Timer1_Timer();
        for (QWidget *w : std::initializer_list<QWidget *> { f.cmdRead, f.CmdSave, f.CmdSelect,
                                                             f.cmdCommStop, f.Command1 })
            QTest::mouseClick(w, Qt::LeftButton);
        typeEnter(f.txtKG[0], QStringLiteral("321"));
        f.resize(f.size() + QSize(10, 10));
        QCoreApplication::processEvents();
        auto *plot = scope->findChild<ScopePlot *>();
        QMouseEvent zoom(QEvent::MouseButtonDblClick, plot->rect().center(),
                         plot->mapToGlobal(plot->rect().center()), Qt::LeftButton,
                         Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(plot, &zoom);
        QCOMPARE(held->lines(), sentBefore);
        QCOMPARE(messages.texts, QStringList());
        button(dialog, QStringLiteral("&Abort"))->click();
        QCOMPARE(held->lines(), sentBefore);

        held->release();
        settle();
        const QList<QByteArray> after = held->lines().mid(sentBefore.size());
        QVERIFY2(!after.contains("RO") && !after.contains("ST 1") && !after.contains("WT 0 0 321"),
                 after.join(' ').constData());
        QVERIFY2(dialog->statusText().contains(QLatin1String("aborted")),
                 qPrintable(dialog->statusText()));
        QVERIFY(f.cmdCommStop->isEnabled() && f.Timer1->isActive());
        QCOMPARE(messages.texts, QStringList());
    }
};

QTEST_MAIN(TestForm1Line)
#include "tst_form1line.moc"
