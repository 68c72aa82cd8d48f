// The poll tick and the status lamps.
#include "Form1.h"

#include "GraphSurface.h"
#include "Lamp.h"
#include "MessageSink.h"
#include "MotionSettings.h"
#include "RecorderSetup.h"
#include "ReplyValue.h"
#include "StatusWord.h"
#include "VbStyle.h"

#include <QGroupBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>

namespace {
const QColor LampRed = vbColor(0x0000FF);
const QColor LampGreen = vbColor(0x00FF00);
const QColor TextBlack = vbColor(0x000000);
const QColor TextRed = vbColor(0x0000FF);
} // namespace

QCoro::Task<> Form1::Timer1_Timer()
{
    // Nothing polls while the tuner holds the line.
    if (m_tuning)
        co_return;
    const EntryGate::Hold hold(m_gate, Timer1);

    PollIdle = false;
    Timer1->setInterval(ScopeRunning ? 2500 : 1500);
    m_gate.eventPoint();

    // Stop pressed at that point: nothing left to poll.
    if (!m_portOpen) {
        endTick();
        co_return;
    }
    const bool toggle = MotionToggle;
    const PollRequest request = pollRequest();
    auto lineJob = m_line->run([this, request](DriveProcedures &drive) {
        PollEvents events;
        events.recorded = [this](const Record &record) {
            m_line->toWindow([this, record] { drawRecord(record); });
        };
        events.variable = [this](int n, const QString &value) {
            m_line->toWindow([this, n, value] { showVariable(n, value); });
        };
        return drive.pollTick(request, events);
    });
    const PollResult result = co_await lineJob;
    // The alternation moves on only once the recorder is armed and the motion is due.
    if (result.failed == PollResult::Failed::Arm)
        MotionToggle = toggle;
    if (result.failed == PollResult::Failed::None)
        pollStatusRead(result);
    else
        pollFailed(result);
    endTick();
}

PollRequest Form1::pollRequest()
{
    PollRequest request;
    if (!ScopeRunning || DriveNotReady)
        return request;
    request.capture = true;
    Shape1->setFillColor(vbColor(0x000080));
    Shape1->repaint();

    if (MotionMode != 0 && testMotionAllowed(UpDownMode, ServoOn, DI1On)) {
        // The toggle flips before the motion goes out, also when it then fails (not when the
        // recorder could not be armed: the motion is not sent then).
        if (MotionMode == 1) {
            request.motionTarget = MotionValue1;
        } else if (MotionToggle) {
            request.motionTarget = MotionValue1;
            MotionToggle = false;
        } else {
            request.motionTarget = MotionValue2;
            MotionToggle = true;
        }
    }
    request.recordWaitMs = RecordWaitMs;
    RecordShape shape;
    shape.recordLength = RecordLength == 256 ? 256 : 512;
    shape.dio = chkBox[7]->isChecked();
    shape.step = sampleStep(Check_VCRR->isChecked());
    request.shape = shape;
    // Named with the shape, before a click taken during the capture can change the boxes.
    m_tickShape = shape;
    int named = 0;
    m_tickNames[0].clear();
    m_tickNames[1].clear();
    for (int i : chkBox.indices()) {
        if (chkBox[i]->isChecked() && named < 2)
            m_tickNames[named++] = channelName(i);
    }
    return request;
}

void Form1::showVariable(int n, const QString &value)
{
    RxValue = value;
    txtRG[n + 1]->setText(RxValue);
    setForeColor(txtRG[n + 1], TextBlack);
}

void Form1::pollFailed(const PollResult &result)
{
    switch (result.failed) {
    case PollResult::Failed::None:
    case PollResult::Failed::Stopped:
        // Stop, RESET or Select ended the tick: they say what they have to say.
        return;
    case PollResult::Failed::Arm:
        m_messages.MsgBox(QStringLiteral("Communication error enable recoder\r\n") + result.reply);
        return;
    case PollResult::Failed::Motion:
        m_messages.MsgBox(QStringLiteral("Communication error motion\r\n") + result.reply);
        return;
    case PollResult::Failed::Upload:
        m_messages.MsgBox(QStringLiteral("Communication error of read output\r\n") + result.reply);
        return;
    case PollResult::Failed::Record:
        // The plot was cleared for the record that could not be read.
        Graph1->setDisplayList(DisplayList());
        m_messages.MsgBox(QStringLiteral("Communication error\r\n") + result.reply);
        return;
    case PollResult::Failed::Variable:
        RxValue.clear();
        txtRG[result.variable + 1]->setText(QStringLiteral("ER"));
        setForeColor(txtRG[result.variable + 1], TextRed);
        m_messages.MsgBox(QStringLiteral("Communication error\r\n") + result.reply);
        return;
    case PollResult::Failed::Status:
        // A garbled status word is no status word: lamps and flags keep their state.
        RxValue.clear();
        m_messages.MsgBox(QStringLiteral("Communication error\r\n") + result.reply);
        return;
    }
}

void Form1::pollStatusRead(const PollResult &result)
{
    RxValue = result.statusText;
    STA_translate(RxValue);

    const bool motionAllowed = ServoOn && !DI1On;
    FrameMotion->setEnabled(motionAllowed);
    cmdSetMotion->setEnabled(motionAllowed);

    DriveNotReady = !driveReady(result.status);

    if (MotionMode == 1)
        cmdStop_Click();
}

void Form1::endTick()
{
    PollIdle = true;
    Shape1->setFillColor(vbColor(0x008000));
    Shape1->repaint();
}

void Form1::showCommError(const QString &title)
{
    m_messages.MsgBox(title + QStringLiteral("\r\n") + RxBuffer());
}

void Form1::STA_translate(const QString &STAT)
{
    if (STAT == QLatin1String("ER") || STAT.size() > 4)
        return;
    const std::optional<std::int16_t> word = hexWord(STAT);
    if (!word)
        return;

    const StatusLamps lamps = decodeStatusWord(*word);
    const auto colour = [](bool red) { return red ? LampRed : LampGreen; };
    for (int i = 0; i < 5; ++i)
        ShapeALM[i]->setFillColor(colour(lamps.alarmRed[i]));
    for (int i = 0; i < 5; ++i)
        lightDI[i]->setFillColor(colour(lamps.inputRed[i]));
    for (int i = 0; i < 3; ++i)
        lightDO[i]->setFillColor(colour(lamps.outputRed[i]));
    ServoOn = lamps.servoOn;
    DI1On = lamps.di1On;
}

void Form1::cmdStart_Click()
{
    ScopeRunning = true;
    cmdStart->setEnabled(false);
    cmdStop->setEnabled(true);
}

void Form1::cmdStop_Click()
{
    ScopeRunning = false;
    // Without a set-up for the channels ticked now, a capture would decode the record with
    // settings the drive was never given.
    cmdStart->setEnabled(m_setupValid);
    cmdStop->setEnabled(false);
}
