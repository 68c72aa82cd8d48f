// The poll tick and the status lamps.
#include "Form1.h"

#include "Lamp.h"
#include "MessageSink.h"
#include "ReplyValue.h"
#include "SerialPort.h"
#include "StatusWord.h"
#include "VbStyle.h"

#include <QCoreApplication>
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

void Form1::Timer1_Timer()
{
    // Setting the interval restarts the timer, and the tick processes events: without this
    // a second tick could run inside the first and interleave its exchanges.
    if (m_inTick || m_scanning || m_tuning)
        return;
    m_inTick = true;

    PollIdle = false;
    Timer1->setInterval(ScopeRunning ? 2500 : 1500);
    QCoreApplication::processEvents();

    // Stop pressed during the event processing: nothing left to poll.
    if (MSComm1.isOpen()) {
        const bool captured = !(ScopeRunning && !DriveNotReady) || runCapture();
        // The capture processes events too: Stop may have closed the port meanwhile.
        if (captured && MSComm1.isOpen())
            pollStatus();
    }
    endTick();
    m_inTick = false;
}

bool Form1::pollStatus()
{
    for (int n = 0; n <= 6; ++n) {
        RxValue.clear();
        const bool ok = CommDone() && SendCmdLong(QStringLiteral("RV ") + QString::number(n));
        const std::optional<QString> value = ok ? variableValue(RxBuffer()) : std::nullopt;
        QLineEdit *box = txtRG[n + 1];
        if (!value) {
            box->setText(QStringLiteral("ER"));
            setForeColor(box, TextRed);
            showCommError(QStringLiteral("Communication error"));
            return false;
        }
        RxValue = *value;
        box->setText(RxValue);
        setForeColor(box, TextBlack);
    }

    RxValue.clear();
    const bool ok = CommDone() && SendCmdLong(QStringLiteral("RV 8"));
    // A garbled status word is no status word: lamps and flags keep their state.
    const std::optional<std::int16_t> word = ok ? hexWord(RxBuffer()) : std::nullopt;
    if (!word) {
        showCommError(QStringLiteral("Communication error"));
        return false;
    }
    RxValue = RxBuffer().left(4);
    STA_translate(RxValue);

    const bool motionAllowed = ServoOn && !DI1On;
    FrameMotion->setEnabled(motionAllowed);
    cmdSetMotion->setEnabled(motionAllowed);

    DriveNotReady = !driveReady(*word);

    if (MotionMode == 1)
        cmdStop_Click();
    return true;
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
