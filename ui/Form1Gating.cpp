// Locking the command buttons around an action, and deferring an action while a poll
// tick holds the line.
#include "Form1.h"

#include "SerialPort.h"

#include <QPushButton>
#include <QTimer>

void Form1::LockButtons()
{
    cmdCommStop->setEnabled(false);
    CmdScan->setEnabled(false);
    CmdSelect->setEnabled(false);
    cmdRead->setEnabled(false);
    CmdSave->setEnabled(false);

    SetWasEnabled = cmdSet->isEnabled();
    cmdSet->setEnabled(false);
    SetupWasEnabled = cmdSetup->isEnabled();
    cmdSetup->setEnabled(false);
    StartWasEnabled = cmdStart->isEnabled();
    cmdStart->setEnabled(false);
    StopWasEnabled = cmdStop->isEnabled();
    cmdStop->setEnabled(false);
}

void Form1::UnlockButtons()
{
    cmdCommStop->setEnabled(true);
    CmdScan->setEnabled(true);
    CmdSelect->setEnabled(true);
    cmdRead->setEnabled(true);
    CmdSave->setEnabled(true);

    cmdSet->setEnabled(SetWasEnabled);
    cmdSetup->setEnabled(SetupWasEnabled);
    cmdStart->setEnabled(StartWasEnabled);
    cmdStop->setEnabled(StopWasEnabled);
}

void Form1::ResumePolling()
{
    Timer1->setInterval(100);
    Timer1->start();
}

bool Form1::deferWhilePolling(Action action)
{
    LockButtons();
    if (PollIdle)
        return false;
    PendingAction = action;
    Timer1->stop();
    Timer5->start();
    UnlockButtons();
    return true;
}

void Form1::Timer5_Timer()
{
    Timer5->stop();
    // A port closed meanwhile (Stop, a failed selection) cancels the waiting action.
    if (!MSComm1.isOpen())
        return;
    switch (PendingAction) {
    case ActionSetup:
        cmdSetup_Click();
        break;
    case ActionCommandSource:
        cmdSet_Click();
        break;
    case ActionSave:
        CmdSave_Click();
        break;
    case ActionLoad:
        cmdRead_Click();
        break;
    default:
        break;
    }
}

// The actions' own work comes with the parameter, command-source and recorder features;
// until then each runs the gating frame alone.
void Form1::cmdSetup_Click()
{
    if (deferWhilePolling(ActionSetup))
        return;
    UnlockButtons();
}

void Form1::cmdSet_Click()
{
    if (deferWhilePolling(ActionCommandSource))
        return;
    UnlockButtons();
}

void Form1::CmdSave_Click()
{
    if (deferWhilePolling(ActionSave))
        return;
    UnlockButtons();
}

void Form1::cmdRead_Click()
{
    if (deferWhilePolling(ActionLoad))
        return;
    UnlockButtons();
}
