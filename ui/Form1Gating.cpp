// Locking the command buttons around an action, and deferring an action while a poll
// tick holds the line.
#include "Form1.h"

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
    // A tuning run holds the lock from its start to its end; what locks inside it nests.
    if (m_tuning)
        return;
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
    if (m_tuning)
        return;
    cmdCommStop->setEnabled(true);
    // A scan in progress keeps the line addressed to other stations: no second scan and no
    // selection until it has ended.
    CmdScan->setEnabled(!m_scanning);
    CmdSelect->setEnabled(!m_scanning);
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
    if (lineFree()) {
        m_waitingActions.removeAll(action);
        return false;
    }
    // A second action pressed during the same tick waits behind the first instead of
    // replacing it: a save must not vanish because a load was clicked after it.
    if (!m_waitingActions.contains(action))
        m_waitingActions.append(action);
    PendingAction = m_waitingActions.first();
    Timer1->stop();
    Timer5->start();
    UnlockButtons();
    return true;
}

void Form1::dropWaitingWork()
{
    Timer2->stop();
    Timer3->stop();
    Timer4->stop();
    Timer5->stop();
    m_waitingActions.clear();
    dropWaitingSet(QStringLiteral("another station was selected."));
}

QCoro::Task<> Form1::Timer5_Timer()
{
    Timer5->stop();
    // A port closed meanwhile (Stop, a failed selection) cancels the waiting actions.
    if (!m_portOpen) {
        m_waitingActions.clear();
        dropWaitingSet(QStringLiteral("the port was closed."));
        co_return;
    }
    const EntryGate::Hold hold(m_gate, Timer5);
    switch (PendingAction) {
    case ActionSetup: {
        auto task = cmdSetup_Click();
        co_await task;
        break;
    }
    case ActionCommandSource: {
        auto task = cmdSet_Click();
        co_await task;
        break;
    }
    case ActionSave: {
        auto task = CmdSave_Click();
        co_await task;
        break;
    }
    case ActionLoad: {
        auto task = cmdRead_Click();
        co_await task;
        break;
    }
    case ActionWriteSet: {
        auto task = writeParameterSet();
        co_await task;
        break;
    }
    case ActionLoadSet: {
        auto task = loadSetIntoDrive();
        co_await task;
        break;
    }
    case ActionSaveSet: {
        auto task = saveDriveParameterSet();
        co_await task;
        break;
    }
    case ActionTune: {
        auto task = startTuning();
        co_await task;
        break;
    }
    case ActionRestoreGains: {
        auto task = restoreOriginalGains();
        co_await task;
        break;
    }
    default:
        m_waitingActions.clear();
        co_return;
    }
    if (!Timer5->isActive() && !m_waitingActions.isEmpty()) {
        PendingAction = m_waitingActions.first();
        Timer5->start();
        co_return;
    }
    // An action that waited for a tick stopped the poller; once it has run, the lamps and
    // read-outs must not freeze while still looking live.
    if (!Timer5->isActive() && !Timer1->isActive() && m_portOpen)
        ResumePolling();
}
