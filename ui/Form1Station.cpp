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
#include <QTimer>

void Form1::CmdScan_Click()
{
    // Poll ticks that fall into the scan's event processing are skipped: they would talk
    // to whichever station the scan addressed last.
    m_scanning = true;
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
    m_scanning = false;

    if (!MSComm1.isOpen())
        return;
    if (Combo1->count() > 0)
        CmdSelect->setEnabled(true);
    // Leave the line addressed to the drive the poller watches.
    if (m_selectedStation) {
        SendCmd(stationCommand(*m_selectedStation));
        SendCmd(stationCommand(*m_selectedStation));
    }
}

void Form1::CmdSelect_Click()
{
    Timer1->stop();
    DelayDoEvents(500);

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

    cmdRead_Click();
    ResumePolling();

    Shape1->setFillColor(vbColor(0x0000FF));

    CheckContinuous->setChecked(false);
    CheckTrig->setChecked(false);
    Text1[0]->setText(QStringLiteral("2000"));
    Text1[1]->setText(QStringLiteral("10000"));
}
