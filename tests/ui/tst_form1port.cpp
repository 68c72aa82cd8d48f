// Start and Stop of the port frame, and the window's start and end, on real pseudo-terminals
// through the QSerialPort adapter and the real clock.
#include "Clock.h"
#include "Form1.h"
#include "Lamp.h"
#include "PtyPeer.h"
#include "RecordingMessages.h"
#include "SystemSerialPort.h"

#include <QTemporaryFile>
#include <QtTest>

#include <memory>

namespace {
// Enabled state of Start, Stop, Scan drive and Select, in that order.
QString portButtons(const Form1 &form)
{
    QString s;
    for (const QPushButton *b :
         { form.cmdCommStart, form.cmdCommStop, form.CmdScan, form.CmdSelect })
        s += b->isEnabled() ? QLatin1Char('1') : QLatin1Char('0');
    return s;
}

bool canOpen(const QString &path)
{
    SystemSerialPort other;
    other.setPortName(path);
    return other.open();
}

struct Rig {
    explicit Rig(const QString &portText = QStringLiteral("4"))
        : form(port, clock, messages, portText)
    {
    }
    SystemSerialPort port;
    SteadyClock clock;
    RecordingMessages messages;
    Form1 form;
};
} // namespace

class TestForm1Port final : public QObject {
    Q_OBJECT

private slots:
    void loadPutsWindowInDisconnectedState()
    {
        Rig rig;
        Form1 &f = rig.form;
        QCOMPARE(portButtons(f), QStringLiteral("1000"));
        for (QWidget *w : std::initializer_list<QWidget *> {
                 f.FrameCmdSource, f.cmdSet, f.FrameParaAdj, f.cmdRead, f.CmdSave, f.FrameScope[0],
                 f.cmdStart, f.cmdStop, f.cmdSetup, f.FrameMotion, f.cmdSetMotion })
            QVERIFY2(!w->isEnabled(), qPrintable(w->objectName()));
        for (QTimer *t : { f.Timer1, f.Timer2, f.Timer3, f.Timer4, f.Timer5 })
            QVERIFY(!t->isActive());
        QCOMPARE(f.Text1[0]->text() + f.Text1[1]->text(), QStringLiteral("200010000"));
        QVERIFY(!f.CheckTrig->isChecked() && !f.CheckContinuous->isChecked());
        QVERIFY(!f.ScopeRunning && f.PollIdle);
        QCOMPARE(f.Shape1->fillColor(), QColor(0, 128, 0));
        QVERIFY(rig.messages.texts.isEmpty());
    }

    void badPortTexts_data()
    {
        QTest::addColumn<QString>("text");
        QTest::newRow("zero") << QStringLiteral("0");
        QTest::newRow("missing device") << QStringLiteral("/dev/ttyNoSuchPort7");
        QTest::newRow("plain file") << QStringLiteral("file");
    }
    void badPortTexts()
    {
        QFETCH(QString, text);
        QTemporaryFile file;
        QVERIFY(file.open());
        Rig rig(text == QLatin1String("file") ? file.fileName() : text);
        rig.form.cmdCommStart->click();
        QCOMPARE(rig.messages.texts, QStringList { "Fail, COM Port does not exist!" });
        QVERIFY(!rig.form.PortOpened);
        QCOMPARE(portButtons(rig.form), QStringLiteral("1000"));
    }

    // A corrected port opens on the next Start, and belongs to the console until Stop, the
    // window's close or its end.
    void startAndStop()
    {
        PtyPeer drive([](const QByteArray &) { return QByteArray("   >"); });
        auto rig = std::make_unique<Rig>(QStringLiteral("/dev/ttyNoSuchPort7"));
        Form1 &f = rig->form;
        f.cmdCommStop_Click(); // closed: silent, the controls are reset all the same
        f.cmdCommStart->click();
        f.listComPort->setText(drive.path());
        f.cmdCommStart->click();
        QVERIFY(f.PortOpened);
        QCOMPARE(portButtons(f), QStringLiteral("0110"));
        QVERIFY(!canOpen(drive.path()));
        f.cmdCommStart_Click(); // disabled now, but RESET or a stale click reach it
        QCOMPARE(rig->messages.texts,
                 (QStringList { "Fail, COM Port does not exist!", "COM Port Open Success",
                                "COMM " + drive.path() + " has been opened" }));
        QVERIFY(rig->port.isOpen());

        f.CheckTrig->setChecked(true);
        f.CheckContinuous->setChecked(true);
        f.cmdSetMotion_Click();
        f.ResumePolling();
        f.cmdCommStop->click();
        QCOMPARE(rig->messages.last(), QStringLiteral("Com Port Closed"));
        QVERIFY(f.MotionMode == 0 && !f.MotionToggle);
        QCOMPARE(portButtons(f), QStringLiteral("1000"));
        QVERIFY(!f.Timer1->isActive());
        QVERIFY(!f.CheckTrig->isChecked() && !f.CheckContinuous->isChecked());
        QCOMPARE(f.Text1[0]->text() + f.Text1[1]->text(), QString());
        QVERIFY(f.PortOpened); // Stop leaves it as the last Start set it
        QVERIFY(canOpen(drive.path()));

        f.cmdCommStart->click();
        f.show();
        QVERIFY(f.close());
        QVERIFY(!rig->port.isOpen());
        QCOMPARE(rig->messages.last(), QStringLiteral("COM Port Open Success")); // closes quietly
        QVERIFY(canOpen(drive.path()));

        // Destroying an open window releases it too.
        rig = std::make_unique<Rig>(drive.path());
        rig->form.cmdCommStart->click();
        rig.reset();
        QVERIFY(canOpen(drive.path()));
    }
};

QTEST_MAIN(TestForm1Port)
#include "tst_form1port.moc"
