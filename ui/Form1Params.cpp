// The drive's gains, settings and positions: load, edit and write back, save.
#include "Form1.h"

#include "MessageSink.h"
#include "ParameterReply.h"
#include "VbStyle.h"
#include "WriteEcho.h"

#include <QLineEdit>
#include <QTimer>

QLineEdit *Form1::parameterBox(BoxArray array, int index) const
{
    switch (array) {
    case BoxArray::KG:
        return txtKG[index];
    case BoxArray::VG:
        return txtVG[index];
    case BoxArray::POS:
        return txtPOS[index];
    }
    return nullptr;
}

QCoro::Task<> Form1::cmdRead_Click()
{
    if (deferWhilePolling(ActionLoad))
        co_return;
    const EntryGate::Hold hold(m_gate);

    clearCompareMarks();
    for (int i : txtKG.indices())
        txtKG[i]->clear();
    for (int i : txtVG.indices())
        txtVG[i]->clear();

    auto lineJob = m_line->run([this](DriveProcedures &drive) {
        drive.loadParameters([this](const ParameterRead &read) {
            m_line->toWindow([this, read] { showParameterRead(read); });
        });
    });
    co_await lineJob;

    UnlockButtons();
}

void Form1::showParameterRead(const ParameterRead &read)
{
    const ParameterBox b = ParameterMap::boxAt(read.ordinal);
    QLineEdit *box = parameterBox(b.array, b.index);
    // A value longer than the box holds would show cut, in black, as if the drive held it.
    if (read.value && read.value->size() <= box->maxLength()) {
        RxValue = *read.value;
        box->setText(RxValue);
        setForeColor(box, vbColor(0x000000));
    } else {
        box->setText(QStringLiteral("ER"));
        setForeColor(box, vbColor(0x0000FF));
    }
}

QCoro::Task<> Form1::txtKG_KeyPress(std::int16_t Index, std::int16_t KeyAscii)
{
    return editKeyPress(BoxArray::KG, Index, KeyAscii);
}

QCoro::Task<> Form1::txtVG_KeyPress(std::int16_t Index, std::int16_t KeyAscii)
{
    return editKeyPress(BoxArray::VG, Index, KeyAscii);
}

QCoro::Task<> Form1::txtPOS_KeyPress(std::int16_t Index, std::int16_t KeyAscii)
{
    return editKeyPress(BoxArray::POS, Index, KeyAscii);
}

QTimer *Form1::readBackTimer(BoxArray array) const
{
    switch (array) {
    case BoxArray::KG:
        return Timer2;
    case BoxArray::POS:
        return Timer3;
    case BoxArray::VG:
        return Timer4;
    }
    return nullptr;
}

namespace {
struct EchoedWrite {
    std::optional<WriteEcho> echo;
    QString held;
};
} // namespace

QCoro::Task<> Form1::editKeyPress(BoxArray array, std::int16_t index, std::int16_t keyAscii)
{
    QLineEdit *box = parameterBox(array, index);
    clearCompareMark(box);
    setForeColor(box, vbColor(0x0000FF));
    if (keyAscii != 13)
        co_return;

    LockButtons();
    const QString command = ParameterMap::writeCommand(array, index, box->text());
    if (!lineFree()) {
        PendingEdit &pending = pendingEdit(array);
        pending.PendingWrite = command;
        pending.EditIndex = index;
        Timer1->stop();
        readBackTimer(array)->start();
        UnlockButtons();
        co_return;
    }
    const EntryGate::Hold hold(m_gate);

    // The echo is compared with the box as it reads when the write goes out.
    auto lineJob = m_line->run([command, text = box->text()](DriveProcedures &drive) {
        EchoedWrite r;
        r.echo = drive.writeEchoed(command, Timing::Paced, text, &r.held);
        return r;
    });
    const EchoedWrite w = co_await lineJob;
    RxValue = w.held;
    showWriteOutcome(box, w.echo, QStringLiteral("ERR"), QStringLiteral("ER"));
    UnlockButtons();
}

void Form1::showWriteOutcome(QLineEdit *box, std::optional<WriteEcho> echo,
                             const QString &noPromptMark, const QString &refusedMark)
{
    if (echo == WriteEcho::Confirmed) {
        setForeColor(box, vbColor(0x000000));
        return;
    }
    box->setText(echo ? refusedMark : noPromptMark);
    setForeColor(box, vbColor(0x0000FF));
}

QCoro::Task<> Form1::Timer2_Timer()
{
    return writeBack(BoxArray::KG, Timer2);
}

QCoro::Task<> Form1::Timer3_Timer()
{
    return writeBack(BoxArray::POS, Timer3);
}

QCoro::Task<> Form1::Timer4_Timer()
{
    return writeBack(BoxArray::VG, Timer4);
}

QCoro::Task<> Form1::writeBack(BoxArray array, QTimer *timer)
{
    if (!lineFree())
        co_return;
    timer->stop();
    // Stop closed the port meanwhile: the edit is dropped with the link.
    if (!m_portOpen)
        co_return;
    const EntryGate::Hold hold(m_gate, timer);

    const PendingEdit &pending = pendingEdit(array);
    QLineEdit *box = parameterBox(array, pending.EditIndex);
    // Settings go out whole; gains and positions one character at a time. The echo is compared
    // with the box as it reads now, which may have been typed into again.
    const ExchangeTiming &routine = array == BoxArray::VG ? Timing::Long : Timing::Paced;
    auto lineJob = m_line->run(
        [command = pending.PendingWrite, &routine, text = box->text()](DriveProcedures &drive) {
            EchoedWrite r;
            r.echo = drive.writeEchoed(command, routine, text, &r.held);
            return r;
        });
    const EchoedWrite w = co_await lineJob;
    RxValue = w.held;
    showWriteOutcome(box, w.echo, QStringLiteral("KR"), QStringLiteral("KRR"));
    ResumePolling();
}

QCoro::Task<> Form1::CmdSave_Click()
{
    if (deferWhilePolling(ActionSave))
        co_return;
    const EntryGate::Hold hold(m_gate);
    // The window counts the prompt alone, as the drive's own console did; the tool also reads
    // the reply for a refusal.
    auto lineJob = m_line->run([](DriveProcedures &drive) {
        return drive.save() || drive.failure().kind == DriveFailure::Kind::Refused;
    });
    const bool saved = co_await lineJob;
    if (saved) {
        m_messages.MsgBox(QStringLiteral("SAVE OK"));
        UnlockButtons();
        co_return;
    }
    m_messages.MsgBox(QStringLiteral("SAVE failed"));
    UnlockButtons();
    ResumePolling();
}
