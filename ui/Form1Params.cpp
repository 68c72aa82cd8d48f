// The drive's gains, settings and positions: load, edit and write back, save.
#include "Form1.h"

#include "MessageSink.h"
#include "ParameterReply.h"
#include "SerialPort.h"
#include "VbStyle.h"
#include "WriteEcho.h"

#include <QLineEdit>

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

void Form1::cmdRead_Click()
{
    if (deferWhilePolling(ActionLoad))
        return;

    clearCompareMarks();
    for (int i : txtKG.indices())
        txtKG[i]->clear();
    for (int i : txtVG.indices())
        txtVG[i]->clear();

    for (const ParameterBox &box : ParameterMap::loadOrder())
        readParameter(box.array, box.index);

    UnlockButtons();
}

void Form1::readParameter(BoxArray array, int index)
{
    QLineEdit *box = parameterBox(array, index);
    const bool ok = CommDone() && SendCmdLong(ParameterMap::readCommand(array, index));
    const std::optional<QString> value = ok ? parameterValue(RxBuffer()) : std::nullopt;
    // A value longer than the box holds would show cut, in black, as if the drive held it.
    if (value && value->size() <= box->maxLength()) {
        RxValue = *value;
        box->setText(RxValue);
        setForeColor(box, vbColor(0x000000));
    } else {
        box->setText(QStringLiteral("ER"));
        setForeColor(box, vbColor(0x0000FF));
    }
}

void Form1::txtKG_KeyPress(std::int16_t Index, std::int16_t KeyAscii)
{
    editKeyPress(BoxArray::KG, Index, KeyAscii);
}

void Form1::txtVG_KeyPress(std::int16_t Index, std::int16_t KeyAscii)
{
    editKeyPress(BoxArray::VG, Index, KeyAscii);
}

void Form1::txtPOS_KeyPress(std::int16_t Index, std::int16_t KeyAscii)
{
    editKeyPress(BoxArray::POS, Index, KeyAscii);
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

void Form1::editKeyPress(BoxArray array, std::int16_t index, std::int16_t keyAscii)
{
    QLineEdit *box = parameterBox(array, index);
    clearCompareMark(box);
    setForeColor(box, vbColor(0x0000FF));
    if (keyAscii != 13)
        return;

    LockButtons();
    const QString command = ParameterMap::writeCommand(array, index, box->text());
    if (!lineFree()) {
        PendingEdit &pending = pendingEdit(array);
        pending.PendingWrite = command;
        pending.EditIndex = index;
        Timer1->stop();
        readBackTimer(array)->start();
        UnlockButtons();
        return;
    }

    const bool answered = CommDone() && SendCmdPaced(command);
    showWriteOutcome(box, answered, QStringLiteral("ERR"), QStringLiteral("ER"));
    UnlockButtons();
}

WriteEcho Form1::showWriteOutcome(QLineEdit *box, bool answered, const QString &noPromptMark,
                                  const QString &refusedMark)
{
    // The echo is compared with the box as it reads now, which may have been typed into again.
    const WriteEcho echo
        = answered ? judgeWriteEcho(RxBuffer(), box->text(), &RxValue) : WriteEcho::NoValue;
    if (echo == WriteEcho::Confirmed) {
        setForeColor(box, vbColor(0x000000));
        return echo;
    }
    box->setText(answered ? refusedMark : noPromptMark);
    setForeColor(box, vbColor(0x0000FF));
    return echo;
}

void Form1::Timer2_Timer()
{
    writeBack(BoxArray::KG, Timer2);
}

void Form1::Timer3_Timer()
{
    writeBack(BoxArray::POS, Timer3);
}

void Form1::Timer4_Timer()
{
    writeBack(BoxArray::VG, Timer4);
}

void Form1::writeBack(BoxArray array, QTimer *timer)
{
    if (!lineFree())
        return;
    timer->stop();
    // Stop closed the port meanwhile: the edit is dropped with the link.
    if (!MSComm1.isOpen())
        return;

    const PendingEdit &pending = pendingEdit(array);
    QLineEdit *box = parameterBox(array, pending.EditIndex);
    // Settings go out whole; gains and positions one character at a time.
    const bool answered = CommDone()
        && (array == BoxArray::VG ? SendCmdLong(pending.PendingWrite)
                                  : SendCmdPaced(pending.PendingWrite));
    showWriteOutcome(box, answered, QStringLiteral("KR"), QStringLiteral("KRR"));
    ResumePolling();
}

void Form1::CmdSave_Click()
{
    if (deferWhilePolling(ActionSave))
        return;
    if (CommDone() && SendCmdPaced(QStringLiteral("SV"))) {
        m_messages.MsgBox(QStringLiteral("SAVE OK"));
        UnlockButtons();
        return;
    }
    m_messages.MsgBox(QStringLiteral("SAVE failed"));
    UnlockButtons();
    ResumePolling();
}
