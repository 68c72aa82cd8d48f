// Locking the command buttons around an action, and deferring an action while a poll
// tick holds the line.
#include "Form1.h"

#include "SerialPort.h"

#include <QPushButton>
#include <QTimer>

namespace {
// A button's own Enabled flag, whatever its frame's state.
bool enabledFlag(const QWidget *w)
{
    return w->isEnabledTo(w->parentWidget());
}
} // namespace

void Form1::LockButtons()
{
    cmdCommStop->setEnabled(false);
    CmdScan->setEnabled(false);
    CmdSelect->setEnabled(false);
    cmdRead->setEnabled(false);
    CmdSave->setEnabled(false);

    SetWasEnabled = enabledFlag(cmdSet);
    cmdSet->setEnabled(false);
    SetupWasEnabled = enabledFlag(cmdSetup);
    cmdSetup->setEnabled(false);
    StartWasEnabled = enabledFlag(cmdStart);
    cmdStart->setEnabled(false);
    StopWasEnabled = enabledFlag(cmdStop);
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
        return;
    }
    // An action that waited for a tick stopped the poller; once it has run, the lamps and
    // read-outs must not freeze while still looking live.
    if (!Timer5->isActive() && !Timer1->isActive() && MSComm1.isOpen())
        ResumePolling();
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
