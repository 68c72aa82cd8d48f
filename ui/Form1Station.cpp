// Finding the drives on the line and selecting one.
#include "Form1.h"

#include "Lamp.h"
#include "MessageSink.h"
#include "ReplyValue.h"
#include "SerialPort.h"
#include "Station.h"
#include "StatusWord.h"
#include "VbStyle.h"

#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScopedValueRollback>
#include <QTimer>

void Form1::CmdScan_Click()
{
    // One scan at a time: a nested one would end the outer one's hold on the line.
    if (m_scanning || m_tuning)
        return;
    // While the scan addresses other stations, poll ticks are skipped and every other
    // exchange waits (lineFree) until the selected station is addressed again.
    m_scanning = true;
    CmdScan->setEnabled(false);
    CmdSelect->setEnabled(false);
    Combo1->clear();
    for (int n = 0; n <= 15; ++n) {
        // Stop (or a failed selection) closed the port while the scan processed events.
        if (!MSComm1.isOpen())
            break;
        SendCmd(stationCommand(n));
        if (SendCmd(stationCommand(n)))
            Combo1->addItem(QString::number(n));
        Label8->setText(QString::number(n));
        QCoreApplication::processEvents();
    }
    // Leave the line addressed to the drive the poller watches.
    if (m_selectedStation && MSComm1.isOpen()) {
        SendCmd(stationCommand(*m_selectedStation));
        SendCmd(stationCommand(*m_selectedStation));
    }
    m_scanning = false;

    if (!MSComm1.isOpen())
        return;
    CmdScan->setEnabled(true);
    if (Combo1->count() > 0)
        CmdSelect->setEnabled(true);
}

void Form1::CmdSelect_Click()
{
    // A tuning run is not interrupted halfway: it ends with its write-back.
    if (m_scanning || m_selecting || m_tuning)
        return;
    Timer1->stop();
    // Nothing talks to the drive during the wait below. What waits after it, deferred before
    // the click or clicked meanwhile, was meant for the drive shown before: it is dropped.
    const QScopedValueRollback<bool> selecting(m_selecting, true);
    DelayDoEvents(500);
    dropWaitingWork();

    const std::optional<std::int16_t> station = stationFromText(Combo1->currentText());
    // A station text that is no number is treated as a station that does not answer.
    bool answered = false;
    if (station) {
        SendCmd(stationCommand(*station));
        answered = SendCmd(stationCommand(*station));
    }
    if (!answered) {
        cmdCommStop_Click();
        return;
    }
    m_selectedStation = station;
    // Another drive answers now: the test motion and the recorder set-up in force were the
    // previous drive's, also if the selection fails further on.
    resetTestMotion();
    m_setupValid = false;
    ScopeRunning = false;

    const bool statusRead = CommDone() && SendCmdLong(QStringLiteral("RV 8"));
    const std::optional<std::int16_t> status = statusRead ? hexWord(RxBuffer()) : std::nullopt;
    if (!status) {
        m_messages.MsgBox(QStringLiteral("Communication error write\r\n") + RxBuffer());
        cmdCommStop_Click();
        return;
    }
    if (decodeStatusWord(*status).servoOn) {
        m_messages.MsgBox(QStringLiteral(" You must servo off before start."));
        ServoOn = true;
        cmdCommStop_Click();
        return;
    }

    ServoOn = false;
    const bool sourceRead = CommDone() && SendCmdLong(QStringLiteral("RV 10"));
    const std::optional<std::int16_t> source = sourceRead ? hexWord(RxBuffer()) : std::nullopt;
    if (!source) {
        m_messages.MsgBox(QStringLiteral("Communication error\r\n") + RxBuffer());
        return;
    }
    if (upDownSource(*source)) {
        Option2->setChecked(true);
        UpDownMode = true;
        FrameMotion->setEnabled(true);
    } else {
        Option1->setChecked(true);
        UpDownMode = false;
        FrameMotion->setEnabled(false);
    }

    Delay(50);
    m_messages.MsgBox(QStringLiteral("VCM Driver Board communication OK"));

    FrameCmdSource->setEnabled(true);
    cmdSet->setEnabled(true);
    FrameParaAdj->setEnabled(true);
    cmdRead->setEnabled(true);
    CmdSave->setEnabled(true);
    FrameScope[0]->setEnabled(true);
    cmdStart->setEnabled(false);
    cmdStop->setEnabled(false);
    cmdSetup->setEnabled(false);

    PollIdle = true;
    m_comm.CommDone = true;
    ScopeRunning = false;
    m_selecting = false;

    cmdRead_Click();
    ResumePolling();

    Shape1->setFillColor(vbColor(0x0000FF));

    CheckContinuous->setChecked(false);
    CheckTrig->setChecked(false);
    Text1[0]->setText(QStringLiteral("2000"));
    Text1[1]->setText(QStringLiteral("10000"));
}
