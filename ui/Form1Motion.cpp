// The drive's command source, the link reset and the test motion.
#include "Form1.h"

#include "MessageSink.h"
#include "MotionSettings.h"

QCoro::Task<> Form1::cmdSet_Click()
{
    if (deferWhilePolling(ActionCommandSource))
        co_return;
    const EntryGate::Hold hold(m_gate);

    if (ServoOn) {
        m_messages.MsgBox(QStringLiteral(" You must servo off before changing command source"));
        // Nothing was sent: the buttons show the source the drive still follows.
        (UpDownMode ? Option2 : Option1)->setChecked(true);
        UnlockButtons();
        co_return;
    }

    const bool wasUpDown = UpDownMode;
    const bool motionWasEnabled = FrameMotion->isEnabledTo(this);
    const bool upDown = !Option1->isChecked();
    UpDownMode = upDown;
    FrameMotion->setEnabled(upDown);

    auto lineJob
        = m_line->run([upDown](DriveProcedures &drive) { return drive.setSource(upDown); });
    const bool set = co_await lineJob;
    if (set) {
        m_messages.MsgBox(QStringLiteral("SET OK"));
        UnlockButtons();
        co_return;
    }
    // The drive did not confirm: as far as we know it keeps its source, so test motions
    // must not be commanded on the strength of the new one, and the buttons show it.
    UpDownMode = wasUpDown;
    FrameMotion->setEnabled(motionWasEnabled);
    (wasUpDown ? Option2 : Option1)->setChecked(true);
    m_messages.MsgBox(QStringLiteral("SET failed"));
    UnlockButtons();
    ResumePolling();
}

QCoro::Task<> Form1::Command1_Click()
{
    if (m_tuning)
        co_return;
    const EntryGate::Hold hold(m_gate);
    Timer1->stop();
    // Whatever talked to the drive has ended at its next exchange (the click asked it to).
    auto lineJob = m_line->run([](DriveProcedures &drive) { return drive.resetPort(); });
    const bool reopened = co_await lineJob;
    m_portOpen = reopened;
    if (!reopened) {
        // Polling a port that is not there would only pretend the link is alive.
        m_messages.MsgBox(QStringLiteral("Fail, COM Port does not exist!"));
        co_return;
    }
    ResumePolling();
}

void Form1::resetTestMotion()
{
    const MotionSettings none;
    MotionMode = none.MotionMode;
    MotionToggle = none.MotionToggle;
    MotionValue1 = DefaultMotionValue1;
    MotionValue2 = DefaultMotionValue2;
}

void Form1::cmdSetMotion_Click()
{
    MotionSettings current;
    current.MotionMode = MotionMode;
    current.MotionValue1 = MotionValue1;
    current.MotionValue2 = MotionValue2;
    current.MotionToggle = MotionToggle;
    const MotionSettings next = decideMotion(CheckTrig->isChecked(), CheckContinuous->isChecked(),
                                             Text1[0]->text(), Text1[1]->text(), current);
    MotionMode = next.MotionMode;
    MotionValue1 = next.MotionValue1;
    MotionValue2 = next.MotionValue2;
    MotionToggle = next.MotionToggle;
    m_messages.MsgBox(QStringLiteral("Set Motion OK"));
}
