// Opening and closing the serial port, and the window's start and end.
#include "Form1.h"

#include "MessageSink.h"
#include "PortName.h"
#include "SerialPort.h"

#include <QCoreApplication>
#include <QTimer>

void Form1::cmdCommStart_Click()
{
    // The serial service cannot take a new name while the port is open.
    if (!MSComm1.isOpen())
        MSComm1.setPortName(portNameFromText(listComPort->text()).value_or(QString()));

    if (!MSComm1.isOpen()) {
        if (!MSComm1.open()) {
            m_messages.MsgBox(QStringLiteral("Fail, COM Port does not exist!"));
            PortOpened = false;
        } else {
            m_messages.MsgBox(QStringLiteral("COM Port Open Success"));
            PortOpened = true;
            QCoreApplication::processEvents();
        }
    } else {
        m_messages.MsgBox(QStringLiteral("COMM ") + listComPort->text()
                          + QStringLiteral(" has been opened"));
    }

    DelayDoEvents(100);

    if (PortOpened) {
        cmdCommStart->setEnabled(false);
        cmdCommStop->setEnabled(true);
        CmdScan->setEnabled(true);
    }
}

void Form1::cmdCommStop_Click()
{
    if (m_tuning)
        return;
    // All timers, not only the poller: deferred actions and writes must not run against
    // the closed port.
    stopTimers();
    m_waitingActions.clear();

    if (MSComm1.isOpen()) {
        MSComm1.close();
        m_messages.MsgBox(QStringLiteral("Com Port Closed"));
    }
    dropWaitingSet(QStringLiteral("the port was closed."));

    showDisconnected();

    PollIdle = true;
    m_comm.CommDone = true;
    ScopeRunning = false;
    m_selectedStation.reset();
    m_setupValid = false;
    resetTestMotion();

    CheckContinuous->setChecked(false);
    CheckTrig->setChecked(false);
    Text1[0]->clear();
    Text1[1]->clear();
}

void Form1::Form_Unload()
{
    releasePort();
}

void Form1::Form_Terminate()
{
    releasePort();
}

void Form1::releasePort()
{
    stopTimers();
    MSComm1.close();
    if (MSComm1.isOpen())
        MSComm1.close();
}
