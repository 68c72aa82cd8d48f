#include "Clock.h"
#include "Form1.h"
#include "Lamp.h"
#include "PtyPeer.h"
#include "RecordingMessages.h"
#include "SystemSerialPort.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryFile>
#include <QTimer>
#include <QtTest>

#include <memory>

namespace {
QByteArray quietDrive(const QByteArray &)
{
    return "   >";
}

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
    const bool ok = other.open();
    other.close();
    return ok;
}
} // namespace

// Start and Stop of the port frame, on real pseudo-terminals through the QSerialPort
// adapter and the real clock.
class TestForm1Port final : public QObject {
    Q_OBJECT

private:
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

private slots:
    void loadPutsWindowInDisconnectedState()
    {
        Rig rig;
        Form1 &f = rig.form;
        QCOMPARE(f.listComPort->text(), QStringLiteral("4"));
        QCOMPARE(portButtons(f), QStringLiteral("1000"));
        for (QWidget *w : std::initializer_list<QWidget *> {
                 f.FrameCmdSource, f.cmdSet, f.FrameParaAdj, f.cmdRead, f.CmdSave, f.FrameScope[0],
                 f.cmdStart, f.cmdStop, f.cmdSetup, f.FrameMotion, f.cmdSetMotion })
            QVERIFY2(!w->isEnabled(), qPrintable(w->objectName()));
        for (QTimer *t : { f.Timer1, f.Timer2, f.Timer3, f.Timer4, f.Timer5 })
            QVERIFY(!t->isActive());
        QCOMPARE(f.Text1[0]->text(), QStringLiteral("2000"));
        QCOMPARE(f.Text1[1]->text(), QStringLiteral("10000"));
        QCOMPARE(f.Shape1->fillColor(), QColor(0, 128, 0));
        QCOMPARE(f.FirstChannel, std::int16_t(10));
        QVERIFY(f.PollIdle);
        QVERIFY(f.CommDone());
        QVERIFY(rig.messages.texts.isEmpty());
    }

    void startOpensThePort()
    {
        PtyPeer drive(quietDrive);
        Rig rig(drive.path());
        rig.form.cmdCommStart->click();
        QCOMPARE(rig.messages.texts, QStringList { QStringLiteral("COM Port Open Success") });
        QVERIFY(rig.form.PortOpened);
        QVERIFY(rig.port.isOpen());
        QCOMPARE(portButtons(rig.form), QStringLiteral("0110"));
        // The port now belongs to the console.
        QVERIFY(!canOpen(drive.path()));
    }

    void badPortTexts_data()
    {
        QTest::addColumn<QString>("text");
        QTest::newRow("word") << QStringLiteral("abc");
        QTest::newRow("empty") << QString();
        QTest::newRow("zero") << QStringLiteral("0");
        QTest::newRow("too large") << QStringLiteral("99999");
        QTest::newRow("missing device") << QStringLiteral("/dev/ttyNoSuchPort7");
        QTest::newRow("directory") << QStringLiteral("/dev/");
    }
    void badPortTexts()
    {
        QFETCH(QString, text);
        Rig rig(text);
        rig.form.cmdCommStart->click();
        QCOMPARE(rig.messages.texts,
                 QStringList { QStringLiteral("Fail, COM Port does not exist!") });
        QVERIFY(!rig.form.PortOpened);
        QCOMPARE(portButtons(rig.form), QStringLiteral("1000"));
    }

    void fileThatIsNoSerialDevice()
    {
        QTemporaryFile file;
        QVERIFY(file.open());
        Rig rig(file.fileName());
        rig.form.cmdCommStart->click();
        QCOMPARE(rig.messages.last(), QStringLiteral("Fail, COM Port does not exist!"));
        QCOMPARE(portButtons(rig.form), QStringLiteral("1000"));
    }

    void startAgainAfterCorrectingThePort()
    {
        PtyPeer drive(quietDrive);
        Rig rig(QStringLiteral("/dev/ttyNoSuchPort7"));
        rig.form.cmdCommStart->click();
        rig.form.listComPort->setText(drive.path());
        rig.form.cmdCommStart->click();
        QCOMPARE(rig.messages.texts,
                 (QStringList { QStringLiteral("Fail, COM Port does not exist!"),
                                QStringLiteral("COM Port Open Success") }));
        QCOMPARE(portButtons(rig.form), QStringLiteral("0110"));
    }

    void startWhileOpenSaysSo()
    {
        PtyPeer drive(quietDrive);
        Rig rig(drive.path());
        rig.form.cmdCommStart->click();
        // Start is disabled now; the handler can still be reached (RESET, a stale click).
        rig.form.cmdCommStart_Click();
        QCOMPARE(rig.messages.last(),
                 QStringLiteral("COMM ") + drive.path() + QStringLiteral(" has been opened"));
        QVERIFY(rig.port.isOpen());
        QCOMPARE(portButtons(rig.form), QStringLiteral("0110"));
    }

    void stopClosesAndResets()
    {
        PtyPeer drive(quietDrive);
        Rig rig(drive.path());
        rig.form.cmdCommStart->click();
        rig.form.CheckTrig->setChecked(true);
        rig.form.CheckContinuous->setChecked(true);
        rig.form.ResumePolling();
        rig.form.cmdCommStop->click();
        QCOMPARE(rig.messages.last(), QStringLiteral("Com Port Closed"));
        QCOMPARE(portButtons(rig.form), QStringLiteral("1000"));
        QVERIFY(!rig.form.Timer1->isActive());
        QVERIFY(!rig.form.CheckTrig->isChecked());
        QVERIFY(!rig.form.CheckContinuous->isChecked());
        QVERIFY(rig.form.Text1[0]->text().isEmpty());
        QVERIFY(rig.form.Text1[1]->text().isEmpty());
        QVERIFY(rig.form.PortOpened); // Stop leaves it as the last Start set it
        QVERIFY(canOpen(drive.path()));
    }

    void stopOnClosedPortIsSilent()
    {
        Rig rig;
        rig.form.CmdSave->setEnabled(true);
        rig.form.cmdCommStop_Click();
        QVERIFY(rig.messages.texts.isEmpty());
        QVERIFY(!rig.form.CmdSave->isEnabled());
        QCOMPARE(portButtons(rig.form), QStringLiteral("1000"));
    }

    void closingTheWindowReleasesThePort()
    {
        PtyPeer drive(quietDrive);
        auto rig = std::make_unique<Rig>(drive.path());
        rig->form.cmdCommStart->click();
        rig->form.show();
        QVERIFY(rig->form.close());
        QVERIFY(!rig->port.isOpen());
        QCOMPARE(rig->messages.texts.size(), 1);
        QVERIFY(canOpen(drive.path()));

        // Destroying an open window releases it too.
        rig = std::make_unique<Rig>(drive.path());
        rig->form.cmdCommStart->click();
        QVERIFY(!canOpen(drive.path()));
        rig.reset();
        QVERIFY(canOpen(drive.path()));
    }
};

QTEST_MAIN(TestForm1Port)
#include "tst_form1port.moc"
