// Opening and closing the serial port, and the window's start and end.
#include "Form1.h"

#include "MessageSink.h"
#include "PortName.h"

#include <QTimer>

QCoro::Task<> Form1::cmdCommStart_Click()
{
    const EntryGate::Hold hold(m_gate);
    const QString name = portNameFromText(listComPort->text()).value_or(QString());
    const bool wasOpen = m_portOpen;
    // The serial service cannot take a new name while the port is open.
    auto lineJob = m_line->run([name](DriveProcedures &drive) { return drive.openPort(name); });
    const bool open = co_await lineJob;

    if (!wasOpen) {
        m_portOpen = open;
        if (!open) {
            m_messages.MsgBox(QStringLiteral("Fail, COM Port does not exist!"));
            PortOpened = false;
        } else {
            m_messages.MsgBox(QStringLiteral("COM Port Open Success"));
            PortOpened = true;
            m_gate.eventPoint();
        }
    } else {
        m_messages.MsgBox(QStringLiteral("COMM ") + listComPort->text()
                          + QStringLiteral(" has been opened"));
    }

    auto task = DelayDoEvents(100);
    co_await task;

    if (PortOpened) {
        cmdCommStart->setEnabled(false);
        cmdCommStop->setEnabled(true);
        CmdScan->setEnabled(true);
    }
}

QCoro::Task<> Form1::cmdCommStop_Click()
{
    if (m_tuning)
        co_return;
    const EntryGate::Hold hold(m_gate);
    // All timers, not only the poller: deferred actions and writes must not run against
    // the closed port.
    stopTimers();
    m_waitingActions.clear();

    if (m_portOpen) {
        // Whatever still talks to the drive ends at its next exchange.
        m_line->requestStop();
        auto lineJob = m_line->run([](DriveProcedures &drive) { drive.closePort(); });
        co_await lineJob;
        m_portOpen = false;
        m_messages.MsgBox(QStringLiteral("Com Port Closed"));
    }
    dropWaitingSet(QStringLiteral("the port was closed."));

    showDisconnected();

    PollIdle = true;
    ScopeRunning = false;
    m_selectedStation.reset();
    m_setupValid = false;
    resetTestMotion();

    CheckContinuous->setChecked(false);
    CheckTrig->setChecked(false);
    Text1[0]->clear();
    Text1[1]->clear();
}

QCoro::Task<> Form1::DelayDoEvents(std::int32_t msecond)
{
    const EntryGate::Open open(m_gate);
    auto lineJob
        = m_line->run([msecond](DriveProcedures &drive) { drive.pauseTakingEvents(msecond); });
    co_await lineJob;
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
    // Nothing is sent after the window has gone.
    m_line->requestStop();
    m_portOpen = false;
    m_line->run([](DriveProcedures &drive) { drive.closePort(); });
}
